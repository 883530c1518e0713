// The picture's analysis: its frames, their times, its memory and its warnings; see
// picture_report.h.
#include "preview/picture_report.h"

#include <algorithm>

#include "decode/decoder.h"
#include "decode/memory_source.h"
#include "platform/sim/device.h"
#include "preview/picture_scan.h"
#include "preview/words.h"
#include "raster/geometry.h"

namespace preview {

namespace {

std::uint64_t Ceil4(std::int64_t n) {
    return static_cast<std::uint64_t>((n + 3) / 4 * 4);
}

}  // namespace

bool PictureReport::DeviceShowsAnimation() const {
    return decodable && frames.size() >= 2 && decodeScale > 0 && surfacesFit;
}

std::vector<std::uint32_t> CompositionTimes(const std::vector<int>& delaysCs,
                                            std::uint32_t* endMs) {
    std::vector<std::uint32_t> times;
    times.reserve(delaysCs.size());
    std::uint64_t due = 0;
    std::uint64_t pass = 0;
    for (std::size_t i = 0; i < delaysCs.size(); ++i) {
        if (i > 0) {
            // On pass k the loop has measured 20 * (k - 1) ms (it reads the clock after each
            // copy, before its sleep), so a frame due at D is composed on the first pass with
            // 20 * (k - 1) >= D, and never two frames on one pass.
            std::uint64_t earliest = (due + kPassMs - 1) / kPassMs + 1;
            pass = std::max(pass + 1, earliest);
        }
        times.push_back(static_cast<std::uint32_t>(pass * kPassMs));
        due += static_cast<std::uint64_t>(static_cast<std::uint16_t>(delaysCs[i])) * 10;
    }
    if (endMs) *endMs = delaysCs.empty() ? 0 : static_cast<std::uint32_t>((pass + 1) * kPassMs);
    return times;
}

BufferSize DecodedFrameSize(int left, int top, int width, int height, int pictureWidth,
                            int pictureHeight, double scale) {
    // The player decodes the part of each frame inside the picture, and at a reduced scale the
    // pixels of the picture's grid that fall in that part (the decoder's own sizing).
    if (width <= 0 || height <= 0 || pictureWidth <= 0 || pictureHeight <= 0) return {};
    const br::Size target = br::ScaleSize(pictureWidth, pictureHeight, scale, 0);
    const br::Rect grid = br::FrameGridRect(br::Rect(left, top, left + width, top + height),
                                            pictureWidth, pictureHeight, target.cx, target.cy);
    if (grid.IsEmpty()) return {};
    return {grid.Width(), grid.Height()};
}

std::uint64_t FrameBitmapBytes(const BufferSize& size) {
    if (size.width <= 0 || size.height <= 0) return 0;
    return Ceil4(size.width) * static_cast<std::uint64_t>(size.height);
}

namespace {

// The file's format; a warning and false when it is no GIF.
bool ReadFormat(const std::vector<std::uint8_t>& bytes, br::CDataSource2* source,
                PictureReport* report) {
    report->formatCode = br::DetectImageFormat(source);
    report->isGif = report->formatCode == br::FormatGif;
    report->formatName = FormatName(report->formatCode);
    if (report->isGif && bytes.size() >= 6) {
        report->formatName = std::string(reinterpret_cast<const char*>(bytes.data()), 6);
        for (char& c : report->formatName) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
                c = '?';
            }
        }
    }
    if (!report->isGif) report->warnings.push_back(NotGifWarning(*report));
    return report->isGif;
}

// The frames as the decoder describes them, with what the block scan adds, and when each
// reaches the screen.
void DescribeFrames(const std::vector<br::DecoderFrameInfo>& described, const GifScan& scan,
                    PictureReport* report) {
    std::vector<int> delays;
    delays.reserve(described.size());
    report->frames.reserve(described.size());
    for (std::size_t i = 0; i < described.size(); ++i) {
        const br::DecoderFrameInfo& frame = described[i];
        FrameReport f;
        f.index = static_cast<int>(i);
        f.left = frame.frameRect.left;
        f.top = frame.frameRect.top;
        f.width = frame.frameRect.Width();
        f.height = frame.frameRect.Height();
        f.delayCs = static_cast<std::uint16_t>(frame.delay);
        f.disposal = frame.disposal;
        f.transparentIndex = frame.transparentIndex;
        f.interlaced = frame.interlaced != 0;
        f.userInput = frame.userInput != 0;
        if (i < scan.frames.size()) {
            f.hasControlExtension = scan.frames[i].hasControlExtension;
            f.hasLocalColourTable = scan.frames[i].hasLocalColourTable;
            f.controlSeparatedBy = scan.frames[i].controlSeparatedBy;
        }
        delays.push_back(f.delayCs);
        report->delaySumMs += static_cast<std::uint64_t>(f.delayCs) * 10;
        report->frames.push_back(f);
    }
    const std::size_t n = report->frames.size();
    std::vector<std::uint32_t> times = CompositionTimes(delays, &report->animationMs);
    for (std::size_t i = 0; i < n; ++i) {
        report->frames[i].composedAtMs = times[i];
        const std::uint32_t until = i + 1 < n ? times[i + 1] : report->animationMs;
        report->frames[i].onScreenMs = n >= 2 ? until - times[i] : 0;
    }
}

