// Command-line parsing; see options.h.
#include "preview/options.h"

#include <CLI/CLI.hpp>
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

namespace {

// What each option that takes a value expects, for the message when the value is missing.
std::string ValueDescription(const std::string& option) {
    if (option == "--screen") return "a size WxH";
    if (option == "--memory-limit") return "a number of bytes";
    if (option == "--mode") return "startup, shutdown or both";
    if (option == "--end-after" || option == "--live-close-after" ||
        option == "--live-snapshot-at") {
        return "a number of milliseconds";
    }
    return "a path";
}

// The parser's own message for an option given without its value starts with the option's
// name and a colon; ours names what the option needs. The same exception tells of a value given
// twice ("At Most 1 required but received 2"), which is refused rather than one of them chosen.
std::string MissingValueMessage(const std::string& parserMessage) {
    const std::string option = parserMessage.substr(0, parserMessage.find(':'));
    if (option.rfind("--", 0) != 0) return parserMessage;
    if (parserMessage.find("At Most") != std::string::npos) {
        return "option " + option + " is given more than once";
    }
    return "option " + option + " needs " + ValueDescription(option);
}

// "--name=" with nothing after the '=': the parser would take the next argument as the value
// (so "--mode= --out x" would set the mode to "--out"); it is refused as a missing value.
std::string EmptyInlineValue(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a.size() > 3 && a.rfind("--", 0) == 0 && a.back() == '=' &&
            a.find('=') == a.size() - 1) {
            const std::string option = a.substr(0, a.size() - 1);
            for (const char* known :
                 {"--screen", "--memory-limit", "--mode", "--end-after", "--live-close-after",
                  "--live-snapshot-at", "--registry", "--device-root", "--image", "--sound",
                  "--out", "--live-snapshot"}) {
                if (option == known) {
                    return "option " + option + " needs " + ValueDescription(option);
                }
            }
        }
    }
    return std::string();
}

}  // namespace

namespace {

// A CLI11 validator that gives our own one-line message, naming the option and the value.
CLI::Validator Checked(CLI::Validator check, std::string option, std::string expected) {
    return CLI::Validator(
        [check, option, expected](std::string& value) {
            const std::string given = value;
            return check(value).empty() ? std::string() : option + " '" + given + "' " + expected;
        },
        check.get_description());
}

// A screen size WxH, sides from 1 to kMaxScreenSide.
CLI::Validator ScreenSize() {
    return CLI::Validator(
        [](std::string& text) {
            int w = 0, h = 0;
            return ParseScreenSize(text, &w, &h) ? std::string() : std::string("not a size");
        },
        "WxH");
}

// A byte count with K, M or G, from kMinMemoryLimit to kMaxMemoryLimit, turned into bytes.
CLI::Validator ByteCount() {
    return CLI::Validator(
        [](std::string& text) {
            std::uint64_t bytes = 0;
            if (!ParseByteCount(text, &bytes) || bytes < kMinMemoryLimit ||
                bytes > kMaxMemoryLimit) {
                return std::string("not a byte count");
            }
            text = std::to_string(bytes);
            return std::string();
        },
        "BYTES");
}

// CLI11's messages for an option's relations, in the words of our usage text.
std::string RelationMessage(const CLI::ParseError& e) {
    std::string text = e.what();
    if (text.find("--out") != std::string::npos && text.find("--live") != std::string::npos) {
        return "--out cannot be used with --live: a live show plays in a window and writes no "
               "files (leave out --live to record into a folder)";
    }
    const std::size_t requires_ = text.find(" requires ");
    if (requires_ != std::string::npos) text.replace(requires_, 10, " needs ");
    return text;
}

// The options of the two commands, with their checks.
struct Parser {
    CLI::App app{"bootreel-preview"};
    CLI::App* show = nullptr;
    CLI::App* info = nullptr;
    CLI::App* helpCommand = nullptr;
    bool help = false, version = false;

