#include "platform/dshow/Pins.h"

#include "platform/dshow/Allocator.h"
#include "platform/dshow/Control.h"

namespace {
// A refused type says nothing: the caller hears VFW_E_NO_ACCEPTABLE_TYPES
// unless some attempt failed for a more particular reason.
bool IsTellingFailure(HRESULT hr)
{
    return hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED
        && hr != VFW_E_NO_ACCEPTABLE_TYPES;
}
} // namespace

// ---- CBasePin -------------------------------------------------------------------

CBasePin::CBasePin(CBaseFilter *pFilter, CCritSec *pLock, LPCWSTR pName, PIN_DIRECTION dir)
    : CUnknown(static_cast<IBaseFilter *>(pFilter)),
      m_pFilter(pFilter),
      m_pLock(pLock),
      m_name(pName ? pName : L""),
      m_dir(dir)
{
}

CBasePin::~CBasePin() = default;

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IPin || riid == IID_IUnknown)
        return GetInterface(static_cast<IPin *>(this), ppv);
    if (riid == IID_IKsPropertySet && m_category != GUID_NULL)
        return GetInterface(static_cast<IKsPropertySet *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBasePin::Connect(IPin *pReceivePin, const AM_MEDIA_TYPE *pmt)
{
    if (!pReceivePin)
        return E_POINTER;
    CAutoLock lock(*m_pLock);
    if (m_Connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    return AgreeMediaType(pReceivePin, pmt);
}

HRESULT CBasePin::AgreeMediaType(IPin *pReceivePin, const CMediaType *pmt)
{
    if (pmt && !pmt->IsPartiallySpecified())
        return AttemptConnection(pReceivePin, pmt);

    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (IPin *source : {pReceivePin, static_cast<IPin *>(this)}) {
        ComPtr<IEnumMediaTypes> types;
        if (FAILED(source->EnumMediaTypes(types.ReleaseAndGetAddressOf())) || !types)
            continue;
        const HRESULT hr = TryMediaTypes(pReceivePin, pmt, types.Get());
        if (SUCCEEDED(hr))
            return hr;
        if (IsTellingFailure(hr))
            last = hr;
    }
    return last;
}

// Each enumerated type that fits the partial type, until one connects.
HRESULT CBasePin::TryMediaTypes(IPin *pReceivePin, const CMediaType *pmt, IEnumMediaTypes *pEnum)
{
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE *candidate = nullptr;
        ULONG fetched = 0;
        if (pEnum->Next(1, &candidate, &fetched) != S_OK || !candidate)
            return last;
        const CMediaType type = *candidate;
        DeleteMediaType(candidate);
        if (pmt && !type.MatchesPartial(*pmt))
            continue;
        const HRESULT hr = AttemptConnection(pReceivePin, &type);
        if (SUCCEEDED(hr))
            return hr;
        if (IsTellingFailure(hr))
            last = hr;
    }
}

HRESULT CBasePin::AttemptConnection(IPin *pReceivePin, const CMediaType *pmt)
{
    CritCheckIn(*m_pLock);
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != S_OK) {
        BreakConnect();
        return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    m_Connected = pReceivePin;
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
        hr = pReceivePin->ReceiveConnection(this, pmt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(pReceivePin);
            if (SUCCEEDED(hr))
                return S_OK;
            pReceivePin->Disconnect();
        }
    }
    m_Connected.Reset();
    ClearMediaType();
    BreakConnect();
    return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin *pConnector, const AM_MEDIA_TYPE *pmt)
{
    if (!pConnector || !pmt)
        return E_POINTER;
    CAutoLock lock(*m_pLock);
    if (m_Connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (SUCCEEDED(hr)) {
        hr = CheckMediaType(pmt);
        if (hr == S_OK) {
            m_Connected = pConnector;
            hr = SetMediaType(pmt);
            if (SUCCEEDED(hr))
                hr = CompleteConnect(pConnector);
            if (SUCCEEDED(hr))
                return S_OK;
            m_Connected.Reset();
            ClearMediaType();
        } else if (SUCCEEDED(hr)) {
            hr = VFW_E_TYPE_NOT_ACCEPTED;
        }
    }
    BreakConnect();
    return hr;
}

HRESULT CBasePin::Disconnect()
{
    CAutoLock lock(*m_pLock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal()
{
    CritCheckIn(*m_pLock);
    if (!m_Connected)
        return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr))
        return hr;
    m_Connected.Reset();
    ClearMediaType();
    return S_OK;
}

// No state lock: the peer only changes while the filter is stopped, and a
// streaming thread asking (inside Transform or DoRenderSample, with its
// streaming lock held) must not wait for the state lock.
HRESULT CBasePin::ConnectedTo(IPin **pPin)
{
    if (!pPin)
        return E_POINTER;
    m_Connected.CopyTo(pPin);
    return m_Connected ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE *pmt)
{
    if (!pmt)
        return E_POINTER;
    if (!m_Connected) {
        pmt->InitMediaType();
        return VFW_E_NOT_CONNECTED;
    }
    std::lock_guard lock(m_mtLock);  // a sample may change the type meanwhile
    *pmt = m_mt;
    return S_OK;
}

void CBasePin::ClearMediaType()
{
    std::lock_guard lock(m_mtLock);
    m_mt.InitMediaType();
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO *pInfo)
{
    if (!pInfo)
        return E_POINTER;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    pInfo->dir = m_dir;
    CopyName(pInfo->achName, MAX_PIN_NAME, m_name);
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION *pPinDir)
{
    if (!pPinDir)
        return E_POINTER;
    *pPinDir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE *pmt)
{
    if (!pmt)
        return E_POINTER;
    const HRESULT hr = CheckMediaType(pmt);
    return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    std::vector<CMediaType> types;
    constexpr int kMaxTypes = 1024;  // a runaway GetMediaType ends here
    for (int i = 0; i < kMaxTypes; ++i) {
        CMediaType type;
        if (GetMediaType(i, &type) != S_OK)
            break;
        types.push_back(std::move(type));
    }
    *ppEnum = MakeCom<CEnumMediaTypes>(std::move(types)).Detach();
    return S_OK;
}

HRESULT CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int iPosition, CMediaType *)
{
    return iPosition < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT CBasePin::SetMediaType(const CMediaType *pmt)
{
    std::lock_guard lock(m_mtLock);
    m_mt = *pmt;
    return S_OK;
}

HRESULT CBasePin::CheckConnect(IPin *pPin)
{
    PIN_DIRECTION dir;
    const HRESULT hr = pPin->QueryDirection(&dir);
    if (FAILED(hr))
        return hr;
    return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin *) { return S_OK; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() { return S_OK; }

HRESULT CBasePin::Set(REFGUID, DWORD, void *, DWORD, void *, DWORD) { return E_NOTIMPL; }

HRESULT CBasePin::Get(REFGUID guidPropSet, DWORD dwPropID, void *, DWORD, void *pPropData,
                      DWORD cbPropData, DWORD *pcbReturned)
{
    if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_NOTIMPL;
    if (pcbReturned)
        *pcbReturned = sizeof(GUID);
    if (!pPropData)
        return S_OK;  // asking for the size
    if (cbPropData < sizeof(GUID))
        return E_UNEXPECTED;
    *static_cast<GUID *>(pPropData) = m_category;
    return S_OK;
}

HRESULT CBasePin::QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD *pTypeSupport)
{
    if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_NOTIMPL;
    if (pTypeSupport)
        *pTypeSupport = 1;  // KSPROPERTY_SUPPORT_GET
    return S_OK;
}

// ---- CBaseOutputPin -------------------------------------------------------------

CBaseOutputPin::CBaseOutputPin(CBaseFilter *pFilter, CCritSec *pLock, LPCWSTR pName)
    : CBasePin(pFilter, pLock, pName, PINDIR_OUTPUT)
{
}

HRESULT CBaseOutputPin::CheckConnect(IPin *pPin)
{
    const HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr))
        return hr;
    m_pInputPin = ComQuery<IMemInputPin>(pPin);
    return m_pInputPin ? S_OK : VFW_E_NO_TRANSPORT;
}

