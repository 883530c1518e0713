// Frame preparation of AnimationPlayer (see animation_player.h): the picture description, the
// decoded frames with the decode-scale ladder, the display scale, the layout, and the
// composition of one frame into a drawing surface.
#include <cstring>
#include <new>

#include "decode/error.h"
#include "platform/window.h"
#include "player/animation_player.h"
#include "raster/compositor.h"

namespace br {

namespace {

// Deletes every layer of a frame list of `count` entries and the list itself.
void DeleteFrameList(FrameList list, std::int32_t count) {
    if (list == nullptr) {
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        delete list[i];
    }
    FreeFrameList(list, count);
}

Rect ClientRect(plat::HWND window) {
    Rect client(0, 0, 0, 0);  // stays empty when the window is gone
    if (!plat::GetClientRect(window, &client)) {
        client.SetEmpty();
    }
    return client;
}

}  // namespace

bool AnimationPlayer::LoadImageInfo(const char16_t* path) {
    if (loaded) {
        return true;
    }
    DecoderImageInfo record{};  // the palette count reads 0 unless the decoder fills it
    record.format = 0;
    record.width = 0;
    record.height = 0;
    record.backgroundColor = 0;
    record.bitsPerPixel = 0;
    record.frameCount = 0;
    record.extraA = 1;
    record.extraB = -1;
    record.extraC = -1;
    record.extraFlag = 0;

    CImgDecoder2 decoder;
    {
        ErrorScope scope;
        try {
            decoder.GetImageInfoFromFile(path, &record);
        } catch (CIAException* error) {
            scope.pending = error;
            return false;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    if (record.frameCount == 0) {
        return false;
    }

    info.format = record.format;
    info.backgroundColor = record.backgroundColor;
    if (record.extraFlag != 0) {
        info.colorCount = 257;
    } else if (record.bitsPerPixel <= 24) {
        info.colorCount = 1 << (record.bitsPerPixel < 0 ? 0 : record.bitsPerPixel);
    } else {
        info.colorCount = 16777216;
    }
    info.width = record.width;
    info.height = record.height;
    info.extraA = record.extraA;
    info.frameCount = record.frameCount;
    info.extraB = record.extraB;
    info.extraC = record.extraC;

    if (record.palette.count != 0) {
        ErrorScope scope;
        try {
            // The header words, the entries and the one further entry slot that the record
            // has room for. A count beyond the record's 256 entries would read past it, so
            // such a palette is cut to what the record holds.
            const std::uint16_t count = record.palette.count > 256 ? 256 : record.palette.count;
            const std::size_t bytes = (static_cast<std::size_t>(count) + 2) * 4;
            PaletteRecord* copy = AllocatePaletteCopy(bytes);
            if (copy != nullptr) {
                auto* out = reinterpret_cast<std::uint8_t*>(copy);
                std::memcpy(out, &record.palette, 4 + static_cast<std::size_t>(count) * 4);
                const PaletteEntry spare =
                    count < 256 ? record.palette.entries[count] : record.paletteSpare;
                std::memcpy(out + 4 + static_cast<std::size_t>(count) * 4, &spare, 4);
                copy->count = count;
                info.palette = copy;
            }
        } catch (CIAException* error) {
            scope.pending = error;
        } catch (const std::bad_alloc&) {
        }
    }
    return true;
}

bool AnimationPlayer::LoadFrames(const char16_t* path) {
    CImgDecoder2 decoder;
    CImgInfo decoded;
    decodeScale = 1.0;
    for (;;) {
        const Size target = ScaleSize(info.width, info.height, decodeScale, 0);
        const TargetSize targetSize{target.cx, target.cy};
        int result = 0;
        {
            ErrorScope scope;
            try {
                // No pixel outside the picture can ever be shown, so none is decoded: a frame
                // that declares far more than the picture costs no more than the picture.
                const Rect picture(0, 0, info.width, info.height);
                result =
                    decoder.DecodeFramesFromFile(path, &decoded, &frames, &targetSize, &picture);
            } catch (CIAException* error) {
                scope.pending = error;
                result = 0;
            } catch (const std::bad_alloc&) {
                result = 0;
            }
        }
        if (result != 0) {
            // The frames were read from the file a second time: a file changed in between
            // would leave `info` describing frames that the list does not hold.
            const std::int32_t listCount = decoded.frameCount;
            const bool same = listCount == info.frameCount && decoded.width == info.width &&
                              decoded.height == info.height;
            decoded.Reset();
            if (same) {
                return true;
            }
            DeleteFrameList(frames, listCount);
            frames = nullptr;
            return false;
        }
        DeleteFrameList(frames, info.frameCount);
        frames = nullptr;
        decoded.Reset();
        if (decodeScale <= 0.0625) {
            return false;
        } else if (decodeScale <= 0.125) {
            decodeScale = 0.0625;
        } else if (decodeScale <= 0.25) {
            decodeScale = 0.125;
        } else if (decodeScale <= 0.5) {
            decodeScale = 0.25;
        } else {
            decodeScale = 0.5;
        }
    }
}

double AnimationPlayer::ComputeDisplayScale() const {
    const Rect client = ClientRect(window);
    const std::int32_t clientWidth = client.Width();
    const std::int32_t clientHeight = client.Height();
    const Size reference = PercentSize(info.width, info.height, 1, orientation);
    if (reference.cx <= clientWidth && reference.cy <= clientHeight) {
        return 1.0;
    }
    Size fitted(0, 0);
    FitSize(clientWidth, clientHeight, reference.cx, reference.cy, false, &fitted);
    double scale = 1.0;
    if (fitted.cx == clientWidth) {
        scale = static_cast<double>(clientWidth) / static_cast<double>(reference.cx);
    } else if (fitted.cy == clientHeight) {
        scale = static_cast<double>(clientHeight) / static_cast<double>(reference.cy);
    }
    if (scale < minScale) {
        scale = minScale;
    }
    if (scale > maxScale) {
        scale = maxScale;
    }
    return scale;
}

void AnimationPlayer::ComputeLayout() {
    scaledSize = ScaleSize(info.width, info.height, displayScale, 0);
    const Rect client = ClientRect(window);
    offsetX = (scaledSize.cx - client.Width()) / 2;
    offsetY = (scaledSize.cy - client.Height()) / 2;
}

Rect AnimationPlayer::DestinationRect() const {
    const Rect client = ClientRect(window);
    Rect destination;
    if (offsetX < 0) {
        destination.left = -offsetX;
        destination.right = -offsetX + scaledSize.cx;
    } else {
        destination.left = client.left;
        destination.right = client.right;
    }
    if (offsetY < 0) {
        destination.top = -offsetY;
        destination.bottom = -offsetY + scaledSize.cy;
    } else {
        destination.top = client.top;
        destination.bottom = client.bottom;
    }
    return destination;
}

Rect AnimationPlayer::FrameDisplayRect(std::int32_t frameIndex) const {
    Rect shown(0, 0, 0, 0);
    if (frameIndex < 0 || frameIndex >= info.frameCount || frames == nullptr ||
        frames[frameIndex] == nullptr) {
        return shown;
    }
    const Size canvas = ScaleSize(info.width, info.height, decodeScale, 0);
    Rect layerRect =
        GridRect(frames[frameIndex]->decodedRect, info.width, info.height, canvas.cx, canvas.cy);
    if (!layerRect.Intersect(layerRect, Rect(0, 0, canvas.cx, canvas.cy))) {
        return shown;
    }
    return GridRect(layerRect, canvas.cx, canvas.cy, scaledSize.cx, scaledSize.cy);
}

void AnimationPlayer::ComposeFrame(std::uint8_t* destination, std::int32_t rowSkip,
                                   std::int32_t frameIndex, const Rect& visible) const {
    if (frameIndex < 0 || frameIndex >= info.frameCount || frames == nullptr ||
        frames[frameIndex] == nullptr) {
        return;
    }
    const CImgLayer& layer = *frames[frameIndex];

    // The layer holds the grid pixels of its decoded region on the grid of the picture as
    // decoded (the picture itself at full size); it is drawn at their place and only onto the
    // display pixels that show them, so that every frame samples the same picture pixels.
    const Size pictureSize = ScaleSize(info.width, info.height, decodeScale, 0);
    const Rect frameRect =
        GridRect(layer.decodedRect, info.width, info.height, pictureSize.cx, pictureSize.cy);
    const Rect displayFrame = FrameDisplayRect(frameIndex);
    if (displayFrame.IsEmpty()) {
        return;
    }
    const Point frameOrigin(frameRect.left, frameRect.top);
    ComposeLayer(layer.image, visible, destination, rowSkip, &displayFrame, &scaledSize,
                 orientation, &frameOrigin, &frameRect, &pictureSize);
}

}  // namespace br
