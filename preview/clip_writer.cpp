// The MP4 clip; see clip_writer.h.
#include "preview/clip_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace preview {

namespace {

constexpr int kSamplesPerMs = kClipSampleRate / 1000;
constexpr int kChannels = 2;
// The sound track's envelope for the report has about this many stretches.
constexpr std::uint64_t kPeakBuckets = 2000;

// A failure of the file system rather than of the encoders.
bool IsDiskError(int code) {
    for (int e : {ENOSPC, EDQUOT, EFBIG, EIO, EROFS, EACCES, EPERM, ENOENT}) {
        if (code == AVERROR(e)) return true;
    }
    return false;
}

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Reads WAV bytes held in memory (the device's default sound has no file).
struct MemoryReader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t position = 0;

    static int Read(void* opaque, std::uint8_t* buffer, int size) {
        auto* r = static_cast<MemoryReader*>(opaque);
        const std::size_t left = r->bytes->size() - r->position;
        const std::size_t n = std::min<std::size_t>(left, static_cast<std::size_t>(size));
        if (n == 0) return AVERROR_EOF;
        std::memcpy(buffer, r->bytes->data() + r->position, n);
        r->position += n;
        return static_cast<int>(n);
    }
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
        auto* r = static_cast<MemoryReader*>(opaque);
        const auto size = static_cast<std::int64_t>(r->bytes->size());
        if (whence == AVSEEK_SIZE) return size;
        std::int64_t to = offset;
        if ((whence & 3) == SEEK_CUR) to += static_cast<std::int64_t>(r->position);
        if ((whence & 3) == SEEK_END) to += size;
        if (to < 0 || to > size) return -1;
        r->position = static_cast<std::size_t>(to);
        return to;
    }
};

}  // namespace

struct ClipWriter::State {
    std::string path;
    bool opened = false;
    bool finished = false;
    int width = 0, height = 0;            // the screen
    int videoWidth = 0, videoHeight = 0;  // padded to even sides
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    std::vector<std::uint8_t> padded;
    std::map<std::int64_t, std::int64_t> durations;  // pts -> duration of pictures in flight

    AVAudioFifo* fifo = nullptr;
    AVFrame* samples = nullptr;
    std::int64_t samplesEncoded = 0;
    std::int64_t samplesQueued = 0;
    std::vector<float> peaks;
    std::uint32_t bucketMs = 20;
    std::vector<std::string> notes;
    bool diskFailed = false;

    // The message of a failed write to the file.
    std::string WriteFailed(const std::string& what, int code) {
        diskFailed = IsDiskError(code);
        return what + path + ": " + AvError(code);
    }

