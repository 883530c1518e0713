// Format detection, the decoder records and the six public operations of the decoder base; see
// decode/decoder.h. The facade lives in its own file (img_decoder.cpp) so that programs that
// use only the base do not pull in the concrete decoders.
#include <cstring>
#include <new>

#include "decode/decoder.h"

namespace br {

namespace {

// Location numbers of the decoder base's error sites.
constexpr std::uint32_t kDecoderBase = 30001;
constexpr std::uint32_t kImageInfoFromFile = 18;
constexpr std::uint32_t kFramesFromFile = 104;
constexpr std::uint32_t kFramesToSize = 144;
constexpr std::uint32_t kFramesByPercent = 146;
constexpr std::uint32_t kSiteNoFrames = 2;
constexpr std::uint32_t kSiteFrameList = 3;
constexpr std::uint32_t kSiteLayer = 4;
constexpr std::uint32_t kSiteScreenSize = 5;

// Replaces the decoder's last error; the previous one is deleted.
void StoreLastError(CDecoderBase2* decoder, CIAException* error) {
    delete decoder->lastError;
    decoder->lastError = error;
}

// Runs `work` as a guarded block of a public operation. On a caught error: `undo`, then
// ReleaseStream, then the error becomes the decoder's last error (released from the scope, so
// that the decoder alone owns it); the result is 0. On success: ReleaseStream; the result is 1.
// Anything thrown that is not an error object (the standard library's allocation failure, say)
// is treated like an error whose object could not be allocated: the operation fails and the
// last error becomes none. Nothing leaves a public operation.
template <typename Work, typename Undo>
int RunGuarded(CDecoderBase2* decoder, Work&& work, Undo&& undo) {
    bool succeeded = false;
    {
        ErrorScope scope;
        try {
            work();
            succeeded = true;
        } catch (CIAException* error) {
            scope.pending = error;
            undo();
            decoder->ReleaseStream();
            ReleaseCurrentError();
            StoreLastError(decoder, error);
        } catch (...) {
            undo();
            decoder->ReleaseStream();
            StoreLastError(decoder, nullptr);
        }
    }
    if (!succeeded) return 0;
    decoder->ReleaseStream();
    return 1;
}

// Fills a picture description from the decoder's image information.
void FillImageInfo(CImgInfo* image, const DecoderImageInfo& info) {
    image->format = info.format;
    image->width = info.width;
    image->height = info.height;
    image->backgroundColor = info.backgroundColor;
    image->frameCount = info.frameCount;
    image->extraA = info.extraA;
    if (info.extraFlag != 0) {
        image->colorCount = 257;
    } else if (info.bitsPerPixel > 24) {
        image->colorCount = 16777216;
    } else if (info.bitsPerPixel >= 0) {
        image->colorCount = static_cast<std::int32_t>(1u << info.bitsPerPixel);
    } else {
        // A negative depth has no meaning; 2 to a negative power rounds down to nothing.
        image->colorCount = 0;
    }
}

std::int32_t ClampToInt32(std::int64_t value) {
    if (value > 0x7FFFFFFF) return 0x7FFFFFFF;
    if (value < -0x7FFFFFFF - 1) return -0x7FFFFFFF - 1;
    return static_cast<std::int32_t>(value);
}

// How a frame-decoding operation sizes each frame's pixel buffer.
struct FrameSizing {
    std::uint32_t routine;  // location number of the operation
    bool byPercent;
    std::int32_t scalePercent;  // by percent
    const TargetSize* target;   // to size: optional
    const Rect* clip;           // to size: optional
};

// The common body of DecodeFramesByPercent and DecodeFramesToSize.
int DecodeFrames(CDecoderBase2* decoder, CDataSource2* source, CImgInfo* image, FrameList* frames,
                 const FrameSizing& sizing) {
    FrameList list = nullptr;
    std::int32_t listCount = 0;
    DecoderImageInfo info;
    auto work = [&] {
        *frames = nullptr;
        PresetImageInfo(&info);
        decoder->ReadImageInfo(source, &info);
        if (info.frameCount == 0)
            ThrowError(ErrorNoFrames, kDecoderBase, sizing.routine, kSiteNoFrames);
        // Scaling to a target size divides by the screen size.
        if (!sizing.byPercent && sizing.target != nullptr &&
            (info.width == 0 || info.height == 0)) {
            ThrowError(ErrorCorruptData, kDecoderBase, sizing.routine, kSiteScreenSize);
        }
        if (image != nullptr) FillImageInfo(image, info);

        if (info.frameCount < 0 || info.frameCount >= (1 << 30)) {
            ThrowError(ErrorOutOfMemory, kDecoderBase, sizing.routine, kSiteFrameList);
        }
        list = new (std::nothrow) CImgLayer*[static_cast<std::size_t>(info.frameCount)]();
        if (list == nullptr)
            ThrowError(ErrorOutOfMemory, kDecoderBase, sizing.routine, kSiteFrameList);
        listCount = info.frameCount;

        // Two passes: every frame's buffer is made before any frame is decoded, so that a
        // size that does not fit in memory is found out for the cost of the allocations and
        // not after decoding every frame before the one that fails.
        for (std::int32_t i = 0; i < info.frameCount; ++i) {
            DecoderFrameInfo frame;
            PresetFrameInfo(&frame);
            frame.bytesPerPixel = 0;
            frame.targetRowPadding = 0;
            CImgLayer* layer = new (std::nothrow) CImgLayer();
            if (layer == nullptr)
                ThrowError(ErrorOutOfMemory, kDecoderBase, sizing.routine, kSiteLayer);
            list[i] = layer;

            decoder->ReadFrameInfo(source, &frame, i);
            layer->delay = static_cast<std::int16_t>(frame.delay);
            layer->disposal = static_cast<std::uint8_t>(frame.disposal);
            layer->interlaced = static_cast<std::uint8_t>(frame.interlaced);
            layer->userInput = static_cast<std::uint8_t>(frame.userInput);
            layer->frameRect = frame.frameRect;

            // The part of the screen this frame's buffer covers, and the buffer's size. Frames
            // with nothing to show get neither a buffer nor a decode.
            Rect region = frame.frameRect;
            std::int32_t bufferWidth;
            std::int32_t bufferHeight;
            if (sizing.byPercent) {
                if (region.Width() <= 0 || region.Height() <= 0) continue;
                bufferWidth = ClampToInt32(static_cast<std::int64_t>(region.Width()) *
                                           sizing.scalePercent / 100);
                bufferHeight = ClampToInt32(static_cast<std::int64_t>(region.Height()) *
                                            sizing.scalePercent / 100);
            } else {
                if (sizing.clip != nullptr) region.Intersect(frame.frameRect, *sizing.clip);
                if (region.Width() <= 0 || region.Height() <= 0) continue;
                bufferWidth = region.Width();
                bufferHeight = region.Height();
                if (sizing.target != nullptr) {
                    // The grid pixels of the region, on the grid of the whole picture.
                    const Rect grid = GridRect(region, info.width, info.height,
                                               sizing.target->width, sizing.target->height);
                    if (grid.IsEmpty()) continue;
                    bufferWidth = grid.Width();
                    bufferHeight = grid.Height();
                }
            }

            layer->image.Create(bufferWidth, bufferHeight,
                                static_cast<std::uint8_t>(frame.bytesPerPixel), frame.withMask);
            layer->image.transparentIndex = frame.transparentIndex;
            layer->decodedRect = region;
        }

        for (std::int32_t i = 0; i < info.frameCount; ++i) {
            CImgLayer* layer = list[i];
            if (layer->decodedRect.IsEmpty()) continue;  // nothing to decode
            // The record again, from what the first pass kept in the layer; the decoder writes
            // the frame's colour table into the buffer's palette as it decodes.
            DecoderFrameInfo frame;
            PresetFrameInfo(&frame);
            frame.interlaced = layer->interlaced;
            frame.userInput = layer->userInput;
            frame.delay = static_cast<std::uint16_t>(layer->delay);
            frame.disposal = layer->disposal;
            frame.frameRect = layer->frameRect;
            frame.transparentIndex = layer->image.transparentIndex;
            frame.bytesPerPixel = layer->image.bytesPerPixel;
            frame.withMask = layer->image.maskBits != nullptr ? 1 : 0;
            frame.clipRect = layer->decodedRect;
            frame.targetWidth = layer->image.width;
            frame.targetHeight = layer->image.height;
            frame.targetBits = layer->image.colorBits;
            frame.targetMaskBits = layer->image.maskBits;
            frame.targetRowPadding = layer->image.rowPadding;
            frame.targetPalette = layer->image.palette;
            if (!sizing.byPercent && sizing.target != nullptr) {
                frame.gridWidth = sizing.target->width;
                frame.gridHeight = sizing.target->height;
            }
            decoder->DecodeFrame(source, &frame, i, 0);
            layer->decodedRect = frame.clipRect;
        }
    };
    auto undo = [&] {
        if (list != nullptr) {
            for (std::int32_t i = 0; i < listCount; ++i) delete list[i];
            FreeFrameList(list, listCount);
            list = nullptr;
        }
        if (image != nullptr) image->Reset();
    };
    if (frames == nullptr) {
        // Nowhere to deliver the frames: decoding them would only leak them. The operation fails
        // before touching the source; there is no error object for a caller's slip.
        StoreLastError(decoder, nullptr);
        return 0;
    }
    const int result = RunGuarded(decoder, work, undo);
    if (result == 1) *frames = list;
    return result;
}

}  // namespace

// ---- Format detection --------------------------------------------------------------------

std::int32_t DetectImageFormat(CDataSource2* source) {
    if (source == nullptr || source->size == 0) return FormatNone;
    const std::int32_t remembered = source->Tell();

    // Bytes that a short source cannot deliver count as 0.
    std::uint8_t head[4] = {0, 0, 0, 0};
    source->Seek(0, 0);
    source->Read(head, 4);

    auto result = [&]() -> std::int32_t {
        if (head[0] == 'B' && head[1] == 'M') return FormatBmp;
        if (head[0] == 'G' && head[1] == 'I' && head[2] == 'F' && head[3] == '8') return FormatGif;
        if ((head[0] == 0x49 && head[1] == 0x49 && head[2] == 0x2A && head[3] == 0x00) ||
            (head[0] == 0x4D && head[1] == 0x4D && head[2] == 0x00 && head[3] == 0x2A)) {
            return FormatTiff;
        }
        if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return FormatJpeg;
        if (head[0] == 0x89 && head[1] == 0x50 && head[2] == 0x4E && head[3] == 0x47) {
            return FormatPng;
        }
        if ((head[0] == 0xC5 && head[1] == 0xD0 && head[2] == 0xD3 && head[3] == 0xC6) ||
            (head[0] == 0xC6 && head[1] == 0xD3 && head[2] == 0xD0 && head[3] == 0xC5)) {
            // EPS with a TIFF preview: the preview's offset and length must both be given.
            std::uint8_t preview[8] = {0, 0, 0, 0, 0, 0, 0, 0};
            source->Seek(20, 0);
            source->Read(preview, 8);
            const bool offsetGiven = (preview[0] | preview[1] | preview[2] | preview[3]) != 0;
            const bool lengthGiven = (preview[4] | preview[5] | preview[6] | preview[7]) != 0;
            if (offsetGiven && lengthGiven) return FormatEps;
        }
        if (head[0] == 0x0A && head[2] == 0x01) return FormatPcx;
        if (head[0] == 'P' && (head[1] == '2' || head[1] == '5')) return FormatPgm;
        if (head[0] == 0x00 && (head[1] & 0x9F) == 0) return FormatWbmp;
        if (source->size > 540) {
            // PICT: the picture's version opcode follows a 512-byte header and 10 bytes of size
            // and frame.
            std::uint8_t op[4] = {0, 0, 0, 0};
            source->Seek(522, 0);
            source->Read(op, 4);
            if ((op[0] == 0x00 && op[1] == 0x11 && op[2] == 0x02 && op[3] == 0xFF) ||
                (op[0] == 0x00 && op[1] == 0x11 && op[2] == 0x01) ||
                (op[0] == 0x11 && op[1] == 0x01 && op[2] == 0x01 && op[3] == 0x00)) {
                return FormatPict;
            }
        }
        return FormatNone;
    }();

    source->Seek(remembered, 0);
    return result;
}

// ---- The reduced picture's grid ------------------------------------------------------------

namespace {

// a / b for a >= 0 and b > 0, in 32 bits when both fit: a 64-bit division costs several times
// as much, and decoding a picture at a reduced size divides a few times for every frame.
std::int64_t DivideNonNegative(std::int64_t a, std::int64_t b) {
    if (((a | b) >> 32) == 0) {
        return static_cast<std::uint32_t>(a) / static_cast<std::uint32_t>(b);
    }
    return a / b;
}

// a / b rounded up, for b > 0 and any sign of a.
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? DivideNonNegative(a + b - 1, b) : -DivideNonNegative(-a, b);
}

// The reduced coordinates X with first <= X * full / reduced < end (truncated): from the first
// multiple of reduced / full at or after `first` to the one at or after `end`.
void GridSpan(std::int32_t first, std::int32_t end, std::int32_t full, std::int32_t reduced,
              std::int32_t* gridFirst, std::int32_t* gridEnd) {
    *gridFirst = ClampToInt32(CeilDiv(std::int64_t{first} * reduced, full));
    *gridEnd = ClampToInt32(CeilDiv(std::int64_t{end} * reduced, full));
}

}  // namespace

