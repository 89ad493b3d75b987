// Reference clocks: the advise list they share, the system clock
// (CLSID_SystemClock, a monotonic clock with a timer thread) and a manually
// driven clock for tests and tools.
//
// An advise names an event the clock sets when its time comes. The clock
// sets events with its advise lock held, so once Unadvise has returned the
// clock never touches that event again and its owner may destroy it.
// Nothing else is called under that lock.
//
// Any thread.
#pragma once

#include "platform/dshow/Strmif.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class CBaseReferenceClock : public CUnknown, public IReferenceClock {
public:
    CBaseReferenceClock() = default;
    ~CBaseReferenceClock() override = default;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IReferenceClock
    HRESULT GetTime(REFERENCE_TIME *pTime) override;
    // A time already reached sets the event at once (and still returns a
    // cookie, which Unadvise then answers with S_FALSE).
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR *pdwAdviseCookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HEVENT hSemaphore,
                           DWORD_PTR *pdwAdviseCookie) override;
    // S_FALSE when the cookie is unknown (fired or never given).
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

    // The clock's own time (100 ns); callable with or without m_adviseLock.
    virtual REFERENCE_TIME GetPrivateTime() = 0;

protected:
    struct Advise {
        DWORD_PTR cookie;
        REFERENCE_TIME due;
        REFERENCE_TIME period;  // 0: once
        HEVENT event;
    };
    // Sets the events that are due at `now`; the earliest time still
    // waited for, or MAX_TIME. m_adviseLock held.
    REFERENCE_TIME FireDue(REFERENCE_TIME now);
    // A new advise came in (m_adviseLock held): a timer thread re-plans.
    virtual void OnAdviseAdded() {}

    std::mutex m_adviseLock;
    std::vector<Advise> m_advises;

private:
    DWORD_PTR m_nextCookie = 1;
};

// The system reference clock: a monotonic time, advises served by a timer
// thread that lives as long as the clock.
class CSystemClock final : public CBaseReferenceClock {
public:
    CSystemClock();
    ~CSystemClock() override;
    REFERENCE_TIME GetPrivateTime() override;

private:
    void OnAdviseAdded() override;
    void TimerLoop();

    std::condition_variable m_wake;
    bool m_quit = false;  // m_adviseLock
    std::thread m_thread;
};

// A clock that moves only when told to (tests, tools). Advises fire on the
// thread that moves the clock.
class CManualClock final : public CBaseReferenceClock {
public:
    explicit CManualClock(REFERENCE_TIME start = 0) : m_now(start) {}
    REFERENCE_TIME GetPrivateTime() override;
    // Time only moves forward; a smaller value is ignored.
    void SetTime(REFERENCE_TIME t);
    void Advance(REFERENCE_TIME dt);
    // Number of advises still waiting (tests wait for a renderer to ask).
    size_t PendingAdvises();

private:
    std::atomic<REFERENCE_TIME> m_now;  // written under m_adviseLock
};

// Creates the system clock (the catalogue entry of CLSID_SystemClock).
HRESULT CreateSystemClock(REFIID riid, void **ppv);
