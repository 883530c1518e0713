// What bootreel-preview says about faults in a device maker's files (the registry, the sound,
// the picture's blocks) and how it treats its output folder when a run is interrupted or
// cannot write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "gif_builder.h"
#include "preview/json.h"
#include "run_program.h"

namespace preview {
namespace {

using namespace preview_test;

const std::string kSampleGif = std::string(PREVIEW_SAMPLES_DIR) + "/boot.gif";
const std::string kSampleWav = std::string(PREVIEW_SAMPLES_DIR) + "/boot.wav";

std::string Reg(const std::string& mode, const std::string& values,
                const std::string& soundLevel = "") {
    std::string text =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Korvel\\" +
        mode + "]\n" + values;
    if (!soundLevel.empty()) {
        text += "\n[HKEY_CURRENT_USER\\ControlPanel\\SoundCategories\\System]\n\"InitVol\"=" +
                soundLevel + "\n";
    }
    return text;
}

std::vector<std::string> WarningIds(const Json& timeline) {
    std::vector<std::string> ids;
    for (const Json& w : timeline["warnings"]) ids.push_back(w["id"].get<std::string>());
    return ids;
}

TEST(Diagnostics, RegistryAndSoundFaultsSayWhatTheDeviceDoesAndWhere) {
    ScratchFolder dir;
    fs::create_directories(dir / "root/Storage");
    fs::copy_file(kSampleGif, dir / "root/Storage/boot.gif");
    fs::copy_file(kSampleWav, dir / "root/Storage/boot.wav");
    // IMA ADPCM: a WAV the sound service refuses.
    dir.Write("root/Storage/adpcm.wav",
              std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x11\0\x01\0\x40\x1f\0\0\x80\x3e\0\0"
                          "\x02\0\x04\0data\0\0\0\0",
                          44));
    // A file name of 260 bytes in a device path of 139 characters.
    std::string longName;
    for (int i = 0; i < 128; ++i) longName += "\xC3\xA9";
    const std::string image = "\"Image\"=\"\\\\Storage\\\\boot.gif\"\n";
    const std::string sound = "\"WAV\"=\"\\\\Storage\\\\boot.wav\"\n";
    struct Case {
        const char* name;
        std::string mode, reg;
        int exitCode;
        const char* errPart;    // in the one-line reason on standard error
        const char* warningId;  // among the timeline's warnings
    } const cases[] = {
        {"no key", "Startup", Reg("Other", image), 1,
         "no key HKEY_LOCAL_MACHINE\\Software\\Korvel\\Startup", "noSoundPath"},
        {"no value", "Startup", Reg("Startup", sound), 1, "has no value Image", nullptr},
        {"wrong type", "Startup", Reg("Startup", "\"Image\"=dword:1\n"), 1,
         "Image under HKEY_LOCAL_MACHINE\\Software\\Korvel\\Startup is of type REG_DWORD (4), "
         "not the string type REG_SZ (1)",
         nullptr},
        {"too long", "Startup", Reg("Startup", "\"Image\"=\"\\\\" + std::string(600, 'a') + "\"\n"),
         1, "holds 601 characters; the device's path holds at most 259 characters", nullptr},
        {"name too long for the host", "Startup",
         Reg("Startup", "\"Image\"=\"\\\\Storage\\\\" + longName + ".gif\"\n"), 1,
         "cannot exist on this computer's file system", nullptr},
        {"lone surrogate", "Startup",
         Reg("Startup", "\"Image\"=hex(1):5c,00,41,00,00,d8,42,00,00,00\n"), 1,
         "\\A\xEF\xBF\xBD"
         "B (the value Image",
         nullptr},
        {"sound not on the device", "Startup",
         Reg("Startup", image + "\"WAV\"=\"\\\\Storage\\\\none.wav\"\n", "dword:1"), 0, nullptr,
         "soundMissing"},
        {"no InitVol", "Startup", Reg("Startup", image + sound), 0, nullptr, "soundSilenced"},
        {"InitVol of another type", "Startup", Reg("Startup", image + sound, "\"5\""), 0, nullptr,
         "soundSilenced"},
        {"unplayable sound", "Startup",
         Reg("Startup", image + "\"WAV\"=\"\\\\Storage\\\\adpcm.wav\"\n", "dword:1"), 0, nullptr,
         "soundUnplayable"},
        {"shut-down without sound", "shutdown", Reg("Shutdown", image), 0, nullptr,
         "noShutdownEvent"},
    };
    for (const Case& c : cases) {
        dir.Write("device.reg", c.reg);
        RunResult r = RunPreviewProgram(
            {"--registry", "device.reg", "--device-root", "root", "--mode", c.mode}, dir.path());
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.out << r.err;
        if (c.errPart) {
            EXPECT_NE(r.err.find(c.errPart), std::string::npos) << c.name << ": " << r.err;
        }
        Json timeline;
        std::string error;
        ASSERT_TRUE(ParseJson(ReadText(dir / "preview/timeline.json"), &timeline, &error))
            << c.name << ": " << error;
        if (c.warningId) {
            const auto ids = WarningIds(timeline);
            EXPECT_NE(std::find(ids.begin(), ids.end(), c.warningId), ids.end()) << c.name;
            EXPECT_NE(r.out.find("warning: "), std::string::npos) << c.name;
        }
    }
}

TEST(Diagnostics, WarningsComeOnceBeforeTheSummaryAndTheReasonOnceAtTheEnd) {
    ScratchFolder dir;
    dir.Write("logo.png", std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    const std::string command = "cd " + Quote(dir.path().string()) + " && " + Quote(PREVIEW_EXE) +
                                " --image logo.png >all.txt 2>&1 </dev/null";
    ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
    const std::string all = ReadText(dir / "all.txt");
    const std::string reason = "the device decodes only GIF";
    ASSERT_NE(all.find(reason), std::string::npos) << all;
    EXPECT_EQ(all.find(reason), all.rfind(reason)) << "said once:\n" << all;
    EXPECT_LT(all.find("warning: No sound"), all.find("the device would show nothing")) << all;
    EXPECT_GT(all.find(reason), all.find("wrote preview/")) << "the reason comes last:\n" << all;
}

TEST(Diagnostics, InfoChecksSoundsAndNamesASeparatedControlBlock) {
    ScratchFolder dir;
    dir.Write("magick.gif", GifBuilder(8, 8)
                                .Control(20)
                                .Loop(0)  // where ImageMagick writes it
                                .Image(0, 0, 8, 8, 1)
                                .Control(20)
                                .Image(0, 0, 8, 8, 2)
                                .Trailer()
                                .Build());
    dir.Write("adpcm.wav", std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x11\0\x01\0\x40\x1f\0\0"
                                       "\x80\x3e\0\0\x02\0\x04\0data\0\0\0\0",
                                       44));
    RunResult r = RunPreviewProgram({"info", "magick.gif"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("separated from the image by the loop extension"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("no graphic control extension"), std::string::npos) << r.out;

    // Damaged image data: the decoder's location numbers are given once.
    Bytes damaged = GifBuilder(16, 16).Build();
    damaged.insert(damaged.end(), {0x2C, 0, 0, 0, 0, 16, 0, 16, 0, 0, 2, 2, 0xFF, 0xFF, 0, 0x3B});
    dir.Write("damaged.gif", damaged);
    r = RunPreviewProgram({"info", "damaged.gif"}, dir.path());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::size_t at = r.out.find("location ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::string location = r.out.substr(at + 9, r.out.find(')', at) - at - 9);
    EXPECT_EQ(r.out.find(location), r.out.rfind(location)) << r.out;

    r = RunPreviewProgram({"info", kSampleWav}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("400 ms"), std::string::npos) << r.out;
    r = RunPreviewProgram({"info", "magick.gif", "--sound", "adpcm.wav", "--json"}, dir.path());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    Json doc;
    std::string error;
    ASSERT_TRUE(ParseJson(r.out, &doc, &error)) << error;
    EXPECT_FALSE(doc["sound"]["playable"].get<bool>());
    EXPECT_TRUE(doc["deviceShowsAnimation"].get<bool>());
    EXPECT_NE(doc["verdict"].get<std::string>().find("cannot play the sound"), std::string::npos);
}

TEST(Diagnostics, AnImageWhoseNameTheDeviceRefusesIsPlacedUnderAPlainName) {
    ScratchFolder dir;
    fs::copy_file(kSampleGif, dir / "logo: \"v2\" <final>|.gif");
    RunResult r = RunPreviewProgram({"--image", "logo: \"v2\" <final>|.gif"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    Json timeline;
    std::string error;
    ASSERT_TRUE(ParseJson(ReadText(dir / "preview/timeline.json"), &timeline, &error)) << error;
    EXPECT_EQ(timeline["imagePath"].get<std::string>(), "\\Storage\\logo_ _v2_ _final__.gif");
}

TEST(Diagnostics, AFailedWriteGivesTheSystemsReasonItsOwnExitCodeAndLeavesNothing) {
    ScratchFolder dir;
    // Files of at most 20 KiB: the frames cannot be written.
    RunResult r = RunPreviewProgram({}, dir.path(), "trap '' XFSZ; ulimit -f 20 &&");
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".partial"), std::string::npos) << "names --out, not the staging folder";
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find("preview"), std::string::npos)
            << entry.path();
    }
}

TEST(Diagnostics, AnInterruptedRunLeavesNothingAndTheNextRunClearsWhatADeadOneLeft) {
    ScratchFolder dir;
    fs::create_directories(dir / "tmp");
    // What a killed run leaves: a staging folder and a temporary device root.
    fs::create_directories(dir / ".preview.partial-999999999");
    dir.Write(".preview.partial-999999999/.bootreel-preview", "bootreel-preview output folder\n");
    fs::create_directories(dir / "tmp/bootreel-preview-999999999-AbCdEf/Storage");
    RunResult r =
        RunPreviewProgram({"--image", kSampleGif}, dir.path(), "TMPDIR=" + Quote(dir / "tmp"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir / ".preview.partial-999999999"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));

    // A long show, stopped while its temporary device root exists.
    GifBuilder gif(240, 320);
    for (int i = 0; i < 300; ++i) gif.Control(2).Image(0, 0, 240, 320, i % 4);
    dir.Write("long.gif", gif.Trailer().Build());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
        if (::chdir(dir.path().c_str()) == 0) {
            ::execl(PREVIEW_EXE, PREVIEW_EXE, "--image", "long.gif", "--out", "long",
                    static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    // Until the temporary device root exists (or the program has ended, which fails below).
    siginfo_t ended{};
    while (fs::is_empty(dir / "tmp") &&
           ::waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           ended.si_pid == 0) {
        std::this_thread::yield();
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "no temporary device root";
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
        EXPECT_NE(entry.path().filename().string(), "long");
    }
}

}  // namespace
}  // namespace preview
