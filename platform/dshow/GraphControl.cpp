// The graph's state changes and its clock.
//
// States (GraphState): Stopped, Paused, Running. Every change goes to the
// filters downstream first (renderers, then what feeds them, the sources
// last): a renderer is ready to receive before its source starts pushing,
// and a stopping renderer lets go of a streaming thread before the filters
// above it join or wait for that thread.
//   Stopped -> Paused   the clock is chosen (default: the first filter,
//                       renderers first, that is a reference clock, else the
//                       system clock), EC_COMPLETE counting starts over,
//                       stream time is 0. Pause answers S_FALSE while a
//                       renderer waits for its first sample; GetState tells
//                       when it has it (VFW_S_STATE_INTERMEDIATE until then).
//   Paused -> Running   tStart = clock time - the stream time reached, so
//                       stream time goes on from where it stopped.
//   Running -> Paused   the stream time reached is kept.
//   any -> Stopped      the graph's SendGate closes first, so a streaming
//                       thread blocked in a send to the UI thread returns.
//                       The current position (the picture on screen) is
//                       kept, and the sources go back to it when the graph
//                       leaves Stopped again, unless a seek came between
//                       or the seeking filters changed (another file): a
//                       graph stopped to be torn down seeks nothing.
//
// Locks, in this order:
//   m_csGraph        the graph's state lock; the UI thread holds it for
//                    every graph call. Streaming threads never take it.
//   filter locks     taken by the filters' own state calls under it.
//   m_eventLock      the event queue (GraphEvents.cpp); taken by Notify on
//                    streaming threads and by nothing that waits.
//
// The deadlock this avoids: the UI thread stopping (or seeking) the graph
// while a streaming thread waits for the UI thread, either in a send
// (released by the gate) or in Notify (which needs only the event lock),
// and the UI thread waiting in GetState while holding nothing a streaming
// thread needs (GetState waits outside m_csGraph). GetState also lets
// pending sends run while it waits, as a message-aware wait does, so a
// notifier that sends for every picture does not hold a pause up; on the
// thread that made the graph it first does a repaint a renderer asked for
// (GraphEvents.cpp), so the state it reports is the one after it.
#include "platform/dshow/FilterGraph.h"

#include "platform/dshow/RefClock.h"
#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <chrono>

FILTER_STATE CFilterGraph::ToFilterState(GraphState state)
{
    switch (state) {
    case GraphState::Stopped:
        return State_Stopped;
    case GraphState::Paused:
        return State_Paused;
    case GraphState::Running:
        return State_Running;
    }
    return State_Stopped;  // not reached
}

// ---- The clock --------------------------------------------------------------------

REFERENCE_TIME CFilterGraph::ClockTime() const
{
    REFERENCE_TIME now = 0;
    if (m_clock)
        m_clock->GetTime(&now);
    return now;
}

REFERENCE_TIME CFilterGraph::StreamTime() const
{
    switch (m_state) {
    case GraphState::Stopped:
        return 0;
    case GraphState::Paused:
        return m_pausedStreamTime;
    case GraphState::Running:
        return m_clock ? ClockTime() - m_tStart : m_pausedStreamTime;
    }
    return 0;
}

void CFilterGraph::ChooseDefaultClock()
{
    if (m_clockMode != ClockMode::Default)
        return;
    ComPtr<IReferenceClock> chosen;
    for (const ComPtr<IBaseFilter> &filter : DownstreamFirst()) {
        chosen = ComQuery<IReferenceClock>(filter.Get());
        if (chosen)
            break;
    }
    if (!chosen) {
        if (!m_systemClock)
            CreateSystemClock(IID_IReferenceClock, m_systemClock.ReleaseAndGetVoidAddress());
        chosen = m_systemClock;
    }
    m_clock = chosen;
    DistributeClock();
}

void CFilterGraph::DistributeClock()
{
    for (const Entry &e : m_filters)
        e.filter->SetSyncSource(m_clock.Get());
}

HRESULT CFilterGraph::SetSyncSource(IReferenceClock *pClock)
{
    CAutoLock lock(m_csGraph);
    if (m_state != GraphState::Stopped)
        return VFW_E_NOT_STOPPED;
    m_clock = pClock;
    m_clockMode = pClock ? ClockMode::Chosen : ClockMode::None;
    DistributeClock();
    return S_OK;
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock **pClock)
{
    if (!pClock)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    return m_clock.CopyTo(pClock);
}

