// See gif_maker.h.
#include "preview/make/gif_maker.h"

#include <gif_lib.h>
#include <libimagequant.h>
#include <omp.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace preview {

GifMaker::GifMaker(int width, int height, const MakerSettings& settings)
    : width_(width), height_(height), settings_(settings), canvas_(width, height),
      reference_(width, height) {
    // One frame is small: libimagequant's threads would spend more time waiting for each
    // other (OpenMP spins while it waits) than they save, most of all on a busy machine.
    omp_set_num_threads(1);
}

void GifMaker::Add(const RgbImage& screen, int delayCs) {
    int left = 0, top = 0, right = width_, bottom = height_;  // the changed rectangle
    std::vector<std::uint8_t> changed(static_cast<std::size_t>(width_) * height_, 1);
    if (!frames_.empty()) {
        left = width_, top = height_, right = 0, bottom = 0;
        for (int y = 0; y < height_; ++y) {
            const std::uint8_t* s = screen.At(0, y);
            const std::uint8_t* r = reference_.At(0, y);
            for (int x = 0; x < width_; ++x, s += 3, r += 3) {
                const bool differs = std::abs(s[0] - r[0]) > settings_.threshold ||
                                     std::abs(s[1] - r[1]) > settings_.threshold ||
                                     std::abs(s[2] - r[2]) > settings_.threshold;
                changed[static_cast<std::size_t>(y) * width_ + x] = differs;
                if (differs) {
                    left = std::min(left, x), right = std::max(right, x + 1);
                    top = std::min(top, y), bottom = std::max(bottom, y + 1);
                }
            }
        }
        if (right <= left) {  // nothing the eye would see: the frame before stays longer
            frames_.back().delayCs += delayCs;
            return;
        }
    }
    if (frames_.empty() || delayCs < 4) {
        Emit(screen, changed, Box{left, top, right, bottom}, delayCs);
        return;
    }
    // Two changes far apart (a spinner and a progress bar) cost less as two rectangles than
    // as the one that spans both: the second follows one pass later.
    Box first, second;
    if (Split(changed, Box{left, top, right, bottom}, &first, &second)) {
        Emit(screen, changed, first, 2);
        Emit(screen, changed, second, delayCs - 2);
    } else {
        Emit(screen, changed, Box{left, top, right, bottom}, delayCs);
    }
}

namespace {

std::uint64_t BoxBytes(int width, int height) {
    return static_cast<std::uint64_t>((width + 3) / 4 * 4) * static_cast<std::uint64_t>(height);
}

}  // namespace

GifMaker::Box GifMaker::Tighten(const std::vector<std::uint8_t>& changed, Box box) const {
    Box tight{box.right, box.bottom, box.left, box.top};
    for (int y = box.top; y < box.bottom; ++y) {
        for (int x = box.left; x < box.right; ++x) {
            if (!changed[static_cast<std::size_t>(y) * width_ + x]) continue;
            tight.left = std::min(tight.left, x), tight.right = std::max(tight.right, x + 1);
            tight.top = std::min(tight.top, y), tight.bottom = std::max(tight.bottom, y + 1);
        }
    }
    return tight;
}

bool GifMaker::Split(const std::vector<std::uint8_t>& changed, Box box, Box* first,
                     Box* second) const {
    // The widest band of unchanged rows, or of unchanged columns, inside the rectangle.
    std::vector<std::uint8_t> rowUsed(static_cast<std::size_t>(box.bottom - box.top), 0);
    std::vector<std::uint8_t> columnUsed(static_cast<std::size_t>(box.right - box.left), 0);
    for (int y = box.top; y < box.bottom; ++y) {
        for (int x = box.left; x < box.right; ++x) {
            if (changed[static_cast<std::size_t>(y) * width_ + x]) {
                rowUsed[y - box.top] = columnUsed[x - box.left] = 1;
            }
        }
    }
    auto widestGap = [](const std::vector<std::uint8_t>& used, int* from, int* to) {
        int best = 0, run = 0;
        for (int i = 0; i < static_cast<int>(used.size()); ++i) {
            run = used[i] ? 0 : run + 1;
            if (run > best) best = run, *from = i - run + 1, *to = i + 1;
        }
        return best;
    };
    const std::uint64_t whole = BoxBytes(box.right - box.left, box.bottom - box.top);
    std::uint64_t bestCost = whole * 3 / 4;  // worth a second frame only when it saves a lot
    bool found = false;
    int from = 0, to = 0;
    if (widestGap(rowUsed, &from, &to) > 0) {
        const Box a = Tighten(changed, Box{box.left, box.top, box.right, box.top + from});
        const Box b = Tighten(changed, Box{box.left, box.top + to, box.right, box.bottom});
        const std::uint64_t cost = BoxBytes(a.right - a.left, a.bottom - a.top) +
                                   BoxBytes(b.right - b.left, b.bottom - b.top);
        if (cost < bestCost) bestCost = cost, *first = a, *second = b, found = true;
    }
    if (widestGap(columnUsed, &from, &to) > 0) {
        const Box a = Tighten(changed, Box{box.left, box.top, box.left + from, box.bottom});
        const Box b = Tighten(changed, Box{box.left + to, box.top, box.right, box.bottom});
        const std::uint64_t cost = BoxBytes(a.right - a.left, a.bottom - a.top) +
                                   BoxBytes(b.right - b.left, b.bottom - b.top);
        if (cost < bestCost) bestCost = cost, *first = a, *second = b, found = true;
    }
    return found;
}

