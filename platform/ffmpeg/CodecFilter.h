// What the libavcodec decoder filters share: the codec context's life from
// StartStreaming to StopStreaming, Receive replaced so that each input
// sample goes to the decoder and every frame that comes out is delivered on
// its own (one sample may give none or several), end of stream draining the
// decoder, and a flush emptying it and starting the time guess for untimed
// frames again at the new segment's start.
//
// Threads: as CTransformFilter. The codec context is used under the
// streaming lock (Receive, EndOfStream, EndFlush).
#pragma once

#include "platform/dshow/TransformFilter.h"
#include "platform/ffmpeg/FFmpegCommon.h"

class CCodecFilter : public CTransformFilter {
public:
    CCodecFilter(LPCWSTR name, REFCLSID clsid) : CTransformFilter(name, clsid) {}

    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Transform(IMediaSample *, IMediaSample *) override { return E_UNEXPECTED; }
    HRESULT Receive(IMediaSample *pSample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;

protected:
    // Codec fields beyond the extradata, before the context opens.
    virtual void Configure(AVCodecContext *codec) = 0;
    // The sample's times and flags on its packet.
    virtual void Stamp(IMediaSample *sample, AVPacket *packet) = 0;
    // One decoded frame out; S_OK to go on.
    virtual HRESULT DeliverFrame(const AVFrame *frame) = 0;
    // End of stream, after draining: what DeliverFrame still keeps goes out.
    virtual HRESULT DeliverKept() { return S_OK; }
    // What is kept between frames (conversions, a frame not yet delivered)
    // is dropped (stop, flush).
    virtual void ResetKept() {}
    // After Stamp: false leaves the packet undecoded.
    virtual bool Admit(AVPacket *) { return true; }
    // A flush ended: the decoder's state goes (a filter may put that off
    // until it sees what comes next).
    virtual void FlushCodec() { avcodec_flush_buffers(m_codec.get()); }
    // Before end of stream drains the decoder.
    virtual void BeforeDrain() {}

    ffmpeg::DecoderInput m_in;  // state lock (connection)

    // Streaming lock.
    ffmpeg::CodecPtr m_codec;
    ffmpeg::FramePtr m_frame;
    REFERENCE_TIME m_nextTime = 0;  // for frames without a timestamp; 0 is the segment's start
    bool m_discontinuity = true;

    // Streaming lock: one packet into the decoder (null: drain), every frame
    // out delivered.
    HRESULT Decode(const AVPacket *packet);
};
