// The graph manager on a real filter graph with synthetic filters: state
// changes and their events, the bounded wait before stopping, fast mode,
// end-of-stream events through the message window, removal of unconnected
// filters, inspection, volume scale and destruction.
#include "KWPack/uGrapheMan.h"

#include "platform/dshow/GraphTestKit.h"

#include "platform/base/MessageWindow.h"
#include "platform/dshow/GraphDescription.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace graphtest;

namespace {

inline constexpr CLSID CLSID_Stub{0x7E57F002, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

// A pinless filter that can refuse to pause or stop and can keep the graph
// in transition for a number of GetState calls, whose time-outs it records.
class StubFilter : public CBaseFilter {
public:
    StubFilter() : CBaseFilter(L"Stub", &m_lock, CLSID_Stub) {}
    int GetPinCount() override { return 0; }
    CBasePin *GetPin(int) override { return nullptr; }
    HRESULT GetState(DWORD timeout, FILTER_STATE *state) override
    {
        timeouts.push_back(timeout);
        CBaseFilter::GetState(0, state);
        return timeouts.size() <= intermediateCalls ? VFW_S_STATE_INTERMEDIATE : S_OK;
    }
    HRESULT Pause() override { return failPause ? E_FAIL : CBaseFilter::Pause(); }
    HRESULT Stop() override
    {
        CBaseFilter::Stop();
        return failStop ? E_FAIL : S_OK;
    }

    std::vector<DWORD> timeouts;  // UI thread only, like the graph's GetState
    size_t intermediateCalls = 0;
    bool failPause = false;
    bool failStop = false;

private:
    CCritSec m_lock;
};

// Logs its removal from the graph.
template <class Base>
class Logged : public Base {
public:
    HRESULT JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override
    {
        if (!graph && removals)
            removals->push_back(tag);
        return Base::JoinFilterGraph(graph, name);
    }
    std::vector<std::string> *removals = nullptr;
    std::string tag;
};

// A source that logs the rates it is given and when it is run.
class RateStream : public FrameStream {
public:
    RateStream(CSource *filter, std::vector<std::string> *log)
        : FrameStream(filter, 500, 10, TestVideoType(), 2), m_log(log)
    {
    }
    HRESULT SetRate(double rate) override
    {
        m_log->push_back("rate " + std::to_string(static_cast<int>(rate)));
        return FrameStream::SetRate(rate);
    }

private:
    std::vector<std::string> *m_log;
};

class RateSource : public CSource {
public:
    explicit RateSource(std::vector<std::string> *log) : CSource(L"Rate Source", CLSID_FrameSource), m_log(log)
    {
        AddStream(std::make_unique<RateStream>(this, log));
    }
    HRESULT Run(REFERENCE_TIME start) override
    {
        m_log->push_back("run");
        return CSource::Run(start);
    }
    IPin *Out() const { return Stream(0); }

private:
    std::vector<std::string> *m_log;
};

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
    LONG volume = 1;
};

bool PumpUntil(const std::function<bool()> &done)
{
    return WaitUntil([&] {
        ProcessMessages();
        return done();
    });
}

class GrapheManTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        man = TKWActionComponent::New<TGrapheMan>(nullptr, [this](TGrapheManState s) { states.push_back(s); });
        man->OnGraphCompleted = [this] {
            ++completed;
            completedOnUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }
    void TearDown() override { delete man; }

    void Add(IBaseFilter *filter, LPCWSTR name) { ASSERT_TRUE(SUCCEEDED(man->GraphBuilder->AddFilter(filter, name))); }
    void Connect(IPin *out, IPin *in) { ASSERT_EQ(man->GraphBuilder->ConnectDirect(out, in, nullptr), S_OK); }
    void NoClock() { ComQuery<IMediaFilter>(man->GraphBuilder)->SetSyncSource(nullptr); }

    TGrapheMan *man = nullptr;
    std::vector<TGrapheManState> states;
    int completed = 0;
    bool completedOnUiThread = false;
};

using States = std::vector<TGrapheManState>;

// ---- Construction ---------------------------------------------------------------

