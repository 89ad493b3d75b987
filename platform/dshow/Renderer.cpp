// The renderer's states and locks.
//
// States (the filter state and what the renderer holds):
//   Stopped            nothing held; samples are refused by the input pin.
//   Paused, not ready  waiting for a sample. GetState answers
//                      VFW_S_STATE_INTERMEDIATE after its time-out.
//   Paused, cued       the first sample arrived and was presented as the still
//                      picture (OnReceiveFirstSample); the streaming thread is
//                      held inside Receive until Run, Stop or a flush.
//   Running            each sample waits for its time: the clock's time
//                      reaching tStart + the sample's start (an advise sets
//                      m_RenderEvent), then DoRenderSample. With no clock, or
//                      an untimed sample, it is presented at once.
// Preroll samples are never presented; they return at once. End of stream
// completes a pause, and in Running raises EC_COMPLETE once (deferred to Run
// when it arrives while paused); a flush or a stop forgets it. Each
// presentation records its media time (IPresentedPosition), which the graph
// reports as its current position; a flush forgets it, a new stream too.
//
// A flush while paused takes the still picture away, and samples that came
// into the flushed part of the graph meanwhile may have ended the stream
// upstream. So EndFlush in Paused tells the graph (EC_REPAINT with the media
// time of the picture lost, else of the segment start): the graph ignores it
// when the flush was part of its own seek (a new segment follows anyway),
// and otherwise seeks the sources to that picture again, so the same picture
// comes back (a flush of the frame notifier's input to redraw the picture).
//
// Locks, in this order:
//   m_InterfaceLock  the state lock: Stop, Pause, Run, connections (UI).
//   m_RendererLock   the streaming lock: the pending sample and the flags.
//                    The streaming thread holds it to decide and to present,
//                    never while it waits.
// The streaming thread never takes the state lock: it reads the filter state
// (atomic) under the streaming lock, and every state change is made under
// both locks, followed by setting m_RenderEvent, so a waiting thread wakes and
// decides again.
//
// The deadlock this avoids: the UI thread stopping or flushing while the
// streaming thread sits in Receive (cued in Paused, or waiting for the
// clock). Stop and BeginFlush set m_bAbort and the event under the streaming
// lock; the thread, which waits with no lock held, wakes, drops its sample
// and leaves; only then do Stop and BeginFlush return (m_evIdle), so after
// them no sample is held and no thread is inside. They wait for that with no
// lock held, so a render in progress can finish whatever it needs.
#include "platform/dshow/Renderer.h"

#include <cmath>

// ---- CRendererInputPin ----------------------------------------------------------

CRendererInputPin::CRendererInputPin(CBaseRenderer *pRenderer, CCritSec *pLock, LPCWSTR pName)
    : CBaseInputPin(pRenderer, pLock, pName), m_pRenderer(pRenderer)
{
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType *pmt)
{
    return m_pRenderer->CheckMediaType(pmt);
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType *pmt)
{
    const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    return FAILED(hr) ? hr : m_pRenderer->SetMediaType(pmt);
}

HRESULT CRendererInputPin::BreakConnect()
{
    m_pRenderer->BreakConnect();
    return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin *pReceivePin)
{
    const HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
    return FAILED(hr) ? hr : m_pRenderer->CompleteConnect(pReceivePin);
}

HRESULT CRendererInputPin::Receive(IMediaSample *pSample)
{
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    ApplySampleType(pSample);  // before the renderer's locks: it may take its own
    return m_pRenderer->Receive(pSample);
}

HRESULT CRendererInputPin::EndOfStream()
{
    const HRESULT hr = CheckStreaming();
    return hr != S_OK ? hr : m_pRenderer->EndOfStream();
}

HRESULT CRendererInputPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    return m_pRenderer->BeginFlush();
}

HRESULT CRendererInputPin::EndFlush()
{
    m_pRenderer->EndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CRendererInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    CBaseInputPin::NewSegment(tStart, tStop, dRate);
    m_pRenderer->NewSegment(tStart, tStop, dRate);
    return S_OK;
}

// ---- CBaseRenderer: state changes (UI thread) -----------------------------------

