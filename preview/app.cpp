// The commands of bootreel-preview; see app.h.
#include "preview/app.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "decode/error.h"
#include "platform/module.h"
#include "platform/sim/device.h"
#include "preview/contact_sheet.h"
#include "preview/image_files.h"
#include "preview/output_folder.h"
#include "preview/picture_report.h"
#include "preview/progress.h"
#include "preview/sound_report.h"
#include "preview/show.h"
#include "preview/text.h"

namespace preview {

namespace {

const char kProgram[] = "bootreel-preview";
#ifndef BOOTREEL_VERSION
#define BOOTREEL_VERSION "unknown"
#endif
const char kVersion[] = BOOTREEL_VERSION;

int BadInput(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return kExitBadInput;
}

// A failed write of the results: the system's reason (a full disk, a folder that became
// unwritable) with its own exit code, naming the output folder the user gave.
int OutputFailed(const OutputFolder& folder, const std::string& message, int savedErrno) {
    std::string text = folder.InUserTerms(message);
    if (savedErrno != 0) {
        const std::string reason = std::strerror(savedErrno);
        if (text.find(reason) == std::string::npos) text += ": " + reason;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s; --out %s is left as it was\n", kProgram, text.c_str(),
                 folder.Name().c_str());
    return kExitOutputFailed;
}

const char kModuleMarker = 0;

// The picture's report for the show, or none when the device's picture path leads to no
// readable file (the show itself then reports what the device does).
std::unique_ptr<PictureReport> AnalyseDevicePicture(const Options& options,
                                                    const DeviceSetup& setup) {
    if (setup.imageHostPath.empty()) return nullptr;
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadInputFile(setup.imageHostPath, &bytes, &error)) return nullptr;
    // The analysis decodes every frame once, with no memory limit; the show gets the limit.
    plat::sim::SetBitmapMemoryLimit(0);
    auto report = std::make_unique<PictureReport>(
        AnalysePicture(Utf8(setup.imagePath), bytes, options.screenWidth, options.screenHeight,
                       options.memoryLimit));
    plat::sim::SetBitmapMemoryLimit(static_cast<std::size_t>(options.memoryLimit));
    return report;
}

std::string FrameFileName(std::size_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04zu.png", i);
    return name;
}

bool WriteOutputs(OutputFolder& folder, const ShowRecord& record, const ShowResult& result,
                  const Json& timeline, std::string* error) {
    ProgressLine line;
    std::vector<const RgbImage*> images;
    for (const ComposedFrame& f : result.frames) {
        images.push_back(&record.images[static_cast<std::size_t>(
            record.copies[static_cast<std::size_t>(f.copy)].image)]);
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        line.Update("writing " + FrameFileName(i) + " of " + std::to_string(images.size()));
        if (!WritePng(folder.PathOf(FrameFileName(i)), *images[i], error)) return false;
    }
    if (!images.empty()) {
        std::vector<SheetEntry> entries;
        for (std::size_t i = 0; i < images.size(); ++i) {
            entries.push_back({images[i], result.frames[i].index,
                               static_cast<std::uint32_t>(result.frames[i].composedAtMs)});
        }
        line.Update("writing contact-sheet.png");
        if (!WritePng(folder.PathOf("contact-sheet.png"), MakeContactSheet(entries), error)) {
            return false;
        }
        // Each frame stays until the next one is composed; the last one until the window
        // closed (or the show returned).
        std::uint64_t endMs = record.returnedAtMs - record.calledAtMs;
        if (result.windowClosedAtMs) endMs = *result.windowClosedAtMs - record.calledAtMs;
        std::vector<TimedImage> timed;
        for (std::size_t i = 0; i < images.size(); ++i) {
            const std::uint64_t from = result.frames[i].composedAtMs;
            const std::uint64_t to =
                i + 1 < images.size() ? result.frames[i + 1].composedAtMs : std::max(endMs, from);
            timed.push_back({images[i], static_cast<std::uint32_t>(
                                            std::max<std::uint64_t>(to - from, kPassMs))});
        }
        if (!WriteAnimatedWebp(
                folder.PathOf("recording.webp"), timed, error, [&line](int done, int total) {
                    line.Update("writing recording.webp: frame " + std::to_string(done) + " of " +
                                std::to_string(total));
                })) {
            return false;
        }
    }
    std::FILE* f = std::fopen(folder.PathOf("timeline.json").c_str(), "wb");
    const std::string text = DumpJson(timeline);
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) *error = "cannot write timeline.json";
    return ok;
}

}  // namespace

