// Small synthetic filters for testing the media graph engine and the filters
// built on it:
//   FrameSource     a push source of numbered, time-stamped frames with a
//                   key frame every N, that can seek;
//   DroppingFilter  an in-place filter that drops chosen frames;
//   TestRenderer    a renderer that records what it presented and when;
//   FilterHarness   a one-filter harness: push samples into a filter's input,
//                   collect what comes out of its output;
// and CManualClock (platform/dshow/RefClock.h) drives time by hand.
//
// A frame's payload starts with its index (int32). Waits are bounded: they
// return false after kWait instead of hanging.
#pragma once

#include "platform/dshow/Renderer.h"
#include "platform/dshow/RefClock.h"
#include "platform/dshow/SourceSeeking.h"
#include "platform/dshow/TransInPlace.h"
#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace graphtest {

using namespace std::chrono_literals;
inline constexpr auto kWait = 5s;

inline constexpr CLSID CLSID_FrameSource{0x7E57F001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
inline constexpr CLSID CLSID_DroppingFilter{0x7E57F001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
inline constexpr CLSID CLSID_TestRenderer{0x7E57F001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
inline constexpr CLSID CLSID_HarnessEnds{0x7E57F001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 4}};

inline constexpr REFERENCE_TIME kFrame = 400000;  // 25 frames per second

inline int FrameIndex(IMediaSample *s)
{
    BYTE *p = nullptr;
    s->GetPointer(&p);
    int32_t index = -1;
    if (s->GetActualDataLength() >= 4)
        std::memcpy(&index, p, 4);
    return index;
}

inline CMediaType TestVideoType(REFGUID subtype = MEDIASUBTYPE_RGB32)
{
    return CMediaType(MEDIATYPE_Video, subtype, FORMAT_None);
}

// ---- FrameSource ----------------------------------------------------------------

class FrameStream : public CSeekingSourceStream {
public:
    FrameStream(CSource *filter, int frames, int keyEvery, CMediaType type, LONG buffers)
        : CSeekingSourceStream(filter, L"Out"), m_frames(frames), m_keyEvery(keyEvery),
          m_type(std::move(type)), m_buffers(buffers)
    {
        SetDuration(frames * kFrame);
    }
    HRESULT CheckMediaType(const CMediaType *pmt) override { return *pmt == m_type ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int i, CMediaType *pmt) override
    {
        if (i < 0)
            return E_INVALIDARG;
        if (i > 0)
            return VFW_S_NO_MORE_ITEMS;
        *pmt = m_type;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator *a, ALLOCATOR_PROPERTIES *p) override
    {
        p->cBuffers = std::max(p->cBuffers, m_buffers);
        p->cbBuffer = std::max<LONG>(p->cbBuffer, 64);
        ALLOCATOR_PROPERTIES got{};
        return a->SetProperties(p, &got);
    }
    HRESULT SeekTo(REFERENCE_TIME target, REFERENCE_TIME *pKeyFrame) override
    {
        int index = static_cast<int>(target / kFrame);
        index = std::clamp(index, 0, std::max(m_frames - 1, 0));
        index -= index % m_keyEvery;
        m_next = index;
        *pKeyFrame = index * kFrame;
        return S_OK;
    }
    HRESULT FillFrame(IMediaSample *s) override
    {
        if (m_next >= m_frames)
            return S_FALSE;
        const int32_t index = m_next++;
        BYTE *p = nullptr;
        s->GetPointer(&p);
        std::memcpy(p, &index, 4);
        s->SetActualDataLength(4);
        REFERENCE_TIME t0 = index * kFrame, t1 = t0 + kFrame;
        s->SetTime(&t0, &t1);
        s->SetSyncPoint(index % m_keyEvery == 0);
        filled.fetch_add(1);
        return S_OK;
    }
    std::atomic<int> filled{0};

private:
    const int m_frames;
    const int m_keyEvery;
    const CMediaType m_type;
    const LONG m_buffers;
    int m_next = 0;  // streaming thread, or UI thread with no streaming thread
};

class FrameSource : public CSource {
public:
    explicit FrameSource(int frames = 100, int keyEvery = 10, CMediaType type = TestVideoType(),
                         LONG buffers = 2)
        : CSource(L"Frame Source", CLSID_FrameSource)
    {
        AddStream(std::make_unique<FrameStream>(this, frames, keyEvery, std::move(type), buffers));
    }
    FrameStream *Out() const { return static_cast<FrameStream *>(Stream(0)); }
};

// ---- DroppingFilter -------------------------------------------------------------

class DroppingFilter : public CTransInPlaceFilter {
public:
    DroppingFilter() : CTransInPlaceFilter(L"Dropping Filter", CLSID_DroppingFilter, false) {}
    HRESULT CheckInputType(const CMediaType *pmt) override
    {
        return pmt->Type() == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Transform(IMediaSample *s) override
    {
        const int index = FrameIndex(s);
        std::lock_guard lock(m_lock);
        seen.push_back(index);
        return drop.count(index) ? S_FALSE : S_OK;
    }
    std::vector<int> Seen()
    {
        std::lock_guard lock(m_lock);
        return seen;
    }
    std::set<int> drop;  // set before streaming

private:
    std::mutex m_lock;
    std::vector<int> seen;
};

// ---- TestRenderer ---------------------------------------------------------------

struct Presentation {
    int frame;
    REFERENCE_TIME start;  // the sample's stream time (-1 if none)
    REFERENCE_TIME clock;  // the clock's time when presented (-1 without)
    bool cue;              // the paused picture (OnReceiveFirstSample)
};

struct Segment {
    REFERENCE_TIME start, stop;
    double rate;
};

class TestRenderer : public CBaseRenderer {
public:
    explicit TestRenderer(LPCWSTR name = L"Test Renderer") : CBaseRenderer(CLSID_TestRenderer, name) {}

    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        if (pmt->Type() != accepts || (acceptsSubtype != GUID_NULL && pmt->Subtype() != acceptsSubtype))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample *s) override { return Record(s, false); }
    void OnReceiveFirstSample(IMediaSample *s) override { Record(s, true); }
    void OnNewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double rate) override
    {
        std::lock_guard lock(m_lock);
        m_segments.push_back({a, b, rate});
    }

    std::vector<Presentation> Presented()
    {
        std::lock_guard lock(m_lock);
        return m_presented;
    }
    std::vector<int> Frames(bool withCues = false)
    {
        std::vector<int> out;
        for (const auto &p : Presented())
            if (withCues || !p.cue)
                out.push_back(p.frame);
        return out;
    }
    std::vector<Segment> Segments()
    {
        std::lock_guard lock(m_lock);
        return m_segments;
    }
    void Clear()
    {
        std::lock_guard lock(m_lock);
        m_presented.clear();
        m_segments.clear();
    }
    // True once `count` presentations (cues included) were recorded.
    bool WaitForPresentations(size_t count)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, kWait, [&] { return m_presented.size() >= count; });
    }

    GUID accepts = MEDIATYPE_Video;
    GUID acceptsSubtype = GUID_NULL;  // any
    // Called on the streaming thread inside DoRenderSample (for tests that
    // make a render take its time; a render must not send to the UI thread).
    std::function<void(int frame)> onPresent;

