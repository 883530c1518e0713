// Picture analysis for `info` and for the show's summary; see picture_report.h.
#include "preview/picture_report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <sstream>

#include "decode/decoder.h"
#include "decode/error.h"
#include "decode/memory_source.h"
#include "platform/sim/device.h"
#include "preview/text.h"
#include "raster/geometry.h"

namespace preview {

namespace {

// ---- Our own block scan ----------------------------------------------------------------
// Walks the GIF89a block structure the way the device's decoder indexes it (a graphic control
// extension governs the next image only when no other extension stands between them), to
// learn what the decoder does not report.

struct ScannedFrame {
    bool hasControlExtension = false;
    bool hasLocalColourTable = false;
    // A control block that precedes the frame but is parted from it by another extension
    // (which one), so that the decoder ignores it.
    std::string controlSeparatedBy;
};

struct GifScan {
    std::vector<ScannedFrame> frames;
    int loopCount = -1;
    bool trailer = false;
    bool endsInsideBlock = false;  // the data stops in the middle of a block
    bool junkAfterFrames = false;  // an unknown byte where a block should start
    std::size_t junkOffset = 0;
};

class ByteReader {
  public:
    explicit ByteReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool Byte(std::uint8_t* b) {
        if (pos_ >= bytes_.size()) return false;
        *b = bytes_[pos_++];
        return true;
    }
    bool Skip(std::size_t n) {
        if (bytes_.size() - pos_ < n) {
            pos_ = bytes_.size();
            return false;
        }
        pos_ += n;
        return true;
    }
    std::size_t Position() const { return pos_; }
    const std::uint8_t* Here() const { return bytes_.data() + pos_; }
    std::size_t Left() const { return bytes_.size() - pos_; }

