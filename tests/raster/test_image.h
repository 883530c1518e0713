// A CImgData laid over the test's own memory, so that compositor tests need no bitmap sections:
// the colour plane handle is a dummy that is never deleted, and the pointers are cleared again
// before the CImgData destructor runs.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/image.h"

namespace br::test {

class TestImage {
  public:
    // width x height pixels of `bytesPerPixel` bytes (1: palette indices), rows padded as the
    // image containers pad them plus `extraPadding` bytes; a mask plane when `withMask`.
    TestImage(std::int32_t width, std::int32_t height, std::uint8_t bytesPerPixel,
              bool withMask = false, std::int32_t extraPadding = 0) {
        const std::int32_t padding = (4 - (width * bytesPerPixel) % 4) % 4 + extraPadding;
        rowLength_ = width * bytesPerPixel + padding;
        maskRowLength_ = (width + 3) / 4 * 4;
        colour_.assign(static_cast<std::size_t>(rowLength_) * height + 1, 0xEE);
        data.width = width;
        data.height = height;
        data.rowPadding = padding;
        data.bytesPerPixel = bytesPerPixel;
        data.colorBitmap = reinterpret_cast<plat::HBITMAP>(&colour_);  // present, never deleted
        data.colorBitmapBorrowed = 1;
        data.colorBits = colour_.data();
        if (withMask) {
            mask_.assign(static_cast<std::size_t>(maskRowLength_) * height + 1, 0);
            data.maskBits = mask_.data();
        }
        if (bytesPerPixel == 1) {
            palette_.version = kPaletteVersion;
            palette_.count = 256;
            for (int i = 0; i < 256; ++i) palette_.entries[i] = PaletteEntry{0, 0, 0, 0};
            data.ownsPalette = false;
            data.palette = &palette_;
        }
    }
    ~TestImage() {
        data.colorBitmap = nullptr;
        data.colorBits = nullptr;
        data.maskBits = nullptr;
        data.palette = nullptr;
    }
    TestImage(const TestImage&) = delete;
    TestImage& operator=(const TestImage&) = delete;

    std::uint8_t* Pixel(std::int32_t column, std::int32_t row) {
        return colour_.data() + row * rowLength_ + column * data.bytesPerPixel;
    }
    void SetIndex(std::int32_t column, std::int32_t row, std::uint8_t index) {
        *Pixel(column, row) = index;
    }
    void SetColour(std::int32_t column, std::int32_t row, std::uint8_t blue, std::uint8_t green,
                   std::uint8_t red) {
        std::uint8_t* p = Pixel(column, row);
        p[0] = blue;
        p[1] = green;
        p[2] = red;
    }
    void SetMask(std::int32_t column, std::int32_t row, std::uint8_t value) {
        mask_[static_cast<std::size_t>(row * maskRowLength_ + column)] = value;
    }
    void SetPalette(int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
        palette_.entries[index] = PaletteEntry{red, green, blue, 0};
    }

    CImgData data;

  private:
    std::int32_t rowLength_ = 0;
    std::int32_t maskRowLength_ = 0;
    std::vector<std::uint8_t> colour_;
    std::vector<std::uint8_t> mask_;
    PaletteRecord palette_{};
};

// A 24-bit destination of width x height pixels with rowSkip spare pixels after each row,
// surrounded by guard bytes that no call may touch.
class Destination {
  public:
    static constexpr std::size_t kGuard = 64;
    static constexpr std::uint8_t kGuardByte = 0xA5;

    Destination(std::int32_t width, std::int32_t height, std::int32_t rowSkip = 0)
        : width_(width), rowSkip_(rowSkip) {
        const std::size_t inner =
            static_cast<std::size_t>(3) * (width + rowSkip) * static_cast<std::size_t>(height);
        bytes_.assign(inner + 2 * kGuard, kGuardByte);
        for (std::size_t i = 0; i < inner; ++i)
            bytes_[kGuard + i] = static_cast<std::uint8_t>(i * 7 + 1);
    }

    std::uint8_t* Pixels() { return bytes_.data() + kGuard; }
    // Address of pixel (x, y), relative to the destination's top-left.
    std::uint8_t* At(std::int32_t x, std::int32_t y) {
        return Pixels() + 3 * (static_cast<std::ptrdiff_t>(y) * (width_ + rowSkip_) + x);
    }
    // The pixel as 0xRRGGBB for readable comparisons.
    std::uint32_t Colour(std::int32_t x, std::int32_t y) {
        const std::uint8_t* p = At(x, y);
        return static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 |
               p[0];
    }
    void Fill(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
        for (std::size_t i = kGuard; i + kGuard < bytes_.size(); i += 3) {
            bytes_[i] = blue;
            bytes_[i + 1] = green;
            bytes_[i + 2] = red;
        }
    }
    bool GuardsIntact() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (bytes_[i] != kGuardByte || bytes_[bytes_.size() - 1 - i] != kGuardByte)
                return false;
        }
        return true;
    }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  private:
    std::int32_t width_;
    std::int32_t rowSkip_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace br::test