HRESULT CFilterGraph::SetDefaultSyncSource()
{
    CAutoLock lock(m_csGraph);
    if (m_state != GraphState::Stopped)
        return VFW_E_NOT_STOPPED;
    m_clockMode = ClockMode::Default;
    ChooseDefaultClock();
    return S_OK;
}

HRESULT CFilterGraph::GetClassID(CLSID *pClassID)
{
    if (!pClassID)
        return E_POINTER;
    *pClassID = CLSID_FilterGraph;
    return S_OK;
}

// ---- State changes ------------------------------------------------------------------

HRESULT CFilterGraph::PauseFilters()
{
    HRESULT result = S_OK;
    for (const ComPtr<IBaseFilter> &filter : DownstreamFirst()) {
        const HRESULT hr = filter->Pause();
        if (FAILED(hr))
            return hr;
        if (hr == S_FALSE)
            result = S_FALSE;
    }
    return result;
}

HRESULT CFilterGraph::RunFilters(REFERENCE_TIME tStart)
{
    m_tStart = tStart;
    for (const ComPtr<IBaseFilter> &filter : DownstreamFirst()) {
        const HRESULT hr = filter->Run(tStart);
        if (FAILED(hr))
            return hr;
    }
    m_state = GraphState::Running;
    return S_OK;
}

