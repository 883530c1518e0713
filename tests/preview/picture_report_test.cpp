// The picture report: each warning on a picture made to trigger it, the decoded-frame memory
// at each scale, and the frame times of the render passes.
#include "preview/picture_report.h"
#include "preview/show.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "decode/decoder.h"
#include "decode/memory_source.h"
#include "gif_builder.h"
#include "platform/sim/device.h"
#include "preview/app.h"

namespace preview {
namespace {

using preview_test::Bytes;
using preview_test::GifBuilder;

class PictureReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plat::sim::Reset();
        AttachPipeline();
    }
    PictureReport Analyse(const Bytes& bytes, int w = 240, int h = 320, std::uint64_t limit = 0) {
        return AnalysePicture("test.gif", bytes, w, h, limit);
    }
};

std::vector<std::string> Ids(const PictureReport& r) {
    std::vector<std::string> ids;
    for (const Warning& w : r.warnings) ids.push_back(w.id);
    return ids;
}

Bytes TwoFrames(int w, int h) {
    return GifBuilder(w, h)
        .Control(10)
        .Image(0, 0, w, h, 1)
        .Control(10)
        .Image(0, 0, w, h, 2)
        .Trailer()
        .Build();
}

TEST_F(PictureReportTest, AWellMadeAnimationGetsNoWarningAndItsFramesAsTheDecoderReadsThem) {
    Bytes gif = GifBuilder(20, 10)
                    .Control(50, 1)
                    .Image(0, 0, 20, 10, 1)
                    .Control(2, 2, 3)
                    .Image(4, 2, 8, 6, 3)
                    .Trailer()
                    .Build();
    PictureReport r = Analyse(gif);
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front().text;
    EXPECT_TRUE(r.decodable);
    EXPECT_TRUE(r.DeviceShowsAnimation());
    EXPECT_EQ(r.formatName, "GIF89a");
    ASSERT_EQ(r.frames.size(), 2u);
    const FrameReport& f = r.frames[1];
    EXPECT_EQ(std::make_tuple(f.left, f.top, f.width, f.height), std::make_tuple(4, 2, 8, 6));
    EXPECT_EQ(f.delayCs, 2);
    EXPECT_EQ(f.disposal, 2);
    EXPECT_EQ(f.transparentIndex, 3);
    EXPECT_TRUE(f.hasControlExtension);
    EXPECT_EQ(r.frames[1].composedAtMs, 520u);
    EXPECT_EQ(r.animationMs, 540u);
    EXPECT_EQ(r.decodeScale, 1.0);
}