    explicit Parser(Options& o) {
        // Help and version are ours: the usage text is written by hand, and a request for either
        // is a result, not a parse error.
        app.set_help_flag();
        app.allow_extras();
        app.add_flag("-h,--help", help);
        app.add_flag("--version", version);
        app.require_subcommand(0, 1);
        show = app.add_subcommand("show");
        info = app.add_subcommand("info");
        helpCommand = app.add_subcommand("help");
        helpCommand->allow_extras();
        const std::string screenText = "is not a screen size WxH with sides of 1 to " +
                                       std::to_string(kMaxScreenSide) + " pixels";
        for (CLI::App* command : {show, info}) {
            command->allow_extras();
            command->add_flag("-h,--help", help);
            command
                ->add_option_function<std::string>("--screen",
                                                   [&o](const std::string& text) {
                                                       ParseScreenSize(text, &o.screenWidth,
                                                                       &o.screenHeight);
                                                   })
                ->check(Checked(ScreenSize(), "--screen", screenText));
            command->add_option("--memory-limit", o.memoryLimit)
                ->transform(
                    Checked(ByteCount(), "--memory-limit",
                            "is not a byte count from 1K to 64G (suffixes K, M, G allowed)"));
        }
        AddShowOptions(o);
        info->add_option("file", o.infoFile);
        info->add_option("--sound", o.sound);
        info->add_flag("--json", o.json);
    }

    void AddShowOptions(Options& o) {
        // The device names its modes Startup and Shutdown; any case is accepted.
        show->add_option("--mode", o.mode)
            ->transform(Checked(CLI::IsMember({"startup", "shutdown", "both"}, CLI::ignore_case),
                                "--mode", "must be startup, shutdown or both"));
        show->add_option("--registry", o.registryFile);
        show->add_option("--device-root", o.deviceRoot);
        show->add_option("--image", o.image);
        show->add_option("--sound", o.sound);
        CLI::Option* out = show->add_option("--out", o.outDir);
        CLI::Option* live = show->add_flag("--live", o.live);
        live->excludes(out);
        const CLI::Validator ms = CLI::Range(std::int64_t{0}, std::int64_t{kMaxEndAfterMs});
        const std::string msText =
            "is not a number of milliseconds up to " + std::to_string(kMaxEndAfterMs);
        show->add_option("--end-after", o.endAfterMs)->check(Checked(ms, "--end-after", msText));
        show->add_option("--live-snapshot", o.liveSnapshotPath)->needs(live);
        show->add_option("--live-close-after", o.liveCloseAfterMs)
            ->check(Checked(ms, "--live-close-after", msText))
            ->needs(live);
        show->add_option("--live-snapshot-at", o.liveSnapshotAtMs)
            ->check(Checked(ms, "--live-snapshot-at", msText));
    }
};

// What is left after parsing: an unknown command, option or argument; "" when nothing.
std::string Leftovers(const Parser& p, const CLI::App* command, const char* commandName) {
    if (!p.app.remaining().empty()) {
        return "unknown command '" + p.app.remaining().front() +
               "' (commands: show, info, make; see --help)";
    }
    for (const std::string& extra : command->remaining()) {
        if (!extra.empty() && extra[0] == '-') {
            return "unknown option '" + extra + "' for " + commandName + " (see --help)";
        }
        return "unexpected argument '" + extra + "' (see --help)";
    }
    for (const char* pathOption :
         {"--registry", "--device-root", "--image", "--sound", "--out", "--live-snapshot"}) {
        const CLI::Option* given = command->get_option_no_throw(pathOption);
        if (given && given->count() != 0 && given->as<std::string>().empty()) {
            return std::string("option ") + pathOption + " needs a path";
        }
    }
    return "";
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& input) {
    ParseResult result;
    Options& o = result.options;
    auto fail = [&result](const std::string& message) {
        result.ok = false;
        result.error = message;
        return result;
    };
    if (input.empty()) {
        o.noArguments = true;
        result.ok = true;
        return result;
    }
    // Options without a command belong to `show`, the default command.
    std::vector<std::string> args = input;
    const std::string& first = args[0];
    if (!first.empty() && first[0] == '-' && first != "-h" && first != "--help" &&
        first != "--version") {
        args.insert(args.begin(), "show");
    }
    Parser p(o);
    const std::string emptyValue = EmptyInlineValue(args);
    if (!emptyValue.empty()) return fail(emptyValue);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        p.app.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        return fail(MissingValueMessage(e.what()));
    } catch (const CLI::ValidationError& e) {
        // CLI11 puts the option's name before our message, which names it already.
        const std::string text = e.what();
        const std::size_t colon = text.find(": ");
        return fail(text.rfind("--", 0) == 0 && colon != std::string::npos ? text.substr(colon + 2)
                                                                           : text);
    } catch (const CLI::RequiresError& e) {
        return fail(RelationMessage(e));
    } catch (const CLI::ExcludesError& e) {
        return fail(RelationMessage(e));
    } catch (const CLI::ParseError& e) {
        return fail(std::string(e.what()) + " (see --help)");
    }
    if (p.help || p.helpCommand->parsed()) {
        o.command = Command::Help;
        result.ok = true;
        return result;
    }
    if (p.version) {
        o.command = Command::Version;
        result.ok = true;
        return result;
    }
    CLI::App* command = p.info->parsed() ? p.info : p.show;
    if (p.info->parsed()) o.command = Command::Info;
    const std::string leftover = Leftovers(p, command, p.info->parsed() ? "info" : "show");
    if (!leftover.empty()) return fail(leftover);
    if (o.command == Command::Info && o.infoFile.empty()) {
        return fail("info needs a picture file: bootreel-preview info FILE.gif");
    }
    if (o.live && o.mode == "both") {
        return fail(
            "--mode both cannot be used with --live: a window plays one show (choose "
            "startup or shutdown)");
    }
    result.ok = true;
    return result;
}

