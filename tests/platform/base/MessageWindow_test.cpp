#include "platform/base/MessageWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto kTimeout = 10s;
constexpr UINT WM_TEST = 0x2420;

// Lets messages run until `done` holds; false after kTimeout.
bool PumpUntil(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        ProcessMessages();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Waits without running messages; false after kTimeout.
bool WaitUntil(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A thread whose result can be awaited with a time-out. A worker that is still
// blocked when the test ends is freed by letting messages run, so a failing
// test reports instead of hanging.
class Worker {
public:
    explicit Worker(std::function<LRESULT()> fn)
    {
        std::packaged_task<LRESULT()> task(std::move(fn));
        result = task.get_future().share();
        thread = std::thread(std::move(task));
    }
    ~Worker()
    {
        if (!PumpUntil([this] { return Finished(); }))
            std::abort();  // nothing left that could release it
        thread.join();
    }
    bool Finished() const { return result.wait_for(0s) == std::future_status::ready; }
    // Waits without running messages: the worker must get out on its own.
    bool FinishesAlone() const { return result.wait_for(kTimeout) == std::future_status::ready; }
    bool FinishesPumping() { return PumpUntil([this] { return Finished(); }); }
    LRESULT Get() { return result.get(); }

private:
    std::shared_future<LRESULT> result;
    std::thread thread;
};

// Owns a window for a test; the handler is replaceable.
struct TestWindow {
    std::function<void(TMessage &)> handler;
    HWND wnd = AllocateHWnd([this](TMessage &m) {
        if (handler)
            handler(m);
    });
    ~TestWindow() { DeallocateHWnd(wnd); }
};

TEST(MessageWindow, PostsArriveInOrderFromEachSender)
{
    TestWindow w;
    std::vector<LPARAM> fromUi, fromWorker;
    w.handler = [&](TMessage &m) { (m.wParam == 0 ? fromUi : fromWorker).push_back(m.lParam); };
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(PostMessage(w.wnd, WM_TEST, 0, i));
    EXPECT_TRUE(fromUi.empty()) << "a post must not run before messages are let run";
    Worker worker([&] {
        for (int i = 0; i < 200; ++i)
            PostMessage(w.wnd, WM_TEST, 1, i);
        return 0;
    });
    ASSERT_TRUE(PumpUntil([&] { return fromWorker.size() == 200 && fromUi.size() == 50; }));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(fromUi[i], i);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(fromWorker[i], i);
}

TEST(MessageWindow, DestroyedWindowRefusesAndDropsMessages)
{
    int calls = 0;
    HWND wnd = AllocateHWnd([&](TMessage &) { ++calls; });
    ASSERT_NE(wnd, HWND(0));
    EXPECT_TRUE(IsWindow(wnd));
    EXPECT_TRUE(PostMessage(wnd, WM_TEST, 0, 0));
    DeallocateHWnd(wnd);
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(PostMessage(wnd, WM_TEST, 0, 0));
    EXPECT_EQ(SendMessage(wnd, WM_TEST, 0, 0), 0);
    Worker worker([&] { return SendMessage(wnd, WM_TEST, 0, 0); });
    ASSERT_TRUE(worker.FinishesAlone());
    EXPECT_EQ(worker.Get(), 0);
    ProcessMessages();
    EXPECT_EQ(calls, 0) << "the post queued before deallocation must be dropped";
    DeallocateHWnd(wnd);  // twice is harmless
    EXPECT_FALSE(IsWindow(0));
    EXPECT_FALSE(PostMessage(0, WM_TEST, 0, 0));

    HWND next = AllocateHWnd([](TMessage &) {});
    EXPECT_NE(next, wnd) << "handles are never reused";
    DeallocateHWnd(next);
}

// A record that counts its living copies, to see who frees them.
struct Counted {
    static inline std::atomic<int> alive{0};
    int value = 0;
    explicit Counted(int v) : value(v) { ++alive; }
    Counted(const Counted &o) : value(o.value) { ++alive; }
    ~Counted() { --alive; }
};

TEST(MessageWindow, PostedCopiesAreTheirOwnAndFreedAfterTheHandler)
{
    TestWindow w;
    std::vector<int> seen;
    w.handler = [&](TMessage &m) {
        const auto *record = reinterpret_cast<const Counted *>(m.lParam);
        seen.push_back(record->value + int(m.wParam));
    };
    // The sender reuses one record, as a filter reuses its fields: each post
    // must carry the value of its moment.
    Counted record(0);
    Worker sender([&] {
        for (int i = 1; i <= 50; ++i) {
            record.value = i * 10;
            PostMessageCopy(w.wnd, WM_TEST, WPARAM(i), record);
        }
        return LRESULT(0);
    });
    ASSERT_TRUE(sender.FinishesAlone());
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 50; }));
    for (int i = 1; i <= 50; ++i)
        EXPECT_EQ(seen[size_t(i - 1)], i * 11);
    EXPECT_EQ(Counted::alive, 1) << "a posted copy outlived its message";
}

