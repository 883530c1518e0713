// Words and files made from a recorded show; see show_files.h.
#include "preview/show_files.h"

#include <cstdio>

#include "preview/report_page.h"
#include "preview/text.h"

namespace preview {

namespace {

std::string Ms(std::uint64_t ms) {
    return std::to_string(ms) + " ms";
}

std::string Passes(std::uint64_t ms) {
    if (ms == kPassMs) return "one 20 ms pass";
    if (ms % kPassMs == 0) return std::to_string(ms / kPassMs) + " passes of 20 ms";
    return "about " + std::to_string((ms + kPassMs / 2) / kPassMs) + " passes of 20 ms";
}

std::string FileLabel(const DeviceSetup& setup) {
    if (!setup.usingSample.empty()) return Utf8(setup.imagePath) + " (the bundled sample)";
    return setup.imagePath.empty() ? std::string("(no picture configured)") : Utf8(setup.imagePath);
}

// The end of the last sound heard, in show time (0: none).
std::uint64_t SoundEndMs(const ShowRecord& record) {
    std::uint64_t end = 0;
    for (const PlayedSound& p : record.played) {
        end = std::max(end, p.record.endedAtMs - record.calledAtMs);
    }
    return end;
}

std::string Ordinal(std::size_t n) {
    if (n == 2) return "2nd";
    if (n == 3) return "3rd";
    return std::to_string(n) + "th";
}

}  // namespace

std::string ModeWords(const std::string& mode) {
    return mode == "shutdown" ? "shut-down" : "start-up";
}

std::vector<std::string> ShowSummary(const Options& options, const DeviceSetup& setup,
                                     const ShowRecord& record, const ShowResult& result,
                                     bool forTerminal) {
    (void)options;
    (void)setup;
    std::vector<std::string> lines;
    const std::uint64_t base = record.calledAtMs;
    if (result.showedPicture) {
        const std::uint64_t last = result.frames.back().composedAtMs;
        lines.push_back("the device showed " + std::to_string(result.frames.size()) +
                        " frames from " + Ms(result.frames.front().composedAtMs) + " to " +
                        Ms(last));
        const std::uint64_t held = result.screenEndMs > last ? result.screenEndMs - last : 0;
        if (result.windowClosedAtMs) {
            lines.push_back("the last frame stayed on the screen for " + Passes(held) +
                            ", until the window closed at " + Ms(result.screenEndMs));
        } else {
            lines.push_back(
                "the last frame was still on the screen when the entry point "
                "returned at " +
                Ms(result.showEndMs) + " (the window stayed open)");
        }
    } else {
        lines.push_back(forTerminal
                            ? "the device would show nothing (the reason follows on standard "
                              "error)"
                            : "the device would show nothing: " + result.reason);
        if (record.endRequestBecauseNothingShown) {
            lines.push_back("(the preview signalled the end request after " +
                            std::to_string(kNothingShownMs) +
                            " ms of show time, as the boot sequence would)");
        }
    }
    for (const auto& s : record.sounds) {
        lines.push_back("sound " + Utf8(s.path) + ": " +
                        (s.played         ? "played"
                         : s.defaultSound ? "not playable, the device's default beep sounded"
                                          : "failed") +
                        " from " + Ms(s.startedAtMs - base) + " to " + Ms(s.endedAtMs - base));
    }
    if (result.windowClosedAtMs && result.showEndMs > result.screenEndMs) {
        const std::uint64_t soundEnd = SoundEndMs(record);
        if (soundEnd > result.screenEndMs) {
            lines.push_back("the window closed at " + Ms(result.screenEndMs) +
                            "; only the sound went on, until " +
                            Ms(std::min(soundEnd, result.showEndMs)));
        } else {
            lines.push_back("the window closed at " + Ms(result.screenEndMs) +
                            "; the show went on without a picture until " + Ms(result.showEndMs));
        }
    }
    lines.push_back("the show ended (" + result.endHow + ") and the entry point returned at " +
                    Ms(result.showEndMs));
    const std::uint64_t soundEnd = SoundEndMs(record);
    if (soundEnd > result.showEndMs) {
        lines.push_back("the sound plays on after the entry point has returned, until " +
                        Ms(soundEnd) + " (the recordings end with the show)");
    }
    if (record.shutdownEventAtMs) {
        lines.push_back("\"SHUTDOWN_ANIMATION_DONE\" was signalled at " +
                        Ms(*record.shutdownEventAtMs - base));
    }
    return lines;
}

bool FinishShowFiles(const std::string& dir, const Options& options, const DeviceSetup& setup,
                     const ShowRecord& record, const ShowResult& result,
                     const PictureReport* picture, ShowWriter* writer,
                     const std::string& timelineText, std::string* error) {
    ShowEnding ending;
    ending.screenEndMs = result.screenEndMs;
    ending.showEndMs = result.showEndMs;
    ending.cardLines.push_back("window closed at " + Ms(result.screenEndMs));
    if (result.showEndMs > result.screenEndMs) {
        const std::uint64_t soundEnd = SoundEndMs(record);
        ending.cardLines.push_back(soundEnd > result.screenEndMs ? "the sound plays on"
                                                                 : "the show goes on");
        ending.cardLines.push_back("until " + Ms(result.showEndMs));
    }
    for (const PlayedSound& p : record.played) {
        SoundPlacement placement;
        placement.hostPath = p.record.hostPath;
        if (placement.hostPath.empty()) placement.wav = &p.wav;
        placement.startMs = p.record.startedAtMs - record.calledAtMs;
        placement.endMs = p.record.endedAtMs - record.calledAtMs;
        ending.sounds.push_back(placement);
    }

    // The caption: file, mode, screen, decode scale, length, the warnings' short names.
    double scale = picture ? ObservedDecodeScale(record, *picture) : 0;
    if (scale == 0 && picture) scale = picture->decodeScale;
    ending.caption.title = FileLabel(setup) + ", " + ModeWords(options.mode) + " show";
    std::string line = "screen " + std::to_string(options.screenWidth) + "\u00d7" +
                       std::to_string(options.screenHeight) + "    decode scale " +
                       (scale >= 1  ? std::string("1 (full size)")
                        : scale > 0 ? ScaleName(scale)
                                    : std::string("unknown")) +
                       "    " + std::to_string(result.frames.size()) + " frames    length " +
                       Ms(result.showEndMs);
    if (result.showEndMs != result.screenEndMs) {
        line += " (window closed at " + Ms(result.screenEndMs) + ")";
    }
    ending.caption.lines.push_back(line);
    std::vector<Warning> allWarnings;
    if (picture) allWarnings = picture->warnings;
    allWarnings.insert(allWarnings.end(), result.warnings.begin(), result.warnings.end());
    std::string warnings;
    for (const Warning& w : allWarnings) warnings += (warnings.empty() ? "" : ", ") + w.id;
    ending.caption.lines.push_back("warnings: " + (warnings.empty() ? "none" : warnings));

    if (writer->SheetStride() > 1) {
        ending.caption.lines.push_back("thumbnails: every " + Ordinal(writer->SheetStride()) +
                                       " frame (frame-NNNN.png holds them all)");
    }
    if (!writer->Finish(ending, error)) return false;

    std::FILE* f = std::fopen((dir + "/timeline.json").c_str(), "wb");
    const bool wrote =
        f && std::fwrite(timelineText.data(), 1, timelineText.size(), f) == timelineText.size();
    if ((f && std::fclose(f) != 0) || !wrote) {
        *error = "cannot write timeline.json";
        return false;
    }

    ReportPage page;
    page.title = "The " + ModeWords(options.mode) + " show of " + FileLabel(setup);
    page.summary = ShowSummary(options, setup, record, result);
    for (const std::string& note : writer->Clip().Notes()) page.summary.push_back("note: " + note);
    if (result.showedPicture && writer->Clip().Made()) page.clipPath = dir + "/recording.mp4";
    page.record = &record;
    page.result = &result;
    page.picture = picture;
    page.warnings = allWarnings;
    page.peaks = writer->Clip().Peaks();
    page.peakBucketMs = writer->Clip().PeakBucketMs();
    page.memoryLimit = options.memoryLimit;
    return WriteReportPage(dir + "/report.html", page, error);
}

}  // namespace preview
