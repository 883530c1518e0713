// Pixel buffers, picture descriptions and decoded frames; see decode/image.h.
#include "decode/image.h"

#include <cstring>
#include <new>

#include "decode/error.h"
#include "platform/draw.h"

namespace br {

namespace {

// Location numbers of the pixel buffer's error sites.
constexpr std::uint32_t kPixelBuffer = 3003;
constexpr std::uint32_t kCreate = 122;
constexpr std::uint32_t kSiteColorPlane = 530;
constexpr std::uint32_t kSiteMaskPlane = 542;
constexpr std::uint32_t kSitePalette = 555;

}  // namespace

// ---- Palette copies ----------------------------------------------------------------------

PaletteRecord* AllocatePaletteCopy(std::size_t bytes) {
    // At least the two header words, so that version and count can always be read.
    if (bytes < 4) bytes = 4;
    void* memory = ::operator new(bytes, std::nothrow);
    if (memory != nullptr) std::memset(memory, 0, bytes);
    return static_cast<PaletteRecord*>(memory);
}

void FreePaletteCopy(PaletteRecord* palette) {
    ::operator delete(palette);
}

// ---- CImgData ----------------------------------------------------------------------------

CImgData::CImgData()
    : width(0),
      height(0),
      rowPadding(0),
      bytesPerPixel(0),
      colorBitmap(nullptr),
      colorBits(nullptr),
      maskBitmap(nullptr),
      maskBits(nullptr),
      transparentIndex(-1),
      ownsPalette(true),
      palette(nullptr),
      colorBitmapBorrowed(0) {}

CImgData::~CImgData() {
    Release();
}

void CImgData::Release() {
    if (colorBitmapBorrowed == 0 && colorBitmap != nullptr) plat::DeleteObject(colorBitmap);
    if (maskBitmap != nullptr) plat::DeleteObject(maskBitmap);
    if (ownsPalette && palette != nullptr) FreePaletteCopy(palette);
    width = 0;
    height = 0;
    rowPadding = 0;
    bytesPerPixel = 0;
    colorBitmap = nullptr;
    colorBits = nullptr;
    maskBitmap = nullptr;
    maskBits = nullptr;
    palette = nullptr;
    colorBitmapBorrowed = 0;
    transparentIndex = -1;
    ownsPalette = true;
}

void CImgData::Create(std::int32_t w, std::int32_t h, std::uint8_t b, std::int32_t withMask) {
    ErrorScope scope;
    try {
        Release();
        width = w > 0 ? w : 0;
        height = h > 0 ? h : 0;
        bytesPerPixel = b;
        if (width == 0 || height == 0) {
            width = 0;
            height = 0;
            return;
        }
        const std::int64_t rowBytes = static_cast<std::int64_t>(width) * b;
        rowPadding = static_cast<std::int32_t>((4 - rowBytes % 4) % 4);

        plat::BITMAPINFO info;
        std::memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // negative: rows run top to bottom
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<std::uint16_t>(8 * b);
        info.bmiHeader.biCompression = plat::BI_RGB;

        void* bits = nullptr;
        const std::uint32_t usage = b == 3 ? plat::DIB_RGB_COLORS : plat::DIB_PAL_COLORS;
        colorBitmap = plat::CreateDIBSection(nullptr, &info, usage, &bits, nullptr, 0);
        if (colorBitmap == nullptr)
            ThrowError(ErrorOutOfMemory, kPixelBuffer, kCreate, kSiteColorPlane);
        colorBits = static_cast<std::uint8_t*>(bits);

        if (withMask != 0) {
            info.bmiHeader.biBitCount = 8;
            bits = nullptr;
            maskBitmap =
                plat::CreateDIBSection(nullptr, &info, plat::DIB_PAL_COLORS, &bits, nullptr, 0);
            if (maskBitmap == nullptr)
                ThrowError(ErrorOutOfMemory, kPixelBuffer, kCreate, kSiteMaskPlane);
            maskBits = static_cast<std::uint8_t*>(bits);
        }

        if (b == 1) {
            ownsPalette = true;
            // Zero-filled, so that indices beyond a short colour table show black rather than
            // whatever the memory held.
            palette = AllocatePaletteCopy(sizeof(PaletteRecord));
            if (palette == nullptr)
                ThrowError(ErrorOutOfMemory, kPixelBuffer, kCreate, kSitePalette);
            palette->version = kPaletteVersion;
            palette->count = 256;
        }
    } catch (CIAException* error) {
        scope.pending = error;
        Release();  // nothing allocated in this call survives a failure
        ReleaseCurrentError();
        throw error;
    }
}

// ---- CImgInfo ----------------------------------------------------------------------------

CImgInfo::CImgInfo() : palette(nullptr) {
    Clear();
}

CImgInfo::~CImgInfo() {
    Reset();
}

void CImgInfo::Reset() {
    if (palette != nullptr) FreePaletteCopy(palette);
    palette = nullptr;
    Clear();
}

void CImgInfo::Clear() {
    format = 0;
    extraB = -1;
    extraC = -1;
    width = 0;
    height = 0;
    colorCount = 0;
    backgroundColor = 0xFFFFFFFFu;
    frameCount = 0;
    extraA = 0;
    palette = nullptr;
}

// ---- CImgLayer ---------------------------------------------------------------------------

namespace {

void SetInitialValues(CImgLayer* layer) {
    layer->delay = 0;
    layer->disposal = 1;
    layer->interlaced = 0;
    layer->userInput = 0;
    layer->frameRect.SetEmpty();
    layer->decodedRect.SetEmpty();
}

}  // namespace

CImgLayer::CImgLayer() {
    SetInitialValues(this);
}

CImgLayer::~CImgLayer() {
    SetInitialValues(this);
}

}  // namespace br