TEST(MessageWindow, PostedCopiesGoWithTheWindowOrAFailedPost)
{
    {
        TestWindow w;
        int handled = 0;
        w.handler = [&](TMessage &) { ++handled; };
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(PostMessageCopy(w.wnd, WM_TEST, 0, Counted(i)));
        EXPECT_EQ(Counted::alive, 5);
        DeallocateHWnd(std::exchange(w.wnd, 0));
        EXPECT_EQ(handled, 0);
    }
    EXPECT_EQ(Counted::alive, 0) << "copies of dropped posts were not freed";
    EXPECT_FALSE(PostMessageCopy(HWND(987654321), WM_TEST, 0, Counted(1)));
    EXPECT_EQ(Counted::alive, 0);
}

TEST(MessageWindow, WaitMessagesSleepsUntilAMessageOrTheTimeOut)
{
    TestWindow w;
    std::atomic<int> handled{0};
    w.handler = [&](TMessage &) { ++handled; };
    ProcessMessages();  // what earlier tests left
    auto started = std::chrono::steady_clock::now();
    WaitMessages(50);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 40ms) << "nothing came: it waited";
    EXPECT_EQ(handled, 0);

    std::thread poster([&] {
        std::this_thread::sleep_for(30ms);
        PostMessage(w.wnd, WM_TEST, 0, 0);
    });
    started = std::chrono::steady_clock::now();
    while (handled == 0 && std::chrono::steady_clock::now() - started < kTimeout)
        WaitMessages(5000);
    poster.join();
    EXPECT_EQ(handled, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s) << "the post woke the wait";
}

TEST(MessageWindow, SendOnOwnThreadIsDirectCall)
{
    TestWindow w;
    bool inSend = true, replied = true;
    w.handler = [&](TMessage &m) {
        inSend = InSendMessage();
        replied = ReplyMessage(5);
        m.Result = static_cast<LRESULT>(m.wParam) + m.lParam;
    };
    EXPECT_EQ(SendMessage(w.wnd, WM_TEST, 40, 2), 42);
    EXPECT_FALSE(inSend);
    EXPECT_FALSE(replied);
    EXPECT_FALSE(ReplyMessage(1)) << "outside any handler";
}

TEST(MessageWindow, SendAcrossThreadsBlocksUntilHandlerReturns)
{
    TestWindow w;
    std::atomic<bool> senderReturned{false};
    bool inSend = false, senderWasBlocked = false;
    w.handler = [&](TMessage &m) {
        inSend = InSendMessage();
        m.Result = m.lParam * 2;
        senderWasBlocked = !senderReturned.load();
    };
    Worker worker([&] {
        LRESULT r = SendMessage(w.wnd, WM_TEST, 0, 21);
        senderReturned = true;
        return r;
    });
    ASSERT_TRUE(worker.FinishesPumping());
    EXPECT_EQ(worker.Get(), 42);
    EXPECT_TRUE(inSend);
    EXPECT_TRUE(senderWasBlocked);
    EXPECT_FALSE(InSendMessage());
}

