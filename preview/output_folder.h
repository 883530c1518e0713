// The output folder is written as a whole or not at all: files go into a sibling staging
// folder that replaces --out only once everything is written, so an interrupted or failed run
// never leaves a half-written preview that looks like a result.
//
// Only a folder the previewer wrote itself is ever replaced: every preview holds a marker
// file, and an existing --out without it is refused before the show runs (an empty folder
// is taken as it is, nothing in it can be lost).
#pragma once

#include <string>

namespace preview {

// The marker file's name and its first line.
extern const char kPreviewMarkerName[];
extern const char kPreviewMarkerText[];

class OutputFolder {
  public:
    explicit OutputFolder(std::string target) : target_(std::move(target)) {}
    ~OutputFolder();  // removes the staging folder unless Commit() succeeded

    // Checks the target (see above; a symbolic link to an earlier preview is followed, one to
    // nowhere refused), removes what runs that no longer run left beside it, then creates the
    // staging folder with the marker.
    bool Begin(std::string* error);
    std::string PathOf(const std::string& name) const { return staging_ + "/" + name; }
    // Replaces the target with the staging folder.
    bool Commit(std::string* error);
    // The target as the user named it, for messages (the staging folder is never named).
    const std::string& Name() const { return name_; }
    // Rewrites a message that names the staging folder to name the target instead.
    std::string InUserTerms(const std::string& message) const;

    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

  private:
    std::string target_;  // resolved
    std::string name_;    // as given
    std::string staging_;
    bool committed_ = false;
};

}  // namespace preview
