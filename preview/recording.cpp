// The show's picture files, written as the show runs; see recording.h.
#include "preview/recording.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace preview {

std::string FrameFileName(std::size_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04zu.png", i);
    return name;
}

RgbImage ClosedWindowCard(int width, int height, const std::vector<std::string>& lines) {
    Canvas card(width, height, 0, 0, 0);
    const double size = std::max(7.0, std::min(width / 17.0, height / 12.0));
    const int lineH = static_cast<int>(size * 1.4);
    int y = (height - lineH * static_cast<int>(lines.size())) / 2;
    for (const std::string& line : lines) {
        const int w = card.TextWidth(line, size);
        card.Text(std::max(2, (width - w) / 2), y, line, size, 150, 150, 150);
        y += lineH;
    }
    return card.ToRgb();
}

ShowWriter::ShowWriter(std::string dir, int width, int height, std::size_t plannedFrames)
    : dir_(std::move(dir)), width_(width), height_(height), webp_(width, height) {
    ThumbnailSize(plannedFrames ? plannedFrames : 1, width, height, &thumbWidth_, &thumbHeight_);
    stride_ =
        plannedFrames > kMaxThumbnails ? (plannedFrames + kMaxThumbnails - 1) / kMaxThumbnails : 1;
}

ShowWriter::~ShowWriter() = default;

bool ShowWriter::Emit(const RgbImage& picture, std::uint64_t startMs, std::uint64_t endMs) {
    if (!error_.empty()) return false;
    if (!clipGivenUp_) {
        std::string clipError;
        if (!clipOpen_ && !clip_.Open(PathOf("recording.mp4"), width_, height_, &clipError)) {
            ClipFailed(clipError);
        } else {
            clipOpen_ = true;
            if (!clip_.AddPicture(picture, startMs, std::max<std::uint64_t>(endMs - startMs, 1),
                                  &clipError)) {
                ClipFailed(clipError);
            }
        }
    }
    return error_.empty() && webp_.Add(picture, static_cast<std::uint32_t>(startMs), &error_);
}

void ShowWriter::ClipFailed(const std::string& error) {
    if (clip_.FailedOnDisk()) {
        error_ = error;
        return;
    }
    clip_.Abandon(error);
    clipGivenUp_ = true;
}

void ShowWriter::Frame(const ComposedFrame& frame, const RgbImage& screen) {
    if (!error_.empty()) return;
    const std::size_t n = framesWritten_++;
    errno = 0;
    if (!WritePng(PathOf(FrameFileName(n)), screen, &error_)) {
        // Said now: the system's reason is gone by the time the show has ended.
        if (errno != 0) error_ += std::string(": ") + std::strerror(errno);
        return;
    }

    if (n % stride_ == 0) {
        thumbnails_.push_back(
            {screen.width == thumbWidth_ && screen.height == thumbHeight_
                 ? screen
                 : Shrink(screen, thumbWidth_, thumbHeight_),
             SheetEntry{nullptr, frame.index, static_cast<std::uint32_t>(frame.composedAtMs)}});
        // A show longer than the picture promised: keep every other thumbnail.
        if (thumbnails_.size() > kMaxThumbnails) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < thumbnails_.size(); i += 2) {
                thumbnails_[kept++] = std::move(thumbnails_[i]);
            }
            thumbnails_.resize(kept);
            stride_ *= 2;
        }
    }

    // The screen before the first frame is black; each frame lasts until the next.
    if (!pending_ && frame.composedAtMs > 0) {
        if (!Emit(RgbImage(width_, height_), 0, frame.composedAtMs)) return;
    }
    if (pending_ && !Emit(*pending_, pendingStartMs_, frame.composedAtMs)) return;
    pending_ = screen;
    pendingStartMs_ = frame.composedAtMs;
}

bool ShowWriter::Finish(const ShowEnding& ending, std::string* error) {
    if (pending_) {
        const std::uint64_t screenEnd = std::max(ending.screenEndMs, pendingStartMs_ + 1);
        const std::uint64_t showEnd = std::max(ending.showEndMs, screenEnd);
        Emit(*pending_, pendingStartMs_, screenEnd);
        pending_.reset();
        // The card closes the WebP (which then rests on it) and, when the show goes on after the
        // window has closed, the clip.
        const RgbImage card = ClosedWindowCard(width_, height_, ending.cardLines);
        std::string clipError;
        if (error_.empty() && webp_.Add(card, static_cast<std::uint32_t>(screenEnd), &error_) &&
            showEnd > screenEnd && !clipGivenUp_ &&
            !clip_.AddPicture(card, screenEnd, showEnd - screenEnd, &clipError)) {
            ClipFailed(clipError);
        }
        if (error_.empty()) {
            webp_.Write(PathOf("recording.webp"),
                        static_cast<std::uint32_t>(std::max(showEnd, screenEnd + 1000)), &error_);
        }
        if (error_.empty() && !clipGivenUp_ && !clip_.Finish(ending.sounds, showEnd, &clipError)) {
            ClipFailed(clipError);
        }
    }
    if (error_.empty() && !thumbnails_.empty()) {
        std::vector<SheetEntry> entries;
        for (auto& [image, entry] : thumbnails_) {
            entries.push_back(entry);
            entries.back().image = &image;
        }
        WritePng(PathOf("contact-sheet.png"), MakeContactSheet(entries, ending.caption), &error_);
    }
    if (!error_.empty()) {
        *error = error_;
        return false;
    }
    return true;
}

}  // namespace preview
