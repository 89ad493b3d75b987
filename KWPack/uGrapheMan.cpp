#include "uGrapheMan.h"

#include "platform/dshow/Enumerate.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/Uuids.h"

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Pins in order, up to the first one with a peer.
bool HasConnectedPin(IBaseFilter *filter)
{
    for (const ComPtr<IPin> &pin : dshow::PinsOf(filter))
        if (dshow::PeerOf(pin.Get()))
            return true;
    return false;
}

} // namespace

LONG LinearVolumeToDecibels(int volume)
{
    const int v = std::clamp(volume, 0, kVolumeMax);
    const long db = std::lround(std::log(v + 1.0) * 1085.73) - 10000;
    return static_cast<LONG>(std::clamp<long>(db, AUDIO_VOLUME_MIN, AUDIO_VOLUME_MAX));
}

// ---- TFilterGraph -------------------------------------------------------------------

TFilterGraph::TFilterGraph(QObject *owner) : QObject(owner) {}

TFilterGraph::~TFilterGraph()
{
    SetActive(false);
}

bool TFilterGraph::SetActive(bool on)
{
    if (on == Active())
        return true;
    if (!on) {
        ClearGraph();
        Unregister();
        if (auto events = Query<IMediaEventEx>())
            events->SetNotifyWindow(0, 0, 0);
        FCaptureGraph.Reset();  // it holds the graph too
        FGraph.Reset();
        return true;
    }
    ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.ReleaseAndGetVoidAddress())))
        return false;
    if (FCaptureMode) {
        ComPtr<ICaptureGraphBuilder2> capture;
        if (SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ICaptureGraphBuilder2, capture.ReleaseAndGetVoidAddress()))
            && SUCCEEDED(capture->SetFiltergraph(graph.Get())))
            FCaptureGraph = capture;
    }
    FGraph = graph;
    if (FGraphEdit)
        Register();
    ApplyNotifyWindow();
    return true;
}

void TFilterGraph::SetGraphEdit(bool on)
{
    FGraphEdit = on;
    if (!Active())
        return;
    if (on)
        Register();
    else
        Unregister();
}

void TFilterGraph::Register()
{
    if (FRotRegister)
        return;
    DWORD id = 0;
    if (SUCCEEDED(AddGraphToRot(FGraph.Get(), &id)))
        FRotRegister = id;
}

void TFilterGraph::Unregister()
{
    if (!FRotRegister)
        return;
    RemoveGraphFromRot(FRotRegister);
    FRotRegister = 0;
}

void TFilterGraph::SetNotifyWindow(HWND wnd, UINT msg, LONG_PTR instance)
{
    FNotifyWindow = wnd;
    FNotifyMessage = msg;
    FNotifyInstance = instance;
    ApplyNotifyWindow();
}

void TFilterGraph::ApplyNotifyWindow()
{
    if (auto events = Query<IMediaEventEx>())
        events->SetNotifyWindow(static_cast<OAHWND>(FNotifyWindow), static_cast<LONG>(FNotifyMessage),
                                FNotifyInstance);
}

bool TFilterGraph::SetVolume(int volume)
{
    FVolume = std::clamp(volume, 0, kVolumeMax);
    const auto audio = Query<IBasicAudio>();
    if (!audio)
        return false;
    const LONG db = FLinearVolume ? LinearVolumeToDecibels(FVolume) : FVolume - kVolumeMax;
    return SUCCEEDED(audio->put_Volume(db));
}

TGraphState TFilterGraph::State() const
{
    const auto control = Query<IMediaControl>();
    if (!control)
        return gsUninitialized;
    OAFilterState state = State_Stopped;
    if (FAILED(control->GetState(0, &state)))
        return gsUninitialized;
    switch (static_cast<FILTER_STATE>(state)) {
    case State_Stopped:
        return gsStopped;
    case State_Paused:
        return gsPaused;
    case State_Running:
        return gsRunning;
    }
    return gsUninitialized;
}

void TFilterGraph::ClearGraph()
{
    if (!FGraph)
        return;
    if (auto control = Query<IMediaControl>())
        control->Stop();
    const std::vector<ComPtr<IBaseFilter>> filters = dshow::FiltersOf(FGraph.Get());
    for (const ComPtr<IBaseFilter> &filter : filters)
        for (const ComPtr<IPin> &pin : dshow::PinsOf(filter.Get()))
            if (const ComPtr<IPin> peer = dshow::PeerOf(pin.Get())) {
                FGraph->Disconnect(peer.Get());
                FGraph->Disconnect(pin.Get());
            }
    for (const ComPtr<IBaseFilter> &filter : filters)
        FGraph->RemoveFilter(filter.Get());
}

// ---- TGrapheMan ---------------------------------------------------------------------

TGrapheMan::TGrapheMan(QObject *owner, TStateEvent onStateChange)
    : TKWActionComponent(owner), OnStateChange(std::move(onStateChange))
{
    FFilterGraph = new TFilterGraph(this);
    FFilterGraph->setObjectName(QStringLiteral("Filtergraph"));
    FFilterGraph->SetCaptureMode(true);
    FFilterGraph->SetActive(true);
    FFilterGraph->SetGraphEdit(false);
    FFilterGraph->SetLinearVolume(true);

    FFilterGraph->SetNotifyWindow(MessageWindow(), WM_GRAPHNOTIFY, reinterpret_cast<LONG_PTR>(this));

    // A failed query leaves its reference empty; callers test results.
    GraphBuilder = FFilterGraph->Graph();
    CaptureBuilder = FFilterGraph->CaptureGraph();
    MediaSeeking = FFilterGraph->Query<IMediaSeeking>();

    RaiseStateChange(gmStopped);
}

