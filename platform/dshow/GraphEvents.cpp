// Graph events: what filters notify (IMediaEventSink, any thread), queued
// for the application (IMediaEventEx), with a posted notice to its window.
//
// EC_COMPLETE is handled by default: the renderers present when the graph
// starts (or after a seek) are counted, and when each of them has reported
// the end of its stream the graph queues one EC_COMPLETE (the first failure
// code among theirs, else S_OK; the last renderer, referenced until
// FreeEventParams). Stop and seeks start the count over.
//
// EC_REPAINT is handled by default too: a renderer lost its still picture
// to a flush that was not the graph's own seek. The graph seeks its sources
// to that picture again, on its own thread: posted to its window, or done
// first thing in GetState there. It reaches the application only with no
// window to do it on.
//
// Only m_eventLock is taken here, and nothing is called under it but
// PostMessage: a streaming thread that notifies while holding its filter's
// locks cannot wait for anything.
#include "platform/dshow/FilterGraph.h"

#include "platform/base/MessageWindow.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr size_t kMaxQueuedEvents = 4096;  // a reader that never reads costs no more

bool IsRendererFilter(IBaseFilter *filter)
{
    const auto inputs = dshow::PinsOf(filter, PINDIR_INPUT);
    if (std::none_of(inputs.begin(), inputs.end(), [](const ComPtr<IPin> &pin) { return dshow::PeerOf(pin.Get()); }))
        return false;
    if (auto flags = ComQuery<IAMFilterMiscFlags>(filter))
        return (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) != 0;
    return dshow::PinsOf(filter, PINDIR_OUTPUT).empty();
}
} // namespace

// UI thread, m_csGraph held.
void CFilterGraph::ResetCompletion()
{
    std::vector<IBaseFilter *> renderers;
    for (const Entry &e : m_filters)
        if (IsRendererFilter(e.filter.Get()))
            renderers.push_back(e.filter.Get());
    std::lock_guard lock(m_eventLock);
    m_renderers = std::move(renderers);
    m_completed.clear();
    m_completeResult = S_OK;
    m_completeSent = false;
    m_completionCode = 0;
}

bool CFilterGraph::IsCountedRenderer(IBaseFilter *filter) const
{
    return std::find(m_renderers.begin(), m_renderers.end(), filter) != m_renderers.end();
}

HRESULT CFilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2)
{
    std::lock_guard lock(m_eventLock);
    if (EventCode == EC_REPAINT && RepaintEventLocked(EventParam2))
        return S_OK;
    if (EventCode != EC_COMPLETE || !m_defaultCompleteHandling) {
        if (EventCode == EC_ERRORABORT || EventCode == EC_USERABORT)
            m_completionCode = EventCode;
        QueueEventLocked(EventCode, EventParam1, EventParam2);
        return S_OK;
    }
    auto *renderer = reinterpret_cast<IBaseFilter *>(EventParam2);
    if (m_completeSent || !IsCountedRenderer(renderer)
        || std::find(m_completed.begin(), m_completed.end(), renderer) != m_completed.end())
        return S_OK;
    m_completed.push_back(renderer);
    if (FAILED(static_cast<HRESULT>(EventParam1)) && SUCCEEDED(m_completeResult))
        m_completeResult = static_cast<HRESULT>(EventParam1);
    if (m_completed.size() == m_renderers.size()) {
        m_completeSent = true;
        m_completionCode = EC_COMPLETE;
        QueueEventLocked(EC_COMPLETE, m_completeResult, EventParam2);
    }
    return S_OK;
}

// True when the graph takes care of it.
bool CFilterGraph::RepaintEventLocked(LONG_PTR position)
{
    if (m_repositioning.load())
        return true;  // our own seek: a new segment is on its way
    if (!m_window)
        return false;
    m_repaintAt = static_cast<REFERENCE_TIME>(position);
    if (!m_repaintPending)
        PostMessage(m_window, kRepaintMessage, 0, 0);
    m_repaintPending = true;
    return true;
}

// Owner thread. Only a paused graph shows a still picture.
void CFilterGraph::RepaintIfPending()
{
    LONGLONG at = 0;
    {
        std::lock_guard lock(m_eventLock);
        if (!m_repaintPending)
            return;
        m_repaintPending = false;
        at = m_repaintAt;
    }
    CAutoLock lock(m_csGraph);
    if (m_state == GraphState::Paused)
        SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}

