// The renderer base driven by a frame source, without a graph: the filters'
// states are set by hand, downstream first, as the graph sets them.
#include "GraphTestKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

using namespace graphtest;

namespace {

class SourceToRenderer : public ::testing::Test {
protected:
    void Build(int frames = 50, LONG buffers = 2)
    {
        source = MakeCom<FrameSource>(frames, 10, TestVideoType(), buffers);
        renderer = MakeCom<TestRenderer>();
        ASSERT_EQ(source->Out()->Connect(renderer->InputPin(), nullptr), S_OK);
    }
    void TearDown() override
    {
        if (!renderer)
            return;
        Stop();
        source->Out()->Disconnect();
        renderer->InputPin()->Disconnect();
    }
    void UseClock(IReferenceClock *c)
    {
        renderer->SetSyncSource(c);
        source->SetSyncSource(c);
    }
    HRESULT Pause()
    {
        const HRESULT hr = renderer->Pause();
        source->Pause();
        return hr;
    }
    void Run(REFERENCE_TIME tStart)
    {
        renderer->Run(tStart);
        source->Run(tStart);
    }
    void Stop()
    {
        renderer->Stop();
        source->Stop();
    }
    FILTER_STATE State(DWORD ms, HRESULT *hr)
    {
        FILTER_STATE s = State_Stopped;
        *hr = renderer->GetState(ms, &s);
        return s;
    }

