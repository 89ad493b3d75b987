// A push source for renderer tests: one output pin of a given media type
// whose samples the test fills and delivers itself (from any one thread at
// a time), and media types for the renderers.
#pragma once

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/Pins.h"
#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace rendertest {

inline constexpr CLSID CLSID_PushSource{0x7E57F002, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

class PushSource : public CBaseFilter {
public:
    class Pin : public CBaseOutputPin {
    public:
        Pin(PushSource *f, CCritSec *lock) : CBaseOutputPin(f, lock, L"Out") {}
        HRESULT CheckMediaType(const CMediaType *pmt) override { return *pmt == type ? S_OK : S_FALSE; }
        HRESULT GetMediaType(int i, CMediaType *pmt) override
        {
            if (i != 0)
                return i < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
            *pmt = type;
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator *a, ALLOCATOR_PROPERTIES *p) override
        {
            p->cBuffers = std::max<LONG>(p->cBuffers, 3);
            p->cbBuffer = std::max<LONG>(p->cbBuffer, bufferSize);
            ALLOCATOR_PROPERTIES got{};
            return a->SetProperties(p, &got);
        }
        CMediaType type;
        LONG bufferSize = 4096;
    };

    explicit PushSource(CMediaType type, LONG bufferSize = 4096)
        : CBaseFilter(L"Push Source", &m_lock, CLSID_PushSource), pin(this, &m_lock)
    {
        pin.type = std::move(type);
        pin.bufferSize = bufferSize;
    }
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? &pin : nullptr; }

    // A sample holding `bytes` at [start, stop) (no times when start < 0).
    HRESULT Push(const std::vector<BYTE> &bytes, REFERENCE_TIME start = -1, REFERENCE_TIME stop = -1,
                 bool preroll = false)
    {
        ComPtr<IMediaSample> s;
        HRESULT hr = pin.GetDeliveryBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        BYTE *p = nullptr;
        s->GetPointer(&p);
        const size_t n = std::min(bytes.size(), size_t(s->GetSize()));
        std::memcpy(p, bytes.data(), n);
        s->SetActualDataLength(static_cast<LONG>(n));
        if (start >= 0)
            s->SetTime(&start, &stop);
        s->SetPreroll(preroll);
        return pin.Deliver(s.Get());
    }

    CCritSec m_lock;
    Pin pin;
};

// Video of width x height in `subtype`, FORMAT_VideoInfo (height < 0: a
// top-down RGB picture).
inline CMediaType VideoType(REFGUID subtype, LONG width, LONG height, WORD bits)
{
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = bits;
    vih.bmiHeader.biCompression = subtype == MEDIASUBTYPE_RGB32 ? BI_RGB : subtype.Data1;
    CMediaType mt(MEDIATYPE_Video, subtype, FORMAT_VideoInfo);
    mt.SetFormat(vih);
    return mt;
}

inline CMediaType PcmType(DWORD rate, WORD channels, WORD bits = 16)
{
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    wfx.wBitsPerSample = bits;
    wfx.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    wfx.nAvgBytesPerSec = rate * wfx.nBlockAlign;
    CMediaType mt(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    mt.SetFormat(wfx);
    return mt;
}

} // namespace rendertest
