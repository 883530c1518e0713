// The GIF decoder: stream index, image and frame descriptions, frame decoding with clipping
// and nearest-neighbour scaling; see decode/gif/gif_decoder.h.
#include "decode/gif/gif_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Reads `count` colour-table entries into a palette record (version 48, flags 0). Entries a
// short read could not supply are black.
void ReadColorTable(CDataSource2* source, std::int32_t count, PaletteRecord* palette) {
    std::uint8_t rgb[3 * 256];
    const std::uint32_t bytes = static_cast<std::uint32_t>(3 * count);
    const std::uint32_t got = ReadFully(source, rgb, bytes);
    std::memset(rgb + got, 0, bytes - got);
    palette->version = kPaletteVersion;
    palette->count = static_cast<std::uint16_t>(count);
    for (std::int32_t i = 0; i < count; ++i) {
        palette->entries[i] = PaletteEntry{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
    }
}

// a / b and a % b for a >= 0 and b > 0, in 32 bits when both fit: a 64-bit division costs
// several times as much, and a frame decoded at a reduced size needs a few.
struct Quotient {
    std::int64_t quotient;
    std::int64_t remainder;
};
inline Quotient DivideNonNegative(std::int64_t a, std::int64_t b) {
    if (((a | b) >> 32) == 0) {
        const std::uint32_t a32 = static_cast<std::uint32_t>(a);
        const std::uint32_t b32 = static_cast<std::uint32_t>(b);
        return {a32 / b32, a32 % b32};
    }
    return {a / b, a % b};
}

// How target pixels map to frame pixels along one side: target position i shows frame
// position (first + i * step) / denominator, truncated. This covers both samplings: the grid
// of a reduced picture (first = G0 * S - F * G, step S, denominator G, for a target that
// starts at grid position G0 of a reduced side G of a screen side S, and a frame starting at
// F) and a target spanning the visible part V of a frame (first = V0 * T, step VW,
// denominator T for a target side T).
struct Axis {
    std::int64_t first;
    std::int64_t step;
    std::int64_t denominator;

    std::int32_t At(std::int64_t i) const {
        return static_cast<std::int32_t>(DivideNonNegative(first + i * step, denominator).quotient);
    }
    // The first target position whose frame position is `position` or more.
    std::int64_t FirstAt(std::int64_t position) const {
        const std::int64_t n = position * denominator - first;
        return n <= 0 ? 0 : DivideNonNegative(n + step - 1, step).quotient;
    }
};

// The positions of an axis one after another, stepped without a division: Next moves from
// target position i to i + 1, and `at` is then the frame position At(i). Axes never start
// before their frame position 0, so truncating and flooring agree.
struct Steps {
    explicit Steps(const Axis& axis) : denominator(axis.denominator) {
        const Quotient start = DivideNonNegative(axis.first, axis.denominator);
        const Quotient step = DivideNonNegative(axis.step, axis.denominator);
        at = start.quotient;
        remainder = start.remainder;
        whole = step.quotient;
        part = step.remainder;
    }
    void Next() {
        at += whole;
        remainder += part;
        if (remainder >= denominator) {
            remainder -= denominator;
            ++at;
        }
    }

    std::int64_t at;
    std::int64_t whole;
    std::int64_t part;
    std::int64_t remainder;
    std::int64_t denominator;
};

// Every second byte of `from`, n of them (a row of a picture at half its size), reading no
// byte after the last one taken. Rows of a few dozen pixels are common (the small frames of an
// animation), so short rows take whole-word steps too: the last step of each width overlaps
// the one before instead of finishing byte by byte.
void EverySecond(std::uint8_t* out, const std::uint8_t* from, std::int32_t n) {
    // The first n - 1 bytes are taken in steps that read only before from[2 * (n - 1)].
    const std::int32_t m = n - 1;
    std::int32_t x = 0;
#if defined(__SSE2__)
    if (m >= 16) {
        const __m128i low = _mm_set1_epi16(0x00FF);
        auto step16 = [&](std::int32_t at) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2 * at));
            const __m128i b =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2 * at + 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at),
                             _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
        };
        for (; x + 16 <= m; x += 16) step16(x);
        if (x < m) step16(m - 16);
        x = m;
    }
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (x < m && m >= 8) {
        auto step8 = [&](std::int32_t at) {
            std::uint64_t a;
            std::uint64_t b;
            std::memcpy(&a, from + 2 * at, 8);
            std::memcpy(&b, from + 2 * at + 8, 8);
            auto even = [](std::uint64_t v) {
                v &= 0x00FF00FF00FF00FFu;
                v = (v | (v >> 8)) & 0x0000FFFF0000FFFFu;
                return (v | (v >> 16)) & 0xFFFFFFFFu;
            };
            const std::uint64_t packed = even(a) | (even(b) << 32);
            std::memcpy(out + at, &packed, 8);
        };
        for (; x + 8 <= m; x += 8) step8(x);
        if (x < m) step8(m - 8);
        x = m;
    }
