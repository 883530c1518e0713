// A progress line on standard error, shown only when standard error is a terminal (so that
// logs and pipes stay clean) and only once a step has taken long enough to be worth it.
#pragma once

#include <chrono>
#include <string>

namespace preview {

class ProgressLine {
  public:
    ProgressLine();
    ~ProgressLine() { Clear(); }
    // Shows the text (replacing the previous one) at most ten times a second, starting half
    // a second after construction.
    void Update(const std::string& text);
    void Clear();
    bool enabled() const { return enabled_; }

  private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace preview
