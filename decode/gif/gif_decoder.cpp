// The GIF decoder: stream index, image and frame descriptions, frame decoding with clipping
// and nearest-neighbour scaling; see decode/gif/gif_decoder.h.
#include "decode/gif/gif_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "decode/error.h"

namespace br {

namespace {

constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kExtension = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;

inline std::int32_t Little16(const std::uint8_t* p) {
    return p[0] | (p[1] << 8);
}

bool ReadByte(CDataSource2* source, std::uint8_t* byte) {
    *byte = 0;
    return ReadFully(source, byte, 1) == 1;
}

// Skips data sub-blocks up to and including the terminator; false when a size byte cannot be
// read.
bool SkipSubBlocks(CDataSource2* source) {
    std::uint8_t size = 0;
    if (!ReadByte(source, &size)) return false;
    while (size != 0) {
        source->Seek(size, 1);
        if (!ReadByte(source, &size)) return false;
    }
    return true;
}

// Reads `count` colour-table entries into a palette record (version 48, flags 0). Entries a
// short read could not supply are black.
void ReadColorTable(CDataSource2* source, std::int32_t count, PaletteRecord* palette) {
    std::uint8_t rgb[3 * 256] = {};
    ReadFully(source, rgb, static_cast<std::uint32_t>(3 * count));
    palette->version = kPaletteVersion;
    palette->count = static_cast<std::uint16_t>(count);
    for (std::int32_t i = 0; i < count; ++i) {
        palette->entries[i] = PaletteEntry{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
    }
}

// One target row from the row buffer: target column x shows source column (x * VW) / TW,
// stepped without a division per pixel.
void ScaleRow(std::uint8_t* out, const std::uint8_t* source, std::int32_t visibleWidth,
              std::int32_t targetWidth) {
    if (visibleWidth == targetWidth) {
        std::memcpy(out, source, static_cast<std::size_t>(targetWidth));
        return;
    }
    const std::int32_t whole = visibleWidth / targetWidth;
    const std::int32_t part = visibleWidth % targetWidth;
    std::int32_t column = 0;
    std::int32_t remainder = 0;
    for (std::int32_t x = 0; x < targetWidth; ++x) {
        out[x] = source[column];
        column += whole;
        remainder += part;
        if (remainder >= targetWidth) {
            remainder -= targetWidth;
            ++column;
        }
    }
}

}  // namespace

std::uint32_t ReadFully(CDataSource2* source, void* buffer, std::uint32_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        const std::uint32_t got = source->Read(out + done, count - done);
        if (got == 0) break;
        done += std::min(got, count - done);
    }
    return done;
}

CDecoderBase2* CreateGifDecoder() {
    return new (std::nothrow) CDecoderGif2();
}

CDecoderGif2::CDecoderGif2()
    : screenWidth(0),
      screenHeight(0),
      frameCount(0),
      globalColorCount(0),
      globalColorTable{},
      backgroundIndex(0),
      globalSizeBits(0) {}

CDecoderGif2::~CDecoderGif2() = default;

void CDecoderGif2::ReadImageInfo(CDataSource2* source, DecoderImageInfo* info) {
    // A second parse starts from nothing rather than appending to the first one's index.
    frameCount = 0;
    descriptorPositions.RemoveAll();
    controlPositions.RemoveAll();
    globalColorCount = 0;

    source->Seek(0, 0);
    std::uint8_t signature[6] = {};
    ReadFully(source, signature, 6);
    if (std::memcmp(signature, "GIF87a", 6) != 0 && std::memcmp(signature, "GIF89a", 6) != 0) {
        ThrowError(ErrorCorruptData, kGifComponent, kGifParseRoutine, kGifSiteSignature);
    }

    // Logical screen descriptor: width, height, packed fields, background index; the pixel
    // aspect byte is not used.
    std::uint8_t screen[6] = {};
    ReadFully(source, screen, 6);
    source->Seek(1, 1);
    screenWidth = Little16(screen);
    screenHeight = Little16(screen + 2);
    const std::uint8_t packed = screen[4];
    backgroundIndex = screen[5];
    globalSizeBits = (packed & 7u) + 1;
    if (packed & 0x80) {
        globalColorCount = 1 << globalSizeBits;
        std::uint8_t rgb[3 * 256] = {};
        ReadFully(source, rgb, static_cast<std::uint32_t>(3 * globalColorCount));
        for (std::int32_t i = 0; i < globalColorCount; ++i) {
            globalColorTable[i] = PaletteEntry{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
        }
    }

    // One pass over the blocks, recording where each image and its graphic control extension
    // start. Image data is skipped, not decoded. A stream cut short keeps the frames found.
    std::uint32_t pendingControl = 0;
    std::uint8_t introducer = 0;
    if (ReadByte(source, &introducer)) {
        for (;;) {
            if (introducer == kTrailer) break;
            if (introducer == kExtension) {
                std::uint8_t label = 0;
                ReadByte(source, &label);
                // Only a graphic control extension directly before an image governs it.
                pendingControl =
                    label == kGraphicControlLabel ? static_cast<std::uint32_t>(source->Tell()) : 0;
                if (!SkipSubBlocks(source) || !ReadByte(source, &introducer)) break;
            } else if (introducer == kImageSeparator) {
                if (controlPositions.Add(pendingControl) < 0 ||
                    descriptorPositions.Add(static_cast<std::uint32_t>(source->Tell())) < 0) {
                    controlPositions.SetSize(frameCount);
                    descriptorPositions.SetSize(frameCount);
                    ThrowError(ErrorOutOfMemory, kGifComponent, kGifParseRoutine,
                               kGifSiteIndexMemory);
                }
                pendingControl = 0;
                ++frameCount;
                source->Seek(8, 1);  // position and size
                std::uint8_t imagePacked = 0;
                ReadByte(source, &imagePacked);
                if (imagePacked & 0x80) source->Seek(3 << ((imagePacked & 7) + 1), 1);
                std::uint8_t codeSize = 0;
                if (!ReadByte(source, &codeSize) || !SkipSubBlocks(source) ||
                    !ReadByte(source, &introducer)) {
                    break;
                }
            } else {
                // Unknown bytes after an image end the stream; before one they mean this is
                // not a GIF we can read.
                if (frameCount > 0) break;
                ThrowError(ErrorCorruptData, kGifComponent, kGifParseRoutine, kGifSiteUnknownBlock);
            }
        }
    }
    if (frameCount == 0) {
        ThrowError(ErrorCorruptData, kGifComponent, kGifParseRoutine, kGifSiteNoImage);
    }

    if (info == nullptr) return;
    info->format = FormatGif;
    info->bitsPerPixel = 8;
    info->extraFlag = 0;
    if (globalColorCount != 0 && backgroundIndex < static_cast<std::uint32_t>(globalColorCount)) {
        const PaletteEntry& entry = globalColorTable[backgroundIndex];
        info->backgroundColor = entry.red + entry.green * 256u + entry.blue * 65536u;
    } else {
        info->backgroundColor = 0x00FFFFFF;
    }
    info->extraA = 1;
    info->frameCount = frameCount;
    info->width = screenWidth;
    info->height = screenHeight;
    info->palette.version = kPaletteVersion;
    info->palette.count = static_cast<std::uint16_t>(globalColorCount);
    std::memcpy(info->palette.entries, globalColorTable,
                sizeof(PaletteEntry) * static_cast<std::size_t>(globalColorCount));
}

void CDecoderGif2::ReadFrameInfo(CDataSource2* source, DecoderFrameInfo* frame,
                                 std::int32_t index) {
    // After ReleaseStream the index is gone although the count stays: nothing to describe.
    if (index < 0 || index >= frameCount || index >= descriptorPositions.size) return;

    const std::uint32_t control = controlPositions[index];
    if (control != 0) {
        // Block size (not needed), packed fields, delay, transparent colour index.
        std::uint8_t fields[5] = {};
        source->Seek(static_cast<std::int32_t>(control), 0);
        ReadFully(source, fields, 5);
        frame->disposal = (fields[1] >> 2) & 7;
        frame->userInput = (fields[1] >> 1) & 1;
        frame->delay = Little16(fields + 2);
        frame->transparentIndex = (fields[1] & 1) ? fields[4] : -1;
    } else {
        frame->transparentIndex = -1;
        frame->delay = 100;
        frame->disposal = 0;
        frame->userInput = 0;
    }

    std::uint8_t descriptor[9] = {};
    source->Seek(static_cast<std::int32_t>(descriptorPositions[index]), 0);
    ReadFully(source, descriptor, 9);
    const std::int32_t left = Little16(descriptor);
    const std::int32_t top = Little16(descriptor + 2);
    frame->frameRect.Set(left, top, left + Little16(descriptor + 4),
                         top + Little16(descriptor + 6));
    const std::uint8_t packed = descriptor[8];
    frame->interlaced = (packed >> 6) & 1;
    frame->bytesPerPixel = 1;
    frame->withMask = 0;

    if (frame->targetPalette != nullptr) {
        if (packed & 0x80) {
            ReadColorTable(source, 1 << ((packed & 7) + 1), frame->targetPalette);
        } else {
            frame->targetPalette->version = kPaletteVersion;
            frame->targetPalette->count = static_cast<std::uint16_t>(globalColorCount);
            std::memcpy(frame->targetPalette->entries, globalColorTable,
                        sizeof(PaletteEntry) * static_cast<std::size_t>(globalColorCount));
        }
    }
}

void CDecoderGif2::DecodeFrame(CDataSource2* source, DecoderFrameInfo* frame, std::int32_t index,
                               std::int32_t /*reserved*/) {
    const Rect frameRect = frame->frameRect;
    Rect visible;
    if (!visible.Intersect(frameRect, frame->clipRect)) return;  // nothing read, nothing written
    visible.Offset(-frameRect.left, -frameRect.top);

    // The row buffer: two frame rows, the one being decoded and the one decoded before it,
    // which completes a row the data leaves short. Zeroed, so that a frame whose data ends
    // early never shows uninitialised memory.
    const std::int32_t bytesPerPixel = std::max(frame->bytesPerPixel, 1);
    const std::int64_t rowBytes = std::int64_t{bytesPerPixel} * frameRect.Width();
    std::uint8_t* rowBuffer = nullptr;
    if (rowBytes <= INT32_MAX / 2) {
        rowBuffer = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(2 * rowBytes)];
    }
    if (rowBuffer == nullptr) {
        ThrowError(ErrorOutOfMemory, kGifComponent, kGifFrameRoutine, kGifSiteRowBuffer);
    }
    std::memset(rowBuffer, 0, static_cast<std::size_t>(2 * rowBytes));

    ErrorScope scope;
    try {
        // An index the parse did not record cannot be decoded.
        if (index < 0 || index >= descriptorPositions.size) {
            ThrowError(ErrorCorruptData, kGifComponent, kGifFrameRoutine, kGifSiteFrameFields);
        }
        source->Seek(static_cast<std::int32_t>(descriptorPositions[index]), 0);
        source->Seek(8, 1);
        std::uint8_t packed = 0;
        if (!ReadByte(source, &packed)) {
            ThrowError(ErrorCorruptData, kGifComponent, kGifFrameRoutine, kGifSiteFrameFields);
        }
        if (packed & 0x80) {
            const std::int32_t count = 1 << ((packed & 7) + 1);
            if (frame->targetPalette != nullptr) {
                ReadColorTable(source, count, frame->targetPalette);
            } else {
                source->Seek(3 * count, 1);
            }
        } else if (frame->targetPalette != nullptr) {
            frame->targetPalette->version = kPaletteVersion;
            frame->targetPalette->count = static_cast<std::uint16_t>(globalColorCount);
            std::memcpy(frame->targetPalette->entries, globalColorTable,
                        sizeof(PaletteEntry) * static_cast<std::size_t>(globalColorCount));
        }
        lzw.InitLzw(source, static_cast<std::int32_t>(globalSizeBits));
        DecodeRows(source, *frame, visible, rowBuffer);
    } catch (CIAException* error) {
        scope.pending = error;
        delete[] rowBuffer;
        ReleaseCurrentError();
        throw error;
    }
    delete[] rowBuffer;
}

// Rows of the frame into the target: target row y shows frame row V.top + y * VH / TH and
// target column x row-buffer column V.left + x * VW / TW. When the target is the whole frame
// at its own size, rows are decoded straight into it. Either way a row the data leaves short
// is completed from the row decoded before it (zeros for the first), which is what a single
// row buffer would have held; this also covers the positions the decompressor may overwrite
// after the last index it delivers.
void CDecoderGif2::DecodeRows(CDataSource2* source, const DecoderFrameInfo& frame,
                              const Rect& visible, std::uint8_t* rowBuffer) {
    const std::int32_t frameWidth = frame.frameRect.Width();
    const std::int32_t frameHeight = frame.frameRect.Height();
    const std::int32_t visibleWidth = visible.Width();
    const std::int32_t visibleHeight = visible.Height();
    const std::int32_t targetWidth = frame.targetWidth;
    const std::int32_t targetHeight = frame.targetHeight;
    const std::int32_t bytesPerPixel = std::max(frame.bytesPerPixel, 1);
    const std::int64_t stride =
        std::int64_t{bytesPerPixel} * std::max(targetWidth, 0) + frame.targetRowPadding;
    std::uint8_t* const target = frame.targetBits;
    const bool writable = target != nullptr && targetWidth > 0 && targetHeight > 0;
    const bool direct = writable && bytesPerPixel == 1 && targetWidth == frameWidth &&
                        targetHeight == frameHeight && visibleWidth == frameWidth &&
                        visibleHeight == frameHeight;
    auto targetRow = [&](std::int64_t y) { return target + y * stride; };

    const std::uint8_t* lastRow = rowBuffer;  // the row decoded last (zeros before the first)
    std::uint8_t* spareRow = rowBuffer + std::int64_t{bytesPerPixel} * frameWidth;
    auto decodeInto = [&](std::uint8_t* row) {
        const std::int32_t written = lzw.DecodeRowOverwriting(source, row, frameWidth);
        if (written < frameWidth) {
            std::memcpy(row + written, lastRow + written,
                        static_cast<std::size_t>(frameWidth - written));
        }
        lastRow = row;
    };
    // Decodes the next frame row into the row buffer; lastRow then points at it.
    auto decodeBuffered = [&] {
        std::uint8_t* row = spareRow;
        spareRow = const_cast<std::uint8_t*>(lastRow);
        decodeInto(row);
    };
    auto writeRow = [&](std::int32_t y) {
        ScaleRow(targetRow(y), lastRow + visible.left, visibleWidth, targetWidth);
    };

    if (!frame.interlaced) {
        if (direct) {
            for (std::int32_t r = 0; r < frameHeight; ++r) decodeInto(targetRow(r));
            return;
        }
        std::int32_t next = 0;  // the next frame row to decode
        for (; next < visible.top; ++next) decodeBuffered();
        std::int32_t previousSource = -1;
        for (std::int32_t y = 0; y < targetHeight; ++y) {
            const std::int32_t sourceRow =
                visible.top +
                static_cast<std::int32_t>(std::int64_t{y} * visibleHeight / targetHeight);
            for (; next < sourceRow; ++next) decodeBuffered();
            if (y > 0 && sourceRow == previousSource) {
                if (writable) {
                    std::memcpy(targetRow(y), targetRow(y - 1),
                                static_cast<std::size_t>(bytesPerPixel) * targetWidth);
                }
            } else {
                decodeBuffered();
                ++next;
                if (writable) writeRow(y);
            }
            previousSource = sourceRow;
        }
        return;
    }

    // Interlaced: four passes; every row of every pass is decoded, also rows outside V.
    static const std::int32_t kPasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    for (const auto& pass : kPasses) {
        for (std::int32_t r = pass[0]; r < frameHeight; r += pass[1]) {
            if (direct) {
                decodeInto(targetRow(r));
                continue;
            }
            decodeBuffered();
            if (!writable || r < visible.top || r >= visible.top + visibleHeight) continue;
            // The target rows showing this frame row: y with floor(y * VH / TH) == r - V.top.
            const std::int64_t relative = r - visible.top;
            const std::int64_t first =
                (relative * targetHeight + visibleHeight - 1) / visibleHeight;
            const std::int64_t last = std::min<std::int64_t>(
                ((relative + 1) * targetHeight + visibleHeight - 1) / visibleHeight, targetHeight);
            for (std::int64_t y = first; y < last; ++y) {
                if (y == first) {
                    writeRow(static_cast<std::int32_t>(y));
                } else {
                    std::memcpy(targetRow(y), targetRow(first),
                                static_cast<std::size_t>(targetWidth));
                }
            }
        }
    }
}

void CDecoderGif2::ReleaseStream() {
    descriptorPositions.RemoveAll();
    controlPositions.RemoveAll();
}

}  // namespace br
