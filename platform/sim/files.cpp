// The simulated device's file system: device paths ("\Windows\startup.wav") map onto a host
// folder that stands for the device's root. See platform/file.h and platform/sim/device.h.
//
// The device compares names without regard to case, so every component is looked up by
// scanning its host folder for a name that matches when case is folded. Nothing outside the
// device root is ever reachable: "." and ".." components, drive letters and host separators
// are refused, and an entry whose real location (after following symbolic links) lies outside
// the root counts as absent.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/sim/device.h"
#include "platform/sim/internal.h"

// A read-only stream with a buffer of its own. Decoders move back and forth through a picture
// with many short relative seeks (every sub-block of a GIF is skipped that way); the C
// library's streams throw their buffer away on every seek, so each skip would cost a system
// call and a refill. Here a seek that lands inside the buffered window only moves the cursor.
struct plat::FileStreamObject {
    static constexpr std::size_t kWindow = 64 * 1024;

    std::FILE* file;       // unbuffered; read only to fill `window` or large requests
    long size;             // bytes in the file when it was opened
    long windowStart = 0;  // file offset of window[0]
    std::size_t windowLength = 0;
    long position = 0;      // the stream's position
    long filePosition = 0;  // where `file` stands
    unsigned char window[kWindow];

    // Reads up to `count` bytes at `position` from the file itself; advances both positions.
    std::size_t ReadFromFile(unsigned char* out, std::size_t count) {
        if (filePosition != position) {
            if (std::fseek(file, position, SEEK_SET) != 0) return 0;
            filePosition = position;
        }
        const std::size_t got = std::fread(out, 1, count, file);
        filePosition += static_cast<long>(got);
        position += static_cast<long>(got);
        return got;
    }

    std::size_t Read(unsigned char* out, std::size_t count) {
        std::size_t done = 0;
        while (done < count) {
            const long offset = position - windowStart;
            if (offset >= 0 && static_cast<std::size_t>(offset) < windowLength) {
                const std::size_t n =
                    std::min(count - done, windowLength - static_cast<std::size_t>(offset));
                std::memcpy(out + done, window + offset, n);
                done += n;
                position += static_cast<long>(n);
                continue;
            }
            if (position >= size) break;
            if (count - done >= kWindow) {  // large reads bypass the window
                const std::size_t got = ReadFromFile(out + done, count - done);
                done += got;
                break;
            }
            windowStart = position;
            windowLength = 0;
            const std::size_t got = ReadFromFile(window, kWindow);
            position = windowStart;  // the window holds the bytes; the stream has not moved yet
            windowLength = got;
            if (got == 0) break;
        }
        return done;
    }
};

struct plat::FindObject {
    int unused;
};

