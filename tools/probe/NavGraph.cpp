#include "tools/probe/NavGraph.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/Uuids.h"

#include <vector>

namespace {

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter *filter)
{
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    if (filter && SUCCEEDED(filter->EnumPins(e.ReleaseAndGetAddressOf()))) {
        ComPtr<IPin> pin;
        while (e->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK)
            pins.push_back(pin);
    }
    return pins;
}

IPin *PinAt(IBaseFilter *filter, size_t n)
{
    const auto pins = PinsOf(filter);
    return n < pins.size() ? pins[n].Get() : nullptr;  // the filter keeps its pins
}

} // namespace

NavGraph::NavGraph(TNavMan &nav, IBaseFilter *videoRenderer, const QString &file, bool audio) : m_nav(nav)
{
    m_factory.SetGrapheMan(&nav);
    TFileDevice *device = m_factory.GetDevice(file);
    if (!device)
        throw NavGraphError("unknown extension: " + file.toStdString());
    if (!device->Valid())
        throw NavGraphError("cannot open " + file.toStdString());
    m_video = device->VideoSources()[0];
    if (!m_video)
        throw NavGraphError("no video stream in " + file.toStdString());
    nav.Stop();
    ConnectVideo(videoRenderer);
    if (audio && device->AudioSources()[0]) {
        m_audio = device->AudioSources()[0];
        ConnectAudio();
    }
    nav.RemoveUnconnectedFilters();
    nav.Quiet = true;
    nav.SetRange(true, -1, -1);
    nav.Quiet = false;
    m_notifier->SetNotify(true);
}

NavGraph::~NavGraph()
{
    m_nav.Stop();
    m_nav.Notifier.Reset();
    if (m_audio)
        m_audio->Detach();
    m_video->Detach();
    m_nav.FilterGraph()->ClearGraph();
}

void NavGraph::ConnectVideo(IBaseFilter *renderer)
{
    if (!m_video->Attach(&m_nav, 0))
        throw NavGraphError("cannot attach the video source");
    IGraphBuilder *graph = m_nav.GraphBuilder.Get();
    // The renderer manager may have put its renderer into the graph already.
    FILTER_INFO info{};
    renderer->QueryFilterInfo(&info);
    const bool inGraph = info.pGraph != nullptr;
    if (info.pGraph)
        info.pGraph->Release();
    if (!inGraph && FAILED(graph->AddFilter(renderer, L"KW VideoWindow")))
        throw NavGraphError("cannot add the video renderer");
    m_nav.ResetTimeline();
    m_notifier = MakeCom<TFramesNotifier>();
    m_nav.Notifier = m_notifier;
    m_notifier->NavWindow = m_nav.MessageWindow();
    IPin *rendererIn = PinAt(renderer, 0);
    if (FAILED(graph->Connect(PinAt(m_video->SourceNotifierFilter(), 1), rendererIn)))
        throw NavGraphError("no decoder takes the video");
    if (FAILED(graph->AddFilter(m_notifier.Get(), L"Frames Notifier"))
        || !InsertFilter(graph, m_notifier.Get(), rendererIn))
        throw NavGraphError("cannot insert the frame notifier");
}

void NavGraph::ConnectAudio()
{
    IGraphBuilder *graph = m_nav.GraphBuilder.Get();
    if (!m_audio->Attach(&m_nav, 0)
        || FAILED(CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   m_audioRenderer.ReleaseAndGetVoidAddress()))
        || FAILED(graph->AddFilter(m_audioRenderer.Get(), L"KW Audio Renderer"))
        || FAILED(graph->Connect(PinAt(m_audio->SourceNotifierFilter(), 1), PinAt(m_audioRenderer.Get(), 0)))) {
        // A file whose sound does not play still navigates.
        m_audio->Detach();
        m_audio = nullptr;
    }
}

bool NavGraph::InsertFilter(IGraphBuilder *graph, IBaseFilter *filter, IPin *downstream)
{
    ComPtr<IPin> upstream;
    CMediaType mt;
    if (FAILED(downstream->ConnectedTo(upstream.ReleaseAndGetAddressOf()))
        || FAILED(downstream->ConnectionMediaType(&mt)))
        return false;
    graph->Disconnect(upstream.Get());
    graph->Disconnect(downstream);
    IPin *in = PinAt(filter, 0), *out = PinAt(filter, 1);
    if (in && out && SUCCEEDED(graph->ConnectDirect(upstream.Get(), in, &mt))
        && SUCCEEDED(graph->ConnectDirect(out, downstream, &mt)))
        return true;
    for (IPin *pin : {in, out})
        if (pin) {
            ComPtr<IPin> peer;
            if (pin->ConnectedTo(peer.ReleaseAndGetAddressOf()) == S_OK) {
                graph->Disconnect(peer.Get());
                graph->Disconnect(pin);
            }
        }
    graph->ConnectDirect(upstream.Get(), downstream, &mt);
    return false;
}
