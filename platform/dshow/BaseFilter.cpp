#include "platform/dshow/BaseFilter.h"

#include "platform/dshow/Control.h"
#include "platform/dshow/Pins.h"

#include <algorithm>
#include <cstring>

void CopyName(WCHAR *dest, size_t capacity, const std::wstring &name)
{
    const size_t n = std::min(name.size(), capacity - 1);
    std::copy_n(name.data(), n, dest);
    dest[n] = L'\0';
}

// ---- CBaseFilter ----------------------------------------------------------------

CBaseFilter::CBaseFilter(LPCWSTR pName, CCritSec *pLock, REFCLSID clsid)
    : m_pLock(pLock), m_clsid(clsid), m_name(pName ? pName : L"")
{
}

CBaseFilter::~CBaseFilter() = default;

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist
        || riid == IID_IUnknown)
        return GetInterface(static_cast<IBaseFilter *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID *pClassID)
{
    if (!pClassID)
        return E_POINTER;
    *pClassID = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop()
{
    CAutoLock lock(*m_pLock);
    HRESULT result = S_OK;
    if (!IsStopped()) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin *pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result))
                    result = hr;
            }
        }
    }
    m_State.store(State_Stopped, std::memory_order_release);
    return result;
}

HRESULT CBaseFilter::Pause()
{
    CAutoLock lock(*m_pLock);
    if (IsStopped()) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin *pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_State.store(State_Paused, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME tStart)
{
    CAutoLock lock(*m_pLock);
    m_tStart = tStart;
    if (IsStopped()) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    m_State.store(State_Running, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE *State)
{
    if (!State)
        return E_POINTER;
    *State = m_State.load(std::memory_order_acquire);
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock *pClock)
{
    CAutoLock lock(*m_pLock);
    m_pClock = pClock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock **pClock)
{
    if (!pClock)
        return E_POINTER;
    CAutoLock lock(*m_pLock);
    return m_pClock.CopyTo(pClock);
}

HRESULT CBaseFilter::EnumPins(IEnumPins **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    std::vector<ComPtr<IPin>> pins;
    for (int i = 0; i < GetPinCount(); ++i)
        if (CBasePin *pin = GetPin(i))
            pins.emplace_back(static_cast<IPin *>(pin));
    *ppEnum = MakeCom<CEnumPins>(std::move(pins)).Detach();
    return S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR Id, IPin **ppPin)
{
    if (!Id || !ppPin)
        return E_POINTER;
    *ppPin = nullptr;
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin *pin = GetPin(i);
        if (pin && pin->Name() == Id) {
            *ppPin = pin;
            pin->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO *pInfo)
{
    if (!pInfo)
        return E_POINTER;
    CAutoLock lock(*m_pLock);
    CopyName(pInfo->achName, MAX_FILTER_NAME, m_name);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph)
        m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph *pGraph, LPCWSTR pName)
{
    CAutoLock lock(*m_pLock);
    m_pGraph = pGraph;
    m_pSink = nullptr;
    m_pSendGate = nullptr;
    if (pGraph) {
        // Kept without a reference: the graph outlives its membership.
        if (auto sink = ComQuery<IMediaEventSink>(pGraph))
            m_pSink = sink.Get();
        if (auto gate = ComQuery<IGraphSendGate>(pGraph))
            m_pSendGate = gate->GetSendGate();
        m_name = pName ? pName : L"";
    }
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR *) { return E_NOTIMPL; }

std::wstring CBaseFilter::Name() const
{
    CAutoLock lock(*m_pLock);
    return m_name;
}

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2)
{
    IMediaEventSink *sink = m_pSink;
    if (!sink)
        return E_NOTIMPL;
    // EC_COMPLETE carries the renderer: default it to us, as the SDK does.
    if (EventCode == EC_COMPLETE && EventParam2 == 0)
        EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this));
    return sink->Notify(EventCode, EventParam1, EventParam2);
}

LRESULT CBaseFilter::SendGraphMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessage(wnd, msg, wParam, lParam, m_pSendGate);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME &rtStream)
{
    if (!m_pClock)
        return VFW_E_NO_CLOCK;
    const HRESULT hr = m_pClock->GetTime(&rtStream);
    if (FAILED(hr))
        return hr;
    rtStream -= m_tStart;
    return S_OK;
}
