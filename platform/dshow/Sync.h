// Locks and events of the media graph engine.
//
// CCritSec is the SDK's critical section: recursive (filter code written
// against the SDK's base classes takes its state lock again inside calls made
// under it), and it knows its owner, so engine code can assert that it holds,
// or does not hold, a lock where the lock order matters. Nothing waits on a
// condition variable with a CCritSec: waits use CAMEvent or a private mutex. CAMEvent is the Win32 event the reference clocks
// signal: a flag with a condition variable, set by one thread, awaited by
// another.
//
// Any thread.
#pragma once

#include "platform/base/WinTypes.h"

#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;

class CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec &) = delete;
    CCritSec &operator=(const CCritSec &) = delete;

    void lock()
    {
        m_mutex.lock();
        if (m_depth++ == 0)
            m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    bool try_lock()
    {
        if (!m_mutex.try_lock())
            return false;
        if (m_depth++ == 0)
            m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
        return true;
    }
    void unlock()
    {
        if (--m_depth == 0)
            m_owner.store(std::thread::id(), std::memory_order_relaxed);
        m_mutex.unlock();
    }
    // Only meaningful for the calling thread's own answer.
    bool IsHeldByMe() const
    {
        return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }

private:
    std::recursive_mutex m_mutex;
    std::atomic<std::thread::id> m_owner{};
    int m_depth = 0;  // touched by the owner only
};

using CAutoLock = std::lock_guard<CCritSec>;

// Debug checks of the lock discipline written in the engine essays.
#define CritCheckIn(cs) assert((cs).IsHeldByMe())
#define CritCheckOut(cs) assert(!(cs).IsHeldByMe())

// Manual-reset events stay set until Reset; auto-reset events release one
// waiter and clear themselves.
class CAMEvent {
public:
    explicit CAMEvent(bool manualReset = false) : m_manual(manualReset) {}
    CAMEvent(const CAMEvent &) = delete;
    CAMEvent &operator=(const CAMEvent &) = delete;

    void Set()
    {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        if (m_manual)
            m_cv.notify_all();
        else
            m_cv.notify_one();
    }
    void Reset()
    {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }
    // True when the event was (or became) set within `ms` milliseconds.
    bool Wait(DWORD ms = INFINITE)
    {
        std::unique_lock lock(m_mutex);
        const auto ready = [this] { return m_signalled; };
        if (ms == INFINITE)
            m_cv.wait(lock, ready);
        else if (!m_cv.wait_for(lock, std::chrono::milliseconds(ms), ready))
            return false;
        if (!m_manual)
            m_signalled = false;
        return true;
    }
    bool Check() { return Wait(0); }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;
    const bool m_manual;
};

// The reference clocks' event handle: the event object itself.
using HEVENT = CAMEvent *;
