// Reference counting, samples, allocators and pin connection.
#include "platform/dshow/Allocator.h"
#include "platform/dshow/Pins.h"
#include "platform/dshow/RefClock.h"
#include "platform/dshow/Uuids.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

// ---- Reference counting -------------------------------------------------------

struct ICounter : IUnknown {
    static constexpr const IID &iid = IID_IPersist;  // any id will do for the test
    virtual int Value() = 0;
};

class Counted : public CUnknown, public ICounter {
public:
    explicit Counted(bool *deleted) : m_deleted(deleted) {}
    ~Counted() override { *m_deleted = true; }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IPersist || riid == IID_IUnknown)
            return GetInterface(static_cast<ICounter *>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    int Value() override { return 7; }

private:
    bool *m_deleted;
};

TEST(ComPtr, LastReleaseDeletesAndQueryInterfaceAddsReferences)
{
    bool deleted = false;
    {
        ComPtr<Counted> obj = MakeCom<Counted>(&deleted);
        ComPtr<ICounter> counter = ComQuery<ICounter>(obj.Get());
        ASSERT_TRUE(counter);
        EXPECT_EQ(counter->Value(), 7);
        EXPECT_FALSE(ComQuery<IPin>(obj.Get()));
        ComPtr<ICounter> copy = counter;
        ComPtr<ICounter> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_TRUE(IsEqualObject(counter.Get(), moved.Get()));
        obj.Reset();
        EXPECT_FALSE(deleted);
    }
    EXPECT_TRUE(deleted);
}

TEST(ComPtr, AttachAndDetachKeepTheCountBalanced)
{
    bool deleted = false;
    auto *raw = new Counted(&deleted);
    raw->AddRef();
    {
        auto held = ComPtr<Counted>::Attach(raw);
        ICounter *out = nullptr;
        EXPECT_EQ(raw->QueryInterface(IID_IPersist, reinterpret_cast<void **>(&out)), S_OK);
        ComPtr<ICounter>::Attach(out);  // released at once
        EXPECT_FALSE(deleted);
    }
    EXPECT_TRUE(deleted);
}

// ---- Samples and allocators -------------------------------------------------

ComPtr<CMemAllocator> MakeAllocator(LONG buffers, LONG size, LONG align = 1, LONG prefix = 0)
{
    auto alloc = MakeCom<CMemAllocator>();
    ALLOCATOR_PROPERTIES want{buffers, size, align, prefix}, got{};
    EXPECT_EQ(alloc->SetProperties(&want, &got), S_OK);
    return alloc;
}

