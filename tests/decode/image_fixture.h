// The pixel buffer tests' fixture: checks that every test deletes the bitmaps it made, and
// helpers to create a buffer catching its error and to check that a buffer is empty.
#pragma once

#include <gtest/gtest.h>

#include "decode/error.h"
#include "decode/image.h"
#include "tests/platform/fixture.h"

namespace br {

class ImageDataTest : public ::testing::Test {
  protected:
    void SetUp() override { gdiBefore = platform_test::LiveGdiObjects(); }
    void TearDown() override {
        EXPECT_EQ(platform_test::LiveGdiObjects(), gdiBefore) << "bitmaps left behind";
    }

    static void ExpectEmpty(const CImgData& data) {
        EXPECT_EQ(data.width, 0);
        EXPECT_EQ(data.height, 0);
        EXPECT_EQ(data.rowPadding, 0);
        EXPECT_EQ(data.colorBitmap, nullptr);
        EXPECT_EQ(data.colorBits, nullptr);
        EXPECT_EQ(data.maskBitmap, nullptr);
        EXPECT_EQ(data.maskBits, nullptr);
        EXPECT_EQ(data.palette, nullptr);
        EXPECT_EQ(data.transparentIndex, -1);
        EXPECT_TRUE(data.ownsPalette);
    }

    // Runs Create and returns the error it threw (null when it succeeded).
    static CIAException* CreateCatching(CImgData& data, std::int32_t w, std::int32_t h,
                                        std::uint8_t b, std::int32_t withMask) {
        try {
            data.Create(w, h, b, withMask);
        } catch (CIAException* error) {
            return error;
        }
        return nullptr;
    }

    int gdiBefore = 0;
};

}  // namespace br
