// Bitmap sections for the drawing tests: headers, sections that delete themselves, pixel reads.
#pragma once

#include <cstdint>

#include "platform/draw.h"

namespace platform_test {

inline plat::BITMAPINFO Header(int width, int height, int bitsPerPixel) {
    plat::BITMAPINFO info{};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<std::uint16_t>(bitsPerPixel);
    return info;
}

// A bitmap section with its memory, deleted at the end of the test.
struct Section {
    plat::HBITMAP bitmap = nullptr;
    std::uint8_t* bits = nullptr;
    Section(int width, int height, int bitsPerPixel, std::uint32_t usage = plat::DIB_RGB_COLORS) {
        plat::BITMAPINFO info = Header(width, height, bitsPerPixel);
        void* memory = nullptr;
        bitmap = plat::CreateDIBSection(nullptr, &info, usage, &memory, nullptr, 0);
        bits = static_cast<std::uint8_t*>(memory);
    }
    ~Section() {
        if (bitmap) plat::DeleteObject(bitmap);
    }
};

// Blue, green, red of the pixel at byte offset `at`.
inline std::uint32_t Bgr(const std::uint8_t* at) {
    return at[0] << 16 | at[1] << 8 | at[2];
}

}  // namespace platform_test
