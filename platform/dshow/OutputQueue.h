// COutputQueue: a delivery thread in front of an output pin. A filter that
// sends one input to several outputs cannot deliver to them in turn on the
// upstream thread: a paused renderer holds the thread that brings it its
// first sample, and the other outputs would never get theirs, so the pause
// would never complete. Samples, new segments and the end of stream are
// queued in order and delivered on the queue's own thread.
//
// Threads: Queue* from the producer (the upstream streaming thread);
// Start/Stop from the UI thread (pin Active/Inactive); BeginFlush/EndFlush
// from the seeking thread. A flush drops what is queued and releases the
// delivery thread downstream before the pin's flush is passed on.
#pragma once

#include "platform/dshow/Pins.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class COutputQueue {
public:
    explicit COutputQueue(CBaseOutputPin *pin) : m_pin(pin) {}
    ~COutputQueue() { Stop(); }
    COutputQueue(const COutputQueue &) = delete;
    COutputQueue &operator=(const COutputQueue &) = delete;

    void Start();
    // Waits for the thread; call after downstream stopped holding it.
    void Stop();

    // S_OK, or the failure of an earlier delivery (the producer may stop).
    HRESULT QueueSample(IMediaSample *sample);
    void QueueEndOfStream();
    void QueueNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    void BeginFlush();
    void EndFlush();

private:
    enum class Kind { Sample, EndOfStream, NewSegment };
    struct Item {
        Kind kind;
        ComPtr<IMediaSample> sample;
        REFERENCE_TIME start = 0, stop = 0;
        double rate = 1.0;
    };
    void Push(Item item);
    void ThreadProc();

    CBaseOutputPin *const m_pin;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    bool m_stop = false;
    bool m_flushing = false;
    HRESULT m_failure = S_OK;  // until the next flush or start
    std::thread m_thread;
};
