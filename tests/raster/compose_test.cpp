// The compositor's documented cases: scaling, repetition copies, the nearest-edge rule,
// orientations, the colour paths and everything that must draw nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "raster/compositor.h"
#include "test_image.h"

namespace br::test {
namespace {

// A palette whose colours tell the index: red i, green 255 - i, blue 3i.
void FillPalette(TestImage& image) {
    for (int i = 0; i < 256; ++i) {
        image.SetPalette(i, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                         static_cast<std::uint8_t>(3 * i));
    }
}
std::uint32_t PaletteColour(int i) {
    return static_cast<std::uint32_t>(i) << 16 | static_cast<std::uint32_t>(255 - i) << 8 |
           static_cast<std::uint8_t>(3 * i);
}
// Colour pixels that tell their layer position: blue = column, green = row, red = 0x99.
void FillPositions(TestImage& image) {
    for (int r = 0; r < image.data.height; ++r) {
        for (int c = 0; c < image.data.width; ++c) {
            image.SetColour(c, r, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(r), 0x99);
        }
    }
}
std::uint32_t PositionColour(int column, int row) {
    return 0x990000u | static_cast<std::uint32_t>(row) << 8 | static_cast<std::uint32_t>(column);
}

TEST(ComposeLayer, CopiesEachPixelAtTheSameSizeAndLeavesTransparentPixelsAlone) {
    TestImage image(4, 3, 1);
    FillPalette(image);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) image.SetIndex(c, r, static_cast<std::uint8_t>(1 + c + 4 * r));
    }
    image.data.transparentIndex = 6;  // layer pixel (1, 1)
    Destination dest(4, 3);
    dest.Fill(0x01, 0x02, 0x03);
    const Size size(4, 3);
    ComposeLayer(image.data, Rect(0, 0, 4, 3), dest.Pixels(), 0, nullptr, &size, 0, nullptr,
                 nullptr, &size);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const std::uint32_t expected =
                (x == 1 && y == 1) ? 0x030201u : PaletteColour(1 + x + 4 * y);
            EXPECT_EQ(dest.Colour(x, y), expected) << "at " << x << "," << y;
        }
    }
    EXPECT_TRUE(dest.GuardsIntact());
}

TEST(ComposeLayer, EnlargingCopiesRepeatedColumnsAndRowsFromTheDestination) {
    // 10 x 10 shown at 20 x 20: the second of each pair of columns and rows is a copy of what
    // the destination holds after the first, also when the first was transparent.
    TestImage image(10, 10, 1);
    FillPalette(image);
    for (int r = 0; r < 10; ++r) {
        for (int c = 0; c < 10; ++c) image.SetIndex(c, r, static_cast<std::uint8_t>(c + 10 * r));
    }
    image.data.transparentIndex = 23;  // canvas (3, 2): display (6..7, 4..5)
    Destination dest(20, 20);
    const std::uint32_t before = dest.Colour(6, 4);
    ASSERT_NE(before, dest.Colour(7, 4));
    ASSERT_NE(before, dest.Colour(6, 5));
    const Size display(20, 20), canvas(10, 10);
    ComposeLayer(image.data, Rect(0, 0, 20, 20), dest.Pixels(), 0, nullptr, &display, 0, nullptr,
                 nullptr, &canvas);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            const int index = x / 2 + 10 * (y / 2);
            const std::uint32_t expected = index == 23 ? before : PaletteColour(index);
            EXPECT_EQ(dest.Colour(x, y), expected) << "at " << x << "," << y;
        }
    }
}

TEST(ComposeLayer, ReducingByHalfSamplesEverySecondRowAndColumn) {
    TestImage image(20, 20, 3);
    FillPositions(image);
    Destination dest(10, 10);
    const Size display(10, 10), canvas(20, 20);
    ComposeLayer(image.data, Rect(0, 0, 10, 10), dest.Pixels(), 0, nullptr, &display, 0, nullptr,
                 nullptr, &canvas);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            EXPECT_EQ(dest.Colour(x, y), PositionColour(2 * x, 2 * y)) << "at " << x << "," << y;
        }
    }
}

TEST(ComposeLayer, PointsOutsideTheLayerClipTakeTheNearestEdgePixel) {
    // A 2 x 2 frame at (2, 2) of a 6 x 6 canvas, clipped on the source side only: the whole
    // display is drawn, each point from the nearest pixel of the frame.
    TestImage image(2, 2, 3);
    FillPositions(image);
    Destination dest(6, 6);
    const Size size(6, 6);
    const Point origin(2, 2);
    const Rect frame(2, 2, 4, 4);
    ComposeLayer(image.data, Rect(0, 0, 6, 6), dest.Pixels(), 0, nullptr, &size, 0, &origin, &frame,
                 &size);
    const int nearest[6] = {0, 0, 0, 1, 1, 1};  // layer column (or row) for display 0..5
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(dest.Colour(x, y), PositionColour(nearest[x], nearest[y]))
                << "at " << x << "," << y;
        }
    }
}

