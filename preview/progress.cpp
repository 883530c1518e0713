// Progress line; see progress.h.
#include "preview/progress.h"

#include <unistd.h>

#include <cstdio>

namespace preview {

ProgressLine::ProgressLine()
    : enabled_(::isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

void ProgressLine::Update(const std::string& text) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::milliseconds(500)) return;
    if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
}

void ProgressLine::Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace preview
