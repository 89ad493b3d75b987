// Message windows on Qt Core.
//
// A window is a QObject living on the thread that allocated it; a posted
// message is a custom QEvent delivered there. Handles are integers looked up
// in a process-wide table, never reused, so a stale handle finds nothing.
//
// A send from another thread is a PendingSend shared by the blocked sender and
// the SendEvent queued for the window. Its states:
//
//   Queued     the event waits in the window's queue; the sender blocks.
//   Running    the handler is running on the window's thread; the sender blocks.
//   Replied    the handler called ReplyMessage: the sender has its result and
//              goes on while the handler finishes.
//   Done       the handler returned: the sender has the handler's result.
//   Cancelled  released with 0 ("unhandled") by SendGate::Close, by
//              DeallocateHWnd or by the event being dropped unread. From Queued
//              the handler never runs afterwards: lParam may point into a
//              producer's record that is gone by then. From Running the
//              handler goes on, but its result is thrown away.
//
// Replied, Done and Cancelled release the sender; whoever makes that move
// also unlinks the send from its gate, so a gate's list holds exactly the
// blocked sends (PendingCount) and is empty the moment Close returns.
//
// Locks, in this order (never the other way round):
//   tableLock  the handle table. Held while posting to a window so that the
//              window cannot be deleted under QCoreApplication::postEvent;
//              DeallocateHWnd unlinks under it, then drops the queued events.
//   sendLock   every PendingSend's state and result, every gate's flag and
//              list. Never held while calling into Qt or a handler, so an event
//              destructor (which may run inside postEvent) can take it.
// A sender waits on its send's condition variable with no lock of ours held.
//
// The deadlock this avoids: a UI thread stopping a graph joins the graph's
// streaming thread while that thread is blocked in SendMessage waiting for the
// UI thread to run the handler. Stop closes the graph's SendGate first, which
// releases the sender without the UI thread running anything; the stale
// message stays queued and is skipped when it comes up. Close also releases a
// send whose handler is running, for a handler that itself stops the graph.
//
// A sender does not run messages sent to its own windows while it waits; in
// this program only the UI thread owns windows and it never sends across.
#include "MessageWindow.h"

#include <QCoreApplication>
#include <QTimer>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#define VS_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VS_TSAN 1
#endif
#endif
#ifdef VS_TSAN
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

namespace {

// Qt hands a posted event to the receiving thread under its own mutex, which
// ThreadSanitizer cannot see (QtCore is not instrumented). These mark that
// edge so the event's contents do not show up as a race, while every other
// access stays checked.
inline void HandOver([[maybe_unused]] QEvent *e)
{
#ifdef VS_TSAN
    __tsan_release(e);
#endif
}

inline void TakeOver([[maybe_unused]] QEvent *e)
{
#ifdef VS_TSAN
    __tsan_acquire(e);
#endif
}

enum class SendState { Queued, Running, Replied, Done, Cancelled };

struct PendingSend {
    TMessage msg;
    SendState state = SendState::Queued;
    LRESULT result = 0;
    std::condition_variable released;
    std::shared_ptr<SendGate::Impl> gate;
};

bool IsReleased(SendState s)
{
    switch (s) {
    case SendState::Queued:
    case SendState::Running: return false;
    case SendState::Replied:
    case SendState::Done:
    case SendState::Cancelled: return true;
    }
    return true;
}

// Debug bookkeeping for the lock order; the flags are per thread.
thread_local bool tlsHoldsTable = false;
thread_local bool tlsHoldsSend = false;

// The mutexes are leaked so that they stay usable while the process exits.
std::mutex &TableMutex()
{
    Q_ASSERT_X(!tlsHoldsSend && !tlsHoldsTable, "TableLock", "lock order: table, then send");
    static std::mutex *m = new std::mutex;
    return *m;
}

std::mutex &SendMutex()
{
    Q_ASSERT_X(!tlsHoldsSend, "SendLock", "send lock is not recursive");
    static std::mutex *m = new std::mutex;
    return *m;
}

class TableLock {
public:
    TableLock() : lk(TableMutex()) { tlsHoldsTable = true; }
    ~TableLock() { tlsHoldsTable = false; }
    TableLock(const TableLock &) = delete;
    TableLock &operator=(const TableLock &) = delete;

private:
    std::lock_guard<std::mutex> lk;
};

class SendLock {
public:
    SendLock() : lk(SendMutex()) { tlsHoldsSend = true; }
    ~SendLock() { tlsHoldsSend = false; }
    SendLock(const SendLock &) = delete;
    SendLock &operator=(const SendLock &) = delete;
    // Blocks until `p` is released; the flag stays set, but nothing else runs
    // on this thread meanwhile.
    void WaitReleased(PendingSend &p)
    {
        p.released.wait(lk, [&p] { return IsReleased(p.state); });
    }

private:
    std::unique_lock<std::mutex> lk;
};

}  // namespace

