#include "platform/dshow/FanOutFilter.h"

#include "platform/dshow/TransformFilter.h"

#include <algorithm>
#include <cstring>



// ---- Input ----------------------------------------------------------------------------

CFanOutInputPin::CFanOutInputPin(CFanOutFilter *filter, CCritSec *lock, LPCWSTR name)
    : CBaseInputPin(filter, lock, name), m_fan(filter)
{
}

HRESULT CFanOutInputPin::CheckMediaType(const CMediaType *pmt) { return m_fan->CheckInputType(pmt); }

HRESULT CFanOutInputPin::CompleteConnect(IPin *pReceivePin)
{
    const HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
    return FAILED(hr) ? hr : m_fan->InputConnected(CurrentMediaType());
}

HRESULT CFanOutInputPin::BreakConnect()
{
    m_fan->InputDisconnected();
    return CBaseInputPin::BreakConnect();
}

HRESULT CFanOutInputPin::Receive(IMediaSample *pSample)
{
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    CAutoLock lock(m_fan->m_csReceive);
    ApplySampleType(pSample);
    hr = m_fan->Process(pSample);
    if (FAILED(hr))
        m_bRunTimeError.store(true);
    return hr;
}

HRESULT CFanOutInputPin::EndOfStream()
{
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    CAutoLock lock(m_fan->m_csReceive);
    for (const auto &out : m_fan->m_outputs)
        if (out->IsConnected())
            out->Queue().QueueEndOfStream();
    return S_OK;
}

HRESULT CFanOutInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    for (const auto &out : m_fan->m_outputs)
        if (out->IsConnected())
            out->Queue().BeginFlush();
    return S_OK;
}

HRESULT CFanOutInputPin::EndFlush()
{
    {
        // The upstream thread is out of Receive: the flush released it.
        CAutoLock lock(m_fan->m_csReceive);
        m_fan->ResetStream();
    }
    for (const auto &out : m_fan->m_outputs)
        if (out->IsConnected())
            out->Queue().EndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CFanOutInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    CBasePin::NewSegment(tStart, tStop, dRate);
    for (const auto &out : m_fan->m_outputs)
        if (out->IsConnected())
            out->Queue().QueueNewSegment(tStart, tStop, dRate);
    return S_OK;
}

// ---- Outputs ----------------------------------------------------------------------------

CFanOutOutputPin::CFanOutOutputPin(CFanOutFilter *filter, CCritSec *lock, LPCWSTR name, int index)
    : CBaseOutputPin(filter, lock, name), m_fan(filter), m_index(index), m_queue(this)
{
}

HRESULT CFanOutOutputPin::Active()
{
    const HRESULT hr = CBaseOutputPin::Active();
    if (SUCCEEDED(hr))
        m_queue.Start();
    return hr;
}

// Decommitting first releases a producer waiting for a buffer; downstream
// has stopped already, so the delivery thread is free to end.
HRESULT CFanOutOutputPin::Inactive()
{
    const HRESULT hr = CBaseOutputPin::Inactive();
    m_queue.Stop();
    return hr;
}

HRESULT CFanOutOutputPin::CheckMediaType(const CMediaType *pmt)
{
    CMediaType offered;
    if (!m_fan->OutputType(m_index, &offered))
        return VFW_E_NOT_CONNECTED;
    return *pmt == offered ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CFanOutOutputPin::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0 || !m_fan->OutputType(m_index, pMediaType))
        return VFW_S_NO_MORE_ITEMS;
    return S_OK;
}

HRESULT CFanOutOutputPin::DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProps)
{
    LONG count = 1, size = 1;
    m_fan->OutputBuffers(m_index, &count, &size);
    pProps->cBuffers = std::max(pProps->cBuffers, count);
    pProps->cbBuffer = std::max(pProps->cbBuffer, size);
    pProps->cbAlign = std::max<LONG>(pProps->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pProps, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < size ? E_FAIL : S_OK;
}

// ---- Filter -------------------------------------------------------------------------------

CFanOutFilter::CFanOutFilter(LPCWSTR name, REFCLSID clsid, const std::vector<std::wstring> &outputs)
    : CBaseFilter(name, &m_csFilter, clsid), m_input(std::make_unique<CFanOutInputPin>(this, &m_csFilter, L"Input"))
{
    for (size_t i = 0; i < outputs.size(); ++i)
        m_outputs.push_back(
            std::make_unique<CFanOutOutputPin>(this, &m_csFilter, outputs[i].c_str(), static_cast<int>(i)));
}

CFanOutFilter::~CFanOutFilter() = default;

CBasePin *CFanOutFilter::GetPin(int n)
{
    if (n == 0)
        return m_input.get();
    if (n < 1 || n > static_cast<int>(m_outputs.size()))
        return nullptr;
    return m_outputs[static_cast<size_t>(n - 1)].get();
}

HRESULT CFanOutFilter::Stop()
{
    CAutoLock lock(m_csFilter);
    const HRESULT hr = CBaseFilter::Stop();
    CAutoLock streaming(m_csReceive);
    ResetStream();
    return hr;
}

HRESULT CFanOutFilter::DeliverCopy(int index, IMediaSample *from, const BYTE *data, LONG length)
{
    CFanOutOutputPin *out = OutputPin(index);
    if (!out->IsConnected())
        return S_OK;
    ComPtr<IMediaSample> sample;
    HRESULT hr = out->GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    CopySampleProperties(from, sample.Get(), false);
    if (data) {
        if (length > sample->GetSize())
            return E_FAIL;
        BYTE *p = nullptr;
        sample->GetPointer(&p);
        std::memcpy(p, data, static_cast<size_t>(length));
        sample->SetActualDataLength(length);
    }
    return out->Queue().QueueSample(sample.Get());
}
