// Helpers for the GIF decoder tests; see gif_test_support.h.
#include "tests/decode/gif/gif_test_support.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "decode/gif/gif_decoder.h"
#include "decode/memory_source.h"

namespace giftest {

Bytes Cat(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

Bytes Str(const char* text) {
    return Bytes(text, text + std::strlen(text));
}

Bytes U16(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}

Bytes PackCodes(const std::vector<Code>& codes) {
    Bytes out;
    std::uint32_t buffer = 0;
    std::int32_t count = 0;
    for (const Code& code : codes) {
        buffer |= static_cast<std::uint32_t>(code.value) << count;
        count += code.width;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(buffer & 0xFF));
            buffer >>= 8;
            count -= 8;
        }
    }
    if (count > 0) out.push_back(static_cast<std::uint8_t>(buffer & 0xFF));
    return out;
}

Bytes SubBlocks(const Bytes& data, std::int32_t blockSize) {
    Bytes out;
    for (std::size_t at = 0; at < data.size(); at += static_cast<std::size_t>(blockSize)) {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(blockSize), data.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    return out;
}

Bytes LzwEncode(const Bytes& indices, std::int32_t minimumCodeSize, LzwOptions options) {
    const std::int32_t clear = 1 << minimumCodeSize;
    const std::int32_t end = clear + 1;
    std::vector<Code> codes;
    // The width follows the count of codes written since the last clear code, the same count a
    // decoder keeps.
    std::int32_t width = 0, limit = 0, counter = 0, next = 0;
    std::unordered_map<std::uint32_t, std::int32_t> table;
    auto emit = [&](std::int32_t code) {
        codes.push_back({code, width});
        ++counter;
        if (counter > limit && width < 12) {
            limit <<= 1;
            ++width;
        }
    };
    auto reset = [&] {
        table.clear();
        next = clear + 2;
        width = minimumCodeSize + 1;
        limit = 1 << width;
        counter = clear + 2;
    };
    reset();
    emit(clear);
    reset();
    if (!indices.empty()) {
        std::int32_t current = indices[0];
        std::int32_t deferredLeft = -1;
        for (std::size_t i = 1; i < indices.size(); ++i) {
            const std::uint32_t key = (static_cast<std::uint32_t>(current) << 8) | indices[i];
            auto found = table.find(key);
            if (found != table.end()) {
                current = found->second;
                continue;
            }
            emit(current);
            if (next < 4096) {
                table[key] = next++;
            } else if (!options.deferClear) {
                emit(clear);
                reset();
            } else if (deferredLeft < 0) {
                deferredLeft = options.deferredCodes;
            } else if (--deferredLeft <= 0) {
                emit(clear);
                reset();
                deferredLeft = -1;
            }
            current = indices[i];
        }
        emit(current);
    }
    emit(end);
    return PackCodes(codes);
}

Bytes ColorTable(std::int32_t bits, std::int32_t seed) {
    Bytes out;
    for (std::int32_t i = 0; i < (1 << bits); ++i) {
        out.push_back(static_cast<std::uint8_t>(i * 7 + seed));
        out.push_back(static_cast<std::uint8_t>(i * 13 + seed * 3));
        out.push_back(static_cast<std::uint8_t>(255 - i - seed));
    }
    return out;
}

Bytes InterlaceRows(const Bytes& pixels, std::int32_t width, std::int32_t height) {
    Bytes out;
    static const std::int32_t kPasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    for (const auto& pass : kPasses) {
        for (std::int32_t r = pass[0]; r < height; r += pass[1]) {
            out.insert(out.end(), pixels.begin() + r * width, pixels.begin() + (r + 1) * width);
        }
    }
    return out;
}

GifWriter::GifWriter(std::int32_t width, std::int32_t height, std::int32_t globalTableBits,
                     std::int32_t background, const char* version)
    : globalBits_(globalTableBits) {
    const std::uint8_t packed =
        globalTableBits > 0 ? static_cast<std::uint8_t>(0x80 | 0x70 | (globalTableBits - 1)) : 0;
    bytes = Cat({Str(version),
                 U16(width),
                 U16(height),
                 {packed, static_cast<std::uint8_t>(background), 0}});
    if (globalTableBits > 0) bytes = Cat({bytes, ColorTable(globalTableBits, 1)});
}

GifWriter& GifWriter::Control(const ControlSpec& control) {
    const std::uint8_t packed = static_cast<std::uint8_t>(
        (control.disposal << 2) | (control.userInput ? 2 : 0) | (control.transparent >= 0 ? 1 : 0));
    bytes = Cat({bytes,
                 {0x21, 0xF9, 4, packed},
                 U16(static_cast<std::uint32_t>(control.delay)),
                 {static_cast<std::uint8_t>(std::max(control.transparent, 0)), 0}});
    return *this;
}

GifWriter& GifWriter::Comment(const std::string& text) {
    bytes = Cat({bytes, {0x21, 0xFE}, SubBlocks(Bytes(text.begin(), text.end()))});
    return *this;
}

GifWriter& GifWriter::Image(const ImageSpec& image) {
    std::int32_t size = image.minimumCodeSize;
    if (size == 0) {
        std::int32_t highest = 0;
        for (std::uint8_t p : image.pixels) highest = std::max<std::int32_t>(highest, p);
        size = 2;
        while ((1 << size) <= highest) ++size;
    }
    std::uint8_t packed = image.interlaced ? 0x40 : 0;
    if (image.localTableBits > 0)
        packed |= static_cast<std::uint8_t>(0x80 | (image.localTableBits - 1));
    bytes = Cat({bytes,
                 {0x2C},
                 U16(image.left),
                 U16(image.top),
                 U16(image.width),
                 U16(image.height),
                 {packed}});
    if (image.localTableBits > 0) bytes = Cat({bytes, ColorTable(image.localTableBits, 5)});
    const Bytes stored =
        image.interlaced ? InterlaceRows(image.pixels, image.width, image.height) : image.pixels;
    bytes = Cat({bytes,
                 {static_cast<std::uint8_t>(size)},
                 SubBlocks(LzwEncode(stored, size, image.lzw), image.blockSize)});
    return *this;
}

Bytes GifWriter::Finish(bool trailer) {
    if (trailer) bytes.push_back(0x3B);
    return bytes;
}

Result Decode(const Bytes& gif, std::uint32_t chunk, const br::TargetSize* target,
              const br::Rect* clip) {
    Result result;
    // Format detection looks at the first bytes with a single read, so piecewise sources go
    // to the GIF decoder directly; whole reads go through the facade as the player's do.
    br::CImgDecoder2 facade;
    std::unique_ptr<br::CDecoderBase2> direct(chunk != 0 ? br::CreateGifDecoder() : nullptr);
    br::CDecoderBase2& decoder = chunk != 0 ? *direct : facade;
    br::MemorySource source(gif, chunk);
    br::CImgInfo info;
    br::FrameList list = nullptr;
    result.ok = decoder.DecodeFramesToSize(&source, &info, &list, target, clip) == 1;
    if (!result.ok) {
        if (decoder.lastError != nullptr) {
            result.code = decoder.lastError->code;
            result.component = decoder.lastError->componentId;
            result.routine = decoder.lastError->routineId;
            result.site = decoder.lastError->siteId;
        }
        return result;
    }
    result.screenWidth = info.width;
    result.screenHeight = info.height;
    result.background = info.backgroundColor;
    for (std::int32_t i = 0; i < info.frameCount; ++i) {
        br::CImgLayer* layer = list[i];
        Frame frame;
        frame.rect = layer->frameRect;
        frame.delay = static_cast<std::uint16_t>(layer->delay);
        frame.disposal = layer->disposal;
        frame.interlaced = layer->interlaced;
        frame.userInput = layer->userInput;
        const br::CImgData& image = layer->image;
        frame.transparent = image.transparentIndex;
        frame.width = image.width;
        frame.height = image.height;
        for (std::int32_t y = 0; y < image.height; ++y) {
            const std::uint8_t* row =
                image.colorBits + static_cast<std::size_t>(y) * (image.width + image.rowPadding);
            frame.pixels.insert(frame.pixels.end(), row, row + image.width);
        }
        if (image.palette != nullptr) {
            frame.palette.assign(image.palette->entries,
                                 image.palette->entries + image.palette->count);
        }
        result.frames.push_back(std::move(frame));
        delete layer;
    }
    br::FreeFrameList(list, info.frameCount);
    return result;
}

Result Info(const Bytes& gif, br::DecoderImageInfo* out) {
    Result result;
    br::CImgDecoder2 decoder;
    br::MemorySource source(gif);
    br::DecoderImageInfo info;
    br::PresetImageInfo(&info);
    result.ok = decoder.GetImageInfo(&source, &info) == 1;
    if (!result.ok && decoder.lastError != nullptr) {
        result.code = decoder.lastError->code;
        result.component = decoder.lastError->componentId;
        result.routine = decoder.lastError->routineId;
        result.site = decoder.lastError->siteId;
    }
    if (result.ok) {
        result.screenWidth = info.width;
        result.screenHeight = info.height;
        result.background = info.backgroundColor;
        result.frames.resize(static_cast<std::size_t>(info.frameCount));
    }
    if (out != nullptr) *out = info;
    return result;
}

std::string Describe(const br::Rect& rect) {
    return "(" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
           std::to_string(rect.right) + "," + std::to_string(rect.bottom) + ")";
}

}  // namespace giftest
