// Whole shows through the exported entry points on the simulated device, in virtual time:
// every way a show ends, what the window received, what the screen showed, which sound
// played, and that nothing of the show is left when the entry point returns.
#include <gtest/gtest.h>

#include <thread>

#include "host/bootreel.h"
#include "show_testkit.h"

namespace {

using showtest::GifFrame;
using showtest::MakeGif;
using showtest::ScreenRows;
using showtest::SolidFrame;
using Rows = std::vector<std::string>;
using Delivery = showtest::ShowFixture::Delivery;

constexpr std::uint32_t kCreate = 1;
constexpr std::uint32_t kDestroy = 2;
constexpr std::uint32_t kClose = 16;
constexpr std::uint32_t kTimer = 275;
constexpr std::uint32_t kEnded = 0x464;
constexpr std::uint32_t kShown = 0x466;

// Two frames over the whole 4 x 2 picture: red for 0.5 s, then green for 1 s.
std::vector<std::uint8_t> RedThenGreen(std::uint16_t firstDelay = 50,
                                       std::uint16_t secondDelay = 100) {
    return MakeGif(
        4, 2, {SolidFrame(0, 0, 4, 2, 'R', firstDelay), SolidFrame(0, 0, 4, 2, 'G', secondDelay)});
}

class Show : public showtest::ShowFixture {
  protected:
    void SetUp() override {
        plat::sim::DeviceConfig config;
        config.screenWidth = 4;
        config.screenHeight = 2;
        Boot(config);
    }

    void RunStartup() { DoStartupAnimation(nullptr, endRequest_, done_); }
    void RunShutdown() { DoShutdownAnimation(nullptr, endRequest_, done_); }

    // The messages the show's window received, in order; an expected count of 0 stands for
    // "one or more" (how many passes the render thread makes before a timer tick is a race).
    void ExpectMessages(const std::vector<Delivery>& expected) {
        const std::vector<Delivery> actual = ShowWindowMessages();
        bool same = actual.size() == expected.size();
        for (std::size_t i = 0; same && i < actual.size(); ++i) {
            same = actual[i].message == expected[i].message &&
                   (expected[i].count == 0 || actual[i].count == expected[i].count);
        }
        EXPECT_TRUE(same) << ::testing::PrintToString(actual) << " expected "
                          << ::testing::PrintToString(expected);
    }

    bool DoneSignalled() { return plat::WaitForSingleObject(done_, 0) == plat::WAIT_OBJECT_0; }

    void ExpectNothingLeft() {
        JoinActions();
        showtest::ExpectSameLiveObjects(start_, plat::sim::Live());
        EXPECT_EQ(plat::sim::OpenTimerPeriods(), 0);
        for (const auto& thread : plat::sim::Threads()) {
            EXPECT_TRUE(thread.finished) << "thread " << thread.threadId;
        }
    }
};

// ---- The five ends of a show, and the load failures ------------------------------------

TEST_F(Show, EndsAfterTheLastFrameWithTheWindowClosingItself) {
    InstallPicture(u"Startup", RedThenGreen());
    const std::u16string sound = InstallSound(u"Startup", 5000);
    int timerPeriodsDuringTheShow = 0;
    At(100, [&] { timerPeriodsDuringTheShow = plat::sim::OpenTimerPeriods(); });

    RunStartup();
    const std::uint64_t returned = plat::sim::Now();
    EXPECT_EQ(timerPeriodsDuringTheShow, 1);  // fine timing while it plays, ended after

    // Frame 0 at once, frame 1 on the first pass at or after 500 ms, shown for one pass, then
    // the end message; the window stops the player and closes.
    ExpectMessages({{kCreate, 1}, {kShown, 27}, {kEnded, 1}, {kClose, 1}, {kDestroy, 1}});
    const std::uint64_t closedAt = FirstDelivery(kClose);
    EXPECT_GE(closedAt, 520u);
    EXPECT_LE(closedAt, 560u);
    EXPECT_TRUE(DoneSignalled());
    EXPECT_EQ(returned, closedAt);  // the start-up show does not wait for its sound

    EXPECT_EQ(ScreensShown(0, 0, 4, 2), (std::vector<Rows>{{"RRRR", "RRRR"}, {"GGGG", "GGGG"}}));

    const auto sounds = plat::sim::Sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].path, sound);
    EXPECT_EQ(sounds[0].flags, 1u);  // in the background
    EXPECT_TRUE(sounds[0].played);
    EXPECT_EQ(sounds[0].startedAtMs, 0u);
    ExpectNothingLeft();
}

