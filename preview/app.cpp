// The commands of bootreel-preview; see app.h.
#include "preview/app.h"

#include <cstdio>
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

int RunShow(const Options& options) {
    if (options.live) return RunLive(options);

    OutputFolder folder(options.outDir);
    std::string error;
    if (!folder.Begin(&error)) return BadInput(error);
    DeviceSetup setup;
    if (!PrepareDevice(options, plat::sim::ClockMode::Virtual, &setup, &error)) {
        CleanUpDevice(&setup);
        return BadInput(error);
    }
    std::unique_ptr<PictureReport> picture = AnalyseDevicePicture(options, setup);

    std::printf("%s show of %s on a %dx%d screen%s\n", options.mode.c_str(),
                setup.imagePath.empty() ? "(no picture configured)" : Utf8(setup.imagePath).c_str(),
                options.screenWidth, options.screenHeight,
                setup.usingSample.empty() ? "" : " (the bundled sample)");
    if (picture) {
        for (const Warning& w : picture->warnings) std::printf("warning: %s\n", w.text.c_str());
    }

    std::optional<std::uint32_t> endAfter = options.endAfterMs;
    ShowWriter writer(folder, options.screenWidth, options.screenHeight,
                      picture ? picture->frames.size() : 0);
    ShowRecord record = RecordShow(options, endAfter, picture.get(), &writer);
    ShowResult result = AnalyseShow(record, setup, picture.get());
    Json timeline = MakeTimeline(options, setup, record, result, picture.get());
    // The sounds are read again for the clip, so the device's files stay until it is written.
    const bool written = FinishShowFiles(folder, options, setup, record, result, picture.get(),
                                         &writer, DumpJson(timeline), &error);
    CleanUpDevice(&setup);
    if (!written || !folder.Commit(&error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitBadInput;
    }

    for (const std::string& line : ShowSummary(options, setup, record, result)) {
        std::printf("%s\n", line.c_str());
    }
    if (result.unexpectedChanges != 0) {
        std::printf(
            "note: %d screen copies changed the picture between frames; the frame files "
            "may not match the device's timing\n",
            result.unexpectedChanges);
    }
    std::printf("wrote %s/: %zu frame pictures, timeline.json, report.html%s\n",
                options.outDir.c_str(), result.frames.size(),
                result.frames.empty()
                    ? ""
                    : ", contact-sheet.png, recording.webp, recording.mp4");
    if (!result.showedPicture) {
        std::fprintf(stderr, "%s: the device could not show the picture: %s\n", kProgram,
                     result.reason.c_str());
        return kExitNotShown;
    }
    return kExitShown;
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
