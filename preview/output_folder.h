// The output folder is written as a whole or not at all: files go into a sibling folder that
// replaces --out only once everything is written, so an interrupted or failed run never
// leaves a half-written preview that looks like a result.
#pragma once

#include <string>

namespace preview {

class OutputFolder {
  public:
    explicit OutputFolder(std::string target) : target_(std::move(target)) {}
    ~OutputFolder();  // removes the staging folder unless Commit() succeeded

    // Refuses a target that exists and holds anything but an earlier preview (so that a
    // mistyped --out never replaces a user's folder). Then creates the staging folder.
    bool Begin(std::string* error);
    std::string PathOf(const std::string& name) const { return staging_ + "/" + name; }
    // Replaces the target with the staging folder.
    bool Commit(std::string* error);

    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

  private:
    std::string target_;
    std::string staging_;
    bool committed_ = false;
};

// True for the names a preview folder holds.
bool IsPreviewFileName(const std::string& name);

}  // namespace preview
