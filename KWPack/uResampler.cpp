#include "KWPack/uResampler.h"

#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// A format block we can read 16-bit frames from: mono or stereo only when
// the frames are to be interpolated; a channel count that does not match
// the block alignment would make every frame read the wrong bytes.
bool UsablePcm16(const WAVEFORMATEX *wf, bool interpolating)
{
    if (!wf || wf->wFormatTag != WAVE_FORMAT_PCM || wf->wBitsPerSample != 16)
        return false;
    if (wf->nSamplesPerSec == 0 || wf->nSamplesPerSec > 768000 || wf->nChannels == 0)
        return false;
    if (wf->nBlockAlign != wf->nChannels * 2)
        return false;
    return !interpolating || wf->nChannels <= 2;
}

bool IsPcmType(const CMediaType *mt)
{
    return mt && mt->Type() == MEDIATYPE_Audio && mt->Subtype() == MEDIASUBTYPE_PCM
        && mt->FormatType() == FORMAT_WaveFormatEx;
}

int16_t Interpolate(int16_t a, int16_t b, double x)
{
    return int16_t(std::lround((1.0 - x) * a + x * b));
}

void Put16(BYTE *at, int16_t v) { std::memcpy(at, &v, 2); }

} // namespace

TResampler::TResampler() : CTransformFilter(L"Vostrel's Resampler", CLSID_VostrelResampler) {}

bool TResampler::RateInRange(int64_t rate) { return rate > 0 && rate <= 768000; }