HRESULT CBaseOutputPin::BreakConnect()
{
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator.Reset();
    }
    m_pInputPin.Reset();
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin *)
{
    return DecideAllocator(m_pInputPin.Get(), m_pAllocator.ReleaseAndGetAddressOf());
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin *pPin, IMemAllocator **ppAlloc)
{
    *ppAlloc = nullptr;
    ALLOCATOR_PROPERTIES props{};
    pPin->GetAllocatorRequirements(&props);  // E_NOTIMPL leaves zeros
    if (props.cbAlign == 0)
        props.cbAlign = 1;

    ComPtr<IMemAllocator> alloc;
    if (SUCCEEDED(pPin->GetAllocator(alloc.ReleaseAndGetAddressOf())) && alloc) {
        ALLOCATOR_PROPERTIES tried = props;
        if (SUCCEEDED(DecideBufferSize(alloc.Get(), &tried))
            && SUCCEEDED(pPin->NotifyAllocator(alloc.Get(), FALSE))) {
            *ppAlloc = alloc.Detach();
            return S_OK;
        }
    }
    HRESULT hr = InitAllocator(alloc.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    hr = DecideBufferSize(alloc.Get(), &props);
    if (FAILED(hr))
        return hr;
    hr = pPin->NotifyAllocator(alloc.Get(), FALSE);
    if (FAILED(hr))
        return hr;
    *ppAlloc = alloc.Detach();
    return S_OK;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator **ppAlloc)
{
    *ppAlloc = MakeCom<CMemAllocator>().Detach();
    return S_OK;
}

HRESULT CBaseOutputPin::Active()
{
    if (!m_pAllocator)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive()
{
    if (!m_pAllocator)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample **ppSample, REFERENCE_TIME *pStartTime,
                                          REFERENCE_TIME *pEndTime, DWORD dwFlags)
{
    if (!m_pAllocator)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample *pSample)
{
    if (!m_pInputPin)
        return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream()
{
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    CBasePin::NewSegment(tStart, tStop, dRate);
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::DeliverBeginFlush()
{
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush()
{
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}

// ---- CBaseInputPin --------------------------------------------------------------

CBaseInputPin::CBaseInputPin(CBaseFilter *pFilter, CCritSec *pLock, LPCWSTR pName)
    : CBasePin(pFilter, pLock, pName, PINDIR_INPUT)
{
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IMemInputPin)
        return GetInterface(static_cast<IMemInputPin *>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator **ppAllocator)
{
    if (!ppAllocator)
        return E_POINTER;
    CAutoLock lock(*m_pLock);
    if (!m_pAllocator)
        m_pAllocator = MakeCom<CMemAllocator>();
    return m_pAllocator.CopyTo(ppAllocator);
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator *pAllocator, BOOL bReadOnly)
{
    CAutoLock lock(*m_pLock);
    m_pAllocator = pAllocator;
    m_bReadOnly = bReadOnly != FALSE;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming()
{
    if (IsStopped())
        return VFW_E_WRONG_STATE;
    if (IsFlushing())
        return S_FALSE;
    if (m_bRunTimeError.load(std::memory_order_acquire))
        return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample *pSample)
{
    if (!pSample)
        return E_POINTER;
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    AM_MEDIA_TYPE *type = nullptr;
    if (pSample->GetMediaType(&type) == S_OK && type) {
        // A type change travels with the sample; it must suit this pin.
        const CMediaType changed = *type;
        DeleteMediaType(type);
        if (CheckMediaType(&changed) != S_OK) {
            m_bRunTimeError.store(true, std::memory_order_release);
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return S_OK;
}

HRESULT CBaseInputPin::ApplySampleType(IMediaSample *pSample)
{
    AM_MEDIA_TYPE *type = nullptr;
    if (pSample->GetMediaType(&type) != S_OK || !type)
        return S_FALSE;
    const CMediaType changed = *type;
    DeleteMediaType(type);
    return SetMediaType(&changed);
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample **pSamples, LONG nSamples, LONG *nSamplesProcessed)
{
    if (!pSamples || !nSamplesProcessed)
        return E_POINTER;
    HRESULT hr = S_OK;
    *nSamplesProcessed = 0;
    while (*nSamplesProcessed < nSamples) {
        hr = Receive(pSamples[*nSamplesProcessed]);
        if (hr != S_OK)
            break;
        ++*nSamplesProcessed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() { return S_OK; }

HRESULT CBaseInputPin::BeginFlush()
{
    m_bFlushing.store(true, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush()
{
    m_bRunTimeError.store(false, std::memory_order_release);
    m_bFlushing.store(false, std::memory_order_release);
    return S_OK;
}

HRESULT CBaseInputPin::EndOfStream() { return CheckStreaming(); }

HRESULT CBaseInputPin::BreakConnect()
{
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator.Reset();
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive()
{
    m_bRunTimeError.store(false, std::memory_order_release);
    m_bFlushing.store(false, std::memory_order_release);
    if (m_pAllocator)
        return m_pAllocator->Decommit();
    return S_OK;
}
