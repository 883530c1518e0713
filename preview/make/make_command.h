// `bootreel-preview make`: from a designer's video, animation or PNG frames to the files a
// device shows as intended (boot.gif, boot.wav, boot.reg), with the preview of the result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/make/source_frames.h"

namespace preview {

struct MakeOptions {
    std::string input;
    std::string sound;     // a separate sound; "" for the input's own track
    bool noSound = false;
    int screenWidth = 240, screenHeight = 320;
    std::uint64_t memoryLimit = 0;  // 0: none
    std::string outDir = "boot";
    FitMode fit = FitMode::Letterbox;
    std::uint32_t background = 0x000000;  // the bars' colour, 0xRRGGBB
    std::uint32_t frameMs = 0;            // 0: the source's frame interval on the 20 ms grid
    double pngFps = 25;
    std::uint32_t holdMs = 0;             // 0: one frame interval
    std::string mode = "startup";
    std::string deviceDir = "\\Storage";
    int soundRate = 22050;
    int colours = 256;
    float dither = 0.5f;
    int threshold = 6;
    bool noPreview = false;  // only the device's files
};

struct MakeParse {
    bool ok = false;
    bool help = false;
    std::string error;
    MakeOptions options;
};

// The arguments after "make".
MakeParse ParseMakeArguments(const std::vector<std::string>& args);
std::string MakeUsageText();

// The frame interval on the device's 20 ms grid nearest the source's (at least one pass).
std::uint32_t GridFrameMs(double sourceFrameMs);

// The registry file for the made files.
std::string MakeRegistryText(const std::string& mode, const std::string& deviceDir, bool sound);

// Runs `make` with the arguments after the program name (the first is "make"); the exit
// codes are those of the other commands.
int RunMake(const std::vector<std::string>& args);

}  // namespace preview