  private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

// Skips data sub-blocks up to and including the terminator; false when the data ends first.
bool SkipSubBlocks(ByteReader* r, std::vector<std::uint8_t>* firstBlock = nullptr) {
    std::uint8_t size = 0;
    bool first = true;
    for (;;) {
        if (!r->Byte(&size)) return false;
        if (size == 0) return true;
        if (first && firstBlock && r->Left() >= size) {
            firstBlock->assign(r->Here(), r->Here() + size);
        }
        first = false;
        if (!r->Skip(size)) return false;
    }
}

GifScan ScanGif(const std::vector<std::uint8_t>& bytes) {
    GifScan scan;
    ByteReader r(bytes);
    std::uint8_t packed = 0, b = 0;
    if (!r.Skip(6 + 4) || !r.Byte(&packed) || !r.Skip(2)) {
        scan.endsInsideBlock = true;
        return scan;
    }
    if ((packed & 0x80) && !r.Skip(3u << ((packed & 7) + 1))) {
        scan.endsInsideBlock = true;
        return scan;
    }
    bool pendingControl = false;
    std::string separatedBy;  // set when a control block was followed by another extension
    for (;;) {
        std::size_t at = r.Position();
        if (!r.Byte(&b)) {
            return scan;  // the data ends between blocks, without a trailer
        }
        if (b == 0x3B) {
            scan.trailer = true;
            return scan;
        }
        if (b == 0x21) {
            std::uint8_t label = 0;
            if (!r.Byte(&label)) {
                scan.endsInsideBlock = true;
                return scan;
            }
            std::vector<std::uint8_t> first;
            bool ok = SkipSubBlocks(&r, label == 0xFF ? &first : nullptr);
            const bool loopBlock = label == 0xFF && first.size() >= 11 &&
                                   (std::memcmp(first.data(), "NETSCAPE2.0", 11) == 0 ||
                                    std::memcmp(first.data(), "ANIMEXTS1.0", 11) == 0);
            if (pendingControl && label != 0xF9) {
                separatedBy = loopBlock       ? "the loop extension"
                              : label == 0xFE ? "a comment extension"
                              : label == 0x01 ? "a plain text extension"
                                              : "an application extension";
            } else if (label == 0xF9) {
                separatedBy.clear();
            }
            pendingControl = label == 0xF9;
            if (loopBlock) {
                // The loop count is the second sub-block: 1, count low, count high.
                std::size_t p = at + 2 + 1 + 11;
                if (p + 4 <= bytes.size() && bytes[p] >= 3 && bytes[p + 1] == 1) {
                    scan.loopCount = bytes[p + 2] | (bytes[p + 3] << 8);
                }
            }
            if (!ok) {
                scan.endsInsideBlock = true;
                return scan;
            }
            continue;
        }
        if (b == 0x2C) {
            ScannedFrame frame;
            frame.hasControlExtension = pendingControl;
            if (!pendingControl) frame.controlSeparatedBy = separatedBy;
            pendingControl = false;
            separatedBy.clear();
            std::uint8_t fpacked = 0;
            bool ok = r.Skip(8) && r.Byte(&fpacked);
            frame.hasLocalColourTable = ok && (fpacked & 0x80);
            scan.frames.push_back(frame);
            if (ok && (fpacked & 0x80)) ok = r.Skip(3u << ((fpacked & 7) + 1));
            std::uint8_t codeSize = 0;
            ok = ok && r.Byte(&codeSize) && SkipSubBlocks(&r);
            if (!ok) {
                scan.endsInsideBlock = true;
                return scan;
            }
            continue;
        }
        scan.junkAfterFrames = !scan.frames.empty();
        scan.junkOffset = at;
        return scan;
    }
}

const char* FormatName(int code) {
    switch (code) {
        case br::FormatBmp:
            return "BMP";
        case br::FormatJpeg:
            return "JPEG";
        case br::FormatGif:
            return "GIF";
        case br::FormatPng:
            return "PNG";
        case br::FormatTiff:
            return "TIFF";
        case br::FormatEps:
            return "EPS";
        case br::FormatPict:
            return "PICT";
        case br::FormatPcx:
            return "PCX";
        case br::FormatPgm:
            return "PGM";
        case br::FormatWbmp:
            return "WBMP";
        default:
            return "unknown";
    }
}

std::string DecoderErrorText(br::CIAException* error) {
    if (error == nullptr) return "the decoder failed without an error object";
    char16_t buffer[520] = {};
    error->GetErrorMessage(buffer, 520);
    std::string message = Utf8(buffer);
    for (char& c : message) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    // The library's text ends in the four location numbers; they are given once, named.
    std::ostringstream numbers;
    numbers << error->componentId << ":" << error->routineId << ":" << error->siteId << ":"
            << error->detail;
    const std::string location = numbers.str();
    while (!message.empty() && message.back() == ' ') message.pop_back();
    if (message.size() >= location.size() &&
        message.compare(message.size() - location.size(), location.size(), location) == 0) {
        message.erase(message.size() - location.size());
        while (!message.empty() && message.back() == ' ') message.pop_back();
    }
    if (!message.empty() && message.back() == '.') message.pop_back();
    std::ostringstream out;
    out << message << " (message " << error->code << ", location " << location << ")";
    return out.str();
}

std::string FrameList(const std::vector<int>& indexes) {
    std::ostringstream out;
    const std::size_t shown = std::min<std::size_t>(indexes.size(), 8);
    for (std::size_t i = 0; i < shown; ++i) out << (i ? ", " : "") << indexes[i];
    if (indexes.size() > shown) out << " and " << indexes.size() - shown << " more";
    return out.str();
}

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::uint64_t Ceil4(std::int64_t n) {
    return static_cast<std::uint64_t>((n + 3) / 4 * 4);
}
}  // namespace

std::string ScaleName(double scale);

namespace {

std::string SizeName(double scale) {
    return scale >= 1.0 ? "full size" : ScaleName(scale) + " size";
}

// Thousands grouped: "1,228,800".
std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
        digits.insert(static_cast<std::size_t>(i), ",");
    }
    return digits;
}

std::string BytesText(std::uint64_t n) {
    return Grouped(n) + " bytes";
}

std::string DurationText(std::uint64_t ms) {
    if (ms < 10000) return Grouped(ms) + " ms";
    std::ostringstream out;
    out.precision(ms < 120000 ? 3 : 2);
    if (ms < 120000) {
        out << ms / 1000.0 << " s";
    } else if (ms < 7200000) {
        out << ms / 60000.0 << " min";
    } else {
        out << ms / 3600000.0 << " h";
    }
    return out.str();
}

// One pass over the stream with the decoder's own steps: the picture description, then every
// frame's description. (The decoder's per-frame operation parses the whole stream again for
// each frame, which makes a long animation cost the square of its frame count.)
bool ReadDescriptions(br::CImgDecoder2& decoder, br::CDataSource2* source,
                      br::DecoderImageInfo* info, std::vector<br::DecoderFrameInfo>* frames,
                      std::string* error) {
    bool ok = false;
    {
        br::ErrorScope scope;
        try {
            br::PresetImageInfo(info);
            decoder.ReadImageInfo(source, info);
            if (info->frameCount > 0) frames->reserve(static_cast<std::size_t>(info->frameCount));
            for (std::int32_t i = 0; i < info->frameCount; ++i) {
                br::DecoderFrameInfo frame;
                br::PresetFrameInfo(&frame);
                frame.bytesPerPixel = 0;
                frame.targetRowPadding = 0;
                decoder.ReadFrameInfo(source, &frame, i);
                frames->push_back(frame);
            }
            ok = true;
        } catch (br::CIAException* e) {
            scope.pending = e;
            *error = DecoderErrorText(e);
        } catch (const std::bad_alloc&) {
            *error = "the previewer ran out of memory reading the frame descriptions";
        }
    }
    decoder.ReleaseStream();
    return ok;
}

// The largest frame the analysis decodes itself. Larger ones are left to the show: the
// analysis reports what they need instead, so that `info` on a picture declaring huge frames
// takes neither the host's memory nor its time.
constexpr std::uint64_t kAnalysisFrameBytes = 64u << 20;

// Decodes every frame at `scale` the way the device does, but one frame at a time, so that
// only one frame's pixels are held at once; frames above kAnalysisFrameBytes are skipped and
// listed in *unchecked. Counts the first frame's transparent pixels. False with *error when
// the frame data cannot be decoded.
bool DecodeOneByOne(br::CImgDecoder2& decoder, br::CDataSource2* source,
                    const br::DecoderImageInfo& info,
                    const std::vector<br::DecoderFrameInfo>& frames, double scale,
                    int* firstTransparent, std::vector<int>* unchecked, std::string* error) {
    *firstTransparent = 0;
    unchecked->clear();
    if (info.width <= 0 || info.height <= 0) {
        // The device's frame decoding refuses an empty logical screen before it decodes
        // anything; let it say so in its own words.
        br::CImgInfo image;
        br::FrameList list = nullptr;
        br::TargetSize target{0, 0};
        if (decoder.DecodeFramesToSize(source, &image, &list, &target, nullptr)) {
            for (int i = 0; i < info.frameCount; ++i) delete list[i];
            br::FreeFrameList(list, info.frameCount);
            return true;
        }
        *error = DecoderErrorText(decoder.lastError);
        return false;
    }
    bool ok = false;
    {
        br::ErrorScope scope;
        try {
            br::DecoderImageInfo again;
            br::PresetImageInfo(&again);
            decoder.ReadImageInfo(source, &again);
            for (std::size_t i = 0; i < frames.size(); ++i) {
                br::DecoderFrameInfo frame = frames[i];
                const BufferSize size =
                    DecodedFrameSize(frame.frameRect.left, frame.frameRect.top,
                                     frame.frameRect.Width(), frame.frameRect.Height(),
                                     info.width, info.height, scale);
                if (size.width <= 0 || size.height <= 0) continue;
                br::Rect region;
                region.Intersect(frame.frameRect, br::Rect(0, 0, info.width, info.height));
                const br::Size target = br::ScaleSize(info.width, info.height, scale, 0);
                if (FrameBitmapBytes(size) > kAnalysisFrameBytes) {
                    unchecked->push_back(static_cast<int>(i));
                    continue;
                }
                br::CImgData image;
                image.Create(size.width, size.height,
                             static_cast<std::uint8_t>(frame.bytesPerPixel), frame.withMask);
                frame.clipRect = region;
                frame.gridWidth = target.cx;
                frame.gridHeight = target.cy;
                frame.targetWidth = image.width;
                frame.targetHeight = image.height;
                frame.targetBits = image.colorBits;
                frame.targetMaskBits = image.maskBits;
                frame.targetRowPadding = image.rowPadding;
                frame.targetPalette = image.palette;
                decoder.DecodeFrame(source, &frame, static_cast<std::int32_t>(i), 0);
                if (i == 0 && frame.transparentIndex >= 0 && image.colorBits) {
                    const int stride = image.width + image.rowPadding;
                    for (int y = 0; y < image.height; ++y) {
                        const std::uint8_t* row = image.colorBits + static_cast<std::size_t>(y) * stride;
                        for (int x = 0; x < image.width; ++x) {
                            *firstTransparent += row[x] == frame.transparentIndex;
                        }
                    }
                }
            }
            ok = true;
        } catch (br::CIAException* e) {
            scope.pending = e;
            *error = DecoderErrorText(e);
        } catch (const std::bad_alloc&) {
            *error = "the previewer ran out of memory decoding a frame";
        }
    }
    decoder.ReleaseStream();
    return ok;
}

// The bitmap-memory limits with which the device shows the animation, as a phrase: the
// smallest that works, and the full-size range when that is another one. (The memory table
// lists every scale's range.)
std::string WorkingLimits(const PictureReport& r) {
    auto range = [](const ScaleMemory& m) {
        return "with " + BytesText(m.minLimit) +
               (m.maxLimit ? " to " + BytesText(m.maxLimit) : std::string(" or more")) +
               " of bitmap memory the device shows the animation at " + SizeName(m.scale);
    };
    const ScaleMemory* smallest = nullptr;
    for (const ScaleMemory& m : r.memory) {
        if (m.works && (!smallest || m.minLimit < smallest->minLimit)) smallest = &m;
    }
    if (!smallest) return "";
    std::string text = range(*smallest);
    const ScaleMemory& full = r.memory.front();
    if (full.works && &full != smallest) text += "; " + range(full);
    text += ".";
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

// Why the device gives up the scale of row `m` with this limit.
std::string WhyNot(const PictureReport& r, const ScaleMemory& m) {
    if (m.overBitmapCap) {
        return "at " + SizeName(m.scale) + " frame " + std::to_string(m.largestFrame) +
               " needs " + BytesText(m.largestFrameBytes) +
               " in one bitmap, more than the largest bitmap the device makes (" +
               BytesText(r.largestBitmapBytes) + ")";
    }
    return "at " + SizeName(m.scale) + " the frames need " + BytesText(m.frameBytes) +
           ", more than the " + BytesText(r.memoryLimit) + " of bitmap memory";
}

}  // namespace

std::string ScaleName(double scale) {
    if (scale >= 1.0) return "1";
    if (scale <= 0) return "none";
    return "1/" + std::to_string(static_cast<int>(1.0 / scale + 0.5));
}

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

Warning ShutdownSoundWarning(std::uint64_t soundMs, std::uint64_t windowClosedMs) {
    // Beyond this the wait is long enough for a user to think the device hangs.
    constexpr std::uint64_t kLongSoundMs = 10000;
    if (soundMs <= kLongSoundMs) return {};
    std::string text = "The shut-down sound lasts " + DurationText(soundMs) +
                       ": the device goes on shutting down only when it has ended (the entry "
                       "point returns and \"SHUTDOWN_ANIMATION_DONE\" is signalled then)";
    if (windowClosedMs < soundMs) {
        text += ", " + DurationText(soundMs - windowClosedMs) + " after the window closed at " +
                Grouped(windowClosedMs) + " ms";
    }
    return {"longShutdownSound", text + ".",
            "Shorten the sound to about the length of the animation" +
                (windowClosedMs ? " (" + Grouped(windowClosedMs) + " ms)" : std::string()) + "."};
}

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
    auto warn = [&report](const char* id, const std::string& text, const std::string& fix = "") {
        report.warnings.push_back({id, text, fix});
    };

