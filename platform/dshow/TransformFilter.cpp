// The transform filter's states and locks.
//
// States are the filter's: Stopped, Paused, Running. The filter itself never
// waits for time; it works on the upstream thread, inside Receive, and
// blocks only where downstream blocks it (a full output allocator, a
// renderer holding the paused picture).
//
// Locks, in this order:
//   m_csFilter   the state lock: Stop, Pause, Run, connections (UI thread).
//   m_csReceive  the streaming lock: held by the streaming thread for the
//                whole of Receive and EndOfStream, so Stop can wait for a
//                sample in progress to finish by taking it.
// Flushing takes neither lock: it is how a streaming thread blocked
// downstream with m_csReceive held is released.
//
// The deadlock this avoids: Stop taking m_csReceive while the streaming
// thread holds it and waits for an output buffer or for the renderer. The
// graph stops downstream filters first, which releases a thread held by the
// renderer and decommits the allocator shared with the renderer; Stop then
// decommits the input allocator (an upstream thread waiting for a buffer
// there returns) before it takes m_csReceive.
#include "platform/dshow/TransformFilter.h"

#include <cstring>

void CopySampleProperties(IMediaSample *from, IMediaSample *to, bool withLength)
{
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timed = from->GetTime(&start, &stop);
    if (timed == S_OK)
        to->SetTime(&start, &stop);
    else if (timed == VFW_S_NO_STOP_TIME)
        to->SetTime(&start, nullptr);
    else
        to->SetTime(nullptr, nullptr);
    LONGLONG m0 = 0, m1 = 0;
    if (from->GetMediaTime(&m0, &m1) == S_OK)
        to->SetMediaTime(&m0, &m1);
    else
        to->SetMediaTime(nullptr, nullptr);
    to->SetSyncPoint(from->IsSyncPoint() == S_OK);
    to->SetPreroll(from->IsPreroll() == S_OK);
    to->SetDiscontinuity(from->IsDiscontinuity() == S_OK);
    if (withLength)
        to->SetActualDataLength(from->GetActualDataLength());
}

// ---- Pins -----------------------------------------------------------------------

CTransformInputPin::CTransformInputPin(CTransformFilter *pFilter, CCritSec *pLock, LPCWSTR pName)
    : CBaseInputPin(pFilter, pLock, pName), m_pTransformFilter(pFilter)
{
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType *pmt)
{
    HRESULT hr = m_pTransformFilter->CheckInputType(pmt);
    if (hr != S_OK)
        return hr;
    CTransformOutputPin *out = m_pTransformFilter->OutputPin();
    if (out && out->IsConnected())
        hr = m_pTransformFilter->CheckTransform(pmt, &out->CurrentMediaType());
    return hr;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType *pmt)
{
    const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    return FAILED(hr) ? hr : m_pTransformFilter->SetMediaType(PINDIR_INPUT, pmt);
}

HRESULT CTransformInputPin::CheckConnect(IPin *pPin)
{
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pPin);
    return FAILED(hr) ? hr : CBaseInputPin::CheckConnect(pPin);
}

HRESULT CTransformInputPin::BreakConnect()
{
    m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin *pReceivePin)
{
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, pReceivePin);
    return FAILED(hr) ? hr : CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformInputPin::Receive(IMediaSample *pSample)
{
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    return hr != S_OK ? hr : m_pTransformFilter->Receive(pSample);
}

HRESULT CTransformInputPin::EndOfStream()
{
    const HRESULT hr = CheckStreaming();
    return hr != S_OK ? hr : m_pTransformFilter->EndOfStream();
}

HRESULT CTransformInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush()
{
    const HRESULT hr = m_pTransformFilter->EndFlush();
    CBaseInputPin::EndFlush();
    return hr;
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    CBasePin::NewSegment(tStart, tStop, dRate);
    return m_pTransformFilter->NewSegment(tStart, tStop, dRate);
}

CTransformOutputPin::CTransformOutputPin(CTransformFilter *pFilter, CCritSec *pLock, LPCWSTR pName)
    : CBaseOutputPin(pFilter, pLock, pName), m_pTransformFilter(pFilter)
{
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType *pmt)
{
    CTransformInputPin *in = m_pTransformFilter->InputPin();
    if (!in->IsConnected())
        return E_UNEXPECTED;
    return m_pTransformFilter->CheckTransform(&in->CurrentMediaType(), pmt);
}