TGrapheMan::~TGrapheMan()
{
    // Whoever holds the handlers may be half gone by now, and the messages
    // let through below could otherwise reach them.
    OnGraphCompleted = nullptr;
    OnStateChange = nullptr;
    OnVitesseRapide = nullptr;
    OnGraphError = nullptr;

    MediaSeeking.Reset();
    CaptureBuilder.Reset();
    GraphBuilder.Reset();
    if (const auto control = MediaControl())
        control->Stop();
    ProcessMessages();
    FFilterGraph->ClearGraph();
    FFilterGraph->SetActive(false);
    VideoSources.clear();
    AudioSources.clear();
    delete FFilterGraph;
    FFilterGraph = nullptr;
}

ComPtr<IMediaControl> TGrapheMan::MediaControl() const
{
    return FFilterGraph->Query<IMediaControl>();
}

void TGrapheMan::RaiseStateChange(TGrapheManState state)
{
    if (OnStateChange)
        OnStateChange(state);
}

void TGrapheMan::SetRate(double rate)
{
    if (MediaSeeking)
        MediaSeeking->SetRate(rate);
}

bool TGrapheMan::Play()
{
    SetRate(1.0);
    if (FastMode)
        SetRate(kFastRate);
    const auto control = MediaControl();
    if (!control || FAILED(control->Run()))
        return false;
    RaiseStateChange(gmPlaying);
    return true;
}

bool TGrapheMan::Pause()
{
    const auto control = MediaControl();
    if (!control || FAILED(control->Pause()))
        return false;
    RaiseStateChange(gmPaused);
    return true;
}

bool TGrapheMan::Stop()
{
    WaitForStableState();
    const auto control = MediaControl();
    if (!control || FAILED(control->Stop()))
        return false;
    RaiseStateChange(gmStopped);
    return true;
}

void TGrapheMan::SetNormalSpeed()
{
    FastMode = false;
    if (OnVitesseRapide)
        OnVitesseRapide(false);
    SetRate(1.0);
}

void TGrapheMan::SetFastSpeed()
{
    FastMode = true;
    if (OnVitesseRapide)
        OnVitesseRapide(true);
    SetRate(kFastRate);
}

void TGrapheMan::MarkStreamEnded()
{
    StreamEnded = true;
}

void TGrapheMan::WaitForStableState()
{
    const auto control = MediaControl();
    if (!control)
        return;
    for (int polls = 0; polls < kStatePolls && !StreamEnded; ++polls) {
        OAFilterState ignored = State_Stopped;
        if (control->GetState(kStatePollMs, &ignored) != VFW_S_STATE_INTERMEDIATE)
            return;
    }
}

void TGrapheMan::RemoveUnconnectedFilters()
{
    if (!GraphBuilder)
        return;
    const std::vector<ComPtr<IBaseFilter>> filters = dshow::FiltersOf(GraphBuilder.Get());
    for (auto it = filters.rbegin(); it != filters.rend(); ++it)
        if (!HasConnectedPin(it->Get()))
            GraphBuilder->RemoveFilter(it->Get());
}

void TGrapheMan::GraphComplete(QObject *, HRESULT result, IBaseFilter *)
{
    if (FAILED(result))
        GraphFailed(result);
    else if (OnGraphCompleted)
        OnGraphCompleted();
}

void TGrapheMan::GraphFailed(HRESULT result)
{
    GraphError = true;
    LastGraphError = result;
    if (OnGraphError)
        OnGraphError(result);
}

bool TGrapheMan::GraphEdit() const
{
    return FFilterGraph->GraphEdit();
}

void TGrapheMan::SetGraphEdit(bool on)
{
    FFilterGraph->SetGraphEdit(on);
}

void TGrapheMan::WndProc(TMessage &message)
{
    if (message.Msg != WM_GRAPHNOTIFY || message.lParam != reinterpret_cast<LPARAM>(this)) {
        TKWActionComponent::WndProc(message);
        return;
    }
    message.Result = 0;
    DispatchGraphEvents();
}

// The notice only says that events wait; read them all.
void TGrapheMan::DispatchGraphEvents()
{
    const auto events = FFilterGraph->Query<IMediaEventEx>();
    if (!events)
        return;
    const QPointer<TGrapheMan> alive(this);
    LONG code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        switch (code) {
        case EC_COMPLETE:
            GraphComplete(FFilterGraph, static_cast<HRESULT>(param1), reinterpret_cast<IBaseFilter *>(param2));
            break;
        case EC_ERRORABORT:
        case EC_STREAM_ERROR_STOPPED:
        case EC_STREAM_ERROR_STILLPLAYING:
        case EC_ERROR_STILLPLAYING:
            // A failure code in the first parameter; a success code still means trouble.
            GraphFailed(FAILED(static_cast<HRESULT>(param1)) ? static_cast<HRESULT>(param1) : E_FAIL);
            break;
        default:
            break;
        }
        events->FreeEventParams(code, param1, param2);
        if (!alive)
            return;  // a handler freed this manager
    }
}
