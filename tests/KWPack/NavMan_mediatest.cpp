// The navigation manager on real clips through the graph the program builds:
// each landing is checked by the index drawn into the picture shown.
#include "KWPack/uNavMan.h"

#include "tools/mkmedia/FrameIndex.h"
#include "tools/mkmedia/MkMedia.h"
#include "tools/probe/NavGraph.h"

#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/FilterTestKit.h"
#include "platform/render/RenderFilters.h"
#include "platform/render/Vmr9Interfaces.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <iostream>
#include <random>

namespace {

constexpr REFERENCE_TIME kFrame = 400000;

class NavTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_QUIET);
        RegisterFFmpegFilters();
        RegisterRenderFilters();
    }

    // 100 frames at 25 a second with a key frame every 25, B-frames.
    void Open(const char *name = "clip.mp4", int frames = 100, bool audio = true)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.frames = frames;
        o.gop = 25;
        o.width = 160;
        o.height = 120;
        o.audio = audio ? 1 : 0;
        const auto made = mkmedia::WriteClip(o);
        ASSERT_TRUE(made.ok) << made.error;
        nav = TKWActionComponent::New<TNavMan>();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IBaseFilter, renderer.ReleaseAndGetVoidAddress()));
        graph = std::make_unique<NavGraph>(*nav, renderer.Get(), QString::fromStdString(o.path), audio);
        nav->SeekPrepos = 10'000'000;
    }

    void TearDown() override
    {
        graph.reset();
        delete nav;
    }

    // The index drawn in the picture the renderer shows now.
    int Shown()
    {
        nav->WaitForStableState();
        BYTE *dib = nullptr;
        auto windowless = ComQuery<IVMRWindowlessControl9>(renderer);
        if (FAILED(windowless->GetCurrentImage(&dib)) || !dib)
            return -9;
        const auto *h = reinterpret_cast<const BITMAPINFOHEADER *>(dib);
        const int index = mkmedia::ReadFrameIndexFromDib(dib, h->biSize + h->biSizeImage);
        CoTaskMemFree(dib);
        return index;
    }

    int Position() { return int(nav->CurrentPosition() / kFrame); }

    QTemporaryDir dir;
    TNavMan *nav = nullptr;
    ComPtr<IBaseFilter> renderer;
    std::unique_ptr<NavGraph> graph;
};

TEST_F(NavTest, OpensPausedOnTheFirstFrameWithItsTimeline)
{
    Open();
    EXPECT_EQ(nav->FrameDuration, kFrame);
    // The container's duration may hold a sound tail past the last picture.
    EXPECT_GE(nav->Duration, 100 * kFrame);
    EXPECT_LT(nav->Duration, 101 * kFrame);
    EXPECT_EQ(nav->RangeStart, 0);
    EXPECT_EQ(nav->RangeEnd, nav->Duration - kFrame);
    EXPECT_EQ(nav->FilterGraph()->State(), gsPaused);
    EXPECT_EQ(Shown(), 0);
    EXPECT_EQ(nav->CurrentPosition(), 0);
}

TEST_F(NavTest, PreciseSeeksAndStepsLandOnTheExactFrame)
{
    Open();
    std::mt19937 random(11);
    for (int i = 0; i < 12; ++i) {
        const int target = int(random() % 97) + 1;
        nav->SeekPrecise(target * kFrame);
        EXPECT_EQ(Shown(), target);
        EXPECT_EQ(Position(), target);
        EXPECT_EQ(nav->FilterGraph()->State(), gsPaused);
        nav->StepBackward(kFrame);
        EXPECT_EQ(Shown(), target - 1);
        nav->StepForward(kFrame);
        EXPECT_EQ(Shown(), target);
    }
    nav->GoToTimeText("0:00:01:07");
    EXPECT_EQ(Shown(), 32);
    nav->StepForward(10 * kFrame);
    EXPECT_EQ(Shown(), 42);
    nav->StepBackward(10 * kFrame);
    EXPECT_EQ(Shown(), 32);
}

TEST_F(NavTest, StepsStopAtTheEndsOfTheRange)
{
    Open();
    nav->SeekPrecise(3 * kFrame);
    nav->StepBackward(10 * kFrame);
    EXPECT_EQ(Shown(), 0);
    EXPECT_EQ(Position(), 0);
    nav->SeekPrecise(0);
    EXPECT_EQ(Shown(), 0);
    // Past the end: the last frame of the range, Duration - 2 frames.
    nav->SeekPrecise(95 * kFrame);
    nav->StepForward(10 * kFrame);
    EXPECT_EQ(Shown(), 98);
    nav->GoEnd();
    EXPECT_EQ(Shown(), 98);
    // Texts that are no position land somewhere in the range, never outside.
    for (const char *text : {"abc", "", "99:99:99:99", "-1"}) {
        nav->GoToTimeText(text);
        const int shown = Shown();
        EXPECT_GE(shown, 0) << text;
        EXPECT_LE(shown, 98) << text;
    }
}

