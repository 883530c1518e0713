// The show's frame pictures (frame-NNNN.png), written on a thread of their own: compressing a
// large screen's PNG takes longer than the show's own work for that frame, so the two overlap.
// At most one frame waits while another is written; the show waits (in real time only: the device's
// clock stands still meanwhile) when they do.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "preview/image_files.h"

namespace preview {

class FrameFiles {
  public:
    explicit FrameFiles(std::string dir);
    ~FrameFiles();  // waits for the frames already given

    // Queues frame `index`; false once a write has failed.
    bool Write(std::size_t index, RgbImage screen);
    // Waits for every frame; false with the first failure (with the system's reason).
    bool Finish(std::string* error);

    FrameFiles(const FrameFiles&) = delete;
    FrameFiles& operator=(const FrameFiles&) = delete;

  private:
    void Run();

    std::string dir_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<std::size_t, RgbImage>> queue_;
    bool busy_ = false;
    bool stop_ = false;
    std::string error_;
    std::thread thread_;
};

}  // namespace preview
