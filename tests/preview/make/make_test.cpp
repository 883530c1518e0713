// `bootreel-preview make` as its user runs it: small generated inputs made into the device's
// files, checked with the previewer's own analysis and show.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "preview/image_files.h"
#include "preview/json.h"
#include "preview/make/device_check.h"
#include "preview/make/make_command.h"
#include "preview/make/source_frames.h"
#include "preview/sound_report.h"
#include "read_files.h"
#include "run_program.h"

namespace preview {
namespace {

using namespace preview_test;

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    const std::string text = ReadText(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

void Ffmpeg(const std::string& args) {
    const std::string command = "ffmpeg -nostdin -loglevel error -y " + args;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string WarningIds(const DeviceCheck& check) {
    std::string ids;
    for (const Warning& w : check.warnings) ids += w.id + " ";
    return ids;
}

// Mean difference per channel between two pictures of one size, 0 to 255.
double MeanDifference(const RgbImage& a, const RgbImage& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
    return sum / static_cast<double>(a.rgb.size());
}

// A folder of numbered PNG frames: a square moving over a full-picture gradient that shifts
// each frame, so that every frame changes everywhere (the most memory a frame can need).
void WriteShiftingFrames(const ScratchFolder& dir, const std::string& name, int frames, int w,
                         int h) {
    fs::create_directories(dir / name);
    for (int i = 0; i < frames; ++i) {
        RgbImage image(w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = image.At(x, y);
                p[0] = static_cast<std::uint8_t>((x * 4 + i * 16) & 255);
                p[1] = static_cast<std::uint8_t>((y * 3 + i * 8) & 255);
                p[2] = 128;
            }
        }
        std::string error;
        ASSERT_TRUE(WritePng(dir / (name + "/f" + std::to_string(i) + ".png"), image, &error)) << error;
    }
}

TEST(Make, AVideoWithSoundBecomesFilesTheDevicePlaysAsItsPreviewShows) {
    ScratchFolder dir;
    Ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -f lavfi -i "
           "sine=frequency=660:duration=1 -c:v ffv1 -c:a pcm_s16le " + dir / "clip.mkv");
    const RunResult r = RunPreviewProgram({"make", "clip.mkv", "--screen", "120x160", "--out", "made"},
                                          dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* file : {"boot.gif", "boot.wav", "boot.reg", "report.html", "timeline.json",
                             "contact-sheet.png", "recording.mp4"}) {
        EXPECT_TRUE(fs::exists(dir.path() / "made" / file)) << file;
    }
    const DeviceCheck check = CheckOnDevice(ReadBytes(dir / "made/boot.gif"), 120, 160, 0);
    EXPECT_TRUE(check.warnings.empty()) << WarningIds(check);
    const SoundReport sound = AnalyseSound("boot.wav", ReadBytes(dir / "made/boot.wav"));
    EXPECT_TRUE(sound.playable) << sound.problem;
    EXPECT_NE(r.out.find("as long as the animation"), std::string::npos) << r.out;

    Json timeline;
    std::string error;
    ASSERT_TRUE(ParseJson(ReadText(dir / "made/timeline.json"), &timeline, &error)) << error;
    EXPECT_TRUE(timeline["sound"]["played"].get<bool>());
    // Every 40 ms source frame is a frame of the show, composed 40 ms after the one before,
    // and the screen shows it within the quality the goal asks of a 256-colour palette.
    std::unique_ptr<FrameReader> reader = FrameReader::Open(dir / "clip.mkv", 25, &error);
    ASSERT_TRUE(reader) << error;
    ScreenFitter fitter(120, 160, FitMode::Letterbox, 0);
    const Json& frames = timeline["frames"];
    ASSERT_EQ(frames.size(), 26u);  // 25 pictures and the one that ends the show
    RgbImage source;
    double ms = 0;
    for (std::size_t k = 0; k < 25; ++k) {
        ASSERT_TRUE(reader->Next(&source, &ms, &error)) << error;
        if (k >= 1) {
            EXPECT_EQ(frames[k]["composedAtMs"].get<int>() - frames[k - 1]["composedAtMs"].get<int>(),
                      k == 1 ? 60 : 40) << k;  // the first frame stays one pass longer
        }
        RgbImage screen;
        ASSERT_TRUE(ReadPng(dir / ("made/" + frames[k]["file"].get<std::string>()), &screen, &error));
        EXPECT_LT(MeanDifference(screen, fitter.Fit(source)), 6.0) << "frame " << k;
    }

    // boot.reg is what the device reads: the show through the registry plays both files.
    fs::create_directories(dir.path() / "root/Storage");
    fs::copy_file(dir / "made/boot.gif", dir / "root/Storage/boot.gif");
    fs::copy_file(dir / "made/boot.wav", dir / "root/Storage/boot.wav");
    const RunResult shown = RunPreviewProgram({"--registry", "made/boot.reg", "--device-root",
                                               "root", "--screen", "120x160", "--out", "p"},
                                              dir.path());
    EXPECT_EQ(shown.exitCode, 0) << shown.out << shown.err;
    EXPECT_EQ(shown.out.find("warning"), std::string::npos) << shown.out;
}

TEST(Make, TheMemoryLimitHoldsAtFullSizeOrMakeSaysWhatWouldFit) {
    ScratchFolder dir;
    WriteShiftingFrames(dir, "frames", 20, 120, 160);
    // 20 full frames need 384,000 bytes beside the 115,200 of the drawing surfaces.
    RunResult r = RunPreviewProgram({"make", "frames", "--screen", "120x160", "--memory-limit",
                                     "300000", "--no-preview", "--out", "made"},
                                    dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("frame rate went down"), std::string::npos) << r.out;
    const DeviceCheck check = CheckOnDevice(ReadBytes(dir / "made/boot.gif"), 120, 160, 300000);
    EXPECT_TRUE(check.FitsAtFullSize());
    EXPECT_LE(check.fullSizeBitmapBytes, 300000u);
    EXPECT_TRUE(check.warnings.empty()) << WarningIds(check);

    // Not even the drawing surfaces and one frame fit: nothing is written, and make says
    // what would.
    r = RunPreviewProgram({"make", "frames", "--screen", "120x160", "--memory-limit", "120000",
                           "--out", "none"},
                          dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("or with a limit of at least"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path() / "none"));
}

TEST(Make, BadInputIsRefusedWithAClearMessageAndNothingIsWritten) {
    ScratchFolder dir;
    dir.Write("notes.txt", std::string("not a video\n"));
    fs::create_directories(dir.path() / "empty");
    fs::create_directories(dir.path() / "mixed");
    std::string error;
    ASSERT_TRUE(WritePng(dir / "mixed/1.png", RgbImage(8, 8), &error));
    ASSERT_TRUE(WritePng(dir / "mixed/2.png", RgbImage(9, 8), &error));
    fs::create_directories(dir.path() / "mine");
    dir.Write("mine/thesis.txt", std::string("keep me"));
    WriteShiftingFrames(dir, "ok", 2, 8, 8);
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"make", "missing.mp4"}, "no such file"},
        {{"make", "notes.txt"}, "not a video, animation or sound"},
        {{"make", "empty"}, "holds no PNG frames"},
        {{"make", "mixed"}, "where the first frame is 8x8"},
        {{"make", "ok", "--sound", "notes.txt"}, "notes.txt: not a video, animation or sound"},
        {{"make", "ok", "--frame-ms", "30"}, "multiple of 20"},
        {{"make", "ok", "--fit", "stretch"}, "--fit is letterbox"},
        {{"make", "ok", "--device-dir", "Storage"}, "--device-dir takes a device folder"},
        {{"make"}, "make needs an input"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--out", "made"});
        const RunResult r = RunPreviewProgram(args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << c.args[1];
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.path() / "made")) << c.args.back();
    }
    // A folder of the user's own is never replaced.
    const RunResult r = RunPreviewProgram({"make", "ok", "--out", "mine"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(ReadText(dir / "mine/thesis.txt"), "keep me");
    // Nor an earlier result that the run reads from.
    ASSERT_EQ(RunPreviewProgram({"make", "ok", "--no-preview", "--out", "made"}, dir.path()).exitCode, 0);
    const RunResult again =
        RunPreviewProgram({"make", "made/boot.gif", "--no-preview", "--out", "made"}, dir.path());
    EXPECT_EQ(again.exitCode, 2) << again.out;
    EXPECT_TRUE(fs::exists(dir.path() / "made/boot.gif"));
}

TEST(Make, FrameTimesLieOnTheDevicesPassesAndTheRegistryNamesTheDeviceFolder) {
    EXPECT_EQ(GridFrameMs(1000.0 / 30), 40u);
    EXPECT_EQ(GridFrameMs(1000.0 / 25), 40u);
    EXPECT_EQ(GridFrameMs(1000.0 / 60), 20u);
    EXPECT_EQ(GridFrameMs(1000.0 / 15), 60u);
    EXPECT_EQ(GridFrameMs(1000.0 / 12), 80u);
    EXPECT_EQ(MakeRegistryText("shutdown", "\\Windows\\Boot\\", false),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Korvel\\Shutdown]\r\n"
              "\"Image\"=\"\\\\Windows\\\\Boot\\\\boot.gif\"\r\n");
}

