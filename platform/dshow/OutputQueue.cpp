#include "platform/dshow/OutputQueue.h"

void COutputQueue::Start()
{
    Stop();
    {
        std::lock_guard lock(m_lock);
        m_stop = false;
        m_flushing = false;
        m_failure = S_OK;
        m_items.clear();
    }
    m_thread = std::thread([this] { ThreadProc(); });
}

void COutputQueue::Stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
        m_items.clear();
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void COutputQueue::Push(Item item)
{
    {
        std::lock_guard lock(m_lock);
        if (m_stop || m_flushing)
            return;
        m_items.push_back(std::move(item));
    }
    m_changed.notify_all();
}

HRESULT COutputQueue::QueueSample(IMediaSample *sample)
{
    {
        std::lock_guard lock(m_lock);
        if (FAILED(m_failure))
            return m_failure;
    }
    Push({Kind::Sample, ComPtr<IMediaSample>(sample)});
    return S_OK;
}

void COutputQueue::QueueEndOfStream() { Push({Kind::EndOfStream, nullptr}); }

void COutputQueue::QueueNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    Push({Kind::NewSegment, nullptr, start, stop, rate});
}

void COutputQueue::BeginFlush()
{
    {
        std::lock_guard lock(m_lock);
        m_flushing = true;
        m_items.clear();
    }
    m_pin->DeliverBeginFlush();  // releases the thread if downstream holds it
}

void COutputQueue::EndFlush()
{
    m_pin->DeliverEndFlush();
    std::lock_guard lock(m_lock);
    m_flushing = false;
    m_failure = S_OK;
}

void COutputQueue::ThreadProc()
{
    for (;;) {
        Item item;
        {
            std::unique_lock lock(m_lock);
            m_changed.wait(lock, [this] { return m_stop || !m_items.empty(); });
            if (m_stop)
                return;
            item = std::move(m_items.front());
            m_items.pop_front();
        }
        HRESULT hr = S_OK;
        if (item.kind == Kind::Sample)
            hr = m_pin->Deliver(item.sample.Get());
        else if (item.kind == Kind::EndOfStream)
            hr = m_pin->DeliverEndOfStream();
        else
            hr = m_pin->DeliverNewSegment(item.start, item.stop, item.rate);
        if (FAILED(hr)) {
            std::lock_guard lock(m_lock);
            m_failure = hr;
        }
    }
}