    ComPtr<FrameSource> source;
    ComPtr<TestRenderer> renderer;
};

TEST_F(SourceToRenderer, PauseCuesTheFirstSampleAndHoldsTheStreamingThread)
{
    Build();
    EXPECT_EQ(renderer->Pause(), S_FALSE);  // no sample yet
    HRESULT hr;
    EXPECT_EQ(State(20, &hr), State_Paused);
    EXPECT_EQ(hr, VFW_S_STATE_INTERMEDIATE);

    source->Pause();
    EXPECT_EQ(State(kWait.count() * 1000, &hr), State_Paused);
    EXPECT_EQ(hr, S_OK);
    ASSERT_EQ(renderer->Frames(true), std::vector<int>{0});
    EXPECT_TRUE(renderer->Presented()[0].cue);
    EXPECT_EQ(renderer->FramesDrawn(), 1);

    // The thread is held: it filled frame 0 and waits in Deliver.
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(source->Out()->filled.load(), 1);
}

TEST_F(SourceToRenderer, RunningPresentsEachSampleAtItsTimeOnTheClock)
{
    Build();
    auto clock = MakeCom<CManualClock>(1000);
    UseClock(clock.Get());
    Pause();
    ASSERT_TRUE(renderer->WaitForPresentations(1));
    Run(1000);  // stream time 0 is clock time 1000: frame 0 is due now
    ASSERT_TRUE(renderer->WaitForPresentations(2));
    for (int frame = 1; frame <= 3; ++frame) {
        ASSERT_TRUE(WaitUntil([&] { return clock->PendingAdvises() == 1; }));
        clock->Advance(kFrame - 1);
        std::this_thread::sleep_for(5ms);
        EXPECT_EQ(renderer->Presented().size(), static_cast<size_t>(frame + 1)) << "early at " << frame;
        clock->Advance(1);
        ASSERT_TRUE(renderer->WaitForPresentations(frame + 2));
        const Presentation p = renderer->Presented().back();
        EXPECT_EQ(p.frame, frame);
        EXPECT_EQ(p.clock, 1000 + frame * kFrame);
        EXPECT_FALSE(p.cue);
    }
    EXPECT_EQ(renderer->Frames(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(SourceToRenderer, WithoutAClockEverySampleIsPresentedAtOnce)
{
    Build(30);
    Pause();
    ASSERT_TRUE(renderer->WaitForPresentations(1));
    Run(0);
    ASSERT_TRUE(renderer->WaitForPresentations(31));  // the cue, then all 30
    std::vector<int> expected(30);
    for (int i = 0; i < 30; ++i)
        expected[i] = i;
    EXPECT_EQ(renderer->Frames(), expected);
}

TEST_F(SourceToRenderer, PausingWhileRunningCuesTheWaitingSample)
{
    Build();
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    Pause();
    ASSERT_TRUE(renderer->WaitForPresentations(1));
    Run(0);
    ASSERT_TRUE(renderer->WaitForPresentations(2));  // cue 0, render 0
    ASSERT_TRUE(WaitUntil([&] { return clock->PendingAdvises() == 1; }));  // frame 1 waits
    EXPECT_EQ(renderer->Pause(), S_FALSE);
    HRESULT hr;
    EXPECT_EQ(State(kWait.count() * 1000, &hr), State_Paused);
    EXPECT_EQ(hr, S_OK);
    const Presentation p = renderer->Presented().back();
    EXPECT_EQ(p.frame, 1);
    EXPECT_TRUE(p.cue);
    EXPECT_EQ(clock->PendingAdvises(), 0u);  // paused: nothing scheduled
}

TEST_F(SourceToRenderer, FlushReleasesTheCuedSampleAndThePauseCompletesAgain)
{
    Build();
    Pause();
    ASSERT_TRUE(renderer->WaitForPresentations(1));
    renderer->InputPin()->BeginFlush();  // returns only once the thread has left
    HRESULT hr;
    State(0, &hr);
    EXPECT_EQ(hr, VFW_S_STATE_INTERMEDIATE);
    renderer->InputPin()->EndFlush();
    // New data after the flush (a seek) completes the pause with its sample.
    LONGLONG target = 5 * kFrame;
    ASSERT_EQ(source->Out()->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_TRUE(renderer->WaitForPresentations(2));
    EXPECT_EQ(renderer->Presented()[1].frame, 5);
    EXPECT_TRUE(renderer->Presented()[1].cue);
    State(kWait.count() * 1000, &hr);
    EXPECT_EQ(hr, S_OK);
}

TEST_F(SourceToRenderer, StopReleasesAThreadWaitingForItsTime)
{
    Build();
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    Pause();
    Run(0);
    ASSERT_TRUE(WaitUntil([&] { return clock->PendingAdvises() == 1; }));
    Stop();  // would hang if the waiting thread were not released
    EXPECT_FALSE(source->Out()->ThreadExists());
    EXPECT_EQ(clock->PendingAdvises(), 0u);
}

TEST_F(SourceToRenderer, EndOfStreamCompletesAPause)
{
    Build(0);  // nothing but the end
    EXPECT_EQ(renderer->Pause(), S_FALSE);
    source->Pause();
    HRESULT hr;
    EXPECT_EQ(State(kWait.count() * 1000, &hr), State_Paused);
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(renderer->Presented().empty());
}

TEST_F(SourceToRenderer, PrerollSamplesAreNeverPresented)
{
    Build();
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    // An exact seek to frame 13 with key frames every 10: 10..12 go as preroll.
    LONGLONG target = 13 * kFrame;
    ASSERT_EQ(source->Out()->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    Pause();
    ASSERT_TRUE(renderer->WaitForPresentations(1));
    Presentation cue = renderer->Presented()[0];
    EXPECT_EQ(cue.frame, 13);
    EXPECT_EQ(cue.start, 0);
    Run(0);
    ASSERT_TRUE(renderer->WaitForPresentations(2));
    clock->Advance(kFrame);
    ASSERT_TRUE(renderer->WaitForPresentations(3));
    EXPECT_EQ(renderer->Frames(true), (std::vector<int>{13, 13, 14}));
}

TEST_F(SourceToRenderer, TakesOnlyItsTypesAndReportsItselfAsARenderer)
{
    source = MakeCom<FrameSource>(5, 1, TestVideoType());
    renderer = MakeCom<TestRenderer>();
    renderer->accepts = MEDIATYPE_Audio;
    EXPECT_TRUE(FAILED(source->Out()->Connect(renderer->InputPin(), nullptr)));
    renderer->accepts = MEDIATYPE_Video;
    ASSERT_EQ(source->Out()->Connect(renderer->InputPin(), nullptr), S_OK);
    int drawn = 0;
    EXPECT_EQ(ComQuery<IQualProp>(static_cast<IBaseFilter *>(renderer.Get()))->get_FramesDrawn(&drawn), S_OK);
    EXPECT_EQ(drawn, 0);
    ULONG flags = ComQuery<IAMFilterMiscFlags>(static_cast<IBaseFilter *>(renderer.Get()))->GetMiscFlags();
    EXPECT_EQ(flags, AM_FILTER_MISC_FLAGS_IS_RENDERER);
}

// A render that asks its pin for the connection type while the UI thread is
// stopping the filter: the pin must not want the state lock Stop holds.
TEST_F(SourceToRenderer, ARenderMayAskItsPinForTheTypeWhileTheFilterStops)
{
    Build();
    std::atomic<bool> inRender{false}, release{false}, asked{false};
    renderer->onPresent = [&](int frame) {
        if (frame != 1)
            return;
        inRender = true;
        WaitUntil([&] { return release.load(); });
        CMediaType type;
        asked = renderer->InputPin()->ConnectionMediaType(&type) == S_OK;
    };
    Pause();
    ASSERT_TRUE(renderer->WaitForPresentations(1));
    Run(0);  // no clock: frame 1 is rendered at once and holds in onPresent
    ASSERT_TRUE(WaitUntil([&] { return inRender.load(); }));
    auto stopping = std::async(std::launch::async, [&] { return renderer->Stop(); });
    std::this_thread::sleep_for(20ms);  // Stop now waits for the render
    release = true;
    if (stopping.wait_for(kWait) != std::future_status::ready) {
        ADD_FAILURE() << "Stop and the render wait for each other";
        std::quick_exit(1);  // a deadlock cannot be undone; do not hang the run
    }
    EXPECT_EQ(stopping.get(), S_OK);
    EXPECT_TRUE(asked.load());
}

} // namespace

