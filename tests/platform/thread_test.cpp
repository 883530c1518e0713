// Threads, events and waits: creation running or suspended, priority, exit codes, the three
// wait results, auto- and manual-reset events, named events, and the tick counter.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "tests/platform/fixture.h"

namespace platform_test {
namespace {

using plat::HANDLE;

using ThreadTest = PlatformTest;

std::uint32_t PLAT_CALLBACK CountAndReturn(void* parameter) {
    ++*static_cast<std::atomic<int>*>(parameter);
    return 1234;
}

TEST_F(ThreadTest, ASuspendedThreadRunsOnlyWhenResumed) {
    std::atomic<int> runs{0};
    std::uint32_t id = 0;
    HANDLE thread =
        plat::CreateThread(nullptr, 0, CountAndReturn, &runs, plat::CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(plat::GetThreadPriority(thread), plat::THREAD_PRIORITY_NORMAL);
    EXPECT_TRUE(plat::SetThreadPriority(thread, plat::THREAD_PRIORITY_ABOVE_NORMAL));
    EXPECT_EQ(plat::GetThreadPriority(thread), plat::THREAD_PRIORITY_ABOVE_NORMAL);

    EXPECT_EQ(plat::WaitForSingleObject(thread, 30), plat::WAIT_TIMEOUT);
    EXPECT_EQ(runs, 0);
    std::uint32_t code = 0;
    ASSERT_TRUE(plat::GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 259u);  // still active

    EXPECT_EQ(plat::ResumeThread(thread), 1u);
    EXPECT_EQ(plat::WaitForSingleObject(thread, plat::INFINITE), plat::WAIT_OBJECT_0);
    EXPECT_EQ(runs, 1);
    ASSERT_TRUE(plat::GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 1234u);
    EXPECT_EQ(plat::ResumeThread(thread), 0u);
    EXPECT_TRUE(plat::CloseHandle(thread));
}

TEST_F(ThreadTest, ARunningThreadFinishesAndStaysSignalled) {
    std::atomic<int> runs{0};
    HANDLE thread = plat::CreateThread(nullptr, 65536, CountAndReturn, &runs,
                                       plat::STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(thread, plat::INFINITE), plat::WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(thread, 0), plat::WAIT_OBJECT_0);
    EXPECT_EQ(runs, 1);
    plat::CloseHandle(thread);
}

TEST_F(ThreadTest, WaitResultsForSignalledClearAndAbsentHandles) {
    HANDLE event = plat::CreateEvent(nullptr, true, false, nullptr);
    ASSERT_NE(event, nullptr);
    HANDLE closed = plat::CreateEvent(nullptr, true, true, nullptr);
    ASSERT_TRUE(plat::CloseHandle(closed));

    struct Case {
        const char* what;
        HANDLE handle;
        std::uint32_t timeout;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"clear event, no time-out", event, 0, plat::WAIT_TIMEOUT},
        {"clear event, 25 ms", event, 25, plat::WAIT_TIMEOUT},
        {"no handle", nullptr, plat::INFINITE, plat::WAIT_FAILED},
        {"closed handle", closed, plat::INFINITE, plat::WAIT_FAILED},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plat::WaitForSingleObject(c.handle, c.timeout), c.expected) << c.what;
    }
    ASSERT_TRUE(plat::SetEvent(event));
    EXPECT_EQ(plat::WaitForSingleObject(event, plat::INFINITE), plat::WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(event, 0), plat::WAIT_OBJECT_0);  // manual: stays set
    ASSERT_TRUE(plat::ResetEvent(event));
    EXPECT_EQ(plat::WaitForSingleObject(event, 0), plat::WAIT_TIMEOUT);

