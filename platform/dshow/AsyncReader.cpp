#include "platform/dshow/AsyncReader.h"

#include "platform/dshow/Allocator.h"

#include <algorithm>
#include <chrono>
#include <cstring>

// ---- CMemoryStream -----------------------------------------------------------------

HRESULT CMemoryStream::Read(LONGLONG position, LONG length, BYTE *buffer, LONG *pRead)
{
    const auto size = static_cast<LONGLONG>(m_bytes.size());
    if (position < 0 || length < 0)
        return E_INVALIDARG;
    const LONGLONG count = std::clamp<LONGLONG>(size - position, 0, length);
    if (count > 0)
        std::memcpy(buffer, m_bytes.data() + position, static_cast<size_t>(count));
    *pRead = static_cast<LONG>(count);
    return count == length ? S_OK : S_FALSE;
}

LONGLONG CMemoryStream::Size(LONGLONG *pAvailable)
{
    const auto size = static_cast<LONGLONG>(m_bytes.size());
    if (pAvailable)
        *pAvailable = size;
    return size;
}

// ---- CAsyncOutputPin -------------------------------------------------------------------

CAsyncOutputPin::CAsyncOutputPin(CBaseFilter *pFilter, CCritSec *pLock, LPCWSTR pName,
                                 CAsyncStream *pStream, const CMediaType &type)
    : CBasePin(pFilter, pLock, pName, PINDIR_OUTPUT), m_pStream(pStream), m_type(type)
{
}

HRESULT CAsyncOutputPin::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IAsyncReader)
        return GetInterface(static_cast<IAsyncReader *>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CAsyncOutputPin::CheckMediaType(const CMediaType *pmt)
{
    if (pmt->majortype != m_type.majortype)
        return S_FALSE;
    return pmt->subtype == m_type.subtype || pmt->subtype == GUID_NULL ? S_OK : S_FALSE;
}

HRESULT CAsyncOutputPin::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    *pMediaType = m_type;
    return S_OK;
}

HRESULT CAsyncOutputPin::RequestAllocator(IMemAllocator *pPreferred, ALLOCATOR_PROPERTIES *pProps,
                                          IMemAllocator **ppActual)
{
    if (!pProps || !ppActual)
        return E_POINTER;
    *ppActual = nullptr;
    ALLOCATOR_PROPERTIES got{};
    if (pPreferred && SUCCEEDED(pPreferred->SetProperties(pProps, &got))) {
        *ppActual = pPreferred;
        pPreferred->AddRef();
        return S_OK;
    }
    ComPtr<CMemAllocator> own = MakeCom<CMemAllocator>();
    const HRESULT hr = own->SetProperties(pProps, &got);
    if (FAILED(hr))
        return hr;
    *ppActual = own.Detach();
    return S_OK;
}

// The sample's times are byte positions times UNITS, as the SDK has them.
HRESULT CAsyncOutputPin::ReadInto(IMediaSample *pSample)
{
    REFERENCE_TIME start = 0, stop = 0;
    if (FAILED(pSample->GetTime(&start, &stop)) || stop < start)
        return E_INVALIDARG;
    const LONGLONG position = start / UNITS;
    const LONG length = static_cast<LONG>((stop - start) / UNITS);
    if (length > pSample->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    BYTE *buffer = nullptr;
    pSample->GetPointer(&buffer);
    LONG read = 0;
    HRESULT hr;
    {
        std::lock_guard lock(m_streamLock);
        hr = m_pStream->Read(position, length, buffer, &read);
    }
    pSample->SetActualDataLength(read);
    return hr;
}

HRESULT CAsyncOutputPin::Request(IMediaSample *pSample, DWORD_PTR dwUser)
{
    if (!pSample)
        return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0;
    if (FAILED(pSample->GetTime(&start, &stop)))
        return E_INVALIDARG;
    {
        std::lock_guard lock(m_queueLock);
        if (m_bFlushing)
            return VFW_E_WRONG_STATE;
        m_requests.push_back({pSample, dwUser});
    }
    m_queueChanged.notify_all();
    return S_OK;
}

HRESULT CAsyncOutputPin::WaitForNext(DWORD dwTimeout, IMediaSample **ppSample, DWORD_PTR *pdwUser)
{
    if (!ppSample || !pdwUser)
        return E_POINTER;
    *ppSample = nullptr;
    *pdwUser = 0;
    PendingRead next;
    bool flushing = false;
    {
        std::unique_lock lock(m_queueLock);
        const auto ready = [this] { return m_bFlushing || !m_requests.empty(); };
        if (dwTimeout == INFINITE)
            m_queueChanged.wait(lock, ready);
        else if (!m_queueChanged.wait_for(lock, std::chrono::milliseconds(dwTimeout), ready))
            return VFW_E_TIMEOUT;
        flushing = m_bFlushing;
        if (m_requests.empty())
            return VFW_E_WRONG_STATE;  // flushing, nothing to hand back
        next = std::move(m_requests.front());
        m_requests.pop_front();
    }
    *pdwUser = next.user;
    // While flushing, samples come back unread so the caller can let go.
    const HRESULT hr = flushing ? VFW_E_WRONG_STATE : ReadInto(next.sample.Get());
    *ppSample = next.sample.Detach();
    return hr;
}

HRESULT CAsyncOutputPin::SyncReadAligned(IMediaSample *pSample)
{
    if (!pSample)
        return E_POINTER;
    return ReadInto(pSample);
}

HRESULT CAsyncOutputPin::SyncRead(LONGLONG llPosition, LONG lLength, BYTE *pBuffer)
{
    if (!pBuffer)
        return E_POINTER;
    LONG read = 0;
    std::lock_guard lock(m_streamLock);
    return m_pStream->Read(llPosition, lLength, pBuffer, &read);
}

HRESULT CAsyncOutputPin::Length(LONGLONG *pTotal, LONGLONG *pAvailable)
{
    if (!pTotal || !pAvailable)
        return E_POINTER;
    std::lock_guard lock(m_streamLock);
    *pTotal = m_pStream->Size(pAvailable);
    return S_OK;
}

HRESULT CAsyncOutputPin::BeginFlush()
{
    {
        std::lock_guard lock(m_queueLock);
        m_bFlushing = true;
    }
    m_queueChanged.notify_all();
    return S_OK;
}

HRESULT CAsyncOutputPin::EndFlush()
{
    std::lock_guard lock(m_queueLock);
    m_bFlushing = false;
    return S_OK;
}
