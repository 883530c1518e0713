// The memory count and its table; see memory_table.h.
#include "preview/memory_table.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "decode/decoder.h"
#include "preview/words.h"
#include "raster/geometry.h"

namespace preview {

namespace {

std::uint64_t Ceil4(std::int64_t n) {
    return static_cast<std::uint64_t>((n + 3) / 4 * 4);
}

// Placement in the window, as the player computes it: the display scale and the part of the
// picture that the screen shows.
void PlaceInWindow(const MemoryInputs& in, MemoryCount* count) {
    const br::Size reference = br::PercentSize(in.pictureWidth, in.pictureHeight, 1, 0);
    double scale = 1.0;
    if (reference.cx > in.screenWidth || reference.cy > in.screenHeight) {
        br::Size fitted;
        br::FitSize(in.screenWidth, in.screenHeight, reference.cx, reference.cy, false, &fitted);
        if (fitted.cx == in.screenWidth) {
            scale = static_cast<double>(in.screenWidth) / reference.cx;
        } else if (fitted.cy == in.screenHeight) {
            scale = static_cast<double>(in.screenHeight) / reference.cy;
        }
        scale = std::min(std::max(scale, 0.005), 25.0);
    }
    count->displayScale = scale;
    const br::Size scaled = br::ScaleSize(in.pictureWidth, in.pictureHeight, scale, 0);
    const int offsetX = (scaled.cx - in.screenWidth) / 2;
    const int offsetY = (scaled.cy - in.screenHeight) / 2;
    count->shownWidth = offsetX < 0 ? scaled.cx : in.screenWidth;
    count->shownHeight = offsetY < 0 ? scaled.cy : in.screenHeight;
    const std::uint64_t mainSurface =
        Ceil4(in.screenWidth) * static_cast<std::uint64_t>(in.screenHeight) * 3;
    const std::uint64_t backupSurface =
        Ceil4(count->shownWidth) * static_cast<std::uint64_t>(count->shownHeight) * 3;
    count->surfaceBytes = mainSurface + backupSurface;
    count->surfacesOverCap = std::max(mainSurface, backupSurface) > in.largestBitmapBytes;
}

// The frames' own memory at one scale.
ScaleMemory FramesAtScale(const MemoryInputs& in, double s, std::uint64_t* buffers) {
    ScaleMemory m;
    m.scale = s;
    const br::Size target = br::ScaleSize(in.pictureWidth, in.pictureHeight, s, 0);
    m.targetWidth = target.cx;
    m.targetHeight = target.cy;
    *buffers = 0;
    for (std::size_t i = 0; i < in.frames.size(); ++i) {
        const FrameRect& f = in.frames[i];
        const std::uint64_t b =
            br::FrameBufferBytes(br::Rect(f.left, f.top, f.left + f.width, f.top + f.height),
                                 in.pictureWidth, in.pictureHeight, target.cx, target.cy);
        if (b == 0) continue;
        ++*buffers;
        m.frameBytes += b;
        if (b > m.largestFrameBytes) {
            m.largestFrameBytes = b;
            m.largestFrame = static_cast<int>(i);
        }
    }
    return m;
}

std::string LimitsCell(const ScaleMemory& m) {
    if (m.overBitmapCap) {
        return "none: frame " + std::to_string(m.largestFrame) + " exceeds the largest bitmap";
    }
    if (!m.works) return "none";
    return Grouped(m.minLimit) + (m.maxLimit ? " to " + Grouped(m.maxLimit) : " or more");
}

}  // namespace

MemoryCount CountMemory(const MemoryInputs& in) {
    MemoryCount count;
    PlaceInWindow(in, &count);
    const std::size_t n = in.frames.size();
    std::optional<std::uint64_t> framesOfScaleAbove;  // of the last scale the device can try
    for (double s : kDecodeScales) {
        std::uint64_t buffers = 0;
        ScaleMemory m = FramesAtScale(in, s, &buffers);
        m.overBitmapCap = m.largestFrameBytes > in.largestBitmapBytes;
        m.bitmapBytes = m.frameBytes + count.surfaceBytes;
        m.frameHeapBytes = buffers * kFramePaletteBytes + n * kFrameRecordBytes;
        m.totalBytes = m.bitmapBytes + m.frameHeapBytes;
        if (!m.overBitmapCap) {
            // Reached only with a limit below the frames of the scale the device tries before.
            const bool reachable = !framesOfScaleAbove || *framesOfScaleAbove > 0;
            m.minLimit = m.bitmapBytes;
            m.maxLimit = framesOfScaleAbove && reachable ? *framesOfScaleAbove - 1 : 0;
            m.works = n >= 2 && !count.surfacesOverCap && reachable &&
                      (!framesOfScaleAbove || m.minLimit <= m.maxLimit);
            framesOfScaleAbove = m.frameBytes;
        }
        const bool fits =
            !m.overBitmapCap && (in.memoryLimit == 0 || m.frameBytes <= in.memoryLimit);
        if (fits && count.firstFitting < 0)
            count.firstFitting = static_cast<int>(count.rows.size());
        count.rows.push_back(m);
    }
    return count;
}

std::string WorkingLimits(const std::vector<ScaleMemory>& rows) {
    auto range = [](const ScaleMemory& m) {
        return "with " + BytesText(m.minLimit) +
               (m.maxLimit ? " to " + BytesText(m.maxLimit) : std::string(" or more")) +
               " of bitmap memory the device shows the animation at " + SizeName(m.scale);
    };
    const ScaleMemory* smallest = nullptr;
    for (const ScaleMemory& m : rows) {
        if (m.works && (!smallest || m.minLimit < smallest->minLimit)) smallest = &m;
    }
    if (!smallest) return "";
    std::string text = range(*smallest);
    const ScaleMemory& full = rows.front();
    if (full.works && &full != smallest) text += "; " + range(full);
    text += ".";
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::string WhyScaleFails(const ScaleMemory& m, std::uint64_t memoryLimit,
                          std::uint64_t largestBitmapBytes) {
    if (m.overBitmapCap) {
        return "at " + SizeName(m.scale) + " frame " + std::to_string(m.largestFrame) + " needs " +
               BytesText(m.largestFrameBytes) +
               " in one bitmap, more than the largest bitmap the device makes (" +
               BytesText(largestBitmapBytes) + ")";
    }
    return "at " + SizeName(m.scale) + " the frames need " + BytesText(m.frameBytes) +
           ", more than the " + BytesText(memoryLimit) + " of bitmap memory";
}

MemoryTableModel MemoryTable(const std::vector<ScaleMemory>& rows, std::uint64_t surfaceBytes,
                             double usedScale) {
    MemoryTableModel table;
    table.header = {"scale",         "picture",
                    "frame bitmaps", "+ surfaces",
                    "= bitmaps",     "+ palettes and records",
                    "= total",       "limits that show it"};
    for (const ScaleMemory& m : rows) {
        MemoryTableModel::Row row;
        row.used = m.scale == usedScale;
        row.cells = {ScaleName(m.scale),
                     std::to_string(m.targetWidth) + "x" + std::to_string(m.targetHeight),
                     Grouped(m.frameBytes),
                     Grouped(surfaceBytes),
                     Grouped(m.bitmapBytes),
                     Grouped(m.frameHeapBytes),
                     Grouped(m.totalBytes),
                     LimitsCell(m)};
        table.rows.push_back(std::move(row));
    }
    return table;
}

}  // namespace preview