Rect GridRect(const Rect& region, std::int32_t pictureWidth, std::int32_t pictureHeight,
              std::int32_t targetWidth, std::int32_t targetHeight) {
    Rect grid(0, 0, 0, 0);
    if (region.IsEmpty() || pictureWidth <= 0 || pictureHeight <= 0 || targetWidth <= 0 ||
        targetHeight <= 0) {
        return grid;
    }
    GridSpan(region.left, region.right, pictureWidth, targetWidth, &grid.left, &grid.right);
    GridSpan(region.top, region.bottom, pictureHeight, targetHeight, &grid.top, &grid.bottom);
    if (grid.IsEmpty()) grid.SetEmpty();
    return grid;
}

Rect FrameGridRect(const Rect& frameRect, std::int32_t pictureWidth, std::int32_t pictureHeight,
                   std::int32_t targetWidth, std::int32_t targetHeight) {
    Rect region;  // (0, 0, 0, 0) when the frame lies outside the picture, which has no grid pixel
    region.Intersect(frameRect, Rect(0, 0, pictureWidth, pictureHeight));
    return GridRect(region, pictureWidth, pictureHeight, targetWidth, targetHeight);
}

std::uint64_t FrameBufferBytes(const Rect& frameRect, std::int32_t pictureWidth,
                               std::int32_t pictureHeight, std::int32_t targetWidth,
                               std::int32_t targetHeight) {
    const Rect grid =
        FrameGridRect(frameRect, pictureWidth, pictureHeight, targetWidth, targetHeight);
    if (grid.IsEmpty()) return 0;
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(grid.Width()) + 3) / 4 * 4;
    return rowBytes * static_cast<std::uint64_t>(grid.Height());
}

