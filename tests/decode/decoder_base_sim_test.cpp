// The decoder base when the device cannot create a frame's pixel buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decoder.h"
#include "decode/memory_source.h"
#include "platform/sim/device.h"
#include "test_support.h"

namespace br {
namespace {

using test::ScriptedDecoder;
using Calls = std::vector<std::string>;

TEST(DecoderBaseSimTest, APixelBufferThatCannotBeCreatedFailsTheOperation) {
    const int gdiBefore = plat::sim::Live().gdiObjects;
    const std::vector<std::uint8_t> bytes = {0};
    MemorySource source{bytes};
    ScriptedDecoder decoder;
    decoder.frames.resize(2);
    decoder.frames[0].frameRect = Rect(0, 0, 2, 2);
    decoder.frames[1].frameRect = Rect(0, 0, 64, 64);
    plat::sim::FailBitmapsAbove(1000);
    CImgInfo image;
    FrameList frames = nullptr;
    EXPECT_EQ(decoder.DecodeFramesByPercent(&source, &image, &frames, 100), 0);
    // Found out before any frame is decoded.
    EXPECT_EQ(decoder.calls, (Calls{"info", "frame 0", "frame 1", "release"}));
    test::ExpectError(decoder.lastError, ErrorOutOfMemory, 3003, 122, 530);
    plat::sim::FailBitmapsAbove(0);
    EXPECT_EQ(plat::sim::Live().gdiObjects, gdiBefore) << "bitmaps left behind";
}

}  // namespace
}  // namespace br