void AttachPipeline() {
    br::AttachLibrary(plat::GetModuleOfAddress(&kModuleMarker));
}

int RunInfo(const Options& options) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadInputFile(options.infoFile, &bytes, &error)) return BadInput(error);
    plat::sim::DeviceConfig config;
    config.screenWidth = options.screenWidth;
    config.screenHeight = options.screenHeight;
    plat::sim::Reset(config);
    // A WAV given as the file, or with --sound: the sound service's checks.
    std::optional<SoundReport> sound;
    std::string soundFile = options.sound;
    if (soundFile.empty() && LooksLikeWav(bytes)) soundFile = options.infoFile;
    if (!soundFile.empty()) {
        std::vector<std::uint8_t> soundBytes;
        if (soundFile != options.infoFile && !ReadInputFile(soundFile, &soundBytes, &error)) {
            return BadInput(error);
        }
        sound = AnalyseSound(soundFile, soundFile == options.infoFile ? bytes : soundBytes);
        if (soundFile == options.infoFile) {
            if (options.json) {
                Json j = SoundToJson(*sound);
                j["verdict"] = sound->Verdict();
                std::fputs(DumpJson(j).c_str(), stdout);
            } else {
                std::fputs(FormatSoundText(*sound).c_str(), stdout);
            }
            return sound->playable ? kExitShown : kExitNotShown;
        }
    }
    PictureReport report = AnalysePicture(options.infoFile, bytes, options.screenWidth,
                                          options.screenHeight, options.memoryLimit);
    const bool shows = report.DeviceShowsAnimation();
    const bool fine = shows && (!sound || sound->playable);
    const std::string verdict =
        std::string(shows ? "the device shows the animation" : "the device shows nothing") +
        (sound ? (sound->playable ? ", with its sound" : ", and it cannot play the sound") : "") +
        (report.warnings.empty() ? "" : " (see the warnings)");
    if (options.json) {
        Json j = ReportToJson(report);
        if (sound) j["sound"] = SoundToJson(*sound);
        j["deviceShowsAnimation"] = shows;
        j["verdict"] = verdict;
        std::fputs(DumpJson(j).c_str(), stdout);
    } else {
        std::fputs(FormatReportText(report).c_str(), stdout);
        if (sound) std::fputs(FormatSoundText(*sound).c_str(), stdout);
        std::printf("verdict: %s\n", verdict.c_str());
    }
    return fine ? kExitShown : kExitNotShown;
}

