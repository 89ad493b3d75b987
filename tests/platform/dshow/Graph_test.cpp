// The filter graph manager: filters and names, state changes, the clock,
// seeking, graph events, volume.
#include "GraphTestKit.h"

#include "platform/base/MessageWindow.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"

#include <gtest/gtest.h>

using namespace graphtest;

namespace {

ComPtr<IGraphBuilder> NewGraph()
{
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.ReleaseAndGetVoidAddress()),
              S_OK);
    return graph;
}

std::wstring NameOf(IBaseFilter *f)
{
    FILTER_INFO info{};
    f->QueryFilterInfo(&info);
    if (info.pGraph)
        info.pGraph->Release();
    return info.achName;
}

// Source -> optional in-place filter -> renderer, in one graph.
struct Chain {
    explicit Chain(IGraphBuilder *g, int frames = 50, bool withFilter = false, int keyEvery = 10)
        : graph(g), source(MakeCom<FrameSource>(frames, keyEvery)), renderer(MakeCom<TestRenderer>())
    {
        g->AddFilter(source.Get(), L"Source");
        g->AddFilter(renderer.Get(), L"Renderer");
        IPin *out = source->Out();
        if (withFilter) {
            filter = MakeCom<DroppingFilter>();
            g->AddFilter(filter.Get(), L"Filter");
            EXPECT_EQ(g->ConnectDirect(out, filter->InputPin(), nullptr), S_OK);
            out = filter->OutputPin();
        }
        EXPECT_EQ(g->ConnectDirect(out, renderer->InputPin(), nullptr), S_OK);
    }
    IGraphBuilder *graph;
    ComPtr<FrameSource> source;
    ComPtr<TestRenderer> renderer;
    ComPtr<DroppingFilter> filter;
};

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        graph = NewGraph();
        control = ComQuery<IMediaControl>(graph);
        seeking = ComQuery<IMediaSeeking>(graph);
        events = ComQuery<IMediaEventEx>(graph);
        ASSERT_TRUE(control && seeking && events);
    }
    void TearDown() override
    {
        if (control)
            control->Stop();
    }
    void UseClock(IReferenceClock *clock)
    {
        ComQuery<IMediaFilter>(graph)->SetSyncSource(clock);
    }
    HRESULT WaitState(LONG ms, OAFilterState *state = nullptr)
    {
        OAFilterState s = 0;
        const HRESULT hr = control->GetState(ms, &s);
        if (state)
            *state = s;
        return hr;
    }
    // Drains the queue; the EC_COMPLETE events seen.
    int CompletesQueued(LONG waitMs = 0)
    {
        int completes = 0;
        LONG code;
        LONG_PTR p1, p2;
        while (events->GetEvent(&code, &p1, &p2, waitMs) == S_OK) {
            if (code == EC_COMPLETE) {
                ++completes;
                lastResult = static_cast<HRESULT>(p1);
                lastRenderer = reinterpret_cast<IBaseFilter *>(p2);
            }
            events->FreeEventParams(code, p1, p2);
            waitMs = 0;
        }
        return completes;
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaSeeking> seeking;
    ComPtr<IMediaEventEx> events;
    HRESULT lastResult = E_FAIL;
    IBaseFilter *lastRenderer = nullptr;
};

// ---- Filters and names ----------------------------------------------------------