#endif
    for (; x < n; ++x) out[x] = from[2 * x];
}

// One target row from a frame row; `columns` stands at target column 0.
void ScaleRow(std::uint8_t* out, const std::uint8_t* row, Steps columns,
              std::int32_t targetWidth) {
    if (columns.whole == 1 && columns.part == 0) {
        std::memcpy(out, row + columns.at, static_cast<std::size_t>(targetWidth));
        return;
    }
    if (columns.whole == 2 && columns.part == 0) {
        EverySecond(out, row + columns.at, targetWidth);  // a picture at half its size
        return;
    }
    std::int32_t x = 0;
    for (; x < targetWidth; ++x) {
        out[x] = row[columns.at];
        columns.Next();
    }
}

// Copies a short row. Written as 8-byte moves (the last one overlapping) because the compiler
// expands a plain memcpy of unknown size here into a string move whose start-up cost exceeds
// the copy itself for rows of a few dozen bytes.
inline void CopyRow(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
        return;
    }
    for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(to + i, from + i, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
}

// Reads the blocks after the header through a small window of its own, so that indexing a
// stream costs one source call per few hundred bytes instead of a seek and a one-byte read for
// every data sub-block (most of the indexing time on small animations). Positions and results
// are those of reading and skipping byte by byte: Tell is the position the source would
// report, a skip past the end makes the next read fail, and Finish leaves the source where
// such a pass would have left it.
class BlockScanner {
  public:
    explicit BlockScanner(CDataSource2* source)
        : source_(source), base_(source->Tell()), sourceAt_(base_) {}

    bool ReadByte(std::uint8_t* byte) {
        if (at_ >= end_ && !Fill()) {
            *byte = 0;
            return false;
        }
        *byte = window_[at_++];
        return true;
    }
    void Skip(std::int32_t count) { at_ += count; }
    std::uint32_t Tell() const {
        return static_cast<std::uint32_t>(std::min<std::int64_t>(base_ + at_, INT32_MAX));
    }
    // Skips data sub-blocks up to and including the terminator; false when a size byte cannot
    // be read.
    bool SkipSubBlocks() {
        std::uint8_t size = 0;
        if (!ReadByte(&size)) return false;
        while (size != 0) {
            at_ += size;
            if (!ReadByte(&size)) return false;
        }
        return true;
    }
    void Finish() {
        const std::int64_t position = base_ + at_;
        if (position != sourceAt_) source_->Seek(static_cast<std::int32_t>(position - sourceAt_), 1);
        sourceAt_ = position;
    }

  private:
    static constexpr std::int32_t kWindow = 512;

    // Reads the window at the current position; false when the source delivers nothing there.
    bool Fill() {
        Finish();
        base_ += at_;
        at_ = 0;
        const std::uint32_t got = source_->Read(window_, kWindow);
        end_ = static_cast<std::int64_t>(std::min<std::uint32_t>(got, kWindow));
        sourceAt_ = base_ + end_;
        return end_ > 0;
    }