TEST_F(PictureReportTest, EachProblemOfAPictureGetsItsWarning) {
    Bytes truncated = TwoFrames(16, 16);
    truncated.resize(truncated.size() - 6);  // cut inside the second frame's data
    // Second image: LZW data whose first code after the clear code (4) is 7, which is not
    // defined yet: 3-bit codes 100, 111 packed from the low bit. On a 16x16 screen every scale
    // keeps a pixel of it; on an 8x8 one the 1/16 scale keeps none and decodes nothing.
    auto undefinedCode = [](int side) {
        Bytes gif = GifBuilder(side, side).Control(10).Image(0, 0, side, side, 1).Control(10).Build();
        for (int b : {0x2C, 0, 0, 0, 0, side, 0, side, 0, 0, /*code size*/ 2, /*block*/ 1, 0x3C, 0,
                      0x3B}) {
            gif.push_back(static_cast<std::uint8_t>(b));
        }
        return gif;
    };
    Bytes junkAfterFrame =
        GifBuilder(8, 8).Control(10).Image(0, 0, 8, 8, 1).Control(10).Image(0, 0, 8, 8, 2).Build();
    junkAfterFrame.push_back(0x00);
    const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0};

    struct Case {
        const char* id;
        Bytes gif;
        int w, h;
        std::uint64_t limit;
        const char* textPart;
    };
    const std::vector<Case> cases = {
        {"noControlExtension",
         GifBuilder(8, 8).Image(0, 0, 8, 8, 1).Control(10).Image(0, 0, 8, 8, 2).Trailer().Build(),
         240, 320, 0, "shown for 1 s"},
        {"zeroDelay",
         GifBuilder(8, 8)
             .Control(0)
             .Image(0, 0, 8, 8, 1)
             .Control(0)
             .Image(0, 0, 8, 8, 2)
             .Trailer()
             .Build(),
         240, 320, 0, "about 20 ms"},
        {"largerThanScreen", TwoFrames(300, 400), 240, 320, 0, "the edges are cut"},
        {"firstFrameNotCovering",
         GifBuilder(20, 20)
             .Control(10)
             .Image(5, 5, 10, 10, 1)
             .Control(10)
             .Image(0, 0, 20, 20, 2)
             .Trailer()
             .Build(),
         240, 320, 0, "white shows through"},
        {"firstFrameTransparent",
         GifBuilder(8, 8)
             .Control(10, 1, 1)
             .Image(0, 0, 8, 8, 1)
             .Control(10)
             .Image(0, 0, 8, 8, 2)
             .Trailer()
             .Build(),
         240, 320, 0, "shows through them"},
        {"singleFrame", GifBuilder(8, 8).Control(10).Image(0, 0, 8, 8, 1).Trailer().Build(), 240,
         320, 0, "shows nothing"},
        {"undecodable", undefinedCode(16), 240, 320, 0, "46024"},
        {"reducedScale", undefinedCode(8), 240, 320, 0, "only the white background"},
        {"notGif", png, 240, 320, 0, "a PNG picture"},
        {"truncated", truncated, 240, 320, 0, "cut short"},
        {"unknownData", junkAfterFrame, 240, 320, 0, "stops reading there"},
        {"loopIgnored",
         GifBuilder(8, 8)
             .Loop(0)
             .Control(10)
             .Image(0, 0, 8, 8, 1)
             .Control(10)
             .Image(0, 0, 8, 8, 2)
             .Trailer()
             .Build(),
         240, 320, 0, "plays it once"},
        {"frameOutside",
         GifBuilder(8, 8)
             .Control(10)
             .Image(0, 0, 8, 8, 1)
             .Control(10)
             .Image(4, 4, 8, 8, 2)
             .Trailer()
             .Build(),
         240, 320, 0, "beyond the picture's edge"},
        // 3 frames of 480x640: 921600 bytes at full size, 230400 at 1/2; the two drawing
        // surfaces of a 240x320 screen take 460800.
        {"reducedScale",
         GifBuilder(480, 640)
             .Control(10)
             .Image(0, 0, 480, 640, 1)
             .Control(10)
             .Image(0, 0, 480, 640, 2)
             .Control(10)
             .Image(0, 0, 480, 640, 3)
             .Trailer()
             .Build(),
         240, 320, 700000, "at 1/2 size"},
        {"surfacesDontFit", TwoFrames(240, 320), 240, 320, 200000, "shows nothing"},
        {"noScaleFits",
         GifBuilder(240, 320)
             .Control(10)
             .Image(0, 0, 240, 320, 1)
             .Control(10)
             .Image(0, 0, 240, 320, 2)
             .Control(10)
             .Image(0, 0, 240, 320, 3)
             .Control(10)
             .Image(0, 0, 240, 320, 1)
             .Trailer()
             .Build(),
         240, 320, 1024, "at 1/16 size the frames need"},
    };
    for (const Case& c : cases) {
        PictureReport r = Analyse(c.gif, c.w, c.h, c.limit);
        const Warning* found = nullptr;
        for (const Warning& w : r.warnings) {
            if (w.id == c.id) found = &w;
        }
        ASSERT_NE(found, nullptr) << c.id << " missing; got " << ::testing::PrintToString(Ids(r));
        EXPECT_NE(found->text.find(c.textPart), std::string::npos) << found->text;
        for (const Warning& w : r.warnings) EXPECT_TRUE(InCatalogue(w.id)) << w.id;
    }
}

TEST_F(PictureReportTest, APictureThatCannotBeShownIsNotReportedAsAnAnimation) {
    EXPECT_FALSE(Analyse(GifBuilder(8, 8).Control(10).Image(0, 0, 8, 8, 1).Trailer().Build())
                     .DeviceShowsAnimation());
    EXPECT_FALSE(Analyse({'n', 'o', 't', ' ', 'a', ' ', 'g', 'i', 'f'}).DeviceShowsAnimation());
    EXPECT_FALSE(Analyse(TwoFrames(240, 320), 240, 320, 200000).DeviceShowsAnimation());
}