HRESULT CTransformOutputPin::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    // Nothing to offer yet: an empty list, not an error, so enumerating the
    // pin's types before the input connects simply finds none.
    if (!m_pTransformFilter->InputPin()->IsConnected())
        return iPosition < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
    return m_pTransformFilter->GetMediaType(iPosition, pMediaType);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType *pmt)
{
    const HRESULT hr = CBaseOutputPin::SetMediaType(pmt);
    return FAILED(hr) ? hr : m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::CheckConnect(IPin *pPin)
{
    // Output types follow from the input's: connect the input first.
    if (!m_pTransformFilter->InputPin()->IsConnected())
        return E_UNEXPECTED;
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pPin);
    return FAILED(hr) ? hr : CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CTransformOutputPin::BreakConnect()
{
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin *pReceivePin)
{
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pReceivePin);
    return FAILED(hr) ? hr : CBaseOutputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp)
{
    return m_pTransformFilter->DecideBufferSize(pAlloc, pProp);
}

// ---- CTransformFilter -----------------------------------------------------------

CTransformFilter::CTransformFilter(LPCWSTR pName, REFCLSID clsid)
    : CBaseFilter(pName, &m_csFilter, clsid),
      m_pInput(std::make_unique<CTransformInputPin>(this, &m_csFilter, L"XForm In")),
      m_pOutput(std::make_unique<CTransformOutputPin>(this, &m_csFilter, L"XForm Out"))
{
}

CTransformFilter::~CTransformFilter() = default;

CBasePin *CTransformFilter::GetPin(int n)
{
    if (n == 0)
        return m_pInput.get();
    if (n == 1)
        return m_pOutput.get();
    return nullptr;
}

HRESULT CTransformFilter::Stop()
{
    CAutoLock lck1(m_csFilter);
    if (IsStopped())
        return S_OK;
    if (!m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State.store(State_Stopped, std::memory_order_release);
        m_bEOSDelivered = false;
        return S_OK;
    }
    m_pInput->Inactive();  // before the streaming lock: see the essay
    CAutoLock lck2(m_csReceive);
    m_pOutput->Inactive();
    const HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State.store(State_Stopped, std::memory_order_release);
        m_bEOSDelivered = false;
    }
    return hr;
}

HRESULT CTransformFilter::Pause()
{
    CAutoLock lck(m_csFilter);
    HRESULT hr = S_OK;
    if (!m_pInput->IsConnected()) {
        // Nothing will come: let the renderers below complete their pause.
        if (m_pOutput->IsConnected() && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = true;
        }
        m_State.store(State_Paused, std::memory_order_release);
    } else if (!m_pOutput->IsConnected()) {
        m_State.store(State_Paused, std::memory_order_release);
    } else {
        if (IsStopped()) {
            // No streaming thread yet. From Running, one may sit in Receive
            // with the streaming lock, held by the renderer: not taken then.
            CAutoLock lck2(m_csReceive);
            m_bSampleSkipped = false;
            m_bQualityChanged = false;
            hr = StartStreaming();
        }
        if (SUCCEEDED(hr))
            hr = CBaseFilter::Pause();
    }
    return hr;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample *pSample, IMediaSample **ppOutSample)
{
    *ppOutSample = nullptr;
    ComPtr<IMediaSample> out;
    const DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(out.ReleaseAndGetAddressOf(), nullptr, nullptr, flags);
    if (FAILED(hr))
        return hr;
    CopySampleProperties(pSample, out.Get(), false);
    if (m_bSampleSkipped)
        out->SetDiscontinuity(TRUE);
    *ppOutSample = out.Detach();
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample *pSample)
{
    CAutoLock lck(m_csReceive);
    m_pInput->ApplySampleType(pSample);
    ComPtr<IMediaSample> out;
    HRESULT hr = InitializeOutputSample(pSample, out.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    return DeliverTransformed(Transform(pSample, out.Get()), out.Get());
}

HRESULT CTransformFilter::DeliverTransformed(HRESULT transformed, IMediaSample *pOut)
{
    CritCheckIn(m_csReceive);
    if (FAILED(transformed)) {
        NotifyEvent(EC_ERRORABORT, transformed, 0);
        return transformed;
    }
    if (transformed == S_FALSE) {
        // Dropped on purpose: the next sample tells downstream it was.
        m_bSampleSkipped = true;
        if (!m_bQualityChanged) {
            NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
            m_bQualityChanged = true;
        }
        return S_OK;
    }
    m_bSampleSkipped = false;
    return m_pOutput->Deliver(pOut);
}

HRESULT CTransformFilter::EndOfStream()
{
    CAutoLock lck(m_csReceive);
    return m_pOutput->DeliverEndOfStream();
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    return m_pOutput->DeliverNewSegment(tStart, tStop, dRate);
}

HRESULT CTransformFilter::BeginFlush() { return m_pOutput->DeliverBeginFlush(); }
HRESULT CTransformFilter::EndFlush() { return m_pOutput->DeliverEndFlush(); }

HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType *) { return S_OK; }
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, IPin *) { return S_OK; }
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) { return S_OK; }
HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, IPin *) { return S_OK; }
HRESULT CTransformFilter::StartStreaming() { return S_OK; }
HRESULT CTransformFilter::StopStreaming() { return S_OK; }
