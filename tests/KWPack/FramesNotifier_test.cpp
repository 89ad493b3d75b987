// The frame notifier through the one-filter harness: the media time it gives
// each picture, what it reports, and the target that lets the target picture
// itself through.
#include "KWPack/uFramesNotifier.h"

#include "KWPack/uNotifier.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/GraphTestKit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

using namespace graphtest;

namespace {

// A window that notes what it is told, as the managers do; its handler runs
// `onTarget` for a reached target (the navigation manager sets PassFrames
// there).
struct Receiver {
    std::mutex lock;
    std::vector<QString> navTimes, videoTimes;
    std::vector<REFERENCE_TIME> durations;
    std::vector<std::pair<uint32_t, uint32_t>> targets;
    std::function<void()> onTarget;
    HWND wnd = AllocateHWnd([this](TMessage &m) {
        std::lock_guard l(lock);
        if (m.Msg == WM_NAV_FRAMETIME)
            navTimes.push_back(*reinterpret_cast<const QString *>(m.wParam));
        else if (m.Msg == WM_VIDEO_FRAMETIME)
            videoTimes.push_back(*reinterpret_cast<const QString *>(m.wParam));
        else if (m.Msg == WM_NAV_FRAMEDURATION)
            durations.push_back(REFERENCE_TIME(int32_t(m.wParam)));
        else if (m.Msg == WM_NAV_TARGETREACHED) {
            targets.emplace_back(uint32_t(m.wParam), uint32_t(m.lParam));
            if (onTarget)
                onTarget();
            m.Result = 1;
        }
    });
    ~Receiver() { DeallocateHWnd(wnd); }
    template <class T>
    T Read(const T &field)
    {
        ProcessMessages();
        std::lock_guard l(lock);
        return field;
    }
};

CMediaType VideoType(REFERENCE_TIME frame)
{
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = frame;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = 16;
    vih.bmiHeader.biHeight = 16;
    vih.bmiHeader.biBitCount = 32;
    mt.SetFormat(vih);
    return mt;
}

class FramesNotifierTest : public ::testing::Test {
protected:
    // Connects with `frame` as the type's frame duration; the navigation
    // manager's answer (FrameDuration) is given as it would be.
    void Connect(REFERENCE_TIME frame = kFrame)
    {
        notifier->NavWindow = rx.wnd;
        notifier->VideoWindow = rx.wnd;
        harness = std::make_unique<FilterHarness>(notifier.Get(), VideoType(frame));
        ASSERT_TRUE(harness->connected);
        const auto durations = rx.Read(rx.durations);
        ASSERT_EQ(durations.size(), 1u);
        notifier->FrameDuration = durations[0];
        ASSERT_EQ(harness->Pause(), S_OK);
    }

    ComPtr<TFramesNotifier> notifier = MakeCom<TFramesNotifier>();
    Receiver rx;
    std::unique_ptr<FilterHarness> harness;
};

TEST_F(FramesNotifierTest, ATypeWithoutFrameDurationCountsAHundredFramesASecond)
{
    Connect(0);
    EXPECT_EQ(notifier->FrameDuration, TFramesNotifier::kUndeclaredFrameDuration);
    notifier->SetNotify(true);
    for (int i = 0; i < 3; ++i)
        harness->Push(i);  // 0, 40, 80 ms
    EXPECT_EQ(rx.Read(rx.navTimes), (std::vector<QString>{"0:00:00:00", "0:00:00:04", "0:00:00:08"}));
}

TEST_F(FramesNotifierTest, TimesRestartWithEachSegmentFromZeroAndContinueOtherwise)
{
    Connect();
    harness->Push(3);  // the time base: the first picture after streaming starts
    EXPECT_EQ(notifier->CurrentTime, 0);
    harness->Push(5);
    EXPECT_EQ(notifier->CurrentTime, 2 * kFrame);
    // A new segment elsewhere keeps the old time base.
    harness->NewSegment(100 * kFrame, MAX_TIME, 1.0);
    harness->Push(4);
    EXPECT_EQ(notifier->CurrentTime, 101 * kFrame);
    // One starting at 0 rebases on its first picture.
    harness->NewSegment(0, MAX_TIME, 1.0);
    harness->Push(7);
    EXPECT_EQ(notifier->CurrentTime, 0);
    // Stream times run faster than media times at a higher rate.
    harness->NewSegment(0, MAX_TIME, 4.0);
    harness->Push(0);
    harness->Push(2);
    EXPECT_EQ(notifier->CurrentTime, 8 * kFrame);
    // A picture without a time comes one picture later.
    harness->PushUntimed();
    EXPECT_EQ(notifier->CurrentTime, 9 * kFrame);
    EXPECT_EQ(harness->Output().size(), 7u);
}

TEST_F(FramesNotifierTest, UnchangedTextGoesToTheVideoWindowOnceButToNavigationEachTime)
{
    Connect();
    notifier->SetNotify(true);
    harness->Push(0);
    harness->NewSegment(kFrame / 4, MAX_TIME, 1.0);  // the same frame position again
    harness->Push(0);
    harness->NewSegment(kFrame, MAX_TIME, 1.0);
    harness->Push(0);
    EXPECT_EQ(rx.Read(rx.navTimes), (std::vector<QString>{"0:00:00:00", "0:00:00:00", "0:00:00:01"}));
    EXPECT_EQ(rx.Read(rx.videoTimes), (std::vector<QString>{"0:00:00:00", "0:00:00:01"}));
    notifier->SetNotify(false);
    harness->Push(1);
    EXPECT_EQ(rx.Read(rx.navTimes).size(), 3u) << "quiet while NotifyOn is off";
    // Stopping keeps the switch as it was.
    notifier->SetNotify(true);
    harness->Stop();
    EXPECT_TRUE(notifier->NotifyOn);
}

// The target is reported from the streaming thread, which waits; the
// handler lets pictures pass again, so the target picture itself is the
// first one delivered and none after it is swallowed.
TEST_F(FramesNotifierTest, SwallowsUntilTheTargetAndDeliversTheTargetItself)
{
    Connect();
    notifier->PassFrames = false;
    notifier->SetTargetWindow(0, rx.wnd);
    notifier->SetTarget(0, 6 * kFrame);
    rx.onTarget = [this] { notifier->PassFrames = true; };
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        for (int i = 0; i < 10; ++i)
            harness->Push(i);
        done = true;
    });
    while (!done)
        ProcessMessages();
    streaming.join();
    EXPECT_EQ(harness->Frames(), (std::vector<int>{6, 7, 8, 9}));
    const auto targets = rx.Read(rx.targets);
    ASSERT_EQ(targets.size(), 1u) << "the slot disarms itself";
    EXPECT_EQ(targets[0], std::make_pair(uint32_t(6 * kFrame), uint32_t(6 * kFrame)));
    EXPECT_FALSE(notifier->TargetArmed(0));

    // Half a frame early is close enough (a container's rounded times).
    harness->NewSegment(0, MAX_TIME, 1.0);
    notifier->PassFrames = false;
    notifier->SetTarget(0, 3 * kFrame + kFrame / 2 - 1);
    for (int i = 0; i < 6; ++i)
        harness->Push(i);
    EXPECT_EQ(rx.Read(rx.targets).back().second, uint32_t(3 * kFrame));
}