TEST_F(GraphTest, NamesAreMadeUniqueAndFiltersCanBeFoundEnumeratedAndRemoved)
{
    auto a = MakeCom<TestRenderer>(), b = MakeCom<TestRenderer>(), c = MakeCom<TestRenderer>();
    EXPECT_EQ(graph->AddFilter(a.Get(), L"Video Renderer"), S_OK);
    EXPECT_EQ(graph->AddFilter(b.Get(), L"Video Renderer"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(graph->AddFilter(c.Get(), L"Video Renderer"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(NameOf(b.Get()), L"Video Renderer 0001");
    EXPECT_EQ(NameOf(c.Get()), L"Video Renderer 0002");
    EXPECT_EQ(graph->AddFilter(a.Get(), L"Again"), E_INVALIDARG);

    ComPtr<IBaseFilter> found;
    ASSERT_EQ(graph->FindFilterByName(L"Video Renderer 0001", found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(found.Get(), static_cast<IBaseFilter *>(b.Get()));
    EXPECT_EQ(graph->FindFilterByName(L"Nothing", found.ReleaseAndGetAddressOf()), VFW_E_NOT_FOUND);

    ComPtr<IEnumFilters> all;
    graph->EnumFilters(all.ReleaseAndGetAddressOf());
    IBaseFilter *three[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(all->Next(3, three, &fetched), S_OK);
    EXPECT_EQ(fetched, 3u);
    for (IBaseFilter *f : three)
        f->Release();

    EXPECT_EQ(graph->RemoveFilter(b.Get()), S_OK);
    FILTER_INFO info{};
    b->QueryFilterInfo(&info);
    EXPECT_EQ(info.pGraph, nullptr);  // it left the graph
    EXPECT_EQ(graph->RemoveFilter(b.Get()), VFW_E_NOT_FOUND);
}

TEST_F(GraphTest, RemovingAFilterDisconnectsBothEndsButNotWhileActive)
{
    Chain chain(graph.Get());
    EXPECT_EQ(graph->ConnectDirect(chain.source->Out(), chain.renderer->InputPin(), nullptr),
              VFW_E_ALREADY_CONNECTED);
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    EXPECT_EQ(graph->RemoveFilter(chain.renderer.Get()), VFW_E_NOT_STOPPED);
    control->Stop();
    EXPECT_EQ(graph->RemoveFilter(chain.renderer.Get()), S_OK);
    EXPECT_FALSE(chain.source->Out()->IsConnected());
    EXPECT_FALSE(chain.renderer->InputPin()->IsConnected());
}

// ---- States ---------------------------------------------------------------------

class LoggingSource : public FrameSource {
public:
    explicit LoggingSource(std::vector<std::string> *log) : m_log(log) {}
    HRESULT Pause() override
    {
        m_log->push_back("source");
        return FrameSource::Pause();
    }

private:
    std::vector<std::string> *m_log;
};

class LoggingRenderer : public TestRenderer {
public:
    explicit LoggingRenderer(std::vector<std::string> *log) : m_log(log) {}
    HRESULT Pause() override
    {
        m_log->push_back("renderer");
        return TestRenderer::Pause();
    }

private:
    std::vector<std::string> *m_log;
};

TEST_F(GraphTest, PauseGoesToTheRenderersFirstAndCuesTheFirstSample)
{
    std::vector<std::string> log;
    auto source = MakeCom<LoggingSource>(&log);
    auto renderer = MakeCom<LoggingRenderer>(&log);
    graph->AddFilter(source.Get(), L"Source");  // added first on purpose
    graph->AddFilter(renderer.Get(), L"Renderer");
    ASSERT_EQ(graph->ConnectDirect(source->Out(), renderer->InputPin(), nullptr), S_OK);

    const HRESULT paused = control->Pause();
    EXPECT_TRUE(paused == S_OK || paused == S_FALSE);
    EXPECT_EQ(log, (std::vector<std::string>{"renderer", "source"}));
    OAFilterState state = -1;
    EXPECT_EQ(WaitState(5000, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(renderer->Frames(true), std::vector<int>{0});
}

// A source whose first frame waits until the test lets it go.
class GatedStream : public FrameStream {
public:
    explicit GatedStream(CSource *filter) : FrameStream(filter, 50, 10, TestVideoType(), 2) {}
    HRESULT FillFrame(IMediaSample *s) override
    {
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_open; });
        }
        return FrameStream::FillFrame(s);
    }
    void Open()
    {
        {
            std::lock_guard lock(m_lock);
            m_open = true;
        }
        m_wake.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_open = false;
};

class GatedSource : public CSource {
public:
    GatedSource() : CSource(L"Gated", CLSID_FrameSource) { AddStream(std::make_unique<GatedStream>(this)); }
    GatedStream *Out() { return static_cast<GatedStream *>(Stream(0)); }
};

TEST_F(GraphTest, GetStateAnswersIntermediateUntilTheRendererHasItsSample)
{
    auto source = MakeCom<GatedSource>();
    auto renderer = MakeCom<TestRenderer>();
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(renderer.Get(), L"Renderer");
    ASSERT_EQ(graph->ConnectDirect(source->Out(), renderer->InputPin(), nullptr), S_OK);
    EXPECT_EQ(control->Pause(), S_FALSE);
    OAFilterState state = -1;
    EXPECT_EQ(WaitState(40, &state), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(WaitState(0), VFW_S_STATE_INTERMEDIATE);
    source->Out()->Open();
    EXPECT_EQ(WaitState(5000, &state), S_OK);
    EXPECT_EQ(renderer->Frames(true), std::vector<int>{0});
    control->Stop();
    EXPECT_EQ(WaitState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    // A renderer with nothing connected does not hold a pause up.
    graph->RemoveFilter(source.Get());
    EXPECT_EQ(control->Pause(), S_OK);
    EXPECT_EQ(WaitState(0), S_OK);
}

TEST_F(GraphTest, RunningPresentsOnTheGraphClockFromWhereThePauseLeftIt)
{
    Chain chain(graph.Get(), 50, true);
    auto clock = MakeCom<CManualClock>(5000);
    UseClock(clock.Get());
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    ASSERT_EQ(WaitState(5000), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(chain.renderer->WaitForPresentations(2));  // frame 0 at once
    clock->Advance(kFrame);
    ASSERT_TRUE(chain.renderer->WaitForPresentations(3));
    EXPECT_EQ(chain.renderer->Presented().back().frame, 1);

    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    ASSERT_EQ(WaitState(5000), S_OK);  // frame 2 is cued
    clock->Advance(10 * kFrame);      // time passes while paused
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(chain.renderer->Frames(), (std::vector<int>{0, 1}));  // frame 2 is not due yet
    clock->Advance(kFrame);
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().size() == 3; }));
    EXPECT_EQ(chain.renderer->Presented().back().clock, 5000 + 12 * kFrame);  // 1 + 10 paused + 1
    LONGLONG position = 0;
    seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, 2 * kFrame);
}

// Pictures swallowed on the way to a target leave the paused picture well
// ahead of the clock: running goes on from that picture, not from the clock
// (here before the clock's zero, which the renderer's waits must bear).
TEST_F(GraphTest, RunningGoesOnFromAPausedPictureWellAheadOfTheClock)
{
    Chain chain(graph.Get(), 50, true);
    auto clock = MakeCom<CManualClock>(5000);
    UseClock(clock.Get());
    for (int i = 0; i < 10; ++i)
        chain.filter->drop.insert(i);  // frames 0-9 never reach the renderer
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    ASSERT_EQ(WaitState(5000), S_OK);
    EXPECT_EQ(chain.renderer->Frames(true), std::vector<int>{10});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().size() == 1; }));  // at once
    clock->Advance(kFrame);
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().size() == 2; }));
    EXPECT_EQ(chain.renderer->Frames(), (std::vector<int>{10, 11}));
    EXPECT_EQ(chain.renderer->Presented().back().clock, 5000 + kFrame);
}

