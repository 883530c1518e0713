// Tunelet plays \Windows\startup.wav once, synchronously and without a default sound, and
// reports a file it cannot play in a message box; it always exits with 0.
#include "tunelet/tunelet.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sim/device.h"

namespace {

namespace fs = std::filesystem;

void Put16(std::string* s, std::uint32_t v) {
    s->push_back(static_cast<char>(v & 0xFF));
    s->push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string* s, std::uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A RIFF/WAVE PCM file of 8000 samples per second, mono, 8 bits: `ms` milliseconds of silence.
std::string Wav(std::uint32_t ms) {
    const std::uint32_t data = 8 * ms;
    std::string s = "RIFF";
    Put32(&s, 4 + (8 + 16) + (8 + data));
    s += "WAVEfmt ";
    Put32(&s, 16);
    Put16(&s, 1);     // PCM
    Put16(&s, 1);     // channels
    Put32(&s, 8000);  // samples per second
    Put32(&s, 8000);  // bytes per second
    Put16(&s, 1);     // block alignment
    Put16(&s, 8);     // bits per sample
    s += "data";
    Put32(&s, data);
    s.append(data, '\x80');
    return s;
}

class TuneletTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("bootreel-tunelet-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "Windows");
        plat::sim::DeviceConfig config;
        config.deviceRoot = root_.string();
        plat::sim::Reset(config);
        plat::sim::SetMessageBoxHandler(
            [this](const std::u16string& text, const std::u16string& caption) {
                boxes_.push_back(caption + u": " + text);
            });
    }
    void TearDown() override {
        plat::sim::Reset();
        fs::remove_all(root_);
    }
    void PutStartupWav(const std::string& bytes) {
        std::ofstream(root_ / "Windows" / "startup.wav", std::ios::binary) << bytes;
    }
    int Run() {
        char16_t commandLine[] = u"-ignored /options";
        return TuneletMain(nullptr, nullptr, commandLine, 5);
    }

    fs::path root_;
    std::vector<std::u16string> boxes_;
};

TEST_F(TuneletTest, AValidStartupSoundPlaysToItsEndAndNothingIsShown) {
    PutStartupWav(Wav(750));
    const std::uint64_t start = plat::sim::Now();
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(plat::sim::Now(), start + 750);  // returned only when the sound had ended
    const auto sounds = plat::sim::Sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].path, u"\\Windows\\startup.wav");
    EXPECT_EQ(sounds[0].flags, 0x20002u);
    EXPECT_TRUE(sounds[0].played);
}

TEST_F(TuneletTest, AStartupSoundThatCannotPlayIsReportedOnceWithoutAnyDefaultSound) {
    const struct {
        const char* what;
        bool present;
        std::string bytes;
    } cases[] = {
        {"missing", false, ""},
        {"empty", true, ""},
        {"not a WAV", true, "GIF89a\x01\x00\x01\x00"},
        {"truncated", true, Wav(100).substr(0, 60)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.present) PutStartupWav(c.bytes);
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(boxes_, std::vector<std::u16string>{u"Tunelet 0.1: Cannot find startup.wav"});
        const auto sounds = plat::sim::Sounds();
        ASSERT_EQ(sounds.size(), 1u);
        EXPECT_FALSE(sounds[0].played);
        EXPECT_FALSE(sounds[0].defaultSound);
        boxes_.clear();
        TearDown();
    }
}

#ifdef TUNELET_PROGRAM
#ifndef TUNELET_RUNNER
#define TUNELET_RUNNER ""
#endif
// Runs the built program with the given environment prefix; returns its exit code and what it
// wrote to standard error.
int RunProgram(const std::string& environment, std::string* errors) {
    const fs::path errFile =
        fs::temp_directory_path() / ("bootreel-tunelet-stderr-" + std::to_string(::getpid()));
    const std::string command = environment + " " TUNELET_RUNNER " '" TUNELET_PROGRAM
                                              "' some arguments 2>'" + errFile.string() + "'";
    const int status = std::system(command.c_str());
    std::ifstream in(errFile);
    std::ostringstream text;
    text << in.rdbuf();
    *errors = text.str();
    fs::remove(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(TuneletTest, TheProgramPlaysTheFileUnderTheDeviceRootSilentlyAndExitsWithZero) {
    PutStartupWav(Wav(20));
    std::string errors;
    EXPECT_EQ(RunProgram("BOOTREEL_DEVICE_ROOT='" + root_.string() + "'", &errors), 0);
    EXPECT_EQ(errors, "");
}

TEST_F(TuneletTest, TheProgramPrintsTheMessageBoxLineWhenTheFileIsMissingAndExitsWithZero) {
    std::string errors;
    EXPECT_EQ(RunProgram("BOOTREEL_DEVICE_ROOT='" + root_.string() + "'", &errors), 0);
    EXPECT_EQ(errors, "Tunelet 0.1: Cannot find startup.wav\n");
    PutStartupWav("RIFF");
    EXPECT_EQ(RunProgram("BOOTREEL_DEVICE_ROOT='" + root_.string() + "'", &errors), 0);
    EXPECT_EQ(errors, "Tunelet 0.1: Cannot find startup.wav\n");
    EXPECT_EQ(RunProgram("env -u BOOTREEL_DEVICE_ROOT", &errors), 0);  // no device root at all
    EXPECT_EQ(errors, "Tunelet 0.1: Cannot find startup.wav\n");
}
#endif

}  // namespace
