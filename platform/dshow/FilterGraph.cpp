// The filter graph: its filters, names and connections.
#include "platform/dshow/FilterGraph.h"

#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

namespace {

ComPtr<IBaseFilter> FilterOf(IPin *pin)
{
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

} // namespace

HRESULT CreateFilterGraph(REFIID riid, void **ppv)
{
    ComPtr<CFilterGraph> graph = MakeCom<CFilterGraph>();
    return graph->NonDelegatingQueryInterface(riid, ppv);
}

CFilterGraph::CFilterGraph() : m_owner(std::this_thread::get_id())
{
    m_window = AllocateHWnd([this](TMessage &m) {
        if (m.Msg == kRepaintMessage)
            RepaintIfPending();
    });
}

CFilterGraph::~CFilterGraph()
{
    ForgetGraphInRot(this);
    if (!m_descriptionFile.empty())
        std::remove(m_descriptionFile.c_str());
    m_descriptionFile.clear();
    Stop();
    RemoveAllFilters();
    FreeQueuedEvents();
    assert(std::this_thread::get_id() == m_owner && "a graph goes on the thread that made it");
    DeallocateHWnd(m_window);  // its queued repaint goes with it
}

HRESULT CFilterGraph::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IGraphBuilder || riid == IID_IFilterGraph || riid == IID_IUnknown)
        return GetInterface(static_cast<IGraphBuilder *>(this), ppv);
    if (riid == IID_IMediaControl)
        return GetInterface(static_cast<IMediaControl *>(this), ppv);
    if (riid == IID_IMediaSeeking)
        return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
    if (riid == IID_IMediaEventEx || riid == IID_IMediaEvent)
        return GetInterface(static_cast<IMediaEventEx *>(this), ppv);
    if (riid == IID_IMediaEventSink)
        return GetInterface(static_cast<IMediaEventSink *>(this), ppv);
    if (riid == IID_IMediaFilter || riid == IID_IPersist)
        return GetInterface(static_cast<IMediaFilter *>(this), ppv);
    if (riid == IID_IBasicAudio)
        return GetInterface(static_cast<IBasicAudio *>(this), ppv);
    if (riid == IID_IObjectWithSite)
        return GetInterface(static_cast<IObjectWithSite *>(this), ppv);
    if (riid == IID_IGraphSendGate)
        return GetInterface(static_cast<IGraphSendGate *>(this), ppv);
    if (riid == IID_IGraphInspection)
        return GetInterface(static_cast<IGraphInspection *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---- Filters --------------------------------------------------------------------

int CFilterGraph::FindEntry(IBaseFilter *pFilter) const
{
    for (size_t i = 0; i < m_filters.size(); ++i)
        if (m_filters[i].filter.Get() == pFilter)
            return static_cast<int>(i);
    for (size_t i = 0; i < m_filters.size(); ++i)
        if (IsEqualObject(m_filters[i].filter.Get(), pFilter))
            return static_cast<int>(i);
    return -1;
}

bool CFilterGraph::InGraph(IPin *pin) const
{
    ComPtr<IBaseFilter> filter = FilterOf(pin);
    return filter && FindEntry(filter.Get()) >= 0;
}

// "Name", else "Name 0001", "Name 0002" ... as the SDK's graph names them.
std::wstring CFilterGraph::UniqueName(LPCWSTR pName) const
{
    const std::wstring base = pName && *pName ? pName : L"Filter";
    const auto taken = [this](const std::wstring &name) {
        return std::any_of(m_filters.begin(), m_filters.end(),
                           [&](const Entry &e) { return e.name == name; });
    };
    if (!taken(base))
        return base;
    for (int n = 1;; ++n) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L" %04d", n);
        if (!taken(base + suffix))
            return base + suffix;
    }
}

HRESULT CFilterGraph::AddFilter(IBaseFilter *pFilter, LPCWSTR pName)
{
    if (!pFilter)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    if (FindEntry(pFilter) >= 0)
        return E_INVALIDARG;  // already ours
    std::wstring name = UniqueName(pName);
    const bool renamed = pName && *pName && name != pName;
    HRESULT hr = pFilter->JoinFilterGraph(this, name.c_str());
    if (FAILED(hr))
        return hr;
    pFilter->SetSyncSource(m_clock.Get());
    m_filters.push_back({pFilter, std::move(name)});
    TopologyChanged();
    return renamed ? VFW_S_DUPLICATE_NAME : S_OK;
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter *pFilter)
{
    if (!pFilter)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    const int index = FindEntry(pFilter);
    if (index < 0)
        return VFW_E_NOT_FOUND;
    if (m_state != GraphState::Stopped)
        return VFW_E_NOT_STOPPED;
    ComPtr<IBaseFilter> filter = m_filters[static_cast<size_t>(index)].filter;
    for (const ComPtr<IPin> &pin : dshow::PinsOf(filter.Get()))
        if (const ComPtr<IPin> peer = dshow::PeerOf(pin.Get())) {
            peer->Disconnect();
            pin->Disconnect();
        }
    filter->SetSyncSource(nullptr);
    filter->JoinFilterGraph(nullptr, nullptr);
    m_filters.erase(m_filters.begin() + index);
    TopologyChanged();
    return S_OK;
}

