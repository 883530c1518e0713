// Reference-counted path string, the file source and its factory; see decode/source.h.
#include "decode/source.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file.h"
#include "platform/module.h"

namespace br {

namespace {

// The heap block in front of a WideString's characters. The characters start right after the
// three counters (12 bytes), so the string's pointer is the block address + 12.
struct StringBlock {
    std::int32_t refs;
    std::int32_t length;
    std::int32_t capacity;
};
static_assert(sizeof(StringBlock) == 12, "three 32-bit counters");

// The block that every empty string shares: count -1, length 0, capacity 0, then the 0 unit.
// It is only ever read.
struct EmptyBlock {
    StringBlock header;
    char16_t terminator;
};
const EmptyBlock kEmpty = {{-1, 0, 0}, 0};

char16_t* EmptyChars() {
    return const_cast<char16_t*>(&kEmpty.terminator);
}

StringBlock* BlockOf(const char16_t* chars) {
    return reinterpret_cast<StringBlock*>(const_cast<char*>(reinterpret_cast<const char*>(chars)) -
                                          sizeof(StringBlock));
}

bool IsEmptyBlock(const char16_t* chars) {
    return chars == &kEmpty.terminator;
}

// A new private block of `count` units (count 1, length and capacity `count`); null when the
// memory cannot be had.
char16_t* NewBlock(std::int32_t count) {
    const std::size_t bytes =
        sizeof(StringBlock) + sizeof(char16_t) * (static_cast<std::size_t>(count) + 1);
    void* memory = std::malloc(bytes);
    if (memory == nullptr) return nullptr;
    auto* block = static_cast<StringBlock*>(memory);
    block->refs = 1;
    block->length = count;
    block->capacity = count;
    char16_t* chars = reinterpret_cast<char16_t*>(static_cast<char*>(memory) + sizeof(StringBlock));
    chars[count] = 0;
    return chars;
}

void ReleaseChars(char16_t* chars) {
    if (IsEmptyBlock(chars)) return;
    StringBlock* block = BlockOf(chars);
    if (plat::InterlockedDecrement(&block->refs) <= 0) std::free(block);
}

std::int32_t TextLength(const char16_t* text) {
    if (text == nullptr) return 0;
    std::int32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

}  // namespace

// ---- WideString --------------------------------------------------------------------------

WideString::WideString() : chars_(EmptyChars()) {}

WideString::WideString(const char16_t* text) : chars_(EmptyChars()) {
    Assign(text);
}

WideString::~WideString() {
    ReleaseChars(chars_);
}

WideString::WideString(const WideString& other) : chars_(other.chars_) {
    if (!IsEmptyBlock(chars_)) plat::InterlockedIncrement(&BlockOf(chars_)->refs);
}

WideString& WideString::operator=(const WideString& other) {
    if (chars_ == other.chars_) return *this;
    char16_t* shared = other.chars_;
    if (!IsEmptyBlock(shared)) plat::InterlockedIncrement(&BlockOf(shared)->refs);
    ReleaseChars(chars_);
    chars_ = shared;
    return *this;
}

std::int32_t WideString::Length() const {
    return BlockOf(chars_)->length;
}
std::int32_t WideString::Capacity() const {
    return BlockOf(chars_)->capacity;
}
std::int32_t WideString::RefCount() const {
    return BlockOf(chars_)->refs;
}

void WideString::Release() {
    ReleaseChars(chars_);
    chars_ = EmptyChars();
}

void WideString::Allocate(std::int32_t count) {
    Release();
    if (count <= 0) return;
    char16_t* chars = NewBlock(count);
    if (chars != nullptr) chars_ = chars;
}

void WideString::Assign(const char16_t* text, std::int32_t count) {
    if (count < 0 || text == nullptr) count = 0;
    StringBlock* block = BlockOf(chars_);
    if (IsEmptyBlock(chars_) || block->refs > 1 || block->capacity < count) {
        if (count == 0) {
            Release();
            return;
        }
        // The new block is filled before the old one goes, so that a text that lies inside the
        // old block (assigning a string to itself) is still there to copy.
        char16_t* chars = NewBlock(count);
        if (chars == nullptr) {
            Release();  // no memory: the string is left empty rather than half written
            return;
        }
        std::memcpy(chars, text, sizeof(char16_t) * static_cast<std::size_t>(count));
        ReleaseChars(chars_);
        chars_ = chars;
        return;
    }
    // The private block is large enough: keep it. memmove, since the text may be a part of it;
    // nothing is copied for an empty text, which may be a null pointer.
    if (count > 0) std::memmove(chars_, text, sizeof(char16_t) * static_cast<std::size_t>(count));
    block->length = count;
    chars_[count] = 0;
}

void WideString::Assign(const char16_t* text) {
    Assign(text, TextLength(text));
}

// ---- CDataDrmFile ------------------------------------------------------------------------

CDataDrmFile::CDataDrmFile() : file_(nullptr) {
    size = 0;
}

CDataDrmFile::~CDataDrmFile() {
    if (file_ != nullptr) plat::FileClose(file_);
    file_ = nullptr;
    path_.Release();
}

int CDataDrmFile::Open(const char16_t* path) {
    if (path == nullptr || path[0] == 0) return 0;
    path_.Assign(path);
    plat::HFILESTREAM file = plat::FileOpen(path, "rb");
    if (file == nullptr) return 0;
    file_ = file;
    plat::FileSeek(file_, 0, plat::FILE_SEEK_END);
    const long end = plat::FileTell(file_);
    // A length the platform cannot report, or one beyond the 32-bit field, counts as nothing
    // to read rather than as a wrapped size.
    size = (end > 0 && static_cast<unsigned long>(end) <= 0xFFFFFFFFul)
               ? static_cast<std::uint32_t>(end)
               : 0;
    plat::FileSeek(file_, 0, plat::FILE_SEEK_SET);
    return 1;
}

std::uint32_t CDataDrmFile::Read(void* buffer, std::uint32_t count) {
    if (file_ == nullptr || buffer == nullptr || count == 0) return 0;
    return static_cast<std::uint32_t>(plat::FileRead(buffer, 1, count, file_));
}

std::int32_t CDataDrmFile::Tell() {
    if (file_ == nullptr) return 0;
    return static_cast<std::int32_t>(plat::FileTell(file_));
}

void CDataDrmFile::Seek(std::int32_t offset, std::int32_t origin) {
    if (file_ == nullptr) return;
    int whence;
    switch (origin) {
        case 0:
            whence = plat::FILE_SEEK_SET;
            break;
        case 1:
            whence = plat::FILE_SEEK_CUR;
            break;
        case 2:
            whence = plat::FILE_SEEK_END;
            break;
        default:
            return;  // an unknown origin leaves the position alone
    }
    plat::FileSeek(file_, offset, whence);
}

const char16_t* CDataDrmFile::GetName() {
    return path_.c_str();
}

int CreateFileSource(const char16_t* path, CDataSource2** out) {
    if (out == nullptr) return 0;
    *out = nullptr;
    auto* source = new (std::nothrow) CDataDrmFile();
    if (source == nullptr) return 0;
    *out = source;
    if (source->Open(path) == 0) {
        delete source;
        *out = nullptr;
        return 0;
    }
    return 1;
}

}  // namespace br
