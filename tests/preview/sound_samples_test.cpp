// The recording's sound decoded from the bytes the device accepted: every format the device
// plays, made by sox from one tone, decodes to that tone.
#include "preview/sound_samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "run_program.h"

namespace preview {
namespace {

using namespace preview_test;

std::vector<std::uint8_t> Sox(const ScratchFolder& dir, const std::string& name,
                              const std::string& format, int channels) {
    const std::string path = dir / name;
    const std::string command = "sox -V0 -n -r 8000 -c " + std::to_string(channels) + " " + format +
                                " " + Quote(path) + " synth 0.5 sine 440 vol 0.5";
    if (std::system(command.c_str()) != 0) return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DeviceSound, EachFormatTheDevicePlaysDecodesToTheSameTone) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "sox is not installed (scripts/deps.sh installs it)";
    }
    ScratchFolder dir;
    for (int channels : {1, 2}) {
        DeviceSound reference;
        std::string why;
        ASSERT_TRUE(
            DecodeDeviceSound(Sox(dir, "ref.wav", "-e signed -b 16", channels), &reference, &why))
            << why;
        ASSERT_EQ(reference.samples.size(), 4000u * channels);
        // The tone itself, at half level.
        float peak = 0;
        for (float v : reference.samples) peak = std::max(peak, std::fabs(v));
        EXPECT_NEAR(peak, 0.5, 0.01);

        struct Case {
            const char* format;
            double tolerance;  // RMS difference from the 16-bit PCM
        } const cases[] = {{"-e unsigned -b 8", 0.01},
                           {"-e signed -b 24", 0.001},
                           {"-e signed -b 32", 0.001},
                           {"-e ima-adpcm", 0.03},
                           {"-e ms-adpcm", 0.03}};
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.format) + ", channels " + std::to_string(channels));
            DeviceSound sound;
            ASSERT_TRUE(DecodeDeviceSound(Sox(dir, "test.wav", c.format, channels), &sound, &why))
                << why;
            EXPECT_EQ(sound.channels, channels);
            EXPECT_EQ(sound.sampleRate, 8000);
            // ADPCM blocks may end with a few samples more; compare what both hold.
            ASSERT_GE(sound.samples.size(), reference.samples.size() * 99 / 100);
            const std::size_t n = std::min(sound.samples.size(), reference.samples.size());
            double sum = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const double d = sound.samples[i] - reference.samples[i];
                sum += d * d;
            }
            EXPECT_LT(std::sqrt(sum / n), c.tolerance);
        }
    }
    DeviceSound none;
    std::string why;
    EXPECT_FALSE(DecodeDeviceSound({'R', 'I', 'F', 'F'}, &none, &why));
    EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace preview