void CFilterGraph::RemoveAllFilters()
{
    CAutoLock lock(m_csGraph);
    while (!m_filters.empty())
        RemoveFilter(m_filters.back().filter.Get());
}

HRESULT CFilterGraph::EnumFilters(IEnumFilters **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    std::vector<ComPtr<IBaseFilter>> filters;
    for (const Entry &e : m_filters)
        filters.push_back(e.filter);
    *ppEnum = MakeCom<CEnumFilters>(std::move(filters), 0).Detach();
    return S_OK;
}

HRESULT CFilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter **ppFilter)
{
    if (!pName || !ppFilter)
        return E_POINTER;
    *ppFilter = nullptr;
    CAutoLock lock(m_csGraph);
    for (const Entry &e : m_filters)
        if (e.name == pName)
            return e.filter.CopyTo(ppFilter);
    return VFW_E_NOT_FOUND;
}

// ---- Connections ------------------------------------------------------------------

HRESULT CFilterGraph::ConnectDirect(IPin *ppinOut, IPin *ppinIn, const AM_MEDIA_TYPE *pmt)
{
    if (!ppinOut || !ppinIn)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    if (!InGraph(ppinOut) || !InGraph(ppinIn))
        return VFW_E_NOT_IN_GRAPH;
    if (m_state != GraphState::Stopped)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir;
    ppinOut->QueryDirection(&dir);
    if (dir != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    const HRESULT hr = ppinOut->Connect(ppinIn, pmt);
    if (SUCCEEDED(hr))
        TopologyChanged();
    return hr;
}

HRESULT CFilterGraph::Disconnect(IPin *ppin)
{
    if (!ppin)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    if (m_state != GraphState::Stopped)
        return VFW_E_NOT_STOPPED;
    const HRESULT hr = ppin->Disconnect();
    if (hr == S_OK)
        TopologyChanged();
    return hr;
}

HRESULT CFilterGraph::Reconnect(IPin *ppin)
{
    if (!ppin)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    ComPtr<IPin> peer;
    if (ppin->ConnectedTo(peer.ReleaseAndGetAddressOf()) != S_OK)
        return VFW_E_NOT_CONNECTED;
    CMediaType type;
    ppin->ConnectionMediaType(&type);
    PIN_DIRECTION dir;
    ppin->QueryDirection(&dir);
    IPin *out = dir == PINDIR_OUTPUT ? ppin : peer.Get();
    IPin *in = dir == PINDIR_OUTPUT ? peer.Get() : ppin;
    HRESULT hr = Disconnect(out);
    if (SUCCEEDED(hr))
        hr = Disconnect(in);
    return SUCCEEDED(hr) ? ConnectDirect(out, in, &type) : hr;
}

// Post-order over the downstream edges: a filter is listed after everything
// it feeds, so the renderers come first and the sources last.
std::vector<ComPtr<IBaseFilter>> CFilterGraph::DownstreamFirst() const
{
    std::vector<ComPtr<IBaseFilter>> order;
    std::set<IBaseFilter *> visited;
    std::function<void(IBaseFilter *)> visit = [&](IBaseFilter *filter) {
        if (!visited.insert(filter).second)
            return;
        for (const ComPtr<IPin> &pin : dshow::PinsOf(filter, PINDIR_OUTPUT))
            if (const ComPtr<IPin> peer = dshow::PeerOf(pin.Get())) {
                ComPtr<IBaseFilter> next = FilterOf(peer.Get());
                const int index = next ? FindEntry(next.Get()) : -1;
                if (index >= 0)
                    visit(m_filters[static_cast<size_t>(index)].filter.Get());
            }
        order.emplace_back(filter);
    };
    for (const Entry &e : m_filters)
        visit(e.filter.Get());
    return order;
}

void CFilterGraph::TopologyChanged()
{
    // Other sources (another file) start where they stand, not where the
    // ones a stop left were.
    if (m_resumePending && SeekableFilters() != m_resumeSources)
        ForgetResume();
    if (!m_descriptionFile.empty())
        WriteDescription();
}
