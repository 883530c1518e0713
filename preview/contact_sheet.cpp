// Contact sheet and text drawing; see contact_sheet.h.
#include "preview/contact_sheet.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace preview {

// Cairo's 24-bit surface: one 32-bit word per pixel, 0x00RRGGBB in the machine's byte order.
struct Canvas::Impl {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    int width = 0, height = 0;

    std::uint32_t* Row(int y) {
        return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                                static_cast<std::ptrdiff_t>(y) *
                                                    cairo_image_surface_get_stride(surface));
    }
    void Font(double sizePx, bool bold) {
        // DejaVu Sans (fonts-dejavu-core) through fontconfig: it covers the characters file
        // names hold in practice, and the same font on every machine keeps sheets alike.
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, sizePx);
    }
};

Canvas::Canvas(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b)
    : impl_(std::make_unique<Impl>()) {
    // Cairo's font caches and fontconfig's configuration live until the program ends; they
    // are given back then, so that a leak check at exit sees only real leaks.
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit([] {
            cairo_debug_reset_static_data();
            FcFini();
        });
    });
    impl_->width = width;
    impl_->height = height;
    impl_->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    impl_->cr = cairo_create(impl_->surface);
    Fill(0, 0, width, height, r, g, b);
}

Canvas::~Canvas() {
    cairo_destroy(impl_->cr);
    cairo_surface_destroy(impl_->surface);
}

void Canvas::Fill(int x, int y, int width, int height, std::uint8_t r, std::uint8_t g,
                  std::uint8_t b) {
    cairo_set_source_rgb(impl_->cr, r / 255.0, g / 255.0, b / 255.0);
    cairo_rectangle(impl_->cr, x, y, width, height);
    cairo_fill(impl_->cr);
}

void Canvas::Put(const RgbImage& image, int x0, int y0) {
    cairo_surface_flush(impl_->surface);
    if (cairo_surface_status(impl_->surface) != CAIRO_STATUS_SUCCESS) return;
    for (int y = std::max(0, -y0); y < image.height && y0 + y < impl_->height; ++y) {
        std::uint32_t* row = impl_->Row(y0 + y);
        for (int x = std::max(0, -x0); x < image.width && x0 + x < impl_->width; ++x) {
            const std::uint8_t* p = image.At(x, y);
            row[x0 + x] = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
        }
    }
    cairo_surface_mark_dirty(impl_->surface);
}

int Canvas::TextWidth(const std::string& utf8, double sizePx, bool bold) {
    impl_->Font(sizePx, bold);
    cairo_text_extents_t extents;
    cairo_text_extents(impl_->cr, utf8.c_str(), &extents);
    return static_cast<int>(std::ceil(extents.x_advance));
}

int Canvas::Text(int x, int y, const std::string& utf8, double sizePx, std::uint8_t r,
                 std::uint8_t g, std::uint8_t b, bool bold) {
    impl_->Font(sizePx, bold);
    cairo_font_extents_t font;
    cairo_font_extents(impl_->cr, &font);
    cairo_set_source_rgb(impl_->cr, r / 255.0, g / 255.0, b / 255.0);
    cairo_move_to(impl_->cr, x, y + font.ascent);
    cairo_show_text(impl_->cr, utf8.c_str());
    return TextWidth(utf8, sizePx, bold);
}

RgbImage Canvas::ToRgb() const {
    cairo_surface_flush(impl_->surface);
    RgbImage image(impl_->width, impl_->height);
    if (cairo_surface_status(impl_->surface) != CAIRO_STATUS_SUCCESS) return image;
    for (int y = 0; y < impl_->height; ++y) {
        const std::uint32_t* row = impl_->Row(y);
        for (int x = 0; x < impl_->width; ++x) {
            std::uint8_t* p = image.At(x, y);
            p[0] = static_cast<std::uint8_t>(row[x] >> 16);
            p[1] = static_cast<std::uint8_t>(row[x] >> 8);
            p[2] = static_cast<std::uint8_t>(row[x]);
        }
    }
    return image;
}

