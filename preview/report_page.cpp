// The show's report page; see report_page.h.
#include "preview/report_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

extern "C" {
#include <libavutil/base64.h>
}

#include "preview/memory_table.h"
#include "preview/words.h"

namespace preview {

namespace {

const char kStyle[] = R"(
body{font-family:"DejaVu Sans",Verdana,sans-serif;margin:24px;color:#222;max-width:1200px}
h1{font-size:22px;margin:0 0 6px} h2{font-size:17px;margin:28px 0 8px}
p.summary{margin:4px 0} .muted{color:#666}
video{max-height:480px;background:#000;border:1px solid #999}
.timeline{overflow-x:auto;border:1px solid #ccc;background:#fff;padding:4px 0}
.timeline text{font-size:11px;fill:#444}
ul.warnings{padding-left:20px} li.warning{margin:6px 0}
li.warning code{background:#fde9c8;padding:1px 4px;border-radius:3px}
.fix{color:#155d27}
table.memory{border-collapse:collapse} table.memory td,table.memory th{border:1px solid #bbb;
padding:3px 8px;text-align:right;white-space:nowrap}
table.memory tr.used{background:#e6f0ff;font-weight:bold}
)";

// Streams a file as base64 into `out` (libavutil's encoder, a chunk of whole 3-byte groups
// at a time). False when it cannot be read.
bool Base64File(const std::string& path, std::ostream& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    constexpr int kChunk = 3 * 16384;
    std::vector<char> buffer(kChunk);
    std::vector<char> encoded(AV_BASE64_SIZE(kChunk));
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto n = static_cast<int>(in.gcount());
        if (n == 0) break;
        if (!av_base64_encode(encoded.data(), static_cast<int>(encoded.size()),
                              reinterpret_cast<const std::uint8_t*>(buffer.data()), n)) {
            return false;
        }
        out << encoded.data();
    }
    return in.eof();
}

// The timeline's scale: `left` pixels of labels, then k pixels a millisecond.
struct TimeAxis {
    int left;
    double k;
    double X(std::uint64_t ms) const { return left + ms * k; }
};

// The sound row of the timeline: when each sound played, and the track's loudness.
void SoundRow(const ReportPage& page, const TimeAxis& axis, int soundY, int soundH,
              std::ostream& out) {
    const ShowResult& result = *page.result;
    const ShowRecord& record = *page.record;
    for (const PlayedSound& p : record.played) {
        const plat::sim::SoundRecord& s = p.record;
        const std::uint64_t from = s.startedAtMs - record.calledAtMs;
        const std::uint64_t to = std::min(s.endedAtMs - record.calledAtMs, result.showEndMs);
        if (to <= from) continue;
        out << "<rect class=\"sound-bar\" x=\"" << axis.X(from) << "\" y=\"" << soundY
            << "\" width=\"" << (to - from) * axis.k << "\" height=\"" << soundH
            << "\" fill=\"#f3dfb8\"><title>" << (s.played ? "sound" : "the device's default sound")
            << " from " << from << " to " << to << " ms</title></rect>\n";
    }
    if (!page.peaks.empty()) {
        // The loudness envelope, mirrored about the row's middle.
        std::ostringstream shape;
        const double mid = soundY + soundH / 2.0;
        const double half = soundH / 2.0 - 1;
        for (std::size_t b = 0; b < page.peaks.size(); ++b) {
            shape << (b ? "L" : "M") << axis.X(b * page.peakBucketMs) << " "
                  << mid - page.peaks[b] * half;
        }
        // The lower edge runs backwards to close the shape.
        for (std::size_t b = page.peaks.size(); b-- > 0;) {
            shape << "L" << axis.X(b * page.peakBucketMs) << " " << mid + page.peaks[b] * half;
        }
        out << "<path class=\"sound-envelope\" d=\"" << shape.str() << "Z\" fill=\"#c98a1b\"/>\n";
    }
}

// The timeline as SVG: frames, window and sound rows on one millisecond axis.
void Timeline(const ReportPage& page, std::ostream& out) {
    const ShowResult& result = *page.result;
    const std::uint64_t span = std::max<std::uint64_t>(result.showEndMs, 20);
    // About 5 pixels a pass, within what a page scrolls comfortably.
    const double k = std::max(std::min(0.25, 12000.0 / span), 600.0 / span);
    const int left = 70;
    const int width = left + static_cast<int>(std::ceil(span * k)) + 50;  // room for the last label
    const int frameY = 24, frameH = 40, windowY = 74, windowH = 14, soundY = 98, soundH = 40;
    const int height = soundY + soundH + 8;
    auto X = [&](std::uint64_t ms) { return left + ms * k; };

    out << "<div class=\"timeline\"><svg xmlns=\"http://www.w3.org/2000/svg\" id=\"timeline\" "
           "width=\""
        << width << "\" height=\"" << height << "\" data-left=\"" << left << "\" data-px-per-ms=\""
        << k << "\">\n";
    // The device's 20 ms passes, when they are wide enough to see.
    if (20 * k >= 3) {
        out << "<defs><pattern id=\"passes\" x=\"" << left << "\" width=\"" << 20 * k
            << "\" height=\"" << height << "\" patternUnits=\"userSpaceOnUse\"><path d=\"M0 0V"
            << height << "\" stroke=\"#e4e4e4\"/></pattern></defs>\n";
        out << "<rect class=\"grid\" x=\"" << left << "\" y=\"" << frameY << "\" width=\""
            << span * k << "\" height=\"" << height - frameY << "\" fill=\"url(#passes)\"/>\n";
    }
    // Axis: ticks at least 70 px apart.
    std::uint64_t step = 20;
    for (std::uint64_t s : {20, 100, 200, 500, 1000, 2000, 5000, 10000, 30000, 60000, 300000,
                            600000, 1800000, 3600000}) {
        step = s;
        if (s * k >= 70) break;
    }
    for (std::uint64_t t = 0; t <= span; t += step) {
        out << "<text x=\"" << X(t) << "\" y=\"14\">"
            << (step >= 1000 ? std::to_string(t / 1000) + " s" : Ms(t)) << "</text>"
            << "<path d=\"M" << X(t) << " 17V" << height << "\" stroke=\"#bbb\"/>\n";
    }
    out << "<text x=\"4\" y=\"" << frameY + 24 << "\">frames</text>"
        << "<text x=\"4\" y=\"" << windowY + 11 << "\">window</text>"
        << "<text x=\"4\" y=\"" << soundY + 24 << "\">sound</text>\n";

    if (result.frames.empty()) {
        out << "<text x=\"" << left + 6 << "\" y=\"" << frameY + 24
            << "\">the device showed no frame</text>\n";
    }
    for (std::size_t i = 0; i < result.frames.size(); ++i) {
        const ComposedFrame& f = result.frames[i];
        const std::uint64_t end = i + 1 < result.frames.size()
                                      ? result.frames[i + 1].composedAtMs
                                      : std::max(result.screenEndMs, f.composedAtMs);
        const std::uint64_t passes = (end - f.composedAtMs + 19) / 20;
        out << "<rect class=\"frame-bar\" data-frame=\"" << f.index << "\" data-start-ms=\""
            << f.composedAtMs << "\" x=\"" << X(f.composedAtMs) << "\" y=\"" << frameY
            << "\" width=\"" << std::max(0.5, (end - f.composedAtMs) * k) << "\" height=\""
            << frameH << "\" fill=\"" << (i % 2 ? "#7aa7e6" : "#2f6fc8")
            << "\" stroke=\"#fff\" stroke-width=\"0.5\"><title>frame " << f.index << ": "
            << f.composedAtMs << " to " << end << " ms, " << passes
            << (passes == 1 ? " pass" : " passes") << "</title></rect>\n";
    }
    out << "<rect class=\"window-open\" x=\"" << X(0) << "\" y=\"" << windowY << "\" width=\""
        << result.screenEndMs * k << "\" height=\"" << windowH
        << "\" fill=\"#9bc59d\"><title>window open, 0 to " << result.screenEndMs
        << " ms</title></rect>\n";
    if (result.showEndMs > result.screenEndMs) {
        out << "<rect class=\"window-closed\" x=\"" << X(result.screenEndMs) << "\" y=\"" << windowY
            << "\" width=\"" << (result.showEndMs - result.screenEndMs) * k << "\" height=\""
            << windowH << "\" fill=\"#ccc\"><title>window closed at " << result.screenEndMs
            << " ms; the show goes on until " << result.showEndMs << " ms</title></rect>\n";
    }
    SoundRow(page, {left, k}, soundY, soundH, out);
    out << "<path id=\"playhead\" d=\"M" << left << " 17V" << height
        << "\" stroke=\"#d02020\" stroke-width=\"2\"/>\n</svg></div>\n";
}

// Moves the timeline's play head with the recording, and a click on a frame's bar shows that
// frame in the recording. The recording notes its length once the browser has read it.
const char kScript[] = R"(
(function () {
  var video = document.getElementById("recording");
  var svg = document.getElementById("timeline");
  if (!video || !svg) return;
  var head = document.getElementById("playhead");
  var left = parseFloat(svg.dataset.left), k = parseFloat(svg.dataset.pxPerMs);
  function place() {
    var x = left + video.currentTime * 1000 * k;
    head.setAttribute("d", "M" + x + " 17V" + svg.getAttribute("height"));
    if (!video.paused) requestAnimationFrame(place);
  }
  video.addEventListener("loadedmetadata", function () {
    video.dataset.durationMs = Math.round(video.duration * 1000);
  });
  video.addEventListener("play", place);
  video.addEventListener("seeked", place);
  svg.addEventListener("click", function (e) {
    var start = e.target.dataset && e.target.dataset.startMs;
    if (start !== undefined) { video.currentTime = start / 1000 + 0.001; video.pause(); }
  });
})();
)";

void Warnings(const ReportPage& page, std::ostream& out) {
    out << "<h2>Warnings</h2>\n";
    if (page.warnings.empty()) {
        out << "<p class=\"no-warnings\">None: the device shows this picture as a desktop viewer "
               "would.</p>\n";
        return;
    }
    out << "<ul class=\"warnings\">\n";
    for (const Warning& w : page.warnings) {
        out << "<li class=\"warning\" data-id=\"" << HtmlEscape(w.id) << "\"><code>"
            << HtmlEscape(w.id) << "</code> " << HtmlEscape(w.text);
        if (!w.fix.empty()) out << "<div class=\"fix\">Fix: " << HtmlEscape(w.fix) << "</div>";
        out << "</li>\n";
    }
    out << "</ul>\n";
}

void Memory(const ReportPage& page, double usedScale, std::ostream& out) {
    if (!page.picture || page.picture->memory.empty()) return;
    const PictureReport& p = *page.picture;
    std::string verdict = p.memoryVerdict;
    if (!verdict.empty() && verdict[0] >= 'a' && verdict[0] <= 'z')
        verdict[0] = static_cast<char>(verdict[0] - 'a' + 'A');
    out << "<h2>Memory</h2>\n<p class=\"memory-verdict\">" << HtmlEscape(verdict)
        << ".</p>\n<p class=\"muted\">The device decodes every frame before the show and "
           "needs two drawing surfaces beside them; the memory limit counts both. It tries each "
           "scale in turn and takes the first whose frames fit. All sizes in bytes.</p>\n"
           "<table class=\"memory\"><tr>";
    const MemoryTableModel table = MemoryTable(p.memory, p.surfaceBytes, usedScale);
    for (const std::string& h : table.header) out << "<th>" << HtmlEscape(h) << "</th>";
    out << "</tr>\n";
    for (const MemoryTableModel::Row& row : table.rows) {
        out << "<tr" << (row.used ? " class=\"used\"" : "") << ">";
        for (const std::string& c : row.cells) out << "<td>" << HtmlEscape(c) << "</td>";
        out << "</tr>\n";
    }
    out << "</table>\n";
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool WriteReportPage(const std::string& path, const ReportPage& page, std::string* error) {
    std::ofstream out(path, std::ios::binary);
    if (!out) {
        *error = "cannot create " + path;
        return false;
    }
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>"
        << HtmlEscape(page.title) << "</title>\n<style>" << kStyle << "</style></head><body>\n"
        << "<h1>" << HtmlEscape(page.title) << "</h1>\n";
    for (const std::string& s : page.summary) {
        out << "<p class=\"summary\">" << HtmlEscape(s) << "</p>\n";
    }
    if (!page.clipPath.empty()) {
        out << "<h2>Recording</h2>\n<video id=\"recording\" controls preload=\"auto\" "
               "src=\"data:video/mp4;base64,";
        if (!Base64File(page.clipPath, out)) {
            *error = "cannot read " + page.clipPath + " for " + path;
            return false;
        }
        out << "\"></video>\n<p class=\"muted\">The screen as the device shows it, with the "
               "sound it plays; a dark card marks the closed window.</p>\n";
    }
    if (page.result && page.record) {
        out << "<h2>Timeline</h2>\n<p class=\"muted\">One bar per frame, as long as it stayed on "
               "the screen; the grid lines are the device's 20 ms passes. Hover a bar for its "
               "times.</p>\n";
        Timeline(page, out);
    }
    Warnings(page, out);
    const double used = page.record ? ShownDecodeScale(*page.record, page.picture, nullptr) : 0;
    Memory(page, used, out);
    out << "<script>" << kScript << "</script>\n</body></html>\n";
    out.flush();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool WriteBothShowsPage(const std::string& path, const std::vector<std::string>& startup,
                        const std::vector<std::string>& shutdown, std::string* error) {
    std::ofstream out(path, std::ios::binary);
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
           "<title>Start-up and shut-down shows</title>\n<style>"
        << kStyle << "</style></head><body>\n<h1>Start-up and shut-down shows</h1>\n";
    const struct {
        const char* title;
        const char* folder;
        const std::vector<std::string>* lines;
    } shows[] = {{"The start-up show", "startup", &startup},
                 {"The shut-down show", "shutdown", &shutdown}};
    for (const auto& show : shows) {
        out << "<h2><a href=\"" << show.folder << "/report.html\">" << show.title << "</a></h2>\n";
        for (const std::string& line : *show.lines) {
            out << "<p class=\"summary\">" << HtmlEscape(line) << "</p>\n";
        }
    }
    out << "<p class=\"muted\">Each show's page holds its recording, timeline, warnings and "
           "memory table; keep the folders together for these links.</p>\n</body></html>\n";
    out.flush();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace preview
