// PNG and animated WebP files; see image_files.h.
#include "preview/image_files.h"

#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>

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

// libpng reports errors through longjmp; the handler keeps the message for the caller.
void PngError(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    if (text) *text = message;
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

}  // namespace

bool WritePng(const std::string& path, const RgbImage& image, std::string* error) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        *error = "cannot create " + path;
        return false;
    }
    std::string pngMessage;
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngMessage, PngError, PngWarning);
    if (!png) {
        *error = "out of memory writing " + path;
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *error = "cannot write " + path + (pngMessage.empty() ? "" : ": " + pngMessage);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) {
        png_write_row(png, const_cast<png_bytep>(image.At(0, y)));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReadPng(const std::string& path, RgbImage* image, std::string* error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    std::string pngMessage;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &pngMessage, PngError, PngWarning);
    if (!png) {
        *error = "out of memory reading " + path;
        return false;
    }
    png_infop info = png_create_info_struct(png);
    RgbImage result;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = "cannot read " + path + (pngMessage.empty() ? "" : ": " + pngMessage);
        return false;
    }
    png_init_io(png, file.get());
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    result.width = static_cast<int>(png_get_image_width(png, info));
    result.height = static_cast<int>(png_get_image_height(png, info));
    if (png_get_rowbytes(png, info) != static_cast<std::size_t>(result.width) * 3) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = "unexpected pixel layout in " + path;
        return false;
    }
    result.rgb.resize(static_cast<std::size_t>(result.width) * result.height * 3);
    for (int y = 0; y < result.height; ++y) png_read_row(png, result.At(0, y), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    *image = std::move(result);
    return true;
}

bool WriteAnimatedWebp(const std::string& path, const std::vector<TimedImage>& frames,
                       std::string* error, const std::function<void(int, int)>& progress) {
    if (frames.empty()) {
        *error = "no frames to record";
        return false;
    }
    const int width = frames[0].image->width;
    const int height = frames[0].image->height;
    WebPAnimEncoderOptions encoderOptions;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&encoderOptions) || !WebPConfigInit(&config)) {
        *error = "libwebp version mismatch";
        return false;
    }
    encoderOptions.anim_params.loop_count = 1;  // the device plays the show once
    encoderOptions.anim_params.bgcolor = 0xFFFFFFFF;
    config.lossless = 1;
    config.method = 2;
    config.quality = 50;
    std::unique_ptr<WebPAnimEncoder, void (*)(WebPAnimEncoder*)> encoder(
        WebPAnimEncoderNew(width, height, &encoderOptions), WebPAnimEncoderDelete);
    if (!encoder) {
        *error = "cannot start the WebP encoder";
        return false;
    }
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) {
        *error = "libwebp version mismatch";
        return false;
    }
    picture.use_argb = 1;
    picture.width = width;
    picture.height = height;
    int timestamp = 0;
    int index = 0;
    for (const TimedImage& frame : frames) {
        if (!WebPPictureImportRGB(&picture, frame.image->rgb.data(), width * 3) ||
            !WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config)) {
            *error = std::string("WebP encoding failed: ") + WebPAnimEncoderGetError(encoder.get());
            WebPPictureFree(&picture);
            return false;
        }
        timestamp += static_cast<int>(frame.durationMs == 0 ? 1 : frame.durationMs);
        if (progress) progress(++index, static_cast<int>(frames.size()));
    }
    WebPPictureFree(&picture);
    WebPData data;
    WebPDataInit(&data);
    if (!WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr) ||
        !WebPAnimEncoderAssemble(encoder.get(), &data)) {
        *error = std::string("WebP encoding failed: ") + WebPAnimEncoderGetError(encoder.get());
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
