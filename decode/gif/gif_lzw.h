// LZW decompression of GIF image data (GIF89a, appendix F): the variable-width code reader
// that pulls bytes out of the data sub-blocks, and the 12-bit code table that turns codes
// into palette indices, one frame row at a time.
//
// The state is a plain record embedded in the GIF decoder; nothing is allocated while a frame
// is decoded. Behaviour that files rely on, kept exactly:
//  - the read counter R counts every code read since the start or the last clear code
//    (clear and end codes included) from clear + 2 on; the entry a code defines is R - 2, and
//    the code width grows when R passes 2^width, never beyond 12 bits;
//  - the first code after a start or a clear code defines nothing;
//  - a code equal to R - 2 (not yet defined) means "previous string plus its own first byte";
//    any other undefined code is corrupt data;
//  - an end code ends only the current DecodeRow call; the next call reads on after it;
//  - a string longer than the room left in a row continues at the start of the next row;
//  - a clear code changes nothing already written.
// Decisions for what the format leaves open:
//  - a full table (the entry to define would be 4096 or more) defines nothing more, and
//    decoding goes on with the table as it is (what encoders that defer the clear code expect);
//  - a minimum code size above 11 needs codes wider than 12 bits and is refused as corrupt data;
//  - running out of image data (a zero-size sub-block, or the source delivering no more bytes)
//    acts like an end code in every later DecodeRow call; bytes still pending from a string
//    are delivered first.
//
// Strings are not expanded through a stack one byte at a time. Each table entry keeps its
// length, its first byte, the last 1..8 bytes of its string and a link to the entry whose
// string is everything before those bytes (always a multiple of 8 long), so a string is
// written front to back in 8-byte steps straight into the row. The image data is decoded
// where the source's Read put it, in one window; no second copy joins the sub-blocks.
#pragma once

#include <cstdint>

#include "decode/source.h"

namespace br {

// Location numbers of the LZW error sites (component 38003, routine 64).
constexpr std::uint32_t kGifComponent = 38003;
constexpr std::uint32_t kLzwRoutine = 64;
constexpr std::uint32_t kLzwSiteUndefinedCode = 1;  // neither defined nor the next to define
constexpr std::uint32_t kLzwSiteStringTooLong = 2;  // chain leads outside the table
constexpr std::uint32_t kLzwSiteCodeSize = 3;       // minimum code size above 11
constexpr std::uint32_t kLzwSiteNoCodeSize = 4;     // the code-size byte cannot be read

class GifLzwState {
  public:
    static constexpr std::int32_t kMaxCodes = 4096;
    static constexpr std::int32_t kNoCode = 4098;    // "no previous code"
    static constexpr std::int32_t kNoMoreData = -1;  // ReadCode: the image data has ended

    GifLzwState();

    // Starts a frame: reads the minimum-code-size byte at the source's position (0 means
    // `fallbackSize`, the global colour table's size bits) and resets the tables. Throws
    // CIAException* (ErrorCorruptData) when the byte cannot be read or is above 11.
    // `readHint`, when not 0, is about how many bytes the frame's data takes in the source: the
    // first read asks for no more than that, so that a small frame does not copy the frames
    // after it. It changes only how much is read at a time, never what is decoded.
    void InitLzw(CDataSource2* source, std::int32_t fallbackSize, std::uint32_t readHint = 0);

    // The next code, which also becomes the current code; kNoMoreData once the image data has
    // ended. Advances the read counter and the code width. Never throws.
    std::int32_t ReadCode(CDataSource2* source);

    // Writes up to n palette indices to row[0 .. n-1] and returns how many it wrote: n, or
    // fewer when an end code (or the end of the data) came first; positions after those are
    // left untouched. Throws CIAException* (ErrorCorruptData) on an undefined code.
    std::int32_t DecodeRow(CDataSource2* source, std::uint8_t* row, std::int32_t n);

    // DecodeRow for callers that complete short rows themselves: the same indices and the same
    // count, but up to 7 positions after those written (never beyond row[n-1]) may have been
    // overwritten, also when it throws. Short strings are then stored 8 bytes at a time.
    std::int32_t DecodeRowOverwriting(CDataSource2* source, std::uint8_t* row, std::int32_t n);

    // Observable for tests.
    std::int32_t MinimumCodeSize() const { return minimumCodeSize_; }
    std::int32_t CodeWidth() const { return codeWidth_; }
    std::int32_t ReadCounter() const { return readCounter_; }
    std::int32_t PendingBytes() const { return pendingEnd_ - pendingPos_; }

