// What the screen shows during a show, pixel by pixel: disposal methods, transparency, the
// picture's place on screens smaller than, equal to and larger than it, and frames decoded at
// a reduced size when bitmap memory is short.
#include <gtest/gtest.h>

#include <algorithm>

#include "host/bootreel.h"
#include "show_testkit.h"

namespace {

using showtest::GifFrame;
using showtest::MakeGif;
using showtest::SolidFrame;
using Rows = std::vector<std::string>;

class Render : public showtest::ShowFixture {
  protected:
    void BootScreen(int width, int height) {
        plat::sim::DeviceConfig config;
        config.screenWidth = width;
        config.screenHeight = height;
        Boot(config);
    }

    // Plays the picture as a start-up show and returns the distinct screens it showed.
    std::vector<Rows> Play(const std::vector<std::uint8_t>& gif) {
        InstallPicture(u"Startup", gif);
        DoStartupAnimation(nullptr, endRequest_, done_);
        const auto& config = plat::sim::Config();
        return ScreensShown(0, 0, config.screenWidth, config.screenHeight);
    }
};

TEST_F(Render, DisposalMethodsDecideWhatTheNextFrameIsComposedOver) {
    BootScreen(4, 2);
    const std::vector<Rows> shown =
        Play(MakeGif(4, 2,
                     {
                         SolidFrame(0, 0, 4, 2, 'R', 0, 1),  // leave in place
                         SolidFrame(1, 0, 2, 1, 'G', 0, 2),  // restore to background (white)
                         SolidFrame(0, 1, 1, 1, 'B', 0, 3),  // restore to the state before it
                         SolidFrame(3, 1, 1, 1, 'Y', 0, 0),  // no disposal given: stays
                         SolidFrame(3, 0, 1, 1, 'K', 0, 1),
                     }));
    const std::vector<Rows> expected = {
        {"RRRR", "RRRR"}, {"RGGR", "RRRR"}, {"RWWR", "BRRR"}, {"RWWR", "RRRY"}, {"RWWK", "RRRY"},
    };
    EXPECT_EQ(shown, expected);
}

TEST_F(Render, DisposalToBackgroundOverTheWholePictureLeavesPlainBackground) {
    BootScreen(4, 2);
    const std::vector<Rows> shown = Play(MakeGif(4, 2,
                                                 {
                                                     SolidFrame(0, 0, 4, 2, 'R', 0, 2),
                                                     SolidFrame(1, 1, 1, 1, 'B', 0, 1),
                                                 }));
    const std::vector<Rows> expected = {{"RRRR", "RRRR"}, {"WWWW", "WBWW"}};
    EXPECT_EQ(shown, expected);
}

TEST_F(Render, TransparentPixelsShowTheEarlierFrames) {
    BootScreen(4, 2);
    const std::vector<Rows> shown = Play(MakeGif(4, 2,
                                                 {
                                                     SolidFrame(0, 0, 4, 2, 'R', 0, 1),
                                                     GifFrame{0, 0, {"G.G.", ".GG."}, 0, 1},
                                                     GifFrame{1, 0, {"..", "BB"}, 0, 1},
                                                 }));
    const std::vector<Rows> expected = {
        {"RRRR", "RRRR"},
        {"GRGR", "RGGR"},
        {"GRGR", "RBBR"},
    };
    EXPECT_EQ(shown, expected);
}

TEST_F(Render, PictureIsCentredOnALargerScreenAndCutOnASmallerOne) {
    // A 4 x 2 picture with a distinct colour in each column and row.
    const auto picture = [] {
        return MakeGif(
            4, 2, {GifFrame{0, 0, {"RGBY", "CMKR"}, 0, 1}, GifFrame{0, 0, {"RGBY", "CMKR"}, 0, 1}});
    };
    struct Case {
        int width;
        int height;
        Rows screen;
    };
    const std::vector<Case> cases = {
        // Smaller than the screen: centred, white around it. (8 - 4) / 2 = 2 columns on each
        // side; (5 - 2) / 2 truncates to 1 row above and leaves 2 below.
        {8, 5, {"WWWWWWWW", "WWRGBYWW", "WWCMKRWW", "WWWWWWWW", "WWWWWWWW"}},
        // Exactly the screen's size.
        {4, 2, {"RGBY", "CMKR"}},
        // Larger than the screen: the centre part shows, cut at the edges.
        {2, 1, {"GB"}},
        // Narrower but taller: cut in width, centred in height.
        {2, 4, {"WW", "GB", "MK", "WW"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        BootScreen(c.width, c.height);
        const std::vector<Rows> shown = Play(picture());
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), c.screen);
        EXPECT_EQ(shown.size(), 1u);
    }
}

TEST_F(Render, FramesInsideALargerPictureKeepTheirPlaceOnAShiftedScreen) {
    // A 6 x 4 picture on a 4 x 2 screen shows columns 1..4 and rows 1..2.
    BootScreen(4, 2);
    const std::vector<Rows> shown = Play(MakeGif(6, 4,
                                                 {
                                                     SolidFrame(0, 0, 6, 4, 'R', 0, 1),
                                                     SolidFrame(4, 2, 2, 2, 'G', 0, 1),
                                                     SolidFrame(0, 0, 2, 2, 'B', 0, 1),
                                                 }));
    const std::vector<Rows> expected = {
        {"RRRR", "RRRR"},
        {"RRRR", "RRRG"},
        {"BRRR", "RRRG"},
    };
    EXPECT_EQ(shown, expected);
}

TEST_F(Render, PictureThatOnlyFitsAtAQuarterPlaysWithFramesInTheirPlaces) {
    // A 64 x 64 picture on a 16 x 16 screen, which shows picture columns and rows 24..39. A
    // full-size frame needs 4096 bytes of bitmap, a half-size one 1024; the limit lets through
    // only quarter-size frames (256 bytes) and the two 768-byte drawing surfaces.
    BootScreen(16, 16);
    plat::sim::FailBitmapsAbove(800);
    const std::vector<Rows> shown = Play(MakeGif(64, 64,
                                                 {
                                                     SolidFrame(0, 0, 64, 64, 'R', 0, 1),
                                                     SolidFrame(32, 32, 32, 32, 'G', 0, 1),
                                                     SolidFrame(24, 28, 8, 4, 'B', 0, 1),
                                                 }));
    Rows first(16, std::string(16, 'R'));
    Rows second = first;
    for (int y = 8; y < 16; ++y) second[y] = "RRRRRRRRGGGGGGGG";
    Rows third = second;
    for (int y = 4; y < 8; ++y) third[y] = "BBBBBBBBRRRRRRRR";
    EXPECT_EQ(shown, (std::vector<Rows>{first, second, third}));
    EXPECT_EQ(plat::sim::Live().bitmapBytes, 0u);
}

TEST_F(Render, WindowChangingSizeDuringTheShowChangesNothingDrawn) {
    // The window grows past the surface the show made for it (a device turning its screen), or
    // shrinks, between two frames. The show goes on composing into the surface it started with,
    // within its bounds, so the part of the screen the window covers shows what it would have.
    const std::vector<std::uint8_t> picture =
        MakeGif(8, 4,
                {SolidFrame(0, 0, 8, 4, 'K'), GifFrame{0, 0, {"KKKKKKKK", "KKRGBYKK", "KKCMRGKK"}},
                 GifFrame{1, 1, {"BBBBBB", "YCMRGB"}}, GifFrame{2, 2, {"WWWWWW", "WWWWWW"}}});
    BootScreen(4, 2);
    const std::vector<Rows> unmoved = Play(picture);
    ASSERT_EQ(unmoved.size(), 4u);
    const int sizes[][2] = {{8, 4}, {64, 32}, {2, 1}, {3, 5}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(::testing::Message() << size[0] << " x " << size[1]);
        BootScreen(4, 2);
        // Frames come at 0, 20, 40 and 60 ms; the window changes between the second and third.
        At(30, [&size] {
            plat::MoveWindow(plat::FindWindow(u"StartUpAnimation", nullptr), 0, 0, size[0], size[1],
                             false);
        });
        InstallPicture(u"Startup", picture);
        DoStartupAnimation(nullptr, endRequest_, done_);
        const int width = std::min(size[0], 4);
        const int height = std::min(size[1], 2);
        std::vector<Rows> expected;
        for (const Rows& rows : unmoved) {
            Rows part;
            for (int y = 0; y < height; ++y) part.push_back(rows[y].substr(0, width));
            if (expected.empty() || expected.back() != part) expected.push_back(part);
        }
        EXPECT_EQ(ScreensShown(0, 0, width, height), expected);
    }
}

}  // namespace
