#include "platform/dshow/Allocator.h"

#include <cstdint>

// ---- CMediaSample -------------------------------------------------------------

CMediaSample::CMediaSample(CMemAllocator *allocator, LONG size, LONG align, LONG prefix)
    : m_pAllocator(allocator), m_cbBuffer(size)
{
    m_memory = std::make_unique_for_overwrite<BYTE[]>(static_cast<size_t>(prefix) + static_cast<size_t>(align - 1)
                                                      + static_cast<size_t>(size));
    auto start = reinterpret_cast<uintptr_t>(m_memory.get()) + static_cast<uintptr_t>(prefix);
    const auto a = static_cast<uintptr_t>(align);
    start = (start + a - 1) / a * a;
    m_pBuffer = reinterpret_cast<BYTE *>(start);
}

void CMediaSample::Clear()
{
    m_lActual = 0;
    m_bTimeValid = m_bStopValid = m_bMediaTimeValid = false;
    m_bSyncPoint = m_bPreroll = m_bDiscontinuity = false;
    m_pMediaType.reset();
}

HRESULT CMediaSample::QueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IMediaSample || riid == IID_IUnknown)
        return GetInterface(this, ppv);
    if (ppv)
        *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return m_cRef.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG CMediaSample::Release()
{
    const ULONG left = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        m_pAllocator->ReleaseBuffer(this);
    return left;
}