    CDataSource2* source_;
    std::int64_t base_;      // position of window_[0]
    std::int64_t sourceAt_;  // where the source stands
    std::int64_t at_ = 0;    // position in the window (may lie beyond its end after a skip)
    std::int64_t end_ = 0;
    std::uint8_t window_[kWindow];
};

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
        std::uint8_t rgb[3 * 256];
        const std::uint32_t bytes = static_cast<std::uint32_t>(3 * globalColorCount);
        const std::uint32_t got = ReadFully(source, rgb, bytes);
        std::memset(rgb + got, 0, bytes - got);
        for (std::int32_t i = 0; i < globalColorCount; ++i) {
            globalColorTable[i] = PaletteEntry{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
        }
    }

    // One pass over the blocks, recording where each image and its graphic control extension
    // start. Image data is skipped, not decoded. A stream cut short keeps the frames found.
    BlockScanner scan(source);
    std::uint32_t pendingControl = 0;
    std::uint8_t introducer = 0;
    if (scan.ReadByte(&introducer)) {
        for (;;) {
            if (introducer == kTrailer) break;
            if (introducer == kExtension) {
                std::uint8_t label = 0;
                scan.ReadByte(&label);
                // Only a graphic control extension directly before an image governs it.
                pendingControl = label == kGraphicControlLabel ? scan.Tell() : 0;
                if (!scan.SkipSubBlocks() || !scan.ReadByte(&introducer)) break;
            } else if (introducer == kImageSeparator) {
                // The index doubles (16 entries at first) and is cut to the frame count after
                // the pass, so that an animation of n frames allocates it about log2(n) times
                // instead of once every few frames.
                if (frameCount == descriptorPositions.size) {
                    const std::int64_t doubled =
                        std::max<std::int64_t>(2 * std::int64_t{frameCount}, 16);
                    const std::int32_t room =
                        static_cast<std::int32_t>(std::min<std::int64_t>(doubled, INT32_MAX));
                    if (room == frameCount || !controlPositions.SetSize(room) ||
                        !descriptorPositions.SetSize(room)) {
                        controlPositions.SetSize(frameCount);
                        descriptorPositions.SetSize(frameCount);
                        scan.Finish();
                        ThrowError(ErrorOutOfMemory, kGifComponent, kGifParseRoutine,
                                   kGifSiteIndexMemory);
                    }
                }
                controlPositions[frameCount] = pendingControl;
                descriptorPositions[frameCount] = scan.Tell();
                pendingControl = 0;
                ++frameCount;
                scan.Skip(8);  // position and size
                std::uint8_t imagePacked = 0;
                scan.ReadByte(&imagePacked);
                if (imagePacked & 0x80) scan.Skip(3 << ((imagePacked & 7) + 1));
                std::uint8_t codeSize = 0;
                if (!scan.ReadByte(&codeSize) || !scan.SkipSubBlocks() ||
                    !scan.ReadByte(&introducer)) {
                    break;
                }
            } else {
                // Unknown bytes after an image end the stream; before one they mean this is
                // not a GIF we can read.
                if (frameCount > 0) break;
                scan.Finish();
                ThrowError(ErrorCorruptData, kGifComponent, kGifParseRoutine, kGifSiteUnknownBlock);
            }
        }
    }
    scan.Finish();
    controlPositions.SetSize(frameCount);  // shrinking keeps the storage
    descriptorPositions.SetSize(frameCount);
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

    // Rows are decoded straight into the target or through a buffer on the stack; only rows
    // sampled from frames too wide for that, and interlaced frames that are not decoded
    // straight into the target, take the row buffer (see RowBuffer).
    const std::int32_t bytesPerPixel = std::max(frame->bytesPerPixel, 1);
    const std::int64_t rowBytes = std::int64_t{bytesPerPixel} * frameRect.Width();
    if (rowBytes > INT32_MAX / 2) {
        ThrowError(ErrorOutOfMemory, kGifComponent, kGifFrameRoutine, kGifSiteRowBuffer);
    }

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
        // The frame's data ends before the next frame's descriptor (or the end of the source):
        // a hint of how much the decompressor's first read needs.
        const std::int64_t dataAt = source->Tell();
        const std::int64_t dataEnd = index + 1 < descriptorPositions.size
                                         ? std::int64_t{descriptorPositions[index + 1]}
                                         : std::int64_t{source->size};
        const std::uint32_t hint =
            dataEnd > dataAt ? static_cast<std::uint32_t>(dataEnd - dataAt) : 0;
        lzw.InitLzw(source, static_cast<std::int32_t>(globalSizeBits), hint);
        DecodeRows(source, *frame, visible);
    } catch (CIAException* error) {
        scope.pending = error;
        ReleaseCurrentError();
        throw error;
    }
}

