// Reading a picture the way the device does, for its analysis: the decoder's own one-pass
// reading of the frame descriptions, the frames decoded one at a time at a given scale, and a
// small block scan of our own for what the decoder does not report (whether a frame has a
// graphic control extension, the loop count, where the data ends).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/decoder.h"

namespace preview {

struct ScannedFrame {
    bool hasControlExtension = false;
    bool hasLocalColourTable = false;
    // A control block that precedes the frame but is parted from it by another extension
    // (which one), so that the decoder ignores it.
    std::string controlSeparatedBy;
};

struct GifScan {
    std::vector<ScannedFrame> frames;
    int loopCount = -1;
    bool trailer = false;
    bool endsInsideBlock = false;  // the data stops in the middle of a block
    bool junkAfterFrames = false;  // an unknown byte where a block should start
    std::size_t junkOffset = 0;
};

GifScan ScanGif(const std::vector<std::uint8_t>& bytes);

// "GIF", "PNG", ... for the decoder's format codes; "unknown" for none.
const char* FormatName(int code);
// The decoder's message with its numbers named once.
std::string DecoderErrorText(br::CIAException* error);

// One pass over the stream with the decoder's own steps: the picture description, then every
// frame's description. False with *error when the decoder refuses the stream.
bool ReadDescriptions(br::CImgDecoder2& decoder, br::CDataSource2* source,
                      br::DecoderImageInfo* info, std::vector<br::DecoderFrameInfo>* frames,
                      std::string* error);

// The largest frame the analysis decodes itself. Larger ones are left to the show: the
// analysis reports what they need instead, so that `info` on a picture declaring huge frames
// takes neither the host's memory nor its time.
constexpr std::uint64_t kAnalysisFrameBytes = 64u << 20;

// Decodes every frame at `scale` the way the device does, but one frame at a time, so that
// only one frame's pixels are held at once; frames above kAnalysisFrameBytes are skipped and
// listed in *unchecked. Counts the first frame's transparent pixels. False with *error when
// the frame data cannot be decoded. The simulated device must have been reset.
bool DecodeOneByOne(br::CImgDecoder2& decoder, br::CDataSource2* source,
                    const br::DecoderImageInfo& info,
                    const std::vector<br::DecoderFrameInfo>& frames, double scale,
                    int* firstTransparent, std::vector<int>* unchecked, std::string* error);

}  // namespace preview