TEST(Allocator, NegotiationRules)
{
    auto alloc = MakeCom<CMemAllocator>();
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(alloc->Commit(), VFW_E_SIZENOTSET);
    ALLOCATOR_PROPERTIES bad{2, 100, 3, 0}, got{};
    EXPECT_EQ(alloc->SetProperties(&bad, &got), VFW_E_BADALIGN);
    ALLOCATOR_PROPERTIES want{2, 100, 16, 8};
    ASSERT_EQ(alloc->SetProperties(&want, &got), S_OK);
    EXPECT_EQ(got.cBuffers, 2);
    EXPECT_EQ(got.cbBuffer, 100);
    EXPECT_EQ(alloc->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(alloc->Commit(), S_OK);
    EXPECT_EQ(alloc->SetProperties(&want, &got), VFW_E_ALREADY_COMMITTED);
    ASSERT_EQ(alloc->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    BYTE *p = nullptr;
    sample->GetPointer(&p);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    EXPECT_EQ(sample->GetSize(), 100);
    alloc->Decommit();
    EXPECT_EQ(alloc->SetProperties(&want, &got), VFW_E_BUFFERS_OUTSTANDING);
    sample.Reset();
    EXPECT_EQ(alloc->SetProperties(&want, &got), S_OK);
}

TEST(Allocator, SampleFieldsAndTheirResetOnReturn)
{
    auto alloc = MakeAllocator(1, 64);
    ASSERT_EQ(alloc->Commit(), S_OK);
    ComPtr<IMediaSample> s;
    ASSERT_EQ(alloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME a = 0, b = 0;
    EXPECT_EQ(s->GetTime(&a, &b), VFW_E_SAMPLE_TIME_NOT_SET);
    REFERENCE_TIME start = -400000, stop = 0;
    s->SetTime(&start, nullptr);
    EXPECT_EQ(s->GetTime(&a, &b), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(a, start);
    s->SetTime(&start, &stop);
    EXPECT_EQ(s->GetTime(&a, &b), S_OK);
    EXPECT_EQ(b, stop);
    LONGLONG m0 = 5, m1 = 6;
    EXPECT_EQ(s->GetMediaTime(&a, &b), VFW_E_MEDIA_TIME_NOT_SET);
    s->SetMediaTime(&m0, &m1);
    EXPECT_EQ(s->GetMediaTime(&a, &b), S_OK);
    EXPECT_EQ(a, 5);
    s->SetSyncPoint(TRUE);
    s->SetPreroll(TRUE);
    s->SetDiscontinuity(TRUE);
    EXPECT_EQ(s->IsSyncPoint(), S_OK);
    EXPECT_EQ(s->IsPreroll(), S_OK);
    EXPECT_EQ(s->IsDiscontinuity(), S_OK);
    EXPECT_EQ(s->SetActualDataLength(65), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(s->SetActualDataLength(64), S_OK);
    CMediaType type(MEDIATYPE_Video, MEDIASUBTYPE_RGB32);
    s->SetMediaType(&type);
    AM_MEDIA_TYPE *got = nullptr;
    ASSERT_EQ(s->GetMediaType(&got), S_OK);
    EXPECT_TRUE(*got == type);
    DeleteMediaType(got);

    s.Reset();  // back to the allocator, then out again: a clean buffer
    ASSERT_EQ(alloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(s->GetTime(&a, &b), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(s->IsPreroll(), S_FALSE);
    EXPECT_EQ(s->GetActualDataLength(), 0);
    EXPECT_EQ(s->GetMediaType(&got), S_FALSE);
}

TEST(Allocator, GetBufferBlocksUntilABufferReturnsOrDecommit)
{
    auto alloc = MakeAllocator(1, 16);
    ASSERT_EQ(alloc->Commit(), S_OK);
    ComPtr<IMediaSample> held;
    ASSERT_EQ(alloc->GetBuffer(held.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    ComPtr<IMediaSample> other;
    EXPECT_EQ(alloc->GetBuffer(other.ReleaseAndGetAddressOf(), nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    auto waiter = std::async(std::launch::async, [&] {
        ComPtr<IMediaSample> s;
        return alloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    });
    EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
    held.Reset();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), S_OK);

    ASSERT_EQ(alloc->GetBuffer(held.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    auto blocked = std::async(std::launch::async, [&] {
        ComPtr<IMediaSample> s;
        return alloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    });
    EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout);
    alloc->Decommit();
    ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(blocked.get(), VFW_E_NOT_COMMITTED);
}

TEST(Allocator, OutstandingSampleKeepsTheAllocatorAlive)
{
    ComPtr<IMediaSample> s;
    {
        auto alloc = MakeAllocator(2, 8);
        ASSERT_EQ(alloc->Commit(), S_OK);
        ASSERT_EQ(alloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    }
    BYTE *p = nullptr;
    s->GetPointer(&p);
    p[7] = 1;     // still valid memory (ASan would say otherwise)
    s.Reset();    // frees buffers and allocator
}

// ---- Pins -------------------------------------------------------------------

const CLSID CLSID_TestPins{0x11111111, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};

class OutPin : public CBaseOutputPin {
public:
    OutPin(CBaseFilter *f, CCritSec *lock) : CBaseOutputPin(f, lock, L"Out") {}
    std::vector<CMediaType> types;
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        for (const auto &t : types)
            if (*pmt == t)
                return S_OK;
        return S_FALSE;
    }
    HRESULT GetMediaType(int i, CMediaType *pmt) override
    {
        if (i < 0)
            return E_INVALIDARG;
        if (i >= static_cast<int>(types.size()))
            return VFW_S_NO_MORE_ITEMS;
        *pmt = types[i];
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator *a, ALLOCATOR_PROPERTIES *p) override
    {
        p->cBuffers = std::max<LONG>(p->cBuffers, 2);
        p->cbBuffer = std::max<LONG>(p->cbBuffer, 32);
        ALLOCATOR_PROPERTIES got{};
        return a->SetProperties(p, &got);
    }
};

class InPin : public CBaseInputPin {
public:
    InPin(CBaseFilter *f, CCritSec *lock) : CBaseInputPin(f, lock, L"In") {}
    GUID accepts = MEDIASUBTYPE_RGB32;
    HRESULT CheckMediaType(const CMediaType *pmt) override
    {
        return pmt->Subtype() == accepts ? S_OK : S_FALSE;
    }
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *p) override
    {
        *p = {3, 100, 1, 0};
        return S_OK;
    }
};

template <class Pin>
class OnePinFilter : public CBaseFilter {
public:
    OnePinFilter() : CBaseFilter(L"pins", &m_lock, CLSID_TestPins), pin(this, &m_lock) {}
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? &pin : nullptr; }
    CCritSec m_lock;
    Pin pin;
};

TEST(Pins, ConnectNegotiatesTypeAndAllocator)
{
    auto src = MakeCom<OnePinFilter<OutPin>>();
    auto dst = MakeCom<OnePinFilter<InPin>>();
    src->pin.types = {CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_YUY2),
                      CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32)};
    ASSERT_EQ(src->pin.Connect(&dst->pin, nullptr), S_OK);

    ComPtr<IPin> peer;
    ASSERT_EQ(dst->pin.ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_TRUE(IsEqualObject(peer.Get(), static_cast<IPin *>(&src->pin)));
    CMediaType mt;
    ASSERT_EQ(dst->pin.ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.Subtype(), MEDIASUBTYPE_RGB32);  // the first type both take
    ALLOCATOR_PROPERTIES props{};
    src->pin.Allocator()->GetProperties(&props);
    EXPECT_EQ(props.cBuffers, 3);  // the input's requirement honoured
    EXPECT_EQ(props.cbBuffer, 100);
    EXPECT_EQ(src->pin.Connect(&dst->pin, nullptr), VFW_E_ALREADY_CONNECTED);

    PIN_INFO info{};
    dst->pin.QueryPinInfo(&info);
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_STREQ(info.achName, L"In");
    EXPECT_EQ(info.pFilter, static_cast<IBaseFilter *>(dst.Get()));
    info.pFilter->Release();

    EXPECT_EQ(src->Pause(), S_OK);
    EXPECT_EQ(src->pin.Disconnect(), VFW_E_NOT_STOPPED);
    EXPECT_EQ(src->Stop(), S_OK);
    EXPECT_EQ(src->pin.Disconnect(), S_OK);
    EXPECT_EQ(dst->pin.Disconnect(), S_OK);
    EXPECT_EQ(dst->pin.ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
    EXPECT_FALSE(peer);
}

TEST(Pins, RefusedTypesAndWrongDirectionDoNotConnect)
{
    auto src = MakeCom<OnePinFilter<OutPin>>();
    auto dst = MakeCom<OnePinFilter<InPin>>();
    auto other = MakeCom<OnePinFilter<OutPin>>();
    src->pin.types = {CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_YUY2)};
    EXPECT_EQ(src->pin.Connect(&dst->pin, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_FALSE(src->pin.IsConnected());
    EXPECT_FALSE(dst->pin.IsConnected());
    EXPECT_EQ(src->pin.Connect(&other->pin, nullptr), VFW_E_INVALID_DIRECTION);

    // A partial type narrows the candidates.
    src->pin.types.push_back(CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32));
    CMediaType audioOnly(MEDIATYPE_Audio);
    EXPECT_TRUE(FAILED(src->pin.Connect(&dst->pin, &audioOnly)));
    CMediaType video(MEDIATYPE_Video);
    EXPECT_EQ(src->pin.Connect(&dst->pin, &video), S_OK);
    EXPECT_EQ(dst->pin.QueryAccept(&video), S_FALSE);
    src->pin.Disconnect();  // connected pins hold each other's filters
    dst->pin.Disconnect();
}

TEST(Pins, InputRefusesSamplesWhenStoppedOrFlushing)
{
    auto src = MakeCom<OnePinFilter<OutPin>>();
    auto dst = MakeCom<OnePinFilter<InPin>>();
    src->pin.types = {CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32)};
    ASSERT_EQ(src->pin.Connect(&dst->pin, nullptr), S_OK);
    ASSERT_EQ(src->Pause(), S_OK);
    ComPtr<IMediaSample> s;
    ASSERT_EQ(src->pin.GetDeliveryBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(src->pin.Deliver(s.Get()), VFW_E_WRONG_STATE);
    ASSERT_EQ(dst->Pause(), S_OK);
    EXPECT_EQ(src->pin.Deliver(s.Get()), S_OK);
    src->pin.DeliverBeginFlush();
    EXPECT_EQ(src->pin.Deliver(s.Get()), S_FALSE);
    src->pin.DeliverEndFlush();
    CMediaType wrong(MEDIATYPE_Video, MEDIASUBTYPE_YUY2);
    s->SetMediaType(&wrong);
    EXPECT_EQ(src->pin.Deliver(s.Get()), VFW_E_INVALIDMEDIATYPE);
    s->SetMediaType(nullptr);
    EXPECT_EQ(src->pin.Deliver(s.Get()), VFW_E_RUNTIME_ERROR);  // until flush or stop
    s.Reset();
    dst->Stop();
    src->Stop();
    src->pin.Disconnect();
    dst->pin.Disconnect();
}

TEST(Pins, PinCategoryThroughPropertySet)
{
    auto src = MakeCom<OnePinFilter<OutPin>>();
    EXPECT_FALSE(ComQuery<IKsPropertySet>(static_cast<IPin *>(&src->pin)));
    src->pin.SetPinCategory(PIN_CATEGORY_CAPTURE);
    auto props = ComQuery<IKsPropertySet>(static_cast<IPin *>(&src->pin));
    ASSERT_TRUE(props);
    GUID category{};
    DWORD size = 0;
    EXPECT_EQ(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &size), S_OK);
    EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
}

// ---- Clocks -----------------------------------------------------------------

TEST(Clocks, ManualClockFiresAdvisesWhenMovedPastThem)
{
    auto clock = MakeCom<CManualClock>(100);
    CAMEvent event;
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(100, 50, &event, &cookie), S_OK);
    EXPECT_FALSE(event.Check());
    clock->Advance(49);
    EXPECT_FALSE(event.Check());
    clock->SetTime(150);
    EXPECT_TRUE(event.Check());
    EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);  // already fired

    ASSERT_EQ(clock->AdviseTime(0, 100, &event, &cookie), S_OK);  // in the past
    EXPECT_TRUE(event.Check());
    ASSERT_EQ(clock->AdviseTime(0, 1000, &event, &cookie), S_OK);
    EXPECT_EQ(clock->Unadvise(cookie), S_OK);
    clock->SetTime(2000);
    EXPECT_FALSE(event.Check());
    clock->SetTime(10);  // time never goes back
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    EXPECT_EQ(now, 2000);
}

TEST(Clocks, SystemClockIsMonotonicAndFiresAdvises)
{
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(CreateSystemClock(IID_IReferenceClock, clock.ReleaseAndGetVoidAddress()), S_OK);
    REFERENCE_TIME a = 0, b = 0;
    clock->GetTime(&a);
    CAMEvent once, periodic;
    DWORD_PTR c1 = 0, c2 = 0;
    ASSERT_EQ(clock->AdviseTime(a, 20 * 10000, &once, &c1), S_OK);  // 20 ms
    ASSERT_EQ(clock->AdvisePeriodic(a, 5 * 10000, &periodic, &c2), S_OK);
    EXPECT_FALSE(once.Wait(5));
    EXPECT_TRUE(once.Wait(5000));
    clock->GetTime(&b);
    EXPECT_GE(b - a, 20 * 10000);
    EXPECT_TRUE(periodic.Wait(5000));
    EXPECT_TRUE(periodic.Wait(5000));  // again, a period later
    EXPECT_EQ(clock->Unadvise(c2), S_OK);
    EXPECT_EQ(clock->AdvisePeriodic(a, 0, &periodic, &c2), E_INVALIDARG);
}

} // namespace
