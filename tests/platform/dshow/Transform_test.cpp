// The transform bases through the one-filter harness.
#include "GraphTestKit.h"

#include <gtest/gtest.h>

#include <future>

using namespace graphtest;

namespace {

TEST(TransInPlace, PassesEachSampleOnInItsOwnBuffer)
{
    auto filter = MakeCom<DroppingFilter>();
    FilterHarness h(filter.Get());
    ASSERT_TRUE(h.connected);
    EXPECT_TRUE(filter->UsingSameAllocator());
    ASSERT_EQ(h.Pause(), S_OK);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(h.Push(i, i == 0), S_OK);
        EXPECT_EQ(h.Output().back().sample, h.last);  // no copy on the way
    }
    const auto out = h.Output();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2].frame, 2);
    EXPECT_EQ(out[2].start, 2 * kFrame);
    EXPECT_EQ(out[2].stop, 3 * kFrame);
    EXPECT_TRUE(out[0].sync);
    EXPECT_FALSE(out[1].sync);
}

TEST(TransInPlace, OutputOffersNothingBeforeTheInputConnects)
{
    auto filter = MakeCom<DroppingFilter>();
    CMediaType mt;
    // An empty list, not an error: callers enumerate before connecting.
    EXPECT_EQ(filter->OutputPin()->GetMediaType(0, &mt), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(filter->OutputPin()->GetMediaType(-1, &mt), E_INVALIDARG);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(filter->OutputPin()->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
    AM_MEDIA_TYPE *first = nullptr;
    EXPECT_EQ(types->Next(1, &first, nullptr), S_FALSE);
    // Without an upstream pin there is nobody to say the samples come in
    // decoding order.
    auto order = ComQuery<ISampleTimeOrder>(ComPtr<IPin>(filter->OutputPin()));
    ASSERT_TRUE(order);
    EXPECT_FALSE(order->DecodingOrder());
}

TEST(TransInPlace, FrameAnsweredSFalseIsNotDelivered)
{
    auto filter = MakeCom<DroppingFilter>();
    filter->drop = {1, 3};
    FilterHarness h(filter.Get());
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(h.Push(i), S_OK);  // a dropped frame is no error upstream
    EXPECT_EQ(h.Frames(), (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(filter->Seen(), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(TransInPlace, SegmentsEndOfStreamAndFlushesGoThrough)
{
    auto filter = MakeCom<DroppingFilter>();
    FilterHarness h(filter.Get());
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    h.NewSegment(5 * kFrame, 50 * kFrame, 2.0);
    h.Push(0);
    h.Flush();
    h.EndOfStream();
    auto &sink = h.Sink();
    ASSERT_EQ(sink.segments.size(), 1u);
    EXPECT_EQ(sink.segments[0].start, 5 * kFrame);
    EXPECT_EQ(sink.segments[0].rate, 2.0);
    EXPECT_EQ(sink.flushes, 1);
    EXPECT_EQ(sink.endOfStreams, 1);
    // Flushing refuses samples until it ends.
    h.Stop();
}

TEST(TransInPlace, StoppedFilterRefusesSamples)
{
    auto filter = MakeCom<DroppingFilter>();
    FilterHarness h(filter.Get());
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    ASSERT_EQ(filter->Stop(), S_OK);
    EXPECT_TRUE(FAILED(h.Push(0)));  // the shared buffers are gone, or refused
    EXPECT_TRUE(h.Output().empty());
}

TEST(TransInPlace, RefusesAnInputTypeDownstreamWouldNotTake)
{
    auto filter = MakeCom<DroppingFilter>();
    FilterHarness h(filter.Get(), CMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM));
    EXPECT_FALSE(h.connected);
}

// Writes frame * 10 into a separate output buffer; drops odd frames.
class TimesTen : public CTransformFilter {
public:
    TimesTen() : CTransformFilter(L"Times Ten", CLSID_DroppingFilter) {}
    HRESULT CheckInputType(const CMediaType *pmt) override
    {
        return pmt->Type() == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType *in, const CMediaType *out) override
    {
        return out->Subtype() == MEDIASUBTYPE_YUY2 && in->Type() == out->Type() ? S_OK
                                                                                 : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int i, CMediaType *pmt) override
    {
        if (i != 0)
            return i < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
        *pmt = TestVideoType(MEDIASUBTYPE_YUY2);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator *a, ALLOCATOR_PROPERTIES *p) override
    {
        p->cBuffers = 1;
        p->cbBuffer = 16;
        ALLOCATOR_PROPERTIES got{};
        return a->SetProperties(p, &got);
    }
    HRESULT Transform(IMediaSample *in, IMediaSample *out) override
    {
        const int32_t v = FrameIndex(in) * 10;
        BYTE *p = nullptr;
        out->GetPointer(&p);
        std::memcpy(p, &v, 4);
        out->SetActualDataLength(4);
        return FrameIndex(in) % 2 ? S_FALSE : S_OK;
    }
};

TEST(TransformFilter, TransformsIntoSeparateBuffersWithTheInputsTimesAndFlags)
{
    auto filter = MakeCom<TimesTen>();
    FilterHarness h(filter.Get());
    ASSERT_TRUE(h.connected);
    CMediaType out;
    filter->OutputPin()->ConnectionMediaType(&out);
    EXPECT_EQ(out.Subtype(), MEDIASUBTYPE_YUY2);
    ASSERT_EQ(h.Pause(), S_OK);
    h.Push(0, true);
    h.Push(1);
    h.Push(2, false, true);
    const auto got = h.Output();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[0].sample, h.last);
    EXPECT_EQ(got[0].frame, 0);
    EXPECT_TRUE(got[0].sync);
    EXPECT_EQ(got[1].frame, 20);
    EXPECT_EQ(got[1].start, 2 * kFrame);
    EXPECT_TRUE(got[1].preroll);
    EXPECT_TRUE(got[1].discontinuity);  // the sample before it was dropped
}

// A downstream that holds every output buffer: the streaming thread waits in
// GetDeliveryBuffer with the streaming lock held. Stop must still return.
TEST(TransformFilter, StopReleasesAThreadWaitingForAnOutputBuffer)
{
    auto filter = MakeCom<TimesTen>();
    FilterHarness h(filter.Get());
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    ComPtr<IMediaSample> held;
    ASSERT_EQ(filter->OutputPin()->GetDeliveryBuffer(held.ReleaseAndGetAddressOf(), nullptr, nullptr, 0),
              S_OK);  // the only output buffer
    auto pusher = std::async(std::launch::async, [&] { return h.Push(0); });
    EXPECT_EQ(pusher.wait_for(50ms), std::future_status::timeout);
    h.Stop();  // downstream first, then the filter
    ASSERT_EQ(pusher.wait_for(kWait), std::future_status::ready);
    EXPECT_TRUE(FAILED(pusher.get()));
    held.Reset();
}

} // namespace
