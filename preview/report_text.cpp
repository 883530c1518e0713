// The picture's report as text for the terminal and as JSON for tools; see picture_report.h.
#include <cstdio>
#include <sstream>

#include "preview/picture_report.h"
#include "preview/words.h"

namespace preview {

namespace {

// The memory table in aligned columns, the device's row marked.
std::string MemoryTableText(const MemoryTableModel& table) {
    const char* rowFormat = "    %-5s  %-11s  %13s  %10s  %13s  %21s  %13s  %s%s\n";
    auto line = [rowFormat](const std::vector<std::string>& c, const char* mark) {
        char text[400];
        std::snprintf(text, sizeof text, rowFormat, c[0].c_str(), c[1].c_str(), c[2].c_str(),
                      c[3].c_str(), c[4].c_str(), c[5].c_str(), c[6].c_str(), c[7].c_str(), mark);
        return std::string(text);
    };
    std::string out = line(table.header, "");
    for (const MemoryTableModel::Row& row : table.rows) {
        out += line(row.cells, row.used ? "  <- the device's" : "");
    }
    return out;
}

}  // namespace

std::string FormatReportText(const PictureReport& r) {
    std::ostringstream out;
    auto warnings = [&out, &r] {
        out << (r.warnings.empty() ? std::string("no warnings\n") : WarningLines(r.warnings, true));
    };
    out << r.path << "\n";
    out << "  format: " << r.formatName << ", " << Grouped(r.fileBytes) << " bytes\n";
    if (!r.parsed) {
        warnings();
        return out.str();
    }
    out << "  logical screen: " << r.width << "x" << r.height << ", " << r.globalColours
        << " global colours\n";
    out << "  device screen: " << r.screenWidth << "x" << r.screenHeight << ", shows "
        << r.shownWidth << "x" << r.shownHeight << " of the picture";
    if (r.displayScale != 1.0) out << " at display scale " << r.displayScale;
    out << "\n";
    out << "  frames: " << r.frames.size() << "\n";
    out << "      #  rectangle             delay  disposal  transparent  interlaced  shown at"
           "  on screen for\n";
    for (const FrameReport& f : r.frames) {
        char line[200];
        std::string rect = std::to_string(f.width) + "x" + std::to_string(f.height) + "+" +
                           std::to_string(f.left) + "+" + std::to_string(f.top);
        std::string delay =
            f.hasControlExtension ? std::to_string(f.delayCs * 10) + " ms" : "1000 ms*";
        std::string transparent =
            f.transparentIndex >= 0 ? std::to_string(f.transparentIndex) : "-";
        std::string onScreen = r.frames.size() >= 2 ? std::to_string(f.onScreenMs) + " ms" : "-";
        std::snprintf(line, sizeof line, "  %5d  %-20s %8s  %8d  %11s  %10s  %6u ms  %13s\n",
                      f.index, rect.c_str(), delay.c_str(), f.disposal, transparent.c_str(),
                      f.interlaced ? "yes" : "no", f.composedAtMs, onScreen.c_str());
        out << line;
    }
    if (r.frames.size() >= 2) {
        out << "  show length: about " << r.animationMs << " ms from the first frame to the end"
            << " (delays add up to " << r.delaySumMs
            << " ms; frames change only on the device's passes, 20 ms apart; the last frame "
               "stays for one pass, its delay is not waited for)\n";
    }
    out << "  memory at each decode scale (bitmap memory is what the memory limit counts):\n";
    out << MemoryTableText(MemoryTable(r.memory, r.surfaceBytes, r.decodeScale));
    out << "  decode scale: " << ScaleName(r.decodeScale) << "\n";
    out << "  verdict: " << r.memoryVerdict << "\n";
    // The decoder's message is in the "undecodable" warning, said once.
    warnings();
    return out.str();
}

Json ReportToJson(const PictureReport& r) {
    Json j = Json::object();
    j["path"] = r.path;
    j["fileBytes"] = r.fileBytes;
    j["format"] = r.formatName;
    j["isGif"] = r.isGif;
    j["decodable"] = r.decodable;
    if (!r.errorText.empty()) j["error"] = r.errorText;
    Json screen = Json::object();
    screen["width"] = r.screenWidth;
    screen["height"] = r.screenHeight;
    j["screen"] = screen;
    if (r.parsed) {
        Json picture = Json::object();
        picture["width"] = r.width;
        picture["height"] = r.height;
        picture["globalColours"] = r.globalColours;
        picture["loopCount"] = r.loopCount >= 0 ? Json(r.loopCount) : Json();
        picture["hasTrailer"] = r.hasTrailer;
        j["picture"] = picture;
        j["displayScale"] = r.displayScale;
        Json frames = Json::array();
        for (const FrameReport& f : r.frames) {
            Json fj = Json::object();
            fj["index"] = f.index;
            Json rect = Json::object();
            rect["left"] = f.left;
            rect["top"] = f.top;
            rect["width"] = f.width;
            rect["height"] = f.height;
            fj["rect"] = rect;
            fj["delayCs"] = f.delayCs;
            fj["disposal"] = f.disposal;
            fj["transparentIndex"] = f.transparentIndex >= 0 ? Json(f.transparentIndex) : Json();
            fj["interlaced"] = f.interlaced;
            fj["controlExtension"] = f.hasControlExtension;
            fj["composedAtMs"] = f.composedAtMs;
            fj["onScreenMs"] = r.frames.size() >= 2 ? Json(f.onScreenMs) : Json();
            frames.push_back(fj);
        }
        j["frames"] = frames;
        j["delaySumMs"] = r.delaySumMs;
        j["animationMs"] = r.frames.size() >= 2 ? Json(r.animationMs) : Json();
        Json memory = Json::array();
        for (const ScaleMemory& m : r.memory) {
            Json mj = Json::object();
            mj["scale"] = m.scale;
            mj["width"] = m.targetWidth;
            mj["height"] = m.targetHeight;
            mj["frameBytes"] = m.frameBytes;
            mj["largestFrameBytes"] = m.largestFrameBytes;
            mj["largestFrame"] = m.largestFrame >= 0 ? Json(m.largestFrame) : Json();
            mj["overLargestBitmap"] = m.overBitmapCap;
            mj["bitmapBytes"] = m.bitmapBytes;
            mj["frameHeapBytes"] = m.frameHeapBytes;
            mj["totalBytes"] = m.totalBytes;
            // The bitmap-memory limits that show the animation at this scale.
            Json works = Json();
            if (m.works) {
                works = Json::object();
                works["from"] = m.minLimit;
                works["to"] = m.maxLimit ? Json(m.maxLimit) : Json();
            }
            mj["showsWithLimit"] = works;
            memory.push_back(mj);
        }
        j["memory"] = memory;
        j["surfaceBytes"] = r.surfaceBytes;
        j["largestBitmapBytes"] = r.largestBitmapBytes;
        j["memoryLimit"] = r.memoryLimit ? Json(r.memoryLimit) : Json();
        j["decodeScale"] = r.decodeScale > 0 ? Json(r.decodeScale) : Json();
        j["memoryVerdict"] = r.memoryVerdict;
    }
    j["deviceShowsAnimation"] = r.DeviceShowsAnimation();
    j["warnings"] = WarningsToJson(r.warnings);
    return j;
}

}  // namespace preview