// bootreel-preview: runs the real show on the simulated device and shows the result as files
// or live in a window; `make` turns a video into the device's files. See docs/PREVIEW.md.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "preview/app.h"
#include "preview/cleanup.h"
#include "preview/make/make_command.h"

int main(int argc, char** argv) {
    preview::HandleInterrupts();
    int exitCode;
    if (argc >= 2 && std::strcmp(argv[1], "make") == 0) {
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        try {
            exitCode = preview::RunMake(std::vector<std::string>(argv + 2, argv + argc));
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "bootreel-preview make: out of memory\n");
            exitCode = preview::kExitBadInput;
        }
    } else {
        exitCode = preview::RunPreview(argc, argv);
    }
    preview::FinishRun();
    return exitCode;
}