TEST_F(PictureReportTest, FrameMemoryAtEachScaleFollowsTheDecodersSizing) {
    // A full 240x320 frame, a 10x10 one, one at odd offsets and one partly outside the picture:
    // each scale takes the picture to ScaleSize and each frame to the grid pixels of its part
    // inside the picture, rows rounded up to 4 bytes, exactly what the player's decode makes.
    Bytes gif = GifBuilder(240, 320)
                    .Control(10)
                    .Image(0, 0, 240, 320, 1)
                    .Control(10)
                    .Image(0, 0, 10, 10, 2)
                    .Control(10)
                    .Image(61, 33, 7, 5, 2)
                    .Control(10)
                    .Image(230, 300, 40, 40, 2)
                    .Trailer()
                    .Build();
    PictureReport r = Analyse(gif);
    const double scales[] = {1.0, 0.5, 0.25, 0.125, 0.0625};
    // The first two frames alone, as worked out by hand.
    const std::uint64_t firstTwo[] = {76800 + 12 * 10, 19200 + 8 * 5, 4800 + 4 * 3,
                                      32 * 40 + 4 * 2, 16 * 20 + 4 * 1};
    ASSERT_EQ(r.memory.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(scales[i]);
        const br::Size target = br::ScaleSize(240, 320, scales[i], 0);
        EXPECT_EQ(r.memory[i].scale, scales[i]);
        EXPECT_EQ(r.memory[i].targetWidth, target.cx);
        EXPECT_EQ(r.memory[i].targetHeight, target.cy);
        EXPECT_EQ(br::FrameBufferBytes(br::Rect(0, 0, 240, 320), 240, 320, target.cx, target.cy) +
                      br::FrameBufferBytes(br::Rect(0, 0, 10, 10), 240, 320, target.cx, target.cy),
                  firstTwo[i]);

        br::MemorySource source(gif);
        source.size = static_cast<std::uint32_t>(gif.size());
        br::CImgDecoder2 decoder;
        br::CImgInfo image;
        br::FrameList frames = nullptr;
        const br::TargetSize size{target.cx, target.cy};
        const br::Rect picture(0, 0, 240, 320);
        ASSERT_EQ(decoder.DecodeFramesToSize(&source, &image, &frames, &size, &picture), 1);
        std::uint64_t decoded = 0;
        for (int f = 0; f < 4; ++f) {
            const br::CImgData& d = frames[f]->image;
            decoded += static_cast<std::uint64_t>(d.width + d.rowPadding) * d.height;
            delete frames[f];
        }
        br::FreeFrameList(frames, 4);
        EXPECT_EQ(r.memory[i].frameBytes, decoded);
    }
    EXPECT_EQ(r.surfaceBytes, 2u * 240 * 320 * 3);
}

