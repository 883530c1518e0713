// The player on its own: loading (with the decode-scale ladder), layout, and the guards of its
// operations. Whole shows are in render_test.cpp and tests/host.
#include <gtest/gtest.h>

#include "player/animation_player.h"
#include "show_testkit.h"

namespace {

using br::AnimationPlayer;
using showtest::MakeGif;
using showtest::SolidFrame;

class Player : public showtest::ShowFixture {
  protected:
    void SetUp() override { BootScreen(8, 6); }

    void TearDown() override {
        if (window_ != nullptr && plat::IsWindow(window_)) plat::DestroyWindow(window_);
        plat::UnregisterClass(u"PlayerTest", nullptr);
        showtest::ShowFixture::TearDown();
    }

    void BootScreen(int width, int height) {
        plat::sim::DeviceConfig config;
        config.screenWidth = width;
        config.screenHeight = height;
        Boot(config);
        plat::WNDCLASS windowClass{};
        windowClass.lpfnWndProc = plat::DefWindowProc;
        windowClass.lpszClassName = u"PlayerTest";
        plat::RegisterClass(&windowClass);
        window_ = plat::CreateWindowEx(0, u"PlayerTest", u"", 0, 0, 0, width, height, nullptr,
                                       nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        start_ = plat::sim::Live();
    }

    // Everything a player obtains is given back (the test's window and class aside).
    void ExpectAllReleased() {
        const plat::sim::Counts now = plat::sim::Live();
        EXPECT_EQ(now.threads, start_.threads);
        EXPECT_EQ(now.handles, start_.handles);
        EXPECT_EQ(now.gdiObjects, start_.gdiObjects);
        EXPECT_EQ(now.deviceContexts, start_.deviceContexts);
        EXPECT_EQ(now.bitmapBytes, start_.bitmapBytes);
    }

    std::u16string Picture(int width, int height, int frames) {
        std::vector<showtest::GifFrame> list;
        for (int i = 0; i < frames; ++i) list.push_back(SolidFrame(0, 0, width, height, 'R', 0, 1));
        return folder_->Put("p" + std::to_string(++pictures_) + ".gif",
                            MakeGif(width, height, list));
    }

    plat::HWND window_ = nullptr;
    int pictures_ = 0;
};

TEST_F(Player, AttachingNoWindowChangesNothing) {
    AnimationPlayer player;
    EXPECT_TRUE(player.AttachWindow(window_));
    EXPECT_FALSE(player.AttachWindow(nullptr));
    EXPECT_EQ(player.window, window_);
}

TEST_F(Player, FailedLoadsKeepOrDropThePictureAsTheyShould) {
    AnimationPlayer player;
    player.AttachWindow(window_);
    ASSERT_TRUE(player.Load(Picture(4, 2, 2).c_str()));
    br::FrameList frames = player.frames;

    // A missing file changes nothing.
    EXPECT_FALSE(player.Load(u"\\missing.gif"));
    EXPECT_TRUE(player.loaded);
    EXPECT_EQ(player.frames, frames);
    EXPECT_EQ(player.info.frameCount, 2);

    // A file that is there but is no picture drops the earlier picture.
    const std::u16string junk = folder_->Put("junk.gif", {'G', 'I', 'F', '8', '9', 'a', 1});
    EXPECT_FALSE(player.Load(junk.c_str()));
    EXPECT_FALSE(player.loaded);
    EXPECT_EQ(player.frames, nullptr);
    EXPECT_EQ(player.info.frameCount, 0);

    // Destroy after a failed load, and twice, releases nothing twice.
    EXPECT_TRUE(player.Destroy());
    EXPECT_TRUE(player.Destroy());
    ExpectAllReleased();
}

TEST_F(Player, LoadRecordsThePictureDescriptionAndPalette) {
    AnimationPlayer player;
    player.AttachWindow(window_);
    ASSERT_TRUE(player.Load(Picture(4, 2, 3).c_str()));
    EXPECT_EQ(player.info.format, 3);
    EXPECT_EQ(player.info.width, 4);
    EXPECT_EQ(player.info.height, 2);
    EXPECT_EQ(player.info.frameCount, 3);
    EXPECT_EQ(player.decodeScale, 1.0);
    ASSERT_NE(player.info.palette, nullptr);
    EXPECT_EQ(player.info.palette->count, 16);
    EXPECT_EQ(player.info.palette->entries[2].red, 255);  // the test palette's red
    EXPECT_EQ(player.info.palette->entries[2].green, 0);
    player.Destroy();
    EXPECT_EQ(player.info.palette, nullptr);
}

TEST_F(Player, PlacesThePictureByItsSizeAgainstTheWindow) {
    struct Case {
        int width, height;
        int offsetX, offsetY;
        br::Rect destination;
    };
    // The window is 8 x 6.
    const std::vector<Case> cases = {
        {4, 2, -2, -2, br::Rect(2, 2, 6, 4)},  // smaller: centred
        {5, 3, -1, -1, br::Rect(1, 1, 6, 4)},  // odd difference: truncated toward zero
        {8, 6, 0, 0, br::Rect(0, 0, 8, 6)},    // same size
        {12, 9, 2, 1, br::Rect(0, 0, 8, 6)},   // larger: whole window, centre part shown
        {4, 10, -2, 2, br::Rect(2, 0, 6, 6)},  // narrower, taller
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        AnimationPlayer player;
        player.AttachWindow(window_);
        ASSERT_TRUE(player.Load(Picture(c.width, c.height, 1).c_str()));
        EXPECT_EQ(player.displayScale, 1.0);
        EXPECT_EQ(player.scaledSize.cx, c.width);
        EXPECT_EQ(player.scaledSize.cy, c.height);
        EXPECT_EQ(player.offsetX, c.offsetX);
        EXPECT_EQ(player.offsetY, c.offsetY);
        const br::Rect destination = player.DestinationRect();
        EXPECT_EQ(destination.left, c.destination.left);
        EXPECT_EQ(destination.top, c.destination.top);
        EXPECT_EQ(destination.right, c.destination.right);
        EXPECT_EQ(destination.bottom, c.destination.bottom);
        player.Destroy();
    }
}

TEST_F(Player, PictureMoreThanAHundredTimesTheWindowIsScaledDown) {
    AnimationPlayer player;
    player.AttachWindow(window_);
    ASSERT_TRUE(player.Load(Picture(1000, 6, 1).c_str()));
    // Reference size 10 x 1 fitted into 8 x 6: 8 / 10.
    EXPECT_DOUBLE_EQ(player.displayScale, 0.8);
    EXPECT_EQ(player.scaledSize.cx, 800);
    player.Destroy();
}

TEST_F(Player, DecodesAtTheFirstScaleThatFits) {
    // 64 x 64 frames need 4096 bytes at full size, 1024 at half.
    for (const auto& [limit, scale] : std::vector<std::pair<std::size_t, double>>{
             {0, 1.0}, {2000, 0.5}, {300, 0.25}, {70, 0.125}, {20, 0.0625}}) {
        SCOPED_TRACE(limit);
        plat::sim::FailBitmapsAbove(limit);
        AnimationPlayer player;
        player.AttachWindow(window_);
        ASSERT_TRUE(player.Load(Picture(64, 64, 2).c_str()));
        EXPECT_EQ(player.decodeScale, scale);
        EXPECT_EQ(player.frames[0]->image.width, static_cast<int>(64 * scale));
        player.Destroy();
    }
    plat::sim::FailBitmapsAbove(10);  // not even 1/16 (16 bytes) fits
    AnimationPlayer player;
    player.AttachWindow(window_);
    EXPECT_FALSE(player.Load(Picture(64, 64, 2).c_str()));
    EXPECT_EQ(player.frames, nullptr);
    EXPECT_FALSE(player.loaded);
    plat::sim::FailBitmapsAbove(0);
    player.Destroy();
    ExpectAllReleased();
}

TEST_F(Player, OneFramePictureIsNeverPlayed) {
    AnimationPlayer player;
    player.AttachWindow(window_);
    ASSERT_TRUE(player.Load(Picture(4, 2, 1).c_str()));
    EXPECT_FALSE(player.Play(true));
    EXPECT_FALSE(player.Stop());
    EXPECT_TRUE(plat::sim::Threads().empty());
    player.Destroy();
}

TEST_F(Player, PlayingTwiceStartsOneThreadAndStopEndsIt) {
    AnimationPlayer player;
    EXPECT_FALSE(player.Play(false));  // nothing loaded
    player.AttachWindow(window_);
    ASSERT_TRUE(player.Load(Picture(4, 2, 3).c_str()));
    EXPECT_FALSE(player.Stop());  // never played

    EXPECT_TRUE(player.Play(false));
    EXPECT_TRUE(player.Play(false));
    EXPECT_EQ(plat::sim::Threads().size(), 1u);
    EXPECT_TRUE(player.playing);

    // The render thread waits for this thread to take its frame-shown message; with the window
    // gone that send fails at once and the thread sees the end request within a pass.
    plat::DestroyWindow(window_);
    EXPECT_TRUE(player.Stop());
    EXPECT_FALSE(player.playing);
    EXPECT_EQ(player.renderLoop.thread, nullptr);
    EXPECT_EQ(plat::sim::TerminateThreadCalls(), 0);
    EXPECT_TRUE(plat::sim::Threads()[0].finished);
    EXPECT_TRUE(player.Destroy());
    ExpectAllReleased();
}

TEST_F(Player, ThreadThatCannotBeSeenToEndKeepsWhatItUses) {
    AnimationPlayer player;
    player.AttachWindow(window_);
    ASSERT_TRUE(player.Load(Picture(4, 2, 3).c_str()));
    ASSERT_TRUE(player.Play(false));
    // This thread sleeps instead of taking messages: the render thread's first frame-shown
    // message waits for it.
    plat::Sleep(10);

    // The window still exists and this thread does not take the render thread's message: the
    // thread cannot end, the device cannot terminate it, so nothing it uses may be freed.
    EXPECT_FALSE(player.Destroy());
    EXPECT_EQ(plat::sim::TerminateThreadCalls(), 1);
    EXPECT_NE(player.frames, nullptr);
    EXPECT_NE(player.renderLoop.surface, nullptr);

    // Once the window is gone the thread ends and a second Destroy finishes the job.
    plat::DestroyWindow(window_);
    EXPECT_TRUE(player.Destroy());
    EXPECT_EQ(player.frames, nullptr);
    ExpectAllReleased();
}

TEST_F(Player, FillRectColourPaintsOnlyTheRectangle) {
    plat::HDC screen = plat::GetDC(nullptr);
    br::FillRectColour(screen, 0, 0, 8, 6, 0x00FFFFFF);
    br::FillRectColour(screen, 2, 1, 3, 2, 0x000000FF);  // red, laid out 0x00BBGGRR
    plat::ReleaseDC(nullptr, screen);
    EXPECT_EQ(showtest::ScreenRows(plat::sim::Screen()),
              (std::vector<std::string>{"WWWWWWWW", "WWRRRWWW", "WWRRRWWW", "WWWWWWWW", "WWWWWWWW",
                                        "WWWWWWWW"}));
    ExpectAllReleased();
}

}  // namespace
