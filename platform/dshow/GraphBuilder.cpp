// Intelligent connect: IGraphBuilder::Connect and Render.
//
// Connect tries the direct connection first, then the filters already in the
// graph that have a free input and a free output (an application puts the
// decoder it wants there before connecting). Failing that, for each type the
// output pin offers (in its order), the catalogue's filters whose input takes
// that type are tried by merit, highest first: each is shown to the builder
// callback (SelectedFilter may veto it), created, shown again (CreatedFilter
// may veto the instance), added to the graph, connected from the output pin,
// and its outputs are connected on to the target, directly or again through
// the catalogue, a few levels deep at most. A filter that leads nowhere is
// removed again. Render does the same towards any renderer, trying filters
// already in the graph before the catalogue's.
#include "platform/dshow/FilterGraph.h"

#include "platform/dshow/FilterCatalogue.h"

#include <set>

namespace {

constexpr int kMaxDepth = 4;  // decoder chains are short; this bounds loops

std::vector<CMediaType> OfferedTypes(IPin *pin)
{
    std::vector<CMediaType> types;
    ComPtr<IEnumMediaTypes> e;
    if (FAILED(pin->EnumMediaTypes(e.ReleaseAndGetAddressOf())) || !e)
        return types;
    AM_MEDIA_TYPE *type = nullptr;
    while (e->Next(1, &type, nullptr) == S_OK && type) {
        types.push_back(*type);
        DeleteMediaType(type);
    }
    return types;
}

std::vector<ComPtr<IPin>> FreePins(IBaseFilter *filter, PIN_DIRECTION wanted, bool *anyOfKind = nullptr)
{
    std::vector<ComPtr<IPin>> pins = dshow::PinsOf(filter, wanted);
    if (anyOfKind)
        *anyOfKind = !pins.empty();
    std::erase_if(pins, [](const ComPtr<IPin> &pin) { return static_cast<bool>(dshow::PeerOf(pin.Get())); });
    return pins;
}

ComPtr<IBaseFilter> OwnerOf(IPin *pin)
{
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    return ComPtr<IBaseFilter>::Attach(info.pFilter);  // QueryPinInfo added the reference
}

} // namespace

ComPtr<IAMGraphBuilderCallback> CFilterGraph::BuilderCallback() const
{
    return m_site ? ComQuery<IAMGraphBuilderCallback>(m_site.Get()) : nullptr;
}

HRESULT CFilterGraph::SetSite(IUnknown *pUnkSite)
{
    CAutoLock lock(m_csGraph);
    m_site = pUnkSite;
    return S_OK;
}

HRESULT CFilterGraph::GetSite(REFIID riid, void **ppvSite)
{
    if (!ppvSite)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    *ppvSite = nullptr;
    return m_site ? m_site->QueryInterface(riid, ppvSite) : E_FAIL;
}

HRESULT CFilterGraph::Connect(IPin *ppinOut, IPin *ppinIn)
{
    if (!ppinOut || !ppinIn)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    if (!InGraph(ppinOut) || !InGraph(ppinIn))
        return VFW_E_NOT_IN_GRAPH;
    if (m_state != GraphState::Stopped)
        return VFW_E_NOT_STOPPED;
    if (SUCCEEDED(ConnectDirect(ppinOut, ppinIn, nullptr)))
        return S_OK;
    std::vector<ComPtr<IBaseFilter>> present;
    for (const Entry &e : m_filters)
        if (e.filter.Get() != OwnerOf(ppinOut).Get() && e.filter.Get() != OwnerOf(ppinIn).Get())
            present.push_back(e.filter);
    for (const ComPtr<IBaseFilter> &filter : present) {
        const auto outputs = FreePins(filter.Get(), PINDIR_OUTPUT);
        if (outputs.empty())
            continue;
        for (const ComPtr<IPin> &input : FreePins(filter.Get(), PINDIR_INPUT)) {
            if (FAILED(ConnectDirect(ppinOut, input.Get(), nullptr)))
                continue;
            for (const ComPtr<IPin> &out : outputs)
                if (SUCCEEDED(ConnectDirect(out.Get(), ppinIn, nullptr))
                    || SUCCEEDED(ConnectThroughCatalogue(out.Get(), ppinIn, 1)))
                    return S_OK;
            // It takes the stream but leads nowhere: it stays, unconnected.
            Disconnect(ppinOut);
            Disconnect(input.Get());
            break;
        }
    }
    return SUCCEEDED(ConnectThroughCatalogue(ppinOut, ppinIn, 0)) ? S_OK : VFW_E_CANNOT_CONNECT;
}

HRESULT CFilterGraph::ConnectThroughCatalogue(IPin *pOut, IPin *pIn, int depth)
{
    if (depth >= kMaxDepth)
        return VFW_E_CANNOT_CONNECT;
    std::vector<CMediaType> types = OfferedTypes(pOut);
    if (types.empty())
        types.emplace_back();  // a pin that offers nothing: any filter may take it
    std::set<CLSID> tried;
    for (const CMediaType &type : types) {
        for (const FilterRegistration &candidate : FiltersAccepting(type.majortype, type.subtype)) {
            if (!tried.insert(candidate.clsid).second)
                continue;
            if (SUCCEEDED(TryIntermediate(pOut, candidate, pIn, depth)))
                return S_OK;
        }
    }
    return VFW_E_CANNOT_CONNECT;
}

