// Staged output folder; see output_folder.h.
#include "preview/output_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "preview/cleanup.h"

namespace preview {

namespace fs = std::filesystem;

const char kPreviewMarkerName[] = ".bootreel-preview";
const char kPreviewMarkerText[] = "bootreel-preview output folder";

namespace {

// The names in an open folder, but "." and "..".
std::vector<std::string> Entries(int folderFd) {
    std::vector<std::string> names;
    const int copy = ::dup(folderFd);
    if (copy < 0) return names;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

int OpenFolderAt(int parentFd, const std::string& name) {
    return ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// A folder the previewer may replace or remove: an earlier preview, or nothing at all.
bool IsOurs(int folderFd) {
    return HoldsPreviewMarker(folderFd) || Entries(folderFd).empty();
}

bool IsInside(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

fs::path Canonical(const std::string& path) {
    std::error_code ec;
    fs::path result = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path, ec).lexically_normal() : result;
}

// renameat2 with flags; EINVAL where the file system has no such rename.
int Rename(int fromFd, const std::string& from, int toFd, const std::string& to, unsigned flags) {
    return ::renameat2(fromFd, from.c_str(), toFd, to.c_str(), flags);
}

// An earlier preview that a run moved aside (".NAME.partial-...old") while the exchange in
// one step was not available, and that the run could not put back: back it goes.
void RestoreMovedAside(const fs::path& parent, const std::string& prefix, const fs::path& target) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(parent, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || name.size() < 4 ||
            name.compare(name.size() - 4, 4, ".old") != 0) {
            continue;
        }
        std::error_code ignored;
        if (fs::exists(fs::symlink_status(target, ignored))) return;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0) continue;
        if (HoldsPreviewMarker(fd)) ::rename(entry.path().c_str(), target.c_str());
        ::close(fd);
    }
}

}  // namespace

