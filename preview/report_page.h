// report.html: one page per show that a device maker can mail or attach to a ticket. It holds
// everything in itself (the clip as a data URL, the timeline as inline SVG, no scripts or
// styles from elsewhere), so it opens from disk in any browser without a server.
//
// The page shows: a summary of what the device showed when; the recording; the timeline, one
// bar per composed frame on the device's 20 ms grid with the window's life and the sound (its
// loudness envelope) on the same axis; the warnings with what to do about them; the memory the
// show needs at each decode scale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/options.h"
#include "preview/picture_report.h"
#include "preview/show.h"

namespace preview {

struct ReportPage {
    std::string title;                 // "Start-up show of \Storage\boot.gif"
    std::vector<std::string> summary;  // sentences: what the device showed, when
    std::string clipPath;              // recording.mp4 to embed ("" for none)
    const ShowRecord* record = nullptr;
    const ShowResult* result = nullptr;
    const PictureReport* picture = nullptr;  // may be null
    std::vector<Warning> warnings;           // the picture's and the show's, each once
    std::vector<float> peaks;                // the sound track's envelope
    std::uint32_t peakBucketMs = 20;
    std::uint64_t memoryLimit = 0;
};

bool WriteReportPage(const std::string& path, const ReportPage& page, std::string* error);

// The page of a run with both shows: each show's summary and a link to its own page.
bool WriteBothShowsPage(const std::string& path, const std::vector<std::string>& startup,
                        const std::vector<std::string>& shutdown, std::string* error);

// Text for HTML element content and attribute values.
std::string HtmlEscape(const std::string& text);

}  // namespace preview
