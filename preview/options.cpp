// Command-line parsing; see options.h.
#include "preview/options.h"

#include <cctype>
#include <limits>

namespace preview {
namespace {

bool ParseUnsigned(const std::string& text, std::uint64_t limit, std::uint64_t* value) {
    if (text.empty() || text.size() > 20) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        if (v > (limit - static_cast<std::uint64_t>(c - '0')) / 10) return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    *value = v;
    return true;
}

}  // namespace

bool ParseScreenSize(const std::string& text, int* width, int* height) {
    std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    std::uint64_t w = 0, h = 0;
    if (!ParseUnsigned(text.substr(0, x), kMaxScreenSide, &w) ||
        !ParseUnsigned(text.substr(x + 1), kMaxScreenSide, &h) || w == 0 || h == 0) {
        return false;
    }
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

bool ParseByteCount(const std::string& text, std::uint64_t* bytes) {
    if (text.empty()) return false;
    std::string digits = text;
    int shift = 0;
    switch (std::toupper(static_cast<unsigned char>(text.back()))) {
        case 'K':
            shift = 10;
            break;
        case 'M':
            shift = 20;
            break;
        case 'G':
            shift = 30;
            break;
        default:
            break;
    }
    if (shift != 0) digits.pop_back();
    std::uint64_t v = 0;
    if (!ParseUnsigned(digits, std::numeric_limits<std::uint64_t>::max() >> shift, &v)) {
        return false;
    }
    *bytes = v << shift;
    return true;
}

ParseResult ParseArguments(const std::vector<std::string>& args) {
    ParseResult result;
    Options& o = result.options;
    auto fail = [&result](const std::string& message) {
        result.ok = false;
        result.error = message;
        return result;
    };
    if (args.empty()) {
        o.noArguments = true;
        result.ok = true;
        return result;
    }

    std::size_t i = 0;
    if (args[0] == "show") {
        ++i;
    } else if (args[0] == "info") {
        o.command = Command::Info;
        ++i;
    } else if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        o.command = Command::Help;
        result.ok = true;
        return result;
    } else if (args[0].empty() || args[0][0] != '-') {
        return fail("unknown command '" + args[0] + "' (commands: show, info; see --help)");
    }

    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        bool hasInlineValue = false;
        std::string name = a;
        if (a.rfind("--", 0) == 0) {
            std::size_t eq = a.find('=');
            if (eq != std::string::npos) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
                hasInlineValue = true;
            }
        }
        auto takeValue = [&]() -> bool {
            if (hasInlineValue) return true;
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        auto needsValue = [&](const char* what) {
            return fail("option " + name + " needs " + what);
        };
        const bool show = o.command == Command::Show;

        if (name == "--help" || name == "-h") {
            o.command = Command::Help;
            result.ok = true;
            return result;
        } else if (name == "--screen") {
            if (!takeValue()) return needsValue("a size WxH");
            if (!ParseScreenSize(value, &o.screenWidth, &o.screenHeight)) {
                return fail("--screen '" + value +
                            "' is not a screen size WxH with sides of 1 to " +
                            std::to_string(kMaxScreenSide) + " pixels");
            }
        } else if (name == "--memory-limit") {
            if (!takeValue()) return needsValue("a number of bytes");
            std::uint64_t bytes = 0;
            if (!ParseByteCount(value, &bytes) || bytes < kMinMemoryLimit ||
                bytes > kMaxMemoryLimit) {
                return fail("--memory-limit '" + value +
                            "' is not a byte count from 1K to 64G (suffixes K, M, G allowed)");
            }
            o.memoryLimit = bytes;
        } else if (!show && name == "--json") {
            o.json = true;
        } else if (show && name == "--mode") {
            if (!takeValue()) return needsValue("startup or shutdown");
            if (value != "startup" && value != "shutdown") {
                return fail("--mode '" + value + "' must be startup or shutdown");
            }
            o.mode = value;
        } else if (show && (name == "--registry" || name == "--device-root" || name == "--image" ||
                            name == "--sound" || name == "--out" || name == "--live-snapshot")) {
            if (!takeValue() || value.empty()) return needsValue("a path");
            if (name == "--registry") o.registryFile = value;
            if (name == "--device-root") o.deviceRoot = value;
            if (name == "--image") o.image = value;
            if (name == "--sound") o.sound = value;
            if (name == "--out") o.outDir = value;
            if (name == "--live-snapshot") o.liveSnapshotPath = value;
        } else if (show && (name == "--end-after" || name == "--live-close-after" ||
                            name == "--live-snapshot-at")) {
            if (!takeValue()) return needsValue("a number of milliseconds");
            std::uint64_t ms = 0;
            if (!ParseUnsigned(value, kMaxEndAfterMs, &ms)) {
                return fail(name + " '" + value + "' is not a number of milliseconds up to " +
                            std::to_string(kMaxEndAfterMs));
            }
            if (name == "--end-after") o.endAfterMs = static_cast<std::uint32_t>(ms);
            if (name == "--live-close-after") o.liveCloseAfterMs = static_cast<std::uint32_t>(ms);
            if (name == "--live-snapshot-at") o.liveSnapshotAtMs = static_cast<std::uint32_t>(ms);
        } else if (show && name == "--live") {
            o.live = true;
        } else if (!a.empty() && a[0] == '-') {
            return fail("unknown option '" + a + "' for " + (show ? "show" : "info") +
                        " (see --help)");
        } else if (!show && o.infoFile.empty()) {
            o.infoFile = a;
        } else {
            return fail("unexpected argument '" + a + "' (see --help)");
        }
    }
    if (o.command == Command::Info && o.infoFile.empty()) {
        return fail("info needs a picture file: bootreel-preview info FILE.gif");
    }
    if (!o.liveSnapshotPath.empty() && !o.live) {
        return fail("--live-snapshot needs --live");
    }
    if (o.liveCloseAfterMs && !o.live) return fail("--live-close-after needs --live");
    result.ok = true;
    return result;
}

std::string UsageText() {
    return R"(bootreel-preview: see on the desktop what the device will show at start-up or shut-down.

Usage:
  bootreel-preview                      play the bundled sample start-up show into preview/
  bootreel-preview [show] [options]     run a show on the simulated device
  bootreel-preview info FILE.gif [--screen WxH] [--memory-limit BYTES] [--json]
  bootreel-preview --help

Show options:
  --mode startup|shutdown   which show to run (default startup)
  --registry FILE.reg       the device's registry as a .reg file (REGEDIT4 or version 5.00)
  --device-root DIR         the folder that stands for the device's root file system; device
                            paths such as \Storage\boot.gif resolve under it
  --image FILE              the picture (placed on the device and written into the registry)
  --sound FILE              the sound (likewise, with InitVol set so that it plays)
  --screen WxH              the device's screen (default 240x320)
  --end-after MS            signal the end request at this show time, as the boot sequence does
  --memory-limit BYTES      bitmap memory the device can give (suffixes K, M, G)
  --out DIR                 output folder (default preview), replaced as a whole at the end
  --live                    play in real time in a window, with sound

Without --image or --registry the bundled sample is shown.

Output (without --live): frame-NNNN.png (one per composed frame), timeline.json,
contact-sheet.png and recording.webp.

Exit codes: 0 the device showed the picture; 1 the device could not show it (the reason is
printed); 2 bad arguments or unreadable input files.
)";
}

}  // namespace preview
