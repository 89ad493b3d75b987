// Push sources: CSource (the filter) and CSourceStream (an output pin with
// its own streaming thread that fills buffers and delivers them).
//
// See Source.cpp for the thread's states, the locks and the deadlock they
// avoid.
//
// Ownership: a CSource owns its streams (AddStream). Threads: Active and
// Inactive (the filter's Pause from Stopped and its Stop) and connections:
// UI thread. FillBuffer, OnThreadStartPlay: the stream's own thread; they
// must not take the filter's state lock.
#pragma once

#include "platform/dshow/Pins.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CSource;

class CSourceStream : public CBaseOutputPin {
public:
    CSourceStream(CSource *pFilter, LPCWSTR pName);
    ~CSourceStream() override;

    // Stopped -> Paused: commits the allocator and starts the thread.
    HRESULT Active() override;
    // -> Stopped: decommits (a thread waiting for a buffer returns) and
    // joins the thread. Downstream must already be stopped or flushing, so
    // that a thread blocked in Deliver has returned.
    HRESULT Inactive() override;

    // ---- For derived classes ----
    // Streaming thread: fill the buffer (data, length, times, flags).
    // S_OK delivers it; S_FALSE ends the stream (EndOfStream goes down); a
    // failure ends it with EC_ERRORABORT.
    virtual HRESULT FillBuffer(IMediaSample *pSample) = 0;
    // Streaming thread: at thread start, before the first sample and after
    // every restart (seeking sends NewSegment here).
    virtual HRESULT OnThreadStartPlay();
    // Streaming thread, around its life.
    virtual HRESULT OnThreadCreate();
    virtual HRESULT OnThreadDestroy();

    bool ThreadExists() const { return m_thread.joinable(); }

protected:
    // UI thread, state lock held: the thread's life. StopThread returns when
    // the thread has ended; downstream must not hold it (see Inactive).
    HRESULT StartThread();
    void StopThread();
    // Streaming thread: a stop was asked for.
    bool StopRequested() const { return m_bStop.load(std::memory_order_acquire); }

    CSource *const m_pSourceFilter;

private:
    void ThreadProc();
    void DoBufferProcessingLoop();
    void WaitForStopRequest();

    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::mutex m_idleLock;  // guards nothing but the idle wait
    std::condition_variable m_idleWake;
};

class CSource : public CBaseFilter {
public:
    CSource(LPCWSTR pName, REFCLSID clsid);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin *GetPin(int n) override;

    // UI thread, before the filter is used: takes ownership.
    void AddStream(std::unique_ptr<CSourceStream> stream);
    CSourceStream *Stream(int n) const;

protected:
    CCritSec m_cStateLock;  // the state lock

private:
    std::vector<std::unique_ptr<CSourceStream>> m_streams;
};