TEST_F(Show, EndRequestIsSeenAtTheNextTimerTickAndStopsTheRenderThread) {
    // Ten seconds per frame: the animation itself would run far longer than the show.
    InstallPicture(u"Startup", RedThenGreen(1000, 1000));
    At(1000, [this] { plat::SetEvent(endRequest_); });

    RunStartup();

    ExpectMessages({{kCreate, 1}, {kShown, 0}, {kTimer, 1}, {kClose, 1}, {kDestroy, 1}});
    EXPECT_EQ(FirstDelivery(kClose), 3000u);
    EXPECT_TRUE(DoneSignalled());
    EXPECT_LE(plat::sim::Now(), 3000u + 40u);  // at most one more pass of the render thread
    EXPECT_EQ(ScreensShown(0, 0, 4, 2), (std::vector<Rows>{{"RRRR", "RRRR"}}));
    EXPECT_TRUE(plat::sim::Sounds().empty());
    EXPECT_EQ(plat::sim::TerminateThreadCalls(), 0);
    ExpectNothingLeft();
}

TEST_F(Show, EndRequestSignalledBeforeTheShowClosesItAtTheFirstTick) {
    InstallPicture(u"Startup", RedThenGreen(1000, 1000));
    plat::SetEvent(endRequest_);

    RunStartup();

    EXPECT_EQ(FirstDelivery(kClose), 3000u);
    ExpectNothingLeft();
}

TEST_F(Show, CloseFromAnybodyEndsTheShowAtOnce) {
    InstallPicture(u"Startup", RedThenGreen(1000, 1000));
    At(200, [] { plat::PostMessage(plat::FindWindow(u"StartUpAnimation", nullptr), 16, 0, 0); });

    RunStartup();

    ExpectMessages({{kCreate, 1}, {kShown, 0}, {kClose, 1}, {kDestroy, 1}});
    EXPECT_EQ(FirstDelivery(kClose), 200u);
    EXPECT_TRUE(DoneSignalled());
    EXPECT_LE(plat::sim::Now(), 240u);
    EXPECT_EQ(plat::sim::TerminateThreadCalls(), 0);
    ExpectNothingLeft();
}

TEST_F(Show, DoneSignalledByTheCallerEndsTheLoopAfterTheNextMessage) {
    InstallPicture(u"Startup", RedThenGreen(1000, 1000));
    At(200, [this] { plat::SetEvent(done_); });

    RunStartup();

    // Sent messages do not end a wait for the next message: the timer tick at 3000 ms does.
    // The window never saw close; the show destroys it on its way out.
    ExpectMessages({{kCreate, 1}, {kShown, 0}, {kTimer, 1}, {kDestroy, 1}});
    EXPECT_LE(plat::sim::Now(), 3000u + 40u);
    EXPECT_EQ(plat::sim::TerminateThreadCalls(), 0);
    ExpectNothingLeft();
}

TEST_F(Show, EndMessageFromElsewhereWhileTheRenderThreadWaitsForTheWindowIsIgnored) {
    InstallPicture(u"Startup", RedThenGreen());
    // Posted by somebody else after the first copy, and taken by the window before the render
    // thread sends its frame-shown message, for which it then waits.
    bool posted = false;
    plat::sim::SetScreenCopyObserver([this, &posted](const plat::sim::ScreenShot&) {
        if (posted) return;
        posted = true;
        plat::PostMessage(plat::FindWindow(u"StartUpAnimation", nullptr), kEnded, 0, 0);
        while (FirstDelivery(kEnded) == UINT64_MAX) std::this_thread::yield();
    });

    RunStartup();

    // The animation plays to its end as if nothing had come; nothing waited or was forced.
    EXPECT_TRUE(posted);
    const std::uint64_t closedAt = FirstDelivery(kClose);
    EXPECT_GE(closedAt, 520u);
    EXPECT_LE(closedAt, 560u);
    EXPECT_EQ(plat::sim::Now(), closedAt);
    EXPECT_EQ(plat::sim::TerminateThreadCalls(), 0);
    EXPECT_TRUE(DoneSignalled());
    ExpectNothingLeft();
}

