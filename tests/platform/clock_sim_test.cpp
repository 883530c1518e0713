// The simulated device's clock: virtual time that moves only when every device thread waits,
// exact timer and sleep times, the wrapping tick counter, real time, and the deadlock report.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <utility>
#include <thread>
#include <vector>

#include "platform/sim/device.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/platform/test_window.h"

namespace platform_test {
namespace {

using plat::sim::ClockMode;
using plat::sim::DeviceConfig;

using ClockTest = WindowTest;

TEST_F(ClockTest, AWindowTimerFiresAtExactMultiplesOfItsPeriod) {
    plat::HWND window = MakeWindow();
    ASSERT_EQ(plat::SetTimer(window, 1, 3000, nullptr), 1u);
    plat::MSG message{};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(PumpOne(&message), 1);
    std::vector<std::uint64_t> times;
    for (const auto& record : plat::sim::DeliveredMessages()) {
        if (record.message == plat::WM_TIMER) {
            EXPECT_EQ(record.wParam, 1u);
            EXPECT_FALSE(record.sent);
            times.push_back(record.timeMs);
        }
    }
    EXPECT_EQ(times, (std::vector<std::uint64_t>{3000, 6000, 9000}));
    EXPECT_EQ(message.time, 9000u);
}

TEST_F(ClockTest, AWaitTimesOutAtExactlyItsDeadline) {
    plat::HANDLE event = plat::CreateEvent(nullptr, false, false, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(event, 500), plat::WAIT_TIMEOUT);
    EXPECT_EQ(plat::sim::Now(), 500u);
    EXPECT_EQ(plat::WaitForSingleObject(event, 0), plat::WAIT_TIMEOUT);
    EXPECT_EQ(plat::sim::Now(), 500u);
    plat::CloseHandle(event);
}

// Two threads that sleep 20 and 30 ms in turns, noting the device time after each sleep.
struct Sleeper {
    std::uint32_t period;
    std::vector<std::uint64_t> wakes;
    static std::uint32_t PLAT_CALLBACK Main(void* parameter) {
        auto* self = static_cast<Sleeper*>(parameter);
        while (plat::sim::Now() + self->period <= 120) {
            plat::Sleep(self->period);
            self->wakes.push_back(plat::sim::Now());
        }
        return 0;
    }
};

std::pair<std::vector<std::uint64_t>, std::vector<std::uint64_t>> RunSleepers() {
    Sleeper a{20, {}}, b{30, {}};
    plat::HANDLE ta = plat::CreateThread(nullptr, 0, Sleeper::Main, &a, 0, nullptr);
    plat::HANDLE tb = plat::CreateThread(nullptr, 0, Sleeper::Main, &b, 0, nullptr);
    plat::WaitForSingleObject(ta, plat::INFINITE);
    plat::WaitForSingleObject(tb, plat::INFINITE);
    plat::CloseHandle(ta);
    plat::CloseHandle(tb);
    return {a.wakes, b.wakes};
}

TEST_F(ClockTest, SleepingThreadsWakeAtExactTimesEveryRun) {
    const auto expectedA = std::vector<std::uint64_t>{20, 40, 60, 80, 100, 120};
    const auto expectedB = std::vector<std::uint64_t>{30, 60, 90, 120};
    for (int run = 0; run < 20; ++run) {
        plat::sim::Reset();
        const auto [a, b] = RunSleepers();
        EXPECT_EQ(a, expectedA) << "run " << run;
        EXPECT_EQ(b, expectedB) << "run " << run;
        EXPECT_EQ(plat::sim::Now(), 120u);
    }
}

// Two threads due at the same instant: the one that has waited longer runs first, and the
// other only once the first waits again, on every run. The early thread dawdles in real time
// before it notes its turn, which lets the late one go first wherever both would run at once.
struct Turn {
    std::uint32_t firstSleep, secondSleep;
    bool dawdle;
    std::mutex* mutex;
    std::vector<char>* order;
    char name;
    static std::uint32_t PLAT_CALLBACK Main(void* parameter) {
        auto* self = static_cast<Turn*>(parameter);
        plat::Sleep(self->firstSleep);
        if (self->secondSleep) plat::Sleep(self->secondSleep);
        if (self->dawdle) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard<std::mutex> guard(*self->mutex);
        self->order->push_back(self->name);
        return 0;
    }
};

TEST_F(ClockTest, ThreadsDueAtTheSameInstantRunInTheOrderTheyBeganToWait) {
    for (int run = 0; run < 20; ++run) {
        plat::sim::Reset();
        std::mutex mutex;
        std::vector<char> order;
        Turn longer{100, 0, true, &mutex, &order, 'L'};   // waits from 0 to 100
        Turn shorter{60, 40, false, &mutex, &order, 'S'};  // waits from 60 to 100
        plat::HANDLE tl = plat::CreateThread(nullptr, 0, Turn::Main, &longer, 0, nullptr);
        plat::HANDLE ts = plat::CreateThread(nullptr, 0, Turn::Main, &shorter, 0, nullptr);
        plat::WaitForSingleObject(tl, plat::INFINITE);
        plat::WaitForSingleObject(ts, plat::INFINITE);
        plat::CloseHandle(tl);
        plat::CloseHandle(ts);
        EXPECT_EQ(order, (std::vector<char>{'L', 'S'})) << "run " << run;
        EXPECT_EQ(plat::sim::Now(), 100u);
    }
}

// Virtual time does not wait for real time: a clock that did would keep this test past the
// test run's time limit, so it fails for certain rather than by a wall-clock bound that a
// busy machine could break.
TEST_F(ClockTest, AnHourOfDeviceSleepReturnsWithoutAnHourOfRealTime) {
    plat::Sleep(60u * 60u * 1000u);
    EXPECT_EQ(plat::sim::Now(), 60u * 60u * 1000u);
}

TEST_F(ClockTest, TimeStandsStillWhileADeviceThreadRuns) {
    // This thread (the one that reset the device) never waits, so the sleeper cannot move time.
    Sleeper a{20, {}};
    plat::HANDLE thread = plat::CreateThread(nullptr, 0, Sleeper::Main, &a, 0, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(plat::sim::Now(), 0u);
    plat::WaitForSingleObject(thread, plat::INFINITE);
    EXPECT_EQ(plat::sim::Now(), 120u);
    plat::CloseHandle(thread);
}

TEST_F(ClockTest, TheTickCounterWrapsAt32Bits) {
    DeviceConfig config;
    config.tickStart = 0xFFFFFFF0u;
    plat::sim::Reset(config);
    EXPECT_EQ(plat::GetTickCount(), 0xFFFFFFF0u);
    const std::uint32_t before = plat::GetTickCount();
    plat::Sleep(32);
    EXPECT_EQ(plat::GetTickCount(), 0x10u);
    EXPECT_EQ(plat::GetTickCount() - before, 32u);
    EXPECT_EQ(plat::sim::Now(), 32u);
}

TEST_F(ClockTest, TheRealClockFollowsTheHost) {
    DeviceConfig config;
    config.clock = ClockMode::Real;
    plat::sim::Reset(config);
    const auto wall = std::chrono::steady_clock::now();
    plat::Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - wall, std::chrono::milliseconds(30));
    EXPECT_GE(plat::sim::Now(), 30u);
    plat::HANDLE event = plat::CreateEvent(nullptr, false, false, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(event, 20), plat::WAIT_TIMEOUT);
    plat::CloseHandle(event);
}

TEST_F(ClockTest, AThreadOutsideTheDeviceDoesNotHoldTimeStill) {
    plat::HANDLE event = plat::CreateEvent(nullptr, true, false, nullptr);
    std::thread helper([&] {
        // A host thread that is not a device thread: its waits do not stop time jumping.
        plat::Sleep(1000);
        plat::SetEvent(event);
    });
    {
        plat::sim::OffDeviceScope off;
        EXPECT_EQ(plat::WaitForSingleObject(event, plat::INFINITE), plat::WAIT_OBJECT_0);
    }
    helper.join();
    EXPECT_EQ(plat::sim::Now(), 1000u);
    plat::CloseHandle(event);
}

TEST(ClockDeathTest, ADeadlockIsReportedInsteadOfHanging) {
#ifdef BOOTREEL_TESTS_EMULATED
    // Under user-mode emulation the program cannot start itself again (the host would run the
    // foreign binary itself), so the child is forked; the statement starts from a process whose
    // only thread is this one, as each test runs in a process of its own.
    GTEST_FLAG_SET(death_test_style, "fast");
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
    EXPECT_DEATH(
        {
            DeviceConfig config;
            config.deadlockGraceMs = 100;
            plat::sim::Reset(config);
            plat::HANDLE never = plat::CreateEvent(nullptr, true, false, nullptr);
            plat::WaitForSingleObject(never, plat::INFINITE);
        },
        "deadlock at device time 0 ms(.|\n)*WaitForSingleObject on an event");
}

}  // namespace
}  // namespace platform_test
