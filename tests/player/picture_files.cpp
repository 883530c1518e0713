// See picture_files.h.
#include "picture_files.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <utility>

namespace showtest {

namespace {

// Entries 0..8 belong to kLetters; 8 (transparent) has a colour no test expects to see.
const Rgb kPalette[16] = {
    {255, 255, 255}, {0, 0, 0},     {255, 0, 0},  {0, 255, 0}, {0, 0, 255}, {255, 255, 0},
    {0, 255, 255},   {255, 0, 255}, {10, 20, 30}, {0, 0, 0},   {0, 0, 0},   {0, 0, 0},
    {0, 0, 0},       {0, 0, 0},     {0, 0, 0},    {0, 0, 0},
};

std::uint8_t IndexOf(char letter) {
    const char* at = std::strchr(kLetters, letter);
    if (at == nullptr || letter == '\0') throw std::invalid_argument("unknown colour letter");
    return static_cast<std::uint8_t>(at - kLetters);
}

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// LSB-first packing of LZW codes into GIF data sub-blocks.
class CodeWriter {
  public:
    void Write(unsigned code, int width) {
        buffer_ |= static_cast<std::uint32_t>(code) << count_;
        count_ += width;
        while (count_ >= 8) {
            bytes_.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
            buffer_ >>= 8;
            count_ -= 8;
        }
    }
    void Finish(std::vector<std::uint8_t>& out) {
        if (count_ > 0) bytes_.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
        for (std::size_t at = 0; at < bytes_.size(); at += 255) {
            const std::size_t n = std::min<std::size_t>(255, bytes_.size() - at);
            out.push_back(static_cast<std::uint8_t>(n));
            out.insert(out.end(), bytes_.begin() + at, bytes_.begin() + at + n);
        }
        out.push_back(0);  // block terminator
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint32_t buffer_ = 0;
    int count_ = 0;
};

}  // namespace

std::vector<std::uint8_t> MakeGif(int width, int height, const std::vector<GifFrame>& frames) {
    std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    // Logical screen descriptor: global table of 16 entries, background index 0.
    Put16(out, width);
    Put16(out, height);
    out.push_back(0xF3);
    out.push_back(0);
    out.push_back(0);
    for (const Rgb& c : kPalette) {
        out.push_back(c.r);
        out.push_back(c.g);
        out.push_back(c.b);
    }
    for (const GifFrame& frame : frames) {
        const int frameHeight = static_cast<int>(frame.rows.size());
        const int frameWidth = frameHeight > 0 ? static_cast<int>(frame.rows[0].size()) : 0;
        bool transparent = false;
        for (const std::string& row : frame.rows) {
            transparent = transparent || row.find('.') != std::string::npos;
        }
        // Graphic control extension: disposal, transparency flag, delay, transparent index.
        out.insert(out.end(), {0x21, 0xF9, 0x04});
        out.push_back(static_cast<std::uint8_t>((frame.disposal & 7) << 2 | (transparent ? 1 : 0)));
        Put16(out, frame.delay);
        out.push_back(kTransparentIndex);
        out.push_back(0);
        // Image descriptor, no local table.
        out.push_back(0x2C);
        Put16(out, frame.left);
        Put16(out, frame.top);
        Put16(out, frameWidth);
        Put16(out, frameHeight);
        out.push_back(frame.interlaced ? 0x40 : 0);
        std::vector<const std::string*> stored;
        if (frame.interlaced) {
            for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
                for (int row = first; row < frameHeight; row += step) {
                    stored.push_back(&frame.rows[row]);
                }
            }
        } else {
            for (const std::string& row : frame.rows) stored.push_back(&row);
        }
        // Image data: minimum code size 4 (clear 16, end 17, codes 5 bits wide). A clear code
        // every 13 pixels keeps the table from reaching the point where codes widen.
        const int minimumCodeSize = 4;
        const unsigned clear = 1u << minimumCodeSize;
        out.push_back(minimumCodeSize);
        CodeWriter codes;
        int sinceClear = 0;
        codes.Write(clear, minimumCodeSize + 1);
        for (std::size_t at = 0; at < stored.size(); ++at) {
            const std::string& row = *stored[at];
            if (static_cast<int>(row.size()) != frameWidth) {
                throw std::invalid_argument("frame rows differ in length");
            }
            if (static_cast<int>(at) == frame.damagedAfterRows) {
                // Far beyond the codes defined since the last clear (at most 13 literals).
                codes.Write(31, minimumCodeSize + 1);
                break;
            }
            for (char letter : row) {
                if (sinceClear == 13) {
                    codes.Write(clear, minimumCodeSize + 1);
                    sinceClear = 0;
                }
                codes.Write(IndexOf(letter), minimumCodeSize + 1);
                ++sinceClear;
            }
        }
        codes.Write(clear + 1, minimumCodeSize + 1);
        codes.Finish(out);
    }
    out.push_back(0x3B);  // trailer
    return out;
}

GifFrame SolidFrame(int left, int top, int width, int height, char letter, std::uint16_t delay,
                    std::uint8_t disposal) {
    GifFrame frame{left, top, std::vector<std::string>(height, std::string(width, letter)), delay,
                   disposal};
    return frame;
}

std::vector<std::uint8_t> MakeWav(std::uint32_t durationMs) {
    const std::uint32_t rate = 8000;
    const std::uint32_t samples = durationMs * rate / 1000;
    std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F'};
    Put32(out, 36 + samples);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, 16);
    Put16(out, 1);     // PCM
    Put16(out, 1);     // mono
    Put32(out, rate);  // samples per second
    Put32(out, rate);  // bytes per second
    Put16(out, 1);     // block alignment
    Put16(out, 8);     // bits per sample
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, samples);
    out.insert(out.end(), samples, 128);
    return out;
}

Rgb PaletteColour(int index) {
    return kPalette[index];
}

char LetterOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    for (int i = 0; i < 8; ++i) {
        if (red == kPalette[i].r && green == kPalette[i].g && blue == kPalette[i].b) {
            return kLetters[i];
        }
    }
    return '?';
}

DeviceFolder::DeviceFolder() {
    // A name no other folder has: tests of several programs run at the same time.
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
        const auto candidate =
            base / ("bootreel-show-" + std::to_string(random()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(candidate)) root_ = candidate.string();
    }
    if (root_.empty()) throw std::runtime_error("no temporary folder");
}

DeviceFolder::~DeviceFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::u16string DeviceFolder::Put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(root_ + "/" + name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return u"\\" + std::u16string(name.begin(), name.end());
}

std::u16string DeviceFolder::MakeFolder(const std::string& name) {
    std::filesystem::create_directories(root_ + "/" + name);
    return u"\\" + std::u16string(name.begin(), name.end());
}

}  // namespace showtest
