// Staged output folder; see output_folder.h.
#include "preview/output_folder.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace preview {

namespace fs = std::filesystem;

bool IsPreviewFileName(const std::string& name) {
    if (name == "timeline.json" || name == "contact-sheet.png" || name == "recording.webp" ||
        name == "recording.mp4" || name == "report.html") {
        return true;
    }
    return name.size() == 14 && name.rfind("frame-", 0) == 0 && name.compare(10, 4, ".png") == 0 &&
           name.find_first_not_of("0123456789", 6) == 10;
}

namespace {

// A preview of both shows holds the two shows' folders.
bool HoldsOnlyPreviewFiles(const fs::path& folder, bool top = true) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (top && entry.is_directory() && !entry.is_symlink() &&
            (name == "startup" || name == "shutdown")) {
            if (!HoldsOnlyPreviewFiles(entry.path(), false)) return false;
            continue;
        }
        if (!entry.is_regular_file() || !IsPreviewFileName(name)) return false;
    }
    return !ec;
}

}  // namespace

OutputFolder::~OutputFolder() {
    if (!committed_ && !staging_.empty()) {
        std::error_code ec;
        fs::remove_all(staging_, ec);
    }
}

bool OutputFolder::Begin(std::string* error) {
    std::error_code ec;
    fs::path target(target_);
    if (fs::exists(target, ec)) {
        if (!fs::is_directory(target, ec)) {
            *error = "--out " + target_ + " exists and is not a folder";
            return false;
        }
        if (!HoldsOnlyPreviewFiles(target)) {
            *error = "--out " + target_ +
                     " holds files that are not from a preview; choose another folder";
            return false;
        }
    }
    fs::path parent = fs::absolute(target, ec).parent_path();
    if (!fs::is_directory(parent, ec)) {
        *error = "--out " + target_ + ": the folder " + parent.string() + " does not exist";
        return false;
    }
    staging_ = (parent / ("." + fs::absolute(target).filename().string() + ".partial-" +
                          std::to_string(::getpid())))
                   .string();
    fs::remove_all(staging_, ec);
    if (!fs::create_directory(staging_, ec)) {
        *error = "cannot create " + staging_ + ": " + ec.message();
        staging_.clear();
        return false;
    }
    return true;
}

bool OutputFolder::Commit(std::string* error) {
    std::error_code ec;
    fs::path target(target_);
    fs::path old;
    if (fs::exists(target, ec)) {
        old = staging_ + ".old";
        fs::remove_all(old, ec);
        fs::rename(target, old, ec);
        if (ec) {
            *error = "cannot replace " + target_ + ": " + ec.message();
            return false;
        }
    }
    fs::rename(staging_, target, ec);
    if (ec) {
        *error = "cannot move the preview into " + target_ + ": " + ec.message();
        if (!old.empty()) fs::rename(old, target, ec);
        return false;
    }
    committed_ = true;
    if (!old.empty()) fs::remove_all(old, ec);
    return true;
}

}  // namespace preview
