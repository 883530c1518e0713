// The warning catalogue and every warning's decision; see warnings.h.
#include "preview/warnings.h"

#include <algorithm>
#include <map>

#include "platform/sim/wav.h"
#include "platform/sound.h"
#include "preview/device_setup.h"
#include "preview/picture_report.h"
#include "preview/show.h"
#include "preview/text.h"
#include "preview/words.h"

namespace preview {

const std::vector<WarningKind>& WarningCatalogue() {
    static const std::vector<WarningKind> catalogue = {
        // The picture file.
        {"notGif", "The file is no GIF: the device decodes only GIF and shows nothing."},
        {"undecodable", "The picture cannot be decoded at any scale the device tries."},
        {"truncated", "The file ends in the middle of a block."},
        {"unknownData", "Unknown data follows the frames; the device stops reading there."},
        {"singleFrame", "A single frame: the device plays only pictures of two frames or more."},
        {"noControlExtension", "Frames without a graphic control extension are shown for 1 s."},
        {"controlBlockSeparated",
         "A control block parted from its image by another extension is ignored."},
        // Its memory.
        {"noScaleFits", "The frames fit at no decode scale: the device shows nothing."},
        {"surfacesDontFit", "The drawing surfaces do not fit beside the frames."},
        {"reducedScale", "The device decodes the frames below full size."},
        {"frameOverhead", "The frames' palette copies and records take much program memory."},
        // Its timing on the device's 20 ms passes.
        {"zeroDelay", "Frames of delay 0 are shown for one pass."},
        {"judder", "Equal delays give unequal times on the screen."},
        {"slowerThanDelays", "Delays under one pass make the show slower than its delays."},
        {"lastFrameBarelySeen", "The last frame stays one pass, its delay is not waited for."},
        {"longShow", "The picture stays on the screen longer than a minute."},
        {"loopIgnored", "The device plays the picture once, whatever its loop count."},
        // Its place on the screen.
        {"largerThanScreen", "The picture is larger than the screen: its edges are cut."},
        {"firstFrameNotCovering", "The first frame does not cover the picture."},
        {"firstFrameTransparent", "The first frame has transparent pixels."},
        {"frameOutside", "Frames reach beyond the picture's edge."},
        // The sound and the show's end.
        {"noSoundPath", "The registry gives the device no usable sound path."},
        {"soundSilenced", "The sound level in the registry silences the sound."},
        {"soundMissing", "The sound file does not exist on the device."},
        {"soundUnplayable", "The device cannot play the sound file."},
        {"noShutdownEvent", "A shut-down show without sound never signals its end event."},
        {"longShutdownSound", "A long shut-down sound holds up the shut-down."},
    };
    return catalogue;
}

bool InCatalogue(const std::string& id) {
    for (const WarningKind& k : WarningCatalogue()) {
        if (id == k.id) return true;
    }
    return false;
}

Json WarningToJson(const Warning& w) {
    Json j = Json::object();
    j["id"] = w.id;
    j["text"] = w.text;
    if (!w.fix.empty()) j["fix"] = w.fix;
    return j;
}

Json WarningsToJson(const std::vector<Warning>& warnings) {
    Json list = Json::array();
    for (const Warning& w : warnings) list.push_back(WarningToJson(w));
    return list;
}

std::string WarningLines(const std::vector<Warning>& warnings, bool withFix) {
    std::string out;
    for (const Warning& w : warnings) {
        out += "warning: " + w.text + "\n";
        if (withFix) out += "  (" + w.id + ")" + (w.fix.empty() ? "" : " fix: " + w.fix) + "\n";
    }
    return out;
}

std::vector<Warning> MergeWarnings(const std::vector<Warning>& picture,
                                   const std::vector<Warning>& show,
                                   const std::string& reasonWarningId) {
    std::vector<Warning> merged;
    auto add = [&](const Warning& w) {
        if (!reasonWarningId.empty() && w.id == reasonWarningId) return;
        for (const Warning& m : merged) {
            if (m.id == w.id) return;
        }
        merged.push_back(w);
    };
    for (const Warning& w : picture) add(w);
    for (const Warning& w : show) add(w);
    return merged;
}

namespace {

// Collects a picture's warnings. What describes what the screen shows is kept only when the
// device shows the animation, so that no message contradicts the verdict.
struct Collector {
    std::vector<Warning>* out;
    bool shows;
    void Add(const char* id, const std::string& text, const std::string& fix = "") {
        out->push_back({id, text, fix});
    }
    void Shown(const char* id, const std::string& text, const std::string& fix) {
        if (shows) Add(id, text, fix);
    }
};

// The frames that some warning names, sorted by what it is about.
struct FrameLists {
    std::vector<int> noControl, zeroDelay, outside, underPass, separatedControl;
    std::string separatedBy;  // the block that parts the first separated control block
};

FrameLists ListFrames(const PictureReport& report) {
    FrameLists l;
    const std::size_t n = report.frames.size();
    for (const FrameReport& f : report.frames) {
        if (!f.hasControlExtension && f.controlSeparatedBy.empty()) l.noControl.push_back(f.index);
        if (!f.hasControlExtension && !f.controlSeparatedBy.empty()) {
            l.separatedControl.push_back(f.index);
            if (l.separatedBy.empty()) l.separatedBy = f.controlSeparatedBy;
        }
        if (f.hasControlExtension && f.delayCs == 0) l.zeroDelay.push_back(f.index);
        if (f.delayCs * 10 < static_cast<int>(kPassMs) && f.index + 1 < static_cast<int>(n)) {
            l.underPass.push_back(f.index);
        }
        if (f.left + f.width > report.width || f.top + f.height > report.height) {
            l.outside.push_back(f.index);
        }
    }
    return l;
}

void MemoryWarnings(const PictureReport& report, const PictureFindings& found, Collector& c) {
    const std::size_t n = report.frames.size();
    const ScaleMemory* chosen =
        found.chosen >= 0 ? &report.memory[static_cast<std::size_t>(found.chosen)] : nullptr;
    const ScaleMemory* firstFitting =
        found.firstFitting >= 0 ? &report.memory[static_cast<std::size_t>(found.firstFitting)]
                                : nullptr;
    const std::string working = WorkingLimits(report.memory);
    if (!firstFitting) {
        const ScaleMemory& last = report.memory.back();
        c.Add("noScaleFits",
              "The frames fit at no decode scale: " +
                  WhyScaleFails(last, report.memoryLimit, report.largestBitmapBytes) +
                  ". Every attempt fails, so the window opens and closes at once.",
              working.empty() ? "Make the picture or its frames smaller." : working);
    } else if (!chosen) {
        c.out->push_back(UndecodableWarning(found.decodeError, true));
    } else if (!report.surfacesFit && n >= 2) {
        std::string why = found.surfacesOverCap
                              ? "the drawing surfaces (" + BytesText(report.surfaceBytes) +
                                    ") exceed the largest bitmap the device makes"
                              : "the drawing surfaces (" + BytesText(report.surfaceBytes) +
                                    ") do not fit beside them";
        c.Add("surfacesDontFit",
              "The frames fit at " + SizeName(chosen->scale) + " (" +
                  BytesText(chosen->frameBytes) + "), but " + why +
                  ": the render thread cannot start and the device shows nothing (it does not "
                  "try a smaller scale for the surfaces).",
              working.empty() ? "Use a smaller screen or picture." : working);
    } else if (chosen->scale < 1.0 && n >= 2) {
        std::string why;
        const bool dataError = firstFitting != chosen;
        if (dataError) {
            why = "the frames' data cannot be decoded at " + SizeName(firstFitting->scale) + " (" +
                  found.decodeError + "), so it goes down the scales until a decode succeeds";
        } else {
            for (const ScaleMemory& m : report.memory) {
                if (&m == chosen) break;
                why += (why.empty() ? "" : "; ") +
                       WhyScaleFails(m, report.memoryLimit, report.largestBitmapBytes);
            }
        }
        std::string fix;
        const ScaleMemory& full = report.memory.front();
        if (dataError) {
            fix = "Re-save the picture with an image editor or gifsicle and check it again.";
        } else if (full.overBitmapCap) {
            fix = "Make frame " + std::to_string(full.largestFrame) +
                  " smaller: no frame may need "
                  "more than " +
                  BytesText(report.largestBitmapBytes) + " at full size.";
        } else if (full.works) {
            fix = "Give the device at least " + BytesText(full.minLimit) +
                  " of bitmap memory to show it at full size, or make the picture smaller.";
        } else {
            fix = working;
        }
        c.Add("reducedScale",
              "The device decodes the frames at " + SizeName(chosen->scale) + ": " + why + ". " +
                  (chosen->frameBytes == 0
                       ? "At that size no frame keeps a pixel, so the screen shows only the white "
                         "background."
                       : "The picture looks coarser."),
              fix);
    }
    if (chosen && n >= 2) {
        const std::uint64_t heap = chosen->frameHeapBytes;
        if (heap > (1u << 20) || (report.memoryLimit != 0 && heap * 4 > report.memoryLimit)) {
            c.Add("frameOverhead",
                  "The " + Grouped(n) + " frames take " + BytesText(heap) +
                      " of program memory beside their pixels (a " + Grouped(kFramePaletteBytes) +
                      "-byte palette copy and about " + Grouped(kFrameRecordBytes) +
                      " bytes of records each, at every decode scale): a device short of memory "
                      "fails to load the picture at every scale.",
                  "Use fewer frames: drop in-between frames and lengthen the delays of the rest.");
        }
    }
}

void BlockWarnings(const PictureReport& report, const PictureFindings& found, Collector& c) {
    const std::size_t n = report.frames.size();
    if (n == 1) {
        c.Add("singleFrame",
              "The picture has a single frame: the device shows nothing for it (only pictures "
              "of two frames or more are played).",
              "Add a second frame (a copy of the first will do).");
    }
    if (found.endsInsideBlock) {
        c.Add("truncated",
              "The file ends in the middle of a block (it looks cut short): the "
              "device shows the frames it finds, and the last one may be incomplete.",
              "Copy the file again, or re-save it.");
    } else if (found.junkAfterFrames) {
        c.Add("unknownData",
              "Unknown data at byte " + std::to_string(found.junkOffset) +
                  ": the device stops reading there and shows the frames before it.",
              "Re-save the picture so that nothing follows its last frame.");
    }
    const FrameLists lists = ListFrames(report);
    const std::vector<int>& noControl = lists.noControl;
    const std::vector<int>& separatedControl = lists.separatedControl;
    const std::vector<int>& zeroDelay = lists.zeroDelay;
    const std::string& separatedBy = lists.separatedBy;
    if (!noControl.empty() && n >= 2) {
        c.Add("noControlExtension", Plural(noControl.size(), "frame has", "frames have") +
                                        " no graphic control extension (" + FrameList(noControl) +
                                        "): each is shown for 1 s.");
    }
    if (!separatedControl.empty() && n >= 2) {
        const bool one = separatedControl.size() == 1;
        c.Add("controlBlockSeparated",
              std::string(one ? "Frame " : "Frames ") + FrameList(separatedControl) + ": " +
                  (one ? "its" : "each") + " control block (delay, transparency, disposal) is " +
                  "separated from the image by " + separatedBy +
                  "; the device ignores a control block that does not come right before its " +
                  "image, so " + (one ? "the frame is" : "these frames are") +
                  " shown for 1 s, with no transparency and disposal 0. Re-save the picture " +
                  "so that the loop block comes first (for example: gifsicle in.gif -o out.gif).");
    }
    if (!zeroDelay.empty() && n >= 2) {
        c.Shown("zeroDelay",
                Plural(zeroDelay.size(), "frame has", "frames have") + " delay 0 (" +
                    FrameList(zeroDelay) + "): each is shown for one pass, about 20 ms.",
                "Give each frame the delay it should have (in hundredths of a second).");
    }
}

// Equal delays should give equal times on the screen; on the 20 ms grid they do only when the
// delay is a multiple of 20 ms.
void JudderWarning(const PictureReport& report, Collector& c) {
    const std::size_t n = report.frames.size();
    // Equal delays should give equal times on the screen; on the 20 ms grid they do only
    // when the delay is a multiple of 20 ms. The first frame (held one extra pass while the
    // loop starts its clock) and the last (one pass) are left out.
    std::map<int, std::pair<std::uint32_t, std::uint32_t>> spread;  // delay: min, max
    std::map<int, std::vector<int>> members;
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const FrameReport& f = report.frames[i];
        auto [it, added] = spread.emplace(f.delayCs, std::make_pair(f.onScreenMs, f.onScreenMs));
        if (!added) {
            it->second.first = std::min(it->second.first, f.onScreenMs);
            it->second.second = std::max(it->second.second, f.onScreenMs);
        }
        members[f.delayCs].push_back(f.index);
    }
    int worst = -1;
    std::uint32_t worstSpread = 0;
    for (const auto& [delay, range] : spread) {
        if (range.second - range.first >= kPassMs && range.second - range.first > worstSpread) {
            worst = delay;
            worstSpread = range.second - range.first;
        }
    }
    if (worst >= 0) {
        const int ms = worst * 10;
        const int lower = std::max(20, ms / 20 * 20), upper = (ms + 19) / 20 * 20;
        c.Shown("judder",
                "Frames with a delay of " + std::to_string(ms) + " ms are on the screen for " +
                    std::to_string(spread[worst].first) + " to " +
                    std::to_string(spread[worst].second) + " ms (frames " +
                    FrameList(members[worst]) +
                    "): the device changes frames only on its passes, 20 ms apart, so equal "
                    "delays give unequal times and the motion judders.",
                "Use delays that are multiples of 20 ms (2, 4, 6 ... hundredths of a second), "
                "for example " +
                    std::to_string(lower) +
                    (upper != lower ? " or " + std::to_string(upper) : std::string()) +
                    " ms instead of " + std::to_string(ms) + ".");
    }
}

void TimingWarnings(const PictureReport& report, Collector& c) {
    const std::size_t n = report.frames.size();
    const std::vector<int> underPass = ListFrames(report).underPass;
    if (n >= 3) JudderWarning(report, c);
    if (n >= 2) {
        std::uint64_t intended = 0;
        for (std::size_t i = 0; i + 1 < n; ++i) intended += report.frames[i].delayCs * 10u;
        const std::uint64_t actual = report.frames.back().composedAtMs;
        const std::uint64_t late = actual > intended + kPassMs ? actual - intended - kPassMs : 0;
        if (!underPass.empty() && late >= 100 && late * 10 > intended) {
            c.Shown("slowerThanDelays",
                    "The device reaches the last frame at " + Grouped(actual) +
                        " ms where the delays add up to " + Grouped(intended) +
                        " ms: it composes at most one frame per 20 ms pass, so each of the " +
                        Plural(underPass.size(), "frame", "frames") +
                        " with a delay under 20 ms (" + FrameList(underPass) +
                        ") is held for a whole pass.",
                    "Use delays of at least 2 hundredths of a second, or fewer frames.");
        }
        const FrameReport& last = report.frames.back();
        // Barely seen: it asks for more than twice the one pass it gets.
        if (static_cast<std::uint32_t>(last.delayCs) * 10 > 2 * kPassMs) {
            c.Shown("lastFrameBarelySeen",
                    "The last frame (" + std::to_string(last.index) + ") is on the screen for " +
                        std::to_string(last.onScreenMs) +
                        " ms, one pass, before the window closes: its delay of " +
                        Grouped(last.delayCs * 10u) + " ms is not waited for.",
                    "To hold the last picture for " + Grouped(last.delayCs * 10u) +
                        " ms, add a copy of it as a further frame: the frame before it then stays "
                        "for its full delay.");
        }
    }
    // Longer than a minute: seldom meant (a delay in hundredths of a second taken for
    // milliseconds), and every minute of it is a minute the device's screen is held.
    constexpr std::uint32_t kLongShowMs = 60000;
    if (n >= 2 && report.animationMs > kLongShowMs) {
        c.Shown("longShow",
                "The animation lasts " + DurationText(report.animationMs) +
                    " on the device, from its first frame until the window closes (its delays "
                    "add up to " +
                    DurationText(report.delaySumMs) +
                    "): a start-up or shut-down animation is seldom meant to run longer than a "
                    "minute.",
                "Check the frames' delays: they count in hundredths of a second (100 is 1 s).");
    }
}

void PlacementWarnings(const PictureReport& report, const PictureFindings& found, Collector& c) {
    const std::size_t n = report.frames.size();
    const std::vector<int> outside = ListFrames(report).outside;
    const ScaleMemory* chosen =
        found.chosen >= 0 ? &report.memory[static_cast<std::size_t>(found.chosen)] : nullptr;
    if (report.width > report.screenWidth || report.height > report.screenHeight) {
        c.Shown("largerThanScreen",
                "The picture (" + std::to_string(report.width) + "x" +
                    std::to_string(report.height) + ") is larger than the screen (" +
                    std::to_string(report.screenWidth) + "x" + std::to_string(report.screenHeight) +
                    "): the centre is shown and the edges are cut.",
                "Make the picture " + std::to_string(report.screenWidth) + "x" +
                    std::to_string(report.screenHeight) + " or smaller.");
    }
    if (n >= 1) {
        const FrameReport& f = report.frames[0];
        if (f.left > 0 || f.top > 0 || f.left + f.width < report.width ||
            f.top + f.height < report.height) {
            c.Shown("firstFrameNotCovering",
                    "The first frame (" + std::to_string(f.width) + "x" + std::to_string(f.height) +
                        " at " + std::to_string(f.left) + "," + std::to_string(f.top) +
                        ") does not cover the picture: white shows through where it does not.",
                    "Make the first frame cover the whole picture.");
        }
    }
    if (found.firstTransparent > 0) {
        c.Shown(
            "firstFrameTransparent",
            "The first frame has " +
                Plural(static_cast<std::size_t>(found.firstTransparent), "transparent pixel",
                       "transparent pixels") +
                (chosen && chosen->scale < 1.0 ? " at " + SizeName(chosen->scale) : std::string()) +
                ": the device's white background shows through them.",
            "Fill the first frame's transparent pixels with the colour they should show.");
    }
    if (!outside.empty()) {
        c.Shown("frameOutside",
                Plural(outside.size(), "frame reaches", "frames reach") +
                    " beyond the picture's edge (" + FrameList(outside) +
                    "): the part outside is not shown.",
                "Crop the frames to the picture's size.");
    }
    if (report.loopCount >= 0 && n >= 2) {
        c.Shown("loopIgnored",
                "The picture asks to be repeated (loop count " + std::to_string(report.loopCount) +
                    "): the device plays it once.",
                "Nothing, if one play is meant; otherwise repeat the frames in the file.");
    }
}

// What the sound will be, or why there is none, from the registry and the sound file; and in
// shut-down mode whether the boot sequence hears the end of the show.
std::vector<Warning> SoundWarnings(const ShowRecord& record, const DeviceSetup& setup,
                                   const ShowResult& result) {
    std::vector<Warning> warnings;
    const bool shutdown = setup.mode == "shutdown";
    const std::string levelWhere =
        "the value InitVol under HKEY_CURRENT_USER\\ControlPanel\\SoundCategories\\System";
    const bool soundStepReached = result.showedPicture || result.endHow == "endRequest" ||
                                  result.endHow == "doneEvent" || result.endHow == "closePosted" ||
                                  !record.sounds.empty();
    if (!setup.sound.problem.empty() && (setup.soundPath.empty() || record.sounds.empty())) {
        warnings.push_back({"noSoundPath", "No sound: " + setup.sound.problem + "."});
    } else if (!setup.soundPath.empty() && (!setup.hasSoundLevel || setup.soundLevel == 0)) {
        std::string why;
        if (setup.hasSoundLevel) {
            why = levelWhere + " is 0 (silent)";
        } else if (setup.soundLevelType) {
            why = levelWhere + " is of type " + RegistryTypeName(*setup.soundLevelType) + " (" +
                  std::to_string(setup.soundLevelSize) +
                  " bytes), not the 32-bit number REG_DWORD (4) the device reads, so it counts "
                  "as 0 (silent)";
        } else {
            why =
                "the registry has no value InitVol under "
                "HKEY_CURRENT_USER\\ControlPanel\\SoundCategories\\System"
                " (a 32-bit number, REG_DWORD; 0 is silent, any other value lets the sound "
                "play), which the device counts as 0";
        }
        warnings.push_back({"soundSilenced", "The device plays no sound: " + why + "."});
    } else if (!setup.soundPath.empty() && record.sounds.empty() && soundStepReached) {
        warnings.push_back(
            {"soundMissing", "No sound: the sound " + Utf8(setup.soundPath) +
                                 " (the value WAV under " + "HKEY_LOCAL_MACHINE\\" +
                                 Utf8(ModeKey(setup.mode)) + ") does not exist on the device" +
                                 (setup.deviceRoot.empty() ? " (no --device-root was given)" : "") +
                                 "."});
    }
    for (const plat::sim::SoundRecord& s : record.sounds) {
        if (s.played) continue;
        std::string problem = "it is not a sound file the device can read";
        std::vector<std::uint8_t> bytes;
        std::string readError;
        if (!s.hostPath.empty() && ReadInputFile(s.hostPath, &bytes, &readError)) {
            plat::sim::detail::WavFormat format;
            std::string why;
            if (!plat::sim::detail::ParseWav(bytes, &format, &why) && !why.empty()) problem = why;
        }
        warnings.push_back(SoundUnplayableWarning(
            "the sound " + Utf8(s.path), problem,
            s.defaultSound ? "it plays its default beep (" +
                                 std::to_string(s.endedAtMs - s.startedAtMs) + " ms) in its place"
                           : "nothing is heard"));
        break;
    }
    if (shutdown && !record.shutdownEventAtMs) {
        warnings.push_back(
            {"noShutdownEvent",
             "The device never signals \"SHUTDOWN_ANIMATION_DONE\": it signals that event only "
             "when the shut-down sound has played, and this show played none. A boot sequence "
             "that waits for the event waits in vain; give the show a sound."});
    }
    return warnings;
}

}  // namespace