private:
    HRESULT Record(IMediaSample *s, bool cue)
    {
        REFERENCE_TIME t0 = -1, t1 = -1, now = -1;
        if (FAILED(s->GetTime(&t0, &t1)))
            t0 = -1;
        if (m_pClock)
            m_pClock->GetTime(&now);
        const int frame = FrameIndex(s);
        if (onPresent)
            onPresent(frame);
        {
            std::lock_guard lock(m_lock);
            m_presented.push_back({frame, t0, now, cue});
        }
        m_changed.notify_all();
        return S_OK;
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Presentation> m_presented;
    std::vector<Segment> m_segments;
};

// ---- FilterHarness --------------------------------------------------------------

struct Collected {
    int frame;
    REFERENCE_TIME start, stop;  // -1 when not set
    bool sync, preroll, discontinuity;
    IMediaSample *sample;  // identity only (the buffer is back in its allocator)
};

class HarnessSource : public CBaseFilter {
public:
    class Pin : public CBaseOutputPin {
    public:
        Pin(HarnessSource *f, CCritSec *lock) : CBaseOutputPin(f, lock, L"Push") {}
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
            p->cBuffers = std::max<LONG>(p->cBuffers, 4);
            p->cbBuffer = std::max<LONG>(p->cbBuffer, bufferSize);
            ALLOCATOR_PROPERTIES got{};
            return a->SetProperties(p, &got);
        }
        CMediaType type = TestVideoType();
        LONG bufferSize = 64;
    };
    HarnessSource() : CBaseFilter(L"Harness Source", &m_lock, CLSID_HarnessEnds), pin(this, &m_lock) {}
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? &pin : nullptr; }
    CCritSec m_lock;
    Pin pin;
};

