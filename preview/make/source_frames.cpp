// Reading and fitting the source; see source_frames.h.
#include "preview/make/source_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace preview {

namespace fs = std::filesystem;

namespace {

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// FFmpeg's demuxer and one decoder for a stream of the wanted kind.
struct Decoding {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    bool flushing = false, done = false;

    ~Decoding() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    // Opens the file and the best stream of `type`. False with *error set when the file
    // cannot be read; true with stream -1 when it has no such stream.
    bool Open(const std::string& path, AVMediaType type, std::string* error) {
        int rc = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
        if (rc < 0) {
            *error = path + ": not a video, animation or sound FFmpeg can read (" + AvError(rc) + ")";
            return false;
        }
        rc = avformat_find_stream_info(format, nullptr);
        if (rc < 0) {
            *error = path + ": cannot read the streams (" + AvError(rc) + ")";
            return false;
        }
        const AVCodec* decoder = nullptr;
        stream = av_find_best_stream(format, type, -1, -1, &decoder, 0);
        if (stream < 0) {
            stream = -1;
            return true;
        }
        if (decoder == nullptr) {
            *error = path + ": no decoder for its " +
                     (type == AVMEDIA_TYPE_VIDEO ? "video" : "audio") + " stream";
            return false;
        }
        codec = avcodec_alloc_context3(decoder);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (!codec || !packet || !frame) {
            *error = "out of memory";
            return false;
        }
        avcodec_parameters_to_context(codec, format->streams[stream]->codecpar);
        codec->thread_count = 2;
        rc = avcodec_open2(codec, decoder, nullptr);
        if (rc < 0) {
            *error = path + ": cannot open its decoder (" + AvError(rc) + ")";
            return false;
        }
        return true;
    }

    // The next decoded frame in `frame`; false at the end (*error empty) or on an error.
    bool Next(std::string* error) {
        while (!done) {
            int rc = avcodec_receive_frame(codec, frame);
            if (rc == 0) return true;
            if (rc == AVERROR_EOF) {
                done = true;
                break;
            }
            if (rc != AVERROR(EAGAIN)) {
                *error = "the input is damaged (" + AvError(rc) + ")";
                return false;
            }
            if (flushing) {
                done = true;
                break;
            }
            rc = av_read_frame(format, packet);
            if (rc < 0) {
                flushing = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index == stream) {
                rc = avcodec_send_packet(codec, packet);
                // A damaged packet is skipped, as players do; the frames around it still come.
                (void)rc;
            }
            av_packet_unref(packet);
        }
        return false;
    }
};

// "12" in "frame-0012.png": the last run of digits in the name (without the extension).
bool FrameNumber(const std::string& stem, std::uint64_t* number) {
    std::size_t end = stem.find_last_of("0123456789");
    if (end == std::string::npos) return false;
    std::size_t begin = end;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(stem[begin - 1]))) --begin;
    if (end + 1 - begin > 18) return false;
    *number = std::stoull(stem.substr(begin, end + 1 - begin));
    return true;
}

}  // namespace

struct FrameReader::Video {
    Decoding decoding;
    SwsContext* toRgb = nullptr;
    int width = 0, height = 0, pixelFormat = -1;
    int outWidth = 0, outHeight = 0;
    double timeBase = 0;
    std::int64_t firstPts = AV_NOPTS_VALUE;
    double lastMs = -1;
    ~Video() { sws_freeContext(toRgb); }
};

FrameReader::~FrameReader() = default;