HRESULT TResampler::SetOutputRate(int rate)
{
    if (!RateInRange(rate))
        return E_INVALIDARG;
    if (OutputPin()->IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    FOutputRate = rate;
    return S_OK;
}

HRESULT TResampler::SetOutputChannels(int channels)
{
    if (channels != 1 && channels != 2)
        return E_INVALIDARG;
    if (OutputPin()->IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    FOutputChannels = channels;
    return S_OK;
}

HRESULT TResampler::SetResampling(bool on)
{
    if (OutputPin()->IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    FResampling = on;
    return S_OK;
}

// ---- Types ------------------------------------------------------------------------

HRESULT TResampler::CheckInputType(const CMediaType *mtIn)
{
    if (!IsPcmType(mtIn) || !UsablePcm16(mtIn->FormatAs<WAVEFORMATEX>(), FResampling))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT TResampler::CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut)
{
    if (!mtIn || !mtOut || mtIn->Type() != mtOut->Type() || mtIn->Subtype() != mtOut->Subtype()
        || mtIn->FormatType() != mtOut->FormatType())
        return VFW_E_TYPE_NOT_ACCEPTED;
    // The output is written as 16-bit mono or stereo; copied unchanged, it
    // must say what the input says.
    const WAVEFORMATEX *in = mtIn->FormatAs<WAVEFORMATEX>();
    const WAVEFORMATEX *out = mtOut->FormatAs<WAVEFORMATEX>();
    if (!IsPcmType(mtOut) || !UsablePcm16(out, true) || !in)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (!FResampling && (in->nSamplesPerSec != out->nSamplesPerSec || in->nChannels != out->nChannels))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT TResampler::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    *pMediaType = InputPin()->CurrentMediaType();
    if (!FResampling)
        return S_OK;
    WAVEFORMATEX *wf = pMediaType->FormatAs<WAVEFORMATEX>();
    if (!wf)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const int channels = FOutputChannels;
    const int rate = FOutputRate;
    wf->nSamplesPerSec = DWORD(rate);
    wf->nChannels = WORD(channels);
    wf->wBitsPerSample = 16;
    wf->nBlockAlign = WORD(channels * 2);
    wf->nAvgBytesPerSec = DWORD(channels * 2 * rate);
    // A PCM sample size is the block alignment.
    pMediaType->SetSampleSize(ULONG(channels * 2));
    return S_OK;
}

HRESULT TResampler::DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp)
{
    IMemAllocator *inAlloc = InputPin()->PeekAllocator();
    if (!inAlloc || FInRate <= 0 || FInChannels <= 0)
        return VFW_E_NO_ALLOCATOR;
    ALLOCATOR_PROPERTIES in{};
    HRESULT hr = inAlloc->GetProperties(&in);
    if (FAILED(hr))
        return hr;
    // What one input buffer becomes at the output's rate and channels, with
    // room for the frames a phase and a kept frame add; 64-bit, as a large
    // buffer times a high rate overflows 32 bits.
    const int64_t outRate = FResampling ? FOutputRate.load() : FInRate;
    const int64_t outChannels = FResampling ? FOutputChannels.load() : FInChannels;
    int64_t size = outChannels * in.cbBuffer * outRate / (int64_t(FInChannels) * FInRate) + 256;
    size = std::clamp<int64_t>(size, in.cbBuffer, std::numeric_limits<LONG>::max());
    pProp->cBuffers = std::max<LONG>(pProp->cBuffers, 2);
    pProp->cbBuffer = std::max<LONG>(pProp->cbBuffer, LONG(size));
    pProp->cbAlign = std::max<LONG>(pProp->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    hr = pAlloc->SetProperties(pProp, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < in.cbBuffer ? E_FAIL : S_OK;
}

HRESULT TResampler::SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt)
{
    const WAVEFORMATEX *wf = pmt ? pmt->FormatAs<WAVEFORMATEX>() : nullptr;
    if (!wf)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (direction == PINDIR_OUTPUT) {
        FOutputRate = int(wf->nSamplesPerSec);
        FOutputChannels = int(wf->nChannels);
        FRate = FOutputRate;
        FChannels = FOutputChannels;
        UpdateSteps();
        return S_OK;
    }
    // A new input type, at connection or brought by a sample: the frames
    // kept and the carry belong to the old one.
    FInRate = int(wf->nSamplesPerSec);
    FInChannels = int(wf->nChannels);
    ResetStream();
    return S_OK;
}

// ---- Streaming --------------------------------------------------------------------

void TResampler::ResetStream()
{
    FPhase = 0;
    FHaveB = false;
    FReadState = ReadState::LoadA;
    FCarry = 0;
    FPos = 0;
    FDiscontinuity = false;
    FFramesIn = 0;
    FFramesOut = 0;
    UpdateSteps();
}

void TResampler::UpdateSteps()
{
    if (FRate <= 0 || FInRate <= 0) {
        FIntStep = FFracStep = 0;
        return;
    }
    FIntStep = FInRate / FRate;
    FFracStep = FInRate % FRate;
    FPhase = std::min(FPhase, FRate - 1);
}

HRESULT TResampler::StartStreaming()
{
    FRate = FOutputRate;
    FChannels = FOutputChannels;
    FResample = FResampling;
    ResetStream();
    return S_OK;
}

HRESULT TResampler::EndFlush()
{
    {
        // The flush released the streaming thread: what it kept belongs to
        // the stream before the seek.
        CAutoLock lock(m_csReceive);
        ResetStream();
    }
    return CTransformFilter::EndFlush();
}

HRESULT TResampler::Receive(IMediaSample *pSample)
{
    CAutoLock lock(m_csReceive);
    m_pInput->ApplySampleType(pSample);
    REFERENCE_TIME t0 = 0, t1 = 0;
    const bool timed = SUCCEEDED(pSample->GetTime(&t0, &t1));
    FPos = FCarry;
    FInputDone = false;
    FWrittenThisSample = 0;
    HRESULT hr = S_OK;
    do {
        ComPtr<IMediaSample> out;
        hr = InitializeOutputSample(pSample, out.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
        if (FWrittenThisSample > 0 && timed) {
            // A continuation buffer starts where the frames before it end.
            REFERENCE_TIME start = t0 + FWrittenThisSample * 10000000 / FRate;
            out->SetTime(&start, &t1);
            out->SetDiscontinuity(FALSE);
        }
        FDiscontinuity = FDiscontinuity || out->IsDiscontinuity() == S_OK;
        hr = Transform(pSample, out.Get());
        if (hr == S_OK && out->GetActualDataLength() == 0)
            continue;  // all of it went into the kept frame or the carry
        out->SetDiscontinuity(FDiscontinuity);
        FDiscontinuity = false;
        hr = DeliverTransformed(hr, out.Get());
    } while (SUCCEEDED(hr) && !FInputDone);
    return hr;
}

HRESULT TResampler::Transform(IMediaSample *pIn, IMediaSample *pOut)
{
    CritCheckIn(m_csReceive);
    return FResample ? Resample(pIn, pOut) : Copy(pIn, pOut);
}

HRESULT TResampler::Copy(IMediaSample *pIn, IMediaSample *pOut)
{
    FInputDone = true;
    const LONG length = pIn->GetActualDataLength();
    if (length > pOut->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    BYTE *src = nullptr, *dst = nullptr;
    pIn->GetPointer(&src);
    pOut->GetPointer(&dst);
    if (length > 0)
        std::memcpy(dst, src, size_t(length));
    CopySampleProperties(pIn, pOut, true);
    // Copied bytes keep their type: a change that came with the input goes on.
    AM_MEDIA_TYPE *type = nullptr;
    if (pIn->GetMediaType(&type) == S_OK && type) {
        pOut->SetMediaType(type);
        DeleteMediaType(type);
    }
    const int block = std::max(FInChannels * 2, 1);
    FFramesIn += length / block;
    FFramesOut += length / block;
    return S_OK;
}

TResampler::Frame TResampler::ReadFrame(const BYTE *at) const
{
    Frame f;
    std::memcpy(&f.left, at, 2);
    if (FInChannels == 2)
        std::memcpy(&f.right, at + 2, 2);
    else
        f.right = f.left;
    return f;
}

void TResampler::WriteFrame(BYTE *at) const
{
    const double x = double(FPhase) / FRate;
    const int16_t left = Interpolate(FA.left, FB.left, x);
    const int16_t right = FInChannels == 2 ? Interpolate(FA.right, FB.right, x) : left;
    if (FChannels == 2) {
        Put16(at, left);
        Put16(at + 2, right);
    } else {
        Put16(at, int16_t((int(left) + int(right)) / 2));  // toward zero
    }
}

// One output frame at a time: load A, load B (the frame after A), write,
// step on by the integer step plus one whenever the phase wraps.
HRESULT TResampler::Resample(IMediaSample *pIn, IMediaSample *pOut)
{
    const int64_t in = FInChannels * 2, out = FChannels * 2;
    const int64_t length = pIn->GetActualDataLength();
    if (length % in != 0) {
        FInputDone = true;
        return VFW_E_BADALIGN;  // a torn frame: the stream is not whole frames
    }
    BYTE *src = nullptr, *dst = nullptr;
    pIn->GetPointer(&src);
    pOut->GetPointer(&dst);
    const int64_t room = pOut->GetSize();
    int64_t pos = FPos, written = 0;
    for (;;) {
        if (FReadState == ReadState::LoadA) {
            if (length - pos < in)
                break;
            FA = ReadFrame(src + pos);
            FHaveB = false;
            const bool plain = FPhase == 0 && FInChannels == 2 && FChannels == 2;
            FReadState = plain ? ReadState::Ready : ReadState::LoadB;
        } else if (FReadState == ReadState::LoadB) {
            if (length - pos < 2 * in)
                break;  // B comes with the next sample; A is kept
            FB = ReadFrame(src + pos + in);
            FHaveB = true;
            FReadState = ReadState::Ready;
        } else {
            if (room - written < out)
                break;
            WriteFrame(dst + written);
            written += out;
            FPhase += FFracStep;
            const int extra = FPhase >= FRate ? 1 : 0;
            FPhase -= extra * FRate;
            const int64_t advance = FIntStep + extra;
            pos += advance * in;
            if (advance > 0)
                FReadState = ReadState::LoadA;
            else if (!FHaveB)
                FReadState = ReadState::LoadB;  // the phase moved off A: B is needed now
        }
    }
    pOut->SetActualDataLength(LONG(written));
    if (FReadState == ReadState::Ready && written == 0)
        return VFW_E_BUFFER_OVERFLOW;  // not one frame fits: never spin on it
    FWrittenThisSample += written / out;
    FFramesOut += written / out;
    FInputDone = FReadState != ReadState::Ready;
    if (FInputDone) {
        FCarry = pos - length;  // below 0 only by the kept frame A
        FFramesIn += length / in;
    } else {
        FPos = pos;
    }
    return S_OK;
}