class HarnessSink : public CBaseFilter {
public:
    class Pin : public CBaseInputPin {
    public:
        Pin(HarnessSink *f, CCritSec *lock) : CBaseInputPin(f, lock, L"Collect"), m_sink(f) {}
        HRESULT CheckMediaType(const CMediaType *) override { return S_OK; }
        HRESULT Receive(IMediaSample *s) override
        {
            const HRESULT hr = CBaseInputPin::Receive(s);
            if (hr != S_OK)
                return hr;
            Collected c{FrameIndex(s), -1, -1, s->IsSyncPoint() == S_OK, s->IsPreroll() == S_OK,
                        s->IsDiscontinuity() == S_OK, s};
            if (FAILED(s->GetTime(&c.start, &c.stop)))
                c.start = c.stop = -1;
            std::lock_guard lock(m_sink->m_dataLock);
            m_sink->samples.push_back(c);
            return S_OK;
        }
        HRESULT EndOfStream() override
        {
            std::lock_guard lock(m_sink->m_dataLock);
            ++m_sink->endOfStreams;
            return S_OK;
        }
        HRESULT NewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double r) override
        {
            CBasePin::NewSegment(a, b, r);
            std::lock_guard lock(m_sink->m_dataLock);
            m_sink->segments.push_back({a, b, r});
            return S_OK;
        }
        HRESULT BeginFlush() override
        {
            CBaseInputPin::BeginFlush();
            std::lock_guard lock(m_sink->m_dataLock);
            ++m_sink->flushes;
            return S_OK;
        }

    private:
        HarnessSink *m_sink;
    };
    HarnessSink() : CBaseFilter(L"Harness Sink", &m_lock, CLSID_HarnessEnds), pin(this, &m_lock) {}
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? &pin : nullptr; }

    CCritSec m_lock;
    Pin pin;
    std::mutex m_dataLock;
    std::vector<Collected> samples;
    std::vector<Segment> segments;
    int endOfStreams = 0;
    int flushes = 0;
};

// One filter between a source pin we push from and a sink pin that collects.
// The filter's first input and first output pins are used.
class FilterHarness {
public:
    explicit FilterHarness(IBaseFilter *filter, CMediaType type = TestVideoType(), LONG bufferSize = 64)
        : m_filter(filter), m_source(MakeCom<HarnessSource>()), m_sink(MakeCom<HarnessSink>())
    {
        m_source->pin.type = std::move(type);
        m_source->pin.bufferSize = bufferSize;
        connected = SUCCEEDED(m_source->pin.Connect(FindPin(PINDIR_INPUT).Get(), nullptr))
            && SUCCEEDED(FindPin(PINDIR_OUTPUT)->Connect(&m_sink->pin, nullptr));
    }
    ~FilterHarness()
    {
        Stop();
        for (ComPtr<IPin> pin : {FindPin(PINDIR_INPUT), FindPin(PINDIR_OUTPUT)})
            if (pin)
                pin->Disconnect();
        m_source->pin.Disconnect();
        m_sink->pin.Disconnect();
    }

