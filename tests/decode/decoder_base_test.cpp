// The decoder base's public operations, driven through a scripted decoder: the order of the
// primitive calls, the error handling of the guarded blocks, and the sizing of frame buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decoder.h"
#include "decode/memory_source.h"
#include "test_support.h"
#include "tests/platform/fixture.h"

namespace br {
namespace {

using test::CountingError;
using test::ScriptedDecoder;
using Calls = std::vector<std::string>;

void DeleteFrames(FrameList list, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) delete list[i];
    FreeFrameList(list, count);
}

void ExpectRect(const Rect& r, std::int32_t l, std::int32_t t, std::int32_t rt, std::int32_t b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rt);
    EXPECT_EQ(r.bottom, b);
}

class DecoderBaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CountingError::live = 0;
        gdiBefore = platform_test::LiveGdiObjects();
    }
    void TearDown() override {
        EXPECT_EQ(platform_test::LiveGdiObjects(), gdiBefore) << "bitmaps left behind";
    }

    const std::vector<std::uint8_t> bytes = {0};
    MemorySource source{bytes};
    ScriptedDecoder decoder;
    int gdiBefore = 0;
};

// ---- Image and frame information -------------------------------------------------------

TEST_F(DecoderBaseTest, GetImageInfoReadsIntoTheCallersRecordAndReleasesTheStream) {
    DecoderImageInfo info;
    PresetImageInfo(&info);
    info.extraB = 5;  // the caller's values are not preset again
    decoder.frames.resize(2);
    EXPECT_EQ(decoder.GetImageInfo(&source, &info), 1);
    EXPECT_EQ(decoder.calls, (Calls{"info", "release"}));
    EXPECT_EQ(info.frameCount, 2);
    EXPECT_EQ(info.extraB, 5);
    EXPECT_EQ(decoder.lastError, nullptr);
}

TEST_F(DecoderBaseTest, AFailureKeepsTheThrownErrorAndTheNextFailureReplacesIt) {
    DecoderImageInfo info;
    decoder.failAt = "info";
    decoder.failSite = 7;
    EXPECT_EQ(decoder.GetImageInfo(&source, &info), 0);
    EXPECT_EQ(decoder.calls, (Calls{"info", "release"}));
    test::ExpectError(decoder.lastError, ErrorCorruptData, 1, 2, 7);
    EXPECT_EQ(CountingError::live, 1);

    decoder.failSite = 8;
    EXPECT_EQ(decoder.GetImageInfo(&source, &info), 0);
    test::ExpectError(decoder.lastError, ErrorCorruptData, 1, 2, 8);
    EXPECT_EQ(CountingError::live, 1);  // the first one was deleted

    decoder.failAt.clear();
    EXPECT_EQ(decoder.GetImageInfo(&source, &info), 1);
    EXPECT_NE(decoder.lastError, nullptr);  // success leaves the last error alone
}

TEST_F(DecoderBaseTest, TheDecoderDeletesItsLastErrorWhenDestroyed) {
    {
        ScriptedDecoder local;
        local.failAt = "info";
        EXPECT_EQ(local.GetImageInfo(&source, nullptr), 0);
        EXPECT_EQ(CountingError::live, 1);
    }
    EXPECT_EQ(CountingError::live, 0);
}

TEST_F(DecoderBaseTest, GetFrameInfoReadsTheImageFirstAndReleasesOnEveryPath) {
    decoder.frames.resize(3);
    decoder.frames[2].frameRect = Rect(1, 2, 3, 4);
    decoder.frames[2].delay = 40;
    DecoderFrameInfo frame;
    PresetFrameInfo(&frame);
    EXPECT_EQ(decoder.GetFrameInfo(&source, &frame, 2), 1);
    EXPECT_EQ(decoder.calls, (Calls{"info", "frame 2", "release"}));
    ExpectRect(frame.frameRect, 1, 2, 3, 4);
    EXPECT_EQ(frame.delay, 40);

    decoder.calls.clear();
    decoder.failAt = "frame 2";
    EXPECT_EQ(decoder.GetFrameInfo(&source, &frame, 2), 0);
    EXPECT_EQ(decoder.calls, (Calls{"info", "frame 2", "release"}));
    EXPECT_NE(decoder.lastError, nullptr);
}