CBaseRenderer::CBaseRenderer(REFCLSID clsid, LPCWSTR pName)
    : CBaseFilter(pName, &m_InterfaceLock, clsid),
      m_pInputPin(std::make_unique<CRendererInputPin>(this, &m_InterfaceLock, L"In"))
{
    Ready();
    m_evIdle.Set();
}

CBaseRenderer::~CBaseRenderer()
{
    CAutoLock lock(m_RendererLock);
    CancelAdviseLocked();
}

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IQualProp)
        return GetInterface(static_cast<IQualProp *>(this), ppv);
    if (riid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags *>(this), ppv);
    if (riid == IID_IPresentedPosition)
        return GetInterface(static_cast<IPresentedPosition *>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin *CBaseRenderer::GetPin(int n) { return n == 0 ? m_pInputPin.get() : nullptr; }

HRESULT CBaseRenderer::Stop()
{
    HRESULT hr;
    {
        CAutoLock cs(m_InterfaceLock);
        CAutoLock rl(m_RendererLock);
        const bool wasActive = IsActive();
        hr = CBaseFilter::Stop();
        AbortLocked();
        m_bEOS = m_bEOSDelivered = false;
        if (wasActive)
            OnStopStreaming();
        Ready();
    }
    // With no lock held: the thread may need either to finish its render.
    WaitForReceiveToComplete();
    CAutoLock rl(m_RendererLock);
    assert(!m_bInReceive && !m_pMediaSample && m_dwAdvise == 0);  // stop's postconditions
    return hr;
}

HRESULT CBaseRenderer::Pause()
{
    CAutoLock cs(m_InterfaceLock);
    CAutoLock rl(m_RendererLock);
    const FILTER_STATE old = State();
    if (old == State_Stopped) {
        m_bAbort = false;
        m_bEOS = m_bEOSDelivered = false;
        m_presented.store(kNotPresented);
        m_presentedStream.store(kNotPresented);
    }
    CancelAdviseLocked();
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr))
        return hr;
    if (old == State_Stopped)
        OnStartStreaming();
    m_RenderEvent.Set();  // a thread waiting for its time re-plans: it cues
    return CompleteStateChangeLocked(old);
}

// Ready when disconnected, at end of stream, or with the paused picture
// already shown; otherwise the pause completes with the next sample.
HRESULT CBaseRenderer::CompleteStateChangeLocked(FILTER_STATE oldState)
{
    if (!m_pInputPin->IsConnected() || m_bEOS || (m_bCued && oldState != State_Stopped)) {
        Ready();
        return S_OK;
    }
    NotReady();
    return S_FALSE;
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME tStart)
{
    CAutoLock cs(m_InterfaceLock);
    CAutoLock rl(m_RendererLock);
    const HRESULT hr = CBaseFilter::Run(tStart);  // pauses first when stopped
    if (FAILED(hr))
        return hr;
    CancelAdviseLocked();
    m_RenderEvent.Set();
    Ready();
    if (m_bEOS && !m_pMediaSample)
        SendEndOfStreamLocked();
    return S_OK;
}

HRESULT CBaseRenderer::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State)
{
    if (!State)
        return E_POINTER;
    *State = CBaseFilter::State();
    if (*State != State_Paused)
        return S_OK;
    return m_evComplete.Wait(dwMilliSecsTimeout) ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

// ---- Flushing and end of stream ----------------------------------------------

HRESULT CBaseRenderer::BeginFlush()
{
    {
        CAutoLock rl(m_RendererLock);
        if (State() == State_Paused)
            NotReady();
        AbortLocked();
        m_bEOS = m_bEOSDelivered = false;
        m_flushedPicture = m_presented.exchange(kNotPresented);
        m_presentedStream.store(kNotPresented);
    }
    WaitForReceiveToComplete();
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush()
{
    REFERENCE_TIME repaint = kNotPresented;
    {
        CAutoLock rl(m_RendererLock);
        if (!IsStopped())
            m_bAbort = false;
        if (State() == State_Paused && RepaintsWhenPaused())
            repaint = m_flushedPicture != kNotPresented ? m_flushedPicture : m_segmentStart;
        m_flushedPicture = kNotPresented;
    }
    // With no lock held: the graph may answer on this thread.
    if (repaint != kNotPresented)
        NotifyEvent(EC_REPAINT, 0, static_cast<LONG_PTR>(repaint));
    return S_OK;
}

HRESULT CBaseRenderer::EndOfStream()
{
    CAutoLock rl(m_RendererLock);
    if (m_bAbort || m_bEOS)
        return S_OK;
    m_bEOS = true;
    Ready();  // nothing more will come: a pause is complete
    if (State() == State_Running)
        SendEndOfStreamLocked();
    return S_OK;
}

void CBaseRenderer::SendEndOfStreamLocked()
{
    if (m_bEOSDelivered)
        return;
    m_bEOSDelivered = true;
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this)));
}