struct SendGate::Impl {
    // Guarded by sendLock.
    bool open = true;
    std::vector<PendingSend *> pending;
};

namespace {

// Caller holds sendLock. Moves `p` to a releasing state and wakes its sender.
void ReleaseLocked(PendingSend &p, SendState to, LRESULT result)
{
    Q_ASSERT(tlsHoldsSend);
    Q_ASSERT(!IsReleased(p.state) && IsReleased(to));
    p.state = to;
    p.result = to == SendState::Cancelled ? 0 : result;
    if (p.gate) {
        auto &v = p.gate->pending;
        v.erase(std::remove(v.begin(), v.end(), &p), v.end());
    }
    p.released.notify_all();
}

// Releases `p` with 0 unless it has been released already.
void Cancel(PendingSend &p)
{
    SendLock lock;
    if (!IsReleased(p.state))
        ReleaseLocked(p, SendState::Cancelled, 0);
}

QEvent::Type PostEventType()
{
    static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
    return t;
}

QEvent::Type SendEventType()
{
    static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
    return t;
}

// A posted message; `payload` (when any) is what lParam points to, freed
// with the event: after the handler ran, or unread with the queue.
struct PostEvent : QEvent {
    explicit PostEvent(const TMessage &m, std::shared_ptr<void> p = nullptr)
        : QEvent(PostEventType()), msg(m), payload(std::move(p)) {}
    ~PostEvent() override { TakeOver(this); }
    TMessage msg;
    std::shared_ptr<void> payload;
};

// Dropping the event unread (window deallocated, thread gone) cancels the send.
struct SendEvent : QEvent {
    explicit SendEvent(std::shared_ptr<PendingSend> p)
        : QEvent(SendEventType()), send(std::move(p)) {}
    ~SendEvent() override
    {
        TakeOver(this);
        SendLock lock;
        if (send->state == SendState::Queued)
            ReleaseLocked(*send, SendState::Cancelled, 0);
    }
    std::shared_ptr<PendingSend> send;
};

// The cross-thread send whose handler this thread is running (innermost), or
// null while running a posted or same-thread message.
thread_local PendingSend *tlsCurrentSend = nullptr;

class CurrentSendScope {
public:
    explicit CurrentSendScope(PendingSend *p) : saved(tlsCurrentSend) { tlsCurrentSend = p; }
    ~CurrentSendScope() { tlsCurrentSend = saved; }
    CurrentSendScope(const CurrentSendScope &) = delete;
    CurrentSendScope &operator=(const CurrentSendScope &) = delete;

private:
    PendingSend *saved;
};

class MessageWindow final : public QObject {
public:
    explicit MessageWindow(TWndMethod m) : method(std::move(m)) {}

