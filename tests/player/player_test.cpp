// The player on its own: loading, layout, and the guards of its operations; on a real clock and
// a real window, a played picture reaching the window. Whole shows are in render_test.cpp and
// tests/host.
#include <gtest/gtest.h>

#include "player/animation_player.h"
#include "player/render_loop.h"
#include "player_fixture.h"

namespace {

using br::AnimationPlayer;
using showtest::MakeGif;
using showtest::SolidFrame;

using Player = showtest::PlayerTest;

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

TEST_F(Player, AFileChangedBetweenItsTwoReadsIsNotLoaded) {
    // The description is read first, the frames second; a file replaced in between must not
    // leave a frame list that the description does not describe.
    const std::vector<std::vector<std::uint8_t>> replacements = {
        MakeGif(4, 2, {SolidFrame(0, 0, 4, 2, 'R')}),                              // fewer frames
        MakeGif(4, 2, std::vector<showtest::GifFrame>(5, SolidFrame(0, 0, 4, 2, 'G'))),  // more
        MakeGif(6, 2, std::vector<showtest::GifFrame>(3, SolidFrame(0, 0, 6, 2, 'B'))),  // larger
    };
    for (const auto& replacement : replacements) {
        AnimationPlayer player;
        player.AttachWindow(window_);
        const std::u16string path = Picture(4, 2, 3);
        ASSERT_TRUE(player.LoadImageInfo(path.c_str()));
        folder_->Put("p" + std::to_string(pictures_) + ".gif", replacement);
        EXPECT_FALSE(player.LoadFrames(path.c_str()));
        EXPECT_EQ(player.frames, nullptr);
        player.Destroy();
    }
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

TEST_F(Player, OneFramePictureIsNeverPlayed) {
    AnimationPlayer player;
    player.AttachWindow(window_);
    ASSERT_TRUE(player.Load(Picture(4, 2, 1).c_str()));
    EXPECT_FALSE(player.Play(true));
    EXPECT_FALSE(player.Stop());
    EXPECT_EQ(player.renderLoop.thread, nullptr);
    player.Destroy();
}

// A player on a window that is on the screen, with the messages taken as a host takes them: the
// composed frames reach the window, centred, and the last picture stays when the animation ends.
// (Top-most, so that windows of tests running at the same time cannot cover it; see
// CMakeLists.txt.)
class PlayerOnScreen : public Player {
  protected:
    void SetUp() override {
        style_ = 0x10000000;    // visible
        exStyle_ = 0x00000008;  // top-most
        Player::SetUp();
    }

    // The window's pixels as rows of colour letters.
    std::vector<std::string> WindowRows() {
        plat::BITMAPINFO info{};
        info.bmiHeader.biSize = 40;
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        void* bits = nullptr;
        plat::HBITMAP copy = plat::CreateDIBSection(nullptr, &info, 0, &bits, nullptr, 0);
        plat::HDC windowDc = plat::GetDC(window_);
        plat::HDC memory = plat::CreateCompatibleDC(windowDc);
        plat::HGDIOBJ old = plat::SelectObject(memory, copy);
        EXPECT_TRUE(plat::BitBlt(memory, 0, 0, kWidth, kHeight, windowDc, 0, 0, plat::SRCCOPY));
        std::vector<std::string> rows;
        const auto* pixels = static_cast<const std::uint8_t*>(bits);
        for (int y = 0; y < kHeight; ++y) {
            std::string row;
            for (int x = 0; x < kWidth; ++x) {
                const std::uint8_t* p = pixels + y * kWidth * 3 + x * 3;
                row.push_back(showtest::LetterOf(p[2], p[1], p[0]));
            }
            rows.push_back(row);
        }
        plat::SelectObject(memory, old);
        plat::DeleteDC(memory);
        plat::ReleaseDC(window_, windowDc);
        plat::DeleteObject(copy);
        return rows;
    }
};

TEST_F(PlayerOnScreen, FramesReachTheWindowCentredAndTheLastOneStays) {
    // A 4 x 2 picture in the 8 x 6 window: green, then blue over its right half.
    const std::u16string path = folder_->Put(
        "shown.gif",
        MakeGif(4, 2, {SolidFrame(0, 0, 4, 2, 'G', 2), SolidFrame(2, 0, 2, 2, 'B', 2)}));
    AnimationPlayer player;
    ASSERT_TRUE(player.AttachWindow(window_));
    player.SetBackgroundColour(0x00FFFFFF);
    ASSERT_TRUE(player.Load(path.c_str()));
    ASSERT_TRUE(player.Play(false));

    // Take messages until the render thread reports the end; a timer bounds the wait.
    const plat::HANDLE thread = player.renderLoop.thread;
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(player.Play(false));  // already playing: the same thread
    EXPECT_EQ(player.renderLoop.thread, thread);
    ASSERT_NE(plat::SetTimer(window_, 1, 10000, nullptr), 0u);
    plat::MSG message{};
    bool ended = false;
    while (!ended && plat::GetMessage(&message, nullptr, 0, 0) > 0) {
        if (message.message == plat::WM_TIMER) break;
        ended = message.message == br::MSG_ANIMATION_ENDED;
        plat::DispatchMessage(&message);
    }
    plat::KillTimer(window_, 1);
    ASSERT_TRUE(ended) << "the animation did not end within 10 s";

    const std::vector<std::string> expected = {"WWWWWWWW", "WWWWWWWW", "WWGGBBWW",
                                               "WWGGBBWW", "WWWWWWWW", "WWWWWWWW"};
    EXPECT_EQ(WindowRows(), expected);
    player.Stop();
    EXPECT_FALSE(player.playing);
    EXPECT_EQ(player.renderLoop.thread, nullptr);
    EXPECT_TRUE(player.Destroy());
    ExpectAllReleased();
}

}  // namespace
