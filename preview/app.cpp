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
#include "preview/cleanup.h"
#include "preview/contact_sheet.h"
#include "preview/image_files.h"
#include "preview/output_folder.h"
#include "preview/picture_report.h"
#include "preview/progress.h"
#include "preview/recording.h"
#include "preview/report_page.h"
#include "preview/show_files.h"
#include "preview/show.h"
#include "preview/sound_report.h"
#include "preview/text.h"
#include "preview/words.h"

namespace preview {

namespace {

#ifndef BOOTREEL_VERSION
#define BOOTREEL_VERSION "unknown"
#endif
const char kVersion[] = BOOTREEL_VERSION;

int BadInput(const std::string& message) {
    StopIfInterrupted();
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return kExitBadInput;
}

// A failed write of the results: the system's reason (a full disk, a folder that became
// unwritable) with its own exit code, naming the output folder the user gave.
int OutputFailed(const OutputFolder& folder, const std::string& message, int savedErrno) {
    // A write that failed because an interruption is removing the staging folder is no news.
    StopIfInterrupted();
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

// What one show of a run came to, for the summary printed once everything is written.
struct ShowOutcome {
    std::string mode;
    std::vector<std::string> lines;
    std::size_t frames = 0;
    bool clip = false;  // recording.mp4 was made
    bool showed = false;
    std::string reason;
};

// Runs one show into the folder `dir`. On failure returns the exit code (after saying why);
// on success -1.
int RunOneShow(const Options& options, const OutputFolder& folder, const std::string& dir,
               ShowOutcome* outcome) {
    std::string error;
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

    // Frames are written as the show composes them.
    ShowWriter writer(dir, options.screenWidth, options.screenHeight,
                      picture ? picture->frames.size() : 0);
    ShowRecord record = RecordShow(options, options.endAfterMs, picture.get(), &writer);
    ShowResult result = AnalyseShow(record, setup, picture.get());
    Json timeline = MakeTimeline(options, setup, record, result, picture.get());

    // Every warning once; the one that explains a failed load is in the reason instead.
    std::fputs(WarningLines(ShowWarningsOf(result, picture.get()), false).c_str(), stdout);

    // The clip decodes the sounds from the bytes the device accepted during the show.
    errno = 0;
    if (!FinishShowFiles(dir, options, setup, record, result, picture.get(), &writer,
                         DumpJson(timeline), &error)) {
        return OutputFailed(folder, error, errno);
    }
    outcome->mode = options.mode;
    outcome->lines = ShowSummary(options, setup, record, result, true);
    if (result.unexpectedChanges != 0) {
        outcome->lines.push_back(
            "note: " + std::to_string(result.unexpectedChanges) +
            " screen copies changed the picture between frames; the frame files may not match "
            "the device's timing");
    }
    for (const std::string& note : writer.Clip().Notes()) outcome->lines.push_back("note: " + note);
    outcome->frames = result.frames.size();
    outcome->clip = writer.Clip().Made();
    outcome->showed = result.showedPicture;
    outcome->reason = result.reason;
    return -1;
}

std::string Folder(const OutputFolder& folder, const std::string& name) {
    std::string path = folder.PathOf(name);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
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
        std::printf("overall: %s\n", verdict.c_str());
    }
    return fine ? kExitShown : kExitNotShown;
}

int RunShow(const Options& options) {
    if (options.live) return RunLive(options);

    OutputFolder folder(options.outDir);
    // What the run reads must not be what it replaces.
    folder.Protect("--image", options.image);
    folder.Protect("--sound", options.sound);
    folder.Protect("--registry", options.registryFile);
    folder.Protect("--device-root", options.deviceRoot, true);
    if (options.image.empty() && options.registryFile.empty()) {
        folder.Protect("the bundled sample folder", SamplesDir());
    }
    std::string error;
    if (!folder.Begin(&error)) return BadInput(error);
    return RunShowIn(options, folder);
}

int RunShowIn(const Options& options, OutputFolder& folder) {
    std::string error;
    // --mode both: the start-up show, then the shut-down show, each into its own folder.
    std::vector<std::string> modes = {options.mode};
    if (options.mode == "both") modes = {"startup", "shutdown"};
    std::vector<ShowOutcome> outcomes;
    for (const std::string& mode : modes) {
        Options one = options;
        one.mode = mode;
        std::string dir = Folder(folder, "");
        if (modes.size() > 1) {
            dir = Folder(folder, mode);
            // Not create_directories: after an interruption has removed the staging folder,
            // nothing may make it again.
            std::error_code ec;
            std::filesystem::create_directory(dir, ec);
            if (ec) return OutputFailed(folder, "cannot create " + dir, ec.value());
        }
        ShowOutcome outcome;
        const int failed = RunOneShow(one, folder, dir, &outcome);
        if (failed >= 0) return failed;
        outcomes.push_back(std::move(outcome));
    }
    errno = 0;
    if (modes.size() > 1 && !WriteBothShowsPage(Folder(folder, "report.html"),
                                                outcomes.front().lines, outcomes.back().lines,
                                                &error)) {
        return OutputFailed(folder, error, errno);
    }
    errno = 0;
    if (!folder.Commit(&error)) return OutputFailed(folder, error, 0);

    int exitCode = kExitShown;
    for (const ShowOutcome& o : outcomes) {
        if (modes.size() > 1) std::printf("%s show:\n", ModeWords(o.mode).c_str());
        for (const std::string& line : o.lines) {
            std::printf("%s%s\n", modes.size() > 1 ? "  " : "", line.c_str());
        }
        if (!o.showed) exitCode = kExitNotShown;
    }
    std::string shownName = folder.Name();
    while (shownName.size() > 1 && shownName.back() == '/') shownName.pop_back();
    if (modes.size() > 1) {
        std::printf("wrote %s/: startup/ and shutdown/ (each with its frame pictures, "
                    "timeline.json, report.html and, when frames were shown, contact-sheet.png, "
                    "recording.webp and recording.mp4) and report.html linking both\n",
                    shownName.c_str());
    } else {
        std::printf("wrote %s/: %zu frame pictures, timeline.json, report.html%s\n",
                    shownName.c_str(), outcomes[0].frames,
                    outcomes[0].frames == 0 ? ""
                    : outcomes[0].clip      ? ", contact-sheet.png, recording.webp, recording.mp4"
                                            : ", contact-sheet.png, recording.webp");
    }
    std::fflush(stdout);
    for (const ShowOutcome& o : outcomes) {
        if (o.showed) continue;
        std::fprintf(stderr, "%s: the device could not show the %spicture: %s\n", kProgram,
                     modes.size() > 1 ? (ModeWords(o.mode) + " ").c_str() : "",
                     o.reason.c_str());
    }
    return exitCode;
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
        return BadInput(std::string("the file system refused an operation: ") + e.code().message() +
                        (e.path1().empty() ? "" : " (" + e.path1().string() + ")"));
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