std::unique_ptr<FrameReader> FrameReader::Open(const std::string& path, double pngFps,
                                               std::string* error) {
    std::unique_ptr<FrameReader> reader(new FrameReader());
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        *error = path + ": no such file or folder";
        return nullptr;
    }
    if (fs::is_directory(status)) {
        // Numbered PNG frames, in the order of their numbers.
        std::vector<std::pair<std::uint64_t, std::string>> frames;
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
            std::uint64_t number = 0;
            if (ext != ".png" || !entry.is_regular_file()) continue;
            if (!FrameNumber(entry.path().stem().string(), &number)) {
                *error = entry.path().string() + ": a frame's name must hold its number (frame-0001.png)";
                return nullptr;
            }
            frames.emplace_back(number, entry.path().string());
        }
        if (ec) {
            *error = path + ": cannot read the folder (" + ec.message() + ")";
            return nullptr;
        }
        if (frames.empty()) {
            *error = path + ": the folder holds no PNG frames (numbered names such as frame-0001.png)";
            return nullptr;
        }
        std::sort(frames.begin(), frames.end());
        for (std::size_t i = 1; i < frames.size(); ++i) {
            if (frames[i].first == frames[i - 1].first) {
                *error = path + ": two frames have the number " + std::to_string(frames[i].first) +
                         " (" + fs::path(frames[i - 1].second).filename().string() + ", " +
                         fs::path(frames[i].second).filename().string() + ")";
                return nullptr;
            }
        }
        for (auto& f : frames) reader->pngs_.push_back(std::move(f.second));
        RgbImage first;
        std::string why;
        if (!ReadPng(reader->pngs_.front(), &first, &why)) {
            *error = why;
            return nullptr;
        }
        reader->info_.width = first.width;
        reader->info_.height = first.height;
        reader->info_.frameMs = 1000.0 / pngFps;
        reader->info_.durationMs = reader->info_.frameMs * static_cast<double>(reader->pngs_.size());
        std::ostringstream d;
        d << path << ": " << reader->pngs_.size() << " PNG frames of " << first.width << "x"
          << first.height << " at " << pngFps << " a second";
        reader->info_.description = d.str();
        return reader;
    }
    if (!fs::is_regular_file(status)) {
        *error = path + ": not a regular file";
        return nullptr;
    }
    auto video = std::make_unique<Video>();
    if (!video->decoding.Open(path, AVMEDIA_TYPE_VIDEO, error)) return nullptr;
    if (video->decoding.stream < 0) {
        *error = path + ": has no pictures (no video stream); give a video, an animation or a "
                        "folder of PNG frames";
        return nullptr;
    }
    AVFormatContext* format = video->decoding.format;
    AVStream* stream = format->streams[video->decoding.stream];
    video->timeBase = av_q2d(stream->time_base) * 1000.0;
    SourceInfo& info = reader->info_;
    info.width = video->decoding.codec->width;
    info.height = video->decoding.codec->height;
    if (info.width <= 0 || info.height <= 0) {
        *error = path + ": its video stream has no picture size";
        return nullptr;
    }
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) info.frameMs = 1000.0 / av_q2d(rate);
    if (info.frameMs < 1 || info.frameMs > 10000) info.frameMs = 40;
    if (format->duration > 0) info.durationMs = format->duration / 1000.0;
    const AVCodecID id = stream->codecpar->codec_id;
    info.variableRate = id == AV_CODEC_ID_GIF || id == AV_CODEC_ID_APNG || id == AV_CODEC_ID_WEBP;
    AVCodecContext* codec = video->decoding.codec;
    (void)codec;
    const AVCodec* audio = nullptr;
    info.hasAudio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &audio, 0) >= 0;
    std::ostringstream d;
    d.setf(std::ios::fixed);
    d.precision(1);
    d << path << ": " << info.width << "x" << info.height << ", " << 1000.0 / info.frameMs
      << " frames a second";
    if (info.durationMs > 0) d << ", " << info.durationMs / 1000.0 << " s";
    if (info.variableRate) d.str(""), d << path << ": " << info.width << "x" << info.height << ", an animation";
    if (info.variableRate && info.durationMs > 0) d << " of " << info.durationMs / 1000.0 << " s";
    d << (info.hasAudio ? ", with sound" : ", no sound");
    info.description = d.str();
    reader->video_ = std::move(video);
    return reader;
}

