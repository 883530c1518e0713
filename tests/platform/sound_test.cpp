// The sound service: WAV files by device path, synchronous and background playing on the
// device clock, the default sound, and refusal of files that are not playable PCM WAVE.
#include "platform/sound.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/sim/device.h"
#include "platform/thread.h"

namespace {

namespace fs = std::filesystem;
using plat::SND_ASYNC;
using plat::SND_FILENAME;
using plat::SND_NODEFAULT;

void Put16(std::string* s, std::uint32_t v) {
    s->push_back(static_cast<char>(v & 0xFF));
    s->push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string* s, std::uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

struct WavSpec {
    std::uint16_t format = 1;  // PCM
    std::uint16_t channels = 1;
    std::uint32_t rate = 8000;
    std::uint16_t bits = 8;
    std::uint32_t frames = 4000;  // 500 ms at 8000 per second
};

// A RIFF/WAVE file: "RIFF" size "WAVE", a 16-byte "fmt " chunk, a "data" chunk of silence.
std::string Wav(const WavSpec& w = WavSpec()) {
    const std::uint32_t block = w.channels * (w.bits / 8);
    const std::uint32_t data = w.frames * block;
    std::string s = "RIFF";
    Put32(&s, 4 + (8 + 16) + (8 + data));
    s += "WAVEfmt ";
    Put32(&s, 16);
    Put16(&s, w.format);
    Put16(&s, w.channels);
    Put32(&s, w.rate);
    Put32(&s, w.rate * block);
    Put16(&s, block);
    Put16(&s, w.bits);
    s += "data";
    Put32(&s, data);
    s.append(data, '\0');
    return s;
}

class SoundTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("bootreel-sound-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "Windows");
        plat::sim::DeviceConfig config;
        config.deviceRoot = root_.string();
        plat::sim::Reset(config);
    }
    void TearDown() override {
        plat::sim::Reset();
        fs::remove_all(root_);
    }
    void Put(const std::string& name, const std::string& bytes) {
        std::ofstream(root_ / "Windows" / name, std::ios::binary) << bytes;
    }

    fs::path root_;
};

TEST_F(SoundTest, PlayingSynchronouslyTakesTheFilesDurationOnTheDeviceClock) {
    Put("startup.wav", Wav());
    const std::uint64_t start = plat::sim::Now();
    EXPECT_TRUE(plat::PlaySound(u"\\WINDOWS\\Startup.wav", nullptr, SND_FILENAME | SND_NODEFAULT));
    EXPECT_EQ(plat::sim::Now(), start + 500);
    const auto sounds = plat::sim::Sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].path, u"\\WINDOWS\\Startup.wav");
    EXPECT_EQ(sounds[0].hostPath, (root_ / "Windows" / "startup.wav").string());
    EXPECT_EQ(sounds[0].flags, 0x20002u);
    EXPECT_TRUE(sounds[0].played);
    EXPECT_FALSE(sounds[0].defaultSound);
    EXPECT_EQ(sounds[0].startedAtMs, start);
    EXPECT_EQ(sounds[0].endedAtMs, start + 500);
}

TEST_F(SoundTest, DurationsFollowRateChannelsAndSampleSize) {
    // 44100 stereo 16-bit, 22050 frames: 500 ms; 11025 mono, 1 frame: rounded up to 1 ms.
    Put("a.wav", Wav({1, 2, 44100, 16, 22050}));
    Put("b.wav", Wav({1, 1, 11025, 8, 1}));
    EXPECT_TRUE(plat::sndPlaySound(u"\\Windows\\a.wav", 0));
    EXPECT_TRUE(plat::sndPlaySound(u"\\Windows\\b.wav", 0));
    const auto sounds = plat::sim::Sounds();
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[0].endedAtMs - sounds[0].startedAtMs, 500u);
    EXPECT_EQ(sounds[1].endedAtMs - sounds[1].startedAtMs, 1u);
}

TEST_F(SoundTest, PlayingInTheBackgroundReturnsAtOnceAndANewSoundCutsTheOldOneShort) {
    Put("startup.wav", Wav());
    const std::uint64_t start = plat::sim::Now();
    EXPECT_TRUE(plat::sndPlaySound(u"\\Windows\\startup.wav", SND_ASYNC));
    EXPECT_EQ(plat::sim::Now(), start);
    plat::Sleep(100);
    EXPECT_TRUE(plat::PlaySound(u"\\Windows\\startup.wav", nullptr, SND_FILENAME | SND_ASYNC));
    const auto sounds = plat::sim::Sounds();
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[0].flags, SND_ASYNC);
    EXPECT_EQ(sounds[0].endedAtMs, start + 100);
    EXPECT_EQ(sounds[1].startedAtMs, start + 100);
    EXPECT_EQ(sounds[1].endedAtMs, start + 600);
}

