// recording.mp4: the screen as H.264 video and the sound as AAC in one MP4 file, made with
// FFmpeg's libraries, for sharing in chats and on pages that want a clip with sound.
//
// Pictures are given in order as they leave the screen, each with the show time at which it
// appeared and how long it stayed; the video's timestamps are those milliseconds, so every
// picture is held for exactly as long as the screen showed it. The sound is placed at the show
// times at which the device played it and the track is padded with silence to the end of the
// show. Video packets go to the file as they are encoded: nothing of the show is kept but the
// encoder's own few frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "preview/image_files.h"

namespace preview {

// One sound as the device played it: from the file at `hostPath`, or from `wav` bytes when
// there is no file, heard from startMs to endMs of show time (cut there when the device cut it).
struct SoundPlacement {
    std::string hostPath;
    const std::vector<std::uint8_t>* wav = nullptr;
    std::uint64_t startMs = 0;
    std::uint64_t endMs = 0;
};

class ClipWriter {
  public:
    ClipWriter();
    ~ClipWriter();  // a file that was opened but not finished is removed

    // Opens the file and the two encoders. Odd screen sides are padded with one black row or
    // column (the video format needs even sides).
    bool Open(const std::string& path, int width, int height, std::string* error);
    // The next picture of the video: shown from startMs for durationMs (> 0).
    bool AddPicture(const RgbImage& picture, std::uint64_t startMs, std::uint64_t durationMs,
                    std::string* error);
    // Encodes the sound track from 0 to endMs with the sounds in place (in order of start; a
    // sound is cut where the next one starts) and completes the file.
    bool Finish(const std::vector<SoundPlacement>& sounds, std::uint64_t endMs, std::string* error);

    // After Finish: the loudest sample (0..1) of each stretch of PeakBucketMs() of the track.
    const std::vector<float>& Peaks() const;
    std::uint32_t PeakBucketMs() const;
    // After Finish: sounds that could not be read into the track (silence stands in for them),
    // or why there is no clip at all (see Abandon).
    const std::vector<std::string>& Notes() const;

    // After a failure: true when it was the file system's (a full disk, a folder that became
    // unwritable), which fails the whole preview; any other (an encoder that this FFmpeg lacks
    // or that fails) costs only the clip.
    bool FailedOnDisk() const;
    // Gives the clip up after a failure that costs only the clip: the file is removed and the
    // note says why there is none.
    void Abandon(const std::string& reason);
    // The file is complete.
    bool Made() const;

    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

constexpr int kClipSampleRate = 48000;

}  // namespace preview
