#include "platform/dshow/TransInPlace.h"

#include <algorithm>
#include <cstring>

// ---- CTransInPlaceInputPin ------------------------------------------------------

CTransInPlaceInputPin::CTransInPlaceInputPin(CTransInPlaceFilter *pFilter, CCritSec *pLock, LPCWSTR pName)
    : CTransformInputPin(pFilter, pLock, pName), m_pTIPFilter(pFilter)
{
}

HRESULT CTransInPlaceInputPin::GetAllocator(IMemAllocator **ppAllocator)
{
    if (!ppAllocator)
        return E_POINTER;
    CAutoLock lock(*m_pLock);
    if (IMemInputPin *downstream = m_pTIPFilter->InPlaceOutput()->ConnectedMemInputPin())
        return downstream->GetAllocator(ppAllocator);
    return CTransformInputPin::GetAllocator(ppAllocator);
}

HRESULT CTransInPlaceInputPin::NotifyAllocator(IMemAllocator *pAllocator, BOOL bReadOnly)
{
    CAutoLock lock(*m_pLock);
    HRESULT hr = CTransformInputPin::NotifyAllocator(pAllocator, bReadOnly);
    if (FAILED(hr))
        return hr;
    CTransInPlaceOutputPin *out = m_pTIPFilter->InPlaceOutput();
    IMemInputPin *downstream = out->ConnectedMemInputPin();
    if (downstream && pAllocator != out->Allocator()
        && SUCCEEDED(downstream->NotifyAllocator(pAllocator, bReadOnly)))
        out->ReplaceAllocator(pAllocator);
    return S_OK;
}

HRESULT CTransInPlaceInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *pProps)
{
    if (IMemInputPin *downstream = m_pTIPFilter->InPlaceOutput()->ConnectedMemInputPin())
        return downstream->GetAllocatorRequirements(pProps);
    return E_NOTIMPL;
}

HRESULT CTransInPlaceInputPin::EnumMediaTypes(IEnumMediaTypes **ppEnum)
{
    CTransInPlaceOutputPin *out = m_pTIPFilter->InPlaceOutput();
    if (out->IsConnected())
        return out->GetConnected()->EnumMediaTypes(ppEnum);
    return CTransformInputPin::EnumMediaTypes(ppEnum);
}

HRESULT CTransInPlaceInputPin::CheckMediaType(const CMediaType *pmt)
{
    const HRESULT hr = m_pTIPFilter->CheckInputType(pmt);
    if (hr != S_OK)
        return hr;
    // The type passes through: downstream must take it as it is.
    CTransInPlaceOutputPin *out = m_pTIPFilter->InPlaceOutput();
    if (out->IsConnected())
        return out->GetConnected()->QueryAccept(pmt) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

// ---- CTransInPlaceOutputPin -----------------------------------------------------

CTransInPlaceOutputPin::CTransInPlaceOutputPin(CTransInPlaceFilter *pFilter, CCritSec *pLock, LPCWSTR pName)
    : CTransformOutputPin(pFilter, pLock, pName), m_pTIPFilter(pFilter)
{
}

HRESULT CTransInPlaceOutputPin::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_ISampleTimeOrder)
        return GetInterface(static_cast<ISampleTimeOrder *>(this), ppv);
    return CTransformOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

bool CTransInPlaceOutputPin::DecodingOrder()
{
    auto upstream = ComQuery<ISampleTimeOrder>(ComPtr<IPin>(m_pTIPFilter->InPlaceInput()->GetConnected()));
    return upstream && upstream->DecodingOrder();
}

