// Pixel buffers whose bitmaps the device cannot create: what a failed plane leaves behind.
#include <gtest/gtest.h>

#include "decode/error.h"
#include "decode/image.h"
#include "platform/sim/device.h"
#include "test_support.h"
#include "tests/decode/image_fixture.h"

namespace br {
namespace {

// The device's bitmap limits apply to one test only.
class ImageDataSimTest : public ImageDataTest {
  protected:
    void TearDown() override {
        plat::sim::FailBitmapsAbove(0);
        plat::sim::SetBitmapMemoryLimit(0);
        ImageDataTest::TearDown();
    }
};

TEST_F(ImageDataSimTest, AFailedColourPlaneLeavesTheBufferEmpty) {
    CImgData data;
    data.Create(4, 4, 1, 0);  // filled before: the failing Create releases it
    plat::sim::FailBitmapsAbove(15);
    CIAException* error = CreateCatching(data, 8, 8, 1, 1);
    test::ExpectError(error, ErrorOutOfMemory, 3003, 122, 530);
    delete error;
    ExpectEmpty(data);
}

TEST_F(ImageDataSimTest, AFailedMaskPlaneDeletesTheColourPlaneAgain) {
    const int before = platform_test::LiveGdiObjects();
    // The colour plane (4 rows of 4 bytes) fits the device's memory; the mask does not.
    plat::sim::SetBitmapMemoryLimit(plat::sim::Live().bitmapBytes + 20);
    CImgData data;
    CIAException* error = CreateCatching(data, 4, 4, 1, 1);
    test::ExpectError(error, ErrorOutOfMemory, 3003, 122, 542);
    delete error;
    ExpectEmpty(data);
    EXPECT_EQ(platform_test::LiveGdiObjects(), before);
}

}  // namespace
}  // namespace br
