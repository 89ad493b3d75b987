// The audio decoder on libavcodec: compressed audio (WAVEFORMATEX types from
// the splitter) in, 16-bit interleaved PCM out at the input's rate and
// channel count (libswresample converts). Times are the decoded frames'
// presentation times; frames ending before the segment start are preroll.
//
// Threads: as CCodecFilter; the resampler lives with the codec context.
#pragma once

#include "platform/ffmpeg/CodecFilter.h"

class CAudioDecoder : public CCodecFilter {
public:
    CAudioDecoder();
    CAudioDecoder(LPCWSTR name, REFCLSID clsid) : CCodecFilter(name, clsid) {}
    ~CAudioDecoder() override;

    HRESULT CheckInputType(const CMediaType *mtIn) override;
    HRESULT CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt) override;

private:
    void Configure(AVCodecContext *codec) override;
    void Stamp(IMediaSample *sample, AVPacket *packet) override;
    HRESULT DeliverFrame(const AVFrame *frame) override;
    void ResetKept() override { m_swr.reset(); }
    LONG BufferBytes() const;

    ffmpeg::SwrPtr m_swr;  // streaming lock
};

// 16-bit PCM at `rate` with `channels`.
CMediaType PcmAudioType(int rate, int channels);