TEST(ComposeLayer, OrientationOneTurnsTheCanvasClockwise) {
    // A 2 x 3 canvas (cw 2, ch 3) shown at 3 x 2.
    TestImage image(2, 3, 3);
    FillPositions(image);
    Destination dest(3, 2);
    const Size display(3, 2);
    ComposeLayer(image.data, Rect(0, 0, 3, 2), dest.Pixels(), 0, nullptr, &display, 1, nullptr,
                 nullptr, nullptr);
    const struct {
        int x, y, column, row;
    } expected[] = {
        {2, 0, 0, 0}, {1, 0, 0, 1}, {0, 0, 0, 2},  // top display row: canvas column 0, upwards
        {2, 1, 1, 0}, {1, 1, 1, 1}, {0, 1, 1, 2},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(dest.Colour(e.x, e.y), PositionColour(e.column, e.row))
            << "display " << e.x << "," << e.y;
    }
}

TEST(ComposeLayer, EachOrientationPutsTheExpectedCornerTopLeft) {
    // Which canvas pixel of a 2 x 3 canvas lands on display (0, 0); values outside 0..7 draw
    // as 7.
    const struct {
        Orientation orientation;
        int column, row;
    } table[] = {
        {0, 0, 0}, {1, 0, 2}, {2, 1, 2}, {3, 1, 0}, {4, 1, 0},
        {5, 0, 0}, {6, 0, 2}, {7, 1, 2}, {8, 1, 2}, {-1, 1, 2},
    };
    TestImage image(2, 3, 3);
    FillPositions(image);
    for (const auto& t : table) {
        const bool turned = t.orientation < 0 || t.orientation > 7 || t.orientation % 2 == 1;
        const Size display = turned ? Size(3, 2) : Size(2, 3);
        Destination dest(display.cx, display.cy);
        ComposeLayer(image.data, Rect(0, 0, display.cx, display.cy), dest.Pixels(), 0, nullptr,
                     &display, t.orientation, nullptr, nullptr, nullptr);
        EXPECT_EQ(dest.Colour(0, 0), PositionColour(t.column, t.row))
            << "orientation " << t.orientation;
    }
}

TEST(ComposeLayer, MaskBlendsColourPixelsOnlyWhenAColourKeyIsSet) {
    // Layer pixels all (blue 200, green 100, red 50) over a destination of (10, 20, 30);
    // mask bytes 0, 255 and 128.
    TestImage image(3, 1, 3, /*withMask=*/true);
    for (int c = 0; c < 3; ++c) image.SetColour(c, 0, 200, 100, 50);
    image.SetMask(0, 0, 0);
    image.SetMask(1, 0, 255);
    image.SetMask(2, 0, 128);
    const Size size(3, 1);

    Destination plain(3, 1);
    plain.Fill(10, 20, 30);
    image.data.transparentIndex = -1;  // no key: copied whatever the mask says
    ComposeLayer(image.data, Rect(0, 0, 3, 1), plain.Pixels(), 0, nullptr, &size, 0, nullptr,
                 nullptr, nullptr);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(plain.Colour(x, 0), 0x3264C8u) << "at " << x;

    Destination blended(3, 1);
    blended.Fill(10, 20, 30);
    image.data.transparentIndex = 0x00C86432;  // equals the pixels' colour: not compared
    ComposeLayer(image.data, Rect(0, 0, 3, 1), blended.Pixels(), 0, nullptr, &size, 0, nullptr,
                 nullptr, nullptr);
    EXPECT_EQ(blended.Colour(0, 0), 0x1E140Au);  // mask 0: unchanged
    EXPECT_EQ(blended.Colour(1, 0), 0x3264C8u);  // mask 255: exactly the pixel
    // mask 128: (127 * d + 128 * p) / 255 per byte, rounded down: 105, 60, 40
    EXPECT_EQ(blended.Colour(2, 0), 0x283C69u);
}