TEST(MessageWindow, ReplyMessageReleasesSenderEarly)
{
    TestWindow w;
    std::atomic<LRESULT> seen{-1};
    bool firstReply = false, secondReply = true, stillInSend = false, seenWhileRunning = false;
    w.handler = [&](TMessage &m) {
        firstReply = ReplyMessage(7);
        secondReply = ReplyMessage(8);
        stillInSend = InSendMessage();
        // The sender must get 7 while this handler is still running.
        seenWhileRunning = WaitUntil([&] { return seen.load() != -1; });
        m.Result = 99;
    };
    Worker worker([&] {
        seen = SendMessage(w.wnd, WM_TEST, 0, 0);
        return seen.load();
    });
    ASSERT_TRUE(worker.FinishesPumping());
    EXPECT_TRUE(firstReply);
    EXPECT_FALSE(secondReply);
    EXPECT_TRUE(stillInSend);
    EXPECT_TRUE(seenWhileRunning);
    EXPECT_EQ(worker.Get(), 7);
}

// The stopping-graph case: the UI thread closes the gate and joins a streaming
// thread blocked in SendMessage, without ever letting the message run.
TEST(MessageWindow, GateCloseReleasesSenderAndSkipsItsHandler)
{
    TestWindow w;
    SendGate gate;
    int calls = 0;
    w.handler = [&](TMessage &m) {
        ++calls;
        m.Result = *reinterpret_cast<const int *>(m.lParam);
    };
    Worker worker([&] {
        const int record = 5;  // gone once the send returns
        return SendMessage(w.wnd, WM_TEST, 0, reinterpret_cast<LPARAM>(&record), &gate);
    });
    ASSERT_TRUE(WaitUntil([&] { return gate.PendingCount() == 1; }));
    gate.Close();
    EXPECT_EQ(gate.PendingCount(), 0);
    EXPECT_FALSE(gate.IsOpen());
    ASSERT_TRUE(worker.FinishesAlone()) << "UI thread would deadlock joining the sender";
    EXPECT_EQ(worker.Get(), 0);
    ProcessMessages();
    EXPECT_EQ(calls, 0) << "a cancelled message ran later";
}

TEST(MessageWindow, ClosedGateRefusesAtOnceUntilOpened)
{
    TestWindow w;
    SendGate gate;
    int calls = 0;
    w.handler = [&](TMessage &m) {
        ++calls;
        m.Result = 3;
    };
    gate.Close();
    {
        Worker worker([&] { return SendMessage(w.wnd, WM_TEST, 0, 0, &gate); });
        ASSERT_TRUE(worker.FinishesAlone());
        EXPECT_EQ(worker.Get(), 0);
    }
    EXPECT_EQ(SendMessage(w.wnd, WM_TEST, 0, 0, &gate), 0) << "same thread, closed gate";
    EXPECT_EQ(calls, 0);

    gate.Open();
    EXPECT_TRUE(gate.IsOpen());
    EXPECT_EQ(SendMessage(w.wnd, WM_TEST, 0, 0, &gate), 3);
    Worker worker([&] { return SendMessage(w.wnd, WM_TEST, 0, 0, &gate); });
    ASSERT_TRUE(worker.FinishesPumping());
    EXPECT_EQ(worker.Get(), 3);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(gate.PendingCount(), 0);
}

// A handler that stops its own graph closes the gate while its sender waits.
TEST(MessageWindow, GateCloseInsideHandlerReleasesItsSender)
{
    TestWindow w;
    SendGate gate;
    bool releasedWhileRunning = false;
    Worker *self = nullptr;
    w.handler = [&](TMessage &m) {
        gate.Close();
        releasedWhileRunning = self->FinishesAlone();
        m.Result = 1;
    };
    Worker worker([&] { return SendMessage(w.wnd, WM_TEST, 0, 0, &gate); });
    self = &worker;
    ASSERT_TRUE(PumpUntil([&] { return worker.Finished(); }));
    EXPECT_TRUE(releasedWhileRunning);
    EXPECT_EQ(worker.Get(), 0) << "the handler's result comes too late";
}