    ~State() {
        if (fifo) av_audio_fifo_free(fifo);
        av_frame_free(&samples);
        av_frame_free(&picture);
        av_packet_free(&packet);
        sws_freeContext(scaler);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    // Moves every packet the encoder has ready into the file.
    bool Drain(AVCodecContext* codec, AVStream* stream, std::string* error) {
        for (;;) {
            int r = avcodec_receive_packet(codec, packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) {
                *error = "encoding " + path + " failed: " + AvError(r);
                return false;
            }
            if (codec == video) {
                auto it = durations.find(packet->pts);
                if (it != durations.end()) {
                    packet->duration = it->second;
                    durations.erase(it);
                }
            }
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            // The video is written as it comes and the sound after it, so the packets go
            // straight to the file rather than through the interleaving queue (which would hold
            // every video packet until the sound arrives).
            r = av_write_frame(format, packet);
            av_packet_unref(packet);
            if (r < 0) {
                *error = WriteFailed("cannot write ", r);
                return false;
            }
        }
    }

    bool EncodeSamples(AVFrame* frame, std::string* error) {
        const int r = avcodec_send_frame(audio, frame);
        if (r < 0) {
            *error = "encoding the sound of " + path + " failed: " + AvError(r);
            return false;
        }
        return Drain(audio, audioStream, error);
    }

    // Encodes whole frames from the queue; with `last`, also what is left.
    bool EncodeQueued(bool last, std::string* error) {
        const int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
        while (av_audio_fifo_size(fifo) >= frameSize || (last && av_audio_fifo_size(fifo) > 0)) {
            const int n = std::min(frameSize, av_audio_fifo_size(fifo));
            av_frame_unref(samples);
            samples->nb_samples = n;
            samples->format = audio->sample_fmt;
            samples->sample_rate = audio->sample_rate;
            av_channel_layout_copy(&samples->ch_layout, &audio->ch_layout);
            if (av_frame_get_buffer(samples, 0) < 0 ||
                av_audio_fifo_read(fifo, reinterpret_cast<void**>(samples->data), n) != n) {
                *error = "out of memory encoding the sound of " + path;
                return false;
            }
            samples->pts = samplesEncoded;
            samplesEncoded += n;
            if (!EncodeSamples(samples, error)) return false;
        }
        return true;
    }

    // Queues planar samples for the track, noting their peaks.
    bool Queue(float** planes, int count, std::string* error) {
        const std::int64_t bucketSamples = static_cast<std::int64_t>(bucketMs) * kSamplesPerMs;
        for (int i = 0; i < count; ++i) {
            float peak = 0;
            for (int c = 0; c < kChannels; ++c) peak = std::max(peak, std::fabs(planes[c][i]));
            const auto bucket = static_cast<std::size_t>((samplesQueued + i) / bucketSamples);
            if (bucket < peaks.size())
                peaks[bucket] = std::max(peaks[bucket], std::min(peak, 1.0f));
        }
        if (av_audio_fifo_write(fifo, reinterpret_cast<void**>(planes), count) != count) {
            *error = "out of memory encoding the sound of " + path;
            return false;
        }
        samplesQueued += count;
        return EncodeQueued(false, error);
    }

    bool QueueSilence(std::int64_t count, std::string* error) {
        static std::vector<float> zeros(4096, 0.0f);
        float* planes[kChannels] = {zeros.data(), zeros.data()};
        while (count > 0) {
            const int n = static_cast<int>(std::min<std::int64_t>(count, 4096));
            if (!Queue(planes, n, error)) return false;
            count -= n;
        }
        return true;
    }

    // Decodes one sound and queues its samples from the current position up to `until`
    // (samples of the track); a sound that ends early is followed by silence.
    bool QueueSound(const SoundPlacement& sound, std::int64_t until, std::string* error);
};

bool ClipWriter::State::QueueSound(const SoundPlacement& sound, std::int64_t until,
                                   std::string* error) {
    const std::string name = sound.hostPath.empty() ? "the device's default sound" : sound.hostPath;
    AVFormatContext* input = avformat_alloc_context();
    MemoryReader reader{sound.wav};
    AVIOContext* io = nullptr;
    if (sound.hostPath.empty()) {
        if (!sound.wav) return QueueSilence(until - samplesQueued, error);
        auto* buffer = static_cast<std::uint8_t*>(av_malloc(4096));
        io = avio_alloc_context(buffer, 4096, 0, &reader, MemoryReader::Read, nullptr,
                                MemoryReader::Seek);
        input->pb = io;
    }
    AVCodecContext* decoder = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* decoded = av_frame_alloc();
    std::vector<float> out[kChannels];
    auto cleanUp = [&] {
        av_frame_free(&decoded);
        av_packet_free(&packet);
        swr_free(&resampler);
        avcodec_free_context(&decoder);
        avformat_close_input(&input);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    };
    // A sound that cannot be read leaves silence in its place and a note: the clip is still
    // worth having, and everything else of the preview is.
    auto fail = [&](const std::string& why) {
        notes.push_back("recording.mp4 is silent where the device played " + name + ": " + why);
        cleanUp();
        return QueueSilence(until - samplesQueued, error);
    };
    int r = avformat_open_input(&input, sound.hostPath.empty() ? nullptr : sound.hostPath.c_str(),
                                nullptr, nullptr);
    if (r < 0) {
        input = nullptr;  // freed by the failed open
        return fail(AvError(r));
    }
    if ((r = avformat_find_stream_info(input, nullptr)) < 0) return fail(AvError(r));
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0 || !codec) return fail("no sound in it that FFmpeg can decode");
    decoder = avcodec_alloc_context3(codec);
    if (!decoder || avcodec_parameters_to_context(decoder, input->streams[stream]->codecpar) < 0 ||
        (r = avcodec_open2(decoder, codec, nullptr)) < 0) {
        return fail("cannot open its decoder");
    }
    AVChannelLayout inLayout{};
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&inLayout, decoder->ch_layout.nb_channels);
    } else {
        av_channel_layout_copy(&inLayout, &decoder->ch_layout);
    }
    r = swr_alloc_set_opts2(&resampler, &audio->ch_layout, AV_SAMPLE_FMT_FLTP, kClipSampleRate,
                            &inLayout, decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    // A mono sound plays at full level on both sides, as on the device's speaker.
    if (r >= 0) av_opt_set_double(resampler, "center_mix_level", 1.0, 0);
    if (r < 0 || (r = swr_init(resampler)) < 0) return fail("cannot convert its samples");

    // Converts what the resampler gives for `frame` (null: what it still holds) and queues
    // it up to `until`.
    auto convert = [&](const AVFrame* frame) {
        const int inCount = frame ? frame->nb_samples : 0;
        const int room = swr_get_out_samples(resampler, inCount);
        if (room <= 0) return true;
        for (auto& o : out) o.resize(static_cast<std::size_t>(room));
        std::uint8_t* planes[kChannels] = {reinterpret_cast<std::uint8_t*>(out[0].data()),
                                           reinterpret_cast<std::uint8_t*>(out[1].data())};
        const int n = swr_convert(
            resampler, planes, room,
            frame ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr, inCount);
        if (n < 0) return false;
        const int keep = static_cast<int>(
            std::max<std::int64_t>(0, std::min<std::int64_t>(n, until - samplesQueued)));
        float* queued[kChannels] = {out[0].data(), out[1].data()};
        return keep == 0 || Queue(queued, keep, error);
    };
    bool ok = true;
    while (ok && samplesQueued < until && av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(decoder, packet) >= 0) {
            while (ok && avcodec_receive_frame(decoder, decoded) >= 0) {
                ok = convert(decoded);
                av_frame_unref(decoded);
            }
        }
        av_packet_unref(packet);
    }
    if (ok && samplesQueued < until) {
        avcodec_send_packet(decoder, nullptr);
        while (ok && avcodec_receive_frame(decoder, decoded) >= 0) {
            ok = convert(decoded);
            av_frame_unref(decoded);
        }
        if (ok) ok = convert(nullptr);
    }
    if (!ok) {
        if (!error->empty()) {  // the clip itself failed
            cleanUp();
            return false;
        }
        return fail("its samples cannot be converted");
    }
    cleanUp();
    return QueueSilence(until - samplesQueued, error);
}

