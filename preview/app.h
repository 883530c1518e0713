// The program's commands, callable in-process (main.cpp is a thin wrapper).
#pragma once

#include "preview/options.h"

namespace preview {

// Exit codes.
constexpr int kExitShown = 0;         // the device showed the picture
constexpr int kExitNotShown = 1;      // the device could not show it (the reason is printed)
constexpr int kExitBadInput = 2;      // bad arguments or unreadable input files
constexpr int kExitOutputFailed = 3;  // the results could not be written (disk full, ...)

int RunPreview(int argc, char** argv);
// RunPreview without its last-resort handling of file-system errors.
int RunCommand(int argc, char** argv);
int RunInfo(const Options& options);
int RunShow(const Options& options);
class OutputFolder;
// The show into an output folder that has begun (Begin) and holds what the caller staged
// beside it; commits the folder when everything is written.
int RunShowIn(const Options& options, OutputFolder& folder);
// --live: real time, an SDL2 window and the computer's audio device (live.cpp).
int RunLive(const Options& options);

// Once per process: the picture pipeline's module state (message texts, error scopes).
void AttachPipeline();

}  // namespace preview
