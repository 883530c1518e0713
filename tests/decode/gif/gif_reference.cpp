// giflib as the reference decoder of the GIF tests; see gif_test_support.h. It exists for the
// build machine only, so the tests that compare against it stay out of cross builds.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "tests/decode/gif/gif_test_support.h"

namespace giftest {

namespace {

struct ReadCursor {
    const Bytes* bytes;
    std::size_t at;
};

int ReadFromMemory(GifFileType* file, GifByteType* buffer, int count) {
    auto* cursor = static_cast<ReadCursor*>(file->UserData);
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(count), cursor->bytes->size() - cursor->at);
    std::memcpy(buffer, cursor->bytes->data() + cursor->at, n);
    cursor->at += n;
    return static_cast<int>(n);
}

std::vector<br::PaletteEntry> Palette(const ColorMapObject* map) {
    std::vector<br::PaletteEntry> out;
    if (map == nullptr) return out;
    for (int i = 0; i < map->ColorCount; ++i) {
        out.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue, 0});
    }
    return out;
}

}  // namespace

Reference ReferenceDecode(const Bytes& gif) {
    Reference reference;
    ReadCursor cursor{&gif, 0};
    int error = 0;
    GifFileType* file = DGifOpen(&cursor, ReadFromMemory, &error);
    if (file == nullptr) return reference;
    if (DGifSlurp(file) == GIF_OK) {
        reference.ok = true;
        reference.screenWidth = file->SWidth;
        reference.screenHeight = file->SHeight;
        reference.globalPalette = Palette(file->SColorMap);
        for (int i = 0; i < file->ImageCount; ++i) {
            const SavedImage& image = file->SavedImages[i];
            Frame frame;
            const GifImageDesc& d = image.ImageDesc;
            frame.rect = br::Rect(d.Left, d.Top, d.Left + d.Width, d.Top + d.Height);
            frame.interlaced = d.Interlace ? 1 : 0;
            frame.width = d.Width;
            frame.height = d.Height;
            frame.pixels.assign(image.RasterBits,
                                image.RasterBits + static_cast<std::size_t>(d.Width) * d.Height);
            frame.palette = d.ColorMap != nullptr ? Palette(d.ColorMap) : reference.globalPalette;
            // The graphic control extension governs the image only when it is the last
            // extension before it.
            const ExtensionBlock* last = nullptr;
            for (int j = 0; j < image.ExtensionBlockCount; ++j) {
                if (image.ExtensionBlocks[j].Function != CONTINUE_EXT_FUNC_CODE)
                    last = &image.ExtensionBlocks[j];
            }
            if (last != nullptr && last->Function == GRAPHICS_EXT_FUNC_CODE &&
                last->ByteCount >= 4) {
                const std::uint8_t packed = last->Bytes[0];
                frame.disposal = (packed >> 2) & 7;
                frame.userInput = (packed >> 1) & 1;
                frame.delay = last->Bytes[1] | (last->Bytes[2] << 8);
                frame.transparent = (packed & 1) ? last->Bytes[3] : -1;
            } else {
                frame.delay = 100;
            }
            reference.frames.push_back(std::move(frame));
        }
    }
    DGifCloseFile(file, &error);
    return reference;
}

}  // namespace giftest
