// What the FFmpeg filter tests share: filters from the catalogue, their pins,
// a sink that keeps what it is given, and the ThreadSanitizer suppressions for FFmpeg (include once per test
// program).
#pragma once

#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Uuids.h"
#include "platform/dshow/Renderer.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

// FFmpeg is not built for ThreadSanitizer: the atomics its frame threads and
// buffer pools synchronise with are invisible to it.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libavcodec.so\nrace:libavutil.so\n";
}

namespace filtertest {

inline ComPtr<IBaseFilter> Create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     f.ReleaseAndGetVoidAddress()));
    return f;
}

// A graph without a clock: every sample is presented as it comes.
inline ComPtr<IGraphBuilder> ClocklessGraph()
{
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.ReleaseAndGetVoidAddress()));
    if (graph)
        ComQuery<IMediaFilter>(graph)->SetSyncSource(nullptr);
    return graph;
}

inline std::vector<ComPtr<IPin>> Pins(IBaseFilter *f)
{
    std::vector<ComPtr<IPin>> out;
    ComPtr<IEnumPins> e;
    if (!f || FAILED(f->EnumPins(e.ReleaseAndGetAddressOf())))
        return out;
    ComPtr<IPin> pin;
    while (e->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        out.push_back(pin);
    return out;
}

// Pin n, or null; the filter keeps its pins alive.
inline IPin *Pin(IBaseFilter *f, int n)
{
    const auto pins = Pins(f);
    return n >= 0 && n < int(pins.size()) ? pins[size_t(n)].Get() : nullptr;
}

inline constexpr CLSID CLSID_KeepingSink{0x7E57F0FF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0x21}};

// Keeps what it is given: each sample's bytes and start time, and the type.
class KeepingSink : public CBaseRenderer {
public:
    // GUID_NULL: any.
    explicit KeepingSink(GUID subtype = GUID_NULL, GUID format = GUID_NULL, GUID major = GUID_NULL)
        : CBaseRenderer(CLSID_KeepingSink, L"Sink"), m_major(major), m_subtype(subtype), m_format(format)
    {
    }
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        const auto differs = [](REFGUID want, REFGUID have) { return want != GUID_NULL && want != have; };
        if (differs(m_major, pmt->Type()) || differs(m_subtype, pmt->Subtype())
            || differs(m_format, pmt->FormatType()))
            return VFW_E_TYPE_NOT_ACCEPTED;
        type = *pmt;
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample *s) override
    {
        BYTE *p = nullptr;
        s->GetPointer(&p);
        REFERENCE_TIME t0 = -1, t1 = -1;
        s->GetTime(&t0, &t1);
        std::lock_guard lock(m_lock);
        samples.push_back({std::vector<BYTE>(p, p + s->GetActualDataLength()), t0});
        return S_OK;
    }
    void OnReceiveFirstSample(IMediaSample *) override {}
    struct Kept {
        std::vector<BYTE> bytes;
        REFERENCE_TIME start;
    };
    std::vector<Kept> Samples()
    {
        std::lock_guard lock(m_lock);
        return samples;
    }
    void Clear()
    {
        std::lock_guard lock(m_lock);
        samples.clear();
    }
    CMediaType type;

private:
    const GUID m_major, m_subtype, m_format;
    std::mutex m_lock;
    std::vector<Kept> samples;
};

} // namespace filtertest
