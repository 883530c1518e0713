// The commands of bootreel-preview; see app.h.
#include "preview/app.h"

#include <cstdio>
#include <filesystem>
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
#include "preview/recording.h"
#include "preview/report_page.h"
#include "preview/show.h"
#include "preview/show_files.h"
#include "preview/text.h"

namespace preview {

namespace {

const char kProgram[] = "bootreel-preview";
#ifndef BOOTREEL_VERSION
#define BOOTREEL_VERSION "unknown"
#endif
const char kVersion[] = BOOTREEL_VERSION;

int BadInput(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return kExitBadInput;
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
    PictureReport report = AnalysePicture(options.infoFile, bytes, options.screenWidth,
                                          options.screenHeight, options.memoryLimit);
    if (options.json) {
        std::fputs(DumpJson(ReportToJson(report)).c_str(), stdout);
    } else {
        std::fputs(FormatReportText(report).c_str(), stdout);
    }
    return report.DeviceShowsAnimation() ? kExitShown : kExitNotShown;
}

namespace {

// What one show of a run came to, for the summary printed once everything is written.
struct ShowOutcome {
    std::string mode;
    std::vector<std::string> lines;
    std::size_t frames = 0;
    bool showed = false;
    std::string reason;
};

// Runs one show into the folder `dir`. False with *error when its files cannot be written
// (bad input is refused before anything runs, with exit code 2 in *exitCode).
bool RunOneShow(const Options& options, const std::string& dir, ShowOutcome* outcome,
                int* exitCode, std::string* error) {
    DeviceSetup setup;
    if (!PrepareDevice(options, plat::sim::ClockMode::Virtual, &setup, error)) {
        CleanUpDevice(&setup);
        *exitCode = kExitBadInput;
        return false;
    }
    std::unique_ptr<PictureReport> picture = AnalyseDevicePicture(options, setup);

    std::printf("%s show of %s on a %dx%d screen%s\n", options.mode.c_str(),
                setup.imagePath.empty() ? "(no picture configured)" : Utf8(setup.imagePath).c_str(),
                options.screenWidth, options.screenHeight,
                setup.usingSample.empty() ? "" : " (the bundled sample)");
    if (picture) {
        for (const Warning& w : picture->warnings) std::printf("warning: %s\n", w.text.c_str());
    }
    std::fflush(stdout);

    ShowWriter writer(dir, options.screenWidth, options.screenHeight,
                      picture ? picture->frames.size() : 0);
    ShowRecord record = RecordShow(options, options.endAfterMs, picture.get(), &writer);
    ShowResult result = AnalyseShow(record, setup, picture.get());
    Json timeline = MakeTimeline(options, setup, record, result, picture.get());
    // The sounds are read again for the clip, so the device's files stay until it is written.
    const bool written = FinishShowFiles(dir, options, setup, record, result, picture.get(),
                                         &writer, DumpJson(timeline), error);
    CleanUpDevice(&setup);
    if (!written) {
        *exitCode = kExitBadInput;
        return false;
    }
    outcome->mode = options.mode;
    outcome->lines = ShowSummary(options, setup, record, result);
    if (result.unexpectedChanges != 0) {
        outcome->lines.push_back(
            "note: " + std::to_string(result.unexpectedChanges) +
            " screen copies changed the picture between frames; the frame files may not match "
            "the device's timing");
    }
    outcome->frames = result.frames.size();
    outcome->showed = result.showedPicture;
    outcome->reason = result.reason;
    return true;
}

std::string Folder(const OutputFolder& folder, const std::string& name) {
    std::string path = folder.PathOf(name);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

int RunShow(const Options& options) {
    if (options.live) return RunLive(options);

    OutputFolder folder(options.outDir);
    std::string error;
    if (!folder.Begin(&error)) return BadInput(error);
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
            std::error_code ec;
            std::filesystem::create_directories(dir, ec);
            if (ec) {
                std::fprintf(stderr, "%s: cannot create %s/%s: %s\n", kProgram,
                             options.outDir.c_str(), mode.c_str(), ec.message().c_str());
                return kExitBadInput;
            }
        }
        ShowOutcome outcome;
        int exitCode = kExitBadInput;
        if (!RunOneShow(one, dir, &outcome, &exitCode, &error)) {
            std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
            return exitCode;
        }
        outcomes.push_back(std::move(outcome));
    }
    if (modes.size() > 1 && !WriteBothShowsPage(Folder(folder, "report.html"), outcomes.front().lines,
                                                outcomes.back().lines, &error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitBadInput;
    }
    if (!folder.Commit(&error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitBadInput;
    }

    int exitCode = kExitShown;
    for (const ShowOutcome& o : outcomes) {
        if (modes.size() > 1) std::printf("%s show:\n", ModeWords(o.mode).c_str());
        for (const std::string& line : o.lines) {
            std::printf("%s%s\n", modes.size() > 1 ? "  " : "", line.c_str());
        }
        if (!o.showed) exitCode = kExitNotShown;
    }
    if (modes.size() > 1) {
        std::printf("wrote %s/: startup/ and shutdown/ (each with its frame pictures, "
                    "timeline.json, report.html and, when frames were shown, contact-sheet.png, "
                    "recording.webp and recording.mp4) and report.html linking both\n",
                    options.outDir.c_str());
    } else {
        std::printf("wrote %s/: %zu frame pictures, timeline.json, report.html%s\n",
                    options.outDir.c_str(), outcomes[0].frames,
                    outcomes[0].frames == 0
                        ? ""
                        : ", contact-sheet.png, recording.webp, recording.mp4");
    }
    std::fflush(stdout);
    for (const ShowOutcome& o : outcomes) {
        if (o.showed) continue;
        std::fprintf(stderr, "%s: the device could not show the %s picture: %s\n", kProgram,
                     ModeWords(o.mode).c_str(), o.reason.c_str());
    }
    return exitCode;
}

int RunPreview(int argc, char** argv) {
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