    br::MemorySource ownSource(bytes);
    ownSource.size = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 0xFFFFFFFFu));
    br::CDataSource2* source = givenSource ? givenSource : &ownSource;
    report.formatCode = br::DetectImageFormat(source);
    report.isGif = report.formatCode == br::FormatGif;
    report.formatName = FormatName(report.formatCode);
    if (report.isGif && bytes.size() >= 6) {
        report.formatName = std::string(reinterpret_cast<const char*>(bytes.data()), 6);
        for (char& c : report.formatName) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
                c = '?';
            }
        }
    }
    if (!report.isGif) {
        warn("notGif",
             std::string("The file is ") +
                 (report.formatCode ? std::string("a ") + report.formatName + " picture"
                                    : "not a picture format the device knows") +
                 ": the device decodes only GIF, so the window opens and closes at once.",
             "Save the animation as a GIF.");
        return report;
    }

    br::CImgDecoder2 decoder;
    br::DecoderImageInfo info;
    std::vector<br::DecoderFrameInfo> described;
    std::string error;
    if (!ReadDescriptions(decoder, source, &info, &described, &error) || info.frameCount <= 0) {
        report.errorText = error.empty() ? "the picture holds no frame" : error;
        warn("undecodable",
             "The picture cannot be decoded: " + report.errorText +
                 ". The window opens and closes at once.",
             "Re-save the picture with an image editor or gifsicle and check it again.");
        return report;
    }
    report.parsed = true;
    report.width = info.width;
    report.height = info.height;
    report.globalColours = info.palette.count;
    report.backgroundColour = info.backgroundColor;

    GifScan scan = ScanGif(bytes);
    report.loopCount = scan.loopCount;
    report.hasTrailer = scan.trailer;

    std::vector<int> delays;
    delays.reserve(described.size());
    report.frames.reserve(described.size());
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
        report.delaySumMs += static_cast<std::uint64_t>(f.delayCs) * 10;
        report.frames.push_back(f);
    }
    const std::size_t n = report.frames.size();
    std::vector<std::uint32_t> times = CompositionTimes(delays, &report.animationMs);
    for (std::size_t i = 0; i < n; ++i) {
        report.frames[i].composedAtMs = times[i];
        const std::uint32_t until = i + 1 < n ? times[i + 1] : report.animationMs;
        report.frames[i].onScreenMs = n >= 2 ? until - times[i] : 0;
    }

    // Placement in the window, as the player computes it.
    br::Size reference = br::PercentSize(info.width, info.height, 1, 0);
    double scale = 1.0;
    if (reference.cx > screenWidth || reference.cy > screenHeight) {
        br::Size fitted;
        br::FitSize(screenWidth, screenHeight, reference.cx, reference.cy, false, &fitted);
        if (fitted.cx == screenWidth) {
            scale = static_cast<double>(screenWidth) / reference.cx;
        } else if (fitted.cy == screenHeight) {
            scale = static_cast<double>(screenHeight) / reference.cy;
        }
        scale = std::min(std::max(scale, 0.005), 25.0);
    }
    report.displayScale = scale;
    br::Size scaled = br::ScaleSize(info.width, info.height, scale, 0);
    const int offsetX = (scaled.cx - screenWidth) / 2;
    const int offsetY = (scaled.cy - screenHeight) / 2;
    report.shownWidth = offsetX < 0 ? scaled.cx : screenWidth;
    report.shownHeight = offsetY < 0 ? scaled.cy : screenHeight;
    const std::uint64_t mainSurface = Ceil4(screenWidth) * static_cast<std::uint64_t>(screenHeight) * 3;
    const std::uint64_t backupSurface =
        Ceil4(report.shownWidth) * static_cast<std::uint64_t>(report.shownHeight) * 3;
    report.surfaceBytes = mainSurface + backupSurface;
    const bool surfacesOverCap = std::max(mainSurface, backupSurface) > report.largestBitmapBytes;

    // Memory at each scale, from the frames' sizes alone. The device frees one attempt's frames
    // before the next, so a scale is tried when the one before it failed, and it fails when a
    // frame exceeds the largest bitmap or all frames together exceed the limit. The drawing
    // surfaces come after the frames, and when they do not fit the device shows nothing (it
    // does not go down the ladder for them).
    std::optional<std::uint64_t> framesOfScaleAbove;  // of the last scale the device can try
    for (double s : kDecodeScales) {
        ScaleMemory m;
        m.scale = s;
        br::Size target = br::ScaleSize(info.width, info.height, s, 0);
        m.targetWidth = target.cx;
        m.targetHeight = target.cy;
        std::uint64_t buffers = 0;
        for (const FrameReport& f : report.frames) {
            const std::uint64_t b =
                br::FrameBufferBytes(br::Rect(f.left, f.top, f.left + f.width, f.top + f.height),
                                     info.width, info.height, target.cx, target.cy);
            if (b == 0) continue;
            ++buffers;
            m.frameBytes += b;
            if (b > m.largestFrameBytes) {
                m.largestFrameBytes = b;
                m.largestFrame = f.index;
            }
        }
        m.overBitmapCap = m.largestFrameBytes > report.largestBitmapBytes;
        m.bitmapBytes = m.frameBytes + report.surfaceBytes;
        m.frameHeapBytes = buffers * kFramePaletteBytes + n * kFrameRecordBytes;
        m.totalBytes = m.bitmapBytes + m.frameHeapBytes;
        if (!m.overBitmapCap) {
            // Reached only with a limit below the frames of the scale the device tries before.
            const bool reachable = !framesOfScaleAbove || *framesOfScaleAbove > 0;
            m.minLimit = m.bitmapBytes;
            m.maxLimit = framesOfScaleAbove && reachable ? *framesOfScaleAbove - 1 : 0;
            m.works = n >= 2 && !surfacesOverCap && reachable &&
                      (!framesOfScaleAbove || m.minLimit <= m.maxLimit);
            framesOfScaleAbove = m.frameBytes;
        }
        report.memory.push_back(m);
    }

    // The scale the device reaches: the first that fits, and then decodes.
    auto fits = [&](const ScaleMemory& m) {
        return !m.overBitmapCap && (memoryLimit == 0 || m.frameBytes <= memoryLimit);
    };
    const ScaleMemory* chosen = nullptr;
    std::string decodeError;
    int firstTransparent = 0;
    std::vector<int> unchecked;
    for (const ScaleMemory& m : report.memory) {
        if (!fits(m)) continue;
        std::string e;
        if (DecodeOneByOne(decoder, source, info, described, m.scale, &firstTransparent,
                           &unchecked, &e)) {
            chosen = &m;
            break;
        }
        if (decodeError.empty()) decodeError = e;
    }
    const ScaleMemory* firstFitting = nullptr;
    for (const ScaleMemory& m : report.memory) {
        if (fits(m)) {
            firstFitting = &m;
            break;
        }
    }
    report.decodable = chosen != nullptr;
    report.errorText = decodeError;
    report.decodeScale = chosen ? chosen->scale : 0;
    report.surfacesFit =
        chosen && !surfacesOverCap && (memoryLimit == 0 || chosen->bitmapBytes <= memoryLimit);

    // ---- The one verdict on memory ----
    const std::string limitText = memoryLimit ? "with " + BytesText(memoryLimit) + " of bitmap memory"
                                              : "with no memory limit";
    const std::string working = WorkingLimits(report);
    if (chosen) {
        report.memoryVerdict = limitText + ": frames decoded at " + SizeName(chosen->scale) +
                               " (" + BytesText(chosen->frameBytes) +
                               ") and the drawing surfaces (" + BytesText(report.surfaceBytes) +
                               ") take " + BytesText(chosen->bitmapBytes) + "; " +
                               (n < 2                ? "a single frame is not played"
                                : report.surfacesFit ? "the device shows the animation"
                                                     : "the surfaces do not fit, so the device "
                                                       "shows nothing") +
                               "; the frames' palette copies and records take another " +
                               BytesText(chosen->frameHeapBytes) + " of program memory";
        if (!unchecked.empty()) {
            report.memoryVerdict += "; not checked for damaged data: " +
                                    Plural(unchecked.size(), "frame", "frames") + " (" +
                                    FrameList(unchecked) + ") of more than " +
                                    BytesText(kAnalysisFrameBytes) + " each, which only the show decodes";
        }
    } else if (firstFitting) {
        report.memoryVerdict = limitText + ": the frames fit at " +
                               SizeName(firstFitting->scale) +
                               " but cannot be decoded at any scale the device tries";
    } else {
        report.memoryVerdict = limitText + ": the frames fit at no scale, so the device shows "
                                           "nothing";
    }

    // ---- Warnings, most serious first ----
    if (!firstFitting) {
        const ScaleMemory& last = report.memory.back();
        warn("noScaleFits",
             "The frames fit at no decode scale: " + WhyNot(report, last) +
                 ". Every attempt fails, so the window opens and closes at once.",
             working.empty() ? "Make the picture or its frames smaller." : working);
    } else if (!chosen) {
        warn("undecodable",
             "The picture cannot be decoded: " + decodeError +
                 ". The device tries every smaller scale and fails at each, so the window opens "
                 "and closes at once.",
             "Re-save the picture with an image editor or gifsicle and check it again.");
    } else if (!report.surfacesFit && n >= 2) {
        std::string why = surfacesOverCap
                              ? "the drawing surfaces (" + BytesText(report.surfaceBytes) +
                                    ") exceed the largest bitmap the device makes"
                              : "the drawing surfaces (" + BytesText(report.surfaceBytes) +
                                    ") do not fit beside them";
        warn("surfacesDontFit",
             "The frames fit at " + SizeName(chosen->scale) + " (" +
                 BytesText(chosen->frameBytes) + "), but " + why +
                 ": the render thread cannot start and the device shows nothing (it does not "
                 "try a smaller scale for the surfaces).",
             working.empty() ? "Use a smaller screen or picture." : working);
    } else if (chosen->scale < 1.0 && n >= 2) {
        std::string why;
        const bool dataError = firstFitting != chosen;
        if (dataError) {
            why = "the frames' data cannot be decoded at " + SizeName(firstFitting->scale) +
                  " (" + decodeError + "), so it goes down the scales until a decode succeeds";
        } else {
            for (const ScaleMemory& m : report.memory) {
                if (&m == chosen) break;
                why += (why.empty() ? "" : "; ") + WhyNot(report, m);
            }
        }
        std::string fix;
        const ScaleMemory& full = report.memory.front();
        if (dataError) {
            fix = "Re-save the picture with an image editor or gifsicle and check it again.";
        } else if (full.overBitmapCap) {
            fix = "Make frame " + std::to_string(full.largestFrame) + " smaller: no frame may need "
                  "more than " + BytesText(report.largestBitmapBytes) + " at full size.";
        } else if (full.works) {
            fix = "Give the device at least " + BytesText(full.minLimit) +
                  " of bitmap memory to show it at full size, or make the picture smaller.";
        } else {
            fix = working;
        }
        warn("reducedScale",
             "The device decodes the frames at " + SizeName(chosen->scale) + ": " + why + ". " +
                 (chosen->frameBytes == 0
                      ? "At that size no frame keeps a pixel, so the screen shows only the white "
                        "background."
                      : "The picture looks coarser."),
             fix);
    }
    if (chosen && n >= 2) {
        const std::uint64_t heap = chosen->frameHeapBytes;
        if (heap > (1u << 20) || (memoryLimit != 0 && heap * 4 > memoryLimit)) {
            warn("frameOverhead",
                 "The " + Grouped(n) + " frames take " + BytesText(heap) +
                     " of program memory beside their pixels (a " + Grouped(kFramePaletteBytes) +
                     "-byte palette copy and about " + Grouped(kFrameRecordBytes) +
                     " bytes of records each, at every decode scale): a device short of memory "
                     "fails to load the picture at every scale.",
                 "Use fewer frames: drop in-between frames and lengthen the delays of the rest.");
        }
    }
    // What follows describes what the screen shows; when the device shows nothing, only the
    // warnings about the file itself are kept, so that no message contradicts the verdict.
    const bool shows = report.DeviceShowsAnimation();
    auto warnShown = [&](const char* id, const std::string& text, const std::string& fix) {
        if (shows) warn(id, text, fix);
    };
    if (n == 1) {
        warn("singleFrame",
             "The picture has a single frame: the device shows nothing for it (only pictures "
             "of two frames or more are played).",
             "Add a second frame (a copy of the first will do).");
    }
    if (scan.endsInsideBlock) {
        warn("truncated",
             "The file ends in the middle of a block (it looks cut short): the "
             "device shows the frames it finds, and the last one may be incomplete.",
             "Copy the file again, or re-save it.");
    } else if (scan.junkAfterFrames) {
        warn("unknownData",
             "Unknown data at byte " + std::to_string(scan.junkOffset) +
                 ": the device stops reading there and shows the frames before it.",
             "Re-save the picture so that nothing follows its last frame.");
    }
    std::vector<int> noControl, zeroDelay, outside, underPass, separatedControl;
    std::string separatedBy;
    for (const FrameReport& f : report.frames) {
        if (!f.hasControlExtension && f.controlSeparatedBy.empty()) noControl.push_back(f.index);
        if (!f.hasControlExtension && !f.controlSeparatedBy.empty()) {
            separatedControl.push_back(f.index);
            if (separatedBy.empty()) separatedBy = f.controlSeparatedBy;
        }
        if (f.hasControlExtension && f.delayCs == 0) zeroDelay.push_back(f.index);
        if (f.delayCs * 10 < static_cast<int>(kPassMs) && f.index + 1 < static_cast<int>(n)) {
            underPass.push_back(f.index);
        }
        if (f.left + f.width > info.width || f.top + f.height > info.height) {
            outside.push_back(f.index);
        }
    }
    if (!noControl.empty() && n >= 2) {
        warn("noControlExtension", Plural(noControl.size(), "frame has", "frames have") +
                                       " no graphic control extension (" + FrameList(noControl) +
                                       "): each is shown for 1 s.");
    }
    if (!separatedControl.empty() && n >= 2) {
        const bool one = separatedControl.size() == 1;
        warn("controlBlockSeparated",
             std::string(one ? "Frame " : "Frames ") + FrameList(separatedControl) + ": " +
                 (one ? "its" : "each") + " control block (delay, transparency, disposal) is " +
                 "separated from the image by " + separatedBy +
                 "; the device ignores a control block that does not come right before its " +
                 "image, so " + (one ? "the frame is" : "these frames are") +
                 " shown for 1 s, with no transparency and disposal 0. Re-save the picture " +
                 "so that the loop block comes first (for example: gifsicle in.gif -o out.gif).");
    }
    if (!zeroDelay.empty() && n >= 2) {
        warnShown("zeroDelay",
             Plural(zeroDelay.size(), "frame has", "frames have") + " delay 0 (" +
                 FrameList(zeroDelay) + "): each is shown for one pass, about 20 ms.",
             "Give each frame the delay it should have (in hundredths of a second).");
    }
    if (n >= 3) {
        // Equal delays should give equal times on the screen; on the 20 ms grid they do only
        // when the delay is a multiple of 20 ms. The first frame (held one extra pass while the
        // loop starts its clock) and the last (one pass) are left out.
        std::map<int, std::pair<std::uint32_t, std::uint32_t>> spread;  // delay: min, max
        std::map<int, std::vector<int>> members;
        for (std::size_t i = 1; i + 1 < n; ++i) {
            const FrameReport& f = report.frames[i];
            auto [it, added] = spread.emplace(f.delayCs, std::make_pair(f.onScreenMs, f.onScreenMs));
            if (!added) {
                it->second.first = std::min(it->second.first, f.onScreenMs);
                it->second.second = std::max(it->second.second, f.onScreenMs);
            }
            members[f.delayCs].push_back(f.index);
        }
        int worst = -1;
        std::uint32_t worstSpread = 0;
        for (const auto& [delay, range] : spread) {
            if (range.second - range.first >= kPassMs && range.second - range.first > worstSpread) {
                worst = delay;
                worstSpread = range.second - range.first;
            }
        }
        if (worst >= 0) {
            const int ms = worst * 10;
            const int lower = std::max(20, ms / 20 * 20), upper = (ms + 19) / 20 * 20;
            warnShown("judder",
                 "Frames with a delay of " + std::to_string(ms) + " ms are on the screen for " +
                     std::to_string(spread[worst].first) + " to " +
                     std::to_string(spread[worst].second) + " ms (frames " +
                     FrameList(members[worst]) +
                     "): the device changes frames only on its passes, 20 ms apart, so equal "
                     "delays give unequal times and the motion judders.",
                 "Use delays that are multiples of 20 ms (2, 4, 6 ... hundredths of a second), "
                 "for example " + std::to_string(lower) +
                     (upper != lower ? " or " + std::to_string(upper) : std::string()) +
                     " ms instead of " + std::to_string(ms) + ".");
        }
    }
    if (n >= 2) {
        std::uint64_t intended = 0;
        for (std::size_t i = 0; i + 1 < n; ++i) intended += report.frames[i].delayCs * 10u;
        const std::uint64_t actual = report.frames.back().composedAtMs;
        const std::uint64_t late = actual > intended + kPassMs ? actual - intended - kPassMs : 0;
        if (!underPass.empty() && late >= 100 && late * 10 > intended) {
            warnShown("slowerThanDelays",
                 "The device reaches the last frame at " + Grouped(actual) +
                     " ms where the delays add up to " + Grouped(intended) +
                     " ms: it composes at most one frame per 20 ms pass, so each of the " +
                     Plural(underPass.size(), "frame", "frames") + " with a delay under 20 ms (" +
                     FrameList(underPass) + ") is held for a whole pass.",
                 "Use delays of at least 2 hundredths of a second, or fewer frames.");
        }
        const FrameReport& last = report.frames.back();
        // Barely seen: it asks for more than twice the one pass it gets.
        if (static_cast<std::uint32_t>(last.delayCs) * 10 > 2 * kPassMs) {
            warnShown("lastFrameBarelySeen",
                 "The last frame (" + std::to_string(last.index) + ") is on the screen for " +
                     std::to_string(last.onScreenMs) +
                     " ms, one pass, before the window closes: its delay of " +
                     Grouped(last.delayCs * 10u) + " ms is not waited for.",
                 "To hold the last picture for " + Grouped(last.delayCs * 10u) +
                     " ms, add a copy of it as a further frame: the frame before it then stays "
                     "for its full delay.");
        }
    }
    if (info.width > screenWidth || info.height > screenHeight) {
        warnShown("largerThanScreen",
             "The picture (" + std::to_string(info.width) + "x" + std::to_string(info.height) +
                 ") is larger than the screen (" + std::to_string(screenWidth) + "x" +
                 std::to_string(screenHeight) + "): the centre is shown and the edges are cut.",
             "Make the picture " + std::to_string(screenWidth) + "x" +
                 std::to_string(screenHeight) + " or smaller.");
    }
    if (n >= 1) {
        const FrameReport& f = report.frames[0];
        if (f.left > 0 || f.top > 0 || f.left + f.width < info.width ||
            f.top + f.height < info.height) {
            warnShown("firstFrameNotCovering",
                 "The first frame (" + std::to_string(f.width) + "x" + std::to_string(f.height) +
                     " at " + std::to_string(f.left) + "," + std::to_string(f.top) +
                     ") does not cover the picture: white shows through where it does not.",
                 "Make the first frame cover the whole picture.");
        }
    }
    if (firstTransparent > 0) {
        warnShown("firstFrameTransparent",
             "The first frame has " +
                 Plural(static_cast<std::size_t>(firstTransparent), "transparent pixel",
                        "transparent pixels") +
                 (chosen && chosen->scale < 1.0 ? " at " + SizeName(chosen->scale)
                                                : std::string()) +
                 ": the device's white background shows through them.",
             "Fill the first frame's transparent pixels with the colour they should show.");
    }
    if (!outside.empty()) {
        warnShown("frameOutside",
             Plural(outside.size(), "frame reaches", "frames reach") +
                 " beyond the picture's edge (" + FrameList(outside) +
                 "): the part outside is not shown.",
             "Crop the frames to the picture's size.");
    }
    if (report.loopCount >= 0 && n >= 2) {
        warnShown("loopIgnored",
             "The picture asks to be repeated (loop count " + std::to_string(report.loopCount) +
                 "): the device plays it once.",
             "Nothing, if one play is meant; otherwise repeat the frames in the file.");
    }
    return report;
}