int RunShow(const Options& options) {
    if (options.live) return RunLive(options);

    OutputFolder folder(options.outDir);
    std::string error;
    if (!folder.Begin(&error)) return BadInput(error);
    DeviceSetup setup;
    struct CleanUp {
        DeviceSetup* setup;
        ~CleanUp() { CleanUpDevice(setup); }
    } cleanUp{&setup};
    if (!PrepareDevice(options, plat::sim::ClockMode::Virtual, &setup, &error)) {
        return BadInput(error);
    }
    std::unique_ptr<PictureReport> picture = AnalyseDevicePicture(options, setup);

    std::printf("%s show of %s on a %dx%d screen%s\n", options.mode.c_str(),
                !setup.image.problem.empty() ? "(no usable picture path)"
                : setup.imagePath.empty()    ? "(no picture configured)"
                                             : Utf8(setup.imagePath).c_str(),
                options.screenWidth, options.screenHeight,
                setup.usingSample.empty() ? "" : " (the bundled sample)");

    std::optional<std::uint32_t> endAfter = options.endAfterMs;
    ShowRecord record = RecordShow(options, endAfter);
    ShowResult result = AnalyseShow(record, setup, picture.get());
    if (options.mode == "shutdown" && !record.sounds.empty()) {
        // A shut-down that waits for its sound: say so when the wait is long.
        const auto& sound = record.sounds.front();
        const std::uint64_t closed =
            result.windowClosedAtMs ? *result.windowClosedAtMs - record.calledAtMs : 0;
        Warning w = ShutdownSoundWarning(sound.endedAtMs - sound.startedAtMs, closed);
        if (!w.id.empty()) result.warnings.push_back(std::move(w));
    }
    Json timeline = MakeTimeline(options, setup, record, result, picture.get());
    CleanUpDevice(&setup);

    // Every warning once; the one that explains a failed load is in the reason instead.
    if (picture) {
        for (const Warning& w : picture->warnings) {
            if (w.id != result.reasonWarningId) std::printf("warning: %s\n", w.text.c_str());
        }
    }
    for (const Warning& w : result.warnings) std::printf("warning: %s\n", w.text.c_str());

    errno = 0;
    if (!WriteOutputs(folder, record, result, timeline, &error)) {
        return OutputFailed(folder, error, errno);
    }
    errno = 0;
    if (!folder.Commit(&error)) return OutputFailed(folder, error, 0);

    const std::uint64_t returned = record.returnedAtMs - record.calledAtMs;
    if (result.showedPicture) {
        std::printf("the device showed %zu frames from %llu ms to %llu ms\n", result.frames.size(),
                    static_cast<unsigned long long>(result.frames.front().composedAtMs),
                    static_cast<unsigned long long>(result.frames.back().composedAtMs));
    } else {
        std::printf("the device would show nothing (the reason follows on standard error)\n");
        if (record.endRequestBecauseNothingShown) {
            std::printf(
                "(the preview signalled the end request after %u ms of show time, as the "
                "boot sequence would)\n",
                kNothingShownMs);
        }
    }
    for (const auto& s : record.sounds) {
        std::printf("sound %s: %s from %llu ms to %llu ms\n", Utf8(s.path).c_str(),
                    s.played         ? "played"
                    : s.defaultSound ? "not playable, the device's default beep sounded"
                                     : "failed",
                    static_cast<unsigned long long>(s.startedAtMs - record.calledAtMs),
                    static_cast<unsigned long long>(s.endedAtMs - record.calledAtMs));
    }
    std::printf("the show ended (%s) and the entry point returned at %llu ms\n",
                result.endHow.c_str(), static_cast<unsigned long long>(returned));
    if (result.unexpectedChanges != 0) {
        std::printf(
            "note: %d screen copies changed the picture between frames; the frame files "
            "may not match the device's timing\n",
            result.unexpectedChanges);
    }
    std::string shownName = folder.Name();
    while (shownName.size() > 1 && shownName.back() == '/') shownName.pop_back();
    std::printf("wrote %s/: %zu frame pictures, timeline.json%s\n", shownName.c_str(),
                result.frames.size(),
                result.frames.empty() ? "" : ", contact-sheet.png, recording.webp");
    if (!result.showedPicture) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: the device could not show the picture: %s\n", kProgram,
                     result.reason.c_str());
        return kExitNotShown;
    }
    return kExitShown;
}

int RunPreview(int argc, char** argv) {
    // Line by line, so that standard output and standard error keep their order when both
    // go into one pipe or file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        return RunCommand(argc, argv);
    } catch (const std::filesystem::filesystem_error& e) {
        // The host's file system refused something the checks did not foresee; what was
        // staged is removed on the way out.
        return BadInput(std::string("the file system refused an operation: ") +
                        e.code().message() + (e.path1().empty() ? "" : " (" + e.path1().string() + ")"));
    } catch (const std::bad_alloc&) {
        return BadInput("out of memory");
    }
}

int RunCommand(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = ParseArguments(args);
    if (!parsed.ok) return BadInput(parsed.error);
    const Options& options = parsed.options;
    AttachPipeline();
    switch (options.command) {
        case Command::Help:
            std::fputs(UsageText().c_str(), stdout);
            return kExitShown;
        case Command::Version:
            std::printf("%s %s\n", kProgram, kVersion);
            return kExitShown;
        case Command::Info:
            return RunInfo(options);
        case Command::Show:
            break;
    }
    return RunShow(options);
}

}  // namespace preview