// Rows of the frame into the target. With a grid (gridWidth, gridHeight), target pixel (x, y)
// is grid pixel (G.left + x, G.top + y) of the reduced picture, which shows screen pixel
// ((G.left + x) * SW / GW, (G.top + y) * SH / GH); G is the rectangle of the grid pixels inside
// the visible part. Without a grid, target row y shows frame row V.top + y * VH / TH and target
// column x row-buffer column V.left + x * VW / TW. When the target is the whole frame at its
// own size, rows are decoded straight into it.
//
// A row the data leaves short is completed from the row decoded before it (zeros for the
// first), which is what a single row buffer would have held; this also covers the positions
// the decompressor may overwrite after the last index it delivers. Outside the direct path
// only the visible columns are completed, and a row the data leaves empty is the row before it
// and costs nothing, so rows after the frame's data has ended cost no more than the target
// rows they fill.
std::uint8_t* CDecoderGif2::RowBuffer(std::size_t bytes) {
    if (bytes > rowBufferBytes_ || rowBuffer_ == nullptr) {
        rowBuffer_.reset();
        rowBufferBytes_ = 0;
        rowBuffer_.reset(new (std::nothrow) std::uint8_t[std::max<std::size_t>(bytes, 1)]);
        if (rowBuffer_ == nullptr) {
            ThrowError(ErrorOutOfMemory, kGifComponent, kGifFrameRoutine, kGifSiteRowBuffer);
        }
        rowBufferBytes_ = bytes;
    }
    std::memset(rowBuffer_.get(), 0, bytes);
    return rowBuffer_.get();
}