TEST(MessageWindow, DeallocateReleasesQueuedAndRunningSends)
{
    SendGate gate;  // only to see the send queued
    int calls = 0;
    HWND wnd = AllocateHWnd([&](TMessage &) { ++calls; });
    Worker queued([&] { return SendMessage(wnd, WM_TEST, 0, 0, &gate); });
    ASSERT_TRUE(WaitUntil([&] { return gate.PendingCount() == 1; }));
    DeallocateHWnd(wnd);
    ASSERT_TRUE(queued.FinishesAlone());
    EXPECT_EQ(queued.Get(), 0);
    EXPECT_EQ(gate.PendingCount(), 0);
    ProcessMessages();
    EXPECT_EQ(calls, 0);

    // Deallocated from inside the handler of a send without a gate: the sender
    // is released at once and the window lives until the handler is done.
    Worker *sender = nullptr;
    bool releasedWhileRunning = false;
    std::vector<int> afterwards;
    wnd = AllocateHWnd([&](TMessage &m) {
        DeallocateHWnd(wnd);
        releasedWhileRunning = sender->FinishesAlone();
        afterwards.push_back(1);  // still safe: the window is not freed yet
        m.Result = 9;
    });
    Worker running([&] { return SendMessage(wnd, WM_TEST, 0, 0); });
    sender = &running;
    ASSERT_TRUE(PumpUntil([&] { return running.Finished(); }));
    EXPECT_TRUE(releasedWhileRunning);
    EXPECT_EQ(running.Get(), 0);
    EXPECT_EQ(afterwards.size(), 1u);
    EXPECT_FALSE(IsWindow(wnd));
}

TEST(MessageWindow, NestedLoopRunsSendsInsideAHandler)
{
    TestWindow w;
    std::vector<bool> inSend;
    w.handler = [&](TMessage &m) {
        inSend.push_back(InSendMessage());
        m.Result = m.lParam;
        if (m.lParam == 1) {  // the first send waits for a posted one and a second send
            PostMessage(w.wnd, WM_TEST, 0, 3);
            Worker second([&] { return SendMessage(w.wnd, WM_TEST, 0, 2); });
            EXPECT_TRUE(second.FinishesPumping());
            EXPECT_EQ(second.Get(), 2);
            EXPECT_TRUE(InSendMessage()) << "restored after the nested messages";
            EXPECT_TRUE(ReplyMessage(1));
        }
    };
    Worker first([&] { return SendMessage(w.wnd, WM_TEST, 0, 1); });
    ASSERT_TRUE(first.FinishesPumping());
    EXPECT_EQ(first.Get(), 1);
    ASSERT_EQ(inSend.size(), 3u);
    EXPECT_TRUE(inSend[0]);
    EXPECT_EQ(inSend[1] + inSend[2], 1) << "the post is not a send, the second send is";
}

// Many streaming threads send and post while the UI thread closes and reopens
// their gate: every send returns the handler's result or 0, and a send that
// returned 0 never had its handler run.
TEST(MessageWindow, ConcurrentSendersWithGateChurn)
{
    constexpr int kThreads = 6, kSends = 300;
    TestWindow w;
    SendGate gate;
    std::atomic<int> handled{0}, posted{0};
    w.handler = [&](TMessage &m) {
        if (m.Msg == WM_TEST + 1) {
            ++posted;
            return;
        }
        ++handled;
        m.Result = m.lParam + 1;
        if (m.wParam % 3 == 0)
            ReplyMessage(m.Result);
    };
    std::atomic<int> answered{0}, refused{0}, wrong{0};
    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.push_back(std::make_unique<Worker>([&, t] {
            for (int i = 0; i < kSends; ++i) {
                const LPARAM v = t * kSends + i;
                const LRESULT r = SendMessage(w.wnd, WM_TEST, i, v, t % 2 ? &gate : nullptr);
                (r == 0 ? refused : answered)++;
                wrong += r != 0 && r != v + 1;
                PostMessage(w.wnd, WM_TEST + 1, 0, 0);
            }
            return LRESULT(0);
        }));
    int round = 0;
    auto allDone = [&] {
        for (auto &wk : workers)
            if (!wk->Finished())
                return false;
        return true;
    };
    ASSERT_TRUE(PumpUntil([&] {
        if (++round % 7 == 0)
            gate.Close();
        else if (round % 7 == 3)
            gate.Open();
        return allDone();
    }));
    ASSERT_TRUE(PumpUntil([&] { return posted == kThreads * kSends; }));
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(answered + refused, kThreads * kSends);
    EXPECT_EQ(handled, answered) << "a refused send ran its handler";
    EXPECT_GE(answered, kThreads / 2 * kSends) << "sends without a gate are never refused";
    EXPECT_EQ(gate.PendingCount(), 0);
}

}  // namespace
