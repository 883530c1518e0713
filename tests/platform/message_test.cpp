// Message queues: posting order, quit, sending within and across threads, sends to windows that
// are gone or go away while the sender waits, and dispatching.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/thread.h"
#include "platform/window.h"
#include "tests/platform/test_window.h"

namespace platform_test {
namespace {

using plat::HANDLE;
using plat::HWND;
using plat::MSG;

constexpr std::uint32_t kPing = plat::WM_USER + 1;
constexpr std::uint32_t kPong = plat::WM_USER + 2;

using MessageTest = WindowTest;

TEST_F(MessageTest, PostedMessagesComeInOrderAndQuitComesAfterThem) {
    HWND window = MakeWindow();
    plat::PostQuitMessage(7);  // before the posts: quit still waits until the queue is empty
    ASSERT_TRUE(plat::PostMessage(window, plat::WM_USER + 1, 11, 0));
    ASSERT_TRUE(plat::PostMessage(nullptr, plat::WM_USER + 2, 12, 0));  // to the thread itself
    ASSERT_TRUE(plat::PostMessage(window, plat::WM_USER + 3, 13, 0));

    struct Expected {
        int result;
        HWND window;
        std::uint32_t message;
        plat::WPARAM wParam;
    };
    const Expected expected[] = {
        {1, window, plat::WM_USER + 1, 11},
        {1, nullptr, plat::WM_USER + 2, 12},
        {1, window, plat::WM_USER + 3, 13},
        {0, nullptr, plat::WM_QUIT, 7},
    };
    for (const auto& e : expected) {
        MSG message{};
        EXPECT_EQ(PumpOne(&message), e.result);
        EXPECT_EQ(message.hwnd, e.window);
        EXPECT_EQ(message.message, e.message);
        EXPECT_EQ(message.wParam, e.wParam);
    }
    // Only the messages of the window reached its procedure, by dispatch.
    const std::vector<std::uint32_t> dispatched = {plat::WM_CREATE, plat::WM_USER + 1,
                                                   plat::WM_USER + 3};
    EXPECT_EQ(SeenMessages(window), dispatched);
}

TEST_F(MessageTest, SendOnTheWindowsOwnThreadCallsTheProcedureAtOnce) {
    HWND window = MakeWindow();
    g_answer = [](HWND, std::uint32_t message, plat::WPARAM wParam, plat::LPARAM,
                  plat::LRESULT* result) {
        if (message != kPing) return false;
        *result = static_cast<plat::LRESULT>(wParam * 2);
        return true;
    };
    EXPECT_EQ(plat::SendMessage(window, kPing, 21, 0), 42);
    EXPECT_EQ(SeenMessages(window).back(), kPing);
}

TEST_F(MessageTest, MessagesToAWindowThatIsGoneFailAtOnce) {
    HWND window = MakeWindow();
    ASSERT_TRUE(plat::DestroyWindow(window));
    const auto seenBefore = SeenMessages().size();
    EXPECT_EQ(plat::SendMessage(window, kPing, 0, 0), 0);
    EXPECT_FALSE(plat::PostMessage(window, kPing, 0, 0));
    EXPECT_FALSE(plat::DestroyWindow(window));
    MSG stale{window, kPing, 0, 0, 0, {0, 0}};
    EXPECT_EQ(plat::DispatchMessage(&stale), 0);
    EXPECT_EQ(SeenMessages().size(), seenBefore);
    EXPECT_EQ(plat::SendMessage(nullptr, kPing, 0, 0), 0);
}

TEST_F(MessageTest, DestroyingAWindowDropsItsPostedMessages) {
    HWND doomed = MakeWindow(u"doomed");
    HWND other = MakeWindow(u"other");
    ASSERT_TRUE(plat::PostMessage(doomed, kPing, 1, 0));
    ASSERT_TRUE(plat::PostMessage(other, kPong, 2, 0));
    ASSERT_TRUE(plat::DestroyWindow(doomed));
    MSG message{};
    ASSERT_EQ(PumpOne(&message), 1);
    EXPECT_EQ(message.hwnd, other);
    EXPECT_EQ(message.message, kPong);
}

// A thread that sends one message to a window and reports how it went.
struct Sender {
    HWND window = nullptr;
    HANDLE aboutToSend = nullptr;  // set just before the send
    plat::LRESULT result = -1;
    std::atomic<bool> returned{false};
    bool postAfter = false;  // post kPong when the send has returned