void CDecoderGif2::DecodeRows(CDataSource2* source, const DecoderFrameInfo& frame,
                              const Rect& visible) {
    const std::int32_t frameWidth = frame.frameRect.Width();
    const std::int32_t frameHeight = frame.frameRect.Height();
    const std::int32_t targetWidth = frame.targetWidth;
    const std::int32_t bytesPerPixel = std::max(frame.bytesPerPixel, 1);
    const std::int64_t stride =
        std::int64_t{bytesPerPixel} * std::max(targetWidth, 0) + frame.targetRowPadding;
    std::uint8_t* const target = frame.targetBits;

    // The sampling along each side, and how much of the target it fills.
    Axis columns;
    Axis rows;
    std::int32_t filledWidth = targetWidth;
    std::int32_t filledHeight = frame.targetHeight;
    if (frame.gridWidth > 0 && frame.gridHeight > 0 && screenWidth > 0 && screenHeight > 0) {
        Rect region = visible;
        region.Offset(frame.frameRect.left, frame.frameRect.top);
        const Rect grid =
            GridRect(region, screenWidth, screenHeight, frame.gridWidth, frame.gridHeight);
        columns = Axis{std::int64_t{grid.left} * screenWidth -
                           std::int64_t{frame.frameRect.left} * frame.gridWidth,
                       screenWidth, frame.gridWidth};
        rows = Axis{std::int64_t{grid.top} * screenHeight -
                        std::int64_t{frame.frameRect.top} * frame.gridHeight,
                    screenHeight, frame.gridHeight};
        filledWidth = std::min(filledWidth, grid.Width());
        filledHeight = std::min(filledHeight, grid.Height());
    } else {
        columns = Axis{std::int64_t{visible.left} * std::max(targetWidth, 1), visible.Width(),
                       std::max(targetWidth, 1)};
        rows = Axis{std::int64_t{visible.top} * std::max(frame.targetHeight, 1),
                    visible.Height(), std::max(frame.targetHeight, 1)};
    }
    const bool writable = target != nullptr && filledWidth > 0 && filledHeight > 0;
    const bool direct = writable && bytesPerPixel == 1 && targetWidth == frameWidth &&
                        filledWidth == frameWidth && filledHeight == frameHeight &&
                        visible.Width() == frameWidth && visible.Height() == frameHeight &&
                        columns.step == columns.denominator && rows.step == rows.denominator &&
                        columns.first == 0 && rows.first == 0;
    auto targetRow = [&](std::int64_t y) { return target + y * stride; };

    // The row decoded last; none (zeros) before the first.
    const std::uint8_t* lastRow = nullptr;
    std::uint8_t* spareRow = nullptr;
    // Row-by-row decoding through the row buffer (two rows, zeroed) starts here.
    auto useRowBuffer = [&] {
        std::uint8_t* const buffer =
            RowBuffer(static_cast<std::size_t>(2 * std::int64_t{bytesPerPixel} * frameWidth));
        lastRow = buffer;
        spareRow = buffer + std::int64_t{bytesPerPixel} * frameWidth;
    };
    // Completes a row the data left short at `from` from the row before it.
    auto complete = [&](std::uint8_t* row, std::int32_t from, const std::uint8_t* before) {
        const std::size_t n = static_cast<std::size_t>(frameWidth - from);
        if (before != nullptr) {
            std::memcpy(row + from, before + from, n);
        } else {
            std::memset(row + from, 0, n);
        }
    };
    // Direct path: the whole row is the target's, so all of it is completed.
    auto decodeInto = [&](std::uint8_t* row) {
        const std::int32_t written = lzw.DecodeRowOverwriting(source, row, frameWidth);
        if (written < frameWidth) complete(row, written, lastRow);
        lastRow = row;
    };
    // Decodes the next frame row into the row buffer; lastRow then holds it in the visible
    // columns.
    const std::int32_t visibleLeft = visible.left;
    const std::int32_t visibleRight = visible.right;
    auto decodeBuffered = [&] {
        const std::int32_t written = lzw.DecodeRowOverwriting(source, spareRow, frameWidth);
        if (written == 0) return;  // the row is the one before it
        const std::int32_t from = std::max(written, visibleLeft);
        if (from < visibleRight) {
            std::memcpy(spareRow + from, lastRow + from,
                        static_cast<std::size_t>(visibleRight - from));
        }
        std::uint8_t* row = spareRow;
        spareRow = const_cast<std::uint8_t*>(lastRow);
        lastRow = row;
    };
    const Steps columnSteps(columns);
    auto writeRow = [&](std::int64_t y) {
        ScaleRow(targetRow(y), lastRow, columnSteps, filledWidth);
    };
    auto copyRow = [&](std::int64_t y, std::int64_t from) {
        std::memcpy(targetRow(y), targetRow(from),
                    static_cast<std::size_t>(bytesPerPixel) * filledWidth);
    };

    if (!frame.interlaced) {
        // Many rows are decoded in one call, which keeps short rows on the decompressor's fast
        // path: straight into the target when its rows have no padding and so follow each
        // other in memory, else through a small buffer on the stack. A call that ends early
        // (an end code, or the end of the data) ends where the call for that one row would
        // have: that row is completed from the row before it and the next call starts at the
        // next row, exactly as row by row.
        auto decodeRun = [&](std::uint8_t* run, std::int32_t count) {
            std::int32_t r = 0;
            while (r < count) {
                std::uint8_t* const start = run + std::int64_t{r} * frameWidth;
                const std::int32_t n = (count - r) * frameWidth;
                const std::int32_t written = lzw.DecodeRowOverwriting(source, start, n);
                if (written == n) {
                    lastRow = run + std::int64_t{count - 1} * frameWidth;
                    return;
                }
                const std::int32_t full = written / frameWidth;
                const std::int32_t part = written % frameWidth;
                std::uint8_t* const row = start + std::int64_t{full} * frameWidth;
                const std::uint8_t* const before = full > 0 ? row - frameWidth : lastRow;
                complete(row, part, before);
                lastRow = row;
                r += full + 1;
            }
        };
        if (direct && stride == frameWidth) {
            const std::int32_t rowsPerCall = std::max(1, INT32_MAX / frameWidth);
            for (std::int32_t r = 0; r < frameHeight; r += rowsPerCall) {
                decodeRun(targetRow(r), std::min(rowsPerCall, frameHeight - r));
            }
            return;
        }
        constexpr std::int32_t kRunBytes = 4096;
        if (direct && frameWidth <= kRunBytes / 2) {
            std::uint8_t run[kRunBytes];
            const std::int32_t rowsPerCall = kRunBytes / frameWidth;
            for (std::int32_t r = 0; r < frameHeight; r += rowsPerCall) {
                const std::int32_t count = std::min(rowsPerCall, frameHeight - r);
                decodeRun(run, count);
                for (std::int32_t i = 0; i < count; ++i) {
                    CopyRow(targetRow(r + i), run + std::int64_t{i} * frameWidth,
                            static_cast<std::size_t>(frameWidth));
                }
                lastRow = targetRow(r + count - 1);
            }
            return;
        }
        if (direct) {
            for (std::int32_t r = 0; r < frameHeight; ++r) decodeInto(targetRow(r));
            return;
        }
        if (frameWidth <= kRunBytes / 2) {
            // Sampled or clipped rows of short frames: the rows up to the last one needed are
            // decoded many at a time into a buffer on the stack, as above, and the rows the
            // target shows are taken from it. The last row of one run is kept aside before the
            // next run overwrites the buffer, as the row that an early end completes from.
            std::uint8_t run[kRunBytes];
            std::uint8_t carry[kRunBytes / 2];
            const std::int32_t rowsPerCall = kRunBytes / frameWidth;
            const std::int32_t needed =
                filledHeight > 0 ? std::max(visible.top, rows.At(filledHeight - 1) + 1)
                                 : visible.top;
            std::int32_t runStart = 0;
            std::int32_t runCount = 0;
            auto rowAt = [&](std::int32_t r) {
                while (r >= runStart + runCount) {
                    if (runCount > 0) {
                        std::memcpy(carry, lastRow, static_cast<std::size_t>(frameWidth));
                        lastRow = carry;
                    }
                    runStart += runCount;
                    runCount = std::min(rowsPerCall, std::max(needed, r + 1) - runStart);
                    decodeRun(run, runCount);
                }
                return run + std::int64_t{r - runStart} * frameWidth;
            };
            if (filledHeight == 0 && needed > 0) rowAt(needed - 1);
            std::int32_t previousSource = -1;
            Steps rowSteps(rows);
            for (std::int32_t y = 0; y < filledHeight; ++y, rowSteps.Next()) {
                const std::int32_t sourceRow = static_cast<std::int32_t>(rowSteps.at);
                if (y > 0 && sourceRow == previousSource) {
                    if (writable) copyRow(y, y - 1);
                } else {
                    const std::uint8_t* const row = rowAt(sourceRow);
                    if (writable) ScaleRow(targetRow(y), row, columnSteps, filledWidth);
                }
                previousSource = sourceRow;
            }
            return;
        }
        useRowBuffer();
        std::int32_t next = 0;  // the next frame row to decode
        for (; next < visible.top; ++next) decodeBuffered();
        std::int32_t previousSource = -1;
        Steps rowSteps(rows);
        for (std::int32_t y = 0; y < filledHeight; ++y, rowSteps.Next()) {
            const std::int32_t sourceRow = static_cast<std::int32_t>(rowSteps.at);
            for (; next < sourceRow; ++next) decodeBuffered();
            if (y > 0 && sourceRow == previousSource) {
                if (writable) copyRow(y, y - 1);
            } else {
                decodeBuffered();
                ++next;
                if (writable) writeRow(y);
            }
            previousSource = sourceRow;
        }
        return;
    }

    // Interlaced: four passes, every row decoded in the order stored, until the last target
    // row is written.
    if (!direct) useRowBuffer();
    static const std::int32_t kPasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    std::int64_t unwritten = filledHeight;
    for (const auto& pass : kPasses) {
        for (std::int32_t r = pass[0]; r < frameHeight; r += pass[1]) {
            if (direct) {
                decodeInto(targetRow(r));
                continue;
            }
            decodeBuffered();
            if (!writable || r < visible.top || r >= visible.bottom) continue;
            // The target rows showing this frame row.
            const std::int64_t first = std::min<std::int64_t>(rows.FirstAt(r), filledHeight);
            const std::int64_t last = std::min<std::int64_t>(rows.FirstAt(r + 1), filledHeight);
            for (std::int64_t y = first; y < last; ++y) {
                if (y == first) {
                    writeRow(y);
                } else {
                    copyRow(y, first);
                }
            }
            unwritten -= last - first;
            if (unwritten <= 0) return;  // no later row shows in the target
        }
    }
}

void CDecoderGif2::ReleaseStream() {
    descriptorPositions.RemoveAll();
    controlPositions.RemoveAll();
    rowBuffer_.reset();
    rowBufferBytes_ = 0;
}

}  // namespace br
