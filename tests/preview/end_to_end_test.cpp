// bootreel-preview end to end: the bundled sample, the show's other endings, the registry
// route, `info`, and every kind of bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "gif_builder.h"
#include "platform/sim/device.h"
#include "preview/app.h"
#include "preview/image_files.h"
#include "preview/json.h"
#include "preview/picture_report.h"
#include "run_program.h"

namespace preview {
namespace {

using namespace preview_test;

const std::string kSampleGif = std::string(PREVIEW_SAMPLES_DIR) + "/boot.gif";
const std::string kSampleWav = std::string(PREVIEW_SAMPLES_DIR) + "/boot.wav";

Json ReadJson(const std::string& path) {
    Json doc;
    std::string error;
    EXPECT_TRUE(ParseJson(ReadText(path), &doc, &error)) << path << ": " << error;
    return doc;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::string text = ReadText(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

PictureReport SampleReport(std::uint64_t memoryLimit = 0) {
    plat::sim::Reset();
    AttachPipeline();
    return AnalysePicture("boot.gif", ReadBytes(kSampleGif), 240, 320, memoryLimit);
}

TEST(EndToEnd, NoArgumentsPlaysTheSampleIntoPreviewWithEveryFrameInTime) {
    ScratchFolder dir;
    RunResult r = RunPreviewProgram({}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("the device showed 40 frames"), std::string::npos) << r.out;

    for (const char* name : {"timeline.json", "contact-sheet.png", "recording.webp"}) {
        EXPECT_TRUE(fs::is_regular_file(dir / ("preview/" + std::string(name)))) << name;
    }
    Json timeline = ReadJson(dir / "preview/timeline.json");
    EXPECT_EQ(timeline["screen"]["width"].get<double>(), 240);
    EXPECT_EQ(timeline["screen"]["height"].get<double>(), 320);
    EXPECT_EQ(timeline["mode"].get<std::string>(), "startup");
    EXPECT_EQ(timeline["decodeScale"].get<double>(), 1.0);
    EXPECT_TRUE(timeline["recordingConsistent"].get<bool>());

    // The frames and their times are what the picture's delays give on 20 ms passes.
    PictureReport sample = SampleReport();
    const Json& frames = timeline["frames"];
    ASSERT_EQ(frames.size(), sample.frames.size());
    RgbImage previous;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i]["index"].get<double>(), static_cast<double>(i));
        EXPECT_EQ(frames[i]["composedAtMs"].get<double>(), sample.frames[i].composedAtMs) << i;
        EXPECT_EQ(frames[i]["delayCs"].get<double>(), sample.frames[i].delayCs);
        EXPECT_EQ(frames[i]["disposal"].get<double>(), sample.frames[i].disposal);
        RgbImage png;
        std::string error;
        ASSERT_TRUE(ReadPng(dir / ("preview/" + frames[i]["file"].get<std::string>()), &png, &error))
            << error;
        EXPECT_EQ(png.width, 240);
        EXPECT_EQ(png.height, 320);
        if (i > 0) {
            EXPECT_FALSE(png == previous) << "frame " << i << " shows no change";
        }
        previous = std::move(png);
    }
    EXPECT_FALSE(fs::exists(dir / "preview/frame-0040.png"));

    const Json& end = timeline["end"];
    EXPECT_EQ(end["how"].get<std::string>(), "lastFrame");
    EXPECT_EQ(end["animationEndedAtMs"].get<double>(), sample.animationMs);
    EXPECT_EQ(end["doneEventAtMs"].get<double>(), sample.animationMs);
    EXPECT_EQ(end["returnedAtMs"].get<double>(), sample.animationMs);
    EXPECT_TRUE(end["shutdownEventAtMs"].is_null());
    const Json& sound = timeline["sound"];
    EXPECT_EQ(sound["startedAtMs"].get<double>(), 0);
    EXPECT_EQ(sound["endedAtMs"].get<double>(), 400);
    EXPECT_FALSE(sound["synchronous"].get<bool>());

    // A second run replaces the first preview as a whole.
    fs::remove(dir / "preview/frame-0039.png");
    ASSERT_EQ(RunPreviewProgram({}, dir.path()).exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "preview/frame-0039.png"));
}

