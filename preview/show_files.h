// What a recorded show becomes: the words that say what the device showed and when (for the
// summary on the terminal, the report page and the contact sheet's caption), and the files
// written after the show (the recordings' ends, the contact sheet, timeline.json and
// report.html).
#pragma once

#include <string>
#include <vector>

#include "preview/options.h"
#include "preview/picture_report.h"
#include "preview/recording.h"
#include "preview/show.h"
#include "preview/words.h"

namespace preview {

// Sentences, in order of show time: the frames and how long the last stayed, the window, the
// sound, the end and its events.
std::vector<std::string> ShowSummary(const Options& options, const DeviceSetup& setup,
                                     const ShowRecord& record, const ShowResult& result,
                                     bool forTerminal = false);

// Completes the files in the folder `dir` after the show. `timelineText` is timeline.json's
// content.
bool FinishShowFiles(const std::string& dir, const Options& options, const DeviceSetup& setup,
                     const ShowRecord& record, const ShowResult& result,
                     const PictureReport* picture, ShowWriter* writer,
                     const std::string& timelineText, std::string* error);

}  // namespace preview