TEST_F(GraphTest, WithoutAClockEverythingIsPresentedAtOnceAndCompletesOnce)
{
    Chain chain(graph.Get(), 20, true);
    UseClock(nullptr);
    ComPtr<IReferenceClock> none;
    ComQuery<IMediaFilter>(graph)->GetSyncSource(none.ReleaseAndGetAddressOf());
    EXPECT_FALSE(none);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG code = 0;
    ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(chain.renderer->Frames().size(), 20u);
    EXPECT_EQ(CompletesQueued(), 1);
    EXPECT_EQ(lastResult, S_OK);
    EXPECT_EQ(lastRenderer, static_cast<IBaseFilter *>(chain.renderer.Get()));
}

TEST_F(GraphTest, CompleteComesOnceWhenEveryRendererHasReachedItsEnd)
{
    Chain shortOne(graph.Get(), 2), longOne(graph.Get(), 4);
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    control->Run();
    clock->Advance(2 * kFrame);
    ASSERT_TRUE(WaitUntil([&] { return shortOne.renderer->Frames().size() == 2; }));
    EXPECT_EQ(CompletesQueued(50), 0);  // one renderer is still playing
    clock->Advance(2 * kFrame);
    EXPECT_EQ(CompletesQueued(5000), 1);
    EXPECT_EQ(lastRenderer, static_cast<IBaseFilter *>(longOne.renderer.Get()));
    EXPECT_EQ(CompletesQueued(50), 0);

    // Stop and run again: a new count, a new EC_COMPLETE.
    control->Stop();
    LONGLONG zero = 0;
    seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, 0);
    control->Run();
    clock->Advance(10 * kFrame);
    EXPECT_EQ(CompletesQueued(5000), 1);
}

