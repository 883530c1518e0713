// Every warning the previewer gives, in one home: the catalogue of ids (each with what it is
// about), the functions that decide each warning from what the analysis and the show found,
// the one JSON form of a warning, and the one rule that merges the picture's warnings with the
// show's (for `info`, `show`, `--live`, the report page and timeline.json alike).
//
// A new warning goes here: an entry in the catalogue and its decision in the function for its
// source (the picture file, its memory, the show, the sound file).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "preview/json.h"

namespace preview {

struct Warning {
    Warning() = default;
    Warning(std::string id_, std::string text_, std::string fix_ = std::string())
        : id(std::move(id_)), text(std::move(text_)), fix(std::move(fix_)) {}

    std::string id;    // stable key for tools: "noControlExtension", "zeroDelay", ...
    std::string text;  // what the device does and why, in plain words
    std::string fix;   // what to change (may be empty when nothing needs changing)
};

// One entry of the catalogue: a warning's id and, in one sentence, what it is about.
struct WarningKind {
    const char* id;
    const char* about;
};
const std::vector<WarningKind>& WarningCatalogue();
bool InCatalogue(const std::string& id);

// The JSON form of a warning ({"id", "text", "fix" when there is one}), and of a list.
Json WarningToJson(const Warning& w);
Json WarningsToJson(const std::vector<Warning>& warnings);
// The text form: "warning: TEXT" and, with `withFix`, "  (id) fix: FIX" below it.
std::string WarningLines(const std::vector<Warning>& warnings, bool withFix);

// The merge rule: the picture's warnings, then the show's, each id once; the warning whose
// text the show's reason for showing nothing already holds (reasonWarningId) is left out.
std::vector<Warning> MergeWarnings(const std::vector<Warning>& picture,
                                   const std::vector<Warning>& show,
                                   const std::string& reasonWarningId = std::string());

struct PictureReport;
struct DeviceSetup;
struct ShowRecord;
struct ShowResult;

// What the picture's analysis found beyond its report, which the picture's warnings read.
struct PictureFindings {
    int chosen = -1;  // the row of report.memory the device decodes at; -1: none
    std::string decodeError;
    bool endsInsideBlock = false;  // the data stops in the middle of a block
    bool junkAfterFrames = false;  // an unknown byte where a block should start
    std::size_t junkOffset = 0;
    int firstTransparent = 0;      // transparent pixels of the first frame
    bool surfacesOverCap = false;  // a drawing surface exceeds the largest bitmap
    int firstFitting = -1;         // the first row whose frames fit; -1: none
};

// The picture's warnings, most serious first (report.warnings is set from this).
Warning NotGifWarning(const PictureReport& report);
Warning UndecodableWarning(const std::string& errorText, bool afterEveryScale);
std::vector<Warning> PictureWarnings(const PictureReport& report, const PictureFindings& found);

// What the show itself revealed: the sound and its registry values, the shut-down event and a
// shut-down sound long enough to hold up the shut-down.
std::vector<Warning> ShowWarnings(const ShowRecord& record, const DeviceSetup& setup,
                                  const ShowResult& result);

// A sound file the device cannot play (for `info` on a WAV): why, and what it plays instead.
Warning SoundUnplayableWarning(const std::string& what, const std::string& problem,
                               const std::string& instead);

}  // namespace preview
