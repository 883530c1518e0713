// The pictures and sound a boot show is made from: any video or animation FFmpeg's libraries
// read, or a folder of numbered PNG frames; fitted to the device's screen and sampled on the
// device's frame grid.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "preview/image_files.h"

struct SwsContext;

namespace preview {

struct SourceInfo {
    int width = 0, height = 0;
    double frameMs = 40;     // the source's own frame interval
    double durationMs = 0;   // 0 when the container does not tell
    bool hasAudio = false;
    // Frames come at uneven times (an animation's own delays): sampled on every pass.
    bool variableRate = false;
    std::string description; // "video.mp4: 640x360, 25 fps, 10.0 s, with sound"
};

// Reads source frames in order with their presentation times.
class FrameReader {
  public:
    ~FrameReader();
    // A video file, or a folder of PNG frames (numbered names, shown `pngFps` a second).
    // False with a one-line *error when the input cannot be read as either.
    static std::unique_ptr<FrameReader> Open(const std::string& path, double pngFps,
                                             std::string* error);
    const SourceInfo& Info() const { return info_; }
    // The next frame; false at the end (*error empty) or on damaged input (*error set).
    bool Next(RgbImage* image, double* ptsMs, std::string* error);
    // How long the frame Next gave last is meant to stay (its own duration where the input
    // tells, else the frame interval).
    double LastDurationMs() const { return lastDurationMs_; }
    // Video frames come scaled to this size in one step from the decoder's pixel format (as
    // FFmpeg's scale filter does it); PNG frames keep theirs. 0x0: the source's size.
    void SetOutputSize(int width, int height) { outWidth_ = width, outHeight_ = height; }

    struct Video;

  private:
    FrameReader() = default;
    SourceInfo info_;
    std::unique_ptr<Video> video_;      // FFmpeg's demuxer and decoder
    std::vector<std::string> pngs_;     // or the folder's frames in order
    std::size_t nextPng_ = 0;
    double lastDurationMs_ = 0;
    int outWidth_ = 0, outHeight_ = 0;
};

// How a picture of another shape fills the screen: whole, with bars (letterbox), or covering
// the screen with its centre, the edges cut as the device itself would cut them (fill).
enum class FitMode { Letterbox, Fill };

// Scales pictures to the screen (FFmpeg's swscale), keeping one scaler for the source size.
class ScreenFitter {
  public:
    ScreenFitter(int screenWidth, int screenHeight, FitMode mode, std::uint32_t barColour);
    ~ScreenFitter();
    RgbImage Fit(const RgbImage& source);
    // The size a source picture is scaled to before the bars or the cut.
    void ScaledSize(int sourceWidth, int sourceHeight, int* width, int* height) const;
    // Where the picture lands on the screen (letterbox: inside the bars).
    int ContentLeft() const { return left_; }
    int ContentTop() const { return top_; }
    int ContentWidth() const { return contentWidth_; }
    int ContentHeight() const { return contentHeight_; }

    ScreenFitter(const ScreenFitter&) = delete;
    ScreenFitter& operator=(const ScreenFitter&) = delete;

  private:
    int screenWidth_, screenHeight_;
    FitMode mode_;
    std::uint32_t bar_;
    int sourceWidth_ = 0, sourceHeight_ = 0;
    int scaledWidth_ = 0, scaledHeight_ = 0;
    int left_ = 0, top_ = 0, contentWidth_ = 0, contentHeight_ = 0;
    SwsContext* scaler_ = nullptr;
};

// A sound as 16-bit PCM samples, interleaved.
struct PcmSound {
    int rate = 22050;
    int channels = 1;
    std::vector<std::int16_t> samples;
    std::uint64_t DurationMs() const {
        return channels == 0 || rate == 0
                   ? 0
                   : samples.size() / static_cast<std::uint64_t>(channels) * 1000 / rate;
    }
};

// Decodes the first audio track of a file FFmpeg reads, resampled to `rate` with at most two
// channels. False with *error empty when the file has no audio track, with *error set when
// it cannot be read.
bool ReadSound(const std::string& path, int rate, PcmSound* sound, std::string* error);

// A PCM WAV file (RIFF, format 1, 16 bits) of the samples.
std::vector<std::uint8_t> WavBytes(const PcmSound& sound);

}  // namespace preview
