// What a show leaves to share, read back as its users' tools read it: the clip through FFmpeg's
// libraries (each frame's time and length, the sound where the device played it, the length of
// the show), report.html in a headless browser, and the previewer's memory on a long show.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "read_files.h"
#include "gif_builder.h"
#include "tone_wav.h"
#include "preview/image_files.h"
#include "preview/json.h"
#include "run_program.h"

namespace preview {
namespace {

using namespace preview_test;

const std::string kSampleGif = std::string(PREVIEW_SAMPLES_DIR) + "/boot.gif";

Json ReadJson(const std::string& path) {
    Json doc;
    std::string error;
    EXPECT_TRUE(ParseJson(ReadText(path), &doc, &error)) << path << ": " << error;
    return doc;
}

struct Clip {
    std::vector<std::int64_t> videoStartMs;
    std::int64_t videoEndMs = 0;
    std::vector<double> rms;  // of the sound, per 20 ms
    double durationS = 0;
};

// Reads a clip with FFmpeg's libraries: video packet times and the sound's level per 20 ms.
Clip ReadClip(const std::string& path) {
    Clip clip;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return clip;
    }
    avformat_find_stream_info(input, nullptr);
    clip.durationS = input->duration / static_cast<double>(AV_TIME_BASE);
    const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = nullptr;
    const int audio = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    EXPECT_GE(video, 0);
    EXPECT_GE(audio, 0);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, input->streams[audio]->codecpar);
    EXPECT_EQ(avcodec_open2(decoder, codec, nullptr), 0);
    const int perWindow = decoder->sample_rate / 50;
    double sum = 0;
    int count = 0;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto take = [&] {
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            EXPECT_EQ(frame->format, AV_SAMPLE_FMT_FLTP);
            const float* left = reinterpret_cast<const float*>(frame->data[0]);
            for (int i = 0; i < frame->nb_samples; ++i) {
                sum += left[i] * left[i];
                if (++count == perWindow) {
                    clip.rms.push_back(std::sqrt(sum / count));
                    sum = 0;
                    count = 0;
                }
            }
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == video) {
            const AVRational ms{1, 1000};
            const AVRational tb = input->streams[video]->time_base;
            clip.videoStartMs.push_back(av_rescale_q(packet->pts, tb, ms));
            clip.videoEndMs = av_rescale_q(packet->pts + packet->duration, tb, ms);
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
std::vector<std::int64_t> WebpDurations(const std::string& path) {
    const std::string bytes = ReadText(path);
    std::vector<std::int64_t> durations;
    auto byte = [&bytes](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::size_t size = byte(at + 4) | byte(at + 5) << 8 | byte(at + 6) << 16 |
                                 static_cast<std::size_t>(byte(at + 7)) << 24;
        if (bytes.compare(at, 4, "ANMF") == 0 && at + 8 + 15 <= bytes.size()) {
            durations.push_back(byte(at + 8 + 12) | byte(at + 8 + 13) << 8 |
                                byte(at + 8 + 14) << 16);
        }
        at += 8 + size + (size & 1);
    }
    return durations;
}

TEST(Recording, TheClipHoldsEachFrameAsLongAsTheScreenAndTheSoundAsTheDevicePlaysIt) {
    ScratchFolder dir;
    // Both shows with a sound longer than the picture: the start-up clip ends with the show,
    // the shut-down clip goes on with the sound after the window has closed. Then a start-up
    // show whose sound ends early: silence after it.
    dir.Write("long.wav", ToneWav(6000));
    dir.Write("short.wav", ToneWav(1000));
    RunResult both = RunPreviewProgram(
        {"--mode", "both", "--image", kSampleGif, "--sound", "long.wav", "--out", "both"},
        dir.path());
    ASSERT_EQ(both.exitCode, 0) << both.out << both.err;
    EXPECT_NE(both.out.find("start-up show:\n"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find("only the sound went on, until 6000 ms"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "both/report.html"));
    RunResult shortSound = RunPreviewProgram(
        {"--image", kSampleGif, "--sound", "short.wav", "--out", "short"}, dir.path());
    ASSERT_EQ(shortSound.exitCode, 0) << shortSound.out << shortSound.err;
    // A WAV that the device plays but FFmpeg's reader refuses: an odd-sized chunk before the
    // data whose pad byte was left out. The clip has its sound all the same.
    std::vector<std::uint8_t> odd = ToneWav(1000);
    const std::uint8_t list[] = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c'};
    odd.insert(odd.begin() + 36, std::begin(list), std::end(list));
    const std::uint32_t riff = static_cast<std::uint32_t>(odd.size() - 8);
    for (int i = 0; i < 4; ++i) odd[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
    dir.Write("odd.wav", odd);
    RunResult oddSound = RunPreviewProgram(
        {"--image", kSampleGif, "--sound", "odd.wav", "--out", "odd"}, dir.path());
    ASSERT_EQ(oddSound.exitCode, 0) << oddSound.out << oddSound.err;
    EXPECT_EQ(oddSound.out.find("silent"), std::string::npos) << oddSound.out;

    struct Case {
        const char* folder;
        std::int64_t soundMs;
    };
    for (const Case c :
         {Case{"both/startup", 6000}, Case{"both/shutdown", 6000}, Case{"short", 1000},
          Case{"odd", 1000}}) {
        SCOPED_TRACE(c.folder);
        Json timeline = ReadJson(dir / (std::string(c.folder) + "/timeline.json"));
        const bool shutdown = timeline["mode"] == "shutdown";
        const auto closed =
            static_cast<std::int64_t>(timeline["end"]["windowClosedAtMs"].get<double>());
        const auto end = static_cast<std::int64_t>(timeline["end"]["returnedAtMs"].get<double>());
        ASSERT_EQ(end, shutdown ? std::max(closed, c.soundMs) : closed);

        Clip clip = ReadClip(dir / (std::string(c.folder) + "/recording.mp4"));
        // Each frame at its time; after the window closed, the card until the show's end.
        std::vector<std::int64_t> expected;
        for (const Json& f : timeline["frames"]) {
            expected.push_back(static_cast<std::int64_t>(f["composedAtMs"].get<double>()));
        }
        if (end > closed) expected.push_back(closed);
        EXPECT_EQ(clip.videoStartMs, expected);
        EXPECT_EQ(clip.videoEndMs, end);
        EXPECT_NEAR(clip.durationS, end / 1000.0, 0.025);

        // The WebP: the same frames for the same times, then the closed-window card, on
        // which it rests (at least a second of it).
        std::vector<std::int64_t> durations =
            WebpDurations(dir / (std::string(c.folder) + "/recording.webp"));
        ASSERT_EQ(durations.size(), timeline["frames"].size() + 1);
        for (std::size_t i = 0; i + 1 < timeline["frames"].size(); ++i) {
            EXPECT_EQ(durations[i], expected[i + 1] - expected[i]) << "frame " << i;
        }
        EXPECT_EQ(durations[durations.size() - 2],
                  closed - expected[timeline["frames"].size() - 1]);
        EXPECT_EQ(durations.back(), std::max<std::int64_t>(end - closed, 1000));

        // The sound from 0 to its end or the show's, silence after it (the windows at the
        // edges are left out).
        ASSERT_GE(clip.rms.size(), static_cast<std::size_t>(end / 20 - 1));
        const std::int64_t heard = std::min(c.soundMs, end);
        for (std::size_t w = 0; w < clip.rms.size(); ++w) {
            const std::int64_t from = static_cast<std::int64_t>(w) * 20;
            if (from >= 40 && from + 20 <= heard - 40) {
                EXPECT_GT(clip.rms[w], 0.15) << "at " << from << " ms";
            } else if (from >= heard + 40) {
                EXPECT_LT(clip.rms[w], 0.01) << "at " << from << " ms";
            }
        }
    }
}

std::string Browser() {
    const char* env = std::getenv("BOOTREEL_CHROMIUM");
    return env && *env ? env : "chromium";
}

// Runs headless Chromium on a page from disk; returns its standard output.
std::string RunBrowser(const ScratchFolder& dir, const std::string& arguments,
                       const std::string& page) {
    const std::string command = Quote(Browser()) +
                                " --headless=new --no-sandbox --disable-gpu --hide-scrollbars " +
                                "--user-data-dir=" + Quote(dir / "browser-profile") + " " +
                                arguments + " " + Quote("file://" + page) + " 2>/dev/null";
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(Report, OpensFromDiskInABrowserWithTheRecordingTheTimelineAndTheWarnings) {
    ScratchFolder dir;
    // A loop extension and frames of delay 0: two warnings.
    dir.Write("warned.gif", GifBuilder(240, 320)
                                .Loop(0)
                                .Control(50)
                                .Image(0, 0, 240, 320, 1)
                                .Control(0)
                                .Image(20, 20, 100, 100, 2)
                                .Control(30)
                                .Image(60, 60, 100, 100, 3)
                                .Trailer()
                                .Build());
    dir.Write("tone.wav", ToneWav(500));
    RunResult r = RunPreviewProgram({"--image", "warned.gif", "--sound", "tone.wav"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    Json timeline = ReadJson(dir / "preview/timeline.json");
    const std::size_t frames = timeline["frames"].size();
    const std::size_t warnings = timeline["warnings"].size();
    ASSERT_EQ(frames, 3u);
    ASSERT_GE(warnings, 2u);
    const std::string page = dir / "preview/report.html";

    // The page as the browser built it, after its script has read the recording.
    const std::string dom = RunBrowser(dir, "--virtual-time-budget=10000 --dump-dom", page);
    ASSERT_NE(dom.find("</html>"), std::string::npos) << "no page from " << Browser();
    EXPECT_EQ(Count(dom, "class=\"frame-bar\""), frames);
    EXPECT_EQ(Count(dom, "class=\"warning\""), warnings);
    EXPECT_EQ(Count(dom, "class=\"sound-bar\""), 1u);
    const std::string duration =
        "data-duration-ms=\"" +
        std::to_string(static_cast<int>(timeline["end"]["returnedAtMs"].get<double>())) + "\"";
    EXPECT_NE(dom.find(duration), std::string::npos) << "the browser did not play the recording";

    // What it looks like: the frames' bars are drawn in their two blues.
    RunBrowser(dir, "--window-size=1200,1000 --screenshot=" + Quote(dir / "report.png"), page);
    RgbImage shot;
    std::string error;
    ASSERT_TRUE(ReadPng(dir / "report.png", &shot, &error)) << error;
    int bars = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const std::uint8_t* p = shot.At(x, y);
            bars += (p[0] == 0x2f && p[1] == 0x6f && p[2] == 0xc8) ||
                    (p[0] == 0x7a && p[1] == 0xa7 && p[2] == 0xe6);
        }
    }
    EXPECT_GT(bars, 2000);
}

// Peak resident memory of the previewer on a show of `frames` distinct screens of 320x480,
// read from its own resource usage when it ends.
long PeakKilobytes(const ScratchFolder& dir, int frames) {
    GifBuilder gif(320, 480);
    gif.Control(2).Image(0, 0, 320, 480, 0);
    for (int i = 1; i < frames; ++i) {
        gif.Control(2).Image((i * 8) % 312, (i * 8 / 312 * 8) % 472, 8, 8, 1 + i % 3);
    }
    const std::string name = "many-" + std::to_string(frames);
    dir.Write(name + ".gif", gif.Trailer().Build());
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const std::string gifName = name + ".gif";
        ::execl(PREVIEW_EXE, PREVIEW_EXE, "--image", gifName.c_str(), "--screen", "320x480",
                "--out", name.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    EXPECT_EQ(::wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name;
    return usage.ru_maxrss;
}

TEST(Recording, ALongIdleShowIsRecordedWholeWithItsSoundThenSilence) {
    // Three frames of 300 s with a 1 s sound: the run's work follows the frames and the sound
    // (the silent stretch is written as copies of one silent packet), and the clip still holds
    // the whole show.
    ScratchFolder dir;
    GifBuilder gif(24, 32);
    for (int i = 0; i < 3; ++i) gif.Control(30000).Image(0, 0, 24, 32, 1 + i % 2);
    dir.Write("long.gif", gif.Trailer().Build());
    dir.Write("tone.wav", ToneWav(1000));
    RunResult r = RunPreviewProgram(
        {"--image", "long.gif", "--sound", "tone.wav", "--out", "long"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("warning: The animation lasts 10 min"), std::string::npos) << r.out;
    Json timeline = ReadJson(dir / "long/timeline.json");
    ASSERT_EQ(timeline["frames"].size(), 3u);
    const auto end = static_cast<std::int64_t>(timeline["end"]["returnedAtMs"].get<double>());
    EXPECT_GT(end, 600000);
    Clip clip = ReadClip(dir / "long/recording.mp4");
    EXPECT_NEAR(clip.durationS, end / 1000.0, 0.025);
    ASSERT_GE(clip.rms.size(), static_cast<std::size_t>(end / 20 - 1));
    for (std::size_t w = 2; w < 48; ++w) EXPECT_GT(clip.rms[w], 0.15) << "at " << w * 20 << " ms";
    double loudest = 0;
    for (std::size_t w = 52; w < clip.rms.size(); ++w) loudest = std::max(loudest, clip.rms[w]);
    EXPECT_LT(loudest, 0.01);
}

TEST(Recording, ThePreviewersMemoryDoesNotGrowWithTheShow) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own bookkeeping swamps the previewer's memory";
#endif
    ScratchFolder dir;
    const long small = PeakKilobytes(dir, 30);
    const long large = PeakKilobytes(dir, 230);
    std::printf("peak resident memory: %ld KiB for 30 frames, %ld KiB for 230\n", small, large);
    // Holding the screens would take 200 x 450 KiB more; the thumbnails and the compressed
    // recordings take a few MiB.
    EXPECT_LT(large - small, 40 * 1024)
        << small << " KiB for 30 frames, " << large << " KiB for 230";
    EXPECT_TRUE(fs::exists(dir / "many-230/frame-0229.png"));
}

}  // namespace
}  // namespace preview