ClipWriter::ClipWriter() : state_(std::make_unique<State>()) {}

ClipWriter::~ClipWriter() {
    if (state_->opened && !state_->finished) {
        const std::string path = state_->path;
        state_.reset();
        std::remove(path.c_str());
    }
}

const std::vector<float>& ClipWriter::Peaks() const {
    return state_->peaks;
}
const std::vector<std::string>& ClipWriter::Notes() const {
    return state_->notes;
}
std::uint32_t ClipWriter::PeakBucketMs() const {
    return state_->bucketMs;
}
bool ClipWriter::FailedOnDisk() const {
    return state_->diskFailed;
}
bool ClipWriter::Made() const {
    return state_->finished;
}

void ClipWriter::Abandon(const std::string& reason) {
    const std::string path = state_->path;
    const bool opened = state_->opened;
    std::vector<std::string> notes = std::move(state_->notes);
    state_ = std::make_unique<State>();
    if (opened) std::remove(path.c_str());
    // Named as the user sees it: the file's name, not the folder it was being made in.
    std::string why = reason;
    const std::string name = path.substr(path.find_last_of('/') + 1);
    for (std::size_t at; !path.empty() && (at = why.find(path)) != std::string::npos;) {
        why.replace(at, path.size(), name);
    }
    notes.push_back("there is no " + name + ": it could not be made (" + why +
                    "); the other files are written without it");
    state_->notes = std::move(notes);
}

