// The push source's streaming thread.
//
// States of a stream's thread:
//   none       the filter is stopped (no thread object).
//   pushing    OnThreadStartPlay, then buffer after buffer: get a buffer
//              (blocks while all are downstream), FillBuffer, Deliver.
//   idle       the stream ended (FillBuffer said S_FALSE or failed) or
//              downstream refused a sample (S_FALSE while flushing, or an
//              error): the thread waits for the stop request.
// A seek stops the thread and starts a new one (SourceSeeking.h); Stop joins
// it. Between samples the thread checks m_bStop; idle, it waits on a
// condition variable for it.
//
// Locks: the filter's state lock is held by the UI thread in Active and
// Inactive (and while seeking); the streaming thread never takes it. The
// thread holds no lock of ours while it blocks (in GetDeliveryBuffer or in
// Deliver). m_idleLock only guards the idle wait.
//
// The deadlock this avoids: the UI thread joining a streaming thread that
// waits for something only the UI thread can give. Inactive decommits the
// allocator before joining (GetDeliveryBuffer returns at once); Deliver
// returns because the graph stops downstream filters first, and a seek
// flushes downstream first; a SendMessage from a filter below returns
// because the graph closes its SendGate around stop and seek.
#include "platform/dshow/Source.h"

#include "platform/dshow/Control.h"

// ---- CSourceStream --------------------------------------------------------------

CSourceStream::CSourceStream(CSource *pFilter, LPCWSTR pName)
    : CBaseOutputPin(pFilter, pFilter->pStateLock(), pName), m_pSourceFilter(pFilter)
{
}

CSourceStream::~CSourceStream()
{
    assert(!ThreadExists() && "a source stream must be stopped before it goes");
    if (ThreadExists())
        StopThread();
}

HRESULT CSourceStream::Active()
{
    CritCheckIn(*m_pLock);
    if (!IsConnected())
        return S_OK;
    const HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    return StartThread();
}

HRESULT CSourceStream::Inactive()
{
    CritCheckIn(*m_pLock);
    const HRESULT hr = IsConnected() ? CBaseOutputPin::Inactive() : S_OK;
    StopThread();
    assert(!ThreadExists());  // Stop's postcondition: no thread
    return hr;
}

HRESULT CSourceStream::StartThread()
{
    if (ThreadExists())
        return S_OK;
    m_bStop.store(false, std::memory_order_release);
    m_thread = std::thread([this] { ThreadProc(); });
    return S_OK;
}

void CSourceStream::StopThread()
{
    if (!ThreadExists())
        return;
    {
        std::lock_guard lock(m_idleLock);
        m_bStop.store(true, std::memory_order_release);
    }
    m_idleWake.notify_all();
    m_thread.join();
}

void CSourceStream::ThreadProc()
{
    if (SUCCEEDED(OnThreadCreate())) {
        if (SUCCEEDED(OnThreadStartPlay()))
            DoBufferProcessingLoop();
        OnThreadDestroy();
    }
    WaitForStopRequest();
}

void CSourceStream::DoBufferProcessingLoop()
{
    while (!StopRequested()) {
        ComPtr<IMediaSample> sample;
        if (FAILED(GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0)))
            return;  // decommitted: we are stopping
        const HRESULT filled = FillBuffer(sample.Get());
        if (filled == S_FALSE) {
            DeliverEndOfStream();
            return;
        }
        if (FAILED(filled)) {
            DeliverEndOfStream();
            m_pSourceFilter->NotifyEvent(EC_ERRORABORT, filled, 0);
            return;
        }
        // S_FALSE: downstream is flushing or wants no more; an error: it
        // failed. Either way the stream goes idle until stop or a seek.
        if (Deliver(sample.Get()) != S_OK)
            return;
    }
}

void CSourceStream::WaitForStopRequest()
{
    std::unique_lock lock(m_idleLock);
    m_idleWake.wait(lock, [this] { return StopRequested(); });
}

HRESULT CSourceStream::OnThreadStartPlay() { return S_OK; }
HRESULT CSourceStream::OnThreadCreate() { return S_OK; }
HRESULT CSourceStream::OnThreadDestroy() { return S_OK; }

// ---- CSource --------------------------------------------------------------------

CSource::CSource(LPCWSTR pName, REFCLSID clsid) : CBaseFilter(pName, &m_cStateLock, clsid) {}

CSource::~CSource() = default;

int CSource::GetPinCount()
{
    return static_cast<int>(m_streams.size());
}

CBasePin *CSource::GetPin(int n)
{
    return Stream(n);
}

CSourceStream *CSource::Stream(int n) const
{
    if (n < 0 || n >= static_cast<int>(m_streams.size()))
        return nullptr;
    return m_streams[static_cast<size_t>(n)].get();
}

void CSource::AddStream(std::unique_ptr<CSourceStream> stream)
{
    m_streams.push_back(std::move(stream));
}
