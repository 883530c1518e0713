// Byte sources: the abstract source that decoders read through, the file source over a path,
// and the reference-counted UTF-16 string that holds the path.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace br {

class CDataSource2 {
public:
    CDataSource2() = default;
    virtual ~CDataSource2() = default;
    // Copies up to `count` bytes from the position and advances; returns the bytes copied.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
    virtual std::int32_t Tell() = 0;
    // origin 0 = start, 1 = current position, 2 = end; any other origin changes nothing.
    virtual void Seek(std::int32_t offset, std::int32_t origin) = 0;
    // Never null.
    virtual const char16_t* GetName() = 0;

    std::uint32_t size = 0;

    CDataSource2(const CDataSource2&) = delete;
    CDataSource2& operator=(const CDataSource2&) = delete;
};

// A reference-counted UTF-16 string: one pointer to the first character. The heap block holds
// a reference count, the length and the capacity (signed 32-bit each), then capacity + 1 units.
// Every empty string shares one static block (count -1) that is never counted or freed.
class WideString {
public:
    WideString();
    explicit WideString(const char16_t* text);
    ~WideString();
    WideString(const WideString& other);  // shares the block
    WideString& operator=(const WideString& other);

    const char16_t* c_str() const { return chars_; }
    std::int32_t Length() const;
    std::int32_t Capacity() const;
    std::int32_t RefCount() const;

    void Assign(const char16_t* text, std::int32_t count);
    void Assign(const char16_t* text);  // terminated; null assigns nothing (empty)
    void Release();                     // back to the shared empty block

private:
    void Allocate(std::int32_t count);
    char16_t* chars_;
};

class CDataDrmFile : public CDataSource2 {
public:
    CDataDrmFile();
    ~CDataDrmFile() override;
    // Opens the file read-only ("rb"); 1 when open, 0 otherwise. Called once.
    int Open(const char16_t* path);

    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::int32_t Tell() override;
    void Seek(std::int32_t offset, std::int32_t origin) override;
    const char16_t* GetName() override;

private:
    WideString path_;
    plat::HFILESTREAM file_;
};

// On success *out holds a new open CDataDrmFile owned by the caller; on failure *out is null.
int CreateFileSource(const char16_t* path, CDataSource2** out);

}  // namespace br
