// The output folder is written as a whole or not at all: files go into a staging folder that
// takes the place of --out only once everything is written, so an interrupted or failed run
// never leaves a half-written preview that looks like a result.
//
// Only a folder the previewer wrote itself is ever replaced: every preview holds a marker
// file, and an existing --out without it is refused before the show runs (an empty folder
// is taken as it is, nothing in it can be lost). The same check is made again at the moment
// of replacing, atomically with it: the staging folder and --out are exchanged in one step,
// and when what came out is not an earlier preview after all (the user put files there while
// the show ran) the exchange is undone and the new preview is kept beside, under a name the
// error gives.
//
// An empty --out, or one that is a mount point, is written into in place (the staging folder
// is made inside it and its files are moved in at the end), so that its permissions, owner
// and inode stay and a mount point is never renamed.
#pragma once

#include <string>
#include <vector>

namespace preview {

// The marker file's name and its first line.
extern const char kPreviewMarkerName[];
extern const char kPreviewMarkerText[];

class OutputFolder {
  public:
    explicit OutputFolder(std::string target) : target_(std::move(target)) {}
    ~OutputFolder();  // removes the staging folder unless Commit() succeeded

    // Before Begin(): a file or folder the run reads (`what` names it in messages, as
    // "--image"). Begin() refuses an input that lies inside the folder it would replace, and
    // for a folder of inputs (`holdsInputs`, the device root) also an --out inside it that holds
    // an earlier preview.
    void Protect(const std::string& what, const std::string& path, bool holdsInputs = false);

    // Checks the target (see above; a symbolic link to an earlier preview is followed, one to
    // nowhere refused) and the inputs, removes what runs that no longer run left beside it,
    // then creates the staging folder with the marker.
    bool Begin(std::string* error);
    std::string PathOf(const std::string& name) const { return staging_ + "/" + name; }
    // Puts the staging folder's files in the target's place. When the target may no longer be
    // replaced, or the move fails, returns false with the reason, and where the new preview
    // was kept when it was, in *error; the target is then as it was.
    bool Commit(std::string* error);
    // The target as the user named it, for messages (the staging folder is never named).
    const std::string& Name() const { return name_; }
    // Rewrites a message that names the staging folder to name the target instead.
    std::string InUserTerms(const std::string& message) const;

    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

  private:
    struct Input {
        std::string what, path;
        bool holdsInputs;
    };
    bool CheckInputs(bool replacesSomething, std::string* error) const;
    bool CommitBeside(std::string* error);
    bool CommitInPlace(std::string* error);
    // Renames the staging folder (in `folderFd`) to a free name from `base` and gives it up;
    // returns the name as the user would write it.
    std::string KeepStaging(int folderFd, const std::string& base, const std::string& shownBase);

    std::string target_;  // resolved
    std::string name_;    // as given
    std::string staging_;
    std::vector<Input> inputs_;
    int parentFd_ = -1;  // the folder that holds the target, opened once checked
    bool inPlace_ = false;
    bool committed_ = false;
};

// True when `folderFd` is an open folder that holds the marker: a plain file (not a link, not
// a folder) with exactly the marker's text.
bool HoldsPreviewMarker(int folderFd);

}  // namespace preview
