// A growable array of 32-bit values. The GIF decoder keeps its stream index (where each
// frame's descriptor and graphic control extension start) in two of them.
#pragma once

#include <cstdint>

namespace br {

class PointerArray {
  public:
    PointerArray();
    ~PointerArray();

    // No bounds check: callers pass indexes below `size`.
    std::uint32_t& operator[](std::int32_t index) { return data[index]; }
    std::uint32_t operator[](std::int32_t index) const { return data[index]; }

    // Resizes to newSize elements; slots that come into use are zeroed. A growBy other than -1
    // is stored first (0 = automatic: an eighth of the size, clamped to 4..1024). Returns false,
    // with the array unchanged, when newSize is negative or the storage cannot be allocated.
    bool SetSize(std::int32_t newSize, std::int32_t growBy = -1);
    // Appends a value; returns its index, or -1 when the storage cannot be grown.
    std::int32_t Add(std::uint32_t value);
    // Frees the storage; size and capacity become 0.
    void RemoveAll();

    std::uint32_t* data;
    std::int32_t size;
    std::int32_t capacity;
    std::int32_t growBy;

    PointerArray(const PointerArray&) = delete;
    PointerArray& operator=(const PointerArray&) = delete;
};

}  // namespace br
