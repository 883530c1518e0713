// What a run leaves on disk while it works (the staging folder of --out, the temporary device
// root of --image and --sound) must not outlive it: an interrupted run removes it before it
// ends, and the next run removes what a run that could not (killed, crashed) left behind.
#pragma once

#include <mutex>
#include <string>

namespace preview {

// Call first thing in main(), before any thread starts: SIGINT and SIGTERM are then taken by
// one thread of their own, which removes every registered path and ends the process as the
// signal would have.
void HandleInterrupts();

// Registers or unregisters a folder that an interruption removes.
void RemoveOnInterrupt(const std::string& path);
void KeepOnInterrupt(const std::string& path);

// Held while files are renamed into their final place, so that an interruption waits until
// the folders are consistent again.
std::mutex& CleanupMutex();

// True when `name` is PREFIX followed by the id of a process that is no longer running (and
// then, if the id is followed by more, that is returned in *rest).
bool NamesDeadProcess(const std::string& name, const std::string& prefix, std::string* rest);

}  // namespace preview