// ---- Receiving (streaming thread) ---------------------------------------------

HRESULT CBaseRenderer::Receive(IMediaSample *pSample)
{
    const HRESULT prepared = PrepareReceive(pSample);
    if (prepared != S_OK)
        return SUCCEEDED(prepared) ? S_OK : prepared;
    if (WaitForRenderTime() == S_OK)
        RenderPending();
    LeaveReceive();
    return S_OK;
}

// S_OK: the sample is pending and we are in Receive. S_FALSE: nothing to do.
HRESULT CBaseRenderer::PrepareReceive(IMediaSample *pSample)
{
    CAutoLock rl(m_RendererLock);
    if (m_bAbort || IsStopped())
        return S_FALSE;
    if (m_bEOS)
        return VFW_E_SAMPLE_REJECTED_EOS;
    if (m_pMediaSample || m_bInReceive)
        return E_UNEXPECTED;  // upstream must not call Receive twice at once
    if (pSample->IsPreroll() == S_OK)
        return S_FALSE;  // decoders need it, viewers never see it
    m_pMediaSample = pSample;
    m_bCued = false;
    m_bInReceive = true;
    m_evIdle.Reset();
    return S_OK;
}

HRESULT CBaseRenderer::WaitForRenderTime()
{
    for (;;) {
        {
            CAutoLock rl(m_RendererLock);
            if (m_bAbort)
                return VFW_E_STATE_CHANGED;
            switch (State()) {
            case State_Stopped:
                return VFW_E_STATE_CHANGED;
            case State_Paused:
                CueLocked();
                break;
            case State_Running:
                if (IsTimeToRenderLocked())
                    return S_OK;
                break;
            }
        }
        m_RenderEvent.Wait();
    }
}

void CBaseRenderer::CueLocked()
{
    CritCheckIn(m_RendererLock);
    if (m_bCued)
        return;
    m_bCued = true;
    OnReceiveFirstSample(m_pMediaSample.Get());
    m_cFramesDrawn.fetch_add(1, std::memory_order_acq_rel);
    NotePresentedLocked(m_pMediaSample.Get());
    Ready();
}

// An untimed sample leaves the position where it was.
void CBaseRenderer::NotePresentedLocked(IMediaSample *pSample)
{
    CritCheckIn(m_RendererLock);
    REFERENCE_TIME start = 0, stop = 0;
    if (FAILED(pSample->GetTime(&start, &stop)))
        return;
    const double scaled = static_cast<double>(start) * (m_segmentRate > 0 ? m_segmentRate : 1.0);
    m_presentedStream.store(start);
    m_presented.store(m_segmentStart + std::llround(scaled));
}

void CBaseRenderer::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    {
        CAutoLock rl(m_RendererLock);
        m_segmentStart = tStart;
        m_segmentRate = dRate;
    }
    OnNewSegment(tStart, tStop, dRate);
}

HRESULT CBaseRenderer::GetPresentedStreamTime(REFERENCE_TIME *pStreamTime)
{
    if (!pStreamTime)
        return E_POINTER;
    const REFERENCE_TIME presented = m_presentedStream.load();
    if (presented == kNotPresented)
        return S_FALSE;
    *pStreamTime = presented;
    return S_OK;
}

HRESULT CBaseRenderer::GetPresentedPosition(REFERENCE_TIME *pPosition)
{
    if (!pPosition)
        return E_POINTER;
    const REFERENCE_TIME presented = m_presented.load();
    if (presented == kNotPresented)
        return S_FALSE;
    *pPosition = presented;
    return S_OK;
}

