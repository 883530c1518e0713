// Picture analysis for `info` and for the show's summary; see picture_report.h.
#include "preview/picture_report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "decode/decoder.h"
#include "decode/error.h"
#include "decode/memory_source.h"
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
            pendingControl = label == 0xF9;
            if (label == 0xFF && first.size() >= 11 &&
                (std::memcmp(first.data(), "NETSCAPE2.0", 11) == 0 ||
                 std::memcmp(first.data(), "ANIMEXTS1.0", 11) == 0)) {
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
            pendingControl = false;
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
    std::ostringstream out;
    out << message << " (message " << error->code << ", numbers " << error->componentId << ":"
        << error->routineId << ":" << error->siteId << ":" << error->detail << ")";
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

PictureReport AnalysePicture(const std::string& path, const std::vector<std::uint8_t>& bytes,
                             int screenWidth, int screenHeight, std::uint64_t memoryLimit) {
    PictureReport report;
    report.path = path;
    report.fileBytes = bytes.size();
    report.screenWidth = screenWidth;
    report.screenHeight = screenHeight;
    report.memoryLimit = memoryLimit;
    auto warn = [&report](const char* id, const std::string& text) {
        report.warnings.push_back({id, text});
    };

    br::MemorySource source(bytes);
    source.size = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 0xFFFFFFFFu));
    report.formatCode = br::DetectImageFormat(&source);
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
                 ": the device decodes only GIF, so the window opens and closes at once.");
        return report;
    }

    br::CImgDecoder2 decoder;
    br::DecoderImageInfo info;
    br::PresetImageInfo(&info);
    if (!decoder.GetImageInfo(&source, &info) || info.frameCount <= 0) {
        report.errorText = DecoderErrorText(decoder.lastError);
        warn("undecodable", "The picture cannot be decoded: " + report.errorText +
                                ". The window opens and closes at once.");
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
    for (int i = 0; i < info.frameCount; ++i) {
        br::DecoderFrameInfo frame;
        br::PresetFrameInfo(&frame);
        frame.bytesPerPixel = 0;
        frame.targetRowPadding = 0;
        FrameReport f;
        f.index = i;
        if (decoder.GetFrameInfo(&source, &frame, i)) {
            f.left = frame.frameRect.left;
            f.top = frame.frameRect.top;
            f.width = frame.frameRect.Width();
            f.height = frame.frameRect.Height();
            f.delayCs = static_cast<std::uint16_t>(frame.delay);
            f.disposal = frame.disposal;
            f.transparentIndex = frame.transparentIndex;
            f.interlaced = frame.interlaced != 0;
            f.userInput = frame.userInput != 0;
        }
        if (static_cast<std::size_t>(i) < scan.frames.size()) {
            f.hasControlExtension = scan.frames[static_cast<std::size_t>(i)].hasControlExtension;
            f.hasLocalColourTable = scan.frames[static_cast<std::size_t>(i)].hasLocalColourTable;
        }
        delays.push_back(f.delayCs);
        report.delaySumMs += static_cast<std::uint64_t>(f.delayCs) * 10;
        report.frames.push_back(f);
    }
    std::vector<std::uint32_t> times = CompositionTimes(delays, &report.animationMs);
    for (std::size_t i = 0; i < times.size(); ++i) report.frames[i].composedAtMs = times[i];

    // Decode every frame at full size, as the device tries first.
    {
        br::CImgInfo image;
        br::FrameList frames = nullptr;
        br::TargetSize target{info.width, info.height};
        br::MemorySource decodeSource(bytes);
        decodeSource.size = source.size;
        if (decoder.DecodeFramesToSize(&decodeSource, &image, &frames, &target, nullptr)) {
            report.decodable = true;
            // Transparent pixels in the first frame let the white background show through.
            const br::CImgLayer* first = frames[0];
            const int t = report.frames[0].transparentIndex;
            if (first && t >= 0 && first->image.colorBits) {
                const int stride = first->image.width + first->image.rowPadding;
                int transparent = 0;
                for (int y = 0; y < first->image.height; ++y) {
                    for (int x = 0; x < first->image.width; ++x) {
                        transparent += first->image.colorBits[y * stride + x] == t;
                    }
                }
                if (transparent > 0) {
                    warn("firstFrameTransparent",
                         "The first frame has " +
                             Plural(transparent, "transparent pixel", "transparent pixels") +
                             ": the device's white background shows through them.");
                }
            }
            for (int i = 0; i < info.frameCount; ++i) delete frames[i];
            br::FreeFrameList(frames, info.frameCount);
        } else {
            report.errorText = DecoderErrorText(decoder.lastError);
        }
    }

    // Memory of the decoded frames at each scale, sized as the decoder sizes them for the
    // player: the whole picture becomes ScaleSize(picture, s) and each frame's part inside the
    // picture holds the grid pixels that fall in it.
    for (double s : {1.0, 0.5, 0.25, 0.125, 0.0625}) {
        ScaleMemory m;
        m.scale = s;
        br::Size target = br::ScaleSize(info.width, info.height, s, 0);
        m.targetWidth = target.cx;
        m.targetHeight = target.cy;
        for (const FrameReport& f : report.frames) {
            m.frameBytes += br::FrameBufferBytes(br::Rect(f.left, f.top, f.left + f.width,
                                                          f.top + f.height),
                                                 info.width, info.height, target.cx, target.cy);
        }
        report.memory.push_back(m);
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
    report.surfaceBytes =
        Ceil4(screenWidth) * static_cast<std::uint64_t>(screenHeight) * 3 +
        Ceil4(report.shownWidth) * static_cast<std::uint64_t>(report.shownHeight) * 3;

    report.decodeScale = 0;
    for (const ScaleMemory& m : report.memory) {
        if (memoryLimit == 0 || m.frameBytes <= memoryLimit) {
            report.decodeScale = m.scale;
            if (memoryLimit != 0 && m.frameBytes + report.surfaceBytes > memoryLimit) {
                report.surfacesFit = false;
            }
            break;
        }
    }

    // ---- Warnings, most serious first ----
    const std::size_t n = report.frames.size();
    if (!report.decodable) {
        warn("undecodable", "The picture cannot be decoded: " + report.errorText +
                                ". The window opens and closes at once.");
    }
    if (report.decodable && memoryLimit != 0) {
        if (report.decodeScale == 0) {
            warn("noScaleFits",
                 "The decoded frames need " + std::to_string(report.memory.back().frameBytes) +
                     " bytes even at 1/16 size, more than the " + std::to_string(memoryLimit) +
                     " bytes the device gives: the window opens and closes at once.");
        } else if (!report.surfacesFit && n >= 2) {
            warn("surfacesDontFit",
                 "The frames fit at " + ScaleName(report.decodeScale) +
                     " size, but the drawing surfaces (" + std::to_string(report.surfaceBytes) +
                     " bytes) do not fit beside them: the device shows nothing.");
        }
        if (report.decodeScale > 0 && report.decodeScale < 1.0) {
            warn("reducedScale", "With " + std::to_string(memoryLimit) +
                                     " bytes of bitmap memory the device decodes the frames at " +
                                     ScaleName(report.decodeScale) +
                                     " size: the picture looks coarser.");
        }
    }
    if (n == 1) {
        warn("singleFrame",
             "The picture has a single frame: the device shows nothing for it (only pictures "
             "of two frames or more are played).");
    }
    if (scan.endsInsideBlock) {
        warn("truncated",
             "The file ends in the middle of a block (it looks cut short): the "
             "device shows the frames it finds, and the last one may be incomplete.");
    } else if (scan.junkAfterFrames) {
        warn("unknownData", "Unknown data at byte " + std::to_string(scan.junkOffset) +
                                ": the device stops reading there and shows the frames before it.");
    }
    std::vector<int> noControl, zeroDelay, outside;
    for (const FrameReport& f : report.frames) {
        if (!f.hasControlExtension) noControl.push_back(f.index);
        if (f.hasControlExtension && f.delayCs == 0) zeroDelay.push_back(f.index);
        if (f.left + f.width > info.width || f.top + f.height > info.height) {
            outside.push_back(f.index);
        }
    }
    if (!noControl.empty() && n >= 2) {
        warn("noControlExtension", Plural(noControl.size(), "frame has", "frames have") +
                                       " no graphic control extension (" + FrameList(noControl) +
                                       "): each is shown for 1 s.");
    }
    if (!zeroDelay.empty() && n >= 2) {
        warn("zeroDelay", Plural(zeroDelay.size(), "frame has", "frames have") + " delay 0 (" +
                              FrameList(zeroDelay) + "): each is shown for one pass, about 20 ms.");
    }
    if (info.width > screenWidth || info.height > screenHeight) {
        warn("largerThanScreen",
             "The picture (" + std::to_string(info.width) + "x" + std::to_string(info.height) +
                 ") is larger than the screen (" + std::to_string(screenWidth) + "x" +
                 std::to_string(screenHeight) + "): the centre is shown and the edges are cut.");
    }
    if (n >= 1) {
        const FrameReport& f = report.frames[0];
        if (f.left > 0 || f.top > 0 || f.left + f.width < info.width ||
            f.top + f.height < info.height) {
            warn("firstFrameNotCovering",
                 "The first frame (" + std::to_string(f.width) + "x" + std::to_string(f.height) +
                     " at " + std::to_string(f.left) + "," + std::to_string(f.top) +
                     ") does not cover the picture: white shows through where it does not.");
        }
    }
    if (!outside.empty()) {
        warn("frameOutside", Plural(outside.size(), "frame reaches", "frames reach") +
                                 " beyond the picture's edge (" + FrameList(outside) +
                                 "): the part outside is not shown.");
    }
    if (report.loopCount >= 0 && n >= 2) {
        warn("loopIgnored", "The picture asks to be repeated (loop count " +
                                std::to_string(report.loopCount) + "): the device plays it once.");
    }
    return report;
}

std::string FormatReportText(const PictureReport& r) {
    std::ostringstream out;
    out << r.path << "\n";
    out << "  format: " << r.formatName << ", " << r.fileBytes << " bytes\n";
    if (!r.parsed) {
        for (const Warning& w : r.warnings) out << "warning: " << w.text << "\n";
        return out.str();
    }
    out << "  logical screen: " << r.width << "x" << r.height << ", " << r.globalColours
        << " global colours\n";
    out << "  device screen: " << r.screenWidth << "x" << r.screenHeight << ", shows "
        << r.shownWidth << "x" << r.shownHeight << " of the picture";
    if (r.displayScale != 1.0) out << " at display scale " << r.displayScale;
    out << "\n";
    out << "  frames: " << r.frames.size() << "\n";
    out << "      #  rectangle             delay  disposal  transparent  interlaced  shown at\n";
    for (const FrameReport& f : r.frames) {
        char line[160];
        std::string rect = std::to_string(f.width) + "x" + std::to_string(f.height) + "+" +
                           std::to_string(f.left) + "+" + std::to_string(f.top);
        std::string delay =
            f.hasControlExtension ? std::to_string(f.delayCs * 10) + " ms" : "1000 ms*";
        std::string transparent =
            f.transparentIndex >= 0 ? std::to_string(f.transparentIndex) : "-";
        std::snprintf(line, sizeof line, "  %5d  %-20s %8s  %8d  %11s  %10s  %6u ms\n", f.index,
                      rect.c_str(), delay.c_str(), f.disposal, transparent.c_str(),
                      f.interlaced ? "yes" : "no", f.composedAtMs);
        out << line;
    }
    if (r.frames.size() >= 2) {
        out << "  show length: about " << r.animationMs << " ms from the first frame to the end"
            << " (delays add up to " << r.delaySumMs
            << " ms; the last frame's delay is not waited for; frames are composed on passes "
               "about 20 ms apart)\n";
    }
    out << "  decoded frames need (bytes of bitmap memory):\n";
    for (const ScaleMemory& m : r.memory) {
        out << "    " << ScaleName(m.scale) << ": " << m.frameBytes << " (picture " << m.targetWidth
            << "x" << m.targetHeight << ")\n";
    }
    out << "    plus the drawing surfaces: " << r.surfaceBytes << "\n";
    out << "  decode scale: ";
    if (r.decodeScale > 0) {
        out << ScaleName(r.decodeScale);
    } else {
        out << "none (the frames do not fit)";
    }
    if (r.memoryLimit) {
        out << " with " << r.memoryLimit << " bytes";
    } else {
        out << " (no memory limit given)";
    }
    out << "\n";
    if (!r.decodable && !r.errorText.empty()) out << "  decoder: " << r.errorText << "\n";
    if (r.warnings.empty()) out << "no warnings\n";
    for (const Warning& w : r.warnings) out << "warning: " << w.text << "\n";
    return out.str();
}

Json ReportToJson(const PictureReport& r) {
    Json j = Json::Object();
    j.Set("path", r.path);
    j.Set("fileBytes", r.fileBytes);
    j.Set("format", r.formatName);
    j.Set("isGif", r.isGif);
    j.Set("decodable", r.decodable);
    if (!r.errorText.empty()) j.Set("error", r.errorText);
    Json screen = Json::Object();
    screen.Set("width", r.screenWidth);
    screen.Set("height", r.screenHeight);
    j.Set("screen", screen);
    if (r.parsed) {
        Json picture = Json::Object();
        picture.Set("width", r.width);
        picture.Set("height", r.height);
        picture.Set("globalColours", r.globalColours);
        picture.Set("loopCount", r.loopCount >= 0 ? Json(r.loopCount) : Json());
        picture.Set("hasTrailer", r.hasTrailer);
        j.Set("picture", picture);
        j.Set("displayScale", r.displayScale);
        Json frames = Json::Array();
        for (const FrameReport& f : r.frames) {
            Json fj = Json::Object();
            fj.Set("index", f.index);
            Json rect = Json::Object();
            rect.Set("left", f.left);
            rect.Set("top", f.top);
            rect.Set("width", f.width);
            rect.Set("height", f.height);
            fj.Set("rect", rect);
            fj.Set("delayCs", f.delayCs);
            fj.Set("disposal", f.disposal);
            fj.Set("transparentIndex", f.transparentIndex >= 0 ? Json(f.transparentIndex) : Json());
            fj.Set("interlaced", f.interlaced);
            fj.Set("controlExtension", f.hasControlExtension);
            fj.Set("composedAtMs", f.composedAtMs);
            frames.Push(fj);
        }
        j.Set("frames", frames);
        j.Set("delaySumMs", r.delaySumMs);
        j.Set("animationMs", r.frames.size() >= 2 ? Json(r.animationMs) : Json());
        Json memory = Json::Array();
        for (const ScaleMemory& m : r.memory) {
            Json mj = Json::Object();
            mj.Set("scale", m.scale);
            mj.Set("width", m.targetWidth);
            mj.Set("height", m.targetHeight);
            mj.Set("frameBytes", m.frameBytes);
            memory.Push(mj);
        }
        j.Set("memory", memory);
        j.Set("surfaceBytes", r.surfaceBytes);
        j.Set("memoryLimit", r.memoryLimit ? Json(r.memoryLimit) : Json());
        j.Set("decodeScale", r.decodeScale > 0 ? Json(r.decodeScale) : Json());
    }
    Json warnings = Json::Array();
    for (const Warning& w : r.warnings) {
        Json wj = Json::Object();
        wj.Set("id", w.id);
        wj.Set("text", w.text);
        warnings.Push(wj);
    }
    j.Set("warnings", warnings);
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
