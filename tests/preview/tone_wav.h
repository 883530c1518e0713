// A plain test sound: a 440 Hz tone at half level from its first sample to its last, 16-bit
// mono PCM at 8 kHz, so a test can tell exactly where in a recording the sound lies.
#pragma once

#include <cmath>
#include <cstdint>

#include "gif_builder.h"

namespace preview_test {

inline Bytes ToneWav(int ms) {
    const std::uint32_t samples = static_cast<std::uint32_t>(ms) * 8;
    Bytes w;
    auto u32 = [&w](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) w.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&w](std::uint16_t v) {
        w.push_back(static_cast<std::uint8_t>(v));
        w.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    w.insert(w.end(), {'R', 'I', 'F', 'F'});
    u32(36 + samples * 2);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(16000);
    u16(2);
    u16(16);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    u32(samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i) {
        u16(static_cast<std::uint16_t>(
            static_cast<std::int16_t>(16000 * std::sin(2 * M_PI * 440 * i / 8000.0))));
    }
    return w;
}

}  // namespace preview_test