    EXPECT_FALSE(plat::CloseHandle(closed));
    EXPECT_FALSE(plat::SetEvent(closed));
    EXPECT_FALSE(plat::SetEvent(nullptr));
    EXPECT_TRUE(plat::CloseHandle(event));
}

TEST_F(ThreadTest, AnAutoResetEventLetsOneWaitThrough) {
    HANDLE event = plat::CreateEvent(nullptr, false, true, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(event, 0), plat::WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(event, 0), plat::WAIT_TIMEOUT);
    plat::SetEvent(event);
    EXPECT_EQ(plat::WaitForSingleObject(event, 10), plat::WAIT_OBJECT_0);
    plat::CloseHandle(event);
}

// Waits for the event named in the parameter and returns what the wait said.
std::uint32_t PLAT_CALLBACK WaitForNamed(void* parameter) {
    HANDLE event =
        plat::OpenEvent(plat::EVENT_ALL_ACCESS, false, static_cast<const char16_t*>(parameter));
    if (!event) return 99;
    const std::uint32_t result = plat::WaitForSingleObject(event, plat::INFINITE);
    plat::CloseHandle(event);
    return result;
}

TEST_F(ThreadTest, NamedEventsAreSharedByNameAndAMissingNameDoesNotOpen) {
    EXPECT_EQ(plat::OpenEvent(plat::EVENT_ALL_ACCESS, false, u"PlatformTestNoSuchEvent"), nullptr);
    HANDLE created = plat::CreateEvent(nullptr, true, false, u"PlatformTestNamed");
    ASSERT_NE(created, nullptr);
    HANDLE thread = plat::CreateThread(nullptr, 0, WaitForNamed,
                                       const_cast<char16_t*>(u"PlatformTestNamed"), 0, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(thread, 20), plat::WAIT_TIMEOUT);
    plat::SetEvent(created);
    ASSERT_EQ(plat::WaitForSingleObject(thread, plat::INFINITE), plat::WAIT_OBJECT_0);
    std::uint32_t code = 0;
    plat::GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, plat::WAIT_OBJECT_0);
    plat::CloseHandle(thread);
    plat::CloseHandle(created);
    // The name goes with the last handle.
    EXPECT_EQ(plat::OpenEvent(plat::EVENT_ALL_ACCESS, false, u"PlatformTestNamed"), nullptr);
}

TEST_F(ThreadTest, CallsOnAbsentThreadHandlesFail) {
    HANDLE event = plat::CreateEvent(nullptr, false, false, nullptr);
    std::uint32_t code = 5;
    EXPECT_FALSE(plat::GetExitCodeThread(nullptr, &code));
    EXPECT_FALSE(plat::GetExitCodeThread(event, &code));
    EXPECT_EQ(code, 5u);
    EXPECT_EQ(plat::ResumeThread(nullptr), 0xFFFFFFFFu);
    EXPECT_FALSE(plat::SetThreadPriority(nullptr, 2));
    EXPECT_EQ(plat::CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    plat::CloseHandle(event);
}

TEST_F(ThreadTest, TheTickCounterCountsSleptTime) {
    const std::uint32_t before = plat::GetTickCount();
    plat::Sleep(40);
    const std::uint32_t slept = plat::GetTickCount() - before;  // modulo 2^32
    EXPECT_GE(slept, 40u);
    if (VirtualClock()) {
        EXPECT_EQ(slept, 40u);
    }
}

TEST_F(ThreadTest, FineTimerPeriodsNestAndSleepsStillLastAtLeastTheirTime) {
    ASSERT_EQ(plat::timeBeginPeriod(1), plat::TIMERR_NOERROR);
    ASSERT_EQ(plat::timeBeginPeriod(1), plat::TIMERR_NOERROR);
    const std::uint32_t before = plat::GetTickCount();
    plat::Sleep(20);
    EXPECT_GE(plat::GetTickCount() - before, 20u);
    EXPECT_EQ(plat::timeEndPeriod(1), plat::TIMERR_NOERROR);
    EXPECT_EQ(plat::timeEndPeriod(1), plat::TIMERR_NOERROR);
    EXPECT_EQ(plat::timeBeginPeriod(0), plat::TIMERR_NOCANDO);
}

}  // namespace
}  // namespace platform_test
