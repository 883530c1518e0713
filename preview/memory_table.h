// The device's memory for a picture, counted once: for every decode scale the device tries,
// what its decoded frames, its two drawing surfaces and the frames' records take, and which
// bitmap-memory limits lead the device to show the animation at that scale. The `info` text,
// `info --json`, the report page and `make` all read this one count, and the text and the page
// render the one table model below (whole bytes, one wording of the limits).
//
// Memory is worked out from the frames' rectangles alone, never by decoding: the device frees
// one attempt's frames before the next, so a scale is tried when the one before it failed, and
// it fails when a frame exceeds the largest bitmap or all frames together exceed the limit.
// The drawing surfaces come after the frames; when they do not fit, the device shows nothing
// (it does not go down the scales for them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace preview {

// The decode scales the device tries, in order.
constexpr double kDecodeScales[] = {1.0, 0.5, 0.25, 0.125, 0.0625};

// Program memory (not bitmap memory) that each decoded frame costs the device beside its
// pixels: the palette copy every frame's pixel buffer carries (a full 256-entry record of
// 1,028 bytes, whatever the frame's colour count), and the frame's own record with its list
// entry (about 112 bytes on the device's 32-bit processor, heap headers included).
constexpr std::uint64_t kFramePaletteBytes = 1028;
constexpr std::uint64_t kFrameRecordBytes = 112;

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

// A frame's rectangle in the picture, as its image descriptor gives it.
struct FrameRect {
    int left = 0, top = 0, width = 0, height = 0;
};

// What the count needs: the picture, its frames, the device's screen and memory.
struct MemoryInputs {
    int pictureWidth = 0, pictureHeight = 0;
    std::vector<FrameRect> frames;
    int screenWidth = 0, screenHeight = 0;
    std::uint64_t memoryLimit = 0;         // 0: none
    std::uint64_t largestBitmapBytes = 0;  // the largest bitmap the device makes
};

struct MemoryCount {
    std::vector<ScaleMemory> rows;        // one per entry of kDecodeScales
    double displayScale = 1.0;            // the player's scaling of the picture into the window
    int shownWidth = 0, shownHeight = 0;  // part of the picture the screen shows
    std::uint64_t surfaceBytes = 0;       // the render loop's two drawing surfaces
    bool surfacesOverCap = false;         // a surface exceeds the largest bitmap
    // The first row whose frames fit the limit and the bitmap cap; -1 when none does.
    int firstFitting = -1;
};

MemoryCount CountMemory(const MemoryInputs& in);

// The bitmap-memory limits with which the device shows the animation, as a sentence: the
// smallest that works, and the full-size range when that is another one ("" when none works).
std::string WorkingLimits(const std::vector<ScaleMemory>& rows);
// Why the device gives up the scale of row `m` with this limit.
std::string WhyScaleFails(const ScaleMemory& m, std::uint64_t memoryLimit,
                          std::uint64_t largestBitmapBytes);

// The memory table as cells, for the text report and the page alike.
struct MemoryTableModel {
    std::vector<std::string> header;
    struct Row {
        std::vector<std::string> cells;
        bool used = false;  // the scale the device decodes at
    };
    std::vector<Row> rows;
};
MemoryTableModel MemoryTable(const std::vector<ScaleMemory>& rows, std::uint64_t surfaceBytes,
                             double usedScale);

}  // namespace preview
