// Hidden message windows: the only road from a streaming thread to a component.
//
// A window belongs to the thread that allocated it (in this program the UI
// thread) and runs its handler there. Handles are small integers looked up in a
// process-wide table, so a message to a window that is gone fails cleanly
// instead of touching freed memory.
//
// PostMessage   any thread; queued on the window's thread, returns at once.
// SendMessage   any thread; on the window's own thread it calls the handler
//               directly, from another thread it queues the message and blocks
//               until the handler returns, calls ReplyMessage, or the send is
//               cancelled through its SendGate (then it returns 0, unhandled).
// ReplyMessage  window's thread, inside a handler: releases the sender early.
// ProcessMessages  lets pending messages (and all other queued events) run.
// WaitMessages  sleeps until something comes (or a time-out), then lets it run.
// ProcessSentMessages  lets only pending cross-thread sends run.
//
// A SendGate groups the sends of one producer (a filter graph). Closing the gate
// releases every pending send made through it and makes later sends return at
// once, so a UI thread that stops or flushes a graph never waits on a
// streaming thread that waits on the UI thread.
//
// Lifetimes: lParam usually points into the sender's record. A send that was
// released before its handler started never runs that handler, so the record
// may go as soon as SendMessage returns. A handler that releases its own sender
// (ReplyMessage, closing the gate, deallocating the window) must not read
// lParam afterwards.
#pragma once

#include "WinTypes.h"

#include <functional>
#include <memory>

using HWND = uintptr_t;  // 0 is "no window"

struct TMessage {
    UINT Msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT Result = 0;
};

using TWndMethod = std::function<void(TMessage &)>;

// UI thread. The handler runs on the calling thread for the window's life;
// the window keeps it (and what it captures) until DeallocateHWnd. Handles are
// never reused.
HWND AllocateHWnd(TWndMethod method);
// Same thread as AllocateHWnd; also allowed inside the window's own handler
// (the window then dies when that handler returns). Pending sends to the
// window return 0, including one whose handler is running; pending posts are
// dropped. Unknown handles are ignored.
void DeallocateHWnd(HWND wnd);
// Any thread.
bool IsWindow(HWND wnd);

class SendGate;

// Any thread. False when the window does not exist.
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Any thread. A post that owns `payload`: it is freed after the handler
// returns, or unread with the message when the window goes or the post fails.
// For records a streaming thread would otherwise overwrite before the receiver
// reads them. wParam and lParam are passed as given; one of them usually
// points into `payload`, and the handler must not keep that pointer.
bool PostMessageOwning(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, std::shared_ptr<void> payload);
// lParam points to the message's own copy of `record`.
template <class T>
bool PostMessageCopy(HWND wnd, UINT msg, WPARAM wParam, T record)
{
    auto copy = std::make_shared<T>(std::move(record));
    const auto lParam = reinterpret_cast<LPARAM>(copy.get());
    return PostMessageOwning(wnd, msg, wParam, lParam, std::move(copy));
}
// wParam points to the message's own copy of `record`.
template <class T>
bool PostMessageCopyW(HWND wnd, UINT msg, T record, LPARAM lParam)
{
    auto copy = std::make_shared<T>(std::move(record));
    const auto wParam = reinterpret_cast<WPARAM>(copy.get());
    return PostMessageOwning(wnd, msg, wParam, lParam, std::move(copy));
}

// Any thread. 0 when the window does not exist or the send was cancelled.
// `gate` may be null (the send can then only be released by the handler or by
// the window's destruction). A closed gate returns 0 on the window's own thread
// too, without calling the handler. While blocked, the sender runs no messages
// of its own windows.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                    SendGate *gate = nullptr);
// Window's thread, inside a handler. True when it released a sender on another
// thread with `result` (the handler goes on; its own Result is then ignored).
// False for a same-thread send, a posted message, or a sender already released.
bool ReplyMessage(LRESULT result);
// True while the calling thread is inside the handler of a message sent from
// another thread (the Win32 InSendMessage).
bool InSendMessage();

// UI thread: lets queued messages and events run once.
void ProcessMessages();
// UI thread: sleeps until a message or event comes, or `timeoutMs` passes,
// then lets what came run (the Win32 message-aware wait). For nested loops
// that wait for a report: they take no processor while nothing happens.
void WaitMessages(int timeoutMs);
// Any thread: runs the handlers of messages that other threads are blocked
// sending to this thread's windows, and nothing else (posted messages and
// other events wait). What a message-aware wait lets through.
void ProcessSentMessages();

// Any thread.
class SendGate {
public:
    SendGate();
    ~SendGate();  // closes the gate
    SendGate(const SendGate &) = delete;
    SendGate &operator=(const SendGate &) = delete;

    // Releases every pending send of this gate (they return 0) and makes new
    // sends return 0 at once until Open. A released send whose handler has not
    // started never runs it; one whose handler is running lets it finish.
    // PendingCount() is 0 when Close returns. Never blocks on a handler.
    void Close();
    void Open();
    bool IsOpen() const;
    // Number of sends currently blocked in this gate (for stop's postcondition).
    int PendingCount() const;

    // Shared with the pending sends, which may outlive the gate object.

    struct Impl;
    std::shared_ptr<Impl> impl;
};
