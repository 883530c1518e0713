// Command line of bootreel-preview: the commands, their options and the limits that keep a
// mistyped value from turning into an absurd simulated device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace preview {

enum class Command { Show, Info, Help, Version };

struct Options {
    Command command = Command::Show;
    bool noArguments = false;  // plain `bootreel-preview`: the bundled sample

    // show
    std::string mode = "startup";  // "startup", "shutdown" or "both" (not with --live)
    std::string registryFile;
    std::string deviceRoot;
    std::string image;
    std::string sound;
    std::optional<std::uint32_t> endAfterMs;
    std::string outDir = "preview";
    bool live = false;

    // show and info
    int screenWidth = 240;
    int screenHeight = 320;
    std::uint64_t memoryLimit = 0;  // 0: the device gives whatever the frames need

    // info
    std::string infoFile;
    bool json = false;

    // Testing aids for --live (not in the usage text): close the window after this many
    // milliseconds of real time, and save what the window shows at a given time as PNG.
    std::optional<std::uint32_t> liveCloseAfterMs;
    std::string liveSnapshotPath;
    std::uint32_t liveSnapshotAtMs = 1000;
};

// Limits of the values that describe the simulated device.
constexpr int kMaxScreenSide = 8192;
constexpr std::uint64_t kMinMemoryLimit = 1024;
constexpr std::uint64_t kMaxMemoryLimit = std::uint64_t{64} << 30;
constexpr std::uint32_t kMaxEndAfterMs = 24u * 3600u * 1000u;

struct ParseResult {
    bool ok = false;
    std::string error;  // one line, without the program name
    Options options;
};

// Parses the arguments after the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

// "WxH" with both sides in 1..kMaxScreenSide.
bool ParseScreenSize(const std::string& text, int* width, int* height);
// A byte count, optionally with a K, M or G suffix (powers of 1024).
bool ParseByteCount(const std::string& text, std::uint64_t* bytes);

std::string UsageText();

}  // namespace preview
