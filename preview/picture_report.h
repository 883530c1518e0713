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

namespace br {
class CDataSource2;
}

namespace preview {

// The render loop's pass period: frames are composed on passes about this far apart.
constexpr std::uint32_t kPassMs = 20;

// The decode scales the device tries, in order.
constexpr double kDecodeScales[] = {1.0, 0.5, 0.25, 0.125, 0.0625};

// Program memory (not bitmap memory) that each decoded frame costs the device beside its
// pixels: the palette copy every frame's pixel buffer carries (a full 256-entry record of
// 1,028 bytes, whatever the frame's colour count), and the frame's own record with its list
// entry (about 112 bytes on the device's 32-bit processor, heap headers included).
constexpr std::uint64_t kFramePaletteBytes = 1028;
constexpr std::uint64_t kFrameRecordBytes = 112;

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

struct ScaleMemory {
    double scale = 1.0;
    int targetWidth = 0, targetHeight = 0;  // the logical screen at this scale
    std::uint64_t frameBytes = 0;           // pixel memory of all decoded frames together
    std::uint64_t largestFrameBytes = 0;    // the largest single frame's pixel memory
    int largestFrame = -1;                  // its index
    bool overBitmapCap = false;             // a frame exceeds the largest bitmap the device makes
    std::uint64_t bitmapBytes = 0;          // frames and drawing surfaces: what the limit counts
    std::uint64_t frameHeapBytes = 0;       // palette copies and frame records (program memory)
    std::uint64_t totalBytes = 0;           // everything the show holds at this scale
    // Bitmap-memory limits with which the device shows the animation at this scale:
    // from minLimit to maxLimit (0: no upper end); none when `works` is false.
    bool works = false;
    std::uint64_t minLimit = 0, maxLimit = 0;
};

struct Warning {
    Warning() = default;
    Warning(std::string id_, std::string text_, std::string fix_ = std::string())
        : id(std::move(id_)), text(std::move(text_)), fix(std::move(fix_)) {}

    std::string id;    // stable key for tools: "noControlExtension", "zeroDelay", ...
    std::string text;  // what the device does and why, in plain words
    std::string fix;   // what to change (may be empty when nothing needs changing)
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

// The warning for a shut-down show whose sound is so long that it holds up the shut-down
// (the entry point returns, and the boot sequence goes on, only when the sound has ended);
// an empty id when the sound is short enough not to matter.
Warning ShutdownSoundWarning(std::uint64_t soundMs, std::uint64_t windowClosedMs);

std::string FormatReportText(const PictureReport& report);
Json ReportToJson(const PictureReport& report);

// Reads a whole file. False with a one-line *error for a missing, unreadable or non-regular
// file (a directory, for example).
bool ReadInputFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error);

std::string ScaleName(double scale);  // "1", "1/2", ... "1/16"

}  // namespace preview