TEST_F(NavTest, TheFastPathLandsOnTheKeyFrameBefore)
{
    Open();
    nav->caSeekPrecision->SetChecked(false);
    nav->StepForward(60 * kFrame);
    const int key = Shown();
    EXPECT_LE(key, 60);
    EXPECT_GT(key, 60 - 25) << "key frames are at most 25 frames apart";
    EXPECT_EQ(Position(), key);
    nav->caSeekPrecision->SetChecked(true);
    nav->StepForward(kFrame);
    EXPECT_EQ(Shown(), key + 1);
}

TEST_F(NavTest, APreciseSeekWhilePlayingGoesOnPlayingFromTheTarget)
{
    Open();
    nav->Play();
    nav->SeekPrecise(40 * kFrame);
    EXPECT_EQ(nav->FilterGraph()->State(), gsRunning);
    EXPECT_GE(Position(), 40);
    nav->Pause();
    EXPECT_GE(Shown(), 40);
}

TEST_F(NavTest, ThePreciseWaitEndsWhenTheTargetNeverComes)
{
    Open();
    // Aborted at once: pictures pass again and the graph is paused as before.
    nav->AbortRequested = [] { return true; };
    nav->SeekPrecise(80 * kFrame);
    EXPECT_FALSE(nav->WaitingTarget);
    EXPECT_TRUE(nav->Notifier->PassFrames);
    EXPECT_EQ(nav->FilterGraph()->State(), gsPaused);
    nav->AbortRequested = nullptr;
    nav->SeekPrecise(20 * kFrame);
    EXPECT_EQ(Shown(), 20) << "the next seek is not disturbed";
}

// A stop from inside the nested wait (a click while landing) ends the wait
// with pictures passing again; the next landing works.
TEST_F(NavTest, AStopDuringThePreciseWaitEndsIt)
{
    Open();
    bool stopped = false;
    nav->AbortRequested = [this, &stopped] {
        if (!stopped && nav->WaitingTarget) {
            stopped = true;
            nav->Stop();
        }
        return false;
    };
    nav->SeekPrecise(80 * kFrame);
    // (A loaded machine may bring the target before the first look.)
    if (!stopped)
        std::cerr << "the target came before the stop\n";
    EXPECT_FALSE(nav->WaitingTarget);
    EXPECT_TRUE(nav->Notifier->PassFrames);
    nav->AbortRequested = nullptr;
    nav->Pause();
    nav->SeekPrecise(30 * kFrame);
    EXPECT_EQ(Shown(), 30);
}

// One- and two-frame videos: every step and both ends answer on a frame, and
// the position slider's event never divides by an empty range.
TEST_F(NavTest, TinyVideosStepAndEndWithoutHanging)
{
    for (const int frames : {1, 2}) {
        SCOPED_TRACE(frames);
        TearDown();
        Open(frames == 1 ? "one.mp4" : "two.mp4", frames, false);
        std::vector<int> positions;
        nav->OnKPosition = [&positions](int pos) { positions.push_back(pos); };
        nav->StepForward(kFrame);
        nav->StepForward(10 * kFrame);
        nav->StepBackward(kFrame);
        nav->GoEnd();
        nav->SeekPrecise(5 * kFrame);
        nav->GoStart();
        EXPECT_EQ(Shown(), 0);
        for (const int pos : positions) {
            EXPECT_GE(pos, 0);
            EXPECT_LE(pos, 1024);
        }
    }
}

TEST_F(NavTest, PositionEventsComeOnlyWhenTheTextChanges)
{
    Open();
    int kpositions = 0, times = 0, last = -1;
    nav->OnKPosition = [&](int pos) {
        ++kpositions;
        last = pos;
    };
    nav->onTime = [&](REFERENCE_TIME) { ++times; };
    nav->SeekPrecise(49 * kFrame);
    nav->CurrentPosition();
    const int k = kpositions, t = times;
    nav->CurrentPosition();
    EXPECT_EQ(kpositions, k);
    EXPECT_EQ(times, t);
    EXPECT_EQ(last, int(49 * kFrame * 1024 / nav->RangeEnd));
}

TEST_F(NavTest, SliderAndEditFollowAndSeek)
{
    Open();
    QSlider slider;
    QLineEdit edit;
    nav->SetSlider(&slider);
    nav->SetPositionEdit(&edit);
    nav->EditEntryEnabled = true;
    EXPECT_EQ(slider.maximum(), int(nav->RangeEnd / 1024));
    nav->SeekPrecise(30 * kFrame);
    nav->CurrentPosition();
    EXPECT_EQ(slider.value(), int(30 * kFrame / 1024)) << "the slider follows the video";
    EXPECT_EQ(Shown(), 30) << "following did not seek";
    // The user's change seeks (the fast path: the key frame before).
    slider.setValue(int(75 * kFrame / 1024));
    EXPECT_LE(Shown(), 75);
    EXPECT_GT(Shown(), 50);
    // Enter in the edit seeks to the typed position.
    edit.setText("0:00:02:03");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&edit, &enter);
    EXPECT_EQ(Shown(), 53);
}

} // namespace