TEST_F(GrapheManTest, ConstructionBuildsACaptureGraphAndReportsStoppedOnce)
{
    EXPECT_EQ(states, States{gmStopped});
    ASSERT_TRUE(man->GraphBuilder && man->CaptureBuilder && man->MediaSeeking);
    ComPtr<IGraphBuilder> bound;
    ASSERT_EQ(man->CaptureBuilder->GetFiltergraph(bound.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_TRUE(IsEqualObject(bound.Get(), man->GraphBuilder.Get()));
    EXPECT_EQ(man->FilterGraph()->objectName(), "Filtergraph");
    EXPECT_EQ(man->FilterGraph()->State(), gsStopped);
    EXPECT_FALSE(man->GraphEdit());
    EXPECT_TRUE(man->VideoSources.isEmpty() && man->AudioSources.isEmpty());
    EXPECT_FALSE(man->FastMode || man->StreamEnded);
}

// ---- States ---------------------------------------------------------------------

TEST_F(GrapheManTest, StopWaitsForAPendingStateChangeAtMostTwentyPollsOfFortyMs)
{
    auto stub = MakeCom<StubFilter>();
    stub->intermediateCalls = 1000;  // a transition that never completes
    Add(stub.Get(), L"Stub");
    ASSERT_TRUE(man->Pause());
    EXPECT_TRUE(man->Stop());
    ASSERT_EQ(stub->timeouts.size(), size_t(TGrapheMan::kStatePolls));
    for (DWORD timeout : stub->timeouts)
        EXPECT_LE(timeout, 40u);
    EXPECT_EQ(states, (States{gmStopped, gmPaused, gmStopped}));

    // After the end of the stream it does not wait at all.
    ASSERT_TRUE(man->Pause());
    man->MarkStreamEnded();
    stub->timeouts.clear();
    EXPECT_TRUE(man->Stop());
    EXPECT_TRUE(stub->timeouts.empty());

    // A transition that completes ends the wait.
    man->StreamEnded = false;
    ASSERT_TRUE(man->Pause());
    stub->timeouts.clear();
    stub->intermediateCalls = 3;
    EXPECT_TRUE(man->Stop());
    EXPECT_EQ(stub->timeouts.size(), 4u);
}

TEST_F(GrapheManTest, FailedStateChangesRaiseNoStateEvent)
{
    auto stub = MakeCom<StubFilter>();
    stub->failPause = true;
    Add(stub.Get(), L"Stub");
    EXPECT_FALSE(man->Play());
    EXPECT_FALSE(man->Pause());
    EXPECT_EQ(states, States{gmStopped});

    stub->failPause = false;
    ASSERT_TRUE(man->Play());
    stub->failStop = true;
    EXPECT_FALSE(man->Stop());
    EXPECT_EQ(states, (States{gmStopped, gmPlaying}));
}

TEST_F(GrapheManTest, FastModePlaysAtRateOneThenFourBeforeRunning)
{
    std::vector<std::string> log;
    std::vector<bool> fast;
    man->OnVitesseRapide = [&](bool on) { fast.push_back(on); };
    auto source = MakeCom<RateSource>(&log);
    auto renderer = MakeCom<TestRenderer>();
    Add(source.Get(), L"Source");
    Add(renderer.Get(), L"Renderer");
    Connect(source->Out(), renderer->InputPin());

    man->SetFastSpeed();
    EXPECT_TRUE(man->FastMode);
    EXPECT_EQ(fast, std::vector<bool>{true});
    EXPECT_EQ(log, std::vector<std::string>{"rate 4"});

    log.clear();
    ASSERT_TRUE(man->Play());
    EXPECT_EQ(log, (std::vector<std::string>{"rate 1", "rate 4", "run"}));
    EXPECT_EQ(states.back(), gmPlaying);

    man->SetNormalSpeed();
    EXPECT_FALSE(man->FastMode);
    EXPECT_EQ(fast, (std::vector<bool>{true, false}));
    double rate = 0;
    man->MediaSeeking->GetRate(&rate);
    EXPECT_EQ(rate, 1.0);
    EXPECT_TRUE(man->Stop());
}

// ---- Graph events ---------------------------------------------------------------

TEST_F(GrapheManTest, EndOfStreamRaisesOnGraphCompletedOnceThroughTheMessageLoop)
{
    auto source = MakeCom<FrameSource>(3);
    auto renderer = MakeCom<TestRenderer>();
    Add(source.Get(), L"Source");
    Add(renderer.Get(), L"Renderer");
    Connect(source->Out(), renderer->InputPin());
    NoClock();

    ASSERT_TRUE(man->Play());
    LONG code = 0;
    ASSERT_EQ(ComQuery<IMediaEventEx>(man->GraphBuilder)->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(completed, 0);  // only the UI thread's message loop raises it
    ASSERT_TRUE(PumpUntil([&] { return completed > 0; }));
    for (int i = 0; i < 5; ++i)
        ProcessMessages();
    EXPECT_EQ(completed, 1);
    EXPECT_TRUE(completedOnUiThread);
}

TEST_F(GrapheManTest, OnlyACompletionWithASuccessCodeIsReported)
{
    auto events = ComQuery<IMediaEventEx>(man->GraphBuilder);
    auto sink = ComQuery<IMediaEventSink>(man->GraphBuilder);
    events->CancelDefaultHandling(EC_COMPLETE);  // queue what we notify as is
    sink->Notify(EC_COMPLETE, E_FAIL, 0);
    sink->Notify(EC_PAUSED, S_OK, 0);
    for (int i = 0; i < 5; ++i)
        ProcessMessages();
    EXPECT_EQ(completed, 0);
    sink->Notify(EC_COMPLETE, S_FALSE, 0);
    ASSERT_TRUE(PumpUntil([&] { return completed > 0; }));
    EXPECT_EQ(completed, 1);
}

// A stage that gives up on the third frame, as a decoder that cannot go on.
class FailingFilter : public DroppingFilter {
public:
    HRESULT Transform(IMediaSample *s) override { return FrameIndex(s) == 2 ? E_FAIL : DroppingFilter::Transform(s); }
};

TEST_F(GrapheManTest, ErrorsOfTheStreamAreHeardOnTheUiThread)
{
    std::vector<HRESULT> errors;
    man->OnGraphError = [&](HRESULT hr) { errors.push_back(hr); };
    auto source = MakeCom<FrameSource>(10);
    auto failing = MakeCom<FailingFilter>();
    auto renderer = MakeCom<TestRenderer>();
    Add(source.Get(), L"Source");
    Add(failing.Get(), L"Decoder");
    Add(renderer.Get(), L"Renderer");
    Connect(source->Out(), failing->InputPin());
    Connect(failing->OutputPin(), renderer->InputPin());
    NoClock();
    ASSERT_TRUE(man->Play());
    ASSERT_TRUE(PumpUntil([&] { return man->GraphError; }));
    EXPECT_EQ(errors, std::vector<HRESULT>{E_FAIL});
    EXPECT_EQ(man->LastGraphError, E_FAIL);
    EXPECT_EQ(completed, 0);
    EXPECT_TRUE(man->Stop());

    // An end of the stream with a failure code is an error, not an end.
    man->GraphError = false;
    auto events = ComQuery<IMediaEventEx>(man->GraphBuilder);
    events->CancelDefaultHandling(EC_COMPLETE);
    ComQuery<IMediaEventSink>(man->GraphBuilder)->Notify(EC_COMPLETE, VFW_E_INVALIDMEDIATYPE, 0);
    ASSERT_TRUE(PumpUntil([&] { return man->GraphError; }));
    EXPECT_EQ(errors.back(), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(completed, 0);
}

// ---- Filters --------------------------------------------------------------------

TEST_F(GrapheManTest, RemoveUnconnectedFiltersKeepsEveryFilterWithAPeer)
{
    std::vector<std::string> removed;
    auto source = MakeCom<FrameSource>();
    auto halfway = MakeCom<DroppingFilter>();  // input connected, output free
    auto lonely = MakeCom<Logged<TestRenderer>>();
    auto pinless = MakeCom<Logged<StubFilter>>();
    auto last = MakeCom<Logged<TestRenderer>>();
    lonely->tag = "lonely renderer";
    pinless->tag = "pinless";
    last->tag = "last renderer";
    lonely->removals = pinless->removals = last->removals = &removed;
    Add(source.Get(), L"Source");
    Add(halfway.Get(), L"Halfway");
    Add(lonely.Get(), L"Lonely");
    Add(pinless.Get(), L"Pinless");
    Add(last.Get(), L"Last");
    Connect(source->Out(), halfway->InputPin());

    man->RemoveUnconnectedFilters();
    EXPECT_EQ(removed, (std::vector<std::string>{"last renderer", "pinless", "lonely renderer"}));
    ComPtr<IBaseFilter> found;
    EXPECT_EQ(man->GraphBuilder->FindFilterByName(L"Source", found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(man->GraphBuilder->FindFilterByName(L"Halfway", found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_TRUE(halfway->InputPin()->IsConnected());
}

TEST_F(GrapheManTest, GraphEditRegistersTheGraphForInspectionWhileSet)
{
    QTemporaryDir runtime;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const QDir folder(QString::fromStdString(GraphDescriptionFolder()));
    const auto descriptions = [&] { return folder.entryList({"*.txt"}, QDir::Files); };

    EXPECT_TRUE(descriptions().isEmpty());
    man->SetGraphEdit(true);
    EXPECT_TRUE(man->GraphEdit());
    ASSERT_EQ(descriptions().size(), 1);
    man->SetGraphEdit(false);
    EXPECT_FALSE(man->GraphEdit());
    EXPECT_TRUE(descriptions().isEmpty());

    man->SetGraphEdit(true);
    delete man;
    man = nullptr;
    EXPECT_TRUE(descriptions().isEmpty());
    qputenv("XDG_RUNTIME_DIR", saved);
}

TEST_F(GrapheManTest, VolumeUsesTheLinearScale)
{
    TFilterGraph *graph = man->FilterGraph();
    EXPECT_TRUE(graph->LinearVolume());
    EXPECT_FALSE(graph->SetVolume(5000));  // no audio renderer yet; the value is kept
    EXPECT_EQ(graph->Volume(), 5000);
    auto audio = MakeCom<AudioRenderer>();
    Add(static_cast<TestRenderer *>(audio.Get()), L"Audio");
    const std::pair<int, LONG> cases[] = {{10000, 0}, {5000, -752}, {100, -4989}, {0, -10000},
                                          {12000, 0}, {-5, -10000}};
    for (const auto &[volume, decibels] : cases) {
        EXPECT_TRUE(graph->SetVolume(volume));
        EXPECT_EQ(audio->volume, decibels) << volume;
    }
    EXPECT_EQ(graph->Volume(), 0);
}

// ---- Destruction ----------------------------------------------------------------

// The end of the stream was reached but its notice still waits: the
// streaming thread is idle, not gone, and the holder must not hear of it.
TEST_F(GrapheManTest, DestructionStopsEveryStreamingThreadAndRaisesNothing)
{
    auto source = MakeCom<FrameSource>(2);
    auto renderer = MakeCom<TestRenderer>();
    Add(source.Get(), L"Source");
    Add(renderer.Get(), L"Renderer");
    Connect(source->Out(), renderer->InputPin());
    NoClock();
    ASSERT_TRUE(man->Play());
    LONG code = 0;
    ASSERT_EQ(ComQuery<IMediaEventEx>(man->GraphBuilder)->WaitForCompletion(5000, &code), S_OK);
    ASSERT_TRUE(source->Out()->ThreadExists());
    states.clear();

    delete man;
    man = nullptr;
    ProcessMessages();
    EXPECT_FALSE(source->Out()->ThreadExists());
    EXPECT_TRUE(source->IsStopped() && renderer->IsStopped());
    EXPECT_FALSE(source->Out()->IsConnected());
    FILTER_INFO info{};
    source->QueryFilterInfo(&info);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(completed, 0);
    EXPECT_TRUE(states.empty());
}

} // namespace
