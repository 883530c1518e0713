// The show's pictures as files, written while the show runs: frame-NNNN.png for every composed
// frame, recording.webp (lossless, no sound), recording.mp4 (with the sound) and
// contact-sheet.png. Each frame is written out when it is composed; what stays in memory is
// the frame on the screen (until the next one gives its duration), the sheet's thumbnails (at
// most kMaxThumbnails) and the encoders' compressed output.
//
// Both recordings show what the device's screen shows, when: each frame for as long as it was
// on the screen, the last one until the window closed; then a dark card saying that the window
// has closed (and, for a shut-down show whose sound goes on, until when), held to the end of
// the show. Before the first frame the screen is black.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "preview/clip_writer.h"
#include "preview/contact_sheet.h"
#include "preview/image_files.h"
#include "preview/show.h"

namespace preview {

struct ShowEnding {
    std::uint64_t screenEndMs = 0;       // the window closed (or the show returned)
    std::uint64_t showEndMs = 0;         // the entry point returned
    std::vector<std::string> cardLines;  // what the closed-window card says
    std::vector<SoundPlacement> sounds;
    SheetCaption caption;
};

class ShowWriter : public FrameSink {
  public:
    // `plannedFrames`: how many frames the picture has (0: not known), for the thumbnails' size.
    // Files go into the existing folder `dir`.
    ShowWriter(std::string dir, int width, int height, std::size_t plannedFrames);
    ~ShowWriter() override;

    void Frame(const ComposedFrame& frame, const RgbImage& screen) override;

    // After the show: ends the recordings and writes the contact sheet. Reports the first
    // failure of the whole run, also one that happened while the show ran.
    bool Finish(const ShowEnding& ending, std::string* error);

    std::size_t FramesWritten() const { return framesWritten_; }
    std::size_t SheetStride() const { return stride_; }
    const ClipWriter& Clip() const { return clip_; }

  private:
    bool Emit(const RgbImage& picture, std::uint64_t startMs, std::uint64_t endMs);
    // After a failure of the clip: a full disk fails the run, anything else only the clip.
    void ClipFailed(const std::string& error);

    std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
    int width_, height_;
    int thumbWidth_ = 1, thumbHeight_ = 1;
    std::size_t stride_ = 1;
    std::string error_;
    std::size_t framesWritten_ = 0;
    std::optional<RgbImage> pending_;
    std::uint64_t pendingStartMs_ = 0;
    std::vector<std::pair<RgbImage, SheetEntry>> thumbnails_;
    WebpRecording webp_;
    ClipWriter clip_;
    bool clipOpen_ = false;
    bool clipGivenUp_ = false;
};

// The card shown once the window has closed: dark, with the given lines centred in grey.
RgbImage ClosedWindowCard(int width, int height, const std::vector<std::string>& lines);

std::string FrameFileName(std::size_t i);

}  // namespace preview
