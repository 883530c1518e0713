// The previewer's shared wording: numbers, times, sizes and lists as every message, file and
// page spells them, so that one value reads the same wherever it appears.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace preview {

// The program's name, as it starts every message on standard error.
extern const char kProgram[];

std::string Grouped(std::uint64_t n);        // thousands grouped: "1,228,800"
std::string BytesText(std::uint64_t n);      // "1,228,800 bytes"
std::string Ms(std::uint64_t ms);            // "4120 ms" (show times, as the timeline gives them)
std::string DurationText(std::uint64_t ms);  // "980 ms", "12.3 s", "98 min", "2.5 h"
std::string Plural(std::size_t n, const char* one, const char* many);  // "1 frame", "2 frames"
std::string Ordinal(std::size_t n);  // "1st", "2nd", "11th", "21st", "22nd"
// Frame numbers, at most eight of them: "0, 3, 5 and 12 more".
std::string FrameList(const std::vector<int>& indexes);
std::string ScaleName(double scale);  // "1", "1/2", ... "1/16"; "none" for 0
std::string SizeName(double scale);   // "full size", "1/2 size", ...
// The name of the i-th frame picture of a show: "frame-0007.png".
std::string FrameFileName(std::size_t i);
// "start-up" or "shut-down".
std::string ModeWords(const std::string& mode);

}  // namespace preview