TEST_F(GraphTest, CompleteIsPostedToTheNotifyWindowAndFetchedOnTheUiThread)
{
    constexpr UINT WM_GRAPHNOTIFY = 0x8000 + 1;
    std::vector<LONG> fetched;
    HWND wnd = AllocateHWnd([&](TMessage &m) {
        if (m.Msg != WM_GRAPHNOTIFY || m.lParam != 77)
            return;
        LONG code;
        LONG_PTR p1, p2;
        while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
            fetched.push_back(code);
            events->FreeEventParams(code, p1, p2);
        }
    });
    ASSERT_EQ(events->SetNotifyWindow(static_cast<OAHWND>(wnd), WM_GRAPHNOTIFY, 77), S_OK);
    Chain chain(graph.Get(), 3);
    UseClock(nullptr);
    control->Run();
    ASSERT_TRUE(WaitUntil([&] {
        ProcessMessages();
        return !fetched.empty();
    }));
    EXPECT_EQ(fetched, std::vector<LONG>{EC_COMPLETE});
    events->SetNotifyWindow(0, 0, 0);
    DeallocateHWnd(wnd);
}

TEST_F(GraphTest, DefaultClockIsARenderersClockElseTheSystemClock)
{
    Chain chain(graph.Get());
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    ComPtr<IReferenceClock> clock;
    ComQuery<IMediaFilter>(graph)->GetSyncSource(clock.ReleaseAndGetAddressOf());
    ASSERT_TRUE(clock);  // the system clock: no filter offers one
    ComPtr<IReferenceClock> rendererClock;
    chain.renderer->GetSyncSource(rendererClock.ReleaseAndGetAddressOf());
    EXPECT_EQ(rendererClock, clock);
    control->Stop();

    // A renderer that is a clock (as the audio renderer is) is preferred.
    class ClockRenderer : public TestRenderer {
    public:
        HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
        {
            if (riid == IID_IReferenceClock)
                return clock->QueryInterface(riid, ppv);
            return TestRenderer::NonDelegatingQueryInterface(riid, ppv);
        }
        ComPtr<CManualClock> clock = MakeCom<CManualClock>();
    };
    auto audio = MakeCom<ClockRenderer>();
    graph->AddFilter(audio.Get(), L"Audio");
    ASSERT_EQ(graph->SetDefaultSyncSource(), S_OK);
    ComQuery<IMediaFilter>(graph)->GetSyncSource(clock.ReleaseAndGetAddressOf());
    EXPECT_EQ(clock.Get(), static_cast<IReferenceClock *>(audio->clock.Get()));
    graph->RemoveFilter(audio.Get());
}

// ---- Seeking ----------------------------------------------------------------------

TEST_F(GraphTest, KeyFrameSeekWhilePausedPresentsTheKeyFrameReached)
{
    Chain chain(graph.Get(), 100, true);
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    DWORD caps = 0;
    ASSERT_EQ(seeking->GetCapabilities(&caps), S_OK);
    EXPECT_TRUE(caps & AM_SEEKING_CanSeekAbsolute);
    LONGLONG duration = 0;
    seeking->GetDuration(&duration);
    EXPECT_EQ(duration, 100 * kFrame);

    LONGLONG target = 37 * kFrame, stop = MAX_TIME;
    ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame
                                                  | AM_SEEKING_ReturnTime,
                                    &stop, AM_SEEKING_AbsolutePositioning),
              S_OK);
    EXPECT_EQ(target, 30 * kFrame);
    ASSERT_TRUE(chain.renderer->WaitForPresentations(2));
    const Presentation cue = chain.renderer->Presented()[1];
    EXPECT_EQ(cue.frame, 30);
    EXPECT_TRUE(cue.cue);
    EXPECT_EQ(cue.start, 0);  // relative to the new segment
    const auto segments = chain.renderer->Segments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[1].start, 30 * kFrame);
    LONGLONG position = 0;
    seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, 30 * kFrame);
}

TEST_F(GraphTest, ExactSeekShowsTheTargetFrameAndNeverThePrerollBeforeIt)
{
    Chain chain(graph.Get(), 100, true);
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    LONGLONG target = 37 * kFrame;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(WaitState(5000), S_OK);
    EXPECT_EQ(chain.renderer->Frames(true), (std::vector<int>{0, 37}));
    // The decoder stage saw the frames from the key frame on.
    const auto seen = chain.filter->Seen();
    ASSERT_GE(seen.size(), 9u);
    EXPECT_EQ(std::vector<int>(seen.begin() + 1, seen.begin() + 9),
              (std::vector<int>{30, 31, 32, 33, 34, 35, 36, 37}));
    control->Run();
    clock->Advance(kFrame);
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().size() == 2; }));
    EXPECT_EQ(chain.renderer->Frames(), (std::vector<int>{37, 38}));
}

