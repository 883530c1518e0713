// Reading a picture the way the device does; see picture_scan.h.
#include "preview/picture_scan.h"

#include <cstring>
#include <new>
#include <sstream>

#include "decode/error.h"
#include "preview/picture_report.h"
#include "preview/text.h"
#include "raster/geometry.h"

namespace preview {

// ---- Our own block scan ----------------------------------------------------------------
// Walks the GIF89a block structure the way the device's decoder indexes it (a graphic control
// extension governs the next image only when no other extension stands between them), to
// learn what the decoder does not report.

namespace {

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

}  // namespace

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
                const BufferSize size = DecodedFrameSize(
                    frame.frameRect.left, frame.frameRect.top, frame.frameRect.Width(),
                    frame.frameRect.Height(), info.width, info.height, scale);
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
                        const std::uint8_t* row =
                            image.colorBits + static_cast<std::size_t>(y) * stride;
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

}  // namespace preview
