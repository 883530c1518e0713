// What a device maker needs to know about a picture before shipping it: its structure as the
// device's decoder reads it, when each frame reaches the screen and for how long, how much
// memory the show takes at each decode scale and which scale a given memory limit leads to,
// and plain-word warnings (each with a short id and a fix) about what the device will do
// differently from a desktop viewer.
//
// The structure comes from the library's own decoder (so that it is what the device sees),
// read in one pass over the stream; a small block scan of our own adds what the decoder does
// not report: whether a frame has a graphic control extension, the loop count and where the
// data ends. Memory is worked out from the frames' sizes, never by decoding at a size the
// device would not reach; the frames are then decoded one at a time at the scale the device
// reaches, to find data errors and transparent pixels, so that the analysis itself needs no
// more memory than one of the device's frames. Decoding uses bitmap sections of the simulated
// device, so callers must have reset the device first.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "preview/json.h"
#include "preview/memory_table.h"
#include "preview/warnings.h"

namespace br {
class CDataSource2;
}

namespace preview {

// The render loop's pass period: frames are composed on passes about this far apart.
constexpr std::uint32_t kPassMs = 20;

struct FrameReport {
    int index = 0;
    int left = 0, top = 0, width = 0, height = 0;
    int delayCs = 0;
    int disposal = 0;
    int transparentIndex = -1;  // -1: none
    bool interlaced = false;
    bool userInput = false;
    bool hasControlExtension = false;
    bool hasLocalColourTable = false;
    // The control block the decoder ignored because another extension parted it from the
    // image ("the loop extension", ...); empty when there was none.
    std::string controlSeparatedBy;
    std::uint32_t composedAtMs = 0;  // after the render thread's start, on an idle device
    std::uint32_t onScreenMs = 0;    // until the next frame replaces it or the window closes
};

struct PictureReport {
    std::string path;
    std::uint64_t fileBytes = 0;
    int formatCode = 0;
    std::string formatName;  // "GIF89a", "PNG", "unknown", ...
    bool isGif = false;
    bool parsed = false;     // the decoder read the picture description
    bool decodable = false;  // every frame decodes at the scale the device reaches
    std::string errorText;   // the decoder's message and numbers when it failed
    int width = 0, height = 0;
    int globalColours = 0;
    std::uint32_t backgroundColour = 0xFFFFFF;
    int loopCount = -1;  // -1: no loop extension
    bool hasTrailer = false;
    std::vector<FrameReport> frames;

    int screenWidth = 0, screenHeight = 0;
    double displayScale = 1.0;
    int shownWidth = 0, shownHeight = 0;  // part of the picture the screen shows
    std::uint64_t delaySumMs = 0;         // every frame's delay
    std::uint32_t animationMs = 0;        // render start to the end of the animation
    std::vector<ScaleMemory> memory;      // one row per entry of kDecodeScales
    std::uint64_t surfaceBytes = 0;       // the render loop's two drawing surfaces
    std::uint64_t largestBitmapBytes = 0; // the largest bitmap the device makes
    std::uint64_t memoryLimit = 0;        // 0: none
    double decodeScale = 0;               // the scale the device would use; 0: none fits
    bool surfacesFit = true;              // the drawing surfaces fit beside the frames
    std::string memoryVerdict;            // one line: what the device does with this memory
    std::vector<Warning> warnings;

    // True when the device would show the picture moving: decodable, two frames or more,
    // and everything fits in memory.
    bool DeviceShowsAnimation() const;
};

// Analyses picture bytes. Never fails: what cannot be read is reported in the result. The
// decoder reads through `source` when one is given (it must hold the same bytes), else
// through a source over `bytes`.
PictureReport AnalysePicture(const std::string& path, const std::vector<std::uint8_t>& bytes,
                             int screenWidth, int screenHeight, std::uint64_t memoryLimit,
                             br::CDataSource2* source = nullptr);

// Times at which the render loop composes each frame (from its start, passes kPassMs apart
// on an idle device) and, in *endMs, when it leaves its loop after showing the last frame for
// one pass. A delay counts from the start of the animation, at most one frame per pass.
std::vector<std::uint32_t> CompositionTimes(const std::vector<int>& delaysCs, std::uint32_t* endMs);

// The size of the pixel buffer the decoder makes for a frame when the picture is decoded at
// `scale` (0x0 when the frame gets none), and the bitmap memory of such a buffer (8 bits a
// pixel, rows rounded up to 4 bytes).
struct BufferSize {
    int width = 0, height = 0;
};
BufferSize DecodedFrameSize(int left, int top, int width, int height, int pictureWidth,
                            int pictureHeight, double scale);
std::uint64_t FrameBitmapBytes(const BufferSize& size);

std::string FormatReportText(const PictureReport& report);
Json ReportToJson(const PictureReport& report);

}  // namespace preview