// ---- Decoding by percent -------------------------------------------------------------------

TEST_F(DecoderBaseTest, DecodesEveryFrameInOrderAtThePercentage) {
    decoder.width = 20;
    decoder.height = 30;
    decoder.frames.resize(4);
    decoder.frames[0].frameRect = Rect(0, 0, 3, 5);  // 50 %: 1 x 2
    decoder.frames[0].delay = 0x12345;               // low 16 bits reach the layer
    decoder.frames[0].disposal = 2;
    decoder.frames[0].transparentIndex = 9;
    decoder.frames[1].frameRect = Rect(4, 4, 4, 9);  // no width: no buffer, no decode
    decoder.frames[2].frameRect = Rect(7, 7, 8, 8);  // 1 x 1 at 50 %: empty, still listed
    decoder.frames[3].frameRect = Rect(2, 2, 12, 6);
    decoder.frames[3].withMask = 1;

    CImgInfo image;
    image.extraB = 44;
    FrameList frames = nullptr;
    ASSERT_EQ(decoder.DecodeFramesByPercent(&source, &image, &frames, 50), 1);
    // Every buffer is made before the first decode.
    EXPECT_EQ(decoder.calls, (Calls{"info", "frame 0", "frame 1", "frame 2", "frame 3", "decode 0",
                                    "decode 2", "decode 3", "release"}));
    ASSERT_NE(frames, nullptr);

    EXPECT_EQ(image.format, FormatGif);
    EXPECT_EQ(image.width, 20);
    EXPECT_EQ(image.height, 30);
    EXPECT_EQ(image.frameCount, 4);
    EXPECT_EQ(image.colorCount, 256);
    EXPECT_EQ(image.backgroundColor, 0x00112233u);
    EXPECT_EQ(image.extraA, 1);
    EXPECT_EQ(image.extraB, 44);  // not the decoder's to change

    const CImgLayer& first = *frames[0];
    EXPECT_EQ(first.image.width, 1);
    EXPECT_EQ(first.image.height, 2);
    EXPECT_EQ(first.delay, 0x2345);
    EXPECT_EQ(first.disposal, 2);
    EXPECT_EQ(first.image.transparentIndex, 9);
    ExpectRect(first.decodedRect, 0, 0, 3, 5);
    EXPECT_EQ(first.image.colorBits[0], 1);  // the decode went into the layer's buffer

    EXPECT_EQ(frames[1]->image.width, 0);
    EXPECT_TRUE(frames[1]->decodedRect.IsEmpty());
    EXPECT_EQ(frames[2]->image.width, 0);
    ExpectRect(frames[2]->frameRect, 7, 7, 8, 8);

    EXPECT_EQ(frames[3]->image.width, 5);
    EXPECT_EQ(frames[3]->image.height, 2);
    EXPECT_NE(frames[3]->image.maskBits, nullptr);

    ASSERT_EQ(decoder.decodes.size(), 3u);
    const test::DecodeCall& call = decoder.decodes[2];
    EXPECT_EQ(call.targetWidth, 5);
    EXPECT_EQ(call.targetHeight, 2);
    EXPECT_EQ(call.targetRowPadding, 3);
    EXPECT_TRUE(call.hasBits);
    EXPECT_TRUE(call.hasPalette);
    ExpectRect(call.clipRect, 2, 2, 12, 6);
    DeleteFrames(frames, 4);
}

