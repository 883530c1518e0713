// Fuzz target: the GIF decoder's public operations over arbitrary bytes. Reads the picture
// description, then decodes every frame at full size, at a target size and with a clip taken
// from the input. Inputs whose frames would need more than kPixelCap pixels are described but
// not decoded, so that the fuzzer looks for faults rather than for large allocations.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "decode/decoder.h"
#include "decode/error.h"
#include "decode/gif/gif_decoder.h"
#include "decode/memory_source.h"

namespace {

constexpr std::int64_t kPixelCap = 8 * 1024 * 1024;
constexpr std::int32_t kFrameCap = 4000;

// Pixels that decoding every frame at full size would allocate; -1 when the stream cannot be
// described at all.
std::int64_t FramePixels(const std::uint8_t* data, std::size_t size) {
    br::MemorySource source(data, size);
    std::unique_ptr<br::CDecoderBase2> gif(br::CreateGifDecoder());
    if (!gif) return -1;
    auto* decoder = static_cast<br::CDecoderGif2*>(gif.get());
    br::ErrorScope scope;
    std::int64_t total = 0;
    try {
        decoder->ReadImageInfo(&source, nullptr);
        if (decoder->frameCount > kFrameCap) total = kPixelCap + 1;
        for (std::int32_t i = 0; i < decoder->frameCount && total <= kPixelCap; ++i) {
            br::DecoderFrameInfo frame;
            br::PresetFrameInfo(&frame);
            decoder->ReadFrameInfo(&source, &frame, i);
            total += std::int64_t{frame.frameRect.Width()} * frame.frameRect.Height();
        }
    } catch (br::CIAException* error) {
        scope.pending = error;
        total = -1;
    }
    decoder->ReleaseStream();
    return total;
}

void DecodeAll(const std::uint8_t* data, std::size_t size, const br::TargetSize* target,
               const br::Rect* clip) {
    br::MemorySource source(data, size);
    br::CImgDecoder2 decoder;
    br::CImgInfo info;
    br::FrameList frames = nullptr;
    if (decoder.DecodeFramesToSize(&source, &info, &frames, target, clip) != 1) return;
    for (std::int32_t i = 0; i < info.frameCount; ++i) delete frames[i];
    br::FreeFrameList(frames, info.frameCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    br::MemorySource source(data, size);
    br::CImgDecoder2 decoder;
    br::DecoderImageInfo info;
    br::PresetImageInfo(&info);
    if (decoder.GetImageInfo(&source, &info) != 1) return 0;

    const std::int64_t pixels = FramePixels(data, size);
    if (pixels < 0 || pixels > kPixelCap) return 0;
    DecodeAll(data, size, nullptr, nullptr);

    // A clip and a target size taken from the last bytes of the input.
    const std::uint8_t a = data[size - 1], b = data[size / 2], c = data[size / 3];
    const br::Rect clip(a % 17 - 4, b % 13 - 3, a % 17 + c % 40, b % 13 + a % 30);
    DecodeAll(data, size, nullptr, &clip);
    if (info.width > 0 && info.height > 0) {
        // At most twice the screen in each direction: four times the pixels.
        if (pixels * 4 > kPixelCap) return 0;
        const br::TargetSize smaller{1 + info.width * (a % 4) / 4, 1 + info.height * (b % 4) / 4};
        DecodeAll(data, size, &smaller, nullptr);
        const br::TargetSize larger{info.width * 2, info.height * 2};
        DecodeAll(data, size, &larger, &clip);
    }
    return 0;
}