void GifMaker::Emit(const RgbImage& screen, const std::vector<std::uint8_t>& changed, Box box,
                    int delayCs) {
    const int left = box.left, top = box.top, right = box.right, bottom = box.bottom;
    Frame frame;
    frame.left = left, frame.top = top, frame.width = right - left, frame.height = bottom - top;
    frame.delayCs = delayCs;
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(frame.width) * frame.height * 4, 0);
    bool anyTransparent = false;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            std::uint8_t* p = &rgba[(static_cast<std::size_t>(y - top) * frame.width + (x - left)) * 4];
            if (changed[static_cast<std::size_t>(y) * width_ + x]) {
                std::memcpy(p, screen.At(x, y), 3);
                p[3] = 255;
            } else {
                anyTransparent = true;
            }
        }
    }
    Quantise(rgba, anyTransparent, &frame);
    // The screen now shows the palette's colours where the frame has pixels.
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const int index = frame.pixels[static_cast<std::size_t>(y - top) * frame.width + (x - left)];
            if (index == frame.transparent) continue;
            std::memcpy(canvas_.At(x, y), &frame.palette[static_cast<std::size_t>(index) * 3], 3);
            std::memcpy(reference_.At(x, y), screen.At(x, y), 3);
        }
    }
    frames_.push_back(std::move(frame));
}

void GifMaker::Quantise(const std::vector<std::uint8_t>& rgba, bool anyTransparent,
                        Frame* frame) const {
    const std::size_t count = static_cast<std::size_t>(frame->width) * frame->height;
    frame->pixels.assign(count, 0);
    // Few colours (drawings, text, flat animation): an exact palette, nothing lost.
    std::unordered_map<std::uint32_t, int> exact;
    const int room = settings_.maxColours - (anyTransparent ? 1 : 0);
    for (std::size_t i = 0; i < count && static_cast<int>(exact.size()) <= room; ++i) {
        const std::uint8_t* p = &rgba[i * 4];
        if (p[3] == 0) continue;
        exact.emplace((p[0] << 16) | (p[1] << 8) | p[2], 0);
    }
    if (static_cast<int>(exact.size()) <= room) {
        int next = 0;
        if (anyTransparent) {
            frame->transparent = next++;
            frame->palette.insert(frame->palette.end(), {0, 0, 0});
        }
        for (auto& [colour, index] : exact) {
            index = next++;
            frame->palette.push_back(static_cast<std::uint8_t>(colour >> 16));
            frame->palette.push_back(static_cast<std::uint8_t>(colour >> 8));
            frame->palette.push_back(static_cast<std::uint8_t>(colour));
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = &rgba[i * 4];
            frame->pixels[i] = p[3] == 0 ? static_cast<std::uint8_t>(frame->transparent)
                                         : static_cast<std::uint8_t>(
                                               exact[(p[0] << 16) | (p[1] << 8) | p[2]]);
        }
        if (frame->palette.size() < 6) frame->palette.resize(6, 0);
        return;
    }
    liq_attr* attr = liq_attr_create();
    liq_set_max_colors(attr, settings_.maxColours);
    liq_set_speed(attr, settings_.speed);
    liq_image* image = liq_image_create_rgba(attr, rgba.data(), frame->width, frame->height, 0);
    liq_result* result = nullptr;
    if (image && liq_image_quantize(image, attr, &result) == LIQ_OK) {
        liq_set_dithering_level(result, settings_.dither);
        liq_write_remapped_image(result, image, frame->pixels.data(), count);
        const liq_palette* palette = liq_get_palette(result);
        for (unsigned i = 0; i < palette->count; ++i) {
            const liq_color& c = palette->entries[i];
            if (c.a < 128 && frame->transparent < 0) frame->transparent = static_cast<int>(i);
            frame->palette.insert(frame->palette.end(), {c.r, c.g, c.b});
        }
        liq_result_destroy(result);
    } else {
        // libimagequant refused (it should not for these sizes): a 3-3-2 palette keeps the
        // frame usable.
        for (int i = 0; i < 256; ++i) {
            frame->palette.insert(frame->palette.end(),
                                  {static_cast<std::uint8_t>((i >> 5) * 255 / 7),
                                   static_cast<std::uint8_t>(((i >> 2) & 7) * 255 / 7),
                                   static_cast<std::uint8_t>((i & 3) * 255 / 3)});
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = &rgba[i * 4];
            frame->pixels[i] = static_cast<std::uint8_t>((p[0] >> 5) << 5 | (p[1] >> 5) << 2 | p[2] >> 6);
        }
    }
    if (image) liq_image_destroy(image);
    liq_attr_destroy(attr);
    if (frame->palette.size() < 6) frame->palette.resize(6, 0);
}

