// Video decoders on libavcodec: compressed video in (the types the splitter
// offers), decoded pictures out as I420, YV12 or NV12 when downstream takes
// them, RGB32 otherwise. The output type carries the input's frame duration
// and picture aspect (VIDEOINFOHEADER2).
//
// One input sample may give no picture or several (reordering): Receive is
// replaced so that every decoded picture goes out on its own, stamped with
// its presentation time (the decoder's best-effort timestamp of the input
// times; for input stamped in decoding order, SampleTimeOrder.h), and marked preroll when it ends before the segment start. End of
// stream drains the decoder; a flush empties it.
//
// Threads: as CTransformFilter. The codec context lives between
// StartStreaming and StopStreaming and is used under the streaming lock
// (Receive, EndOfStream, EndFlush).
#pragma once

#include "platform/dshow/TransformFilter.h"
#include "platform/ffmpeg/FFmpegCommon.h"

class CVideoDecoder final : public CTransformFilter {
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
    HRESULT StopStreaming() override;
    HRESULT Transform(IMediaSample *, IMediaSample *) override { return E_UNEXPECTED; }

    HRESULT Receive(IMediaSample *pSample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;

private:
    HRESULT Decode(const AVPacket *packet);
    HRESULT DeliverFrame(const AVFrame *frame);
    HRESULT WritePicture(const AVFrame *frame, BYTE *dst, LONG size);

    const int m_threads;
    ffmpeg::DecoderInput m_in;     // state lock (connection)
    GUID m_outSubtype = GUID_NULL;  // state lock (connection)
    int m_outWidth = 0, m_outHeight = 0;

    // Streaming lock.
    ffmpeg::CodecPtr m_codec;
    ffmpeg::FramePtr m_frame;
    ffmpeg::SwsPtr m_sws;
    bool m_decodingOrder = false;  // input stamped with decoding times
    REFERENCE_TIME m_nextTime = 0;  // for pictures without a timestamp
    bool m_discontinuity = true;
};

// The output types a decoder offers for a decoded picture of w x h.
CMediaType DecodedVideoType(REFGUID subtype, int width, int height, REFERENCE_TIME frameDuration,
                            int aspectX, int aspectY);
