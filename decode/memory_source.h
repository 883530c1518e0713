// A byte source over bytes in memory, for tests, benchmarks and fuzzing. It can hand out at
// most `chunk` bytes per Read, to check that decoders cope with short reads.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/source.h"

namespace br {

class MemorySource : public CDataSource2 {
public:
    // The bytes must outlive the source; chunk 0 means "as many as asked".
    MemorySource(const std::uint8_t* data, std::size_t length, std::uint32_t chunk = 0);
    explicit MemorySource(const std::vector<std::uint8_t>& bytes, std::uint32_t chunk = 0)
        : MemorySource(bytes.data(), bytes.size(), chunk) {}

    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::int32_t Tell() override;
    void Seek(std::int32_t offset, std::int32_t origin) override;
    const char16_t* GetName() override { return u""; }

private:
    const std::uint8_t* data_;
    std::int64_t position_ = 0;
    std::uint32_t chunk_;
};

}  // namespace br