std::string FormatReportText(const PictureReport& r) {
    std::ostringstream out;
    auto warnings = [&out, &r] {
        if (r.warnings.empty()) out << "no warnings\n";
        for (const Warning& w : r.warnings) {
            out << "warning: " << w.text << "\n";
            out << "  (" << w.id << ")" << (w.fix.empty() ? "" : " fix: " + w.fix) << "\n";
        }
    };
    out << r.path << "\n";
    out << "  format: " << r.formatName << ", " << Grouped(r.fileBytes) << " bytes\n";
    if (!r.parsed) {
        warnings();
        return out.str();
    }
    out << "  logical screen: " << r.width << "x" << r.height << ", " << r.globalColours
        << " global colours\n";
    out << "  device screen: " << r.screenWidth << "x" << r.screenHeight << ", shows "
        << r.shownWidth << "x" << r.shownHeight << " of the picture";
    if (r.displayScale != 1.0) out << " at display scale " << r.displayScale;
    out << "\n";
    out << "  frames: " << r.frames.size() << "\n";
    out << "      #  rectangle             delay  disposal  transparent  interlaced  shown at"
           "  on screen for\n";
    for (const FrameReport& f : r.frames) {
        char line[200];
        std::string rect = std::to_string(f.width) + "x" + std::to_string(f.height) + "+" +
                           std::to_string(f.left) + "+" + std::to_string(f.top);
        std::string delay =
            f.hasControlExtension ? std::to_string(f.delayCs * 10) + " ms" : "1000 ms*";
        std::string transparent =
            f.transparentIndex >= 0 ? std::to_string(f.transparentIndex) : "-";
        std::string onScreen = r.frames.size() >= 2 ? std::to_string(f.onScreenMs) + " ms" : "-";
        std::snprintf(line, sizeof line, "  %5d  %-20s %8s  %8d  %11s  %10s  %6u ms  %13s\n",
                      f.index, rect.c_str(), delay.c_str(), f.disposal, transparent.c_str(),
                      f.interlaced ? "yes" : "no", f.composedAtMs, onScreen.c_str());
        out << line;
    }
    if (r.frames.size() >= 2) {
        out << "  show length: about " << r.animationMs << " ms from the first frame to the end"
            << " (delays add up to " << r.delaySumMs
            << " ms; frames change only on the device's passes, 20 ms apart; the last frame "
               "stays for one pass, its delay is not waited for)\n";
    }
    out << "  memory at each decode scale (bitmap memory is what the memory limit counts):\n";
    const char* rowFormat = "    %-5s  %-11s  %13s  %10s  %13s  %21s  %13s  %s%s\n";
    {
        char header[320];
        std::snprintf(header, sizeof header, rowFormat, "scale", "picture", "frame bitmaps",
                      "+ surfaces", "= bitmaps", "+ palettes and records", "= total",
                      "limits that show it", "");
        out << header;
    }
    for (const ScaleMemory& m : r.memory) {
        std::string limits;
        if (m.overBitmapCap) {
            limits = "none: frame " + std::to_string(m.largestFrame) + " exceeds the largest bitmap";
        } else if (!m.works) {
            limits = "none";
        } else {
            limits = Grouped(m.minLimit) + (m.maxLimit ? " to " + Grouped(m.maxLimit) : " or more");
        }
        char line[320];
        const std::string picture = std::to_string(m.targetWidth) + "x" + std::to_string(m.targetHeight);
        std::snprintf(line, sizeof line, rowFormat,
                      ScaleName(m.scale).c_str(), picture.c_str(), Grouped(m.frameBytes).c_str(),
                      Grouped(r.surfaceBytes).c_str(), Grouped(m.bitmapBytes).c_str(),
                      Grouped(m.frameHeapBytes).c_str(), Grouped(m.totalBytes).c_str(),
                      limits.c_str(), m.scale == r.decodeScale ? "  <- the device's" : "");
        out << line;
    }
    out << "  decode scale: " << ScaleName(r.decodeScale) << "\n";
    out << "  verdict: " << r.memoryVerdict << "\n";
    // The decoder's message is in the "undecodable" warning, said once.
    warnings();
    return out.str();
}

