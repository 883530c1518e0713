// The frame pictures; see frame_files.h.
#include "preview/frame_files.h"

#include <cerrno>
#include <cstring>

#include "preview/words.h"

namespace preview {

FrameFiles::FrameFiles(std::string dir) : dir_(std::move(dir)), thread_([this] { Run(); }) {}

FrameFiles::~FrameFiles() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool FrameFiles::Write(std::size_t index, RgbImage screen) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() || !error_.empty(); });
    if (!error_.empty()) return false;
    queue_.emplace_back(index, std::move(screen));
    changed_.notify_all();
    return true;
}

bool FrameFiles::Finish(std::string* error) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return (queue_.empty() && !busy_) || !error_.empty(); });
    if (error_.empty()) return true;
    *error = error_;
    return false;
}

void FrameFiles::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || stop_; });
        if (queue_.empty()) return;  // stopped, and nothing left
        std::pair<std::size_t, RgbImage> frame = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        std::string error;
        errno = 0;
        if (!WritePng(dir_ + "/" + FrameFileName(frame.first), frame.second, &error) &&
            errno != 0) {
            error += std::string(": ") + std::strerror(errno);
        }
        lock.lock();
        busy_ = false;
        if (!error.empty() && error_.empty()) error_ = error;
        changed_.notify_all();
    }
}

}  // namespace preview
