// The seeking push source into a collecting sink: segments, times, preroll.
#include "GraphTestKit.h"

#include <gtest/gtest.h>

using namespace graphtest;

namespace {

class SourceToSink : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = MakeCom<FrameSource>(40, 10);
        sink = MakeCom<HarnessSink>();
        ASSERT_EQ(source->Out()->Connect(&sink->pin, nullptr), S_OK);
    }
    void TearDown() override
    {
        sink->Stop();
        source->Stop();
        source->Out()->Disconnect();
        sink->pin.Disconnect();
    }
    void Start()
    {
        sink->Pause();
        source->Pause();
    }
    bool WaitForEnd(int count = 1)
    {
        return WaitUntil([&] {
            std::lock_guard lock(sink->m_dataLock);
            return sink->endOfStreams >= count;
        });
    }
    std::vector<Collected> Samples()
    {
        std::lock_guard lock(sink->m_dataLock);
        return sink->samples;
    }
    std::vector<Segment> Segments()
    {
        std::lock_guard lock(sink->m_dataLock);
        return sink->segments;
    }
    void Forget()
    {
        std::lock_guard lock(sink->m_dataLock);
        sink->samples.clear();
        sink->segments.clear();
    }
    HRESULT Seek(REFERENCE_TIME t, DWORD flags, LONGLONG *returned = nullptr)
    {
        LONGLONG current = t;
        const HRESULT hr = source->Out()->SetPositions(&current, flags | AM_SEEKING_ReturnTime, nullptr, 0);
        if (returned)
            *returned = current;
        return hr;
    }

    ComPtr<FrameSource> source;
    ComPtr<HarnessSink> sink;
};

TEST_F(SourceToSink, StreamsEveryFrameFromTheStartThenEnds)
{
    Start();
    ASSERT_TRUE(WaitForEnd());
    const auto samples = Samples();
    ASSERT_EQ(samples.size(), 40u);
    EXPECT_EQ(samples[5].frame, 5);
    EXPECT_EQ(samples[5].start, 5 * kFrame);
    EXPECT_TRUE(samples[0].discontinuity);
    EXPECT_TRUE(samples[10].sync);
    EXPECT_FALSE(samples[11].sync);
    ASSERT_EQ(Segments().size(), 1u);
    EXPECT_EQ(Segments()[0].start, 0);
    LONGLONG duration = 0;
    source->Out()->GetDuration(&duration);
    EXPECT_EQ(duration, 40 * kFrame);
}

TEST_F(SourceToSink, KeyFrameSeekStartsTheSegmentAtTheKeyFrameReached)
{
    Start();
    ASSERT_TRUE(WaitForEnd());
    Forget();
    LONGLONG reached = 0;
    ASSERT_EQ(Seek(23 * kFrame, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, &reached), S_OK);
    EXPECT_EQ(reached, 20 * kFrame);
    ASSERT_TRUE(WaitForEnd(2));
    EXPECT_EQ(sink->flushes, 1);
    ASSERT_EQ(Segments().size(), 1u);
    EXPECT_EQ(Segments()[0].start, 20 * kFrame);
    const auto samples = Samples();
    ASSERT_EQ(samples.size(), 20u);
    EXPECT_EQ(samples[0].frame, 20);
    EXPECT_EQ(samples[0].start, 0);  // relative to the segment
    EXPECT_EQ(samples[3].start, 3 * kFrame);
    EXPECT_TRUE(samples[0].discontinuity);
    for (const auto &s : samples)
        EXPECT_FALSE(s.preroll);
}

TEST_F(SourceToSink, ExactSeekSendsTheFramesBeforeTheTargetAsPreroll)
{
    Start();
    ASSERT_TRUE(WaitForEnd());
    Forget();
    LONGLONG reached = 0;
    ASSERT_EQ(Seek(23 * kFrame, AM_SEEKING_AbsolutePositioning, &reached), S_OK);
    EXPECT_EQ(reached, 23 * kFrame);
    ASSERT_TRUE(WaitForEnd(2));
    EXPECT_EQ(Segments()[0].start, 23 * kFrame);
    const auto samples = Samples();
    ASSERT_EQ(samples.size(), 20u);  // from the key frame 20
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(samples[i].frame, 20 + i);
        EXPECT_TRUE(samples[i].preroll);
        EXPECT_EQ(samples[i].start, (i - 3) * kFrame);
    }
    EXPECT_FALSE(samples[3].preroll);
    EXPECT_EQ(samples[3].start, 0);
}