// ---- Records -----------------------------------------------------------------------------

void PresetImageInfo(DecoderImageInfo* info) {
    info->format = 0;
    info->width = 0;
    info->height = 0;
    info->backgroundColor = 0;
    info->bitsPerPixel = 0;
    info->frameCount = 0;
    info->extraA = 1;
    info->extraB = -1;
    info->extraC = -1;
    info->extraFlag = 0;
}

void PresetFrameInfo(DecoderFrameInfo* frame) {
    frame->interlaced = 0;
    frame->userInput = 0;
    frame->delay = 0;
    frame->disposal = 0;
    frame->frameRect.SetEmpty();
    frame->transparentIndex = -1;
    frame->withMask = 0;
    frame->clipRect.SetEmpty();
    frame->targetBits = nullptr;
    frame->targetMaskBits = nullptr;
    frame->targetWidth = 0;
    frame->targetHeight = 0;
    frame->targetPalette = nullptr;
    frame->gridWidth = 0;
    frame->gridHeight = 0;
}

void FreeFrameList(FrameList list, std::int32_t /*count*/) {
    delete[] list;
}

// ---- CDecoderBase2 -----------------------------------------------------------------------

CDecoderBase2::CDecoderBase2() : lastError(nullptr) {}

CDecoderBase2::~CDecoderBase2() {
    if (lastError != nullptr && lastError->autoDelete) delete lastError;
    lastError = nullptr;
}

