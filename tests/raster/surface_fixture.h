// The drawing surface tests' fixture: a fresh device, and every surface deleted at the end.
#pragma once

#include <gtest/gtest.h>

#include "tests/platform/fixture.h"

namespace br::test {

using platform_test::LiveGdiObjects;

class SurfaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform_test::FreshDevice();
        gdiBefore_ = LiveGdiObjects();
    }
    void TearDown() override { EXPECT_EQ(LiveGdiObjects(), gdiBefore_) << "surfaces left behind"; }

  private:
    int gdiBefore_ = 0;
};

}  // namespace br::test