TEST_F(PictureReportTest, OneMemoryVerdictFollowsTheDecodeLadderAndNamesTheLimitsThatWork) {
    // 3 frames of 480x640 on a 240x320 screen: 921,600 bytes of frames at full size, 230,400 at
    // 1/2, 3,840 at 1/16; the drawing surfaces take 460,800. A larger limit can be worse: just
    // above the full-size frames the device stops at full size and the surfaces no longer fit.
    const Bytes gif = GifBuilder(480, 640)
                          .Control(10)
                          .Image(0, 0, 480, 640, 1)
                          .Control(10)
                          .Image(0, 0, 480, 640, 2)
                          .Control(10)
                          .Image(0, 0, 480, 640, 3)
                          .Trailer()
                          .Build();
    struct Case {
        std::uint64_t limit;
        std::size_t largestBitmap;  // 0: the device's own ceiling
        double scale;
        bool shows;
        const char* id;  // the one memory warning, or ""
        const char* says;
    };
    const Case cases[] = {
        {0, 0, 1.0, true, "", ""},
        {1382400, 0, 1.0, true, "", ""},
        {1382399, 0, 1.0, false, "surfacesDontFit", "691,200 bytes to 921,599 bytes"},
        {921599, 0, 0.5, true, "reducedScale", "at least 1,382,400 bytes"},
        {691199, 0, 0.5, false, "surfacesDontFit", "1,382,400 bytes or more"},
        {3000, 0, 0, false, "noScaleFits", "3,840 bytes, more than the 3,000 bytes"},
        // One frame at full size is larger than any bitmap the device makes.
        {0, 300000, 0.5, true, "reducedScale", "more than the largest bitmap the device makes"},
    };
    const std::vector<std::string> memoryIds = {"surfacesDontFit", "reducedScale", "noScaleFits"};
    for (const Case& c : cases) {
        plat::sim::FailBitmapsAbove(c.largestBitmap);
        PictureReport r = Analyse(gif, 240, 320, c.limit);
        SCOPED_TRACE("limit " + std::to_string(c.limit));
        EXPECT_EQ(r.decodeScale, c.scale);
        EXPECT_EQ(r.DeviceShowsAnimation(), c.shows);
        std::vector<const Warning*> memory;
        for (const Warning& w : r.warnings) {
            if (std::find(memoryIds.begin(), memoryIds.end(), w.id) != memoryIds.end()) {
                memory.push_back(&w);
            }
        }
        ASSERT_EQ(memory.size(), *c.id ? 1u : 0u) << ::testing::PrintToString(Ids(r));
        if (*c.id) {
            EXPECT_EQ(memory[0]->id, c.id);
            EXPECT_NE((memory[0]->text + memory[0]->fix).find(c.says), std::string::npos)
                << memory[0]->text << " / " << memory[0]->fix;
        }
    }
    plat::sim::FailBitmapsAbove(0);

    // Everything the device holds per frame counts, not only pixels: 10,000 one-pixel frames.
    GifBuilder many(1, 1);
    for (int i = 0; i < 10000; ++i) many.Control(10).Image(0, 0, 1, 1, 1);
    PictureReport r = Analyse(many.Trailer().Build(), 240, 320, 600000);
    EXPECT_EQ(r.memory[0].frameHeapBytes, 10000 * (kFramePaletteBytes + kFrameRecordBytes));
    EXPECT_EQ(r.memory[0].totalBytes, r.memory[0].bitmapBytes + r.memory[0].frameHeapBytes);
    const std::vector<std::string> ids = Ids(r);
    EXPECT_NE(std::find(ids.begin(), ids.end(), "frameOverhead"), ids.end());
    // Scales after one whose frames need no bitmap are never reached, whatever the limit.
    EXPECT_FALSE(r.memory[2].works);
}

TEST_F(PictureReportTest, TimesOnScreenFollowTheTwentyMillisecondPasses) {
    auto delays = [](std::vector<int> delaysCs) {
        GifBuilder gif(8, 8);
        for (std::size_t i = 0; i < delaysCs.size(); ++i) {
            gif.Control(delaysCs[i]).Image(0, 0, 8, 8, 1 + static_cast<int>(i % 3));
        }
        return gif.Trailer().Build();
    };
    struct Case {
        Bytes gif;
        std::vector<std::uint32_t> onScreen;
        std::vector<std::string> timingIds;
    };
    const Case cases[] = {
        // 30 ms delays land on 0, 60, 80, 120, 140 ms: frames alternate 20 and 40 ms.
        {delays({3, 3, 3, 3, 3}), {60, 20, 40, 20, 20}, {"judder"}},
        // Multiples of 20 ms keep their delays (the first frame waits one extra pass); a last
        // frame of 500 ms is on the screen for one pass.
        {delays({4, 4, 4, 4, 50}), {60, 40, 40, 40, 20}, {"lastFrameBarelySeen"}},
        // 10 ms delays: one frame per pass, twice as slow as the file says.
        {delays(std::vector<int>(30, 1)), {}, {"slowerThanDelays"}},
    };
    const std::vector<std::string> timing = {"judder", "slowerThanDelays", "lastFrameBarelySeen"};
    for (const Case& c : cases) {
        PictureReport r = Analyse(c.gif);
        std::vector<std::uint32_t> onScreen;
        for (const FrameReport& f : r.frames) onScreen.push_back(f.onScreenMs);
        if (!c.onScreen.empty()) {
            EXPECT_EQ(onScreen, c.onScreen);
        }
        std::vector<std::string> ids;
        for (const std::string& id : Ids(r)) {
            if (std::find(timing.begin(), timing.end(), id) != timing.end()) ids.push_back(id);
        }
        EXPECT_EQ(ids, c.timingIds) << FormatReportText(r);
    }
}