TEST_F(DecoderBaseTest, AFailingFrameUndoesEverythingAndReleasesOnce) {
    decoder.frames.resize(3);
    for (auto& f : decoder.frames) f.frameRect = Rect(0, 0, 4, 4);
    decoder.failAt = "decode 1";
    decoder.failSite = 64;
    CImgInfo image;
    image.palette = AllocatePaletteCopy(16);  // reset (freed) by the failure
    FrameList frames = reinterpret_cast<FrameList>(&image);
    EXPECT_EQ(decoder.DecodeFramesByPercent(&source, &image, &frames, 100), 0);
    EXPECT_EQ(frames, nullptr);
    EXPECT_EQ(decoder.calls,
              (Calls{"info", "frame 0", "frame 1", "frame 2", "decode 0", "decode 1", "release"}));
    EXPECT_EQ(image.frameCount, 0);
    EXPECT_EQ(image.palette, nullptr);
    test::ExpectError(decoder.lastError, ErrorCorruptData, 1, 2, 64);
}

TEST_F(DecoderBaseTest, FrameCountsWithoutAUsableListFailWithTheirOwnSites) {
    const struct {
        std::int32_t frameCount;
        std::uint32_t code;
        std::uint32_t site;
    } cases[] = {
        {0, ErrorNoFrames, 2},
        {-1, ErrorOutOfMemory, 3},
        {1 << 30, ErrorOutOfMemory, 3},
    };
    for (const auto& c : cases) {
        ScriptedDecoder d;
        d.frameCount = c.frameCount;
        CImgInfo image;
        FrameList frames = nullptr;
        EXPECT_EQ(d.DecodeFramesByPercent(&source, &image, &frames, 100), 0);
        EXPECT_EQ(d.calls, (Calls{"info", "release"}));
        test::ExpectError(d.lastError, c.code, 30001, 146, c.site);
        EXPECT_EQ(image.frameCount, 0);  // reset by the failure
        EXPECT_EQ(frames, nullptr);
    }
}

TEST_F(DecoderBaseTest, TheColourCountFollowsTheDepth) {
    const struct {
        std::int32_t bits;
        std::int32_t colours;
    } cases[] = {{1, 2}, {4, 16}, {8, 256}, {24, 16777216}, {32, 16777216}};
    for (const auto& c : cases) {
        ScriptedDecoder d;
        d.bitsPerPixel = c.bits;
        d.frames.resize(1);
        CImgInfo image;
        FrameList frames = nullptr;
        ASSERT_EQ(d.DecodeFramesByPercent(&source, &image, &frames, 100), 1);
        EXPECT_EQ(image.colorCount, c.colours) << c.bits;
        DeleteFrames(frames, 1);
    }
}

