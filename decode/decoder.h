// The decoder base with its six public operations, the records exchanged with concrete
// decoders, format detection and the format facade CImgDecoder2.
//
// The public operations never throw: each runs as a guarded block (decode/error.h), returns 1
// or 0 and keeps the error of a failure as `lastError`, owned by the decoder.
#pragma once

#include <cstdint>

#include "decode/error.h"
#include "decode/image.h"
#include "decode/source.h"
#include "raster/geometry.h"

namespace br {

enum ImageFormat : std::int32_t {
    FormatNone = 0,
    FormatBmp = 1,
    FormatJpeg = 2,
    FormatGif = 3,
    FormatPng = 4,
    FormatTiff = 5,
    FormatEps = 6,
    FormatPict = 7,
    FormatPcx = 8,
    FormatPgm = 9,
    FormatWbmp = 12,
};

// Classifies a source by its leading bytes; leaves the position where it was.
std::int32_t DetectImageFormat(CDataSource2* source);

struct DecoderImageInfo {
    std::int32_t format;
    std::int32_t width;
    std::int32_t height;
    std::uint32_t backgroundColor;
    std::int32_t bitsPerPixel;
    std::int32_t frameCount;
    std::int32_t extraA;
    std::int32_t extraB;
    std::int32_t extraC;
    std::int32_t extraFlag;
    PaletteRecord palette;
    PaletteEntry paletteSpare;  // the 257th entry slot
};

// Presets every field but the palette as the decoder base does before ReadImageInfo.
void PresetImageInfo(DecoderImageInfo* info);

struct DecoderFrameInfo {
    std::int32_t interlaced;
    std::int32_t userInput;
    std::int32_t delay;
    std::int32_t disposal;
    Rect frameRect;
    std::int32_t transparentIndex;
    std::int32_t bytesPerPixel;
    std::int32_t withMask;
    Rect clipRect;
    std::uint8_t* targetBits;
    std::uint8_t* targetMaskBits;
    std::int32_t targetRowPadding;
    std::int32_t targetWidth;
    std::int32_t targetHeight;
    PaletteRecord* targetPalette;
    // When not 0: the size of the whole reduced picture that the target belongs to. The target
    // then holds the grid pixels (see GridRect) of the visible part of the frame, starting at
    // the first of them; when 0 it spans the visible part at its own proportions.
    std::int32_t gridWidth;
    std::int32_t gridHeight;
};

// Presets every field but bytesPerPixel and targetRowPadding.
void PresetFrameInfo(DecoderFrameInfo* frame);

// frameCount pointers to layers, entry i for frame i; owned by the caller after a successful
// decoding operation (delete each non-null layer, then FreeFrameList).
using FrameList = CImgLayer**;
void FreeFrameList(FrameList list, std::int32_t count);

struct TargetSize {
    std::int32_t width;
    std::int32_t height;
};

// Frames decoded for a picture of W x H at a target size of TW x TH all sample one grid fixed
// to the picture: reduced pixel (X, Y) shows picture pixel (X * W / TW, Y * H / TH), divisions
// truncating. Sampling each frame relative to its own rectangle instead would let two frames
// at neighbouring offsets sample different picture columns, so that one never overwrites the
// other. The result is the rectangle, in reduced-picture coordinates, of the grid pixels that
// lie inside `region` (picture coordinates); empty when none does. With a target equal to the
// picture it is `region` itself.
Rect GridRect(const Rect& region, std::int32_t pictureWidth, std::int32_t pictureHeight,
              std::int32_t targetWidth, std::int32_t targetHeight);

// The grid pixels (as GridRect) of the part of `frameRect` inside the picture: the size and
// place of the buffer that the player's decode gives a frame at a target size. Empty for a
// frame that gets no buffer.
Rect FrameGridRect(const Rect& frameRect, std::int32_t pictureWidth, std::int32_t pictureHeight,
                   std::int32_t targetWidth, std::int32_t targetHeight);

// Pixel memory of the buffer that the player's decode gives a frame of rectangle `frameRect`
// when the picture is decoded at a target size: the grid pixels of its part inside the
// picture, in 8-bit rows padded to 4 bytes. 0 for a frame that gets no buffer.
std::uint64_t FrameBufferBytes(const Rect& frameRect, std::int32_t pictureWidth,
                               std::int32_t pictureHeight, std::int32_t targetWidth,
                               std::int32_t targetHeight);

class CDecoderBase2 {
public:
    CDecoderBase2();
    virtual ~CDecoderBase2();

    virtual int GetImageInfo(CDataSource2* source, DecoderImageInfo* info);
    virtual int GetImageInfoFromFile(const char16_t* path, DecoderImageInfo* info);
    virtual int GetFrameInfo(CDataSource2* source, DecoderFrameInfo* frame, std::int32_t index);
    virtual int DecodeFramesByPercent(CDataSource2* source, CImgInfo* image, FrameList* frames,
                                      std::int32_t scalePercent);
    virtual int DecodeFramesToSize(CDataSource2* source, CImgInfo* image, FrameList* frames,
                                   const TargetSize* target, const Rect* clip);
    virtual int DecodeFramesFromFile(const char16_t* path, CImgInfo* image, FrameList* frames,
                                     const TargetSize* target, const Rect* clip);

    // The primitives a concrete decoder supplies. All but ReleaseStream throw CIAException*.
    virtual void ReadImageInfo(CDataSource2* source, DecoderImageInfo* info) = 0;
    virtual void ReadFrameInfo(CDataSource2* source, DecoderFrameInfo* frame,
                               std::int32_t index) = 0;
    virtual void DecodeFrame(CDataSource2* source, DecoderFrameInfo* frame, std::int32_t index,
                             std::int32_t reserved) = 0;
    virtual void ReleaseStream() = 0;

    CIAException* lastError;

    CDecoderBase2(const CDecoderBase2&) = delete;
    CDecoderBase2& operator=(const CDecoderBase2&) = delete;
};

// The facade: recognises the format and forwards the primitives to the concrete decoder it
// creates for the current operation (GIF only; every other format is refused).
class CImgDecoder2 : public CDecoderBase2 {
public:
    CImgDecoder2();
    ~CImgDecoder2() override;

    void ReadImageInfo(CDataSource2* source, DecoderImageInfo* info) override;
    void ReadFrameInfo(CDataSource2* source, DecoderFrameInfo* frame,
                       std::int32_t index) override;
    void DecodeFrame(CDataSource2* source, DecoderFrameInfo* frame, std::int32_t index,
                     std::int32_t reserved) override;
    void ReleaseStream() override;

    CDecoderBase2* decoder;
};

}  // namespace br