HRESULT CMediaSample::GetPointer(BYTE **ppBuffer)
{
    if (!ppBuffer)
        return E_POINTER;
    *ppBuffer = m_pBuffer;
    return S_OK;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd)
{
    if (!pTimeStart || !pTimeEnd)
        return E_POINTER;
    if (!m_bTimeValid)
        return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = m_Start;
    if (!m_bStopValid) {
        *pTimeEnd = m_Start + 1;  // as the SDK answers
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeEnd = m_End;
    return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd)
{
    m_bTimeValid = pTimeStart != nullptr;
    m_bStopValid = m_bTimeValid && pTimeEnd != nullptr;
    if (m_bTimeValid)
        m_Start = *pTimeStart;
    if (m_bStopValid)
        m_End = *pTimeEnd;
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return m_bSyncPoint ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(BOOL b)
{
    m_bSyncPoint = b != FALSE;
    return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return m_bPreroll ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(BOOL b)
{
    m_bPreroll = b != FALSE;
    return S_OK;
}
HRESULT CMediaSample::IsDiscontinuity() { return m_bDiscontinuity ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(BOOL b)
{
    m_bDiscontinuity = b != FALSE;
    return S_OK;
}

LONG CMediaSample::GetActualDataLength() { return m_lActual; }

HRESULT CMediaSample::SetActualDataLength(LONG length)
{
    if (length < 0 || length > m_cbBuffer)
        return VFW_E_BUFFER_OVERFLOW;
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE **ppMediaType)
{
    if (!ppMediaType)
        return E_POINTER;
    if (!m_pMediaType) {
        *ppMediaType = nullptr;
        return S_FALSE;
    }
    *ppMediaType = CreateMediaType(m_pMediaType.get());
    return S_OK;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE *pMediaType)
{
    if (pMediaType)
        m_pMediaType = std::make_unique<AM_MEDIA_TYPE>(*pMediaType);
    else
        m_pMediaType.reset();
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd)
{
    if (!pTimeStart || !pTimeEnd)
        return E_POINTER;
    if (!m_bMediaTimeValid)
        return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = m_MediaStart;
    *pTimeEnd = m_MediaEnd;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd)
{
    if (!pTimeStart) {
        m_bMediaTimeValid = false;
        return S_OK;
    }
    if (!pTimeEnd)
        return E_POINTER;
    m_MediaStart = *pTimeStart;
    m_MediaEnd = *pTimeEnd;
    m_bMediaTimeValid = true;
    return S_OK;
}

// ---- CMemAllocator ------------------------------------------------------------

CMemAllocator::~CMemAllocator()
{
    // Outstanding samples hold a reference, so none can be out here.
    for (CMediaSample *s : m_free)
        delete s;
}

HRESULT CMemAllocator::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IMemAllocator || riid == IID_IUnknown)
        return GetInterface(static_cast<IMemAllocator *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES *pRequest, ALLOCATOR_PROPERTIES *pActual)
{
    if (!pRequest || !pActual)
        return E_POINTER;
    const LONG align = pRequest->cbAlign == 0 ? 1 : pRequest->cbAlign;
    if (align < 0 || (align & (align - 1)) != 0)
        return VFW_E_BADALIGN;
    if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0)
        return E_INVALIDARG;
    std::lock_guard lock(m_lock);
    if (m_bCommitted)
        return VFW_E_ALREADY_COMMITTED;
    if (m_outstanding > 0)
        return VFW_E_BUFFERS_OUTSTANDING;
    FreeIdleBuffers();  // sized for the old properties
    m_props = *pRequest;
    m_props.cbAlign = align;
    m_bPropsSet = true;
    *pActual = m_props;
    return S_OK;
}

HRESULT CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES *pProps)
{
    if (!pProps)
        return E_POINTER;
    std::lock_guard lock(m_lock);
    *pProps = m_props;
    return S_OK;
}

HRESULT CMemAllocator::Commit()
{
    std::lock_guard lock(m_lock);
    if (m_bCommitted)
        return S_OK;
    if (!m_bPropsSet || m_props.cBuffers <= 0 || m_props.cbBuffer <= 0)
        return VFW_E_SIZENOTSET;
    // Buffers still out from before a decommit count towards the total.
    const int wanted = m_props.cBuffers - m_outstanding - static_cast<int>(m_free.size());
    for (int i = 0; i < wanted; ++i)
        m_free.push_back(new CMediaSample(this, m_props.cbBuffer, m_props.cbAlign, m_props.cbPrefix));
    m_bCommitted = true;
    return S_OK;
}

HRESULT CMemAllocator::Decommit()
{
    {
        std::lock_guard lock(m_lock);
        if (!m_bCommitted)
            return S_OK;
        m_bCommitted = false;
        FreeIdleBuffers();
    }
    m_bufferFree.notify_all();
    return S_OK;
}

void CMemAllocator::FreeIdleBuffers()
{
    for (CMediaSample *s : m_free)
        delete s;
    m_free.clear();
}

HRESULT CMemAllocator::GetBuffer(IMediaSample **ppBuffer, REFERENCE_TIME *pStartTime,
                                 REFERENCE_TIME *pEndTime, DWORD dwFlags)
{
    if (!ppBuffer)
        return E_POINTER;
    *ppBuffer = nullptr;
    CMediaSample *sample = nullptr;
    {
        std::unique_lock lock(m_lock);
        const auto ready = [this] { return !m_bCommitted || !m_free.empty(); };
        if ((dwFlags & AM_GBF_NOWAIT) && !ready())
            return VFW_E_TIMEOUT;
        m_bufferFree.wait(lock, ready);
        if (!m_bCommitted)
            return VFW_E_NOT_COMMITTED;
        sample = m_free.back();
        m_free.pop_back();
        ++m_outstanding;
    }
    DelegatingAddRef();  // released when the sample comes back
    sample->m_cRef.store(1, std::memory_order_relaxed);
    if (pStartTime)
        sample->SetTime(pStartTime, pEndTime);
    *ppBuffer = sample;
    return S_OK;
}

HRESULT CMemAllocator::ReleaseBuffer(IMediaSample *pBuffer)
{
    auto *sample = static_cast<CMediaSample *>(pBuffer);
    if (!sample || sample->m_pAllocator != this)
        return E_INVALIDARG;
    sample->Clear();
    {
        std::lock_guard lock(m_lock);
        --m_outstanding;
        if (m_bCommitted)
            m_free.push_back(sample);
        else
            delete sample;
    }
    m_bufferFree.notify_one();
    DelegatingRelease();  // may delete this allocator: last statement
    return S_OK;
}

int CMemAllocator::OutstandingCount() const
{
    std::lock_guard lock(m_lock);
    return m_outstanding;
}

bool CMemAllocator::IsCommitted() const
{
    std::lock_guard lock(m_lock);
    return m_bCommitted;
}
