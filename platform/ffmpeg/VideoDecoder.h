// Video decoders on libavcodec: compressed video in (the types the splitter
// offers), decoded pictures out as I420, YV12 or NV12 when downstream takes
// them, RGB32 otherwise. The output type carries the input's frame duration
// and picture aspect (VIDEOINFOHEADER2).
//
// Every decoded picture (CodecFilter.h) goes out stamped with its
// presentation time (the decoder's best-effort timestamp of the input times;
// for input stamped in decoding order, SampleTimeOrder.h). A picture is kept
// until the next one is decoded, so that its stop time is the next one's
// start when that comes first: frame durations rounded to 100 ns (333667 at
// 29.97 fps) would otherwise end a picture after the next began, and an
// exact seek to a picture's own time would show the one before. Pictures
// that end before the segment starts (preroll) are decoded, so the next ones
// can be, but not delivered. End of stream drains the decoder and delivers
// the kept picture; a flush empties both.
//
// Threads: as CCodecFilter.
#pragma once

#include "platform/ffmpeg/CodecFilter.h"

class CVideoDecoder : public CCodecFilter {
public:
    // threads: 1 decodes on the streaming thread alone; more uses libavcodec's
    // frame threads.
    CVideoDecoder(LPCWSTR name, REFCLSID clsid, int threads);
    ~CVideoDecoder() override;

    HRESULT CheckInputType(const CMediaType *mtIn) override;
    HRESULT CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt) override;
    HRESULT StartStreaming() override;

    // State lock, before streaming starts: the threads of the next stream.
    void SetThreadCount(int threads) { m_threads = threads; }

private:
    void Configure(AVCodecContext *codec) override;
    void Stamp(IMediaSample *sample, AVPacket *packet) override;
    HRESULT DeliverFrame(const AVFrame *frame) override;
    HRESULT DeliverKept() override;
    void ResetKept() override;
    HRESULT WritePicture(const AVFrame *frame, BYTE *dst, LONG size);
    REFERENCE_TIME PictureStart(const AVFrame *frame, REFERENCE_TIME duration) const;

    int m_threads;  // state lock
    GUID m_outSubtype = GUID_NULL;  // state lock (connection)
    int m_outWidth = 0, m_outHeight = 0;

    // Streaming lock.
    ffmpeg::SwsPtr m_sws;
    bool m_decodingOrder = false;  // input stamped with decoding times
    ComPtr<IMediaSample> m_kept;   // the last picture, its stop not final yet
};

// The output types a decoder offers for a decoded picture of w x h.
CMediaType DecodedVideoType(REFGUID subtype, int width, int height, REFERENCE_TIME frameDuration,
                            int aspectX, int aspectY);
