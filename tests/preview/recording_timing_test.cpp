// The recordings' timing where it differs from the plain case of a sound from the show's start
// to beyond its end and a last frame that stays one pass: a sound that ends inside the clip, a
// shut-down sound that goes on after the window has closed, an end request that closes the
// window long after the last frame that the screen showed. Read back as users' tools read the
// files (FFmpeg's libraries for the clip, libwebp's demuxer for the animation, the JSON and
// the page as text), against the times the device's rules give.
#include <gtest/gtest.h>
#include <webp/mux.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "gif_builder.h"
#include "tone_wav.h"
#include "run_program.h"

namespace {

using namespace preview_test;
using Json = nlohmann::json;

struct VideoPicture {
    std::int64_t startMs, durationMs;
};

struct DecodedClip {
    std::vector<VideoPicture> pictures;
    std::vector<float> left;  // the sound's first channel, every sample
    int sampleRate = 0;
};

DecodedClip ReadClip(const std::string& path) {
    DecodedClip clip;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return clip;
    }
    avformat_find_stream_info(input, nullptr);
    const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = nullptr;
    const int audio = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    EXPECT_GE(video, 0);
    EXPECT_GE(audio, 0);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, input->streams[audio]->codecpar);
    EXPECT_EQ(avcodec_open2(decoder, codec, nullptr), 0);
    clip.sampleRate = decoder->sample_rate;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto take = [&] {
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            EXPECT_EQ(frame->format, AV_SAMPLE_FMT_FLTP);
            const float* left = reinterpret_cast<const float*>(frame->data[0]);
            clip.left.insert(clip.left.end(), left, left + frame->nb_samples);
        }
    };
    const AVRational ms{1, 1000};
    while (av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == video) {
            const AVRational tb = input->streams[video]->time_base;
            clip.pictures.push_back(
                {av_rescale_q(packet->pts, tb, ms), av_rescale_q(packet->duration, tb, ms)});
        } else if (packet->stream_index == audio) {
            avcodec_send_packet(decoder, packet);
            take();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    return clip;
}

