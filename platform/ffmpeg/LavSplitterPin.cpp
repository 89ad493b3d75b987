// The splitter's output pins: media type, buffers, the delivery thread and
// IMediaSeeking forwarded to the filter.
#include "platform/ffmpeg/LavSplitter.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr DWORD kCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards
    | AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos
    | AM_SEEKING_CanGetDuration;
}

CLavOutputPin::CLavOutputPin(CLavSplitter *filter, CCritSec *lock, LPCWSTR name, int streamIndex,
                             CMediaType type, LONG bufferSize)
    : CBaseOutputPin(filter, lock, name), m_splitter(filter), m_stream(streamIndex),
      m_type(std::move(type)), m_bufferSize(bufferSize)
{
}

CLavOutputPin::~CLavOutputPin() { StopThread(); }

HRESULT CLavOutputPin::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IMediaSeeking)
        return GetInterface(static_cast<IMediaSeeking *>(this), ppv);
    if (riid == IID_ISeekingAtRate)
        return GetInterface(static_cast<ISeekingAtRate *>(this), ppv);
    if (riid == IID_ISampleTimeOrder)
        return GetInterface(static_cast<ISampleTimeOrder *>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

bool CLavOutputPin::DecodingOrder() { return m_splitter->m_decodeOrder; }

HRESULT CLavOutputPin::CheckMediaType(const CMediaType *pmt)
{
    return *pmt == m_type ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CLavOutputPin::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    *pMediaType = m_type;
    return S_OK;
}

HRESULT CLavOutputPin::DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProps)
{
    pProps->cBuffers = std::max<LONG>(pProps->cBuffers, 8);
    pProps->cbBuffer = std::max(pProps->cbBuffer, m_bufferSize);
    pProps->cbAlign = std::max<LONG>(pProps->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pProps, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < m_bufferSize ? E_FAIL : S_OK;
}

// ---- Delivery thread ----------------------------------------------------------

void CLavOutputPin::StartThread(REFERENCE_TIME segmentStart, REFERENCE_TIME stop, double rate)
{
    if (m_thread.joinable())
        return;
    m_stop.store(false);
    m_thread = std::thread([=, this] { ThreadProc(segmentStart, stop, rate); });
}

void CLavOutputPin::StopThread()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_splitter->m_qLock);
        m_stop.store(true);
    }
    m_splitter->m_qChanged.notify_all();
    m_thread.join();
}

void CLavOutputPin::ThreadProc(REFERENCE_TIME segmentStart, REFERENCE_TIME stop, double rate)
{
    DeliverNewSegment(segmentStart, stop, rate);
    bool first = true;
    bool refusing = false;  // downstream flushing or failed: drop until restarted
    for (;;) {
        QueuedPacket item;
        {
            std::unique_lock lock(m_splitter->m_qLock);
            m_splitter->m_qChanged.wait(lock, [&] { return m_stop.load() || !m_queue.empty(); });
            if (m_stop.load())
                return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
            if (item.packet)
                m_splitter->m_queuedBytes -= static_cast<size_t>(item.packet->size);
        }
        m_splitter->m_qChanged.notify_all();
        if (!item.packet) {
            DeliverEndOfStream();
            continue;
        }
        if (refusing)
            continue;
        refusing = DeliverPacket(item, segmentStart, rate, first) != S_OK;
        first = false;
    }
}

HRESULT CLavOutputPin::DeliverPacket(QueuedPacket &item, REFERENCE_TIME segmentStart, double rate,
                                     bool discontinuity)
{
    ComPtr<IMediaSample> sample;
    HRESULT hr = GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    BYTE *p = nullptr;
    sample->GetPointer(&p);
    const LONG size = std::min<LONG>(item.packet->size, sample->GetSize());
    std::memcpy(p, item.packet->data, static_cast<size_t>(size));
    sample->SetActualDataLength(size);
    if (item.timed) {
        REFERENCE_TIME t0 = static_cast<REFERENCE_TIME>((item.start - segmentStart) / rate);
        REFERENCE_TIME t1 = static_cast<REFERENCE_TIME>((item.stop - segmentStart) / rate);
        sample->SetTime(&t0, item.hasStop ? &t1 : nullptr);
        LONGLONG m0 = item.start, m1 = item.hasStop ? item.stop : item.start;
        sample->SetMediaTime(&m0, &m1);
    }
    sample->SetSyncPoint(item.sync);
    sample->SetPreroll(item.preroll);
    sample->SetDiscontinuity(discontinuity);
    hr = Deliver(sample.Get());
    if (hr == S_OK && item.timed && !item.preroll)
        m_splitter->NoteSent(this, item.start);
    return hr;
}

// ---- IMediaSeeking ---------------------------------------------------------------

HRESULT CLavOutputPin::GetCapabilities(DWORD *pCapabilities)
{
    if (!pCapabilities)
        return E_POINTER;
    *pCapabilities = kCaps;
    return S_OK;
}

HRESULT CLavOutputPin::GetDuration(LONGLONG *pDuration)
{
    if (!pDuration)
        return E_POINTER;
    *pDuration = m_splitter->Duration();
    return S_OK;
}

HRESULT CLavOutputPin::GetStopPosition(LONGLONG *pStop)
{
    if (!pStop)
        return E_POINTER;
    *pStop = m_splitter->StopPosition();
    return S_OK;
}

HRESULT CLavOutputPin::GetCurrentPosition(LONGLONG *pCurrent)
{
    if (!pCurrent)
        return E_POINTER;
    *pCurrent = m_splitter->CurrentPosition();
    return S_OK;
}

HRESULT CLavOutputPin::SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                    DWORD dwStopFlags)
{
    return m_splitter->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
}

HRESULT CLavOutputPin::GetPositions(LONGLONG *pCurrent, LONGLONG *pStop)
{
    if (pCurrent)
        *pCurrent = m_splitter->CurrentPosition();
    if (pStop)
        *pStop = m_splitter->StopPosition();
    return S_OK;
}

HRESULT CLavOutputPin::GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest)
{
    if (pEarliest)
        *pEarliest = 0;
    if (pLatest)
        *pLatest = m_splitter->Duration();
    return S_OK;
}

HRESULT CLavOutputPin::SetRate(double dRate) { return m_splitter->SetRate(dRate); }

HRESULT CLavOutputPin::SetRateAt(double dRate, REFERENCE_TIME position)
{
    return m_splitter->SetRateAt(dRate, position);
}

HRESULT CLavOutputPin::GetRate(double *pdRate)
{
    if (!pdRate)
        return E_POINTER;
    *pdRate = m_splitter->Rate();
    return S_OK;
}

HRESULT CLavOutputPin::GetPreroll(LONGLONG *pllPreroll)
{
    if (!pllPreroll)
        return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}