Json ReportToJson(const PictureReport& r) {
    Json j = Json::object();
    j["path"] = r.path;
    j["fileBytes"] = r.fileBytes;
    j["format"] = r.formatName;
    j["isGif"] = r.isGif;
    j["decodable"] = r.decodable;
    if (!r.errorText.empty()) j["error"] = r.errorText;
    Json screen = Json::object();
    screen["width"] = r.screenWidth;
    screen["height"] = r.screenHeight;
    j["screen"] = screen;
    if (r.parsed) {
        Json picture = Json::object();
        picture["width"] = r.width;
        picture["height"] = r.height;
        picture["globalColours"] = r.globalColours;
        picture["loopCount"] = r.loopCount >= 0 ? Json(r.loopCount) : Json();
        picture["hasTrailer"] = r.hasTrailer;
        j["picture"] = picture;
        j["displayScale"] = r.displayScale;
        Json frames = Json::array();
        for (const FrameReport& f : r.frames) {
            Json fj = Json::object();
            fj["index"] = f.index;
            Json rect = Json::object();
            rect["left"] = f.left;
            rect["top"] = f.top;
            rect["width"] = f.width;
            rect["height"] = f.height;
            fj["rect"] = rect;
            fj["delayCs"] = f.delayCs;
            fj["disposal"] = f.disposal;
            fj["transparentIndex"] = f.transparentIndex >= 0 ? Json(f.transparentIndex) : Json();
            fj["interlaced"] = f.interlaced;
            fj["controlExtension"] = f.hasControlExtension;
            fj["composedAtMs"] = f.composedAtMs;
            fj["onScreenMs"] = r.frames.size() >= 2 ? Json(f.onScreenMs) : Json();
            frames.push_back(fj);
        }
        j["frames"] = frames;
        j["delaySumMs"] = r.delaySumMs;
        j["animationMs"] = r.frames.size() >= 2 ? Json(r.animationMs) : Json();
        Json memory = Json::array();
        for (const ScaleMemory& m : r.memory) {
            Json mj = Json::object();
            mj["scale"] = m.scale;
            mj["width"] = m.targetWidth;
            mj["height"] = m.targetHeight;
            mj["frameBytes"] = m.frameBytes;
            mj["largestFrameBytes"] = m.largestFrameBytes;
            mj["largestFrame"] = m.largestFrame >= 0 ? Json(m.largestFrame) : Json();
            mj["overLargestBitmap"] = m.overBitmapCap;
            mj["bitmapBytes"] = m.bitmapBytes;
            mj["frameHeapBytes"] = m.frameHeapBytes;
            mj["totalBytes"] = m.totalBytes;
            // The bitmap-memory limits that show the animation at this scale.
            Json works = Json();
            if (m.works) {
                works = Json::object();
                works["from"] = m.minLimit;
                works["to"] = m.maxLimit ? Json(m.maxLimit) : Json();
            }
            mj["showsWithLimit"] = works;
            memory.push_back(mj);
        }
        j["memory"] = memory;
        j["surfaceBytes"] = r.surfaceBytes;
        j["largestBitmapBytes"] = r.largestBitmapBytes;
        j["memoryLimit"] = r.memoryLimit ? Json(r.memoryLimit) : Json();
        j["decodeScale"] = r.decodeScale > 0 ? Json(r.decodeScale) : Json();
        j["memoryVerdict"] = r.memoryVerdict;
    }
    j["deviceShowsAnimation"] = r.DeviceShowsAnimation();
    Json warnings = Json::array();
    for (const Warning& w : r.warnings) {
        Json wj = Json::object();
        wj["id"] = w.id;
        wj["text"] = w.text;
        if (!w.fix.empty()) wj["fix"] = w.fix;
        warnings.push_back(wj);
    }
    j["warnings"] = warnings;
    return j;
}

bool ReadInputFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = path + " is a directory, not a file";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > 0x7FFFFFFFu) {
        *error = path + " is larger than 2 GB, more than the device can read";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

}  // namespace preview