TEST(ComposeLayer, ColourKeyWithoutMaskSkipsMatchingPixelsAndIgnoresTheFourthByte) {
    TestImage image(2, 1, 4);
    image.SetColour(0, 0, 0x33, 0x22, 0x11);  // the key: red 0x11, green 0x22, blue 0x33
    image.Pixel(0, 0)[3] = 0x7F;
    image.SetColour(1, 0, 0x33, 0x22, 0x12);  // one bit off
    image.Pixel(1, 0)[3] = 0x00;
    image.data.transparentIndex = 0x00332211;
    Destination dest(2, 1);
    dest.Fill(1, 2, 3);
    ComposeLayer(image.data, Rect(0, 0, 2, 1), dest.Pixels(), 0, nullptr, nullptr, 0, nullptr,
                 nullptr, nullptr);
    EXPECT_EQ(dest.Colour(0, 0), 0x030201u);
    EXPECT_EQ(dest.Colour(1, 0), 0x122233u);
}

TEST(ComposeLayer, WritesOnlyInsideTheClipOfARowSkippingDestination) {
    TestImage image(8, 8, 1);
    FillPalette(image);
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) image.SetIndex(c, r, 5);
    }
    Destination dest(8, 8, /*rowSkip=*/3);
    const Rect clip(2, 3, 5, 7);
    ComposeLayer(image.data, Rect(0, 0, 8, 8), dest.Pixels(), 3, &clip, nullptr, 0, nullptr,
                 nullptr, nullptr);
    Destination untouched(8, 8, 3);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 11; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 3 && y < 7;
            EXPECT_EQ(dest.Colour(x, y), inside ? PaletteColour(5) : untouched.Colour(x, y))
                << "at " << x << "," << y;
        }
    }
    EXPECT_TRUE(dest.GuardsIntact());
}

TEST(ComposeLayer, LargeDisplaySizesDoNotOverflowTheScaleArithmetic) {
    // Display 100000 x 100000 of a 50000 x 50000 canvas: x * cw reaches 5e9, beyond 32 bits.
    // The last 10 x 10 display pixels show the last 5 x 5 canvas pixels, each doubled.
    TestImage image(10, 10, 3);
    FillPositions(image);
    Destination dest(10, 10);
    const Size display(100000, 100000), canvas(50000, 50000);
    const Point origin(49990, 49990);
    ComposeLayer(image.data, Rect(99990, 99990, 100000, 100000), dest.Pixels(), 0, nullptr,
                 &display, 0, &origin, nullptr, &canvas);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            EXPECT_EQ(dest.Colour(x, y), PositionColour(5 + x / 2, 5 + y / 2))
                << "at " << x << "," << y;
        }
    }
}

TEST(ComposeLayer, DrawsNothingWithoutSomethingToDrawOrSomewhereToDrawIt) {
    enum Case {
        kEmptyBuffer,
        kNoColourPlane,
        kEmptyClip,
        kAreaOutsideTheDisplay,
        kLayerClipOutsideTheLayer,
        kLayerOutsideTheCanvas,
        kTwoBytesPerPixel,  // no colour layout to read
        kNoPalette,
    };
    const struct {
        Case what;
        const char* name;
    } cases[] = {
        {kEmptyBuffer, "empty buffer"},
        {kNoColourPlane, "no colour plane"},
        {kEmptyClip, "empty clip"},
        {kAreaOutsideTheDisplay, "area outside the display"},
        {kLayerClipOutsideTheLayer, "layer clip outside the layer"},
        {kLayerOutsideTheCanvas, "layer outside the canvas"},
        {kTwoBytesPerPixel, "two bytes per pixel"},
        {kNoPalette, "no palette"},
    };
    for (const auto& c : cases) {
        TestImage image(4, 4, c.what == kTwoBytesPerPixel ? 2 : 1);
        if (c.what == kEmptyBuffer) image.data.width = 0;
        if (c.what == kNoColourPlane) image.data.colorBitmap = nullptr;
        if (c.what == kNoPalette) image.data.palette = nullptr;
        Rect area(0, 0, 4, 4);
        Size display(4, 4);
        if (c.what == kAreaOutsideTheDisplay) area = Rect(4, 0, 8, 4);
        const Rect emptyClip(1, 1, 1, 3);
        const Rect layerClip(10, 10, 20, 20);
        const Point origin(6, 0);
        Destination dest(4, 4);
        const std::vector<std::uint8_t> before = dest.Bytes();
        ComposeLayer(image.data, area, dest.Pixels(), 0,
                     c.what == kEmptyClip ? &emptyClip : nullptr, &display, 0,
                     c.what == kLayerOutsideTheCanvas ? &origin : nullptr,
                     c.what == kLayerClipOutsideTheLayer ? &layerClip : nullptr, &display);
        EXPECT_EQ(dest.Bytes(), before) << c.name;
    }
}

}  // namespace
}  // namespace br::test
