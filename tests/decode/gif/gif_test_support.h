// Helpers for the GIF decoder tests: byte-level stream building, a small LZW encoder, decoding
// through the public decoder operations, and giflib as the reference decoder.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "decode/decoder.h"

namespace giftest {

using Bytes = std::vector<std::uint8_t>;

// Concatenates byte pieces; lets a test lay out a stream piece by piece with a label each.
Bytes Cat(std::initializer_list<Bytes> pieces);
// The characters of a text, without terminator.
Bytes Str(const char* text);
// Little-endian 16-bit field.
Bytes U16(std::uint32_t value);

// One code of a hand-written LZW stream and the width it is written with.
struct Code {
    std::int32_t value;
    std::int32_t width;
};
// Packs codes least significant bit first into bytes.
Bytes PackCodes(const std::vector<Code>& codes);
// Splits data into sub-blocks of at most blockSize bytes and appends the terminator.
Bytes SubBlocks(const Bytes& data, std::int32_t blockSize = 255);

struct LzwOptions {
    // On a full table: false = emit a clear code at once (what most encoders do); true = go on
    // with the full table and emit the clear code only after `deferredCodes` more codes.
    bool deferClear = false;
    std::int32_t deferredCodes = 300;
};
// Encodes palette indices into the code stream (without code-size byte and sub-blocks),
// starting with a clear code and ending with an end code.
Bytes LzwEncode(const Bytes& indices, std::int32_t minimumCodeSize, LzwOptions options = {});

// A whole-stream writer for generated test pictures.
struct ImageSpec {
    std::int32_t left = 0, top = 0, width = 1, height = 1;
    bool interlaced = false;
    std::int32_t localTableBits = 0;   // 0 = no local table, else 1..8
    std::int32_t minimumCodeSize = 0;  // 0 = max(2, table bits)
    std::int32_t blockSize = 255;
    LzwOptions lzw;
    Bytes pixels;  // width * height indices, rows top-down
};
struct ControlSpec {
    std::int32_t disposal = 0;
    bool userInput = false;
    std::int32_t transparent = -1;
    std::int32_t delay = 0;
};
class GifWriter {
  public:
    // globalTableBits 0 = no global table.
    GifWriter(std::int32_t width, std::int32_t height, std::int32_t globalTableBits,
              std::int32_t background = 0, const char* version = "GIF89a");
    GifWriter& Control(const ControlSpec& control);
    GifWriter& Comment(const std::string& text);
    GifWriter& Image(const ImageSpec& image);
    Bytes Finish(bool trailer = true);

    Bytes bytes;

  private:
    std::int32_t globalBits_;
};
// A colour table of 2^bits entries with a recognisable pattern.
Bytes ColorTable(std::int32_t bits, std::int32_t seed);
// Interlaces rows: the order in which an interlaced image stores them.
Bytes InterlaceRows(const Bytes& pixels, std::int32_t width, std::int32_t height);

// What our decoder reports for a stream.
struct Frame {
    br::Rect rect{0, 0, 0, 0};
    std::int32_t delay = 0, disposal = 0, interlaced = 0, userInput = 0, transparent = -1;
    std::vector<br::PaletteEntry> palette;
    std::int32_t width = 0, height = 0;  // of the decoded buffer
    Bytes pixels;                        // rows without padding
};
struct Result {
    bool ok = false;
    std::uint32_t code = 0, component = 0, routine = 0, site = 0;
    std::int32_t screenWidth = 0, screenHeight = 0;
    std::uint32_t background = 0;
    std::vector<Frame> frames;
};
// DecodeFramesToSize through CImgDecoder2 over a MemorySource delivering at most `chunk`
// bytes per read (0 = all).
Result Decode(const Bytes& gif, std::uint32_t chunk = 0, const br::TargetSize* target = nullptr,
              const br::Rect* clip = nullptr);
// GetImageInfo through CImgDecoder2.
Result Info(const Bytes& gif, br::DecoderImageInfo* info = nullptr);

// giflib's view of a stream (DGifSlurp; gif_reference.cpp, build machine only): per frame the image and the graphic control
// extension that stands directly before it.
struct Reference {
    bool ok = false;
    std::int32_t screenWidth = 0, screenHeight = 0;
    std::vector<br::PaletteEntry> globalPalette;
    std::vector<Frame> frames;
};
Reference ReferenceDecode(const Bytes& gif);

std::string Describe(const br::Rect& rect);

}  // namespace giftest
