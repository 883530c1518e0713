// Growable array of 32-bit values; see decode/gif/pointer_array.h.
#include "decode/gif/pointer_array.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace br {

PointerArray::PointerArray() : data(nullptr), size(0), capacity(0), growBy(0) {}

PointerArray::~PointerArray() {
    delete[] data;
}

bool PointerArray::SetSize(std::int32_t newSize, std::int32_t newGrowBy) {
    if (newGrowBy != -1) growBy = newGrowBy;
    if (newSize < 0) return false;
    if (newSize == 0) {
        RemoveAll();
        return true;
    }
    if (data == nullptr) {
        std::uint32_t* storage = new (std::nothrow) std::uint32_t[newSize];
        if (storage == nullptr) return false;
        std::memset(storage, 0, sizeof(std::uint32_t) * static_cast<std::size_t>(newSize));
        data = storage;
        size = capacity = newSize;
        return true;
    }
    if (newSize <= capacity) {
        if (newSize > size) {
            std::memset(data + size, 0,
                        sizeof(std::uint32_t) * static_cast<std::size_t>(newSize - size));
        }
        size = newSize;
        return true;
    }
    std::int32_t step = growBy;
    if (step <= 0) step = std::clamp(size / 8, 4, 1024);
    // Computed wide so that a capacity near the 32-bit limit cannot wrap.
    const std::int64_t wanted = std::max<std::int64_t>(newSize, std::int64_t{capacity} + step);
    const std::int32_t newCapacity =
        static_cast<std::int32_t>(std::min<std::int64_t>(wanted, INT32_MAX));
    std::uint32_t* storage = new (std::nothrow) std::uint32_t[newCapacity];
    if (storage == nullptr) return false;
    std::memcpy(storage, data, sizeof(std::uint32_t) * static_cast<std::size_t>(size));
    std::memset(storage + size, 0,
                sizeof(std::uint32_t) * static_cast<std::size_t>(newSize - size));
    delete[] data;
    data = storage;
    size = newSize;
    capacity = newCapacity;
    return true;
}

std::int32_t PointerArray::Add(std::uint32_t value) {
    const std::int32_t index = size;
    if (index == INT32_MAX || !SetSize(index + 1)) return -1;
    data[index] = value;
    return index;
}

void PointerArray::RemoveAll() {
    delete[] data;
    data = nullptr;
    size = capacity = 0;
}

}  // namespace br
