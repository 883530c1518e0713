// Builds small GIF files for the tests, block by block, so that each test shows the structure
// it is about (a frame without a graphic control extension, a cut-off stream, ...).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace preview_test {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes* b, int v) {
    b->push_back(static_cast<std::uint8_t>(v & 0xFF));
    b->push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

// GIF LZW for 2-bit pixels (minimum code size 2), with a clear code whenever the table fills.
inline Bytes LzwEncode(const Bytes& pixels) {
    const int minSize = 2, clear = 4, end = 5;
    Bytes out;
    std::uint32_t acc = 0;
    int bits = 0;
    auto emit = [&](int code, int width) {
        acc |= static_cast<std::uint32_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<std::uint8_t>(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    };
    int width = minSize + 1, next = end + 1;
    std::map<std::pair<int, int>, int> table;
    emit(clear, width);
    int prefix = -1;
    for (std::uint8_t p : pixels) {
        if (prefix < 0) {
            prefix = p;
            continue;
        }
        auto it = table.find({prefix, p});
        if (it != table.end()) {
            prefix = it->second;
            continue;
        }
        emit(prefix, width);
        if (next < 4096) {
            table[{prefix, p}] = next++;
            if (next > (1 << width) && width < 12) ++width;
        } else {
            emit(clear, width);
            table.clear();
            next = end + 1;
            width = minSize + 1;
        }
        prefix = p;
    }
    if (prefix >= 0) emit(prefix, width);
    emit(end, width);
    if (bits) out.push_back(static_cast<std::uint8_t>(acc & 0xFF));
    return out;
}

class GifBuilder {
  public:
    // Header and logical screen descriptor with a 4-colour global table: white, black, red,
    // green.
    GifBuilder(int width, int height) {
        for (char c : std::string("GIF89a")) bytes_.push_back(static_cast<std::uint8_t>(c));
        Put16(&bytes_, width);
        Put16(&bytes_, height);
        bytes_.push_back(0x80 | 0x01);  // global table of 2^(1+1) entries
        bytes_.push_back(0);            // background index
        bytes_.push_back(0);            // pixel aspect
        for (int v : {255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0}) {
            bytes_.push_back(static_cast<std::uint8_t>(v));
        }
    }
    // Graphic control extension.
    GifBuilder& Control(int delayCs, int disposal = 1, int transparent = -1) {
        bytes_.insert(bytes_.end(), {0x21, 0xF9, 0x04});
        bytes_.push_back(static_cast<std::uint8_t>((disposal << 2) | (transparent >= 0 ? 1 : 0)));
        Put16(&bytes_, delayCs);
        bytes_.push_back(static_cast<std::uint8_t>(transparent >= 0 ? transparent : 0));
        bytes_.push_back(0);
        return *this;
    }
    // NETSCAPE2.0 application extension with a loop count.
    GifBuilder& Loop(int count) {
        bytes_.insert(bytes_.end(), {0x21, 0xFF, 0x0B});
        for (char c : std::string("NETSCAPE2.0")) bytes_.push_back(static_cast<std::uint8_t>(c));
        bytes_.insert(bytes_.end(), {0x03, 0x01});
        Put16(&bytes_, count);
        bytes_.push_back(0);
        return *this;
    }
    // Image descriptor and data, every pixel `colour`.
    GifBuilder& Image(int left, int top, int width, int height, int colour) {
        bytes_.push_back(0x2C);
        Put16(&bytes_, left);
        Put16(&bytes_, top);
        Put16(&bytes_, width);
        Put16(&bytes_, height);
        bytes_.push_back(0);  // no local table, not interlaced
        bytes_.push_back(2);  // LZW minimum code size
        Bytes data = LzwEncode(
            Bytes(static_cast<std::size_t>(width) * height, static_cast<std::uint8_t>(colour)));
        for (std::size_t i = 0; i < data.size(); i += 255) {
            const std::size_t n = std::min<std::size_t>(255, data.size() - i);
            bytes_.push_back(static_cast<std::uint8_t>(n));
            bytes_.insert(bytes_.end(), data.begin() + static_cast<long>(i),
                          data.begin() + static_cast<long>(i + n));
        }
        bytes_.push_back(0);
        return *this;
    }
    GifBuilder& Trailer() {
        bytes_.push_back(0x3B);
        return *this;
    }
    Bytes Build() const { return bytes_; }

  private:
    Bytes bytes_;
};

}  // namespace preview_test