TEST_F(GraphTest, SeekWhileRunningRestartsStreamTimeAtTheNewSegment)
{
    Chain chain(graph.Get(), 100);
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    control->Run();
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().size() == 1; }));
    clock->Advance(3 * kFrame);
    LONGLONG target = 60 * kFrame;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame,
                                    nullptr, 0),
              S_OK);
    ASSERT_TRUE(WaitUntil([&] {
        const auto f = chain.renderer->Frames();
        return !f.empty() && f.back() == 60;
    }));
    const REFERENCE_TIME seekedAt = clock->GetPrivateTime();
    EXPECT_EQ(chain.renderer->Presented().back().clock, seekedAt);  // stream time 0 = now
    LONGLONG position = 0;
    seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, 60 * kFrame);
    clock->Advance(kFrame);
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().back() == 61; }));
}

TEST_F(GraphTest, RateChangesStartANewSegmentAndScaleTime)
{
    Chain chain(graph.Get(), 100);
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    ASSERT_EQ(seeking->SetRate(1.0), S_OK);  // unchanged: nothing restarts
    EXPECT_EQ(chain.renderer->Segments().size(), 1u);
    ASSERT_EQ(seeking->SetRate(2.0), S_OK);
    double rate = 0;
    seeking->GetRate(&rate);
    EXPECT_EQ(rate, 2.0);
    ASSERT_EQ(WaitState(5000), S_OK);
    ASSERT_GE(chain.renderer->Segments().size(), 2u);
    EXPECT_EQ(chain.renderer->Segments().back().rate, 2.0);
    control->Run();
    clock->Advance(kFrame);  // two frames' worth of media at double rate
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().size() >= 3; }));
    EXPECT_EQ(chain.renderer->Frames().back(), 2);
    EXPECT_EQ(seeking->SetRate(-1.0), E_INVALIDARG);
}

TEST_F(GraphTest, StopKeepsThePositionForTheNextRun)
{
    Chain chain(graph.Get(), 100);
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    control->Run();
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().size() == 1; }));
    clock->Advance(5 * kFrame);
    ASSERT_TRUE(WaitUntil([&] { return chain.renderer->Frames().size() == 6; }));
    control->Stop();
    chain.renderer->Clear();
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    EXPECT_EQ(chain.renderer->Frames(true), std::vector<int>{5});
}

// The position is the picture on screen, not the segment start plus the
// clock: after frames were swallowed on the way (as precise navigation
// does) a stop and a run resume on that picture.
TEST_F(GraphTest, PositionIsThePictureShownAndAStopResumesOnIt)
{
    Chain chain(graph.Get(), 100, true);
    chain.filter->drop = {30, 31, 32, 33, 34, 35, 36};
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    LONGLONG target = 37 * kFrame;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, nullptr, 0),
              S_OK);
    ASSERT_EQ(WaitState(5000), S_OK);
    ASSERT_EQ(chain.renderer->Frames(true).back(), 37);
    LONGLONG position = 0;
    seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, 37 * kFrame);

    control->Stop();
    seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, 37 * kFrame);
    chain.renderer->Clear();
    chain.filter->drop.clear();
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    EXPECT_EQ(chain.renderer->Frames(true), std::vector<int>{37});
}

// What a stop keeps is for the sources it stopped: another one (the next
// file) starts where it stands.
TEST_F(GraphTest, AnotherSourceDoesNotResumeWhereTheLastOneStopped)
{
    Chain chain(graph.Get(), 100);
    UseClock(nullptr);
    LONGLONG target = 60 * kFrame;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    control->Stop();
    graph->RemoveFilter(chain.source.Get());
    auto next = MakeCom<FrameSource>(100, 10);
    graph->AddFilter(next.Get(), L"Next");
    ASSERT_EQ(graph->ConnectDirect(next->Out(), chain.renderer->InputPin(), nullptr), S_OK);
    chain.renderer->Clear();
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    EXPECT_EQ(chain.renderer->Frames(true), std::vector<int>{0});
}

