// In-memory byte source; see decode/memory_source.h.
#include "decode/memory_source.h"

#include <algorithm>
#include <cstring>

namespace br {

MemorySource::MemorySource(const std::uint8_t* data, std::size_t length, std::uint32_t chunk)
    : data_(data), chunk_(chunk) {
    // The size field is 32 bits wide; a longer buffer is seen only up to that length.
    size = static_cast<std::uint32_t>(std::min<std::size_t>(length, 0xFFFFFFFFu));
}

std::uint32_t MemorySource::Read(void* buffer, std::uint32_t count) {
    if (buffer == nullptr || position_ < 0 || position_ >= static_cast<std::int64_t>(size)) {
        return 0;
    }
    std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(size) - position_);
    if (chunk_ != 0) n = std::min<std::int64_t>(n, chunk_);
    std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
    position_ += n;
    return static_cast<std::uint32_t>(n);
}

std::int32_t MemorySource::Tell() {
    return static_cast<std::int32_t>(std::min<std::int64_t>(position_, 0x7FFFFFFF));
}

void MemorySource::Seek(std::int32_t offset, std::int32_t origin) {
    std::int64_t base;
    switch (origin) {
        case 0:
            base = 0;
            break;
        case 1:
            base = position_;
            break;
        case 2:
            base = static_cast<std::int64_t>(size);
            break;
        default:
            return;
    }
    // Like a file stream: a position before the start is refused, one past the end is allowed
    // (reads there deliver nothing).
    const std::int64_t target = base + offset;
    if (target >= 0) position_ = target;
}

}  // namespace br