    GifLzwState(const GifLzwState&) = delete;
    GifLzwState& operator=(const GifLzwState&) = delete;

  private:
    // The window of bytes read from the source, sub-block size bytes included, and how many
    // bytes before the unread data it keeps (the bit buffer holds fewer than 64 bits).
    static constexpr std::int32_t kRawSize = 8192;
    static constexpr std::int32_t kHistory = 8;
    // Bytes after the window that the loop of common codes may load (never use) when it reads
    // one of the last codes before the data's end.
    static constexpr std::int32_t kSpare = 8;

    template <bool kMayOverwrite>
    std::int32_t Decode(CDataSource2* source, std::uint8_t* row, std::int32_t n);
    struct Table;
    struct Registers;
    static constexpr int kRanShort = 0;
    static constexpr int kSlowCode = 1;
    static constexpr int kLongString = 2;
    static int RunCommonCodes(Table* table, Registers& r, const std::uint8_t* dataEnd,
                              std::uint8_t* outLast, std::uint8_t* rowEnd);
    void ResetTable();
    void RefillData(CDataSource2* source);

    std::int32_t minimumCodeSize_ = 0;
    std::int32_t clearCode_ = 0;
    std::int32_t endCode_ = 0;
    std::int32_t readCounter_ = 0;  // R
    std::int32_t codeWidth_ = 0;
    std::int32_t widthLimit_ = 0;
    std::int32_t previousCode_ = kNoCode;
    // Entries 0 .. literalsReady_ - 1 hold their literal strings (see InitLzw).
    std::int32_t literalsReady_ = 0;
    std::int32_t currentCode_ = kNoCode;

    // Bit reader: bits not yet consumed, the oldest in the lowest bits. Bits above bitCount_
    // may hold copies of bytes not yet counted; they are never used.
    std::uint64_t bitBuffer_ = 0;
    std::int32_t bitCount_ = 0;

    // The data bytes raw_[dataPos_ .. dataEnd_ - 1] follow each other without a break; at
    // dataEnd_ stands the next sub-block's size byte, or the window's end (rawEnd_), after which
    // blockLeft_ more bytes of the current sub-block are still to be read.
    std::int32_t dataPos_ = 0;
    std::int32_t dataEnd_ = 0;
    std::int32_t rawEnd_ = 0;
    std::int32_t blockLeft_ = 0;
    std::uint32_t readHint_ = 0;
    bool dataEnded_ = false;  // a zero-size sub-block or the end of the source was met
    bool sourceEnded_ = false;

    // Bytes of a string that did not fit in the previous row, delivered first by the next call.
    std::int32_t pendingPos_ = 0;
    std::int32_t pendingEnd_ = 0;

    // The code table. Each entry keeps the last 1..8 bytes of its code's string (the rest of
    // its bytes are those of its link, whose length is a multiple of 8) and, as one number, its
    // length (0 = not defined; also so for the clear and end codes), its link and its first
    // byte, so that defining an entry is two stores and following a link touches one entry.
    // No string reaches 4096 bytes (every entry is at most one byte longer than an entry
    // defined before it), so each field fits 12 bits and an entry 12 bytes.
    static constexpr std::uint32_t kLinkBits = 0x00FFF000u;
    static std::int32_t Length(std::uint32_t info) {
        return static_cast<std::int32_t>(info & 0xFFF);
    }
    static std::int32_t Link(std::uint32_t info) {
        return static_cast<std::int32_t>((info >> 12) & 0xFFF);
    }
    static std::uint8_t First(std::uint32_t info) { return static_cast<std::uint8_t>(info >> 24); }
    struct Entry {
        std::uint8_t tail[8];
        std::uint32_t info;  // length in bits 0-11, link in 12-23, first byte in 24-31
    };
    // One entry more than codes exist: once the table is full, definitions land in the last
    // one, which no code can name, instead of being tested for on every code. The whole state
    // stays under 64 KiB, the size above which freeing the decoder makes the C library sweep
    // its lists of small free blocks.
    struct Table {
        Entry entries[kMaxCodes + 1];
    };
    alignas(8) Table table_;

    std::uint8_t pending_[kMaxCodes + 8];
    std::uint8_t raw_[kRawSize + kSpare];
};

}  // namespace br