bool FrameReader::Next(RgbImage* image, double* ptsMs, std::string* error) {
    error->clear();
    if (!video_) {
        if (nextPng_ >= pngs_.size()) return false;
        if (!ReadPng(pngs_[nextPng_], image, error)) return false;
        if (image->width != info_.width || image->height != info_.height) {
            *error = pngs_[nextPng_] + ": " + std::to_string(image->width) + "x" +
                     std::to_string(image->height) + ", where the first frame is " +
                     std::to_string(info_.width) + "x" + std::to_string(info_.height);
            return false;
        }
        *ptsMs = info_.frameMs * static_cast<double>(nextPng_++);
        lastDurationMs_ = info_.frameMs;
        return true;
    }
    Video& v = *video_;
    if (!v.decoding.Next(error)) return false;
    AVFrame* frame = v.decoding.frame;
    const int outWidth = outWidth_ > 0 ? outWidth_ : frame->width;
    const int outHeight = outHeight_ > 0 ? outHeight_ : frame->height;
    if (!v.toRgb || frame->width != v.width || frame->height != v.height ||
        frame->format != v.pixelFormat || outWidth != v.outWidth || outHeight != v.outHeight) {
        sws_freeContext(v.toRgb);
        v.width = frame->width;
        v.height = frame->height;
        v.outWidth = outWidth;
        v.outHeight = outHeight;
        v.pixelFormat = frame->format;
        const bool same = outWidth == v.width && outHeight == v.height;
        v.toRgb = sws_getContext(v.width, v.height, static_cast<AVPixelFormat>(v.pixelFormat),
                                 outWidth, outHeight, AV_PIX_FMT_RGB24,
                                 same ? SWS_POINT : SWS_AREA, nullptr, nullptr, nullptr);
        if (!v.toRgb) {
            *error = "cannot convert the video's pixel format";
            return false;
        }
    }
    image->width = v.outWidth;
    image->height = v.outHeight;
    image->rgb.assign(static_cast<std::size_t>(v.outWidth) * v.outHeight * 3, 0);
    std::uint8_t* planes[1] = {image->rgb.data()};
    int strides[1] = {v.outWidth * 3};
    sws_scale(v.toRgb, frame->data, frame->linesize, 0, v.height, planes, strides);
    std::int64_t pts = frame->best_effort_timestamp;
    double ms;
    if (pts == AV_NOPTS_VALUE) {
        ms = v.lastMs < 0 ? 0 : v.lastMs + info_.frameMs;
    } else {
        if (v.firstPts == AV_NOPTS_VALUE) v.firstPts = pts;
        ms = static_cast<double>(pts - v.firstPts) * v.timeBase;
    }
    if (ms <= v.lastMs) ms = v.lastMs + 0.001;  // keep the order strict
    v.lastMs = ms;
    *ptsMs = ms;
    lastDurationMs_ = frame->pkt_duration > 0 ? static_cast<double>(frame->pkt_duration) * v.timeBase
                                              : info_.frameMs;
    return true;
}

ScreenFitter::ScreenFitter(int screenWidth, int screenHeight, FitMode mode,
                           std::uint32_t barColour)
    : screenWidth_(screenWidth), screenHeight_(screenHeight), mode_(mode), bar_(barColour) {}

ScreenFitter::~ScreenFitter() { sws_freeContext(scaler_); }

void ScreenFitter::ScaledSize(int sourceWidth, int sourceHeight, int* width, int* height) const {
    const double sx = static_cast<double>(screenWidth_) / sourceWidth;
    const double sy = static_cast<double>(screenHeight_) / sourceHeight;
    const double s = mode_ == FitMode::Fill ? std::max(sx, sy) : std::min(sx, sy);
    *width = std::max(1, static_cast<int>(std::lround(sourceWidth * s)));
    *height = std::max(1, static_cast<int>(std::lround(sourceHeight * s)));
    if (mode_ == FitMode::Letterbox) {
        *width = std::min(*width, screenWidth_);
        *height = std::min(*height, screenHeight_);
    }
}

