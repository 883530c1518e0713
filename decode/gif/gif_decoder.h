// The GIF decoder (GIF87a and GIF89a) and its LZW decompressor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "decode/decoder.h"
#include "decode/gif/gif_lzw.h"
#include "decode/gif/pointer_array.h"

namespace br {

// Creates a CDecoderGif2; null when it cannot be allocated. The facade uses this.
CDecoderBase2* CreateGifDecoder();

// Location numbers of the decoder's own error sites (component kGifComponent).
constexpr std::uint32_t kGifParseRoutine = 33;
constexpr std::uint32_t kGifSiteSignature = 1;      // not "GIF87a" / "GIF89a"
constexpr std::uint32_t kGifSiteUnknownBlock = 31;  // unknown introducer before any image
constexpr std::uint32_t kGifSiteNoImage = 32;       // no image separator in the stream
constexpr std::uint32_t kGifSiteIndexMemory = 41;   // the stream index cannot grow
constexpr std::uint32_t kGifFrameRoutine = 63;
constexpr std::uint32_t kGifSiteRowBuffer = 11;    // the row buffer cannot be allocated
constexpr std::uint32_t kGifSiteFrameFields = 12;  // a frame's fields cannot be read

// Reads a GIF stream: indexes it in one pass (ReadImageInfo), then describes and decodes any
// frame on request as 8-bit palette indices, clipped and scaled by nearest neighbour into the
// caller's buffer. Composes nothing; disposal and transparency are the player's work.
//
// Every read goes through ReadFully (below) or, in the index pass, a window that refills on
// short reads, so a source that delivers a few bytes per Read gives the same results as one
// that delivers all at once; bytes a short read could not supply stay zero.
class CDecoderGif2 : public CDecoderBase2 {
  public:
    CDecoderGif2();
    ~CDecoderGif2() override;

    // Parses the whole stream and, when info is not null, fills it.
    void ReadImageInfo(CDataSource2* source, DecoderImageInfo* info) override;
    // Fills the record for frame `index`; does nothing for an index outside the frames.
    void ReadFrameInfo(CDataSource2* source, DecoderFrameInfo* frame, std::int32_t index) override;
    // Decodes frame `index` (0 <= index < frameCount) into the target the record describes.
    void DecodeFrame(CDataSource2* source, DecoderFrameInfo* frame, std::int32_t index,
                     std::int32_t reserved) override;
    // Frees the stream index; frame count, screen size and colour table stay.
    void ReleaseStream() override;

    std::int32_t screenWidth;
    std::int32_t screenHeight;
    std::int32_t frameCount;
    // Per frame: the position just after the label of the graphic control extension that
    // governs it (0 = none), and the position just after its image separator.
    PointerArray controlPositions;
    PointerArray descriptorPositions;
    std::int32_t globalColorCount;
    // Entries 0 .. globalColorCount - 1; the rest are never read and not initialised.
    PaletteEntry globalColorTable[256];
    std::uint32_t backgroundIndex;
    std::uint32_t globalSizeBits;  // fallback LZW minimum code size
    GifLzwState lzw;

  private:
    void DecodeRows(CDataSource2* source, const DecoderFrameInfo& frame, const Rect& visible);
    // The row buffer, `bytes` long and zeroed; throws CIAException* (ErrorOutOfMemory) when it
    // cannot be allocated.
    std::uint8_t* RowBuffer(std::size_t bytes);

    // The row buffer, kept from frame to frame: the largest asked for so far (frames of an
    // animation are mostly alike, and one allocation per frame cost as much as decoding a
    // small one). Most frames do without it.
    std::unique_ptr<std::uint8_t[]> rowBuffer_;
    std::size_t rowBufferBytes_ = 0;
};

// Reads up to `count` bytes, calling Read until it has them all or Read delivers nothing;
// returns the bytes read.
std::uint32_t ReadFully(CDataSource2* source, void* buffer, std::uint32_t count);

}  // namespace br