namespace plat {

namespace {

namespace fs = std::filesystem;
using sim::detail::EqualNoCase;

struct Files {
    std::mutex mutex;
    std::string root;  // host folder; empty: the device has no file system
    std::set<FileStreamObject*> streams;
    std::set<FindObject*> finds;
};

Files& TheFiles() {
    static Files files;
    return files;
}

std::string CurrentRoot() {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.root;
}

bool HasWildcard(std::u16string_view s) {
    return s.find_first_of(u"*?") != std::u16string_view::npos;
}

// Splits an absolute device path into its components. False for a relative path or a
// component that cannot name anything on the device (".", "..", characters that the device
// forbids in names, among them the host's own separator "/").
bool SplitDevicePath(const char16_t* path, std::vector<std::u16string>* parts) {
    parts->clear();
    if (path == nullptr || path[0] != u'\\') return false;
    const std::u16string_view p(path);
    std::size_t start = 1;
    while (start <= p.size()) {
        std::size_t end = p.find(u'\\', start);
        if (end == std::u16string_view::npos) end = p.size();
        const std::u16string_view part = p.substr(start, end - start);
        if (!part.empty()) {
            if (part == u"." || part == u"..") return false;
            for (char16_t c : part) {
                if (c < 0x20 || c == u'/' || c == u':' || c == u'"' || c == u'<' || c == u'>' ||
                    c == u'|') {
                    return false;
                }
            }
            parts->emplace_back(part);
        }
        start = end + 1;
    }
    return true;
}

bool Inside(const fs::path& candidate, const fs::path& rootCanonical) {
    std::error_code ec;
    const fs::path real = fs::canonical(candidate, ec);
    if (ec) return false;
    auto r = rootCanonical.begin();
    auto c = real.begin();
    for (; r != rootCanonical.end(); ++r, ++c) {
        if (c == real.end() || *c != *r) return false;
    }
    return true;
}

// The host names in `dir` that stand for device names, sorted so that lookups are
// deterministic when a host folder holds names that differ only in case.
std::vector<std::pair<std::u16string, fs::path>> Entries(const fs::path& dir) {
    std::vector<std::pair<std::u16string, fs::path>> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::u16string name;
        const std::string utf8 = it->path().filename().string();
        if (!sim::detail::FromUtf8(utf8, &name) || name.size() >= 260) continue;
        out.emplace_back(std::move(name), it->path());
    }
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    return out;
}

// '*' matches any run of characters, '?' any one character, case folded.
bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*.*") pattern = u"*";  // the device's "everything"
    std::size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || sim::detail::FoldCase(pattern[p]) ==
                                                             sim::detail::FoldCase(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

struct Resolution {
    bool inside = false;  // the path is usable and stays within the device root
    bool exists = false;  // every component was found
    fs::path host;        // the host path (for a missing tail: the names as given)
    fs::path rootCanonical;
};

std::optional<fs::path> FindEntry(const fs::path& dir, std::u16string_view name,
                                  const fs::path& rootCanonical) {
    for (const auto& [entryName, entryPath] : Entries(dir)) {
        if (EqualNoCase(entryName, name) && Inside(entryPath, rootCanonical)) return entryPath;
    }
    return std::nullopt;
}

Resolution Resolve(const std::vector<std::u16string>& parts) {
    Resolution r;
    const std::string root = CurrentRoot();
    if (root.empty()) return r;
    std::error_code ec;
    r.rootCanonical = fs::canonical(root, ec);
    if (ec || !fs::is_directory(r.rootCanonical, ec)) return r;
    r.inside = true;
    r.exists = true;
    r.host = r.rootCanonical;
    for (const std::u16string& part : parts) {
        if (r.exists && fs::is_directory(r.host, ec)) {
            if (auto found = FindEntry(r.host, part, r.rootCanonical)) {
                r.host = *found;
                continue;
            }
        }
        r.host /= fs::path(sim::detail::ToUtf8(part));
        if (r.exists && fs::exists(fs::symlink_status(r.host, ec))) {
            // The name is there on the host but leads out of the device.
            r.inside = false;
            r.exists = false;
            return r;
        }
        r.exists = false;
    }
    return r;
}

void FillFindData(const fs::path& host, std::u16string_view name, FindData* data) {
    std::error_code ec;
    const bool directory = fs::is_directory(host, ec);
    data->attributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->size = directory ? 0 : static_cast<std::uint64_t>(fs::file_size(host, ec));
    if (ec) data->size = 0;
    const std::size_t n = std::min<std::size_t>(name.size(), 259);
    std::copy_n(name.begin(), n, data->name);
    data->name[n] = 0;
}

HFIND NewFind() {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    auto* find = new FindObject{0};
    f.finds.insert(find);
    return find;
}

}  // namespace

HFIND FindFirstFile(const char16_t* path, FindData* data) {
    std::vector<std::u16string> parts;
    if (data == nullptr || !SplitDevicePath(path, &parts)) return nullptr;
    if (parts.empty()) {  // "\" itself: the root folder
        const Resolution root = Resolve(parts);
        if (!root.exists) return nullptr;
        FillFindData(root.host, u"\\", data);
        return NewFind();
    }
    const std::u16string pattern = parts.back();
    parts.pop_back();
    for (const auto& part : parts) {
        if (HasWildcard(part)) return nullptr;  // only the last component may hold wildcards
    }
    const Resolution dir = Resolve(parts);
    std::error_code ec;
    if (!dir.exists || !fs::is_directory(dir.host, ec)) return nullptr;
    for (const auto& [name, host] : Entries(dir.host)) {
        const bool match =
            HasWildcard(pattern) ? WildcardMatch(pattern, name) : EqualNoCase(pattern, name);
        if (match && Inside(host, dir.rootCanonical)) {
            FillFindData(host, name, data);
            return NewFind();
        }
    }
    return nullptr;
}

bool FindClose(HFIND find) {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (f.finds.erase(find) == 0) return false;
    delete find;
    return true;
}

HFILESTREAM FileOpen(const char16_t* path, const char* mode) {
    // The device's files are only ever read; a mode that writes is refused rather than
    // silently reading.
    if (mode == nullptr || mode[0] != 'r' ||
        std::string_view(mode).find('+') != std::string_view::npos) {
        return nullptr;
    }
    std::vector<std::u16string> parts;
    if (!SplitDevicePath(path, &parts) || parts.empty()) return nullptr;
    if (HasWildcard(parts.back())) return nullptr;
    const Resolution r = Resolve(parts);
    std::error_code ec;
    if (!r.exists || !fs::is_regular_file(r.host, ec)) return nullptr;
    std::FILE* file = std::fopen(r.host.c_str(), "rb");
    if (file == nullptr) return nullptr;
    std::setvbuf(file, nullptr, _IONBF, 0);
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    auto* stream = new FileStreamObject;
    stream->file = file;
    stream->size = size;
    f.streams.insert(stream);
    return stream;
}

std::size_t FileRead(void* buffer, std::size_t size, std::size_t count, HFILESTREAM stream) {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (buffer == nullptr || f.streams.count(stream) == 0 || size == 0 || count == 0) return 0;
    if (count > static_cast<std::size_t>(-1) / size) return 0;
    // Like fread: the position moves by every byte read; the result counts whole elements.
    return stream->Read(static_cast<unsigned char*>(buffer), size * count) / size;
}

int FileSeek(HFILESTREAM stream, long offset, int origin) {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (f.streams.count(stream) == 0) return -1;
    long base;
    switch (origin) {
        case FILE_SEEK_SET:
            base = 0;
            break;
        case FILE_SEEK_CUR:
            base = stream->position;
            break;
        case FILE_SEEK_END:
            base = stream->size;
            break;
        default:
            return -1;  // the position stays
    }
    // As with the C library, a position before the start fails and leaves the position; one
    // past the end is allowed (reads there deliver nothing).
    if ((offset < 0 && base < std::numeric_limits<long>::min() - offset) ||
        (offset > 0 && base > std::numeric_limits<long>::max() - offset)) {
        return -1;
    }
    const long target = base + offset;
    if (target < 0) return -1;
    stream->position = target;
    return 0;
}

long FileTell(HFILESTREAM stream) {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (f.streams.count(stream) == 0) return -1;
    return stream->position;
}

int FileClose(HFILESTREAM stream) {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (f.streams.erase(stream) == 0) return EOF;
    const int rc = std::fclose(stream->file);
    delete stream;
    return rc == 0 ? 0 : EOF;
}

namespace sim {

void detail::ResetFiles(const std::string& deviceRoot) {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!deviceRoot.empty()) {
        f.root = deviceRoot;
    } else {
        const char* env = std::getenv("BOOTREEL_DEVICE_ROOT");
        f.root = env ? env : "";
    }
    // Whatever the previous device left open is closed with it.
    for (FileStreamObject* stream : f.streams) {
        std::fclose(stream->file);
        delete stream;
    }
    f.streams.clear();
    for (FindObject* find : f.finds) delete find;
    f.finds.clear();
}

void SetDeviceRoot(const std::string& hostFolder) {
    Files& f = TheFiles();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.root = hostFolder;
}

std::string HostPath(const char16_t* devicePath) {
    std::vector<std::u16string> parts;
    if (!SplitDevicePath(devicePath, &parts)) return {};
    for (const auto& part : parts) {
        if (HasWildcard(part)) return {};
    }
    const Resolution r = Resolve(parts);
    return r.inside ? r.host.string() : std::string();
}

}  // namespace sim

}  // namespace plat