TEST_F(SoundTest, UnplayableFilesFailWithoutSoundOrDelay) {
    std::string truncatedData = Wav();
    truncatedData.resize(truncatedData.size() - 1);
    std::string riffTooLong = Wav();
    riffTooLong.resize(30);
    std::string noData = Wav();
    noData.resize(36);
    noData[4] = 28;  // RIFF size of "WAVE" + the format chunk alone
    noData[5] = noData[6] = noData[7] = 0;
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"not a WAV", "hello, world"},
        {"cut inside the format chunk", riffTooLong},
        {"cut inside the data chunk", truncatedData},
        {"no data chunk", noData},
        {"floating-point samples", Wav({3, 1, 8000, 32, 10})},
        {"no channels", Wav({1, 0, 8000, 8, 10})},
        {"12-bit samples", Wav({1, 1, 8000, 12, 10})},
        {"absurd rate", Wav({1, 1, 5, 8, 10})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        plat::sim::DeviceConfig config;
        config.deviceRoot = root_.string();
        plat::sim::Reset(config);
        Put("bad.wav", c.bytes);
        const std::uint64_t start = plat::sim::Now();
        EXPECT_FALSE(plat::PlaySound(u"\\Windows\\bad.wav", nullptr, SND_FILENAME | SND_NODEFAULT));
        EXPECT_EQ(plat::sim::Now(), start);
        const auto sounds = plat::sim::Sounds();
        ASSERT_EQ(sounds.size(), 1u);
        EXPECT_FALSE(sounds[0].played);
        EXPECT_FALSE(sounds[0].defaultSound);
        EXPECT_EQ(sounds[0].endedAtMs, sounds[0].startedAtMs);
    }
}

// Pieces of hand-made WAV files: little-endian numbers, chunks, the RIFF header.
std::string Le(std::uint32_t value, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return s;
}
std::string Chunk(const std::string& id, const std::string& body, bool pad = true,
                  std::uint32_t size = 0) {
    std::string s = id + Le(size != 0 ? size : static_cast<std::uint32_t>(body.size()), 4) + body;
    if (pad && body.size() % 2 == 1) s.push_back('\0');
    return s;
}
// A format chunk; `extra` follows its size word when not empty.
std::string Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t align,
                std::uint16_t bits, const std::string& extra = "") {
    std::string body = Le(tag, 2) + Le(channels, 2) + Le(rate, 4) + Le(rate * align, 4) +
                       Le(align, 2) + Le(bits, 2);
    if (!extra.empty()) body += Le(static_cast<std::uint32_t>(extra.size()), 2) + extra;
    return Chunk("fmt ", body);
}
// "RIFF", its size (the true one unless given), "WAVE", the chunks.
std::string Riff(const std::string& chunks, std::int64_t size = -1) {
    const auto riffSize = static_cast<std::uint32_t>(size >= 0 ? size : 4 + chunks.size());
    return "RIFF" + Le(riffSize, 4) + "WAVE" + chunks;
}
// The extensible format's extra bytes: valid bits, channel mask, sub-format (1 PCM, 3 float).
std::string Extensible(std::uint16_t validBits, std::uint32_t subFormat) {
    return Le(validBits, 2) + Le(0, 4) + Le(subFormat, 4) +
           std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
}
std::string MsCoefficients(int pairs) {
    std::string s = Le(static_cast<std::uint32_t>(pairs), 2);
    for (int i = 0; i < pairs; ++i) s += Le(256, 2) + Le(0, 2);
    return s;
}