// Redrawing the paused picture as the navigation does it: an exact seek to
// the picture's own time, then a flush at the input of the stage that
// watches the pictures (the frame notifier). The same picture comes again,
// to that stage and to the renderer, never the one after it.
TEST_F(GraphTest, ASeekThenAFlushBelowTheSourceShowsTheSamePictureAgain)
{
    Chain chain(graph.Get(), 100, true);
    auto clock = MakeCom<CManualClock>();
    UseClock(clock.Get());
    control->Pause();
    ASSERT_EQ(WaitState(5000), S_OK);
    LONGLONG target = 37 * kFrame;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(WaitState(5000), S_OK);
    ASSERT_EQ(chain.renderer->Frames(true).back(), 37);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        chain.renderer->Clear();
        LONGLONG shown = 37 * kFrame;
        ASSERT_EQ(seeking->SetPositions(&shown, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
                  S_OK);
        if (round % 2)
            std::this_thread::sleep_for(5ms);  // the picture has reached the renderer by now
        chain.filter->InputPin()->BeginFlush();
        chain.filter->InputPin()->EndFlush();
        ASSERT_TRUE(WaitUntil([&] {
            ProcessMessages();
            return WaitState(0) == S_OK && !chain.renderer->Frames(true).empty();
        }));
        EXPECT_EQ(chain.renderer->Frames(true).back(), 37);
        EXPECT_EQ(chain.filter->Seen().back(), 37);
        LONGLONG position = 0;
        seeking->GetCurrentPosition(&position);
        EXPECT_EQ(position, 37 * kFrame);
    }
}

// A source that counts its seeks.
class CountingStream : public FrameStream {
public:
    explicit CountingStream(CSource *filter) : FrameStream(filter, 100, 10, TestVideoType(), 2) {}
    HRESULT SeekTo(REFERENCE_TIME target, REFERENCE_TIME *pKeyFrame) override
    {
        seeks.fetch_add(1);
        return FrameStream::SeekTo(target, pKeyFrame);
    }
    std::atomic<int> seeks{0};
};

class CountingSource : public CSource {
public:
    CountingSource() : CSource(L"Counting", CLSID_FrameSource) { AddStream(std::make_unique<CountingStream>(this)); }
    CountingStream *Out() const { return static_cast<CountingStream *>(Stream(0)); }
};

TEST_F(GraphTest, StoppingAGraphToTearItDownSeeksNothing)
{
    auto source = MakeCom<CountingSource>();
    auto renderer = MakeCom<TestRenderer>();
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(renderer.Get(), L"Renderer");
    ASSERT_EQ(graph->ConnectDirect(source->Out(), renderer->InputPin(), nullptr), S_OK);
    UseClock(nullptr);
    control->Run();
    ASSERT_TRUE(WaitUntil([&] { return renderer->Frames().size() >= 5; }));
    const int seeks = source->Out()->seeks.load();
    EXPECT_EQ(control->Stop(), S_OK);
    graph->RemoveFilter(renderer.Get());
    graph->RemoveFilter(source.Get());
    EXPECT_EQ(source->Out()->seeks.load(), seeks);
}

// A rate change restarts the stream where the picture is with one seek,
// and the end of the stream played anew is reported again.
TEST_F(GraphTest, RateChangeSeeksOnceAndTheEndIsReportedAgain)
{
    auto source = MakeCom<CountingSource>();
    auto renderer = MakeCom<TestRenderer>();
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(renderer.Get(), L"Renderer");
    ASSERT_EQ(graph->ConnectDirect(source->Out(), renderer->InputPin(), nullptr), S_OK);
    UseClock(nullptr);
    ASSERT_EQ(seeking->SetRate(4.0), S_OK);  // fast play
    control->Run();
    EXPECT_EQ(CompletesQueued(5000), 1);
    const int seeks = source->Out()->seeks.load();
    ASSERT_EQ(seeking->SetRate(1.0), S_OK);
    EXPECT_EQ(source->Out()->seeks.load(), seeks + 1);
    EXPECT_EQ(CompletesQueued(5000), 1);
    EXPECT_EQ(renderer->Segments().back().rate, 1.0);
    EXPECT_EQ(renderer->Segments().back().start, 99 * kFrame);  // the last picture shown
}