TEST_F(Show, PictureThatCannotBeShownClosesTheWindowAtOnceWithoutSound) {
    struct Case {
        const char* what;
        std::function<void()> configure;
    };
    const std::vector<Case> cases = {
        {"no registry key", [] {}},
        {"no Image value", [this] { InstallSound(u"Startup", 100); }},
        {"missing file",
         [this] {
             SetRegistryPath(u"Startup", u"Image", u"\\nothing.gif");
             InstallSound(u"Startup", 100);
         }},
        {"a folder",
         [this] {
             SetRegistryPath(u"Startup", u"Image", folder_->MakeFolder("pictures"));
             InstallSound(u"Startup", 100);
         }},
        {"the root", [this] { SetRegistryPath(u"Startup", u"Image", u"\\"); }},
        {"not a picture",
         [this] {
             InstallPicture(u"Startup", {'n', 'o', 't', ' ', 'a', ' ', 'G', 'I', 'F'});
             InstallSound(u"Startup", 100);
         }},
        {"a truncated GIF",
         [this] {
             auto gif = RedThenGreen();
             gif.resize(40);
             InstallPicture(u"Startup", gif);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.configure();

        RunStartup();

        ExpectMessages({{kCreate, 1}, {kClose, 1}, {kDestroy, 1}});
        EXPECT_EQ(FirstDelivery(kClose), 0u);
        EXPECT_EQ(plat::sim::Now(), 0u);
        EXPECT_TRUE(DoneSignalled());
        EXPECT_TRUE(Copies().empty());
        EXPECT_TRUE(plat::sim::Sounds().empty());
        ExpectNothingLeft();
    }
}

TEST_F(Show, MissingEventArgumentsReturnAtOnceWithoutAWindow) {
    InstallPicture(u"Startup", RedThenGreen());
    DoStartupAnimation(nullptr, nullptr, done_);
    DoStartupAnimation(nullptr, endRequest_, nullptr);
    DoShutdownAnimation(nullptr, nullptr, nullptr);
    EXPECT_TRUE(plat::sim::DeliveredMessages().empty());
    EXPECT_FALSE(DoneSignalled());
    ExpectNothingLeft();
}

TEST_F(Show, WindowThatCannotBeCreatedSignalsDoneReturnsAtOnceAndFreesTheClass) {
    for (const bool shutdown : {false, true}) {
        SCOPED_TRACE(shutdown ? "shut-down" : "start-up");
        SetUp();
        InstallPicture(u"Startup", RedThenGreen());
        InstallPicture(u"Shutdown", RedThenGreen());
        InstallSound(u"Startup", 1000);
        InstallSound(u"Shutdown", 1000);
        plat::sim::FailWindowCreation(1);

        shutdown ? RunShutdown() : RunStartup();

        // No loop could run without a window; the caller is told the show is over.
        EXPECT_EQ(plat::sim::Now(), 0u);
        EXPECT_TRUE(DoneSignalled());
        EXPECT_TRUE(plat::sim::DeliveredMessages().empty());
        EXPECT_TRUE(plat::sim::Sounds().empty());
        ExpectNothingLeft();

        // The class was given back, so the next show plays.
        plat::ResetEvent(done_);
        RunStartup();
        EXPECT_TRUE(DoneSignalled());
        EXPECT_EQ(ScreensShown(0, 0, 4, 2),
                  (std::vector<Rows>{{"RRRR", "RRRR"}, {"GGGG", "GGGG"}}));
        ExpectNothingLeft();
    }
}

TEST_F(Show, EndMessageEndsTheShowAtOnceWhenNoRenderThreadDraws) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> gif;
        int failedThreads;  // render thread creations that fail
    };
    const std::vector<Case> cases = {
        {"one-frame picture", MakeGif(4, 2, {SolidFrame(0, 0, 4, 2, 'R', 10)}), 0},
        {"render thread that could not be created", RedThenGreen(1000, 1000), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        InstallPicture(u"Startup", c.gif);
        At(200,
           [] { plat::PostMessage(plat::FindWindow(u"StartUpAnimation", nullptr), kEnded, 0, 0); });
        At(5000, [this] { plat::SetEvent(endRequest_); });  // else only the caller could end it
        plat::sim::FailThreadCreation(c.failedThreads);

        RunStartup();

        // Nothing was drawn, nothing had to be waited for, and the window closed on the message
        // instead of at the caller's end request.
        ExpectMessages({{kCreate, 1}, {kEnded, 1}, {kClose, 1}, {kDestroy, 1}});
        EXPECT_EQ(FirstDelivery(kClose), 200u);
        EXPECT_EQ(plat::sim::Now(), 200u);
        EXPECT_TRUE(DoneSignalled());
        EXPECT_TRUE(Copies().empty());
        EXPECT_EQ(plat::sim::TerminateThreadCalls(), 0);
        ExpectNothingLeft();
    }
}

TEST_F(Show, CallerWaitingOnAManualResetDoneEventSeesItAfterEveryEnd) {
    // A thread of the caller's waits on doneEvent while the show runs, as a boot sequence does;
    // the show's own tests of the event between messages must not take the signal from it.
    struct Case {
        const char* what;
        std::vector<std::uint8_t> gif;
        std::function<void()> during;
    };
    const auto post = [](std::uint32_t message) {
        plat::PostMessage(plat::FindWindow(u"StartUpAnimation", nullptr), message, 0, 0);
    };
    const std::vector<Case> cases = {
        {"last frame", RedThenGreen(), [] {}},
        {"end request", RedThenGreen(1000, 1000),
         [this] { At(500, [this] { plat::SetEvent(endRequest_); }); }},
        {"close from elsewhere", RedThenGreen(1000, 1000),
         [this, post] { At(200, [post] { post(kClose); }); }},
        {"end message from elsewhere", RedThenGreen(),
         [this, post] { At(100, [post] { post(kEnded); }); }},
        {"done signalled by the caller", RedThenGreen(1000, 1000),
         [this] { At(200, [this] { plat::SetEvent(done_); }); }},
        {"picture that cannot be loaded", {'G', 'I', 'F'}, [] {}},
        {"window that cannot be created", RedThenGreen(), [] { plat::sim::FailWindowCreation(1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        InstallPicture(u"Startup", c.gif);
        std::uint64_t seenAt = UINT64_MAX;
        At(0, [this, &seenAt] {
            if (plat::WaitForSingleObject(done_, 20000) == plat::WAIT_OBJECT_0) {
                seenAt = plat::sim::Now();
            }
        });
        c.during();

        RunStartup();
        const std::uint64_t returned = plat::sim::Now();
        JoinActions();

        EXPECT_LE(seenAt, returned);
        EXPECT_TRUE(DoneSignalled());
        ExpectNothingLeft();
    }
}

// ---- The window ------------------------------------------------------------------------

TEST_F(Show, WindowIsFullScreenTopMostAndOwnedByTheCaller) {
    InstallPicture(u"Startup", RedThenGreen());
    plat::sim::WindowInfo seen{};
    At(100, [&seen] {
        for (const auto& w : plat::sim::Windows()) {
            if (w.className == u"StartUpAnimation") seen = w;
        }
    });
    plat::HWND owner = plat::sim::AddForeignWindow(u"Shell", u"");

    DoStartupAnimation(owner, endRequest_, done_);
    JoinActions();

    EXPECT_EQ(seen.title, u"StartUpAnimation");
    EXPECT_EQ(seen.exStyle, 0x60000008u);
    EXPECT_EQ(seen.style, 0x10000000u);
    EXPECT_EQ(seen.x, 0);
    EXPECT_EQ(seen.y, 0);
    EXPECT_EQ(seen.width, 4);
    EXPECT_EQ(seen.height, 2);
    EXPECT_EQ(seen.owner, owner);
    EXPECT_EQ(seen.timers, 1);
}

TEST_F(Show, RenderThreadRunsOneLevelAboveNormalForStartupOnly) {
    InstallPicture(u"Startup", RedThenGreen());
    InstallPicture(u"Shutdown", RedThenGreen());
    RunStartup();
    plat::ResetEvent(done_);
    RunShutdown();
    const auto threads = plat::sim::Threads();
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_EQ(threads[0].priority, 2);
    EXPECT_EQ(threads[1].priority, 3);
}

// ---- Timing ----------------------------------------------------------------------------

TEST_F(Show, FramesWithoutDelayAdvanceOnePerPass) {
    InstallPicture(u"Startup", MakeGif(4, 2,
                                       {SolidFrame(0, 0, 4, 2, 'R'), SolidFrame(0, 0, 4, 2, 'G'),
                                        SolidFrame(0, 0, 4, 2, 'B')}));
    RunStartup();

    const auto copies = Copies();
    ASSERT_EQ(copies.size(), 3u);
    const std::vector<std::pair<std::uint64_t, char>> expected = {{0, 'R'}, {20, 'G'}, {40, 'B'}};
    for (std::size_t i = 0; i < copies.size(); ++i) {
        EXPECT_EQ(copies[i].timeMs, expected[i].first) << "copy " << i;
        EXPECT_EQ(ScreenRows(copies[i])[0], std::string(4, expected[i].second)) << "copy " << i;
    }
    EXPECT_EQ(FirstDelivery(kEnded), 60u);
}

TEST_F(Show, DelaysCountFromTheStartAcrossAWrapOfTheTickCounter) {
    for (std::uint32_t tickStart : {0u, 0xFFFFFF00u}) {
        SCOPED_TRACE(tickStart);
        plat::sim::DeviceConfig config;
        config.screenWidth = 4;
        config.screenHeight = 2;
        config.tickStart = tickStart;
        Boot(config);
        InstallPicture(u"Startup", RedThenGreen());

        RunStartup();

        std::uint64_t firstGreen = UINT64_MAX;
        for (const auto& shot : Copies()) {
            if (ScreenRows(shot)[0] == "GGGG") {
                firstGreen = shot.timeMs;
                break;
            }
        }
        EXPECT_GE(firstGreen, 500u);
        EXPECT_LE(firstGreen, 520u);
        // The last frame is shown for one pass; its own delay is not waited for.
        EXPECT_EQ(Copies().back().timeMs, firstGreen);
        EXPECT_EQ(FirstDelivery(kEnded), firstGreen + 20);
    }
}

// ---- Shut-down mode --------------------------------------------------------------------

class ShutdownShow : public Show {
  protected:
    void SetUp() override {
        Show::SetUp();
        shutdownDone_ = plat::sim::AddNamedEvent(u"SHUTDOWN_ANIMATION_DONE");
        start_ = plat::sim::Live();
    }

    // Device time at which the named event became signalled (UINT64_MAX: never, up to 10 s).
    void WatchShutdownEvent() {
        At(0, [this] {
            if (plat::WaitForSingleObject(shutdownDone_, 10000) == plat::WAIT_OBJECT_0) {
                signalledAt_ = plat::sim::Now();
            }
        });
    }

    plat::HANDLE shutdownDone_ = nullptr;
    std::uint64_t signalledAt_ = UINT64_MAX;
};

TEST_F(ShutdownShow, ClosesTheMediaPlayerAndReturnsOnlyAfterTheSoundHasPlayed) {
    plat::HWND mediaPlayer = plat::sim::AddForeignWindow(u"WMP for Mobile Devices", u"Player");
    InstallPicture(u"Shutdown", RedThenGreen());
    const std::u16string sound = InstallSound(u"Shutdown", 2000);
    WatchShutdownEvent();

    RunShutdown();
    const std::uint64_t returned = plat::sim::Now();
    JoinActions();

    EXPECT_FALSE(plat::IsWindow(mediaPlayer));
    bool closeSeen = false;
    for (const auto& record : plat::sim::DeliveredMessages()) {
        if (record.windowClass == u"WMP for Mobile Devices" && record.message == kClose) {
            closeSeen = true;
            EXPECT_EQ(record.timeMs, 0u);
            EXPECT_FALSE(record.sent);
        }
    }
    EXPECT_TRUE(closeSeen);

    const auto sounds = plat::sim::Sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].path, sound);
    EXPECT_EQ(sounds[0].flags, 0u);  // played to its end on the sound thread
    EXPECT_EQ(sounds[0].endedAtMs, 2000u);
    EXPECT_EQ(signalledAt_, 2000u);
    EXPECT_GE(returned, 2000u);
    EXPECT_LE(returned, 2100u);
    // The animation itself ended long before the sound.
    EXPECT_LE(FirstDelivery(kClose), 560u);
    ExpectNothingLeft();
}

TEST_F(ShutdownShow, WithoutSoundTheEventIsNeverSignalledAndTheCallReturnsAfterTheAnimation) {
    struct Case {
        const char* what;
        std::function<void()> configure;
    };
    const std::vector<Case> cases = {
        {"InitVol 0", [this] { InstallSound(u"Shutdown", 2000, 0); }},
        {"InitVol missing",
         [this] {
             SetRegistryPath(u"Shutdown", u"WAV", folder_->Put("s.wav", showtest::MakeWav(2000)));
         }},
        {"sound file missing",
         [this] {
             InstallSound(u"Shutdown", 2000, 5);
             SetRegistryPath(u"Shutdown", u"WAV", u"\\gone.wav");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        InstallPicture(u"Shutdown", RedThenGreen());
        c.configure();

        RunShutdown();

        EXPECT_TRUE(plat::sim::Sounds().empty());
        EXPECT_EQ(plat::WaitForSingleObject(shutdownDone_, 0), plat::WAIT_TIMEOUT);
        EXPECT_EQ(plat::sim::Now(), FirstDelivery(kClose));
        ExpectNothingLeft();
    }
}

TEST_F(ShutdownShow, RunsWithoutTheMediaPlayerOrTheNamedEvent) {
    Show::SetUp();  // a fresh device: no named event this time
    InstallPicture(u"Shutdown", RedThenGreen());
    InstallSound(u"Shutdown", 1000);

    RunShutdown();

    EXPECT_EQ(plat::sim::Now(), 1000u);
    EXPECT_EQ(plat::sim::Sounds().size(), 1u);
    ExpectNothingLeft();
}

TEST_F(ShutdownShow, AShowStartedWhileTheSoundPlaysOnReturnsAtOnceAndTouchesNothing) {
    // The animation ends at about 0.5 s, the sound at 2 s; another show is called at 1 s, while
    // the first still waits for its sound thread, which has yet to signal the named event.
    for (const bool secondIsShutdown : {false, true}) {
        SCOPED_TRACE(secondIsShutdown ? "second show shuts down" : "second show starts up");
        SetUp();
        signalledAt_ = UINT64_MAX;
        for (const char16_t* mode : {u"Startup", u"Shutdown"}) {
            InstallPicture(mode, RedThenGreen());
            InstallSound(mode, 2000);
        }
        WatchShutdownEvent();
        plat::HANDLE otherEnd = NewEvent();
        plat::HANDLE otherDone = NewEvent();
        std::uint64_t otherReturned = UINT64_MAX;
        At(1000, [&] {
            if (secondIsShutdown) {
                DoShutdownAnimation(nullptr, otherEnd, otherDone);
            } else {
                DoStartupAnimation(nullptr, otherEnd, otherDone);
            }
            otherReturned = plat::sim::Now();
        });

        RunShutdown();
        JoinActions();

        EXPECT_EQ(otherReturned, 1000u);
        EXPECT_EQ(signalledAt_, 2000u);  // by the first show's sound, when it ended
        EXPECT_EQ(plat::sim::Sounds().size(), 1u);
        plat::CloseHandle(otherEnd);
        plat::CloseHandle(otherDone);
        ExpectNothingLeft();
    }
}

// ---- Many shows in one process ---------------------------------------------------------

TEST_F(Show, StartupThenShutdownShowBothPlay) {
    InstallPicture(u"Startup", RedThenGreen(0, 0));
    InstallPicture(u"Shutdown",
                   MakeGif(4, 2, {SolidFrame(0, 0, 4, 2, 'B'), SolidFrame(0, 0, 4, 2, 'Y')}),
                   "bye.gif");
    RunStartup();
    EXPECT_TRUE(DoneSignalled());
    plat::ResetEvent(done_);
    RunShutdown();
    EXPECT_TRUE(DoneSignalled());

    EXPECT_EQ(ScreensShown(0, 0, 4, 2),
              (std::vector<Rows>{
                  {"RRRR", "RRRR"}, {"GGGG", "GGGG"}, {"BBBB", "BBBB"}, {"YYYY", "YYYY"}}));
    ExpectNothingLeft();
}

TEST_F(Show, TwoHundredShowsLeaveTheDeviceAsTheyFoundIt) {
    InstallPicture(u"Startup", RedThenGreen(0, 0));
    InstallPicture(u"Shutdown", RedThenGreen(0, 0));
    for (int i = 0; i < 200; ++i) {
        plat::ResetEvent(done_);
        if (i % 2 == 0) {
            RunStartup();
        } else {
            RunShutdown();
        }
        ASSERT_TRUE(DoneSignalled()) << "show " << i;
    }
    int ended = 0;
    for (const auto& record : plat::sim::DeliveredMessages()) {
        ended += record.message == kEnded ? 1 : 0;
    }
    EXPECT_EQ(ended, 200);
    ExpectNothingLeft();
}

TEST_F(Show, ASecondShowWhileOneRunsReturnsAtOnceSignallingNothing) {
    // A call that is turned away signals nothing, not even when it was given the running
    // show's own events: the first show plays to its end, and its caller hears of that end
    // only.
    for (const bool sameEvents : {false, true}) {
        SCOPED_TRACE(sameEvents ? "the running show's events" : "events of its own");
        SetUp();
        InstallPicture(u"Startup", RedThenGreen());
        plat::HANDLE otherEnd = sameEvents ? endRequest_ : NewEvent();
        plat::HANDLE otherDone = sameEvents ? done_ : NewEvent();
        std::uint64_t otherReturned = UINT64_MAX;
        bool doneAfterSecondCall = true;
        At(100, [&] {
            DoStartupAnimation(nullptr, otherEnd, otherDone);
            otherReturned = plat::sim::Now();
            doneAfterSecondCall = plat::WaitForSingleObject(otherDone, 0) == plat::WAIT_OBJECT_0;
        });

        RunStartup();
        JoinActions();

        EXPECT_EQ(otherReturned, 100u);
        EXPECT_FALSE(doneAfterSecondCall);
        EXPECT_TRUE(DoneSignalled());
        EXPECT_GE(FirstDelivery(kClose), 520u);
        EXPECT_EQ(ScreensShown(0, 0, 4, 2),
                  (std::vector<Rows>{{"RRRR", "RRRR"}, {"GGGG", "GGGG"}}));
        if (!sameEvents) {
            EXPECT_EQ(plat::WaitForSingleObject(otherDone, 0), plat::WAIT_TIMEOUT);
            plat::CloseHandle(otherEnd);
            plat::CloseHandle(otherDone);
        }
        ExpectNothingLeft();
    }
}

TEST_F(Show, LeavesNoQuitMessageInTheCallersQueue) {
    InstallPicture(u"Startup", RedThenGreen(0, 0));
    RunStartup();

    // The caller's own message loop goes on after the show: its next message is its own
    // timer's, not a quit left over from the show's window.
    plat::WNDCLASS callerClass{};
    callerClass.lpfnWndProc = plat::DefWindowProc;
    callerClass.lpszClassName = u"Caller";
    ASSERT_NE(plat::RegisterClass(&callerClass), 0);
    plat::HWND caller =
        plat::CreateWindowEx(0, u"Caller", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    plat::SetTimer(caller, 7, 50, nullptr);
    plat::MSG message{};
    EXPECT_EQ(plat::GetMessage(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.message, kTimer);
    plat::DestroyWindow(caller);
    plat::UnregisterClass(u"Caller", nullptr);
}

// ---- A picture of one frame ------------------------------------------------------------

TEST_F(Show, OneFramePictureDrawsNothingAndLastsUntilTheCallerEndsIt) {
    InstallPicture(u"Startup", MakeGif(4, 2, {SolidFrame(0, 0, 4, 2, 'R', 10)}));
    At(4000, [this] { plat::SetEvent(endRequest_); });

    RunStartup();

    EXPECT_TRUE(Copies().empty());
    EXPECT_TRUE(plat::sim::Threads().size() == 1u);  // only the test's own action thread
    ExpectMessages({{kCreate, 1}, {kTimer, 1}, {kTimer, 1}, {kClose, 1}, {kDestroy, 1}});
    EXPECT_EQ(FirstDelivery(kClose), 6000u);
    ExpectNothingLeft();

    SetUp();
    InstallPicture(u"Startup", MakeGif(4, 2, {SolidFrame(0, 0, 4, 2, 'R', 10)}));
    At(1000, [this] { plat::SetEvent(done_); });
    RunStartup();
    EXPECT_EQ(plat::sim::Now(), 3000u);
    EXPECT_TRUE(Copies().empty());
    ExpectNothingLeft();
}

}  // namespace