// Random small inputs of every kind (noise, flat shapes, one frame or several, pictures
// larger and smaller than the screen, both fits, any rate): every made GIF draws no warning.
TEST(MakeProperty, EveryMadeGifPassesTheAnalysisWithoutWarning) {
    ScratchFolder dir;
    std::mt19937 random(20261208);
    for (int run = 0; run < 12; ++run) {
        auto pick = [&random](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        const int w = pick(4, 64), h = pick(4, 64), frames = pick(1, 6);
        const int screenW = pick(16, 96), screenH = pick(16, 96);
        const bool noise = pick(0, 1) == 1;
        const std::string name = "in" + std::to_string(run);
        fs::create_directories(dir.path() / name);
        for (int i = 0; i < frames; ++i) {
            RgbImage image(w, h, static_cast<std::uint8_t>(pick(0, 255)), 40, 90);
            const int x0 = pick(0, w - 1), y0 = pick(0, h - 1);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    std::uint8_t* p = image.At(x, y);
                    if (noise) {
                        p[0] = static_cast<std::uint8_t>(pick(0, 255));
                        p[1] = static_cast<std::uint8_t>(pick(0, 255));
                    } else if (x >= x0 && y >= y0 && x < x0 + 5 && y < y0 + 5) {
                        p[0] = p[1] = p[2] = 255;
                    }
                }
            }
            std::string error;
            ASSERT_TRUE(WritePng(dir / (name + "/" + std::to_string(i) + ".png"), image, &error));
        }
        const std::string screen = std::to_string(screenW) + "x" + std::to_string(screenH);
        const RunResult r = RunPreviewProgram(
            {"make", name, "--screen", screen, "--fps", std::to_string(pick(1, 50)), "--fit",
             pick(0, 1) ? "fill" : "letterbox", "--hold", std::to_string(pick(0, 3000)),
             "--no-preview", "--out", "made" + std::to_string(run)},
            dir.path());
        ASSERT_EQ(r.exitCode, 0) << run << ": " << r.out << r.err;
        const DeviceCheck check = CheckOnDevice(
            ReadBytes(dir / ("made" + std::to_string(run) + "/boot.gif")), screenW, screenH, 0);
        EXPECT_TRUE(check.showsAnimation) << run;
        EXPECT_TRUE(check.warnings.empty()) << run << " " << w << "x" << h << " on " << screen
                                            << ": " << WarningIds(check);
    }
}

}  // namespace
}  // namespace preview