    // Owner thread. Runs the handler for a posted or same-thread message.
    // The window may be gone afterwards (deallocated by the handler).
    void Invoke(TMessage &m);
    // Owner thread, already unlinked from the table: drops what is queued,
    // releases running sends, dies now or after its outermost handler.
    void Retire();

protected:
    bool event(QEvent *e) override;

private:
    // Counts this window's handlers on the stack; the last one out deletes a
    // window that was deallocated meanwhile.
    class Busy {
    public:
        explicit Busy(MessageWindow *window) : win(window) { ++win->depth; }
        ~Busy()
        {
            if (--win->depth == 0 && win->dead)
                delete win;
        }
        Busy(const Busy &) = delete;
        Busy &operator=(const Busy &) = delete;

    private:
        MessageWindow *win;
    };

    void Call(TMessage &m);
    void DeliverSend(const std::shared_ptr<PendingSend> &p);
    void FinishSend(PendingSend *p, LRESULT result);

    TWndMethod method;
    int depth = 0;      // handlers of this window on the stack
    bool dead = false;  // deallocated while a handler was running
    std::vector<std::shared_ptr<PendingSend>> running;  // owner thread only
};

struct WindowEntry {
    MessageWindow *window;
    std::thread::id owner;
};

// Guarded by tableLock.
struct WindowTable {
    std::unordered_map<HWND, WindowEntry> windows;
    HWND next = 0x10000;
};

WindowTable &Table()
{
    static WindowTable *t = new WindowTable;
    return *t;
}

void MessageWindow::Call(TMessage &m)
{
    Q_ASSERT_X(!tlsHoldsTable && !tlsHoldsSend, "MessageWindow", "handler under a lock");
    Q_ASSERT(!dead);  // Retire dropped everything queued for it
    if (method)
        method(m);
}

void MessageWindow::Invoke(TMessage &m)
{
    Busy busy(this);
    Call(m);
}

void MessageWindow::DeliverSend(const std::shared_ptr<PendingSend> &p)
{
    {
        SendLock lock;
        if (p->state != SendState::Queued)
            return;  // cancelled while queued: its lParam may be gone
        p->state = SendState::Running;
    }
    Busy busy(this);
    running.push_back(p);
    TMessage m = p->msg;
    {
        CurrentSendScope scope(p.get());
        Call(m);
    }
    FinishSend(p.get(), m.Result);
}

void MessageWindow::FinishSend(PendingSend *p, LRESULT result)
{
    running.erase(std::find_if(running.begin(), running.end(),
                               [p](const auto &q) { return q.get() == p; }));
    SendLock lock;
    switch (p->state) {
    case SendState::Running: ReleaseLocked(*p, SendState::Done, result); break;
    case SendState::Replied: p->state = SendState::Done; break;
    case SendState::Cancelled: break;  // released by Close or DeallocateHWnd
    case SendState::Queued:
    case SendState::Done: Q_ASSERT_X(false, "FinishSend", "send was not running"); break;
    }
}

bool MessageWindow::event(QEvent *e)
{
    TakeOver(e);
    if (e->type() == PostEventType()) {
        CurrentSendScope scope(nullptr);
        Invoke(static_cast<PostEvent *>(e)->msg);
        return true;
    }
    if (e->type() == SendEventType()) {
        DeliverSend(static_cast<SendEvent *>(e)->send);
        return true;
    }
    return QObject::event(e);
}

void MessageWindow::Retire()
{
    // Queued sends are cancelled by their events' destructors.
    QCoreApplication::removePostedEvents(this);
    for (const auto &p : running)
        Cancel(*p);
    if (depth == 0)
        delete this;
    else
        dead = true;
}

struct Found {
    MessageWindow *window = nullptr;
    std::thread::id owner;
};

Found Lookup(HWND wnd)
{
    TableLock lock;
    auto it = Table().windows.find(wnd);
    if (it == Table().windows.end())
        return {};
    return {it->second.window, it->second.owner};
}

// Queues `e` for the window; false (and `e` deleted) when there is none.
bool PostToWindow(HWND wnd, std::unique_ptr<QEvent> e)
{
    {
        TableLock lock;
        auto it = Table().windows.find(wnd);
        if (it != Table().windows.end()) {
            HandOver(e.get());
            QCoreApplication::postEvent(it->second.window, e.release());
            return true;
        }
    }
    return false;  // `e` dies here, outside the table lock
}

LRESULT DirectCall(MessageWindow *w, const TMessage &msg)
{
    TMessage m = msg;
    CurrentSendScope scope(nullptr);
    w->Invoke(m);
    return m.Result;
}

LRESULT CrossThreadSend(HWND wnd, const TMessage &msg, SendGate *gate)
{
    auto p = std::make_shared<PendingSend>();
    p->msg = msg;
    if (gate) {
        SendLock lock;
        if (!gate->impl->open)
            return 0;
        p->gate = gate->impl;
        p->gate->pending.push_back(p.get());
    }
    if (!PostToWindow(wnd, std::make_unique<SendEvent>(p)))
        return 0;  // the event's destructor has cancelled `p`
    SendLock lock;
    lock.WaitReleased(*p);
    return p->result;
}

}  // namespace