RgbImage Shrink(const RgbImage& source, int width, int height) {
    RgbImage out(width, height);
    for (int y = 0; y < height; ++y) {
        int sy0 = static_cast<int>(static_cast<long long>(y) * source.height / height);
        int sy1 = std::max(
            sy0 + 1, static_cast<int>(static_cast<long long>(y + 1) * source.height / height));
        for (int x = 0; x < width; ++x) {
            int sx0 = static_cast<int>(static_cast<long long>(x) * source.width / width);
            int sx1 = std::max(
                sx0 + 1, static_cast<int>(static_cast<long long>(x + 1) * source.width / width));
            unsigned long sum[3] = {0, 0, 0};
            for (int sy = sy0; sy < sy1; ++sy) {
                for (int sx = sx0; sx < sx1; ++sx) {
                    const std::uint8_t* p = source.At(sx, sy);
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                }
            }
            unsigned long n = static_cast<unsigned long>(sy1 - sy0) * (sx1 - sx0);
            std::uint8_t* q = out.At(x, y);
            for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return out;
}

void ThumbnailSize(std::size_t count, int width, int height, int* thumbWidth, int* thumbHeight) {
    count = std::min(count, kMaxThumbnails);
    double box = 1.0;
    if (count > 64) box = std::max(0.25, std::sqrt(64.0 / static_cast<double>(count)));
    const double fit = std::min({1.0, 120.0 * box / width, 160.0 * box / height});
    *thumbWidth = std::max(1, static_cast<int>(width * fit));
    *thumbHeight = std::max(1, static_cast<int>(height * fit));
}

RgbImage MakeContactSheet(const std::vector<SheetEntry>& entries, const SheetCaption& caption) {
    const int count = static_cast<int>(entries.size());
    const int thumbW = count ? entries[0].image->width : 0;
    const int thumbH = count ? entries[0].image->height : 0;
    const double labelPx = thumbW >= 100 ? 13 : 10;
    const int lineH = static_cast<int>(labelPx * 1.35);
    const int gap = 8, margin = 12;
    const double titlePx = 17, captionPx = 13;

    // Measure with a scratch canvas: cells must fit their labels, the sheet its caption.
    Canvas measure(1, 1, 0, 0, 0);
    const int labelW = measure.TextWidth("frame 0000", labelPx, true);
    const int cellW = std::max(thumbW + 2, labelW) + gap;
    const int cellH = thumbH + 2 + 4 + 2 * lineH + gap;
    const int columns =
        std::max(1, std::min(count, std::max(8, static_cast<int>(std::ceil(std::sqrt(count))))));
    const int rows = (count + columns - 1) / columns;
    int captionW = measure.TextWidth(caption.title, titlePx, true);
    for (const std::string& line : caption.lines) {
        captionW = std::max(captionW, measure.TextWidth(line, captionPx));
    }
    const int captionH = static_cast<int>(titlePx * 1.5 + captionPx * 1.45 * caption.lines.size());
    const int width = std::max(columns * cellW + 2 * margin - gap, captionW + 2 * margin);
    const int height = margin + captionH + margin + rows * cellH + margin - gap;

    Canvas sheet(width, height, 240, 240, 240);
    sheet.Fill(0, 0, width, margin + captionH + margin / 2, 255, 255, 255);
    int y = margin;
    sheet.Text(margin, y, caption.title, titlePx, 20, 20, 20, true);
    y += static_cast<int>(titlePx * 1.5);
    for (const std::string& line : caption.lines) {
        sheet.Text(margin, y, line, captionPx, 70, 70, 70);
        y += static_cast<int>(captionPx * 1.45);
    }
    const int top = margin + captionH + margin;
    for (int i = 0; i < count; ++i) {
        const SheetEntry& e = entries[static_cast<std::size_t>(i)];
        const int x0 = margin + (i % columns) * cellW;
        const int y0 = top + (i / columns) * cellH;
        sheet.Fill(x0, y0, thumbW + 2, thumbH + 2, 120, 120, 120);  // frame line
        sheet.Put(*e.image, x0 + 1, y0 + 1);
        const int ty = y0 + thumbH + 2 + 4;
        sheet.Text(x0, ty, "frame " + std::to_string(e.frameIndex), labelPx, 30, 30, 30, true);
        sheet.Text(x0, ty + lineH, std::to_string(e.timeMs) + " ms", labelPx, 90, 90, 90);
    }
    return sheet.ToRgb();
}

}  // namespace preview