void GifMaker::Finish(int holdCs) {
    if (frames_.empty()) return;
    frames_.back().delayCs = std::max(frames_.back().delayCs, holdCs);
    // One transparent pixel: the screen keeps the last picture while the device shows this
    // frame for its one pass.
    Frame end;
    end.width = end.height = 1;
    end.delayCs = 2;
    end.transparent = 0;
    end.palette.assign(6, 0);
    end.pixels.assign(1, 0);
    frames_.push_back(std::move(end));
}

namespace {

int AppendBytes(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + length);
    return length;
}

}  // namespace

bool GifMaker::Write(std::vector<std::uint8_t>* bytes, std::string* error) const {
    bytes->clear();
    int code = 0;
    GifFileType* gif = EGifOpen(bytes, AppendBytes, &code);
    if (!gif) {
        *error = std::string("giflib: ") + GifErrorString(code);
        return false;
    }
    EGifSetGifVersion(gif, true);
    auto fail = [&]() {
        *error = std::string("giflib: ") + GifErrorString(gif->Error);
        EGifCloseFile(gif, &code);
        return false;
    };
    // No global palette: every frame carries its own. No loop block either: the device plays
    // the animation once whatever it says.
    if (EGifPutScreenDesc(gif, width_, height_, 8, 0, nullptr) == GIF_ERROR) return fail();
    for (const Frame& f : frames_) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.UserInputFlag = false;
        control.DelayTime = f.delayCs;
        control.TransparentColor = f.transparent < 0 ? NO_TRANSPARENT_COLOR : f.transparent;
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_ERROR) return fail();
        const int entries = static_cast<int>(f.palette.size() / 3);
        int bits = 1;
        while ((1 << bits) < entries) ++bits;
        std::vector<GifColorType> colours(static_cast<std::size_t>(1) << bits, GifColorType{0, 0, 0});
        for (int i = 0; i < entries; ++i) {
            colours[i] = GifColorType{f.palette[i * 3], f.palette[i * 3 + 1], f.palette[i * 3 + 2]};
        }
        ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
        if (!map) {
            *error = "out of memory";
            EGifCloseFile(gif, &code);
            return false;
        }
        const int put = EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, false, map);
        GifFreeMapObject(map);
        if (put == GIF_ERROR) return fail();
        for (int y = 0; y < f.height; ++y) {
            auto* row = const_cast<GifPixelType*>(&f.pixels[static_cast<std::size_t>(y) * f.width]);
            if (EGifPutLine(gif, row, f.width) == GIF_ERROR) return fail();
        }
    }
    if (EGifCloseFile(gif, &code) == GIF_ERROR) {
        *error = std::string("giflib: ") + GifErrorString(code);
        return false;
    }
    return true;
}

}  // namespace preview