TEST_F(SourceToSink, AFrameThatContainsTheTargetIsNotPreroll)
{
    LONGLONG reached = 0;
    ASSERT_EQ(Seek(23 * kFrame + kFrame / 2, AM_SEEKING_AbsolutePositioning, &reached), S_OK);
    Start();
    ASSERT_TRUE(WaitForEnd());
    const auto samples = Samples();
    ASSERT_GE(samples.size(), 4u);
    EXPECT_TRUE(samples[2].preroll);  // frame 22
    EXPECT_FALSE(samples[3].preroll);  // frame 23 is on screen at the target
    EXPECT_EQ(samples[3].start, -kFrame / 2);
}

TEST_F(SourceToSink, StopPositionEndsTheStreamAndRateScalesTimes)
{
    LONGLONG start = 10 * kFrame, stop = 15 * kFrame;
    ASSERT_EQ(source->Out()->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                          AM_SEEKING_AbsolutePositioning),
              S_OK);
    ASSERT_EQ(source->Out()->SetRate(2.0), S_OK);
    Start();
    ASSERT_TRUE(WaitForEnd());
    const auto samples = Samples();
    ASSERT_EQ(samples.size(), 5u);
    EXPECT_EQ(samples[4].frame, 14);
    EXPECT_EQ(samples[2].start, kFrame);  // two frames in, at double speed
    ASSERT_EQ(Segments().size(), 1u);
    EXPECT_EQ(Segments()[0].stop, 15 * kFrame);
    EXPECT_EQ(Segments()[0].rate, 2.0);
    LONGLONG current = 0;
    source->Out()->GetCurrentPosition(&current);
    EXPECT_EQ(current, 14 * kFrame);
}

TEST_F(SourceToSink, SeekingRulesAndTimeFormats)
{
    IMediaSeeking *seeking = source->Out();
    DWORD caps = 0;
    seeking->GetCapabilities(&caps);
    EXPECT_TRUE(caps & AM_SEEKING_CanSeekAbsolute);
    DWORD asked = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanPlayBackwards;
    EXPECT_EQ(seeking->CheckCapabilities(&asked), S_FALSE);
    EXPECT_EQ(asked, AM_SEEKING_CanSeekAbsolute);
    EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), E_INVALIDARG);
    EXPECT_EQ(seeking->SetRate(0.0), E_INVALIDARG);
    LONGLONG past = 1000 * kFrame;
    seeking->SetPositions(&past, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr, 0);
    EXPECT_EQ(past, 40 * kFrame);  // clamped to the duration
    LONGLONG back = -2 * kFrame;
    seeking->SetPositions(&back, AM_SEEKING_RelativePositioning | AM_SEEKING_ReturnTime, nullptr, 0);
    EXPECT_EQ(back, 38 * kFrame);
}

// A stream whose length is not known (0): seeks go where they are asked,
// and the stream runs to its last frame.
class UnknownLengthSource : public CSource {
public:
    class LengthlessStream : public FrameStream {
    public:
        explicit LengthlessStream(CSource *filter) : FrameStream(filter, 40, 10, TestVideoType(), 2) { SetDuration(0); }
    };
    UnknownLengthSource() : CSource(L"Unknown Length", CLSID_FrameSource)
    {
        AddStream(std::make_unique<LengthlessStream>(this));
    }
    FrameStream *Out() const { return static_cast<FrameStream *>(Stream(0)); }
};

TEST(SeekingSource, UnknownLengthIsNoLimit)
{
    auto source = MakeCom<UnknownLengthSource>();
    auto sink = MakeCom<HarnessSink>();
    ASSERT_EQ(source->Out()->Connect(&sink->pin, nullptr), S_OK);
    IMediaSeeking *seeking = source->Out();
    LONGLONG duration = -1, stop = 0;
    seeking->GetDuration(&duration);
    seeking->GetStopPosition(&stop);
    EXPECT_EQ(duration, 0);
    EXPECT_EQ(stop, MAX_TIME);
    LONGLONG target = 23 * kFrame;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr, 0),
              S_OK);
    EXPECT_EQ(target, 23 * kFrame);
    LONGLONG back = -kFrame;
    ASSERT_EQ(seeking->SetPositions(&back, AM_SEEKING_RelativePositioning | AM_SEEKING_ReturnTime, nullptr, 0),
              S_OK);
    EXPECT_EQ(back, 22 * kFrame);
    sink->Pause();
    source->Pause();
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard lock(sink->m_dataLock);
        return sink->endOfStreams > 0;
    }));
    {
        std::lock_guard lock(sink->m_dataLock);
        ASSERT_EQ(sink->samples.size(), 20u);  // from key frame 20 to the last
        EXPECT_EQ(sink->samples.back().frame, 39);
        EXPECT_FALSE(sink->samples[2].preroll);  // frame 22
    }
    sink->Stop();
    source->Stop();
    source->Out()->Disconnect();
    sink->pin.Disconnect();
}

} // namespace