// A seek holds reports back (the graph's send gate) until its sources stream
// again; a new streaming thread reaching the target meanwhile waits for the
// report to get through rather than swallow the target unheard. A stop still
// releases it.
TEST_F(FramesNotifierTest, ATargetReachedWhileReportsAreHeldBackWaitsForThem)
{
    Connect();
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.ReleaseAndGetVoidAddress()),
              S_OK);
    notifier->JoinFilterGraph(graph.Get(), L"Frames notifier");
    SendGate *gate = ComQuery<IGraphSendGate>(graph)->GetSendGate();
    gate->Close();
    notifier->PassFrames = false;
    notifier->SetTargetWindow(0, rx.wnd);
    notifier->SetTarget(0, 2 * kFrame);
    rx.onTarget = [this] { notifier->PassFrames = true; };
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        for (int i = 0; i < 5; ++i)
            harness->Push(i);
        done = true;
    });
    for (int i = 0; i < 20; ++i) {
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(done) << "the report waits while reports are held back";
    gate->Open();
    while (!done)
        ProcessMessages();
    streaming.join();
    EXPECT_EQ(harness->Frames(), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(rx.Read(rx.targets).size(), 1u);

    // Stopping lets a waiting report go unheard instead of waiting forever.
    gate->Close();
    harness->NewSegment(0, MAX_TIME, 1.0);
    notifier->PassFrames = false;
    notifier->SetTarget(0, kFrame);
    done = false;
    std::thread stopped([&] {
        harness->Push(0);
        harness->Push(1);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    harness->Stop();
    stopped.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(rx.Read(rx.targets).size(), 1u);
    EXPECT_TRUE(notifier->TargetArmed(0)) << "an unheard report leaves the target standing";
    notifier->JoinFilterGraph(nullptr, nullptr);
}

// Streaming that starts inside the file: the segment's times count from its
// start, whatever picture comes first (leading pictures of an open group are
// dropped after a key-frame seek).
TEST_F(FramesNotifierTest, StreamingThatStartsInsideTheFileCountsFromTheSegmentStart)
{
    Connect();
    harness->NewSegment(49 * kFrame, MAX_TIME, 1.0);
    harness->Push(1);
    EXPECT_EQ(notifier->CurrentTime, 50 * kFrame);
    harness->Push(2);
    EXPECT_EQ(notifier->CurrentTime, 51 * kFrame);
}

// The receiver falls behind by more than the ring: each posted time keeps
// the text of its own picture.
TEST_F(FramesNotifierTest, PostedTimesKeepTheirTextWhenTheReceiverLags)
{
    Connect();
    notifier->SetNotify(true);
    notifier->VideoWindow = 0;
    for (int i = 0; i < 250; ++i)
        harness->Push(i);
    const auto times = rx.Read(rx.navTimes);
    ASSERT_EQ(times.size(), 250u);
    for (int i = 0; i < 250; ++i)
        EXPECT_EQ(times[size_t(i)], PositionText(i * kFrame, kFrame)) << i;
}

} // namespace
