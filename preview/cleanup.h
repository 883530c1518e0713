// What a run leaves on disk while it works (the staging folder of --out, the temporary device
// root of --image and --sound) must not outlive it, and nothing else may be touched on its
// behalf.
//
// Each such folder is a run folder: made by this process under a name of its own, locked
// (flock on the folder itself) from the moment it exists until the run lets it go, and
// registered so that an interruption removes it. An interrupted run removes its run folders
// before it ends; a run that could not (killed, crashed) loses its locks with its process, and
// the next run removes what it left: only folders whose lock it can take, so never the folder
// of a run that is still working, in this process namespace or any other that shares the disk.
#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace preview {

// Call first thing in main(), before any thread starts: SIGINT and SIGTERM (those not ignored
// when the program started) are then taken by one thread of their own, which removes every
// registered run folder and ends the process as the signal would have.
void HandleInterrupts();

// Held while run folders are created, renamed into place or removed, so that an interruption
// waits until the folders are consistent again. The interrupt thread keeps it until the
// process has ended. Recursive: the calls below take it too.
std::recursive_mutex& CleanupMutex();

// When an interruption is being handled, waits for the end of the process (which the
// interrupt thread brings); otherwise returns at once. For the way out of a run, so that a
// failure caused by the interruption's removals is not reported and the process does not end
// before its folders are gone.
void StopIfInterrupted();

// Called holding CleanupMutex() as the run begins to put its results in place, which it does
// without letting the lock go. An interruption that took the lock before has removed the run
// folders and ends the process, so nothing has changed; one that comes after no longer ends the
// run, which ends as it would have without it. So a signal's exit status always means that
// nothing has changed, and results are never half in place.
// With BOOTREEL_PREVIEW_TEST_HOLD_AT_COMMIT set (for tests), the run stops here, says so on
// standard error and goes on once a signal has come.
void BeginCommit();

// The last call of main(): waits for an interruption being handled, removes any run folder
// still registered, and keeps CleanupMutex() so that no interruption starts a removal that the
// end of the process would cut short.
void FinishRun();

// Creates a new run folder PARENT/PREFIX<pid>-<six letters> (permissions `mode` less the
// umask), locked and registered. `lastName` is the file that its removal takes last (see
// RemoveTree). On failure returns false with the system's reason in *error.
bool CreateRunFolder(const std::string& parent, const std::string& prefix, unsigned mode,
                     const std::string& lastName, std::string* path, std::string* error);
// The run folder at `path` is now known by `newPath` (the caller renamed it, holding
// CleanupMutex()).
void MoveRunFolder(const std::string& path, const std::string& newPath);
// Lets a run folder go without removing it (it has been renamed into its final place, or kept
// for the user): its lock and registration end.
void KeepRunFolder(const std::string& path);
// Removes a run folder and lets it go.
void RemoveRunFolder(const std::string& path);

// Removes each folder PARENT/PREFIX* that no run holds: a real folder (not a link) whose lock
// this process can take and that `isOurs` (given the open folder, while the lock is held, and
// the name after the prefix) accepts. `lastName` as for RemoveTree.
void RemoveAbandonedFolders(
    const std::string& parent, const std::string& prefix,
    const std::function<bool(int folderFd, const std::string& rest)>& isOurs,
    const std::string& lastName = "");
// True when `rest` is what CreateRunFolder puts after the prefix: a process id, '-' and six
// letters, and ".gone" when an interrupted run was removing it.
bool IsRunFolderSuffix(const std::string& rest);

// Removes the folder at `path` and all it holds. A file named `lastName` in it, when not
// empty, goes last, so that a removal cut short leaves a folder that still says whose it is.
// Goes on while files appear in it (a thread still writing), until it is gone.
bool RemoveTree(const std::string& path, const std::string& lastName = "");

}  // namespace preview