    static std::uint32_t PLAT_CALLBACK Main(void* parameter) {
        auto* self = static_cast<Sender*>(parameter);
        plat::SetEvent(self->aboutToSend);
        self->result = plat::SendMessage(self->window, kPing, 5, 0);
        self->returned = true;
        if (self->postAfter) plat::PostMessage(self->window, kPong, 0, 0);
        return 1;
    }
};

TEST_F(MessageTest, SendFromAnotherThreadWaitsUntilTheOwnerGetsMessages) {
    HWND window = MakeWindow();
    g_answer = [](HWND, std::uint32_t message, plat::WPARAM wParam, plat::LPARAM,
                  plat::LRESULT* result) {
        if (message != kPing) return false;
        *result = static_cast<plat::LRESULT>(wParam + 100);
        return true;
    };
    Sender sender;
    sender.window = window;
    sender.aboutToSend = plat::CreateEvent(nullptr, true, false, nullptr);
    sender.postAfter = true;
    HANDLE thread = plat::CreateThread(nullptr, 0, Sender::Main, &sender, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(plat::WaitForSingleObject(sender.aboutToSend, plat::INFINITE), plat::WAIT_OBJECT_0);
    plat::Sleep(50);  // the owner is busy elsewhere: the sender must still be waiting
    EXPECT_FALSE(sender.returned);
    EXPECT_EQ(SeenMessages(window), std::vector<std::uint32_t>{plat::WM_CREATE});

    // GetMessage runs the sent message on this thread, then returns the posted one.
    MSG message{};
    ASSERT_EQ(PumpOne(&message), 1);
    EXPECT_EQ(message.message, kPong);
    ASSERT_EQ(plat::WaitForSingleObject(thread, plat::INFINITE), plat::WAIT_OBJECT_0);
    EXPECT_EQ(sender.result, 105);
    const auto records = SeenRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[1].message, kPing);
    EXPECT_EQ(records[1].thread, std::this_thread::get_id());
    plat::CloseHandle(thread);
    plat::CloseHandle(sender.aboutToSend);
}

TEST_F(MessageTest, AWaitingSendIsReleasedWhenTheWindowIsDestroyed) {
    HWND window = MakeWindow();
    Sender sender;
    sender.window = window;
    sender.aboutToSend = plat::CreateEvent(nullptr, true, false, nullptr);
    HANDLE thread = plat::CreateThread(nullptr, 0, Sender::Main, &sender, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(plat::WaitForSingleObject(sender.aboutToSend, plat::INFINITE), plat::WAIT_OBJECT_0);
    plat::Sleep(20);
    ASSERT_TRUE(plat::DestroyWindow(window));
    ASSERT_EQ(plat::WaitForSingleObject(thread, plat::INFINITE), plat::WAIT_OBJECT_0);
    EXPECT_EQ(sender.result, 0);
    const std::vector<std::uint32_t> seen = {plat::WM_CREATE, plat::WM_DESTROY};
    EXPECT_EQ(SeenMessages(window), seen);
    plat::CloseHandle(thread);
    plat::CloseHandle(sender.aboutToSend);
}

// Two threads that send to each other's windows at the same time must both get answers: each
// answers incoming sends while it waits for its own. Once its own send is answered, each tells
// the other (kPong) and keeps answering until the other's send is answered too: a send that
// arrives together with the answer may be left for the thread's next GetMessage.
void AnswerUntilThePeerIsDone(HWND peer) {
    plat::PostMessage(peer, kPong, 0, 0);
    MSG message{};
    while (PumpWatched(&message) > 0 && message.message != kPong) {
    }
}

struct CrossSender {
    HWND peerWindow = nullptr;  // filled by the test: the main thread's window
    HWND ownWindow = nullptr;   // made by the thread
    HANDLE ready = nullptr;
    HANDLE go = nullptr;
    plat::LRESULT result = -1;

    static std::uint32_t PLAT_CALLBACK Main(void* parameter) {
        auto* self = static_cast<CrossSender*>(parameter);
        self->ownWindow = plat::CreateWindowEx(0, kTestClass, u"peer", 0, 0, 0, 10, 10, nullptr,
                                               nullptr, nullptr, nullptr);
        plat::SetEvent(self->ready);
        plat::WaitForSingleObject(self->go, plat::INFINITE);
        self->result = plat::SendMessage(self->peerWindow, kPing, 1, 0);
        AnswerUntilThePeerIsDone(self->peerWindow);
        plat::DestroyWindow(self->ownWindow);
        return 0;
    }
};

TEST_F(MessageTest, ThreadsSendingToEachOtherBothGetAnswers) {
    g_answer = [](HWND, std::uint32_t message, plat::WPARAM, plat::LPARAM, plat::LRESULT* result) {
        if (message != kPing) return false;
        *result = 77;
        return true;
    };
    CrossSender peer;
    peer.peerWindow = MakeWindow();
    peer.ready = plat::CreateEvent(nullptr, true, false, nullptr);
    peer.go = plat::CreateEvent(nullptr, true, false, nullptr);
    HANDLE thread = plat::CreateThread(nullptr, 0, CrossSender::Main, &peer, 0, nullptr);
    ASSERT_EQ(plat::WaitForSingleObject(peer.ready, plat::INFINITE), plat::WAIT_OBJECT_0);
    plat::SetEvent(peer.go);
    EXPECT_EQ(plat::SendMessage(peer.ownWindow, kPing, 2, 0), 77);
    AnswerUntilThePeerIsDone(peer.ownWindow);
    ASSERT_EQ(plat::WaitForSingleObject(thread, plat::INFINITE), plat::WAIT_OBJECT_0);
    EXPECT_EQ(peer.result, 77);
    for (HANDLE h : {thread, peer.ready, peer.go}) plat::CloseHandle(h);
}

TEST_F(MessageTest, TimerMessagesCarryTheTimerId) {
    HWND window = MakeWindow();
    EXPECT_EQ(plat::SetTimer(window, 9, 30, nullptr), 9u);
    MSG message{};
    ASSERT_EQ(PumpOne(&message), 1);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.message, plat::WM_TIMER);
    EXPECT_EQ(message.wParam, 9u);
    EXPECT_TRUE(plat::KillTimer(window, 9));
    EXPECT_FALSE(plat::KillTimer(window, 9));
}

TEST_F(MessageTest, GetMessageWithoutARecordFails) {
    EXPECT_EQ(plat::GetMessage(nullptr, nullptr, 0, 0), -1);
    EXPECT_EQ(plat::DispatchMessage(nullptr), 0);
    MSG message{};
    EXPECT_FALSE(plat::TranslateMessage(&message));
}

}  // namespace
}  // namespace platform_test
