// PNG and animated WebP files; see image_files.h.
#include "preview/image_files.h"

#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace preview {

RgbImage::RgbImage(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b)
    : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3) {
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = r;
        rgb[i + 1] = g;
        rgb[i + 2] = b;
    }
}

RgbImage FromBgr(int width, int height, const std::vector<std::uint8_t>& bgr) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i + 2 < image.rgb.size() && i + 2 < bgr.size(); i += 3) {
        image.rgb[i] = bgr[i + 2];
        image.rgb[i + 1] = bgr[i + 1];
        image.rgb[i + 2] = bgr[i];
    }
    return image;
}

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// libpng reports errors through longjmp. The functions that call setjmp hold nothing but plain
// values, so the jump skips no destructor and clobbers nothing; the C++ wrappers below turn
// their results into messages.
struct PngMessage {
    char text[200];
};

void PngError(png_structp png, png_const_charp message) {
    auto* out = static_cast<PngMessage*>(png_get_error_ptr(png));
    if (out) std::snprintf(out->text, sizeof out->text, "%s", message);
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

// 0 on success, 1 when libpng failed (message in *message), 2 when out of memory.
int WritePngRows(std::FILE* file, const std::uint8_t* rgb, int width, int height,
                 PngMessage* message) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, message, PngError, PngWarning);
    if (!png) return 2;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return 1;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, const_cast<png_bytep>(rgb + static_cast<std::size_t>(y) * width * 3));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

}  // namespace

bool WritePng(const std::string& path, const RgbImage& image, std::string* error) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        *error = "cannot create " + path;
        return false;
    }
    PngMessage message{};
    const int result = WritePngRows(file.get(), image.At(0, 0), image.width, image.height, &message);
    if (result == 2) {
        *error = "out of memory writing " + path;
        return false;
    }
    if (result != 0) {
        *error = "cannot write " + path + (message.text[0] ? std::string(": ") + message.text : "");
        return false;
    }
    if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

// libpng's simplified reader converts every colour type to 8-bit RGB.
bool ReadPng(const std::string& path, RgbImage* image, std::string* error) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        *error = "cannot read " + path + ": " + png.message;
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    RgbImage result(static_cast<int>(png.width), static_cast<int>(png.height));
    if (!png_image_finish_read(&png, nullptr, result.rgb.data(), 0, nullptr)) {
        *error = "cannot read " + path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    *image = std::move(result);
    return true;
}

struct WebpRecording::Impl {
    int width, height;
    WebPAnimEncoder* encoder = nullptr;
    WebPConfig config;
    bool ready = false;
    std::uint32_t lastMs = 0;
    bool any = false;
};

WebpRecording::WebpRecording(int width, int height) : impl_(std::make_unique<Impl>()) {
    impl_->width = width;
    impl_->height = height;
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&impl_->config)) return;
    options.anim_params.loop_count = 1;  // the device plays the show once
    options.anim_params.bgcolor = 0xFFFFFFFF;
    impl_->config.lossless = 1;
    impl_->config.method = 2;
    impl_->config.quality = 50;
    impl_->encoder = WebPAnimEncoderNew(width, height, &options);
    impl_->ready = impl_->encoder != nullptr;
}

WebpRecording::~WebpRecording() {
    if (impl_->encoder) WebPAnimEncoderDelete(impl_->encoder);
}

bool WebpRecording::Add(const RgbImage& picture, std::uint32_t startMs, std::string* error) {
    if (!impl_->ready) {
        *error = "cannot start the WebP encoder";
        return false;
    }
    WebPPicture frame;
    if (!WebPPictureInit(&frame)) {
        *error = "libwebp version mismatch";
        return false;
    }
    frame.use_argb = 1;
    frame.width = impl_->width;
    frame.height = impl_->height;
    // Timestamps must rise: a picture at the time of the one before replaces it.
    const std::uint32_t at = impl_->any ? std::max(startMs, impl_->lastMs + 1) : startMs;
    const bool ok = picture.width == impl_->width && picture.height == impl_->height &&
                    WebPPictureImportRGB(&frame, picture.rgb.data(), impl_->width * 3) &&
                    WebPAnimEncoderAdd(impl_->encoder, &frame, static_cast<int>(at),
                                       &impl_->config);
    WebPPictureFree(&frame);
    if (!ok) {
        *error = std::string("WebP encoding failed: ") + WebPAnimEncoderGetError(impl_->encoder);
        return false;
    }
    impl_->lastMs = at;
    impl_->any = true;
    return true;
}

bool WebpRecording::Write(const std::string& path, std::uint32_t endMs, std::string* error) {
    if (!impl_->ready || !impl_->any) {
        *error = "no frames to record";
        return false;
    }
    WebPData data;
    WebPDataInit(&data);
    const int end = static_cast<int>(std::max(endMs, impl_->lastMs + 1));
    if (!WebPAnimEncoderAdd(impl_->encoder, nullptr, end, nullptr) ||
        !WebPAnimEncoderAssemble(impl_->encoder, &data)) {
        *error = std::string("WebP encoding failed: ") + WebPAnimEncoderGetError(impl_->encoder);
        return false;
    }
    File file(std::fopen(path.c_str(), "wb"));
    bool ok = file && std::fwrite(data.bytes, 1, data.size, file.get()) == data.size &&
              std::fflush(file.get()) == 0;
    WebPDataClear(&data);
    if (!ok) *error = "cannot write " + path;
    return ok;
}

}  // namespace preview
