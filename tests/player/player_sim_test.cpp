// The player on the simulated device: the decode-scale ladder under short bitmap memory, the
// render thread's life as the device sees it, and painting the screen.
#include <gtest/gtest.h>

#include "player/animation_player.h"
#include "player/render_loop.h"
#include "player_fixture.h"
#include "show_testkit.h"

namespace {

using br::AnimationPlayer;

// On a screen of the window's size, so that the screen shows what the window shows.
class PlayerSim : public showtest::PlayerTest {
  protected:
    void StartDevice() override {
        plat::sim::DeviceConfig config;
        config.screenWidth = kWidth;
        config.screenHeight = kHeight;
        plat::sim::Reset(config);
    }
    void TearDown() override {
        plat::sim::FailBitmapsAbove(0);
        PlayerTest::TearDown();
    }
};

TEST_F(PlayerSim, DecodesAtTheFirstScaleThatFits) {
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

TEST_F(PlayerSim, FramesDeclaringMoreThanThePictureCostOnlyThePicture) {
    // 240 x 320 picture whose two frames declare 65535 x 65535 and hold one pixel of data: only
    // their part inside the picture is decoded, at full size, in far less than a megabyte.
    std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 240, 0, 64, 1, 0x80, 0, 0,
                                     0,   0,   0,   255, 0,   0};
    for (int frame = 0; frame < 2; ++frame) {
        // Descriptor, code size 2, then clear, index 1, end as 3-bit codes.
        gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 2, 0x4C, 0x01, 0});
    }
    gif.push_back(0x3B);
    plat::sim::SetBitmapMemoryLimit(1 << 20);
    AnimationPlayer player;
    player.AttachWindow(window_);
    const bool loaded = player.Load(folder_->Put("large-frames.gif", gif).c_str());
    plat::sim::SetBitmapMemoryLimit(0);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(player.decodeScale, 1.0);
    EXPECT_EQ(player.frames[0]->image.width, 240);
    EXPECT_EQ(player.frames[0]->image.height, 320);
    EXPECT_EQ(player.frames[1]->image.colorBits[0], 1);  // the one pixel
    player.Destroy();
    ExpectAllReleased();
}

TEST_F(PlayerSim, PlayingTwiceStartsOneThreadAndStopEndsIt) {
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

TEST_F(PlayerSim, ThreadThatCannotBeSeenToEndKeepsWhatItUses) {
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

TEST_F(PlayerSim, FillRectColourPaintsOnlyTheRectangle) {
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