// The memory count for the report's frames on its screen and limit.
void CountReportMemory(PictureReport* report, PictureFindings* found) {
    MemoryInputs in;
    in.pictureWidth = report->width;
    in.pictureHeight = report->height;
    for (const FrameReport& f : report->frames)
        in.frames.push_back({f.left, f.top, f.width, f.height});
    in.screenWidth = report->screenWidth;
    in.screenHeight = report->screenHeight;
    in.memoryLimit = report->memoryLimit;
    in.largestBitmapBytes = report->largestBitmapBytes;
    MemoryCount count = CountMemory(in);
    report->memory = std::move(count.rows);
    report->displayScale = count.displayScale;
    report->shownWidth = count.shownWidth;
    report->shownHeight = count.shownHeight;
    report->surfaceBytes = count.surfaceBytes;
    found->surfacesOverCap = count.surfacesOverCap;
    found->firstFitting = count.firstFitting;
}

// The one verdict on memory, in a line.
std::string MemoryVerdict(const PictureReport& report, const PictureFindings& found,
                          const std::vector<int>& unchecked) {
    const std::string limitText =
        report.memoryLimit ? "with " + BytesText(report.memoryLimit) + " of bitmap memory"
                           : "with no memory limit";
    if (found.chosen < 0) {
        if (found.firstFitting >= 0) {
            return limitText + ": the frames fit at " +
                   SizeName(report.memory[static_cast<std::size_t>(found.firstFitting)].scale) +
                   " but cannot be decoded at any scale the device tries";
        }
        return limitText + ": the frames fit at no scale, so the device shows nothing";
    }
    const ScaleMemory& chosen = report.memory[static_cast<std::size_t>(found.chosen)];
    std::string verdict =
        limitText + ": frames decoded at " + SizeName(chosen.scale) + " (" +
        BytesText(chosen.frameBytes) + ") and the drawing surfaces (" +
        BytesText(report.surfaceBytes) + ") take " + BytesText(chosen.bitmapBytes) + "; " +
        (report.frames.size() < 2 ? "a single frame is not played"
         : report.surfacesFit     ? "the device shows the animation"
                                  : "the surfaces do not fit, so the device shows nothing") +
        "; the frames' palette copies and records take another " +
        BytesText(chosen.frameHeapBytes) + " of program memory";
    if (!unchecked.empty()) {
        verdict +=
            "; not checked for damaged data: " + Plural(unchecked.size(), "frame", "frames") +
            " (" + FrameList(unchecked) + ") of more than " + BytesText(kAnalysisFrameBytes) +
            " each, which only the show decodes";
    }
    return verdict;
}

}  // namespace

PictureReport AnalysePicture(const std::string& path, const std::vector<std::uint8_t>& bytes,
                             int screenWidth, int screenHeight, std::uint64_t memoryLimit,
                             br::CDataSource2* givenSource) {
    PictureReport report;
    report.path = path;
    report.fileBytes = bytes.size();
    report.screenWidth = screenWidth;
    report.screenHeight = screenHeight;
    report.memoryLimit = memoryLimit;
    report.largestBitmapBytes = plat::sim::LargestBitmapBytes();

    br::MemorySource ownSource(bytes);
    ownSource.size = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 0xFFFFFFFFu));
    br::CDataSource2* source = givenSource ? givenSource : &ownSource;
    if (!ReadFormat(bytes, source, &report)) return report;

    br::CImgDecoder2 decoder;
    br::DecoderImageInfo info;
    std::vector<br::DecoderFrameInfo> described;
    std::string error;
    if (!ReadDescriptions(decoder, source, &info, &described, &error) || info.frameCount <= 0) {
        report.errorText = error.empty() ? "the picture holds no frame" : error;
        report.warnings.push_back(UndecodableWarning(report.errorText, false));
        return report;
    }
    report.parsed = true;
    report.width = info.width;
    report.height = info.height;
    report.globalColours = info.palette.count;
    report.backgroundColour = info.backgroundColor;

    const GifScan scan = ScanGif(bytes);
    report.loopCount = scan.loopCount;
    report.hasTrailer = scan.trailer;
    DescribeFrames(described, scan, &report);

    PictureFindings found;
    found.endsInsideBlock = scan.endsInsideBlock;
    found.junkAfterFrames = scan.junkAfterFrames;
    found.junkOffset = scan.junkOffset;
    CountReportMemory(&report, &found);

    // The scale the device reaches: the first that fits, and then decodes.
    std::vector<int> unchecked;
    for (std::size_t i = 0; i < report.memory.size(); ++i) {
        const ScaleMemory& m = report.memory[i];
        if (m.overBitmapCap || (memoryLimit != 0 && m.frameBytes > memoryLimit)) continue;
        std::string e;
        if (DecodeOneByOne(decoder, source, info, described, m.scale, &found.firstTransparent,
                           &unchecked, &e)) {
            found.chosen = static_cast<int>(i);
            break;
        }
        if (found.decodeError.empty()) found.decodeError = e;
    }
    const ScaleMemory* chosen =
        found.chosen >= 0 ? &report.memory[static_cast<std::size_t>(found.chosen)] : nullptr;
    report.decodable = chosen != nullptr;
    report.errorText = found.decodeError;
    report.decodeScale = chosen ? chosen->scale : 0;
    report.surfacesFit = chosen && !found.surfacesOverCap &&
                         (memoryLimit == 0 || chosen->bitmapBytes <= memoryLimit);
    report.memoryVerdict = MemoryVerdict(report, found, unchecked);
    report.warnings = PictureWarnings(report, found);
    return report;
}

}  // namespace preview
