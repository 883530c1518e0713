// Fuzz target for the layer compositor: random pixel buffers (palette, colour with and without
// mask or key) and random placement arguments, always describing memory that exists. The
// destination holds the whole `area` plus its row skip; every byte outside the destination
// rectangle that the arguments define must come back untouched, and every source read must stay
// inside the buffer (AddressSanitizer watches the exact-size allocations).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode/image.h"
#include "raster/compositor.h"

namespace {

// Reads the fuzzer's bytes as a stream of small numbers; past the end it yields zeros, so every
// input, however short, describes one complete call.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::int32_t U16() { return Byte() | (Byte() << 8); }
    // A value in [0, limit].
    std::int32_t Upto(std::int32_t limit) { return U16() % (limit + 1); }
    // Mostly small coordinates, sometimes far away (both signs), so that clipping against
    // distant rectangles is exercised without products leaving 32 bits.
    std::int32_t Coordinate() {
        const std::uint8_t kind = Byte();
        if (kind < 200) return static_cast<std::int32_t>(Byte()) - 64;
        return static_cast<std::int16_t>(U16());
    }
    // Sizes from 0 to 32767 with a bias to small ones; a few are negative.
    std::int32_t Length() {
        const std::uint8_t kind = Byte();
        if (kind < 16) return -static_cast<std::int32_t>(Byte());
        if (kind < 200) return Byte();
        return Upto(32767);
    }
    bool Flag() { return (Byte() & 1) != 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

br::Rect RandomRect(Input& in) {
    const std::int32_t left = in.Coordinate();
    const std::int32_t top = in.Coordinate();
    return br::Rect(left, top, left + in.Length(), top + in.Length());
}

// The destination rectangle D: the only display points the compositor may write.
br::Rect DestinationRect(const br::Rect& area, const br::Rect* clip, const br::Size* surfaceSize) {
    br::Rect d = area;
    if (surfaceSize != nullptr) {
        if (!d.Intersect(br::Rect(0, 0, surfaceSize->cx, surfaceSize->cy), area)) return d;
    }
    if (clip != nullptr) d.Intersect(d, *clip);
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);

    // The pixel buffer, backed by exact-size allocations that the test owns (the buffer object
    // only borrows them, so it frees nothing of the platform on destruction).
    const std::int32_t width = in.Upto(48);
    const std::int32_t height = in.Upto(48);
    static const std::uint8_t kBytesPerPixel[] = {1, 1, 3, 4};
    const std::uint8_t bytesPerPixel = kBytesPerPixel[in.Byte() % 4];
    const std::int32_t rowPadding = static_cast<std::int32_t>((4 - (width * bytesPerPixel) % 4) % 4);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel + rowPadding;
    std::vector<std::uint8_t> color(std::max<std::size_t>(1, rowBytes * height));
    for (auto& b : color) b = in.Byte();
    const bool withMask = bytesPerPixel != 1 && in.Flag();
    const std::size_t maskRow = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> mask(withMask ? std::max<std::size_t>(1, maskRow * height) : 0);
    for (auto& b : mask) b = in.Byte();
    br::PaletteRecord palette{};
    palette.version = br::kPaletteVersion;
    palette.count = 256;
    for (int i = 0; i < 256; ++i) {
        palette.entries[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7),
                              static_cast<std::uint8_t>(255 - i), 0};
    }

    static std::uint8_t fakeBitmap;  // presence of a colour plane is all that is read
    br::CImgData buffer;
    buffer.width = width;
    buffer.height = height;
    buffer.rowPadding = rowPadding;
    buffer.bytesPerPixel = bytesPerPixel;
    buffer.colorBitmap = in.Byte() < 8 ? nullptr : reinterpret_cast<plat::HBITMAP>(&fakeBitmap);
    buffer.colorBitmapBorrowed = 1;
    buffer.colorBits = color.data();
    buffer.maskBits = withMask ? mask.data() : nullptr;
    buffer.transparentIndex = in.Flag() ? -1 : static_cast<std::int32_t>(in.U16() | in.Byte() << 16);
    buffer.ownsPalette = false;
    buffer.palette = &palette;

    // Destination memory: the whole area, rows of (area width + rowSkip) pixels. The area is
    // at most 160 x 160 pixels, placed anywhere.
    const std::int32_t areaLeft = in.Coordinate();
    const std::int32_t areaTop = in.Coordinate();
    const br::Rect area(areaLeft, areaTop, areaLeft + in.Upto(160), areaTop + in.Upto(160));
    const std::int32_t rowSkip = in.Upto(8);
    const std::size_t rowPixels = static_cast<std::size_t>(area.Width()) + rowSkip;
    const std::size_t destinationBytes = rowPixels * area.Height() * 3;
    std::vector<std::uint8_t> destination(std::max<std::size_t>(1, destinationBytes));
    for (std::size_t i = 0; i < destination.size(); ++i) {
        destination[i] = static_cast<std::uint8_t>(i * 131 + 17);
    }
    const std::vector<std::uint8_t> before = destination;

    br::Rect clipRect = RandomRect(in);
    const br::Rect* clip = in.Flag() ? &clipRect : nullptr;
    br::Size surfaceSizeValue(in.Length(), in.Length());
    const br::Size* surfaceSize = in.Flag() ? &surfaceSizeValue : nullptr;
    const br::Orientation orientation = static_cast<br::Orientation>(in.Byte() % 10);
    br::Point originValue(in.Coordinate(), in.Coordinate());
    const br::Point* origin = in.Flag() ? &originValue : nullptr;
    br::Rect layerClipValue = RandomRect(in);
    const br::Rect* layerClip = in.Flag() ? &layerClipValue : nullptr;
    br::Size canvasValue(in.Length(), in.Length());
    const br::Size* canvas = in.Flag() ? &canvasValue : nullptr;

    br::ComposeLayer(buffer, area, destination.data(), rowSkip, clip, surfaceSize, orientation,
                     origin, layerClip, canvas);

    // Nothing outside D may change.
    const br::Rect d = DestinationRect(area, clip, surfaceSize);
    for (std::int32_t y = 0; y < area.Height(); ++y) {
        for (std::size_t x = 0; x < rowPixels; ++x) {
            const std::int32_t px = area.left + static_cast<std::int32_t>(x);
            const std::int32_t py = area.top + y;
            const bool inside = !d.IsEmpty() && px >= d.left && px < d.right && py >= d.top &&
                                py < d.bottom && static_cast<std::int32_t>(x) < area.Width();
            if (inside) continue;
            const std::size_t at = (static_cast<std::size_t>(y) * rowPixels + x) * 3;
            if (std::memcmp(&destination[at], &before[at], 3) != 0) std::abort();
        }
    }
    return 0;
}
