// What the GIF decode benchmarks share: giflib reading a picture from memory (the reference
// they time against and check with), and the clock they time with.
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace bench {

// CPU time of this thread: the machine may be shared, and time spent waiting for a processor
// must not count against either decoder.
inline double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// giflib's input function over bytes in memory; its user data is a GiflibCursor.
struct GiflibCursor {
    const std::vector<std::uint8_t>* bytes;
    std::size_t at;
};

inline int ReadFromMemory(GifFileType* file, GifByteType* buffer, int count) {
    auto* cursor = static_cast<GiflibCursor*>(file->UserData);
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(count), cursor->bytes->size() - cursor->at);
    std::memcpy(buffer, cursor->bytes->data() + cursor->at, n);
    cursor->at += n;
    return static_cast<int>(n);
}

// giflib's whole decode of a picture in memory, every frame kept: DGifOpen + DGifSlurp + close.
inline bool DecodeGiflib(const std::vector<std::uint8_t>& gif) {
    GiflibCursor cursor{&gif, 0};
    int error = 0;
    GifFileType* file = DGifOpen(&cursor, ReadFromMemory, &error);
    if (file == nullptr) return false;
    const bool ok = DGifSlurp(file) == GIF_OK;
    DGifCloseFile(file, &error);
    return ok;
}

}  // namespace bench