    // Downstream first, as the graph does.
    HRESULT Pause()
    {
        m_sink->Pause();
        const HRESULT hr = m_filter->Pause();
        m_source->Pause();
        return hr;
    }
    void Stop()
    {
        m_sink->Stop();
        m_filter->Stop();
        m_source->Stop();
    }

    // A sample with frame index `frame` at [frame, frame+1) * kFrame.
    HRESULT Push(int frame, bool sync = true, bool preroll = false)
    {
        ComPtr<IMediaSample> s;
        HRESULT hr = m_source->pin.GetDeliveryBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        last = s.Get();
        BYTE *p = nullptr;
        s->GetPointer(&p);
        const int32_t index = frame;
        std::memcpy(p, &index, 4);
        s->SetActualDataLength(4);
        REFERENCE_TIME t0 = frame * kFrame, t1 = t0 + kFrame;
        s->SetTime(&t0, &t1);
        s->SetSyncPoint(sync);
        s->SetPreroll(preroll);
        return m_source->pin.Deliver(s.Get());
    }
    // A sample holding `bytes` (at most the buffer size) at [t0, t0 + kFrame).
    HRESULT PushBytes(const std::vector<BYTE> &bytes, REFERENCE_TIME t0 = 0)
    {
        ComPtr<IMediaSample> s;
        HRESULT hr = m_source->pin.GetDeliveryBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        if (LONG(bytes.size()) > s->GetSize())
            return E_INVALIDARG;
        last = s.Get();
        BYTE *p = nullptr;
        s->GetPointer(&p);
        std::copy(bytes.begin(), bytes.end(), p);
        s->SetActualDataLength(LONG(bytes.size()));
        REFERENCE_TIME t1 = t0 + kFrame;
        s->SetTime(&t0, &t1);
        s->SetSyncPoint(TRUE);
        return m_source->pin.Deliver(s.Get());
    }
    // A sample whose time is not set.
    HRESULT PushUntimed()
    {
        ComPtr<IMediaSample> s;
        HRESULT hr = m_source->pin.GetDeliveryBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        last = s.Get();
        s->SetActualDataLength(0);
        s->SetTime(nullptr, nullptr);
        return m_source->pin.Deliver(s.Get());
    }
    HRESULT EndOfStream() { return m_source->pin.DeliverEndOfStream(); }
    HRESULT NewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double r)
    {
        return m_source->pin.DeliverNewSegment(a, b, r);
    }
    void Flush()
    {
        m_source->pin.DeliverBeginFlush();
        m_source->pin.DeliverEndFlush();
    }

    std::vector<Collected> Output()
    {
        std::lock_guard lock(m_sink->m_dataLock);
        return m_sink->samples;
    }
    std::vector<int> Frames()
    {
        std::vector<int> out;
        for (const auto &c : Output())
            out.push_back(c.frame);
        return out;
    }
    HarnessSink &Sink() { return *m_sink; }
    IMemAllocator *SourceAllocator() { return m_source->pin.Allocator(); }

    bool connected = false;
    IMediaSample *last = nullptr;  // identity of the last pushed sample

private:
    ComPtr<IPin> FindPin(PIN_DIRECTION dir)
    {
        ComPtr<IEnumPins> pins;
        m_filter->EnumPins(pins.ReleaseAndGetAddressOf());
        ComPtr<IPin> pin;
        while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            PIN_DIRECTION d;
            pin->QueryDirection(&d);
            if (d == dir)
                return pin;
        }
        return nullptr;
    }

    ComPtr<IBaseFilter> m_filter;
    ComPtr<HarnessSource> m_source;
    ComPtr<HarnessSink> m_sink;
};

// Waits (bounded) for a condition that another thread makes true.
inline bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = kWait)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace graphtest