int CDecoderBase2::GetImageInfo(CDataSource2* source, DecoderImageInfo* info) {
    return RunGuarded(
        this, [&] { ReadImageInfo(source, info); }, [] {});
}

int CDecoderBase2::GetImageInfoFromFile(const char16_t* path, DecoderImageInfo* info) {
    if (path != nullptr && path[0] != 0 && info != nullptr) {
        CDataSource2* source = nullptr;
        if (CreateFileSource(path, &source) != 0) {
            const int result = GetImageInfo(source, info);
            delete source;
            if (result == 1) return 1;
        }
    }
    // A path-based operation reports every failure as a file that could not be loaded.
    StoreLastError(this, NewError(ErrorFileLoad, kDecoderBase, kImageInfoFromFile, 1));
    return 0;
}

int CDecoderBase2::GetFrameInfo(CDataSource2* source, DecoderFrameInfo* frame, std::int32_t index) {
    return RunGuarded(
        this,
        [&] {
            DecoderImageInfo info;
            PresetImageInfo(&info);
            ReadImageInfo(source, &info);
            ReadFrameInfo(source, frame, index);
        },
        [] {});
}

int CDecoderBase2::DecodeFramesByPercent(CDataSource2* source, CImgInfo* image, FrameList* frames,
                                         std::int32_t scalePercent) {
    return DecodeFrames(this, source, image, frames,
                        FrameSizing{kFramesByPercent, true, scalePercent, nullptr, nullptr});
}

int CDecoderBase2::DecodeFramesToSize(CDataSource2* source, CImgInfo* image, FrameList* frames,
                                      const TargetSize* target, const Rect* clip) {
    return DecodeFrames(this, source, image, frames,
                        FrameSizing{kFramesToSize, false, 0, target, clip});
}

int CDecoderBase2::DecodeFramesFromFile(const char16_t* path, CImgInfo* image, FrameList* frames,
                                        const TargetSize* target, const Rect* clip) {
    if (path != nullptr && path[0] != 0 && image != nullptr && frames != nullptr) {
        CDataSource2* source = nullptr;
        if (CreateFileSource(path, &source) != 0) {
            const int result = DecodeFramesToSize(source, image, frames, target, clip);
            delete source;
            if (result == 1) return 1;
        }
    }
    StoreLastError(this, NewError(ErrorFileLoad, kDecoderBase, kFramesFromFile, 1));
    return 0;
}

}  // namespace br
