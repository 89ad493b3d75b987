#include "platform/dshow/RefClock.h"

#include <algorithm>
#include <chrono>

// ---- CBaseReferenceClock -------------------------------------------------------

HRESULT CBaseReferenceClock::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IReferenceClock || riid == IID_IUnknown)
        return GetInterface(static_cast<IReferenceClock *>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseReferenceClock::GetTime(REFERENCE_TIME *pTime)
{
    if (!pTime)
        return E_POINTER;
    *pTime = GetPrivateTime();
    return S_OK;
}

HRESULT CBaseReferenceClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                        HEVENT hEvent, DWORD_PTR *pdwAdviseCookie)
{
    if (!hEvent || !pdwAdviseCookie)
        return E_POINTER;
    if (baseTime < 0 || streamTime > MAX_TIME - baseTime)
        return E_INVALIDARG;
    std::lock_guard lock(m_adviseLock);
    *pdwAdviseCookie = m_nextCookie++;
    const REFERENCE_TIME due = baseTime + streamTime;
    if (due <= GetPrivateTime()) {
        hEvent->Set();
        return S_OK;
    }
    m_advises.push_back({*pdwAdviseCookie, due, 0, hEvent});
    OnAdviseAdded();
    return S_OK;
}

HRESULT CBaseReferenceClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                            HEVENT hSemaphore, DWORD_PTR *pdwAdviseCookie)
{
    if (!hSemaphore || !pdwAdviseCookie)
        return E_POINTER;
    if (startTime < 0 || periodTime <= 0)
        return E_INVALIDARG;
    std::lock_guard lock(m_adviseLock);
    *pdwAdviseCookie = m_nextCookie++;
    m_advises.push_back({*pdwAdviseCookie, startTime, periodTime, hSemaphore});
    FireDue(GetPrivateTime());
    OnAdviseAdded();
    return S_OK;
}

HRESULT CBaseReferenceClock::Unadvise(DWORD_PTR dwAdviseCookie)
{
    std::lock_guard lock(m_adviseLock);
    const auto it = std::find_if(m_advises.begin(), m_advises.end(),
                                 [&](const Advise &a) { return a.cookie == dwAdviseCookie; });
    if (it == m_advises.end())
        return S_FALSE;
    m_advises.erase(it);
    return S_OK;
}

REFERENCE_TIME CBaseReferenceClock::FireDue(REFERENCE_TIME now)
{
    REFERENCE_TIME next = MAX_TIME;
    for (auto it = m_advises.begin(); it != m_advises.end();) {
        if (it->due <= now) {
            it->event->Set();
            if (it->period == 0) {
                it = m_advises.erase(it);
                continue;
            }
            // A periodic advise that fell behind fires once, then catches up.
            const REFERENCE_TIME missed = (now - it->due) / it->period + 1;
            it->due += missed * it->period;
        }
        next = std::min(next, it->due);
        ++it;
    }
    return next;
}

// ---- CSystemClock --------------------------------------------------------------

CSystemClock::CSystemClock() : m_thread([this] { TimerLoop(); }) {}

CSystemClock::~CSystemClock()
{
    {
        std::lock_guard lock(m_adviseLock);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

REFERENCE_TIME CSystemClock::GetPrivateTime()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
}

void CSystemClock::OnAdviseAdded() { m_wake.notify_all(); }

void CSystemClock::TimerLoop()
{
    std::unique_lock lock(m_adviseLock);
    while (!m_quit) {
        const REFERENCE_TIME next = FireDue(GetPrivateTime());
        if (next == MAX_TIME) {
            m_wake.wait(lock);
            continue;
        }
        const auto wait = std::chrono::nanoseconds((next - GetPrivateTime()) * 100);
        if (wait.count() > 0)
            m_wake.wait_for(lock, wait);
    }
}

HRESULT CreateSystemClock(REFIID riid, void **ppv)
{
    ComPtr<CSystemClock> clock = MakeCom<CSystemClock>();
    return clock->NonDelegatingQueryInterface(riid, ppv);
}

// ---- CManualClock --------------------------------------------------------------

REFERENCE_TIME CManualClock::GetPrivateTime() { return m_now.load(std::memory_order_acquire); }

void CManualClock::SetTime(REFERENCE_TIME t)
{
    std::lock_guard lock(m_adviseLock);
    if (t <= m_now.load(std::memory_order_relaxed))
        return;
    m_now.store(t, std::memory_order_release);
    FireDue(t);
}

void CManualClock::Advance(REFERENCE_TIME dt)
{
    std::lock_guard lock(m_adviseLock);
    if (dt <= 0)
        return;
    const REFERENCE_TIME t = m_now.load(std::memory_order_relaxed) + dt;
    m_now.store(t, std::memory_order_release);
    FireDue(t);
}

size_t CManualClock::PendingAdvises()
{
    std::lock_guard lock(m_adviseLock);
    return m_advises.size();
}