// The duration of every frame of an animated WebP, in milliseconds.
std::vector<int> WebpDurations(const std::string& path) {
    const std::string bytes = ReadText(path);
    WebPData data{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
    WebPMux* mux = WebPMuxCreate(&data, 0);
    std::vector<int> durations;
    if (mux == nullptr) {
        ADD_FAILURE() << "not a WebP file: " << path;
        return durations;
    }
    WebPMuxFrameInfo frame;
    for (std::uint32_t n = 1; WebPMuxGetFrame(mux, n, &frame) == WEBP_MUX_OK; ++n) {
        durations.push_back(frame.duration);
        WebPDataClear(&frame.bitstream);
    }
    WebPMuxDelete(mux);
    return durations;
}

std::int64_t Ms(const Json& value) {
    return value.is_null() ? -1 : static_cast<std::int64_t>(value.get<double>());
}

TEST(RecordingTiming, TheSoundAndTheLastFrameSitInTheClipWhereTheDevicePlayedThem) {
    ScratchFolder dir;
    // A first frame of a minute: an end request closes the window while it is on the screen,
    // so the last frame the screen showed stays until the window closes, long after it came.
    dir.Write("slow.gif", GifBuilder(40, 40)
                              .Control(6000)
                              .Image(0, 0, 40, 40, 2)
                              .Control(10)
                              .Image(0, 0, 40, 40, 3)
                              .Trailer()
                              .Build());
    // Two frames of 1 s: the window closes one pass after the second comes.
    dir.Write("brief.gif", GifBuilder(40, 40)
                               .Control(100)
                               .Image(0, 0, 40, 40, 2)
                               .Control(100)
                               .Image(0, 0, 40, 40, 3)
                               .Trailer()
                               .Build());
    for (int ms : {1000, 2500, 4500, 5000}) dir.Write(std::to_string(ms) + ".wav", ToneWav(ms));

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int soundMs;
        std::size_t frames;
        std::int64_t closedMs;  // -1: one pass after the last frame
        std::int64_t endMs;     // the entry point returned; -1: when the window closed
    };
    // The window's timer ticks every 3 s and sees the end request at its next tick.
    const Case cases[] = {
        {"start-up, the sound ends inside the show",
         {"--image", "slow.gif", "--sound", "1000.wav", "--end-after", "500"}, 1000, 1, 3000,
         -1},
        {"start-up, the sound is cut where the show ends",
         {"--image", "slow.gif", "--sound", "5000.wav", "--end-after", "2999"}, 5000, 1, 3000,
         -1},
        {"shut-down, the sound goes on after an end request closed the window",
         {"--mode", "shutdown", "--image", "slow.gif", "--sound", "4500.wav", "--end-after", "0"},
         4500, 1, 3000, 4500},
        {"shut-down, the sound is longer than the animation",
         {"--mode", "shutdown", "--image", "brief.gif", "--sound", "2500.wav"}, 2500, 2, -1,
         2500},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = "out-" + std::to_string(run++);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--out", out});
        RunResult r = RunPreviewProgram(args, dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

        const Json timeline = Json::parse(ReadText(dir / (out + "/timeline.json")));
        const Json& frames = timeline["frames"];
        ASSERT_EQ(frames.size(), c.frames);
        const std::int64_t lastMs = Ms(frames.back()["composedAtMs"]);
        const std::int64_t closed = c.closedMs >= 0 ? c.closedMs : lastMs + 20;
        const std::int64_t end = c.endMs >= 0 ? c.endMs : closed;
        EXPECT_EQ(Ms(timeline["end"]["windowClosedAtMs"]), closed);
        EXPECT_EQ(Ms(timeline["end"]["returnedAtMs"]), end);
        EXPECT_EQ(Ms(timeline["sound"]["startedAtMs"]), 0);
        EXPECT_EQ(Ms(timeline["sound"]["endedAtMs"]), c.soundMs);
        const std::int64_t heardUntil = std::min<std::int64_t>(c.soundMs, end);

        // The clip: each frame until the next, the last until the window closed, then the
        // closed-window card until the show's end.
        DecodedClip clip = ReadClip(dir / (out + "/recording.mp4"));
        std::vector<std::int64_t> starts, durations;
        for (const VideoPicture& p : clip.pictures) {
            starts.push_back(p.startMs);
            durations.push_back(p.durationMs);
        }
        std::vector<std::int64_t> expectedStarts, expectedDurations;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            expectedStarts.push_back(Ms(frames[i]["composedAtMs"]));
            expectedDurations.push_back(
                (i + 1 < frames.size() ? Ms(frames[i + 1]["composedAtMs"]) : closed) -
                expectedStarts.back());
        }
        if (end > closed) {
            expectedStarts.push_back(closed);
            expectedDurations.push_back(end - closed);
        }
        EXPECT_EQ(starts, expectedStarts);
        EXPECT_EQ(durations, expectedDurations);

        // The sound to the millisecond, well within a pass: loud from its first sample to its
        // last (or the clip's end), silent after it.
        ASSERT_GT(clip.sampleRate, 0);
        const double perMs = clip.sampleRate / 1000.0;
        std::optional<std::size_t> first, last;
        for (std::size_t i = 0; i < clip.left.size(); ++i) {
            if (std::fabs(clip.left[i]) > 0.25f) {
                if (!first) first = i;
                last = i;
            }
        }
        ASSERT_TRUE(first.has_value()) << "no sound in the clip";
        EXPECT_LT(*first / perMs, 5.0);
        EXPECT_GT(*last / perMs, heardUntil - 5.0);
        EXPECT_LE(*last / perMs, heardUntil + 0.0);
        for (std::size_t i = static_cast<std::size_t>((heardUntil + 25) * perMs);
             i < clip.left.size(); ++i) {
            ASSERT_LT(std::fabs(clip.left[i]), 0.02f) << "sound at " << i / perMs << " ms";
        }
        EXPECT_GE(clip.left.size() / perMs, end - 1.0);

        // The WebP: the same frames for the same times, then the card, on which it rests at
        // least a second.
        std::vector<std::int64_t> webp;
        for (int d : WebpDurations(dir / (out + "/recording.webp"))) webp.push_back(d);
        std::vector<std::int64_t> expectedWebp(expectedDurations.begin(),
                                               expectedDurations.begin() +
                                                   static_cast<long>(frames.size()));
        expectedWebp.push_back(std::max<std::int64_t>(end - closed, 1000));
        EXPECT_EQ(webp, expectedWebp);

        // The page and the terminal say the same.
        const std::string page = ReadText(dir / (out + "/report.html"));
        const std::int64_t held = closed - lastMs;
        const std::string lastBar = "frame " + std::to_string(frames.size() - 1) + ": " +
                                    std::to_string(lastMs) + " to " + std::to_string(closed) +
                                    " ms, " + std::to_string(held / 20) +
                                    (held == 20 ? " pass<" : " passes<");
        EXPECT_NE(page.find(lastBar), std::string::npos) << lastBar;
        const std::string soundBar = "sound from 0 to " + std::to_string(heardUntil) + " ms<";
        EXPECT_NE(page.find(soundBar), std::string::npos) << soundBar;
        const std::string played = "played from 0 ms to " + std::to_string(c.soundMs) + " ms";
        EXPECT_NE(r.out.find(played), std::string::npos) << r.out;
        const std::string closedAt = "until the window closed at " + std::to_string(closed) + " ms";
        EXPECT_NE(r.out.find(closedAt), std::string::npos) << r.out;
    }
}

}  // namespace