std::string UsageText() {
    return R"(bootreel-preview: see on the desktop what the device will show at start-up or shut-down.

Usage:
  bootreel-preview                      play the bundled sample start-up show into preview/
  bootreel-preview [show] [options]     run a show on the simulated device
  bootreel-preview info FILE.gif [--sound FILE.wav] [--screen WxH] [--memory-limit BYTES] [--json]
  bootreel-preview info FILE.wav [--json]
  bootreel-preview make INPUT [options]  the device's files from a video (make --help)
  bootreel-preview --help | --version

Show options:
  --mode startup|shutdown|both
                            which show to run (default startup; any case); both: the two
                            shows, one after the other, into OUT/startup/ and OUT/shutdown/
  --registry FILE.reg       the device's registry as a .reg file (REGEDIT4 or version 5.00)
  --device-root DIR         the folder that stands for the device's root file system; device
                            paths such as \Storage\boot.gif resolve under it
  --image FILE              the picture (placed on the device and written into the registry)
  --sound FILE              the sound (likewise, with InitVol set so that it plays)
  --screen WxH              the device's screen (default 240x320)
  --end-after MS            signal the end request at this show time, as the boot sequence does
  --memory-limit BYTES      bitmap memory the device can give (suffixes K, M, G)
  --out DIR                 output folder (default preview); an existing one is replaced only
                            when an earlier preview wrote it
  --live                    play in real time in a window, with sound (writes no files)

Without --image or --registry the bundled sample is shown.

The registry a show reads:
  HKEY_LOCAL_MACHINE\Software\Korvel\Startup    (Shutdown for --mode shutdown)
    "Image"    REG_SZ     the picture's full device path, at most 259 characters
    "WAV"      REG_SZ     the sound's full device path, at most 259 characters
  HKEY_CURRENT_USER\ControlPanel\SoundCategories\System
    "InitVol"  REG_DWORD  the sound level: 0 or missing is silent, anything else plays
  For example:
    REGEDIT4

    [HKEY_LOCAL_MACHINE\Software\Korvel\Startup]
    "Image"="\\Storage\\boot.gif"
    "WAV"="\\Storage\\boot.wav"

    [HKEY_CURRENT_USER\ControlPanel\SoundCategories\System]
    "InitVol"=dword:00000005

Output (without --live): frame-NNNN.png (one per composed frame), timeline.json,
report.html (one page to share: recording, timeline, warnings, memory), contact-sheet.png,
recording.webp (no sound) and recording.mp4 (H.264 and AAC, with the sound).

Exit codes: 0 the device showed the picture; 1 the device could not show it (the reason is
printed); 2 bad arguments or unreadable input files; 3 the results could not be written (the
system's reason is printed, for example a full disk); 130 and 143 interrupted (SIGINT,
SIGTERM), with nothing left behind.
)";
}

}  // namespace preview