TEST(EndToEnd, AShutdownShowPlaysItsSoundToTheEndAndSignalsTheNamedEvent) {
    ScratchFolder dir;
    RunResult r = RunPreviewProgram(
        {"--mode", "shutdown", "--image", kSampleGif, "--sound", kSampleWav, "--out", "sd"},
        dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    Json timeline = ReadJson(dir / "sd/timeline.json");
    EXPECT_EQ(timeline["mode"].get<std::string>(), "shutdown");
    EXPECT_TRUE(timeline["sound"]["synchronous"].get<bool>());
    EXPECT_EQ(timeline["end"]["shutdownEventAtMs"].get<double>(),
              timeline["sound"]["endedAtMs"].get<double>());
}

TEST(EndToEnd, AnEndRequestEndsTheShowAtTheWindowsNextTimerTick) {
    ScratchFolder dir;
    RunResult r = RunPreviewProgram({"--end-after", "1000"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    Json timeline = ReadJson(dir / "preview/timeline.json");
    const Json& end = timeline["end"];
    EXPECT_EQ(end["how"].get<std::string>(), "endRequest");
    EXPECT_EQ(end["endRequestAtMs"].get<double>(), 1000);
    EXPECT_EQ(end["windowClosedAtMs"].get<double>(), 3000);
    const Json& frames = timeline["frames"];
    ASSERT_GT(frames.size(), 0u);
    EXPECT_LT(frames.size(), 40u);
    EXPECT_LE(frames[frames.size() - 1]["composedAtMs"].get<double>(), 3000);
}

TEST(EndToEnd, TheMemoryVerdictOfTheAnalysisIsWhatTheDeviceDoes) {
    // Around the edges of the decode ladder: frames and surfaces at full size and at 1/2, one
    // byte short of each, where the device stops at a scale and then cannot start drawing.
    PictureReport sample = SampleReport();
    const std::uint64_t full = sample.memory[0].bitmapBytes, half = sample.memory[1].bitmapBytes;
    ASSERT_LT(half + 1024, sample.memory[0].frameBytes);
    for (std::uint64_t limit : {full, full - 1, half + 1024, half - 1}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        PictureReport predicted = SampleReport(limit);
        ScratchFolder dir;
        RunResult r = RunPreviewProgram({"--memory-limit", std::to_string(limit)}, dir.path());
        EXPECT_EQ(r.exitCode, predicted.DeviceShowsAnimation() ? 0 : 1) << r.out << r.err;
        Json timeline = ReadJson(dir / "preview/timeline.json");
        EXPECT_EQ(timeline["end"]["deviceShowedNothing"].get<bool>(),
                  !predicted.DeviceShowsAnimation());
        if (predicted.DeviceShowsAnimation()) {
            EXPECT_EQ(timeline["decodeScale"].get<double>(), predicted.decodeScale);
            EXPECT_TRUE(timeline["decodeScaleObserved"].get<bool>()) << "read off the device";
            EXPECT_EQ(timeline["frames"].size(), 40u);
        }
    }
}

TEST(EndToEnd, AReducedShowIsTheFullShowSampledOnTheGrid) {
    PictureReport sample = SampleReport();
    const std::uint64_t limit = sample.memory[1].frameBytes + sample.surfaceBytes + 1024;
    ASSERT_LT(limit, sample.memory[0].frameBytes + sample.surfaceBytes);
    ScratchFolder dir;
    RunResult r = RunPreviewProgram({"--memory-limit", std::to_string(limit)}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("at 1/2 size"), std::string::npos) << r.out;
    Json timeline = ReadJson(dir / "preview/timeline.json");
    EXPECT_EQ(timeline["decodeScale"].get<double>(), 0.5);
    ASSERT_EQ(timeline["frames"].size(), 40u);

    // The sample changes rectangles at odd offsets with transparency and disposal to the state
    // before: every frame of the reduced show is the full-size show's frame sampled on the
    // even rows and columns and doubled, exactly.
    ASSERT_EQ(RunPreviewProgram({"--out", "full"}, dir.path()).exitCode, 0);
    Json fullTimeline = ReadJson(dir / "full/timeline.json");
    ASSERT_EQ(fullTimeline["frames"].size(), 40u);
    for (std::size_t i = 0; i < 40; ++i) {
        RgbImage reduced;
        RgbImage full;
        std::string error;
        ASSERT_TRUE(ReadPng(dir / ("preview/" + timeline["frames"][i]["file"].get<std::string>()),
                            &reduced, &error))
            << error;
        ASSERT_TRUE(ReadPng(dir / ("full/" + fullTimeline["frames"][i]["file"].get<std::string>()),
                            &full, &error))
            << error;
        RgbImage sampled(full.width, full.height);
        for (int y = 0; y < full.height; ++y) {
            for (int x = 0; x < full.width; ++x) {
                std::copy(full.At(x / 2 * 2, y / 2 * 2), full.At(x / 2 * 2, y / 2 * 2) + 3,
                          sampled.At(x, y));
            }
        }
        EXPECT_TRUE(reduced == sampled) << "frame " << i;
    }
}

TEST(EndToEnd, ASingleFramePictureShowsNothingAndIsEndedAfterFiveSeconds) {
    ScratchFolder dir;
    dir.Write("one.gif", GifBuilder(8, 8).Control(10).Image(0, 0, 8, 8, 1).Trailer().Build());
    RunResult r = RunPreviewProgram({"--image", "one.gif"}, dir.path());
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("the device would show nothing"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("single frame"), std::string::npos) << r.out;
    Json timeline = ReadJson(dir / "preview/timeline.json");
    EXPECT_EQ(timeline["frames"].size(), 0u);
    EXPECT_TRUE(timeline["end"]["deviceShowedNothing"].get<bool>());
    EXPECT_EQ(timeline["end"]["how"].get<std::string>(), "endRequest");
    EXPECT_EQ(timeline["end"]["endRequestAtMs"].get<double>(), 5000);
    EXPECT_EQ(timeline["end"]["windowClosedAtMs"].get<double>(), 6000);
    EXPECT_FALSE(fs::exists(dir / "preview/frame-0000.png"));
}

TEST(EndToEnd, TheRegistryFileAndDeviceRootConfigureTheDevice) {
    ScratchFolder dir;
    fs::create_directories(dir / "root/Storage");
    fs::copy_file(kSampleGif, dir / "root/Storage/Boot.GIF");
    fs::copy_file(kSampleWav, dir / "root/Storage/chime.wav");
    dir.Write("device.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Korvel\\Startup]\r\n"
              "\"Image\"=\"\\\\Storage\\\\boot.gif\"\r\n"
              "\"WAV\"=\"\\\\Storage\\\\chime.wav\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\ControlPanel\\SoundCategories\\System]\r\n"
              "\"InitVol\"=dword:00000000\r\n");
    RunResult r =
        RunPreviewProgram({"--registry", "device.reg", "--device-root", "root"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    Json timeline = ReadJson(dir / "preview/timeline.json");
    EXPECT_EQ(timeline["imagePath"].get<std::string>(), "\\Storage\\boot.gif");
    EXPECT_EQ(timeline["frames"].size(), 40u);
    EXPECT_TRUE(timeline["sound"].is_null()) << "InitVol 0 silences the sound";

    // The picture named in the registry is missing: the window opens and closes at once.
    fs::remove(dir / "root/Storage/Boot.GIF");
    r = RunPreviewProgram({"--registry", "device.reg", "--device-root", "root"}, dir.path());
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("does not exist on the device"), std::string::npos) << r.err;
    timeline = ReadJson(dir / "preview/timeline.json");
    EXPECT_EQ(timeline["end"]["how"].get<std::string>(), "noPicture");
    EXPECT_EQ(timeline["end"]["returnedAtMs"].get<double>(), 0);
}

TEST(EndToEnd, APictureTheLibraryCannotShowIsReportedAsTheShowTheDeviceGives) {
    ScratchFolder dir;
    dir.Write("logo.png", std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0,
                                                    0, 0, 13, 'I', 'H', 'D', 'R'});
    std::vector<std::uint8_t> cut = ReadBytes(kSampleGif);
    cut.resize(cut.size() / 2);
    dir.Write("cut.gif", cut);

    RunResult r = RunPreviewProgram({"--image", "logo.png"}, dir.path());
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("the device decodes only GIF"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    Json timeline = ReadJson(dir / "preview/timeline.json");
    EXPECT_EQ(timeline["end"]["how"].get<std::string>(), "loadFailed");
    EXPECT_EQ(timeline["end"]["windowClosedAtMs"].get<double>(), 0);

    // A GIF cut in half: the device shows the frames it finds, and the user is told.
    r = RunPreviewProgram({"--image", "cut.gif", "--out", "cut"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("cut short"), std::string::npos) << r.out;
    timeline = ReadJson(dir / "cut/timeline.json");
    EXPECT_GT(timeline["frames"].size(), 1u);
    EXPECT_LT(timeline["frames"].size(), 40u);
}

TEST(EndToEnd, BadInputGetsOneLineTheRightExitCodeAndNoOutput) {
    ScratchFolder dir;
    dir.Write("bad.reg", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"A\"=\n");
    fs::create_directories(dir / "folder.gif");
    fs::create_directories(dir / "mine");
    dir.Write("mine/notes.txt", "keep me");
    struct Case {
        std::vector<std::string> args;
        const char* messagePart;
    };
    const Case cases[] = {
        {{"--registry", "bad.reg"}, "bad.reg:3"},
        {{"--registry", "none.reg"}, "none.reg does not exist"},
        {{"--image", "missing.gif"}, "missing.gif does not exist"},
        {{"--image", "folder.gif"}, "is a directory"},
        {{"--sound", "missing.wav"}, "missing.wav does not exist"},
        {{"--device-root", "nowhere"}, "is not a folder"},
        {{"--screen", "100000x2"}, "--screen"},
        {{"--memory-limit", "5"}, "--memory-limit"},
        {{"--out", "mine"}, "not from a preview"},
        {{"--frobnicate"}, "unknown option"},
        {{"info", "missing.gif"}, "missing.gif"},
        {{"info", "folder.gif"}, "is a directory"},
    };
    for (const Case& c : cases) {
        RunResult r = RunPreviewProgram(c.args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << c.args[0] << ": " << r.out << r.err;
        EXPECT_NE(r.err.find(c.messagePart), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        EXPECT_FALSE(fs::exists(dir / "preview")) << c.args[0];
        EXPECT_TRUE(fs::exists(dir / "mine/notes.txt"));
    }
    // Nothing is left of the staging folders either.
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
    }
}

TEST(EndToEnd, AnUnreadablePictureIsBadInput) {
    // Unreadable for every user, the superuser too: a folder and a named pipe in the picture's
    // place (a pipe with no writer would make a plain read wait for ever). A file without read
    // permission is one more case where file permissions bind this process.
    ScratchFolder dir;
    fs::create_directories(dir / "folder.gif");
    ASSERT_EQ(::mkfifo((dir / "pipe.gif").c_str(), 0644), 0);
    dir.Write("locked.gif", ReadBytes(kSampleGif));
    fs::permissions(dir / "locked.gif", fs::perms::none);
    std::vector<std::pair<std::string, std::string>> cases = {
        {"folder.gif", "is a directory, not a file"},
        {"pipe.gif", "is not a regular file"},
    };
    if (::access((dir / "locked.gif").c_str(), R_OK) != 0) {
        cases.push_back({"locked.gif", "cannot be read (permission denied)"});
    }
    for (const auto& [name, said] : cases) {
        RunResult r = RunPreviewProgram({"--image", name}, dir.path());
        EXPECT_EQ(r.exitCode, 2) << name;
        EXPECT_NE(r.err.find("picture " + name + " " + said), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "preview")) << name;
    }
}

TEST(EndToEnd, InfoDescribesThePictureAndWarnsInPlainWords) {
    ScratchFolder dir;
    dir.Write("odd.gif", GifBuilder(300, 400)
                             .Image(10, 10, 100, 100, 1)  // no control extension
                             .Control(0)
                             .Image(0, 0, 300, 400, 2)
                             .Trailer()
                             .Build());
    RunResult r = RunPreviewProgram({"info", "odd.gif"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* part : {"format: GIF89a", "logical screen: 300x400", "frames: 2",
                             "warning: 1 frame has no graphic control extension (0)",
                             "warning: 1 frame has delay 0 (1)", "the edges are cut",
                             "white shows through", "decode scale: 1"}) {
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    }

    // 64 KiB hold the frames at 1/2 size, but not the drawing surfaces beside them.
    r = RunPreviewProgram({"info", "odd.gif", "--json", "--memory-limit", "64K"}, dir.path());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    Json doc;
    std::string error;
    ASSERT_TRUE(ParseJson(r.out, &doc, &error)) << error;
    EXPECT_EQ(doc["frames"].size(), 2u);
    EXPECT_EQ(doc["frames"][0]["delayCs"].get<double>(), 100) << "no extension: 1 s";
    EXPECT_FALSE(doc["frames"][0]["controlExtension"].get<bool>());
    EXPECT_EQ(doc["memory"].size(), 5u);
    EXPECT_EQ(doc["decodeScale"].get<double>(), 0.5);
    std::vector<std::string> ids;
    for (const Json& w : doc["warnings"]) ids.push_back(w["id"].get<std::string>());
    EXPECT_NE(std::find(ids.begin(), ids.end(), "surfacesDontFit"), ids.end());

    dir.Write("one.gif", GifBuilder(8, 8).Control(10).Image(0, 0, 8, 8, 1).Trailer().Build());
    r = RunPreviewProgram({"info", "one.gif"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("single frame: the device shows nothing"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace preview
