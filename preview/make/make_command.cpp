// See make_command.h.
#include "preview/make/make_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#include "preview/app.h"
#include "preview/make/device_check.h"
#include "preview/make/gif_maker.h"
#include "preview/options.h"
#include "preview/output_folder.h"
#include "preview/progress.h"
#include "preview/sound_report.h"

namespace preview {

namespace {

const char kProgram[] = "bootreel-preview make";
// The slowest frame rate `make` goes down to before it says the show cannot fit.
constexpr std::uint32_t kSlowestFrameMs = 200;

int Fail(int code, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return code;
}

std::string Seconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

std::string Bytes(std::uint64_t bytes) {
    char text[32];
    if (bytes >= (1u << 20)) {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    } else if (bytes >= 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    }
    return text;
}

bool WriteFile(const std::string& path, const void* data, std::size_t size, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(data, 1, size, f) == size;
    const int saved = errno;
    if (std::fclose(f) != 0 || !ok) {
        *error = "cannot write " + path + ": " + std::strerror(ok ? errno : saved);
        return false;
    }
    return true;
}

// A device folder such as \Storage or \Windows\Boot: absolute, with names the device's file
// system holds.
bool ValidDeviceDir(const std::string& dir) {
    if (dir.empty() || dir[0] != '\\' || dir.size() > 200) return false;
    for (std::size_t i = 0; i < dir.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(dir[i]);
        if (c < 32 || std::strchr("/:*?\"<>|", c)) return false;
        if (c == '\\' && i + 1 < dir.size() && dir[i + 1] == '\\') return false;
    }
    return true;
}

std::string RegString(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// One try at the picture: the frames sampled every frameMs, made into a GIF and checked.
struct Attempt {
    std::uint32_t frameMs = 0;
    int threshold = 0;
    std::vector<std::uint8_t> gif;
    std::size_t frames = 0;
    double sourceMs = 0;
    DeviceCheck check;
};

bool MakeAttempt(const MakeOptions& o, std::uint32_t frameMs, int threshold, Attempt* attempt,
                 std::string* error) {
    std::unique_ptr<FrameReader> reader = FrameReader::Open(o.input, o.pngFps, error);
    if (!reader) return false;
    const SourceInfo& info = reader->Info();
    ScreenFitter fitter(o.screenWidth, o.screenHeight, o.fit, o.background);
    int scaledWidth = 0, scaledHeight = 0;
    fitter.ScaledSize(info.width, info.height, &scaledWidth, &scaledHeight);
    reader->SetOutputSize(scaledWidth, scaledHeight);
    MakerSettings settings;
    settings.threshold = threshold;
    settings.dither = o.dither;
    settings.maxColours = o.colours;
    GifMaker maker(o.screenWidth, o.screenHeight, settings);
    ProgressLine progress;

    RgbImage current, next, fitted;
    double currentMs = 0, nextMs = 0;
    if (!reader->Next(&current, &currentMs, error)) {
        if (error->empty()) *error = o.input + ": holds no frames";
        return false;
    }
    double currentDurationMs = reader->LastDurationMs();
    currentMs = 0;  // the show starts with the first picture
    bool haveNext = reader->Next(&next, &nextMs, error);
    double nextDurationMs = reader->LastDurationMs();
    if (!error->empty()) return false;
    bool fittedCurrent = false;
    for (std::uint64_t i = 0;; ++i) {
        // Frame i reaches the screen at i * frameMs + one pass (the device holds the first
        // frame one pass longer while its clock starts): it shows the source frame due then.
        const double t = i == 0 ? 0.0 : static_cast<double>(i) * frameMs + kPassMs;
        while (haveNext && nextMs <= t + 0.5) {
            std::swap(current, next);
            currentMs = nextMs;
            currentDurationMs = nextDurationMs;
            fittedCurrent = false;
            haveNext = reader->Next(&next, &nextMs, error);
            nextDurationMs = reader->LastDurationMs();
            if (!error->empty()) return false;
        }
        if (!haveNext && i > 0 && t >= currentMs + currentDurationMs - 0.5) break;
        if (!fittedCurrent) {
            fitted = fitter.Fit(current);
            fittedCurrent = true;
        }
        maker.Add(fitted, static_cast<int>(frameMs / 10));
        attempt->sourceMs = t + frameMs;
        if (progress.enabled()) {
            progress.Update("making boot.gif: " + Seconds(t) +
                            (info.durationMs > 0 ? " of " + Seconds(info.durationMs) : std::string()) +
                            " (" + std::to_string(maker.FrameCount()) + " frames)");
        }
    }
    progress.Clear();
    const std::uint32_t holdMs = std::max(o.holdMs, frameMs);
    maker.Finish(static_cast<int>((holdMs + 19) / 20 * 2));
    if (maker.FrameCount() < 2) {
        // A still picture: the device shows nothing for a single frame, so it becomes two.
        maker.Finish(2);
    }
    attempt->frameMs = frameMs;
    attempt->threshold = threshold;
    attempt->frames = maker.FrameCount();
    if (!maker.Write(&attempt->gif, error)) return false;
    attempt->check = CheckOnDevice(attempt->gif, o.screenWidth, o.screenHeight, o.memoryLimit);
    return true;
}

bool MemoryFits(const MakeOptions& o, const DeviceCheck& check) {
    return o.memoryLimit == 0 ? check.showsAnimation : check.FitsAtFullSize();
}

// What would fit when nothing does: fewer seconds, or a smaller picture.
std::string WhatWouldFit(const MakeOptions& o, const Attempt& a) {
    const std::uint64_t limit = o.memoryLimit;
    const std::uint64_t frames = a.check.fullSizeFrameBytes, surfaces = a.check.surfaceBytes;
    const std::uint64_t firstFrame =
        static_cast<std::uint64_t>((o.screenWidth + 3) / 4 * 4) * o.screenHeight;
    std::ostringstream out;
    out << "even at " << 1000 / a.frameMs << " frames a second the frames need "
        << Bytes(a.check.fullSizeBitmapBytes) << " at full size (drawing surfaces included), over the "
        << "limit of " << Bytes(limit) << ". ";
    if (limit > surfaces + firstFrame && frames > firstFrame) {
        const double perMs = static_cast<double>(frames - firstFrame) / std::max(1.0, a.sourceMs);
        const double fitMs = static_cast<double>(limit - surfaces - firstFrame) / perMs;
        out << "It would fit with about " << Seconds(fitMs) << " of the " << Seconds(a.sourceMs)
            << " (cut the input), ";
    }
    const double area = static_cast<double>(limit) / static_cast<double>(frames + surfaces);
    const double side = std::sqrt(std::min(1.0, area)) * 0.95;
    out << "or with the picture at about " << static_cast<int>(o.screenWidth * side) << "x"
        << static_cast<int>(o.screenHeight * side) << " (--screen is the device's own; make the "
        << "moving part smaller in the input), or with a limit of at least "
        << Bytes(a.check.fullSizeBitmapBytes) << ".";
    return out.str();
}

}  // namespace

std::uint32_t GridFrameMs(double sourceFrameMs) {
    const double passes = std::round(sourceFrameMs / 20.0);
    return static_cast<std::uint32_t>(std::max(1.0, std::min(passes, 500.0))) * 20;
}

std::string MakeRegistryText(const std::string& mode, const std::string& deviceDir, bool sound) {
    std::string dir = deviceDir;
    while (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
    const std::string prefix = dir == "\\" ? "\\" : dir + "\\";
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    text += std::string("[HKEY_LOCAL_MACHINE\\Software\\Korvel\\") +
            (mode == "shutdown" ? "Shutdown" : "Startup") + "]\r\n";
    text += "\"Image\"=\"" + RegString(prefix + "boot.gif") + "\"\r\n";
    if (sound) {
        text += "\"WAV\"=\"" + RegString(prefix + "boot.wav") + "\"\r\n";
        text += "\r\n[HKEY_CURRENT_USER\\ControlPanel\\SoundCategories\\System]\r\n";
        text += "\"InitVol\"=dword:00000005\r\n";
    }
    return text;
}

MakeParse ParseMakeArguments(const std::vector<std::string>& args) {
    MakeParse result;
    MakeOptions& o = result.options;
    CLI::App app("make");
    app.set_help_flag();
    app.allow_extras(false);
    std::string screen, memory, fit = "letterbox", background, mode = "startup";
    bool help = false;
    double frameMs = 0, holdMs = 0, dither = 0.5;
    app.add_flag("-h,--help", help);
    app.add_option("input", o.input);
    app.add_option("--sound", o.sound);
    app.add_flag("--no-sound", o.noSound);
    app.add_option("--screen", screen);
    app.add_option("--memory-limit", memory);
    app.add_option("--out", o.outDir);
    app.add_option("--fit", fit);
    app.add_option("--background", background);
    app.add_option("--frame-ms", frameMs);
    app.add_option("--fps", o.pngFps);
    app.add_option("--hold", holdMs);
    app.add_option("--mode", mode);
    app.add_option("--device-dir", o.deviceDir);
    app.add_option("--sound-rate", o.soundRate);
    app.add_option("--colours", o.colours);
    app.add_option("--dither", dither);
    app.add_option("--threshold", o.threshold);
    app.add_flag("--no-preview", o.noPreview);
    auto fail = [&result](const std::string& message) {
        result.ok = false;
        result.error = message;
        return result;
    };
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return fail(std::string(e.what()) + " (see make --help)");
    }
    if (help) {
        result.ok = result.help = true;
        return result;
    }
    if (o.input.empty()) return fail("make needs an input: a video, an animation or a folder of PNG frames");
    if (!screen.empty() && !ParseScreenSize(screen, &o.screenWidth, &o.screenHeight)) {
        return fail("--screen takes WxH with sides from 1 to " + std::to_string(kMaxScreenSide) +
                    ", not '" + screen + "'");
    }
    if (!memory.empty() && (!ParseByteCount(memory, &o.memoryLimit) ||
                            o.memoryLimit < kMinMemoryLimit || o.memoryLimit > kMaxMemoryLimit)) {
        return fail("--memory-limit takes a byte count from 1K to 64G (suffixes K, M, G), not '" +
                    memory + "'");
    }
    if (fit == "letterbox") {
        o.fit = FitMode::Letterbox;
    } else if (fit == "fill") {
        o.fit = FitMode::Fill;
    } else {
        return fail("--fit is letterbox (the whole picture, bars where the shapes differ) or fill "
                    "(the screen covered, the edges cut), not '" + fit + "'");
    }
    if (!background.empty()) {
        std::string hex = background[0] == '#' ? background.substr(1) : background;
        char* end = nullptr;
        const unsigned long v = std::strtoul(hex.c_str(), &end, 16);
        if (hex.size() != 6 || *end != 0) return fail("--background takes a colour as RRGGBB, not '" + background + "'");
        o.background = static_cast<std::uint32_t>(v);
    }
    if (frameMs != 0) {
        if (frameMs < 20 || frameMs > 10000 || std::fmod(frameMs, 20.0) != 0) {
            return fail("--frame-ms takes a multiple of 20 from 20 to 10000: the device changes "
                        "frames only on its passes, 20 ms apart");
        }
        o.frameMs = static_cast<std::uint32_t>(frameMs);
    }
    if (!(o.pngFps >= 0.1 && o.pngFps <= 50)) return fail("--fps takes 0.1 to 50 frames a second");
    if (holdMs < 0 || holdMs > 600000) return fail("--hold takes 0 to 600000 ms");
    o.holdMs = static_cast<std::uint32_t>(holdMs);
    std::transform(mode.begin(), mode.end(), mode.begin(), ::tolower);
    if (mode != "startup" && mode != "shutdown") return fail("--mode is startup or shutdown, not '" + mode + "'");
    o.mode = mode;
    if (!ValidDeviceDir(o.deviceDir)) {
        return fail("--device-dir takes a device folder such as \\Storage (absolute, at most 200 "
                    "characters, no / : * ? \" < > |), not '" + o.deviceDir + "'");
    }
    if (o.soundRate < 8000 || o.soundRate > 48000) return fail("--sound-rate takes 8000 to 48000 Hz");
    if (o.colours < 2 || o.colours > 256) return fail("--colours takes 2 to 256");
    if (!(dither >= 0 && dither <= 1)) return fail("--dither takes 0 (none) to 1 (full)");
    o.dither = static_cast<float>(dither);
    if (o.threshold < 0 || o.threshold > 64) return fail("--threshold takes 0 to 64");
    if (o.noSound && !o.sound.empty()) return fail("--sound and --no-sound exclude each other");
    result.ok = true;
    return result;
}

std::string MakeUsageText() {
    return R"(Usage: bootreel-preview make INPUT [options]
Makes the files a device shows as intended from a video, an animation (anything FFmpeg reads)
or a folder of numbered PNG frames, and writes the preview of the result beside them:
  OUT/boot.gif, OUT/boot.wav (when there is sound), OUT/boot.reg, and what `show` writes.

  --screen WxH          the device's screen (default 240x320)
  --memory-limit N      the bitmap memory the device gives (K, M, G); the frames are made to
                        fit at full size: changed rectangles only, still frames merged, then a
                        lower frame rate
  --out DIR             output folder (default boot), replaced only if it holds an earlier result
  --fit letterbox|fill  the whole picture with bars (default), or the screen covered
  --background RRGGBB   the bars' colour (default 000000)
  --frame-ms MS         time between frames, a multiple of 20 (default: the source's, on the
                        device's 20 ms passes)
  --fps N               frames a second of a PNG folder (default 25)
  --hold MS             how long the last picture stays (default one frame interval)
  --sound FILE          the sound (default: the input's own sound track); --no-sound for none
  --sound-rate HZ       the WAV's sample rate (default 22050; 16-bit PCM)
  --mode startup|shutdown   the registry key boot.reg writes (default startup)
  --device-dir DIR      where the files go on the device (default \Storage)
  --no-preview          only the device's files, without running the show
  --colours N, --dither 0..1, --threshold N   palette size (256), dithering (0.5),
                        change threshold (6 levels)
)";
}

int RunMake(const std::vector<std::string>& args) {
    MakeParse parsed = ParseMakeArguments(args);
    if (!parsed.ok) return Fail(kExitBadInput, parsed.error);
    if (parsed.help) {
        std::fputs(MakeUsageText().c_str(), stdout);
        return kExitShown;
    }
    const MakeOptions& o = parsed.options;
    AttachPipeline();
    std::string error;
    std::unique_ptr<FrameReader> reader = FrameReader::Open(o.input, o.pngFps, &error);
    if (!reader) return Fail(kExitBadInput, error);
    const SourceInfo info = reader->Info();
    reader.reset();

    // The sound first: a bad --sound is refused before any long work.
    PcmSound sound;
    bool haveSound = false;
    if (!o.noSound) {
        const std::string from = o.sound.empty() ? o.input : o.sound;
        if (o.sound.empty() && !info.hasAudio) {
            haveSound = false;
        } else if (ReadSound(from, o.soundRate, &sound, &error)) {
            haveSound = true;
        } else if (!error.empty()) {
            return Fail(kExitBadInput, error);
        } else {
            return Fail(kExitBadInput, from + ": has no sound track");
        }
    }

    OutputFolder folder(o.outDir);
    // What the run reads must not be what it replaces.
    std::error_code ec;
    folder.Protect("the input", o.input, std::filesystem::is_directory(o.input, ec));
    folder.Protect("--sound", o.sound);
    if (!folder.Begin(&error)) return Fail(kExitBadInput, error);

    std::printf("input %s\n", info.description.c_str());
    // A video keeps its own rate where the passes allow (30 a second becomes 25, evenly);
    // an animation's own delays are kept to the nearest pass.
    const std::uint32_t gridMs = o.frameMs != 0       ? o.frameMs
                                 : info.variableRate ? kPassMs
                                                     : GridFrameMs(info.frameMs);
    // Cheaper first where it costs nothing to see: near-identical frames merged, then a lower
    // frame rate. Colours do not change the device's memory (it keeps 8 bits a pixel).
    // The same steps when there are so many frames that their records and palette copies
    // take much program memory (the analysis's frameOverhead).
    std::vector<std::pair<std::uint32_t, int>> plan = {{gridMs, o.threshold}};
    {
        plan.push_back({gridMs, o.threshold * 2 + 2});
        for (std::uint32_t ms = gridMs + 20; ms <= std::max(kSlowestFrameMs, gridMs); ms += 20) {
            if (ms % gridMs == 0 || ms >= 2 * gridMs) plan.push_back({ms, o.threshold * 2 + 2});
            if (ms >= 2 * gridMs) ms += 20;  // in larger steps further down
        }
    }
    auto tooManyFrames = [](const DeviceCheck& check) {
        for (const Warning& w : check.warnings) {
            if (w.id == "frameOverhead") return true;
        }
        return false;
    };
    Attempt made, fitting;
    bool fits = false;
    for (const auto& [frameMs, threshold] : plan) {
        if (made.frameMs != 0 && o.memoryLimit != 0) {
            // The frames' memory falls about as the frame rate does: skip the rates that
            // cannot fit, and stop when not even the drawing surfaces and the first frame do.
            const std::uint64_t fixed = made.check.surfaceBytes +
                static_cast<std::uint64_t>((o.screenWidth + 3) / 4 * 4) * o.screenHeight;
            if (o.memoryLimit <= fixed) break;
            const double expected = static_cast<double>(made.check.fullSizeFrameBytes) *
                                    made.frameMs / frameMs;
            if (frameMs != made.frameMs && expected > 1.5 * static_cast<double>(o.memoryLimit - made.check.surfaceBytes)) {
                continue;
            }
        }
        Attempt attempt;
        if (!MakeAttempt(o, frameMs, threshold, &attempt, &error)) return Fail(kExitBadInput, error);
        fits = MemoryFits(o, attempt.check);
        const bool overhead = fits && tooManyFrames(attempt.check);
        if (fits && fitting.frameMs == 0) fitting = attempt;
        made = std::move(attempt);
        if (fits && !overhead) break;
        if (overhead) {
            std::printf("at %u ms a frame the %zu frames' records take much program memory: "
                        "trying fewer frames\n", frameMs, made.frames);
            fits = false;
        } else if (o.memoryLimit != 0) {
            std::printf("at %u ms a frame the frames need %s at full size: over the limit, trying "
                        "further\n",
                        frameMs, Bytes(made.check.fullSizeBitmapBytes).c_str());
        }
    }
    if (!fits && fitting.frameMs != 0) {
        // Fits, but with many frames however slow: keep the full rate, and the warning says why.
        made = std::move(fitting);
        fits = true;
    }
    if (!fits) {
        return Fail(kExitNotShown,
                    "cannot make the show fit the device at full size: " + WhatWouldFit(o, made) +
                        " Nothing was written.");
    }
    const char* rate = info.variableRate && made.frameMs == kPassMs
                           ? "the animation's times on the %u ms passes (at most %s frames a second)"
                           : "a frame every %u ms (%s frames a second)";
    char rateText[120];
    std::snprintf(rateText, sizeof rateText, rate, made.frameMs,
                  std::to_string(1000 / made.frameMs).c_str());
    std::printf("made boot.gif: %zu frames, %dx%d, %s, "
                "%s; %s of bitmap memory at full size (frames %s, drawing surfaces %s)%s\n",
                made.frames, o.screenWidth, o.screenHeight, rateText, Bytes(made.gif.size()).c_str(),
                Bytes(made.check.fullSizeBitmapBytes).c_str(),
                Bytes(made.check.fullSizeFrameBytes).c_str(),
                Bytes(made.check.surfaceBytes).c_str(),
                o.memoryLimit ? (", within the limit of " + Bytes(o.memoryLimit)).c_str() : "");
    if (made.frameMs != gridMs) {
        std::printf("note: the frame rate went down from one frame every %u ms to every %u ms to "
                    "fit the device's memory\n",
                    gridMs, made.frameMs);
    }
    for (const Warning& w : made.check.warnings) {
        std::printf("warning: boot.gif still draws a warning (%s): %s%s\n", w.id.c_str(),
                    w.text.c_str(), w.fix.empty() ? "" : (" fix: " + w.fix).c_str());
    }

    errno = 0;
    if (!WriteFile(folder.PathOf("boot.gif"), made.gif.data(), made.gif.size(), &error)) {
        return Fail(kExitOutputFailed, folder.InUserTerms(error));
    }
    if (haveSound) {
        const std::vector<std::uint8_t> wav = WavBytes(sound);
        const SoundReport check = AnalyseSound("boot.wav", wav);
        if (!check.playable) {
            return Fail(kExitNotShown, "the sound made for the device is not playable: " + check.problem);
        }
        if (!WriteFile(folder.PathOf("boot.wav"), wav.data(), wav.size(), &error)) {
            return Fail(kExitOutputFailed, folder.InUserTerms(error));
        }
        // The show lasts until the last frame's one pass is over.
        const double showMs = made.check.animationMs;
        const double soundMs = static_cast<double>(sound.DurationMs());
        std::string against;
        if (std::fabs(soundMs - showMs) < 50) {
            against = "as long as the animation";
        } else if (soundMs < showMs) {
            against = Seconds(showMs - soundMs) + " shorter than the animation (" + Seconds(showMs) + ")";
        } else {
            against = Seconds(soundMs - showMs) + " longer than the animation (" + Seconds(showMs) +
                      ")" + (o.mode == "shutdown"
                                 ? ": the shut-down waits for it to end"
                                 : ": it plays on after the window has closed");
        }
        std::printf("made boot.wav: 16-bit PCM, %s, %d Hz, %s, %s\n",
                    sound.channels == 1 ? "mono" : "stereo", sound.rate,
                    Seconds(soundMs).c_str(), against.c_str());
    }
    const std::string reg = MakeRegistryText(o.mode, o.deviceDir, haveSound);
    if (!WriteFile(folder.PathOf("boot.reg"), reg.data(), reg.size(), &error)) {
        return Fail(kExitOutputFailed, folder.InUserTerms(error));
    }

    if (o.noPreview) {
        errno = 0;
        if (!folder.Commit(&error)) return Fail(kExitOutputFailed, folder.InUserTerms(error));
        std::printf("made %s/: boot.gif, %sboot.reg\n", folder.Name().c_str(),
                    haveSound ? "boot.wav, " : "");
        return kExitShown;
    }
    // The preview of the result, exactly as `show` writes it.
    Options show;
    show.command = Command::Show;
    show.mode = o.mode;
    show.image = folder.PathOf("boot.gif");
    if (haveSound) show.sound = folder.PathOf("boot.wav");
    show.screenWidth = o.screenWidth;
    show.screenHeight = o.screenHeight;
    show.memoryLimit = o.memoryLimit;
    show.outDir = o.outDir;
    if (o.mode == "shutdown" && !haveSound) {
        // Nothing ends a shut-down show without sound but the boot sequence: end it when the
        // animation is over.
        show.endAfterMs = made.check.animationMs + 3000;
    }
    if (o.deviceDir != "\\Storage") {
        std::printf("note: the preview places the files in \\Storage; boot.reg names %s\n",
                    o.deviceDir.c_str());
    }
    const int shown = RunShowIn(show, folder);
    if (shown == kExitShown) {
        std::printf("made %s/: boot.gif, %sboot.reg (copy them to %s on the device and import "
                    "boot.reg) and the preview of the result\n",
                    folder.Name().c_str(), haveSound ? "boot.wav, " : "", o.deviceDir.c_str());
    }
    return shown;
}

}  // namespace preview
