// Staged output folder; see output_folder.h.
#include "preview/output_folder.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "preview/cleanup.h"

namespace preview {

namespace fs = std::filesystem;

const char kPreviewMarkerName[] = ".bootreel-preview";
const char kPreviewMarkerText[] = "bootreel-preview output folder";

namespace {

bool IsPreviewFolder(const fs::path& folder) {
    std::ifstream in(folder / kPreviewMarkerName);
    std::string line;
    return in && std::getline(in, line) && line == kPreviewMarkerText;
}

bool IsEmptyFolder(const fs::path& folder) {
    std::error_code ec;
    return fs::directory_iterator(folder, ec) == fs::directory_iterator() && !ec;
}

// Staging folders of runs that no longer run: ".NAME.partial-PID", and ".NAME.partial-PID.old"
// (an earlier preview moved aside while a run replaced it). An aside whose target is missing
// is put back; everything else of ours is removed.
void RemoveStaleStaging(const fs::path& parent, const std::string& name, const fs::path& target) {
    std::error_code ec;
    const std::string prefix = "." + name + ".partial-";
    for (const auto& entry : fs::directory_iterator(parent, ec)) {
        std::string rest;
        const std::string entryName = entry.path().filename().string();
        if (!NamesDeadProcess(entryName, prefix, &rest) || (rest != "" && rest != ".old")) continue;
        std::error_code ignored;
        if (!entry.is_directory(ignored) || entry.is_symlink(ignored)) continue;
        if (!IsPreviewFolder(entry.path()) && !IsEmptyFolder(entry.path())) continue;
        if (rest == ".old" && !fs::exists(fs::symlink_status(target, ignored))) {
            fs::rename(entry.path(), target, ignored);
        } else {
            fs::remove_all(entry.path(), ignored);
        }
    }
}

}  // namespace

OutputFolder::~OutputFolder() {
    if (staging_.empty()) return;
    if (!committed_) {
        std::error_code ec;
        fs::remove_all(staging_, ec);
    }
    KeepOnInterrupt(staging_);
}

std::string OutputFolder::InUserTerms(const std::string& message) const {
    if (staging_.empty()) return message;
    std::string out = message;
    for (std::size_t at; (at = out.find(staging_)) != std::string::npos;) {
        out.replace(at, staging_.size(), name_);
    }
    return out;
}

bool OutputFolder::Begin(std::string* error) {
    std::error_code ec;
    name_ = target_;
    const std::string quoted = "--out " + name_;
    // "prev/" and "prev" name the same folder.
    fs::path target = fs::path(target_).lexically_normal();
    if (target.has_filename() == false && target.has_parent_path() &&
        target != target.root_path()) {
        target = target.parent_path();
    }
    const fs::path absolute = fs::absolute(target, ec).lexically_normal();
    // The current folder, measured from the target: "." or "a/b" when the target holds it.
    const fs::path fromTarget = fs::relative(fs::current_path(ec), absolute, ec);
    const bool holdsCurrent = !fromTarget.empty() && *fromTarget.begin() != "..";
    if (ec || target.empty() || absolute == absolute.root_path() || target.filename() == "." ||
        target.filename() == ".." || holdsCurrent) {
        *error = quoted +
                 " names the current folder or one that holds it, which cannot be replaced; "
                 "give the name of a folder for the preview (for example --out preview)";
        return false;
    }
    fs::path resolved = absolute;
    const fs::file_status link = fs::symlink_status(absolute, ec);
    if (fs::is_symlink(link)) {
        resolved = fs::canonical(absolute, ec);
        if (ec) {
            *error = quoted + " is a symbolic link to " + fs::read_symlink(absolute, ec).string() +
                     ", which does not exist; remove the link or give another folder";
            return false;
        }
    }
    const fs::file_status status = fs::status(resolved, ec);
    if (fs::exists(status)) {
        if (!fs::is_directory(status)) {
            *error = quoted + " exists and is not a folder";
            return false;
        }
        if (!IsPreviewFolder(resolved) && !IsEmptyFolder(resolved)) {
            *error = quoted + " holds files that are not from a preview (it has no " +
                     kPreviewMarkerName +
                     " marker); it is left as it is: choose another folder, or remove it first";
            return false;
        }
    }
    const fs::path parent = resolved.parent_path();
    if (!fs::is_directory(parent, ec)) {
        *error = quoted + ": the folder " + parent.string() + " does not exist";
        return false;
    }
    if (::access(parent.c_str(), W_OK | X_OK) != 0) {
        *error =
            quoted + ": cannot write into the folder " + parent.string() + " (permission denied)";
        return false;
    }
    target_ = resolved.string();
    const std::string name = resolved.filename().string();
    RemoveStaleStaging(parent, name, resolved);
    staging_ = (parent / ("." + name + ".partial-" + std::to_string(::getpid()))).string();
    RemoveOnInterrupt(staging_);
    fs::remove_all(staging_, ec);
    if (!fs::create_directory(staging_, ec)) {
        *error = quoted + ": cannot create a folder beside it in " + parent.string() + ": " +
                 ec.message();
        KeepOnInterrupt(staging_);
        staging_.clear();
        return false;
    }
    std::ofstream marker(PathOf(kPreviewMarkerName));
    marker << kPreviewMarkerText << "\n";
    marker.close();
    if (!marker) {
        *error = quoted + ": cannot write into " + parent.string();
        return false;
    }
    return true;
}

bool OutputFolder::Commit(std::string* error) {
    std::lock_guard<std::mutex> lock(CleanupMutex());
    std::error_code ec;
    const fs::path target(target_);
    fs::path old;
    if (fs::exists(fs::symlink_status(target, ec))) {
        old = staging_ + ".old";
        fs::remove_all(old, ec);
        fs::rename(target, old, ec);
        if (ec) {
            *error = "cannot replace --out " + name_ + ": " + ec.message();
            return false;
        }
    }
    fs::rename(staging_, target, ec);
    if (ec) {
        *error = "cannot move the preview into --out " + name_ + ": " + ec.message();
        if (!old.empty()) fs::rename(old, target, ec);
        return false;
    }
    committed_ = true;
    if (!old.empty()) fs::remove_all(old, ec);
    return true;
}

}  // namespace preview
