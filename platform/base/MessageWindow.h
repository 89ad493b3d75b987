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
//
// A SendGate groups the sends of one producer (a filter graph). Closing the gate
// releases every pending send made through it and makes later sends return at
// once, so a UI thread that stops or flushes a graph never waits on a
// streaming thread that waits on the UI thread.
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

// UI thread. The handler runs on the calling thread for the window's life.
HWND AllocateHWnd(TWndMethod method);
// Same thread as AllocateHWnd. Pending sends to the window return 0; pending
// posts are dropped.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);

class SendGate;

// Any thread. False when the window does not exist.
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Any thread. `gate` may be null (the send can then only be released by the
// handler or by the window's destruction).
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                    SendGate *gate = nullptr);
// Window's thread. True when a sender from another thread was released.
bool ReplyMessage(LRESULT result);
// True while the calling thread is inside the handler of a message sent from
// another thread (the Win32 InSendMessage).
bool InSendMessage();

// UI thread: lets queued messages and events run once.
void ProcessMessages();

// Any thread.
class SendGate {
public:
    SendGate();
    ~SendGate();  // closes the gate
    SendGate(const SendGate &) = delete;
    SendGate &operator=(const SendGate &) = delete;

    // Releases every pending send of this gate (they return 0) and makes new
    // sends return 0 at once until Open.
    void Close();
    void Open();
    bool IsOpen() const;
    // Number of sends currently blocked in this gate (for stop's postcondition).
    int PendingCount() const;

    struct Impl;
    std::shared_ptr<Impl> impl;
};