TEST_F(GraphTest, GraphWithoutSeekableFiltersAnswersNotImplemented)
{
    auto renderer = MakeCom<TestRenderer>();
    graph->AddFilter(renderer.Get(), L"Lonely");
    DWORD caps = 123;
    EXPECT_TRUE(FAILED(seeking->GetCapabilities(&caps)));
    EXPECT_EQ(caps, 0u);
    LONGLONG t = 0;
    EXPECT_TRUE(FAILED(seeking->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, 0)));
    EXPECT_TRUE(FAILED(seeking->GetDuration(&t)));
}

// ---- Sends released by stop and flush -------------------------------------------

// An in-place filter that sends to a window for every frame, as the frame
// notifier does; the test's thread does not let messages run, so each send
// blocks until the graph releases it.
class SendingFilter : public DroppingFilter {
public:
    explicit SendingFilter(HWND wnd) : m_wnd(wnd) {}
    HRESULT Transform(IMediaSample *s) override
    {
        sent.fetch_add(1);
        const LRESULT r = SendGraphMessage(m_wnd, 0x2422, 0, 0);
        if (r == 0)
            released.fetch_add(1);
        return DroppingFilter::Transform(s);
    }
    std::atomic<int> sent{0}, released{0};

private:
    HWND m_wnd;
};