// Counts the decoder's reads and seeks.
class CountingSource : public br::MemorySource {
  public:
    explicit CountingSource(const Bytes& bytes) : MemorySource(bytes) {
        size = static_cast<std::uint32_t>(bytes.size());
    }
    std::uint32_t Read(void* buffer, std::uint32_t count) override {
        ++calls;
        return MemorySource::Read(buffer, count);
    }
    void Seek(std::int32_t offset, std::int32_t origin) override {
        ++calls;
        MemorySource::Seek(offset, origin);
    }
    std::uint64_t calls = 0;
};

TEST_F(PictureReportTest, TheAnalysisReadsTheStreamAFewTimesWhateverItsFrameCount) {
    GifBuilder many(4, 4);
    for (int i = 0; i < 5000; ++i) many.Control(2).Image(0, 0, 4, 4, 1 + i % 3);
    const Bytes gif = many.Trailer().Build();
    CountingSource source(gif);
    PictureReport r = AnalysePicture("many.gif", gif, 240, 320, 0, &source);
    ASSERT_EQ(r.frames.size(), 5000u);
    EXPECT_TRUE(r.decodable);
    // Describing each frame by a parse of its own read the headers 5,000 times over: about
    // 5,000 * 5,000 * 6 calls.
    EXPECT_LT(source.calls, 100u * 5000) << source.calls;
}

TEST_F(PictureReportTest, TheAnalysisNeedsNoMoreBitmapMemoryThanOneOfTheDevicesFrames) {
    // Full-size frames of 1,000x1,000 with a 300,000-byte limit: the device decodes at 1/4
    // (63,000 bytes a frame), and the analysis must get by with the memory of one such frame.
    const Bytes gif = TwoFrames(1000, 1000);
    plat::sim::SetBitmapMemoryLimit(63000);
    PictureReport r = Analyse(gif, 240, 320, 300000);
    plat::sim::SetBitmapMemoryLimit(0);
    EXPECT_EQ(r.decodeScale, 0.25);
    EXPECT_TRUE(r.decodable) << r.errorText;
    EXPECT_EQ(r.memory[0].frameBytes, 2000000u) << "reported, not decoded";
}

// The shut-down show's warnings for a sound of `soundMs` whose window closed at 2,480 ms.
std::vector<Warning> ShutdownWithSound(std::uint64_t soundMs) {
    DeviceSetup setup;
    setup.mode = "shutdown";
    setup.soundPath = u"\\Storage\\boot.wav";
    setup.hasSoundLevel = true;
    setup.soundLevel = 5;
    ShowRecord record;
    plat::sim::SoundRecord sound;
    sound.played = true;
    sound.startedAtMs = 0;
    sound.endedAtMs = soundMs;
    record.sounds.push_back(sound);
    record.shutdownEventAtMs = soundMs;
    ShowResult result;
    result.showedPicture = true;
    result.windowClosedAtMs = 2480;
    return ShowWarnings(record, setup, result);
}

TEST(ShutdownSound, ALongSoundIsReportedAsHoldingUpTheShutdown) {
    EXPECT_TRUE(ShutdownWithSound(3000).empty());
    const std::vector<Warning> warnings = ShutdownWithSound(36000000);
    ASSERT_EQ(warnings.size(), 1u);
    const Warning& w = warnings[0];
    EXPECT_EQ(w.id, "longShutdownSound");
    EXPECT_NE(w.text.find("10 h"), std::string::npos) << w.text;
    EXPECT_NE(w.text.find("window closed at 2,480 ms"), std::string::npos) << w.text;
}

TEST(CompositionTimes, FramesArriveOnThePassThatFirstSeesTheirDueTime) {
    struct Case {
        std::vector<int> delaysCs;
        std::vector<std::uint32_t> times;
        std::uint32_t end;
    };
    const Case cases[] = {
        // Due at 500 ms: the pass at 520 ms is the first to have measured 500 ms.
        {{50, 100}, {0, 520}, 540},
        // Delay 0: one frame per pass.
        {{0, 0, 0}, {0, 20, 40}, 60},
        // 10 ms: the pass at 20 ms has measured nothing yet.
        {{1, 1}, {0, 40}, 60},
        // Delays count from the start: 100 + 100 ms lands on 220, not 240.
        {{10, 10, 10}, {0, 120, 220}, 240},
        {{7}, {0}, 20},
    };
    for (const Case& c : cases) {
        std::uint32_t end = 0;
        EXPECT_EQ(CompositionTimes(c.delaysCs, &end), c.times);
        EXPECT_EQ(end, c.end);
    }
}

}  // namespace
}  // namespace preview