TEST_F(DecoderBaseTest, WithoutAFrameListToFillNothingIsDecoded) {
    decoder.frames.resize(1);
    CImgInfo image;
    EXPECT_EQ(decoder.DecodeFramesByPercent(&source, &image, nullptr, 100), 0);
    EXPECT_EQ(decoder.DecodeFramesToSize(&source, &image, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(decoder.calls.empty());
}

// ---- Decoding to a size ------------------------------------------------------------------

TEST_F(DecoderBaseTest, ATargetOfTheScreenSizeGivesEveryFrameItsOwnSize) {
    decoder.width = 16;
    decoder.height = 8;
    decoder.frames.resize(2);
    decoder.frames[0].frameRect = Rect(0, 0, 16, 8);
    decoder.frames[1].frameRect = Rect(3, 1, 8, 4);
    const TargetSize same{16, 8};
    CImgInfo image;
    FrameList frames = nullptr;
    ASSERT_EQ(decoder.DecodeFramesToSize(&source, &image, &frames, &same, nullptr), 1);
    EXPECT_EQ(frames[0]->image.width, 16);
    EXPECT_EQ(frames[0]->image.height, 8);
    EXPECT_EQ(frames[1]->image.width, 5);
    EXPECT_EQ(frames[1]->image.height, 3);
    ExpectRect(frames[1]->decodedRect, 3, 1, 8, 4);
    DeleteFrames(frames, 2);
}

TEST_F(DecoderBaseTest, TheClipLimitsWhatIsDecodedAndAMissedFrameGetsNoPixels) {
    decoder.width = 40;
    decoder.height = 40;
    decoder.frames.resize(3);
    decoder.frames[0].frameRect = Rect(0, 0, 40, 40);
    decoder.frames[1].frameRect = Rect(30, 30, 40, 40);  // misses the clip
    decoder.frames[2].frameRect = Rect(5, 15, 25, 35);
    const Rect clip(10, 10, 30, 30);
    const TargetSize half{20, 20};
    CImgInfo image;
    FrameList frames = nullptr;
    ASSERT_EQ(decoder.DecodeFramesToSize(&source, &image, &frames, &half, &clip), 1);
    EXPECT_EQ(decoder.calls,
              (Calls{"info", "frame 0", "frame 1", "frame 2", "decode 0", "decode 2", "release"}));
    // Frame 0: the clip region (20 x 20), halved.
    EXPECT_EQ(frames[0]->image.width, 10);
    EXPECT_EQ(frames[0]->image.height, 10);
    ExpectRect(frames[0]->decodedRect, 10, 10, 30, 30);
    // Frame 1: nothing of it is inside the clip.
    EXPECT_EQ(frames[1]->image.colorBitmap, nullptr);
    EXPECT_TRUE(frames[1]->decodedRect.IsEmpty());
    ExpectRect(frames[1]->frameRect, 30, 30, 40, 40);
    // Frame 2: (10, 15) - (25, 30) holds the even picture columns 10..24 (8) and the even
    // rows 16..28 (7) of the half-size grid.
    EXPECT_EQ(frames[2]->image.width, 8);
    EXPECT_EQ(frames[2]->image.height, 7);
    ExpectRect(decoder.decodes[1].clipRect, 10, 15, 25, 30);
    DeleteFrames(frames, 3);
}

TEST_F(DecoderBaseTest, LargeScreensAreScaledWithoutOverflow) {
    // 60000 x 40000 does not fit 32 bits; the buffer is 40000 wide as the exact ratio says.
    decoder.width = 60000;
    decoder.height = 1;
    decoder.frames.resize(1);
    decoder.frames[0].frameRect = Rect(0, 0, 60000, 1);
    const TargetSize target{40000, 1};
    CImgInfo image;
    FrameList frames = nullptr;
    ASSERT_EQ(decoder.DecodeFramesToSize(&source, &image, &frames, &target, nullptr), 1);
    EXPECT_EQ(frames[0]->image.width, 40000);
    EXPECT_EQ(frames[0]->image.height, 1);
    DeleteFrames(frames, 1);
}

TEST_F(DecoderBaseTest, AScreenWithoutSizeCannotBeScaledToATarget) {
    const std::int32_t sizes[][2] = {{0, 10}, {10, 0}};
    for (const auto& size : sizes) {
        ScriptedDecoder d;
        d.width = size[0];
        d.height = size[1];
        d.frames.resize(1);
        d.frames[0].frameRect = Rect(0, 0, 4, 4);
        const TargetSize target{8, 8};
        CImgInfo image;
        image.palette = AllocatePaletteCopy(16);
        FrameList frames = nullptr;
        EXPECT_EQ(d.DecodeFramesToSize(&source, &image, &frames, &target, nullptr), 0);
        EXPECT_EQ(d.calls, (Calls{"info", "release"}));
        test::ExpectError(d.lastError, ErrorCorruptData, 30001, 144, 5);
        EXPECT_EQ(image.palette, nullptr);
        EXPECT_EQ(frames, nullptr);

        // Without a target nothing is divided: the frames keep their own size.
        d.calls.clear();
        ASSERT_EQ(d.DecodeFramesToSize(&source, &image, &frames, nullptr, nullptr), 1);
        EXPECT_EQ(frames[0]->image.width, 4);
        DeleteFrames(frames, 1);
    }
}

TEST_F(DecoderBaseTest, DecodingToSizeReportsItsOwnRoutine) {
    decoder.frameCount = 0;
    CImgInfo image;
    FrameList frames = nullptr;
    EXPECT_EQ(decoder.DecodeFramesToSize(&source, &image, &frames, nullptr, nullptr), 0);
    test::ExpectError(decoder.lastError, ErrorNoFrames, 30001, 144, 2);
}

// ---- Path-based operations ---------------------------------------------------------------

class DecoderFileTest : public DecoderBaseTest {
  protected:
    test::DeviceFiles files;
};

TEST_F(DecoderFileTest, PathFailuresAlwaysEndAsFileLoadErrors) {
    const std::u16string path = files.Write("picture.bin", {1, 2, 3});
    DecoderImageInfo info;

    decoder.failAt = "info";
    EXPECT_EQ(decoder.GetImageInfoFromFile(path.c_str(), &info), 0);
    EXPECT_EQ(decoder.calls, (Calls{"info", "release"}));
    test::ExpectError(decoder.lastError, ErrorFileLoad, 30001, 18, 1);
    EXPECT_EQ(CountingError::live, 0);  // the decoder's own error was replaced and deleted

    decoder.calls.clear();
    EXPECT_EQ(decoder.GetImageInfoFromFile(u"", &info), 0);
    EXPECT_EQ(decoder.GetImageInfoFromFile(nullptr, &info), 0);
    EXPECT_EQ(decoder.GetImageInfoFromFile(path.c_str(), nullptr), 0);
    EXPECT_EQ(decoder.GetImageInfoFromFile(u"\\missing.gif", &info), 0);
    EXPECT_TRUE(decoder.calls.empty());
    test::ExpectError(decoder.lastError, ErrorFileLoad, 30001, 18, 1);

    CImgInfo image;
    FrameList frames = nullptr;
    const TargetSize target{4, 4};
    decoder.failAt = "frame 0";
    decoder.frames.resize(1);
    EXPECT_EQ(decoder.DecodeFramesFromFile(path.c_str(), &image, &frames, &target, nullptr), 0);
    EXPECT_EQ(decoder.calls, (Calls{"info", "frame 0", "release"}));
    test::ExpectError(decoder.lastError, ErrorFileLoad, 30001, 104, 1);
    EXPECT_EQ(decoder.DecodeFramesFromFile(path.c_str(), &image, nullptr, &target, nullptr), 0);
    EXPECT_EQ(decoder.DecodeFramesFromFile(path.c_str(), nullptr, &frames, &target, nullptr), 0);
    EXPECT_EQ(decoder.DecodeFramesFromFile(u"", &image, &frames, &target, nullptr), 0);
    test::ExpectError(decoder.lastError, ErrorFileLoad, 30001, 104, 1);
    EXPECT_EQ(CountingError::live, 0);
}

TEST_F(DecoderFileTest, PathOperationsSucceedThroughTheFileSource) {
    const std::u16string path = files.Write("picture.bin", {1, 2, 3});
    decoder.frames.resize(1);
    decoder.frames[0].frameRect = Rect(0, 0, 10, 10);
    DecoderImageInfo info;
    PresetImageInfo(&info);
    EXPECT_EQ(decoder.GetImageInfoFromFile(path.c_str(), &info), 1);
    EXPECT_EQ(info.frameCount, 1);

    CImgInfo image;
    FrameList frames = nullptr;
    const TargetSize target{5, 5};
    ASSERT_EQ(decoder.DecodeFramesFromFile(path.c_str(), &image, &frames, &target, nullptr), 1);
    EXPECT_EQ(frames[0]->image.width, 5);
    EXPECT_EQ(decoder.lastError, nullptr);
    DeleteFrames(frames, 1);
}

}  // namespace
}  // namespace br