Warning NotGifWarning(const PictureReport& report) {
    return {"notGif",
            std::string("The file is ") +
                (report.formatCode ? std::string("a ") + report.formatName + " picture"
                                   : "not a picture format the device knows") +
                ": the device decodes only GIF, so the window opens and closes at once.",
            "Save the animation as a GIF."};
}

Warning UndecodableWarning(const std::string& errorText, bool afterEveryScale) {
    return {"undecodable",
            "The picture cannot be decoded: " + errorText +
                (afterEveryScale ? ". The device tries every smaller scale and fails at each, so "
                                   "the window opens and closes at once."
                                 : ". The window opens and closes at once."),
            "Re-save the picture with an image editor or gifsicle and check it again."};
}

std::vector<Warning> PictureWarnings(const PictureReport& report, const PictureFindings& found) {
    std::vector<Warning> warnings;
    Collector c{&warnings, report.DeviceShowsAnimation()};
    MemoryWarnings(report, found, c);
    BlockWarnings(report, found, c);
    TimingWarnings(report, c);
    PlacementWarnings(report, found, c);
    return warnings;
}

Warning SoundUnplayableWarning(const std::string& what, const std::string& problem,
                               const std::string& instead) {
    return {"soundUnplayable",
            "The device cannot play " + what + ": " + problem + "; " + instead + ".",
            "Save it as an uncompressed PCM WAV (for example: sox in.wav -e signed -b 16 "
            "out.wav)."};
}

