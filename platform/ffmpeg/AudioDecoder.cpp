#include "platform/ffmpeg/AudioDecoder.h"

#include "platform/ffmpeg/FFmpegFilters.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>

using namespace ffmpeg;

CMediaType PcmAudioType(int rate, int channels)
{
    CMediaType mt(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = static_cast<WORD>(channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(rate);
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = static_cast<WORD>(2 * channels);
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    mt.SetFormat(wfx);
    mt.SetSampleSize(wfx.nBlockAlign);
    return mt;
}

CAudioDecoder::CAudioDecoder() : CCodecFilter(L"Vidstill Audio Decoder", CLSID_VidstillAudioDecoder) {}

CAudioDecoder::~CAudioDecoder() = default;

HRESULT CAudioDecoder::CheckInputType(const CMediaType *mtIn)
{
    DecoderInput in;
    if (!ParseAudioType(*mtIn, &in) || !avcodec_find_decoder(in.codec) || in.channels > 8)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CAudioDecoder::CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut)
{
    DecoderInput in;
    if (!ParseAudioType(*mtIn, &in))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const CMediaType want = PcmAudioType(in.sampleRate, in.channels);
    return *mtOut == want ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAudioDecoder::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    *pMediaType = PcmAudioType(m_in.sampleRate, m_in.channels);
    return S_OK;
}

HRESULT CAudioDecoder::SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt)
{
    if (direction == PINDIR_INPUT) {
        m_in = DecoderInput();
        return ParseAudioType(*pmt, &m_in) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

// Half a second of output: more than any decoded frame.
LONG CAudioDecoder::BufferBytes() const
{
    return std::max(m_in.sampleRate * m_in.channels, 65536);
}

HRESULT CAudioDecoder::DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp)
{
    pProp->cBuffers = std::max<LONG>(pProp->cBuffers, 8);
    pProp->cbBuffer = std::max(pProp->cbBuffer, BufferBytes());
    pProp->cbAlign = std::max<LONG>(pProp->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pProp, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < BufferBytes() ? E_FAIL : S_OK;
}

void CAudioDecoder::Configure(AVCodecContext *codec)
{
    codec->sample_rate = m_in.sampleRate;
    av_channel_layout_default(&codec->ch_layout, m_in.channels);
    codec->block_align = m_in.blockAlign;
    codec->bits_per_coded_sample = m_in.bitsPerSample;
    codec->bit_rate = m_in.bitRate;
}

void CAudioDecoder::Stamp(IMediaSample *sample, AVPacket *packet)
{
    REFERENCE_TIME t0 = 0, t1 = 0;
    packet->pts = SUCCEEDED(sample->GetTime(&t0, &t1)) ? t0 : AV_NOPTS_VALUE;
}

HRESULT CAudioDecoder::DeliverFrame(const AVFrame *frame)
{
    if (!m_swr) {
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, m_in.channels);
        AVChannelLayout inLayout{};
        av_channel_layout_copy(&inLayout, &frame->ch_layout);
        SwrContext *raw = nullptr;
        const int made = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, m_in.sampleRate, &inLayout,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        m_swr.reset(raw);
        if (made < 0) {
            m_swr.reset();
            return S_OK;
        }
        if (swr_init(m_swr.get()) < 0) {
            m_swr.reset();
            return S_OK;
        }
    }
    ComPtr<IMediaSample> out;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(out.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    BYTE *dst = nullptr;
    out->GetPointer(&dst);
    const int capacity = out->GetSize() / (2 * m_in.channels);
    const int samples = swr_convert(m_swr.get(), &dst, capacity, const_cast<const uint8_t **>(frame->extended_data),
                                    frame->nb_samples);
    if (samples <= 0)
        return S_OK;
    REFERENCE_TIME t0 = frame->best_effort_timestamp;
    if (t0 == AV_NOPTS_VALUE)
        t0 = m_nextTime;
    REFERENCE_TIME t1 = t0 + av_rescale(samples, UNITS, m_in.sampleRate);
    m_nextTime = t1;
    out->SetActualDataLength(samples * 2 * m_in.channels);
    out->SetTime(&t0, &t1);
    out->SetSyncPoint(TRUE);
    out->SetPreroll(t1 <= 0);
    out->SetDiscontinuity(m_discontinuity);
    m_discontinuity = false;
    return m_pOutput->Deliver(out.Get());
}