HWND AllocateHWnd(TWndMethod method)
{
    auto *w = new MessageWindow(std::move(method));
    TableLock lock;
    const HWND wnd = Table().next++;
    Table().windows.emplace(wnd, WindowEntry{w, std::this_thread::get_id()});
    return wnd;
}

void DeallocateHWnd(HWND wnd)
{
    MessageWindow *w = nullptr;
    {
        TableLock lock;
        auto it = Table().windows.find(wnd);
        if (it == Table().windows.end())
            return;
        Q_ASSERT_X(it->second.owner == std::this_thread::get_id(), "DeallocateHWnd",
                   "called from a thread that does not own the window");
        w = it->second.window;
        Table().windows.erase(it);
    }
    w->Retire();
}

bool IsWindow(HWND wnd)
{
    return Lookup(wnd).window != nullptr;
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return PostToWindow(wnd, std::make_unique<PostEvent>(TMessage{msg, wParam, lParam, 0}));
}

bool PostMessageOwning(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, std::shared_ptr<void> payload)
{
    return PostToWindow(wnd, std::make_unique<PostEvent>(TMessage{msg, wParam, lParam, 0},
                                                         std::move(payload)));
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, SendGate *gate)
{
    const Found f = Lookup(wnd);
    if (!f.window)
        return 0;
    const TMessage m{msg, wParam, lParam, 0};
    if (f.owner != std::this_thread::get_id())
        return CrossThreadSend(wnd, m, gate);
    if (gate && !gate->IsOpen())
        return 0;
    // Only this thread may delete the window, so `f.window` is still alive.
    return DirectCall(f.window, m);
}

bool ReplyMessage(LRESULT result)
{
    PendingSend *p = tlsCurrentSend;
    if (!p)
        return false;
    SendLock lock;
    if (p->state != SendState::Running)
        return false;
    ReleaseLocked(*p, SendState::Replied, result);
    return true;
}

bool InSendMessage()
{
    return tlsCurrentSend != nullptr;
}

void ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitMessages(int timeoutMs)
{
    // The timer only wakes the wait; it goes with this call.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(std::max(timeoutMs, 0));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ProcessSentMessages()
{
    QCoreApplication::sendPostedEvents(nullptr, SendEventType());
}

SendGate::SendGate() : impl(std::make_shared<Impl>()) {}

SendGate::~SendGate()
{
    Close();
}

void SendGate::Close()
{
    SendLock lock;
    impl->open = false;
    // ReleaseLocked unlinks each send from `pending` as it goes.
    while (!impl->pending.empty())
        ReleaseLocked(*impl->pending.back(), SendState::Cancelled, 0);
}

void SendGate::Open()
{
    SendLock lock;
    impl->open = true;
}

bool SendGate::IsOpen() const
{
    SendLock lock;
    return impl->open;
}

int SendGate::PendingCount() const
{
    SendLock lock;
    return static_cast<int>(impl->pending.size());
}
