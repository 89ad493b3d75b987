#include "tools/probe/ProbeGraph.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/render/RenderFilters.h"
#include "platform/render/Vmr9Interfaces.h"

extern "C" {
#include <libavutil/log.h>
}

#include <chrono>
#include <cstring>

namespace {

constexpr LONG kWaitMs = 10000;

// The classes a name given on the command line may stand for; the
// catalogue has no list of names, only lookups by class.
const CLSID *const kNamedClasses[] = {
    &CLSID_LAVSplitterSource, &CLSID_AsyncReader,      &CLSID_AviSplitter,    &CLSID_MMSPLITTER,
    &CLSID_MPEG1Splitter,     &CLSID_WMAsfReader,      &CLSID_WAVEParser,     &CLSID_DVSplitter,
    &CLSID_MPEG2Demultiplexer, &CLSID_SmartTee,        &CLSID_VidstillVideoDecoder,
    &CLSID_VidstillVideoDecoderST, &CLSID_VidstillAudioDecoder,
};

std::vector<ComPtr<IPin>> Pins(IBaseFilter *filter, PIN_DIRECTION wanted)
{
    std::vector<ComPtr<IPin>> out;
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())))
        return out;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted)
            out.push_back(pin);
    }
    return out;
}

ComPtr<IPin> FirstPin(IBaseFilter *filter, PIN_DIRECTION dir)
{
    auto pins = Pins(filter, dir);
    if (pins.empty())
        throw ProbeError("filter without a pin");
    return pins.front();
}

std::wstring Wide(const std::string &text)
{
    // File names pass through as bytes; the stand-in takes them back the same way.
    return std::wstring(text.begin(), text.end());
}

} // namespace

void RegisterProbeFilters()
{
    // libavformat's own complaints would break the one-line error contract.
    av_log_set_level(AV_LOG_QUIET);
    RegisterFFmpegFilters();
    RegisterRenderFilters();
}

std::wstring PinName(IPin *pin)
{
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)))
        return {};
    if (info.pFilter)
        info.pFilter->Release();
    return info.achName;
}

CMediaType PinType(IPin *pin)
{
    CMediaType mt;
    if (SUCCEEDED(pin->ConnectionMediaType(&mt)))
        return mt;
    ComPtr<IEnumMediaTypes> types;
    AM_MEDIA_TYPE *first = nullptr;
    if (SUCCEEDED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()))
        && types->Next(1, &first, nullptr) == S_OK && first) {
        mt = *first;
        DeleteMediaType(first);
    }
    return mt;
}

ProbeGraph::ProbeGraph(const std::string &file, const std::string &sourceName, const std::string &splitterName)
{
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                m_graph.ReleaseAndGetVoidAddress())))
        throw ProbeError("cannot create a filter graph");
    ComQuery<IMediaFilter>(m_graph)->SetSyncSource(nullptr);  // every frame as soon as it comes
    AddSource(file, sourceName);
    if (!splitterName.empty())
        AddSplitter(splitterName);
}

ProbeGraph::~ProbeGraph()
{
    Stop();
    // Connected pins hold each other's filters: undo the connections.
    ComPtr<IEnumFilters> filters;
    if (FAILED(m_graph->EnumFilters(filters.ReleaseAndGetAddressOf())))
        return;
    ComPtr<IBaseFilter> f;
    while (filters->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        for (PIN_DIRECTION dir : {PINDIR_INPUT, PINDIR_OUTPUT})
            for (auto &pin : Pins(f.Get(), dir))
                pin->Disconnect();
}

ComPtr<IBaseFilter> ProbeGraph::CreateNamed(const std::string &name) const
{
    const std::wstring wanted = Wide(name);
    for (const CLSID *clsid : kNamedClasses) {
        FilterRegistration r;
        if (!FindFilterRegistration(*clsid, &r) || r.name != wanted)
            continue;
        ComPtr<IBaseFilter> filter;
        if (FAILED(CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    filter.ReleaseAndGetVoidAddress())))
            throw ProbeError("cannot create filter: " + name);
        return filter;
    }
    throw ProbeError("no filter named: " + name);
}

void ProbeGraph::AddSource(const std::string &file, const std::string &sourceName)
{
    const std::string name = sourceName.empty() ? "LAV Splitter Source" : sourceName;
    m_source = CreateNamed(name);
    auto loader = ComQuery<IFileSourceFilter>(m_source);
    if (!loader)
        throw ProbeError("not a file source: " + name);
    if (FAILED(loader->Load(Wide(file).c_str(), nullptr)))
        throw ProbeError("cannot open " + file + " with " + name);
    if (FAILED(m_graph->AddFilter(m_source.Get(), Wide(name).c_str())))
        throw ProbeError("cannot add " + name + " to the graph");
    m_sourceName = Wide(name);
}