bool HoldsPreviewMarker(int folderFd) {
    const int fd = ::openat(folderFd, kPreviewMarkerName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const std::string expected = std::string(kPreviewMarkerText) + "\n";
    char text[128];
    ssize_t size = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = ::read(fd, text, sizeof text);
    ::close(fd);
    return size == static_cast<ssize_t>(expected.size()) &&
           std::memcmp(text, expected.data(), expected.size()) == 0;
}

OutputFolder::~OutputFolder() {
    if (!staging_.empty() && !committed_) RemoveRunFolder(staging_);
    if (parentFd_ >= 0) ::close(parentFd_);
}

std::string OutputFolder::InUserTerms(const std::string& message) const {
    if (staging_.empty()) return message;
    std::string out = message;
    for (std::size_t at; (at = out.find(staging_)) != std::string::npos;) {
        out.replace(at, staging_.size(), name_);
    }
    return out;
}

void OutputFolder::Protect(const std::string& what, const std::string& path, bool holdsInputs) {
    if (!path.empty()) inputs_.push_back({what, path, holdsInputs});
}

bool OutputFolder::CheckInputs(bool replacesSomething, std::string* error) const {
    const fs::path target(target_);
    for (const Input& input : inputs_) {
        const fs::path path = Canonical(input.path);
        if (path == target || IsInside(path, target)) {
            *error = input.what + " " + input.path + " lies inside --out " + name_ +
                     ", which this run replaces with the preview; move it out, or choose "
                     "another --out";
            return false;
        }
        if (input.holdsInputs && replacesSomething && IsInside(target, path)) {
            *error = "--out " + name_ + " lies inside " + input.what + " " + input.path +
                     " and holds an earlier preview, which this run would replace while the "
                     "device reads that folder; choose an --out outside it, or remove the "
                     "earlier preview first";
            return false;
        }
    }
    return true;
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
    const fs::path parent = resolved.parent_path();
    const std::string leaf = resolved.filename().string();
    const fs::file_status status = fs::status(resolved, ec);
    const bool exists = fs::exists(status);
    bool empty = true;
    bool otherFileSystem = false;
    if (exists) {
        if (!fs::is_directory(status)) {
            *error = quoted + " exists and is not a folder";
            return false;
        }
        const int fd = ::open(resolved.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool marked = fd >= 0 && HoldsPreviewMarker(fd);
        empty = fd >= 0 && Entries(fd).empty();
        struct stat self {};
        struct stat above {};
        otherFileSystem = fd >= 0 && ::fstat(fd, &self) == 0 &&
                          ::stat(parent.c_str(), &above) == 0 && self.st_dev != above.st_dev;
        if (fd >= 0) ::close(fd);
        if (!marked && !empty) {
            const fs::path marker = resolved / kPreviewMarkerName;
            const bool hasMarkerName = fs::exists(fs::symlink_status(marker, ec));
            const std::string why =
                hasMarkerName
                    ? std::string("its ") + kPreviewMarkerName + " is not the previewer's marker"
                    : std::string("it has no ") + kPreviewMarkerName + " marker";
            *error = quoted + " holds files that are not from a preview (" + why +
                     "); it is left as it is: choose another folder, or remove it first";
            return false;
        }
    }
    if (!fs::is_directory(parent, ec)) {
        *error = quoted + ": the folder " + parent.string() + " does not exist";
        return false;
    }
    if (::access(parent.c_str(), W_OK | X_OK) != 0 && !(exists && (empty || otherFileSystem))) {
        *error =
            quoted + ": cannot write into the folder " + parent.string() + " (permission denied)";
        return false;
    }
    target_ = resolved.string();
    if (!CheckInputs(exists && !empty, error)) return false;

    parentFd_ = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd_ < 0) {
        *error =
            quoted + ": cannot open the folder " + parent.string() + ": " + std::strerror(errno);
        return false;
    }
    // An empty folder or a mount point keeps its place: the preview is made inside it.
    inPlace_ = exists && (empty || otherFileSystem);
    const std::string prefix = "." + leaf + ".partial-";
    RestoreMovedAside(parent, prefix, resolved);
    // Staging folders of runs that were killed, by this version's names and by the earlier
    // ".NAME.partial-PID", and earlier previews moved aside (".old") that were not put back
    // just above because --out exists.
    const auto abandoned = [](int fd, const std::string& name) {
        std::string rest = name;
        if (rest.size() > 4 && rest.compare(rest.size() - 4, 4, ".old") == 0) {
            rest.resize(rest.size() - 4);
        }
        const bool earlierName =
            !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos;
        return (IsRunFolderSuffix(rest) || earlierName) && IsOurs(fd);
    };
    RemoveAbandonedFolders(parent.string(), prefix, abandoned, kPreviewMarkerName);
    if (inPlace_) RemoveAbandonedFolders(target_, prefix, abandoned, kPreviewMarkerName);
    const std::string where = inPlace_ ? target_ : parent.string();
    std::string reason;
    if (!CreateRunFolder(where, prefix, 0777, kPreviewMarkerName, &staging_, &reason)) {
        *error = quoted + ": cannot create a folder " + (inPlace_ ? "inside it" : "beside it") +
                 " in " + where + ": " + reason;
        return false;
    }
    // A preview that replaces an earlier one keeps its permissions (a group's folder, say).
    if (exists && !inPlace_) {
        struct stat st {};
        if (::stat(target_.c_str(), &st) == 0) {
            ::chmod(staging_.c_str(), (st.st_mode & 07777) | S_IRWXU);
        }
    }
    std::ofstream marker(PathOf(kPreviewMarkerName));
    marker << kPreviewMarkerText << "\n";
    marker.close();
    if (!marker) {
        *error = quoted + ": cannot write into " + where;
        return false;
    }
    return true;
}

std::string OutputFolder::KeepStaging(int folderFd, const std::string& base,
                                      const std::string& shownBase) {
    const std::string from = fs::path(staging_).filename().string();
    for (int n = 1; n < 1000; ++n) {
        const std::string suffix = n == 1 ? "" : "-" + std::to_string(n);
        if (Rename(folderFd, from, folderFd, base + suffix, RENAME_NOREPLACE) == 0 ||
            (errno == EINVAL &&
             ::faccessat(folderFd, (base + suffix).c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0 &&
             ::renameat(folderFd, from.c_str(), folderFd, (base + suffix).c_str()) == 0)) {
            KeepRunFolder(staging_);
            staging_.clear();
            return shownBase + suffix;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) break;
    }
    // It stays under its hidden name, which the next run would take for abandoned: say so.
    KeepRunFolder(staging_);
    const std::string kept = staging_;
    staging_.clear();
    return kept;
}

bool OutputFolder::Commit(std::string* error) {
    std::lock_guard<std::recursive_mutex> lock(CleanupMutex());
    BeginCommit();
    const bool done = inPlace_ ? CommitInPlace(error) : CommitBeside(error);
    if (done) {
        committed_ = true;
        KeepRunFolder(staging_);
    }
    return done;
}

bool OutputFolder::CommitBeside(std::string* error) {
    const std::string stagingLeaf = fs::path(staging_).filename().string();
    const std::string leaf = fs::path(target_).filename().string();
    std::string shownName = name_;
    while (shownName.size() > 1 && shownName.back() == '/') shownName.pop_back();
    const std::string keptShown = shownName + ".new-preview";
    const std::string keptLeaf = leaf + ".new-preview";
    const std::string quoted = "--out " + name_;

    // Where nothing is in the way, the staging folder simply takes the name.
    if (Rename(parentFd_, stagingLeaf, parentFd_, leaf, RENAME_NOREPLACE) == 0) return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // No rename with a condition on this file system: a plain rename replaces an empty
        // folder at most; an earlier preview is moved aside and checked there.
        if (::renameat(parentFd_, stagingLeaf.c_str(), parentFd_, leaf.c_str()) == 0) return true;
        if (errno != ENOTEMPTY && errno != EEXIST) {
            *error = "cannot move the preview into " + quoted + ": " + std::strerror(errno);
            *error += "; the new preview is in " + KeepStaging(parentFd_, keptLeaf, keptShown);
            return false;
        }
        const std::string asideLeaf = stagingLeaf + ".old";
        if (::renameat(parentFd_, leaf.c_str(), parentFd_, asideLeaf.c_str()) != 0) {
            *error = "cannot replace " + quoted + ": " + std::strerror(errno);
            *error += "; the new preview is in " + KeepStaging(parentFd_, keptLeaf, keptShown);
            return false;
        }
        const int aside = OpenFolderAt(parentFd_, asideLeaf);
        const bool ours = aside >= 0 && IsOurs(aside);
        if (aside >= 0) ::close(aside);
        if (!ours || ::renameat(parentFd_, stagingLeaf.c_str(), parentFd_, leaf.c_str()) != 0) {
            const std::string reason = std::strerror(errno);
            ::renameat(parentFd_, asideLeaf.c_str(), parentFd_, leaf.c_str());
            *error = "cannot replace " + quoted +
                     (ours ? ": " + reason
                           : ": it changed while the show ran and now holds files that are "
                             "not from a preview") +
                     "; the new preview is in " + KeepStaging(parentFd_, keptLeaf, keptShown);
            return false;
        }
        RemoveTree((fs::path(target_).parent_path() / asideLeaf).string(), kPreviewMarkerName);
        return true;
    }
    if (errno != EEXIST) {
        *error = "cannot move the preview into " + quoted + ": " + std::strerror(errno);
        *error += "; the new preview is in " + KeepStaging(parentFd_, keptLeaf, keptShown);
        return false;
    }
    // Something is at --out: exchanged with the staging folder in one step, then checked
    // where it landed. Nobody can change what is checked there from outside, since only this
    // run uses that name.
    if (Rename(parentFd_, stagingLeaf, parentFd_, leaf, RENAME_EXCHANGE) != 0) {
        *error = "cannot replace " + quoted + ": " + std::strerror(errno);
        *error += "; the new preview is in " + KeepStaging(parentFd_, keptLeaf, keptShown);
        return false;
    }
    const int swapped = OpenFolderAt(parentFd_, stagingLeaf);
    const bool ours = swapped >= 0 && IsOurs(swapped);
    if (swapped >= 0) ::close(swapped);
    if (!ours) {
        const bool back = Rename(parentFd_, stagingLeaf, parentFd_, leaf, RENAME_EXCHANGE) == 0;
        *error = "cannot replace " + quoted +
                 ": it changed while the show ran and now holds files that are not from a "
                 "preview (no " +
                 kPreviewMarkerName + " marker)";
        if (!back) {
            // Cannot happen but by a rename from outside in this very instant: both folders
            // stay where they are and are named.
            *error += "; it could not be put back: it is in " +
                      (fs::path(target_).parent_path() / stagingLeaf).string() +
                      ", and the new preview is in " + shownName;
            KeepRunFolder(staging_);
            staging_.clear();
            return false;
        }
        *error += "; the new preview is in " + KeepStaging(parentFd_, keptLeaf, keptShown);
        return false;
    }
    // The earlier preview, now under the staging name.
    RemoveTree((fs::path(target_).parent_path() / stagingLeaf).string(), kPreviewMarkerName);
    return true;
}

bool OutputFolder::CommitInPlace(std::string* error) {
    const std::string quoted = "--out " + name_;
    const std::string stagingLeaf = fs::path(staging_).filename().string();
    const int targetFd = ::open(target_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int stagingFd = targetFd >= 0 ? OpenFolderAt(targetFd, stagingLeaf) : -1;
    struct Close {
        int fd;
        ~Close() {
            if (fd >= 0) ::close(fd);
        }
    } closeTarget{targetFd}, closeStaging{stagingFd};
    if (stagingFd < 0) {
        *error = "cannot move the preview into " + quoted +
                 ": the folder was moved or removed while the show ran";
        return false;
    }
    // Checked again now: an earlier preview, or nothing but the staging folder.
    std::vector<std::string> present;
    // Staging folders (this run's, and another run's that works into the same folder) are
    // neither the user's files nor the earlier preview's.
    const std::string prefix = "." + fs::path(target_).filename().string() + ".partial-";
    for (const std::string& name : Entries(targetFd)) {
        if (name.rfind(prefix, 0) != 0) present.push_back(name);
    }
    const bool marked = HoldsPreviewMarker(targetFd);
    if (!present.empty() && !marked) {
        *error = "cannot write into " + quoted +
                 ": it changed while the show ran and now holds files that are not from a "
                 "preview (no " +
                 kPreviewMarkerName + " marker); the new preview is in " +
                 KeepStaging(targetFd, "new-preview", name_ + "/new-preview");
        return false;
    }
    // The earlier preview's files go; its marker stays until the new one takes its place.
    for (const std::string& name : present) {
        if (name == kPreviewMarkerName) continue;
        std::error_code ec;
        fs::remove_all(fs::path(target_) / name, ec);
    }
    // The new files, the marker last.
    std::vector<std::string> moved;
    for (const std::string& name : Entries(stagingFd)) {
        if (name == kPreviewMarkerName) continue;
        int r = Rename(stagingFd, name, targetFd, name, RENAME_NOREPLACE);
        if (r != 0 && errno == EINVAL)
            r = ::renameat(stagingFd, name.c_str(), targetFd, name.c_str());
        if (r != 0) {
            const std::string reason = std::strerror(errno);
            for (const std::string& back : moved) {
                ::renameat(targetFd, back.c_str(), stagingFd, back.c_str());
            }
            *error = "cannot move " + name + " into " + quoted + ": " + reason +
                     "; the new preview is in " +
                     KeepStaging(targetFd, "new-preview", name_ + "/new-preview");
            return false;
        }
        moved.push_back(name);
    }
    ::renameat(stagingFd, kPreviewMarkerName, targetFd, kPreviewMarkerName);
    if (::unlinkat(targetFd, stagingLeaf.c_str(), AT_REMOVEDIR) != 0) {
        RemoveTree(staging_, kPreviewMarkerName);
    }
    return true;
}

}  // namespace preview
