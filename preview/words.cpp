// Shared wording; see words.h.
#include "preview/words.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace preview {

const char kProgram[] = "bootreel-preview";

std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
        digits.insert(static_cast<std::size_t>(i), ",");
    }
    return digits;
}

std::string BytesText(std::uint64_t n) {
    return Grouped(n) + " bytes";
}

std::string Ms(std::uint64_t ms) {
    return std::to_string(ms) + " ms";
}

std::string DurationText(std::uint64_t ms) {
    if (ms < 10000) return Grouped(ms) + " ms";
    std::ostringstream out;
    out.precision(ms < 120000 ? 3 : 2);
    if (ms < 120000) {
        out << ms / 1000.0 << " s";
    } else if (ms < 7200000) {
        out << ms / 60000.0 << " min";
    } else {
        out << ms / 3600000.0 << " h";
    }
    return out.str();
}

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Ordinal(std::size_t n) {
    const std::size_t tens = n % 100, ones = n % 10;
    const char* suffix = (tens >= 11 && tens <= 13) ? "th"
                         : ones == 1                ? "st"
                         : ones == 2                ? "nd"
                         : ones == 3                ? "rd"
                                                    : "th";
    return std::to_string(n) + suffix;
}

std::string FrameList(const std::vector<int>& indexes) {
    std::ostringstream out;
    const std::size_t shown = std::min<std::size_t>(indexes.size(), 8);
    for (std::size_t i = 0; i < shown; ++i) out << (i ? ", " : "") << indexes[i];
    if (indexes.size() > shown) out << " and " << indexes.size() - shown << " more";
    return out.str();
}

std::string ScaleName(double scale) {
    if (scale >= 1.0) return "1";
    if (scale <= 0) return "none";
    return "1/" + std::to_string(static_cast<int>(1.0 / scale + 0.5));
}

std::string SizeName(double scale) {
    return scale >= 1.0 ? "full size" : ScaleName(scale) + " size";
}

std::string FrameFileName(std::size_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04zu.png", i);
    return name;
}

std::string ModeWords(const std::string& mode) {
    return mode == "shutdown" ? "shut-down" : "start-up";
}

}  // namespace preview