HRESULT CFilterGraph::StopFilters()
{
    HRESULT result = S_OK;
    for (const ComPtr<IBaseFilter> &filter : DownstreamFirst()) {
        const HRESULT hr = filter->Stop();
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

HRESULT CFilterGraph::Pause()
{
    CAutoLock lock(m_csGraph);
    switch (m_state) {
    case GraphState::Stopped:
        ChooseDefaultClock();
        m_pausedStreamTime = 0;
        m_sendGate.Open();
        ResumeWhereStopped();
        ResetCompletion();
        break;
    case GraphState::Paused:
        break;
    case GraphState::Running:
        m_pausedStreamTime = StreamTime();
        break;
    }
    const HRESULT hr = PauseFilters();
    if (FAILED(hr)) {
        // Back to stopped, whatever state the filters reached.
        m_sendGate.Close();
        StopFilters();
        m_state = GraphState::Stopped;
        m_sendGate.Open();
        return hr;
    }
    m_state = GraphState::Paused;
    TopologyChanged();
    return hr;
}

HRESULT CFilterGraph::Run()
{
    CAutoLock lock(m_csGraph);
    if (m_state == GraphState::Running)
        return S_OK;
    HRESULT paused = S_OK;
    if (m_state == GraphState::Stopped) {
        paused = Pause();
        if (FAILED(paused))
            return paused;
    }
    // Stream time goes on from where the pause left it, or from the paused
    // picture when that is well ahead: pictures swallowed on the way to a
    // target put it ahead of the clock, and the renderer would hold it (and
    // the sound run on) until the clock caught up. A picture cued by an
    // ordinary pause is at most a frame or two ahead and waits for its time.
    constexpr REFERENCE_TIME kWellAhead = 1000000;  // 100 ms
    REFERENCE_TIME resumeAt = m_pausedStreamTime;
    REFERENCE_TIME shown = 0;
    if (PresentedStreamTime(&shown) && shown > m_pausedStreamTime + kWellAhead)
        resumeAt = shown;
    const REFERENCE_TIME tStart = m_clock ? ClockTime() - resumeAt : 0;
    const HRESULT hr = Run(tStart);
    return FAILED(hr) ? hr : paused;
}

HRESULT CFilterGraph::Run(REFERENCE_TIME tStart)
{
    CAutoLock lock(m_csGraph);
    if (m_state == GraphState::Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    const HRESULT hr = RunFilters(tStart);
    if (FAILED(hr)) {
        Stop();
        return hr;
    }
    TopologyChanged();
    return S_OK;
}

HRESULT CFilterGraph::Stop()
{
    CAutoLock lock(m_csGraph);
    if (m_state == GraphState::Stopped)
        return S_OK;
    LONGLONG here = 0;
    const bool knowsPosition = SUCCEEDED(GetCurrentPosition(&here));
    m_sendGate.Close();  // before anything waits for a streaming thread
    const HRESULT hr = StopFilters();
    assert(m_sendGate.PendingCount() == 0);  // stop's postcondition: no send pending
    m_state = GraphState::Stopped;
    m_pausedStreamTime = 0;
    if (knowsPosition)
        KeepResume(here);
    ResetCompletion();
    m_sendGate.Open();
    TopologyChanged();
    return hr;
}

HRESULT CFilterGraph::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State)
{
    if (!State)
        return E_POINTER;
    if (std::this_thread::get_id() == m_owner)
        RepaintIfPending();  // the state asked for is the one after it
    std::vector<ComPtr<IBaseFilter>> filters;
    {
        CAutoLock lock(m_csGraph);
        *State = ToFilterState(m_state);
        for (const Entry &e : m_filters)
            filters.push_back(e.filter);
    }
    // Waits with no lock of ours held: the renderers need none to finish.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(dwMilliSecsTimeout);
    for (const ComPtr<IBaseFilter> &filter : filters) {
        const HRESULT hr = WaitForFilter(filter.Get(), dwMilliSecsTimeout == INFINITE, deadline);
        if (hr == VFW_S_STATE_INTERMEDIATE || FAILED(hr))
            return hr;
    }
    return S_OK;
}

// A message-aware wait: in slices, letting the messages that streaming
// threads are blocked sending to this thread run before each. A filter
// waiting in such a send would otherwise hold the state change up for the
// whole time-out. A filter that answers before its slice is over does not
// wait for anything: it is not asked again.
HRESULT CFilterGraph::WaitForFilter(IBaseFilter *filter, bool unlimited,
                                    std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    constexpr milliseconds kSlice{10};
    for (;;) {
        ProcessSentMessages();
        milliseconds wait = kSlice;
        if (!unlimited)
            wait = std::clamp(duration_cast<milliseconds>(deadline - steady_clock::now()), milliseconds{0}, kSlice);
        const auto began = steady_clock::now();
        FILTER_STATE ignored;
        const HRESULT hr = filter->GetState(static_cast<DWORD>(wait.count()), &ignored);
        if (hr != VFW_S_STATE_INTERMEDIATE)
            return hr;
        const auto now = steady_clock::now();
        if (now - began < wait || (!unlimited && now >= deadline))
            return hr;
    }
}

HRESULT CFilterGraph::GetState(LONG msTimeout, OAFilterState *pfs)
{
    if (!pfs)
        return E_POINTER;
    FILTER_STATE state = State_Stopped;
    const DWORD timeout = msTimeout < 0 ? INFINITE : static_cast<DWORD>(msTimeout);
    const HRESULT hr = GetState(timeout, &state);
    *pfs = static_cast<OAFilterState>(state);
    return hr;
}

HRESULT CFilterGraph::StopWhenReady()
{
    HRESULT hr = Pause();
    if (SUCCEEDED(hr)) {
        FILTER_STATE state;
        GetState(DWORD{10000}, &state);  // bounded: a source may never deliver
    }
    const HRESULT stopped = Stop();
    return FAILED(hr) ? hr : stopped;
}

// ---- IBasicAudio ------------------------------------------------------------------

namespace {
template <class Call>
HRESULT WithAudio(const std::vector<ComPtr<IBaseFilter>> &filters, Call call)
{
    for (const ComPtr<IBaseFilter> &filter : filters)
        if (ComPtr<IBasicAudio> audio = ComQuery<IBasicAudio>(filter.Get()))
            return call(audio.Get());
    return E_NOTIMPL;
}
} // namespace

HRESULT CFilterGraph::put_Volume(LONG lVolume)
{
    if (lVolume < AUDIO_VOLUME_MIN || lVolume > AUDIO_VOLUME_MAX)
        return E_INVALIDARG;
    CAutoLock lock(m_csGraph);
    return WithAudio(DownstreamFirst(), [&](IBasicAudio *a) { return a->put_Volume(lVolume); });
}

HRESULT CFilterGraph::get_Volume(LONG *plVolume)
{
    if (!plVolume)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    return WithAudio(DownstreamFirst(), [&](IBasicAudio *a) { return a->get_Volume(plVolume); });
}

HRESULT CFilterGraph::put_Balance(LONG lBalance)
{
    if (lBalance < -10000 || lBalance > 10000)
        return E_INVALIDARG;
    CAutoLock lock(m_csGraph);
    return WithAudio(DownstreamFirst(), [&](IBasicAudio *a) { return a->put_Balance(lBalance); });
}

HRESULT CFilterGraph::get_Balance(LONG *plBalance)
{
    if (!plBalance)
        return E_POINTER;
    CAutoLock lock(m_csGraph);
    return WithAudio(DownstreamFirst(), [&](IBasicAudio *a) { return a->get_Balance(plBalance); });
}
