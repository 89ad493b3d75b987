#include "platform/ffmpeg/CodecFilter.h"

using namespace ffmpeg;

HRESULT CCodecFilter::StartStreaming()
{
    HRESULT hr = S_OK;
    CodecPtr codec = AllocDecoder(m_in, &hr);
    if (!codec)
        return hr;
    Configure(codec.get());
    if (avcodec_open2(codec.get(), codec->codec, nullptr) < 0)
        return VFW_E_NO_DECOMPRESSOR;
    m_codec = std::move(codec);
    m_frame = MakeFrame();
    m_nextTime = 0;
    m_discontinuity = true;
    return S_OK;
}

HRESULT CCodecFilter::StopStreaming()
{
    m_codec.reset();
    m_frame.reset();
    ResetKept();
    return S_OK;
}

HRESULT CCodecFilter::Receive(IMediaSample *pSample)
{
    CAutoLock lock(m_csReceive);
    if (!m_codec)
        return VFW_E_WRONG_STATE;
    m_pInput->ApplySampleType(pSample);
    HRESULT hr = S_OK;
    PacketPtr packet = PacketFromSample(pSample, &hr);
    if (!packet)
        return hr;
    Stamp(pSample, packet.get());
    if (pSample->IsDiscontinuity() == S_OK)
        m_discontinuity = true;
    if (!Admit(packet.get()))
        return S_OK;
    return Decode(packet.get());
}

HRESULT CCodecFilter::Decode(const AVPacket *packet)
{
    return DecodePacket(m_codec.get(), m_frame.get(), packet, [this](const AVFrame *f) { return DeliverFrame(f); });
}

HRESULT CCodecFilter::EndOfStream()
{
    CAutoLock lock(m_csReceive);
    if (m_codec) {
        BeforeDrain();
        Decode(nullptr);
        avcodec_flush_buffers(m_codec.get());
        DeliverKept();
    }
    return m_pOutput->DeliverEndOfStream();
}

HRESULT CCodecFilter::EndFlush()
{
    {
        // The upstream thread is out of Receive by now: the flush released it.
        CAutoLock lock(m_csReceive);
        ResetKept();
        if (m_codec)
            FlushCodec();
        m_nextTime = 0;  // untimed frames now belong to the new segment
        m_discontinuity = true;
    }
    return CTransformFilter::EndFlush();
}