// One catalogue filter between pOut and pIn (or, with pIn null, on the way
// to a renderer). Leaves the graph as it was when it fails.
HRESULT CFilterGraph::TryIntermediate(IPin *pOut, const FilterRegistration &candidate, IPin *pIn, int depth)
{
    ComPtr<IAMGraphBuilderCallback> callback = BuilderCallback();
    if (callback && FAILED(callback->SelectedFilter(CreateCatalogueMoniker(candidate).Get())))
        return VFW_E_CANNOT_CONNECT;
    ComPtr<IBaseFilter> filter;
    if (FAILED(candidate.create(IID_IBaseFilter, filter.ReleaseAndGetVoidAddress())) || !filter)
        return VFW_E_CANNOT_CONNECT;
    if (callback && FAILED(callback->CreatedFilter(filter.Get())))
        return VFW_E_CANNOT_CONNECT;
    if (FAILED(AddFilter(filter.Get(), candidate.name.c_str())))
        return VFW_E_CANNOT_CONNECT;

    bool in = false;
    for (const ComPtr<IPin> &input : FreePins(filter.Get(), PINDIR_INPUT)) {
        if (SUCCEEDED(ConnectDirect(pOut, input.Get(), nullptr))) {
            in = true;
            break;
        }
    }
    if (in) {
        bool hasOutputs = false;
        const auto outputs = FreePins(filter.Get(), PINDIR_OUTPUT, &hasOutputs);
        if (!pIn && !hasOutputs)
            return S_OK;  // reached a renderer
        for (const ComPtr<IPin> &out : outputs) {
            const bool onward = pIn ? SUCCEEDED(ConnectDirect(out.Get(), pIn, nullptr))
                    || SUCCEEDED(ConnectThroughCatalogue(out.Get(), pIn, depth + 1))
                                    : SUCCEEDED(RenderPin(out.Get(), depth + 1));
            if (onward)
                return S_OK;
        }
    }
    RemoveFilter(filter.Get());
    return VFW_E_CANNOT_CONNECT;
}

HRESULT CFilterGraph::Render(IPin *ppinOut)
{
    if (!ppinOut)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    if (!InGraph(ppinOut))
        return VFW_E_NOT_IN_GRAPH;
    if (m_state != GraphState::Stopped)
        return VFW_E_NOT_STOPPED;
    ComPtr<IPin> peer;
    if (ppinOut->ConnectedTo(peer.ReleaseAndGetAddressOf()) == S_OK)
        return VFW_E_ALREADY_CONNECTED;
    return SUCCEEDED(RenderPin(ppinOut, 0)) ? S_OK : VFW_E_CANNOT_RENDER;
}

HRESULT CFilterGraph::RenderPin(IPin *pOut, int depth)
{
    if (depth >= kMaxDepth)
        return VFW_E_CANNOT_RENDER;
    // Filters already in the graph first: a renderer waiting for a stream.
    std::vector<ComPtr<IBaseFilter>> present;
    for (const Entry &e : m_filters)
        present.push_back(e.filter);
    for (const ComPtr<IBaseFilter> &filter : present) {
        bool hasOutputs = false;
        FreePins(filter.Get(), PINDIR_OUTPUT, &hasOutputs);
        if (hasOutputs)
            continue;  // only end points; chains come from the catalogue
        for (const ComPtr<IPin> &input : FreePins(filter.Get(), PINDIR_INPUT))
            if (SUCCEEDED(ConnectDirect(pOut, input.Get(), nullptr)))
                return S_OK;
    }
    std::vector<CMediaType> types = OfferedTypes(pOut);
    if (types.empty())
        types.emplace_back();
    std::set<CLSID> tried;
    for (const CMediaType &type : types) {
        for (const FilterRegistration &candidate : FiltersAccepting(type.majortype, type.subtype)) {
            if (!tried.insert(candidate.clsid).second)
                continue;
            if (SUCCEEDED(TryIntermediate(pOut, candidate, nullptr, depth)))
                return S_OK;
        }
    }
    return VFW_E_CANNOT_RENDER;
}

// The program makes its own sources (the media factory); files are not
// rendered by the graph.
HRESULT CFilterGraph::RenderFile(LPCWSTR, LPCWSTR) { return E_NOTIMPL; }
HRESULT CFilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter **ppFilter)
{
    if (ppFilter)
        *ppFilter = nullptr;
    return E_NOTIMPL;
}
HRESULT CFilterGraph::SetLogFile(DWORD_PTR) { return S_OK; }
HRESULT CFilterGraph::Abort() { return S_OK; }
HRESULT CFilterGraph::ShouldOperationContinue() { return S_OK; }
