// Image containers: the palette record, the pixel buffer of one frame (CImgData), the picture
// description (CImgInfo) and one decoded frame (CImgLayer).
#pragma once

#include <cstdint>

#include "platform/types.h"
#include "raster/geometry.h"

namespace br {

struct PaletteEntry {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    std::uint8_t flags;
};

constexpr std::uint16_t kPaletteVersion = 48;

// Version word (48), entry count, then the entries. Room for 256 entries; records that need a
// 257th slot (the decoder's image information) place one PaletteEntry right after it.
struct PaletteRecord {
    std::uint16_t version;
    std::uint16_t count;
    PaletteEntry entries[256];
};
static_assert(sizeof(PaletteRecord) == 4 + 256 * 4, "palette record layout");

// The pixels of one frame: a colour plane (and optionally a mask plane) held in bitmap
// sections, rows top-down, each row padded to a multiple of 4 bytes.
class CImgData {
public:
    CImgData();
    virtual ~CImgData();

    // Frees what the object holds and returns it to the constructed state.
    void Release();
    // Creates the planes; width or height of 0 or less gives an empty object (success). Throws
    // CIAException* (ErrorOutOfMemory) after releasing everything on failure.
    void Create(std::int32_t width, std::int32_t height, std::uint8_t bytesPerPixel,
                std::int32_t withMask);

    std::int32_t width;
    std::int32_t height;
    std::int32_t rowPadding;
    std::uint8_t bytesPerPixel;
    plat::HBITMAP colorBitmap;
    std::uint8_t* colorBits;
    plat::HBITMAP maskBitmap;
    std::uint8_t* maskBits;
    std::int32_t transparentIndex;
    bool ownsPalette;
    PaletteRecord* palette;
    std::int32_t colorBitmapBorrowed;

    CImgData(const CImgData&) = delete;
    CImgData& operator=(const CImgData&) = delete;
};

// Allocates a palette copy of (count + 2) * 4 bytes; free it with FreePaletteCopy.
PaletteRecord* AllocatePaletteCopy(std::size_t bytes);
void FreePaletteCopy(PaletteRecord* palette);

class CImgInfo {
public:
    CImgInfo();
    virtual ~CImgInfo();
    void Reset();  // frees the palette copy, then the reset values
    void Clear();  // the reset values, without freeing the palette

    std::int32_t format;
    std::int32_t extraB;
    std::int32_t extraC;
    std::int32_t width;
    std::int32_t height;
    std::int32_t colorCount;
    std::uint32_t backgroundColor;
    std::int32_t frameCount;
    std::int32_t extraA;
    PaletteRecord* palette;  // a copy made by AllocatePaletteCopy, owned

    CImgInfo(const CImgInfo&) = delete;
    CImgInfo& operator=(const CImgInfo&) = delete;
};

class CImgLayer {
public:
    CImgLayer();
    virtual ~CImgLayer();

    std::int16_t delay;        // hundredths of a second
    std::uint8_t disposal;     // 0..7
    std::uint8_t interlaced;
    std::uint8_t userInput;
    Rect frameRect;            // on the logical screen
    Rect decodedRect;          // the part of the logical screen decoded into `image`
    CImgData image;

    CImgLayer(const CImgLayer&) = delete;
    CImgLayer& operator=(const CImgLayer&) = delete;
};

}  // namespace br