RgbImage ScreenFitter::Fit(const RgbImage& source) {
    if (source.width != sourceWidth_ || source.height != sourceHeight_ || !scaler_) {
        sourceWidth_ = source.width;
        sourceHeight_ = source.height;
        ScaledSize(source.width, source.height, &scaledWidth_, &scaledHeight_);
        // Centred as the device centres a picture: the odd pixel goes to the right and bottom.
        contentWidth_ = std::min(scaledWidth_, screenWidth_);
        contentHeight_ = std::min(scaledHeight_, screenHeight_);
        left_ = (screenWidth_ - contentWidth_) / 2;
        top_ = (screenHeight_ - contentHeight_) / 2;
        sws_freeContext(scaler_);
        scaler_ = sws_getContext(source.width, source.height, AV_PIX_FMT_RGB24, scaledWidth_,
                                 scaledHeight_, AV_PIX_FMT_RGB24, SWS_AREA | SWS_ACCURATE_RND,
                                 nullptr, nullptr, nullptr);
    }
    RgbImage scaled(scaledWidth_, scaledHeight_);
    const std::uint8_t* in[1] = {source.rgb.data()};
    int inStride[1] = {source.width * 3};
    std::uint8_t* out[1] = {scaled.rgb.data()};
    int outStride[1] = {scaledWidth_ * 3};
    if (scaler_) sws_scale(scaler_, in, inStride, 0, source.height, out, outStride);
    RgbImage screen(screenWidth_, screenHeight_, (bar_ >> 16) & 0xFF, (bar_ >> 8) & 0xFF,
                    bar_ & 0xFF);
    const int cropX = (scaledWidth_ - contentWidth_) / 2, cropY = (scaledHeight_ - contentHeight_) / 2;
    for (int y = 0; y < contentHeight_; ++y) {
        std::memcpy(screen.At(left_, top_ + y), scaled.At(cropX, cropY + y),
                    static_cast<std::size_t>(contentWidth_) * 3);
    }
    return screen;
}

bool ReadSound(const std::string& path, int rate, PcmSound* sound, std::string* error) {
    error->clear();
    Decoding d;
    if (!d.Open(path, AVMEDIA_TYPE_AUDIO, error)) return false;
    if (d.stream < 0) return false;
    sound->rate = rate;
    sound->channels = std::min(2, std::max(1, d.codec->ch_layout.nb_channels));
    sound->samples.clear();
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, sound->channels);
    AVChannelLayout inLayout;
    if (d.codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || d.codec->ch_layout.nb_channels == 0) {
        av_channel_layout_default(&inLayout, std::max(1, d.codec->ch_layout.nb_channels));
    } else {
        av_channel_layout_copy(&inLayout, &d.codec->ch_layout);
    }
    SwrContext* swr = nullptr;
    int rc = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, rate, &inLayout,
                                 d.codec->sample_fmt, d.codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (rc < 0 || swr_init(swr) < 0) {
        swr_free(&swr);
        *error = path + ": cannot convert its sound";
        return false;
    }
    auto convert = [&](const std::uint8_t** in, int count) {
        const int room = swr_get_out_samples(swr, count);
        if (room <= 0) return;
        std::vector<std::int16_t> out(static_cast<std::size_t>(room) * sound->channels);
        std::uint8_t* planes[1] = {reinterpret_cast<std::uint8_t*>(out.data())};
        const int got = swr_convert(swr, planes, room, in, count);
        if (got > 0) {
            sound->samples.insert(sound->samples.end(), out.begin(),
                                  out.begin() + static_cast<std::ptrdiff_t>(got) * sound->channels);
        }
    };
    while (d.Next(error)) {
        convert(const_cast<const std::uint8_t**>(d.frame->extended_data), d.frame->nb_samples);
    }
    convert(nullptr, 0);
    swr_free(&swr);
    if (!error->empty()) {
        *error = path + ": " + *error;
        return false;
    }
    if (sound->samples.empty()) {
        *error = path + ": its sound track holds no samples";
        return false;
    }
    return true;
}

std::vector<std::uint8_t> WavBytes(const PcmSound& sound) {
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(sound.samples.size() * 2);
    std::vector<std::uint8_t> out;
    auto u32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&out](std::uint32_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto tag = [&out](const char* t) { out.insert(out.end(), t, t + 4); };
    const std::uint32_t channels = static_cast<std::uint32_t>(sound.channels);
    tag("RIFF");
    u32(36 + dataBytes);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);  // PCM
    u16(channels);
    u32(static_cast<std::uint32_t>(sound.rate));
    u32(static_cast<std::uint32_t>(sound.rate) * channels * 2);
    u16(channels * 2);
    u16(16);
    tag("data");
    u32(dataBytes);
    for (std::int16_t s : sound.samples) u16(static_cast<std::uint16_t>(s));
    return out;
}

}  // namespace preview
