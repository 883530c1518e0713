// bootreel-preview: runs the real show on the simulated device and shows the result as files
// or live in a window. See docs/PREVIEW.md.
#include "preview/app.h"

int main(int argc, char** argv) {
    return preview::RunPreview(argc, argv);
}
