// The pieces of `make` that decide what the device holds: the changed rectangles, merged
// frames and exact palettes of the GIF maker, and where the fitter puts the picture.
#include <gtest/gtest.h>

#include "platform/sim/device.h"
#include "preview/make/gif_maker.h"
#include "preview/make/source_frames.h"
#include "preview/picture_report.h"

namespace preview {
namespace {

void Fill(RgbImage* image, int x0, int y0, int w, int h, std::uint8_t r, std::uint8_t g,
          std::uint8_t b) {
    for (int y = y0; y < y0 + h; ++y) {
        for (int x = x0; x < x0 + w; ++x) {
            std::uint8_t* p = image->At(x, y);
            p[0] = r, p[1] = g, p[2] = b;
        }
    }
}

TEST(GifMaker, KeepsOnlyTheChangedRectangleMergesStillFramesAndEndsWithAOnePixelFrame) {
    GifMaker maker(32, 24, MakerSettings());
    RgbImage picture(32, 24, 10, 20, 30);
    Fill(&picture, 0, 0, 4, 4, 200, 0, 0);
    maker.Add(picture, 4);
    maker.Add(picture, 4);  // the same picture: the first frame stays 80 ms
    RgbImage moved = picture;
    Fill(&moved, 5, 7, 3, 2, 255, 255, 255);
    moved.At(6, 8)[0] = 10, moved.At(6, 8)[1] = 20, moved.At(6, 8)[2] = 30;  // unchanged pixel
    maker.Add(moved, 4);
    // A change below the threshold is not worth a frame.
    RgbImage faint = moved;
    faint.At(20, 20)[0] += 3;
    maker.Add(faint, 6);
    maker.Finish(50);
    // Only colours the pictures hold: the screen is exactly the source.
    EXPECT_TRUE(maker.Canvas() == moved);

    std::vector<std::uint8_t> gif;
    std::string error;
    ASSERT_TRUE(maker.Write(&gif, &error)) << error;
    plat::sim::Reset();
    const PictureReport report = AnalysePicture("made.gif", gif, 32, 24, 0);
    ASSERT_EQ(report.frames.size(), 3u);
    const FrameReport& first = report.frames[0];
    EXPECT_EQ(std::make_tuple(first.left, first.top, first.width, first.height, first.delayCs),
              std::make_tuple(0, 0, 32, 24, 8));
    EXPECT_EQ(first.transparentIndex, -1);
    const FrameReport& second = report.frames[1];
    EXPECT_EQ(std::make_tuple(second.left, second.top, second.width, second.height, second.delayCs),
              std::make_tuple(5, 7, 3, 2, 50));  // held, with the faint frame's time in it
    EXPECT_GE(second.transparentIndex, 0);
    const FrameReport& end = report.frames[2];
    EXPECT_EQ(std::make_tuple(end.width, end.height, end.delayCs), std::make_tuple(1, 1, 2));
    EXPECT_EQ(report.loopCount, -1);
    EXPECT_TRUE(report.warnings.empty());
}

TEST(ScreenFitter, PlacesThePictureAsTheDeviceCentresIt) {
    const struct {
        int sourceW, sourceH;
        FitMode mode;
        int left, top, width, height;
    } cases[] = {
        {320, 240, FitMode::Letterbox, 0, 70, 240, 180},  // bars above and below
        {100, 100, FitMode::Letterbox, 0, 40, 240, 240},  // enlarged to the width
        {240, 640, FitMode::Letterbox, 60, 0, 120, 320},  // bars at the sides
        {320, 240, FitMode::Fill, 0, 0, 240, 320},        // covered, the sides cut
        {240, 320, FitMode::Fill, 0, 0, 240, 320},
    };
    for (const auto& c : cases) {
        ScreenFitter fitter(240, 320, c.mode, 0x102030);
        const RgbImage screen = fitter.Fit(RgbImage(c.sourceW, c.sourceH, 200, 200, 200));
        EXPECT_EQ(std::make_tuple(fitter.ContentLeft(), fitter.ContentTop(),
                                  fitter.ContentWidth(), fitter.ContentHeight()),
                  std::make_tuple(c.left, c.top, c.width, c.height))
            << c.sourceW << "x" << c.sourceH;
        EXPECT_EQ(screen.At(c.left + c.width / 2, c.top + c.height / 2)[0], 200);
        if (c.top > 0 || c.left > 0) {
            EXPECT_EQ(screen.At(0, 0)[2], 0x30);  // the bar's colour
        }
    }
}

}  // namespace
}  // namespace preview

namespace preview {
namespace {

TEST(GifMaker, TwoChangesFarApartBecomeTwoSmallFramesOnePassApart) {
    GifMaker maker(64, 64, MakerSettings());
    RgbImage picture(64, 64, 0, 0, 80);
    maker.Add(picture, 4);
    Fill(&picture, 2, 2, 4, 4, 255, 200, 0);     // a spinner at the top left
    Fill(&picture, 50, 58, 10, 3, 255, 255, 255);  // a bar at the bottom right
    maker.Add(picture, 6);
    maker.Finish(0);  // no hold beyond its own time
    std::vector<std::uint8_t> gif;
    std::string error;
    ASSERT_TRUE(maker.Write(&gif, &error)) << error;
    plat::sim::Reset();
    const PictureReport report = AnalysePicture("made.gif", gif, 64, 64, 0);
    ASSERT_EQ(report.frames.size(), 4u);
    const FrameReport& a = report.frames[1];
    const FrameReport& b = report.frames[2];
    EXPECT_EQ(std::make_tuple(a.left, a.top, a.width, a.height, a.delayCs),
              std::make_tuple(2, 2, 4, 4, 2));
    EXPECT_EQ(std::make_tuple(b.left, b.top, b.width, b.height, b.delayCs),
              std::make_tuple(50, 58, 10, 3, 4));
    EXPECT_TRUE(maker.Canvas() == picture);
    EXPECT_TRUE(report.warnings.empty());
}

}  // namespace
}  // namespace preview