TEST_F(SoundTest, PlaysWhatTheDevicesDriverPlaysAndSaysWhyItRefusesTheRest) {
    const std::string pcm = Fmt(1, 1, 8000, 1, 8);
    const std::string samples(4000, '\x80');  // 500 ms of 8-bit mono at 8000 per second
    const std::string ima = Fmt(0x11, 1, 8000, 256, 4, Le(505, 2));  // 505 samples a block
    const std::string ms = Fmt(2, 2, 8000, 512, 4, Le(500, 2) + MsCoefficients(7));
    const std::string blocks(8 * 256, '\0');
    const struct {
        const char* what;
        std::string bytes;
        std::uint64_t durationMs;  // 0: refused
        const char* problem;       // part of the reason given
    } cases[] = {
        {"extensible PCM, 24 bits in stereo",
         Riff(Fmt(0xFFFE, 2, 44100, 6, 24, Extensible(24, 1)) +
              Chunk("data", std::string(22050 * 6, '\0'))),
         500, ""},
        {"IMA ADPCM, length from the fact chunk",
         Riff(ima + Chunk("fact", Le(4000, 4)) + Chunk("data", blocks)), 500, ""},
        {"IMA ADPCM without a fact chunk: 8 blocks of 505 samples",
         Riff(Fmt(0x11, 1, 8080, 256, 4, Le(505, 2)) + Chunk("data", blocks)), 500, ""},
        {"MS ADPCM in stereo, 8 blocks of 500 samples",
         Riff(ms + Chunk("data", std::string(8 * 512, '\0'))), 500, ""},
        {"RIFF size 0", Riff(pcm + Chunk("data", samples), 0), 500, ""},
        {"RIFF and data sizes 0xFFFFFFFF",
         Riff(pcm + Chunk("data", samples, true, 0xFFFFFFFF), 0xFFFFFFFF), 500, ""},
        {"odd-sized chunk without its pad byte",
         Riff(pcm + Chunk("LIST", "INFOx", false) + Chunk("data", samples)), 500, ""},
        {"odd-sized last chunk without its pad byte, counted in the RIFF size",
         [&] {
             const std::string chunks = pcm + Chunk("data", samples + "\x80", false);
             return Riff(chunks, static_cast<std::int64_t>(4 + chunks.size() + 1));
         }(),
         501, ""},
        {"extensible floating point",
         Riff(Fmt(0xFFFE, 1, 8000, 4, 32, Extensible(32, 3)) +
              Chunk("data", std::string(400, '\0'))),
         0, "not PCM"},
        {"MPEG layer 3", Riff(Fmt(0x55, 1, 8000, 1, 0) + Chunk("data", samples)), 0,
         "format 0x0055"},
        {"IMA ADPCM whose samples per block do not fit its blocks",
         Riff(Fmt(0x11, 1, 8000, 256, 4, Le(600, 2)) + Chunk("data", blocks)), 0, "disagree"},
        {"MS ADPCM without its coefficients",
         Riff(Fmt(2, 1, 8000, 256, 4, Le(500, 2)) + Chunk("data", blocks)), 0, "coefficient"},
        {"data cut short", Riff(pcm + Chunk("data", samples)).substr(0, 100), 0, "shorter"},
        {"data size past the end", Riff(pcm + Chunk("data", samples, true, 5000), 4000 + 36), 0,
         "past the end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        plat::sim::DeviceConfig config;
        config.deviceRoot = root_.string();
        plat::sim::Reset(config);
        Put("s.wav", c.bytes);
        EXPECT_EQ(plat::PlaySound(u"\\Windows\\s.wav", nullptr, SND_FILENAME | SND_NODEFAULT),
                  c.durationMs != 0);
        const auto sounds = plat::sim::Sounds();
        ASSERT_EQ(sounds.size(), 1u);
        EXPECT_EQ(sounds[0].endedAtMs - sounds[0].startedAtMs, c.durationMs);
        EXPECT_NE(sounds[0].problem.find(c.problem), std::string::npos) << sounds[0].problem;
        EXPECT_EQ(sounds[0].problem.empty(), c.durationMs != 0) << sounds[0].problem;
    }
}

TEST_F(SoundTest, AMissingFilePlaysTheDefaultSoundUnlessForbiddenAndStillFails) {
    const std::uint64_t start = plat::sim::Now();
    EXPECT_FALSE(plat::PlaySound(u"\\Windows\\missing.wav", nullptr, SND_FILENAME | SND_NODEFAULT));
    EXPECT_EQ(plat::sim::Now(), start);
    EXPECT_FALSE(plat::PlaySound(u"\\Windows\\missing.wav", nullptr, SND_FILENAME));
    const auto sounds = plat::sim::Sounds();
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_FALSE(sounds[0].defaultSound);
    EXPECT_EQ(sounds[0].hostPath, "");
    EXPECT_FALSE(sounds[1].played);
    EXPECT_TRUE(sounds[1].defaultSound);
    EXPECT_GT(sounds[1].endedAtMs, sounds[1].startedAtMs);
    EXPECT_EQ(plat::sim::Now(), sounds[1].endedAtMs);  // synchronous: the default sound ended
}

TEST_F(SoundTest, WithoutTheFileNameFlagTheTextNamesASystemSoundNoneOfWhichExist) {
    Put("startup.wav", Wav());
    EXPECT_FALSE(plat::PlaySound(u"\\Windows\\startup.wav", nullptr, SND_NODEFAULT));
    EXPECT_FALSE(plat::sim::Sounds().at(0).played);
}

TEST_F(SoundTest, TheObserverHearsEachSoundThatStartsWithItsBytes) {
    const std::string wav = Wav({1, 1, 8000, 8, 80});
    Put("startup.wav", wav);
    std::vector<std::pair<bool, std::size_t>> heard;
    plat::sim::SetSoundObserver(
        [&](const plat::sim::SoundRecord& r, const std::vector<std::uint8_t>& bytes) {
            heard.emplace_back(r.defaultSound, bytes.size());
        });
    plat::sndPlaySound(u"\\Windows\\startup.wav", SND_ASYNC);
    plat::sndPlaySound(u"\\Windows\\missing.wav", SND_ASYNC | SND_NODEFAULT);
    plat::sndPlaySound(u"\\Windows\\missing.wav", SND_ASYNC);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0], std::make_pair(false, wav.size()));
    EXPECT_TRUE(heard[1].first);
    EXPECT_GT(heard[1].second, 44u);
}

}  // namespace