TEST_F(GraphTest, StopAndSeekReleaseAStreamingThreadBlockedInASend)
{
    int handled = 0;
    HWND wnd = AllocateHWnd([&](TMessage &m) {
        ++handled;
        m.Result = 1;
    });
    auto source = MakeCom<FrameSource>(100, 10);
    auto sender = MakeCom<SendingFilter>(wnd);
    auto renderer = MakeCom<TestRenderer>();
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(sender.Get(), L"Notifier");
    graph->AddFilter(renderer.Get(), L"Renderer");
    ASSERT_EQ(graph->ConnectDirect(source->Out(), sender->InputPin(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(sender->OutputPin(), renderer->InputPin(), nullptr), S_OK);

    control->Pause();
    ASSERT_TRUE(WaitUntil([&] { return sender->sent.load() == 1; }));  // blocked in the send
    LONGLONG target = 50 * kFrame;
    EXPECT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_GE(sender->released.load(), 1);
    ASSERT_TRUE(WaitUntil([&] { return sender->sent.load() >= 2; }));  // the new segment's frame
    EXPECT_EQ(control->Stop(), S_OK);  // would hang if the send held the thread
    EXPECT_EQ(sender->released.load(), sender->sent.load());
    EXPECT_EQ(handled, 0);
    ComQuery<IGraphSendGate>(graph)->GetSendGate()->Close();  // stale queued sends
    ProcessMessages();
    EXPECT_EQ(handled, 0);  // released sends never run their handler
    DeallocateHWnd(wnd);
}

// A wait for the graph's state lets a send from the stream run, as a
// message-aware wait does: the picture it holds up then reaches the
// renderer, and the pause completes within the wait.
TEST_F(GraphTest, GetStateLetsAStreamingThreadsSendRun)
{
    int handled = 0;
    HWND wnd = AllocateHWnd([&](TMessage &m) {
        ++handled;
        m.Result = 1;
    });
    auto source = MakeCom<FrameSource>(100, 10);
    auto sender = MakeCom<SendingFilter>(wnd);
    auto renderer = MakeCom<TestRenderer>();
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(sender.Get(), L"Notifier");
    graph->AddFilter(renderer.Get(), L"Renderer");
    ASSERT_EQ(graph->ConnectDirect(source->Out(), sender->InputPin(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(sender->OutputPin(), renderer->InputPin(), nullptr), S_OK);
    control->Pause();
    ASSERT_TRUE(WaitUntil([&] { return sender->sent.load() == 1; }));  // blocked in the send
    OAFilterState state = State_Stopped;
    EXPECT_EQ(control->GetState(3000, &state), S_OK);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(sender->released.load(), 0);
    EXPECT_EQ(renderer->Frames(true), std::vector<int>{0});
    control->Stop();
    DeallocateHWnd(wnd);
}

// ---- A media type that changes inside the stream --------------------------------

// Gives frame `at` a new media type, as a decoder does when the picture
// changes shape.
class TypeStamper : public DroppingFilter {
public:
    HRESULT Transform(IMediaSample *s) override
    {
        if (FrameIndex(s) == at) {
            CMediaType next = TestVideoType(MEDIASUBTYPE_YUY2);
            s->SetMediaType(&next);
        }
        return DroppingFilter::Transform(s);
    }
    int at = 3;
};

// Logs the input types it is given, between the frames it sees.
class TypeWatcher : public DroppingFilter {
public:
    HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType *pmt) override
    {
        if (dir == PINDIR_INPUT) {
            std::lock_guard lock(m_logLock);
            log.push_back("type " + GuidToString(pmt->Subtype()).substr(1, 8));
        }
        return DroppingFilter::SetMediaType(dir, pmt);
    }
    HRESULT Transform(IMediaSample *s) override
    {
        {
            std::lock_guard lock(m_logLock);
            log.push_back("frame " + std::to_string(FrameIndex(s)));
        }
        return DroppingFilter::Transform(s);
    }
    std::mutex m_logLock;
    std::vector<std::string> log;
};

TEST_F(GraphTest, ATypeChangeIsCheckedByTheInputPinAndAppliedOnceByItsFilter)
{
    auto source = MakeCom<FrameSource>(6, 10);
    auto stamper = MakeCom<TypeStamper>();
    auto watcher = MakeCom<TypeWatcher>();
    auto renderer = MakeCom<TestRenderer>();
    for (auto [filter, name] : {std::pair<IBaseFilter *, LPCWSTR>{source.Get(), L"Source"},
                                {stamper.Get(), L"Stamper"}, {watcher.Get(), L"Watcher"},
                                {renderer.Get(), L"Renderer"}})
        graph->AddFilter(filter, name);
    ASSERT_EQ(graph->ConnectDirect(source->Out(), stamper->InputPin(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(stamper->OutputPin(), watcher->InputPin(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(watcher->OutputPin(), renderer->InputPin(), nullptr), S_OK);
    UseClock(nullptr);
    watcher->log.clear();  // the connection's own type
    control->Run();
    EXPECT_EQ(CompletesQueued(5000), 1);
    const std::vector<std::string> expected{"frame 0", "frame 1", "frame 2", "type 32595559",
                                            "frame 3", "frame 4", "frame 5"};
    EXPECT_EQ(watcher->log, expected);
    for (IPin *pin : {static_cast<IPin *>(watcher->OutputPin()), static_cast<IPin *>(renderer->InputPin())}) {
        CMediaType now;
        pin->ConnectionMediaType(&now);
        EXPECT_EQ(now.Subtype(), MEDIASUBTYPE_YUY2);  // the output type is the input type
    }
    control->Stop();

    // A type the filter below refuses stops the stream, and the graph hears of it.
    renderer->acceptsSubtype = MEDIASUBTYPE_RGB32;
    stamper->at = 1;
    LONGLONG zero = 0;
    seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, 0);
    renderer->Clear();
    control->Run();
    LONG code = 0;
    ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_EQ(renderer->Frames(), std::vector<int>{0});
}

// ---- Volume -----------------------------------------------------------------------

class AudioRenderer : public TestRenderer, public IBasicAudio {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IBasicAudio)
            return GetInterface(static_cast<IBasicAudio *>(this), ppv);
        return TestRenderer::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT put_Volume(LONG v) override
    {
        volume = v;
        return S_OK;
    }
    HRESULT get_Volume(LONG *v) override
    {
        *v = volume;
        return S_OK;
    }
    HRESULT put_Balance(LONG) override { return E_NOTIMPL; }
    HRESULT get_Balance(LONG *) override { return E_NOTIMPL; }
    LONG volume = 0;
};

TEST_F(GraphTest, VolumeGoesToTheAudioRendererInHundredthsOfADecibel)
{
    auto audio = ComQuery<IBasicAudio>(graph);
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->put_Volume(-100), E_NOTIMPL);  // no audio renderer yet
    auto renderer = MakeCom<AudioRenderer>();
    graph->AddFilter(static_cast<TestRenderer *>(renderer.Get()), L"Audio");
    EXPECT_EQ(audio->put_Volume(-2500), S_OK);
    EXPECT_EQ(renderer->volume, -2500);
    LONG v = 0;
    EXPECT_EQ(audio->get_Volume(&v), S_OK);
    EXPECT_EQ(v, -2500);
    EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);
    EXPECT_EQ(audio->put_Volume(-10001), E_INVALIDARG);
    graph->RemoveFilter(static_cast<TestRenderer *>(renderer.Get()));
}

} // namespace