std::vector<Warning> ShowWarnings(const ShowRecord& record, const DeviceSetup& setup,
                                  const ShowResult& result) {
    std::vector<Warning> warnings = SoundWarnings(record, setup, result);
    // A shut-down that waits for its sound: said when the wait is long (beyond 10 s a user may
    // think the device hangs).
    constexpr std::uint64_t kLongSoundMs = 10000;
    if (setup.mode == "shutdown" && !record.sounds.empty()) {
        const auto& sound = record.sounds.front();
        const std::uint64_t soundMs = sound.endedAtMs - sound.startedAtMs;
        const std::uint64_t closed =
            result.windowClosedAtMs ? *result.windowClosedAtMs - record.calledAtMs : 0;
        if (soundMs > kLongSoundMs) {
            std::string text = "The shut-down sound lasts " + DurationText(soundMs) +
                               ": the device goes on shutting down only when it has ended (the "
                               "entry point returns and \"SHUTDOWN_ANIMATION_DONE\" is "
                               "signalled then)";
            if (closed < soundMs) {
                text += ", " + DurationText(soundMs - closed) + " after the window closed at " +
                        Grouped(closed) + " ms";
            }
            warnings.push_back({"longShutdownSound", text + ".",
                                "Shorten the sound to about the length of the animation" +
                                    (closed ? " (" + Grouped(closed) + " ms)" : std::string()) +
                                    "."});
        }
    }
    return warnings;
}

}  // namespace preview