HRESULT CTransInPlaceOutputPin::DecideAllocator(IMemInputPin *pPin, IMemAllocator **ppAlloc)
{
    *ppAlloc = nullptr;
    IMemAllocator *shared = m_pTIPFilter->InPlaceInput()->PeekAllocator();
    if (shared) {
        // One set of buffers for both connections: large enough for both.
        ALLOCATOR_PROPERTIES want{}, have{}, got{};
        pPin->GetAllocatorRequirements(&want);
        shared->GetProperties(&have);
        have.cBuffers = std::max(have.cBuffers, want.cBuffers);
        have.cbBuffer = std::max(have.cbBuffer, want.cbBuffer);
        have.cbAlign = std::max({have.cbAlign, want.cbAlign, LONG{1}});
        have.cbPrefix = std::max(have.cbPrefix, want.cbPrefix);
        shared->SetProperties(&have, &got);  // refused once committed: keep as is
        if (SUCCEEDED(pPin->NotifyAllocator(shared, FALSE))) {
            *ppAlloc = shared;
            shared->AddRef();
            return S_OK;
        }
    }
    return CTransformOutputPin::DecideAllocator(pPin, ppAlloc);
}

// ---- CTransInPlaceFilter --------------------------------------------------------

CTransInPlaceFilter::CTransInPlaceFilter(LPCWSTR pName, REFCLSID clsid, bool bModifiesData)
    : CTransformFilter(pName, clsid), m_bModifiesData(bModifiesData)
{
    m_pInput = std::make_unique<CTransInPlaceInputPin>(this, &m_csFilter, L"Input");
    m_pOutput = std::make_unique<CTransInPlaceOutputPin>(this, &m_csFilter, L"Output");
}

CTransInPlaceInputPin *CTransInPlaceFilter::InPlaceInput() const
{
    return static_cast<CTransInPlaceInputPin *>(m_pInput.get());
}

CTransInPlaceOutputPin *CTransInPlaceFilter::InPlaceOutput() const
{
    return static_cast<CTransInPlaceOutputPin *>(m_pOutput.get());
}

bool CTransInPlaceFilter::UsingSameAllocator() const
{
    IMemAllocator *in = m_pInput->PeekAllocator();
    return in && in == m_pOutput->Allocator();
}

HRESULT CTransInPlaceFilter::CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut)
{
    return *mtIn == *mtOut ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTransInPlaceFilter::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    *pMediaType = m_pInput->CurrentMediaType();
    return S_OK;
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp)
{
    ALLOCATOR_PROPERTIES input{1, 1, 1, 0};
    if (IMemAllocator *in = m_pInput->PeekAllocator())
        in->GetProperties(&input);
    pProp->cBuffers = std::max({pProp->cBuffers, input.cBuffers, LONG{1}});
    pProp->cbBuffer = std::max({pProp->cbBuffer, input.cbBuffer, LONG{1}});
    pProp->cbAlign = std::max({pProp->cbAlign, input.cbAlign, LONG{1}});
    pProp->cbPrefix = std::max(pProp->cbPrefix, input.cbPrefix);
    ALLOCATOR_PROPERTIES got{};
    HRESULT hr = pAlloc->SetProperties(pProp, &got);
    if (FAILED(hr))
        return hr;
    return got.cbBuffer < pProp->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CTransInPlaceFilter::Copy(IMediaSample *pSource, IMediaSample **ppDest)
{
    ComPtr<IMediaSample> dest;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(dest.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    const LONG length = pSource->GetActualDataLength();
    if (length > dest->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    BYTE *from = nullptr, *to = nullptr;
    pSource->GetPointer(&from);
    dest->GetPointer(&to);
    if (length > 0)
        std::memcpy(to, from, static_cast<size_t>(length));
    CopySampleProperties(pSource, dest.Get(), true);
    AM_MEDIA_TYPE *type = nullptr;
    if (pSource->GetMediaType(&type) == S_OK && type) {
        dest->SetMediaType(type);
        DeleteMediaType(type);
    }
    *ppDest = dest.Detach();
    return S_OK;
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample *pSample)
{
    CAutoLock lck(m_csReceive);
    // The output type is the input type: both pins take a new one; it goes
    // on with the sample for the filter below to apply.
    if (m_pInput->ApplySampleType(pSample) == S_OK)
        m_pOutput->SetMediaType(&m_pInput->CurrentMediaType());
    ComPtr<IMediaSample> sample(pSample);
    if (!UsingSameAllocator() || (m_bModifiesData && m_pInput->IsReadOnly())) {
        HRESULT hr = Copy(pSample, sample.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
    }
    return DeliverTransformed(Transform(sample.Get()), sample.Get());
}