bool ClipWriter::Open(const std::string& path, int width, int height, std::string* error) {
    State& s = *state_;
    s.path = path;
    s.width = width;
    s.height = height;
    s.videoWidth = width + (width & 1);
    s.videoHeight = height + (height & 1);
    // The encoders' notes on their settings are no news to the user; errors still show.
    av_log_set_level(AV_LOG_ERROR);

    int r = avformat_alloc_output_context2(&s.format, nullptr, "mp4", path.c_str());
    if (r < 0 || !s.format) {
        *error = "cannot make " + path + ": this FFmpeg has no MP4 writer";
        return false;
    }
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264) h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!h264 || !aac) {
        *error = std::string("cannot make ") + path + ": this FFmpeg has no " +
                 (h264 ? "AAC" : "H.264") + " encoder";
        return false;
    }
    s.video = avcodec_alloc_context3(h264);
    s.audio = avcodec_alloc_context3(aac);
    s.packet = av_packet_alloc();
    s.picture = av_frame_alloc();
    s.samples = av_frame_alloc();
    if (!s.video || !s.audio || !s.packet || !s.picture || !s.samples) {
        *error = "out of memory starting " + path;
        return false;
    }

    // Millisecond timestamps: each picture lasts exactly as long as it was on the screen.
    s.video->width = s.videoWidth;
    s.video->height = s.videoHeight;
    s.video->pix_fmt = AV_PIX_FMT_YUV420P;
    s.video->time_base = AVRational{1, 1000};
    s.video->framerate = AVRational{50, 1};  // the device's passes; a hint for rate control
    s.video->max_b_frames = 0;               // presentation order is decoding order
    s.video->gop_size = 250;
    s.video->colorspace = AVCOL_SPC_SMPTE170M;
    s.video->color_range = AVCOL_RANGE_MPEG;
    s.video->thread_count = 2;
    av_opt_set(s.video->priv_data, "preset", "veryfast", 0);
    av_opt_set(s.video->priv_data, "crf", "16", 0);

    s.audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    s.audio->sample_rate = kClipSampleRate;
    av_channel_layout_default(&s.audio->ch_layout, kChannels);
    s.audio->bit_rate = 128000;
    s.audio->time_base = AVRational{1, kClipSampleRate};
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER) {
        s.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        s.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if ((r = avcodec_open2(s.video, h264, nullptr)) < 0 ||
        (r = avcodec_open2(s.audio, aac, nullptr)) < 0) {
        *error = "cannot start the encoders for " + path + ": " + AvError(r);
        return false;
    }
    s.videoStream = avformat_new_stream(s.format, nullptr);
    s.audioStream = avformat_new_stream(s.format, nullptr);
    if (!s.videoStream || !s.audioStream ||
        avcodec_parameters_from_context(s.videoStream->codecpar, s.video) < 0 ||
        avcodec_parameters_from_context(s.audioStream->codecpar, s.audio) < 0) {
        *error = "out of memory starting " + path;
        return false;
    }
    s.videoStream->time_base = s.video->time_base;
    s.audioStream->time_base = s.audio->time_base;

    s.scaler =
        sws_getContext(s.videoWidth, s.videoHeight, AV_PIX_FMT_RGB24, s.videoWidth, s.videoHeight,
                       AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    s.picture->format = AV_PIX_FMT_YUV420P;
    s.picture->width = s.videoWidth;
    s.picture->height = s.videoHeight;
    s.fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, kChannels, 4096);
    if (!s.scaler || !s.fifo || av_frame_get_buffer(s.picture, 0) < 0) {
        *error = "out of memory starting " + path;
        return false;
    }

    if ((r = avio_open(&s.format->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
        *error = s.WriteFailed("cannot create ", r);
        return false;
    }
    s.opened = true;
    AVDictionary* options = nullptr;
    // The index goes to the front, so that a page can start playing before it has it all.
    av_dict_set(&options, "movflags", "+faststart", 0);
    r = avformat_write_header(s.format, &options);
    av_dict_free(&options);
    if (r < 0) {
        *error = s.WriteFailed("cannot write ", r);
        return false;
    }
    return true;
}

bool ClipWriter::AddPicture(const RgbImage& picture, std::uint64_t startMs,
                            std::uint64_t durationMs, std::string* error) {
    State& s = *state_;
    if (!s.opened || picture.width != s.width || picture.height != s.height) {
        *error = "internal error: a picture that does not fit " + s.path;
        return false;
    }
    const std::uint8_t* rgb = picture.rgb.data();
    int stride = s.width * 3;
    if (s.videoWidth != s.width || s.videoHeight != s.height) {
        // Pad odd sides with black.
        stride = s.videoWidth * 3;
        s.padded.assign(static_cast<std::size_t>(stride) * s.videoHeight, 0);
        for (int y = 0; y < s.height; ++y) {
            std::memcpy(&s.padded[static_cast<std::size_t>(y) * stride], picture.At(0, y),
                        static_cast<std::size_t>(s.width) * 3);
        }
        rgb = s.padded.data();
    }
    if (av_frame_make_writable(s.picture) < 0) {
        *error = "out of memory encoding " + s.path;
        return false;
    }
    const std::uint8_t* planes[1] = {rgb};
    const int strides[1] = {stride};
    sws_scale(s.scaler, planes, strides, 0, s.videoHeight, s.picture->data, s.picture->linesize);
    s.picture->pts = static_cast<std::int64_t>(startMs);
    s.durations[s.picture->pts] = static_cast<std::int64_t>(std::max<std::uint64_t>(durationMs, 1));
    const int r = avcodec_send_frame(s.video, s.picture);
    if (r < 0) {
        *error = "encoding " + s.path + " failed: " + AvError(r);
        return false;
    }
    return s.Drain(s.video, s.videoStream, error);
}

bool ClipWriter::Finish(const std::vector<SoundPlacement>& sounds, std::uint64_t endMs,
                        std::string* error) {
    State& s = *state_;
    if (!s.opened) {
        *error = "internal error: " + s.path + " was not opened";
        return false;
    }
    int r = avcodec_send_frame(s.video, nullptr);
    if (r < 0 || !s.Drain(s.video, s.videoStream, error)) {
        if (error->empty()) *error = "encoding " + s.path + " failed: " + AvError(r);
        return false;
    }

    // Envelope stretches on the device's 20 ms grid.
    s.bucketMs = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(20, (endMs / kPeakBuckets + 19) / 20 * 20));
    s.peaks.assign(static_cast<std::size_t>(endMs / s.bucketMs + 1), 0.0f);
    const std::int64_t total = static_cast<std::int64_t>(endMs) * kSamplesPerMs;
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        const SoundPlacement& sound = sounds[i];
        std::uint64_t until = std::min(sound.endMs, endMs);
        if (i + 1 < sounds.size()) until = std::min(until, sounds[i + 1].startMs);
        const std::int64_t from = static_cast<std::int64_t>(sound.startMs) * kSamplesPerMs;
        const std::int64_t to = static_cast<std::int64_t>(until) * kSamplesPerMs;
        if (to <= from || from < s.samplesQueued) continue;
        if (!s.QueueSilence(from - s.samplesQueued, error) || !s.QueueSound(sound, to, error)) {
            return false;
        }
    }
    if (!s.QueueSilence(total - s.samplesQueued, error) || !s.EncodeQueued(true, error) ||
        !s.EncodeSamples(nullptr, error)) {
        return false;
    }
    if ((r = av_write_trailer(s.format)) < 0) {
        *error = s.WriteFailed("cannot complete ", r);
        return false;
    }
    if ((r = avio_closep(&s.format->pb)) < 0) {
        *error = s.WriteFailed("cannot write ", r);
        return false;
    }
    s.finished = true;
    return true;
}

}  // namespace preview