void ProbeGraph::AddSplitter(const std::string &splitterName)
{
    m_splitter = CreateNamed(splitterName);
    if (FAILED(m_graph->AddFilter(m_splitter.Get(), Wide(splitterName).c_str())))
        throw ProbeError("cannot add " + splitterName + " to the graph");
    auto out = FirstPin(m_source.Get(), PINDIR_OUTPUT);
    auto in = FirstPin(m_splitter.Get(), PINDIR_INPUT);
    if (FAILED(m_graph->ConnectDirect(out.Get(), in.Get(), nullptr)))
        throw ProbeError(splitterName + " refuses the file");
    m_splitterName = Wide(splitterName);
}

std::vector<ComPtr<IPin>> ProbeGraph::StreamPins() const
{
    return Pins(m_splitter ? m_splitter.Get() : m_source.Get(), PINDIR_OUTPUT);
}

REFERENCE_TIME ProbeGraph::Duration() const
{
    LONGLONG duration = 0;
    for (auto &pin : StreamPins())
        if (auto seeking = ComQuery<IMediaSeeking>(pin); seeking && SUCCEEDED(seeking->GetDuration(&duration)))
            return duration;
    if (auto seeking = ComQuery<IMediaSeeking>(m_source); seeking && SUCCEEDED(seeking->GetDuration(&duration)))
        return duration;
    return 0;
}

ComPtr<IPin> ProbeGraph::VideoPin() const
{
    for (auto &pin : StreamPins()) {
        const CMediaType mt = PinType(pin.Get());
        if (mt.Type() == MEDIATYPE_Video || mt.Type() == MEDIATYPE_Interleaved)
            return pin;
    }
    throw ProbeError("no video stream");
}

void ProbeGraph::BuildPlayback()
{
    if (FAILED(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                m_renderer.ReleaseAndGetVoidAddress())))
        throw ProbeError("cannot create the video renderer");
    auto rendererIn = FirstPin(m_renderer.Get(), PINDIR_INPUT);
    m_tap = MakeCom<CFrameTap>(rendererIn.Get());
    if (FAILED(m_graph->AddFilter(m_renderer.Get(), L"Video Mixing Renderer 9"))
        || FAILED(m_graph->AddFilter(m_tap.Get(), L"Frame Tap")))
        throw ProbeError("cannot add the video renderer");
    if (FAILED(m_graph->Connect(VideoPin().Get(), FirstPin(m_tap.Get(), PINDIR_INPUT).Get())))
        throw ProbeError("no decoder for the video stream");
    if (FAILED(m_graph->Connect(FirstPin(m_tap.Get(), PINDIR_OUTPUT).Get(), rendererIn.Get())))
        throw ProbeError("the video renderer refuses the decoded video");
}

void ProbeGraph::Seek(REFERENCE_TIME target)
{
    LONGLONG pos = target;
    auto seeking = ComQuery<IMediaSeeking>(m_graph);
    if (FAILED(seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)))
        throw ProbeError("cannot seek to " + std::to_string(target));
    m_tap->Clear();
}

std::vector<REFERENCE_TIME> ProbeGraph::Play(size_t count)
{
    auto control = ComQuery<IMediaControl>(m_graph);
    if (FAILED(control->Run()))
        throw ProbeError("cannot run the graph");
    auto events = ComQuery<IMediaEvent>(m_graph);
    size_t seen = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
        LONG code = 0;
        if (events->WaitForCompletion(50, &code) == S_OK) {
            if (code != EC_COMPLETE)
                throw ProbeError("playback failed (event " + std::to_string(code) + ")");
            break;
        }
        const size_t now = m_tap->Times().size();
        if (count && now >= count)
            break;
        if (now != seen) {
            seen = now;
            lastProgress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastProgress > std::chrono::milliseconds(kWaitMs)) {
            throw ProbeError("no frame for 10 s");
        }
    }
    Stop();
    auto times = m_tap->Times();
    if (count && times.size() > count)
        times.resize(count);
    return times;
}

REFERENCE_TIME ProbeGraph::PauseForStill()
{
    auto control = ComQuery<IMediaControl>(m_graph);
    if (FAILED(control->Pause()))
        throw ProbeError("cannot pause the graph");
    OAFilterState state = State_Stopped;
    if (control->GetState(kWaitMs, &state) != S_OK || state != State_Paused)
        throw ProbeError("no picture within 10 s");
    const auto times = m_tap->Times();
    if (times.empty())
        throw ProbeError("no picture at that time");
    return times.back();
}

std::vector<BYTE> ProbeGraph::CurrentImage()
{
    auto windowless = ComQuery<IVMRWindowlessControl9>(m_renderer);
    BYTE *dib = nullptr;
    if (!windowless || FAILED(windowless->GetCurrentImage(&dib)) || !dib)
        throw ProbeError("the renderer has no picture");
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    std::vector<BYTE> out(dib, dib + h.biSize + h.biSizeImage);
    CoTaskMemFree(dib);
    return out;
}

void ProbeGraph::Stop()
{
    if (m_graph)
        ComQuery<IMediaControl>(m_graph)->Stop();
}