void CFilterGraph::QueueEventLocked(LONG code, LONG_PTR p1, LONG_PTR p2)
{
    if (m_events.size() >= kMaxQueuedEvents)
        return;
    if (code == EC_COMPLETE && p2)
        reinterpret_cast<IBaseFilter *>(p2)->AddRef();  // until FreeEventParams
    m_events.push_back({code, p1, p2});
    m_eventArrived.notify_all();
    if (m_notifyWindow && !(m_notifyFlags & AM_MEDIAEVENT_NONOTIFY))
        PostMessage(static_cast<HWND>(m_notifyWindow), static_cast<UINT>(m_notifyMessage), 0,
                    m_notifyInstance);
}

HRESULT CFilterGraph::GetEvent(LONG *lEventCode, LONG_PTR *lParam1, LONG_PTR *lParam2, LONG msTimeout)
{
    if (!lEventCode || !lParam1 || !lParam2)
        return E_POINTER;
    std::unique_lock lock(m_eventLock);
    const auto ready = [this] { return !m_events.empty(); };
    if (msTimeout < 0)
        m_eventArrived.wait(lock, ready);
    else if (!m_eventArrived.wait_for(lock, std::chrono::milliseconds(msTimeout), ready))
        return E_ABORT;
    const Event e = m_events.front();
    m_events.pop_front();
    *lEventCode = e.code;
    *lParam1 = e.p1;
    *lParam2 = e.p2;
    return S_OK;
}

HRESULT CFilterGraph::WaitForCompletion(LONG msTimeout, LONG *pEvCode)
{
    if (!pEvCode)
        return E_POINTER;
    std::unique_lock lock(m_eventLock);
    const auto done = [this] { return m_completionCode != 0; };
    if (msTimeout < 0)
        m_eventArrived.wait(lock, done);
    else if (!m_eventArrived.wait_for(lock, std::chrono::milliseconds(msTimeout), done))
        return E_ABORT;
    *pEvCode = m_completionCode;
    return S_OK;
}

HRESULT CFilterGraph::CancelDefaultHandling(LONG lEvCode)
{
    if (lEvCode != EC_COMPLETE)
        return S_FALSE;  // the only event handled by default
    std::lock_guard lock(m_eventLock);
    m_defaultCompleteHandling = false;
    return S_OK;
}

HRESULT CFilterGraph::RestoreDefaultHandling(LONG lEvCode)
{
    if (lEvCode != EC_COMPLETE)
        return S_FALSE;
    std::lock_guard lock(m_eventLock);
    m_defaultCompleteHandling = true;
    return S_OK;
}

HRESULT CFilterGraph::FreeEventParams(LONG lEvCode, LONG_PTR, LONG_PTR lParam2)
{
    if (lEvCode == EC_COMPLETE && lParam2)
        reinterpret_cast<IBaseFilter *>(lParam2)->Release();
    return S_OK;
}

void CFilterGraph::FreeQueuedEvents()
{
    std::deque<Event> events;
    {
        std::lock_guard lock(m_eventLock);
        events.swap(m_events);
    }
    for (const Event &e : events)
        FreeEventParams(e.code, e.p1, e.p2);
}

HRESULT CFilterGraph::SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData)
{
    std::lock_guard lock(m_eventLock);
    m_notifyWindow = hwnd;
    m_notifyMessage = lMsg;
    m_notifyInstance = lInstanceData;
    // Events already waiting get their notice too.
    if (hwnd && !m_events.empty() && !(m_notifyFlags & AM_MEDIAEVENT_NONOTIFY))
        PostMessage(static_cast<HWND>(hwnd), static_cast<UINT>(lMsg), 0, lInstanceData);
    return S_OK;
}

HRESULT CFilterGraph::SetNotifyFlags(LONG lNoNotifyFlags)
{
    if (lNoNotifyFlags & ~AM_MEDIAEVENT_NONOTIFY)
        return E_INVALIDARG;
    std::lock_guard lock(m_eventLock);
    m_notifyFlags = lNoNotifyFlags;
    return S_OK;
}

HRESULT CFilterGraph::GetNotifyFlags(LONG *lplNoNotifyFlags)
{
    if (!lplNoNotifyFlags)
        return E_POINTER;
    std::lock_guard lock(m_eventLock);
    *lplNoNotifyFlags = m_notifyFlags;
    return S_OK;
}
