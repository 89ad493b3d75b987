// The audio decoder on libavcodec: compressed audio (WAVEFORMATEX types from
// the splitter) in, 16-bit interleaved PCM out at the input's rate and
// channel count (libswresample converts). Times are the decoded frames'
// presentation times; frames ending before the segment start are preroll.
//
// Threads: as CTransformFilter; the codec and resampler live between
// StartStreaming and StopStreaming, used under the streaming lock.
#pragma once

#include "platform/dshow/TransformFilter.h"
#include "platform/ffmpeg/FFmpegCommon.h"

class CAudioDecoder final : public CTransformFilter {
public:
    CAudioDecoder();
    ~CAudioDecoder() override;

    HRESULT CheckInputType(const CMediaType *mtIn) override;
    HRESULT CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Transform(IMediaSample *, IMediaSample *) override { return E_UNEXPECTED; }

    HRESULT Receive(IMediaSample *pSample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;

private:
    HRESULT Decode(const AVPacket *packet);
    HRESULT DeliverFrame(const AVFrame *frame);
    LONG BufferBytes() const;

    ffmpeg::DecoderInput m_in;  // state lock (connection)

    // Streaming lock.
    ffmpeg::CodecPtr m_codec;
    ffmpeg::FramePtr m_frame;
    ffmpeg::SwrPtr m_swr;
    REFERENCE_TIME m_nextTime = 0;
    bool m_discontinuity = true;
};

// 16-bit PCM at `rate` with `channels`.
CMediaType PcmAudioType(int rate, int channels);
