// bootreel-preview: runs the real show on the simulated device and shows the result as files
// or live in a window. See docs/PREVIEW.md.
#include "preview/app.h"
#include "preview/cleanup.h"

int main(int argc, char** argv) {
    preview::HandleInterrupts();
    const int exitCode = preview::RunPreview(argc, argv);
    preview::FinishRun();
    return exitCode;
}