// True when the pending sample's time has come; else makes sure an advise
// for that time is set.
bool CBaseRenderer::IsTimeToRenderLocked()
{
    CritCheckIn(m_RendererLock);
    REFERENCE_TIME start = 0, stop = 0;
    if (!m_pClock || ShouldDrawSampleNow(m_pMediaSample.Get(), &start, &stop) == S_OK)
        return true;
    if (FAILED(m_pMediaSample->GetTime(&start, &stop)))
        return true;  // untimed samples go at once
    REFERENCE_TIME now = 0;
    m_pClock->GetTime(&now);
    const REFERENCE_TIME due = m_tStart + start;
    if (now >= due) {
        CancelAdviseLocked();
        return true;
    }
    if (m_dwAdvise == 0 || m_adviseDue != due) {
        CancelAdviseLocked();
        // A run resumed ahead of a clock that started near zero has a
        // negative start, which advises refuse; the due time itself is later
        // than now, so it is a valid base.
        const bool negativeBase = m_tStart < 0;
        if (FAILED(m_pClock->AdviseTime(negativeBase ? due : m_tStart, negativeBase ? 0 : start, &m_RenderEvent,
                                        &m_dwAdvise)))
            return true;
        m_adviseDue = due;
    }
    return false;
}

void CBaseRenderer::RenderPending()
{
    CAutoLock rl(m_RendererLock);
    if (m_bAbort || !m_pMediaSample)
        return;
    DoRenderSample(m_pMediaSample.Get());
    m_cFramesDrawn.fetch_add(1, std::memory_order_acq_rel);
    NotePresentedLocked(m_pMediaSample.Get());
}

void CBaseRenderer::LeaveReceive()
{
    CAutoLock rl(m_RendererLock);
    m_pMediaSample.Reset();
    m_bCued = false;
    m_bInReceive = false;
    m_evIdle.Set();
}

// ---- Helpers ------------------------------------------------------------------

void CBaseRenderer::CancelAdviseLocked()
{
    if (m_dwAdvise != 0 && m_pClock)
        m_pClock->Unadvise(m_dwAdvise);
    m_dwAdvise = 0;
}

void CBaseRenderer::AbortLocked()
{
    CritCheckIn(m_RendererLock);
    m_bAbort = true;
    CancelAdviseLocked();
    m_RenderEvent.Set();
}

void CBaseRenderer::WaitForReceiveToComplete()
{
    CritCheckOut(m_RendererLock);
    CritCheckOut(m_InterfaceLock);
    m_evIdle.Wait();
}

void CBaseRenderer::OnReceiveFirstSample(IMediaSample *pMediaSample) { DoRenderSample(pMediaSample); }

HRESULT CBaseRenderer::ShouldDrawSampleNow(IMediaSample *, REFERENCE_TIME *, REFERENCE_TIME *)
{
    return S_FALSE;
}

HRESULT CBaseRenderer::SetMediaType(const CMediaType *) { return S_OK; }
HRESULT CBaseRenderer::BreakConnect() { return S_OK; }
HRESULT CBaseRenderer::CompleteConnect(IPin *) { return S_OK; }
HRESULT CBaseRenderer::OnStartStreaming() { return S_OK; }
HRESULT CBaseRenderer::OnStopStreaming() { return S_OK; }
void CBaseRenderer::OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {}

// ---- IQualProp ------------------------------------------------------------------

HRESULT CBaseRenderer::get_FramesDroppedInRenderer(int *pcFrames)
{
    if (!pcFrames)
        return E_POINTER;
    *pcFrames = 0;  // nothing is dropped for lateness
    return S_OK;
}

HRESULT CBaseRenderer::get_FramesDrawn(int *pcFramesDrawn)
{
    if (!pcFramesDrawn)
        return E_POINTER;
    *pcFramesDrawn = FramesDrawn();
    return S_OK;
}

HRESULT CBaseRenderer::get_AvgFrameRate(int *) { return E_NOTIMPL; }
HRESULT CBaseRenderer::get_Jitter(int *) { return E_NOTIMPL; }
HRESULT CBaseRenderer::get_AvgSyncOffset(int *) { return E_NOTIMPL; }
HRESULT CBaseRenderer::get_DevSyncOffset(int *) { return E_NOTIMPL; }
