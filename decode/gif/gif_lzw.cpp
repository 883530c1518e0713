// LZW decompression of GIF image data; see decode/gif/gif_lzw.h.
#include "decode/gif/gif_lzw.h"

#include <algorithm>
#include <cstring>

#include "decode/error.h"

namespace br {

#if defined(__GNUC__)
#define BR_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define BR_UNLIKELY(x) (x)
#endif

namespace {

// Eight data bytes as one value, the first byte in the lowest bits (the order in which GIF
// packs codes).
inline std::uint64_t LoadLittle64(const std::uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint64_t value;
    std::memcpy(&value, p, 8);
    return value;
#else
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
#endif
}

// The first `used` bytes of an 8-byte tail followed by byte b, as one 8-byte value; built in
// a register rather than by a store into a just-written value, which the processor would have
// to stall on when the tail is read back as a whole.
inline void AppendToTail(std::uint8_t* out, const std::uint8_t* tail, std::uint32_t used,
                         std::uint8_t b) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Every tail holds zeros after its last byte (literals are written whole, and every tail
    // defined here is built so), so a tail in use needs no masking; a full one (used 0) is
    // not kept at all.
    std::uint64_t value;
    std::memcpy(&value, tail, 8);
    value = (used != 0 ? value : 0) | (std::uint64_t{b} << (8 * used));
    std::memcpy(out, &value, 8);
#else
    std::uint8_t value[8];
    std::memcpy(value, tail, 8);
    value[used] = b;
    std::memcpy(out, value, 8);
#endif
}

// Copies exactly k bytes (1..8) with at most two overlapping fixed-size moves, so that no byte
// outside [p, p + k) is touched.
inline void CopyUpTo8(std::uint8_t* p, const std::uint8_t* source, std::int32_t k) {
    if (k >= 4) {
        std::memcpy(p, source, 4);
        std::memcpy(p + k - 4, source + k - 4, 4);
    } else if (k >= 2) {
        std::memcpy(p, source, 2);
        std::memcpy(p + k - 2, source + k - 2, 2);
    } else {
        *p = *source;
    }
}

}  // namespace

// Nothing is zeroed here: InitLzw writes every entry a frame can read before it reads it (see
// there), and the byte windows are only read where they have been filled.
GifLzwState::GifLzwState() = default;

void GifLzwState::InitLzw(CDataSource2* source, std::int32_t fallbackSize,
                          std::uint32_t readHint) {
    std::uint8_t sizeByte = 0;
    if (source->Read(&sizeByte, 1) != 1) {
        // Without this byte there is no code size to decode with.
        ThrowError(ErrorCorruptData, kGifComponent, kLzwRoutine, kLzwSiteNoCodeSize);
    }
    std::int32_t size = sizeByte != 0 ? sizeByte : fallbackSize;
    // Above 11 the first codes would already be wider than the 12-bit table allows.
    if (size < 1 || size > 11) {
        ThrowError(ErrorCorruptData, kGifComponent, kLzwRoutine, kLzwSiteCodeSize);
    }
    minimumCodeSize_ = size;
    clearCode_ = 1 << size;
    endCode_ = clearCode_ + 1;

    pendingPos_ = pendingEnd_ = 0;
    bitBuffer_ = 0;
    bitCount_ = 0;
    dataPos_ = dataEnd_ = rawEnd_ = 0;
    blockLeft_ = 0;
    dataEnded_ = false;
    sourceEnded_ = false;
    readHint_ = readHint;

    // A frame reads only entries below R - 2, and every one of those above the end code is
    // written (defined, or marked undefined) before R - 2 passes it. So a frame needs only its
    // literals (fixed one-byte strings, the whole tail written so that no byte of it is ever
    // unset) and its clear and end codes marked undefined. Literals stay intact below the clear
    // code of the frame that wrote them, so frames with the same code size write nothing here.
    for (std::int32_t code = literalsReady_; code < clearCode_; ++code) {
        table_.entries[code].info = 1 | (std::uint32_t{static_cast<std::uint8_t>(code)} << 24);
        std::memset(table_.entries[code].tail, 0, 8);
        table_.entries[code].tail[0] = static_cast<std::uint8_t>(code);
    }
    table_.entries[clearCode_].info = 0;
    table_.entries[endCode_].info = 0;
    literalsReady_ = clearCode_;
    ResetTable();
    currentCode_ = kNoCode;
}

// Back to the starting state after a clear code (or at the start). Entries from before are
// not erased: a code counts as defined only below R - 2, and everything below that has been
// defined since (or marked undefined when an end code passed it).
void GifLzwState::ResetTable() {
    previousCode_ = kNoCode;
    codeWidth_ = minimumCodeSize_ + 1;
    widthLimit_ = 1 << codeWidth_;
    readCounter_ = endCode_ + 1;
}

// Makes the unread data at dataPos_ run on without a break for at least 8 bytes, or up to the
// end of the frame's data. The bytes are read from the source in large pieces into raw_ and
// decoded where they land: a sub-block's size byte is taken out of the way by moving the few
// unread bytes before it up by one, so the data bytes themselves are copied only by the
// source's Read. The kHistory bytes before dataPos_ move with them, so that the bits still in
// the bit buffer can be read again from the window. How many bytes each Read delivers makes
// no difference.
void GifLzwState::RefillData(CDataSource2* source) {
    while (!dataEnded_ && dataEnd_ - dataPos_ < 8) {
        if (dataEnd_ < rawEnd_) {
            // dataEnd_ stands on the size byte of the next sub-block.
            const std::int32_t size = raw_[dataEnd_];
            if (size == 0) {  // the block terminator: the frame's data ends here
                dataEnded_ = true;
                break;
            }
            const std::int32_t from = std::max(dataPos_ - kHistory, 0);
            std::memmove(raw_ + from + 1, raw_ + from, static_cast<std::size_t>(dataEnd_ - from));
            ++dataPos_;
            const std::int32_t blockEnd = dataEnd_ + 1 + size;
            dataEnd_ = std::min(blockEnd, rawEnd_);
            blockLeft_ = blockEnd - dataEnd_;
            continue;
        }
        // The window is used up: keep the unread bytes (and those just before them) at its
        // start and read on after them.
        const std::int32_t from = std::max(dataPos_ - kHistory, 0);
        if (from > 0) std::memmove(raw_, raw_ + from, static_cast<std::size_t>(dataEnd_ - from));
        dataPos_ -= from;
        dataEnd_ = rawEnd_ = dataEnd_ - from;
        const std::int32_t kept = rawEnd_;
        if (sourceEnded_) {
            dataEnded_ = true;
            break;
        }
        // A first read of about the frame's own bytes (the hint), so that a small frame does not
        // copy the frames after it; later reads fill the window.
        std::uint32_t want = static_cast<std::uint32_t>(kRawSize - kept);
        if (readHint_ > 0) {
            want = std::min<std::uint32_t>(want, std::max<std::uint32_t>(readHint_, 64));
            readHint_ = 0;
        }
        const std::uint32_t got = std::min(source->Read(raw_ + kept, want), want);
        if (got == 0) {
            sourceEnded_ = true;
            dataEnded_ = true;  // a sub-block cut short: what arrived is still used
            break;
        }
        rawEnd_ = kept + static_cast<std::int32_t>(got);
        // The spare bytes after the data that a code's 8-byte load may reach hold zeros rather
        // than whatever the memory held (no code uses their bits).
        std::memset(raw_ + rawEnd_, 0, kSpare);
        if (blockLeft_ > 0) {
            const std::int32_t take = std::min(blockLeft_, static_cast<std::int32_t>(got));
            dataEnd_ = kept + take;
            blockLeft_ -= take;
        }
    }
}

std::int32_t GifLzwState::ReadCode(CDataSource2* source) {
    while (bitCount_ < codeWidth_) {
        if (dataPos_ == dataEnd_) {
            RefillData(source);
            if (dataPos_ == dataEnd_) return kNoMoreData;
        }
        bitBuffer_ &= (std::uint64_t{1} << bitCount_) - 1;
        bitBuffer_ |= std::uint64_t{raw_[dataPos_++]} << bitCount_;
        bitCount_ += 8;
    }
    const std::int32_t code =
        static_cast<std::int32_t>(bitBuffer_ & ((std::uint64_t{1} << codeWidth_) - 1));
    bitBuffer_ >>= codeWidth_;
    bitCount_ -= codeWidth_;
    currentCode_ = code;
    ++readCounter_;
    if (readCounter_ > widthLimit_) {
        if (codeWidth_ < 12) {
            widthLimit_ <<= 1;
            ++codeWidth_;
        } else if (readCounter_ > kNoCode) {
            // Past a full table the counter only matters as "beyond the table"; holding it
            // here keeps it from ever overflowing on endless data.
            readCounter_ = kNoCode;
        }
    }
    // Nothing defines the entry this code passes over.
    table_.entries[readCounter_ - 2].info = 0;
    return code;
}

std::int32_t GifLzwState::DecodeRow(CDataSource2* source, std::uint8_t* row, std::int32_t n) {
    return Decode<false>(source, row, n);
}

std::int32_t GifLzwState::DecodeRowOverwriting(CDataSource2* source, std::uint8_t* row,
                                               std::int32_t n) {
    return Decode<true>(source, row, n);
}

// The decoder's hot state, handed to the loop of common codes by value so that the compiler
// keeps all of it in registers there.
struct GifLzwState::Registers {
    std::uint64_t bits;
    std::uint32_t count;
    std::uint32_t width;
    const std::uint8_t* base;  // the window the data pointer lies in
    std::int32_t limit;
    std::int32_t counter;
    std::int32_t previous;
    std::int32_t code;
    const std::uint8_t* dp;
    std::uint8_t* out;
};

// The common codes, with no test of room or data beyond one comparison each: a defined string
// (or the entry about to be defined) after another code, while the row has room for 8 bytes
// (out <= outLast) and the data for one more code of up to 12 bits (dataEnd: the 8-byte load
// may reach past it into the window's spare bytes, whose bits no code then uses, so the slow
// path takes only the last code or two of a frame's data). Codes are read by their bit
// position straight from the window, each with one 8-byte load, instead of through the bit
// buffer: the position is the only state the reading carries from code to code. The bits
// still in the buffer on entry are those of the bytes just before dp, which the window keeps
// (see RefillData). A short string is stored as one 8-byte word, a
// longer one in 8-byte pieces along its links. Returns kRanShort when room or data ran short;
// otherwise it stops at a code it leaves to the caller, already taken and counted (r.code):
// kSlowCode for a clear or end code or an undefined code, kLongString for a long string that
// does not fit in the row (its entry is then defined and r.previous is that code).
int GifLzwState::RunCommonCodes(Table* table, Registers& r, const std::uint8_t* dataEnd,
                                 std::uint8_t* outLast, std::uint8_t* rowEnd) {
    const std::uint8_t* const base = r.base;
    std::uint64_t position = static_cast<std::uint64_t>(r.dp - base) * 8 - r.count;
    const std::uint64_t positionLast = static_cast<std::uint64_t>(dataEnd - base) * 8 - 12;
    std::uint32_t width = r.width;
    std::uint32_t mask = (1u << width) - 1;
    std::int32_t counter = r.counter;
    std::int32_t previous = r.previous;
    std::uint8_t* out = r.out;
    std::int32_t limit = r.limit;
    int stopped = kRanShort;
    do {
        const std::int32_t code = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(LoadLittle64(base + (position >> 3)) >> (position & 7)) &
            mask);
        position += width;
        ++counter;
        if (BR_UNLIKELY(counter > limit)) {
            if (width < 12) {
                limit <<= 1;
                ++width;
                mask = (1u << width) - 1;
            } else if (counter > kNoCode) {
                counter = kNoCode;
            }
        }
        const std::int32_t next = counter - 2;  // the entry this code defines
        if (BR_UNLIKELY(code > next)) {
            stopped = kSlowCode;
            r.code = code;
            break;
        }
        // A code for the entry about to be defined is the previous string plus its own first
        // byte; any other code gives the first byte of its own string.
        const bool isNext = code == next;
        const std::uint32_t firstInfo = table->entries[isNext ? previous : code].info;
        if (BR_UNLIKELY((firstInfo & 0xFFF) == 0)) {
            stopped = kSlowCode;  // clear, end or undefined
            r.code = code;
            break;
        }
        // Defines entry `next` as the previous string plus that first byte; a full tail starts
        // a new one and links to the previous string.
        const std::uint32_t fromInfo = table->entries[previous].info;
        const std::uint32_t used = fromInfo & 7;
        AppendToTail(table->entries[next].tail, table->entries[previous].tail, used,
                     First(firstInfo));
        const std::uint32_t longer = fromInfo + 1;  // same link and first byte
        const std::uint32_t defined =
            used != 0 ? longer
                      : (longer & ~kLinkBits) | (static_cast<std::uint32_t>(previous) << 12);
        table->entries[next].info = defined;
        const std::uint32_t length = (isNext ? defined : firstInfo) & 0xFFF;
        previous = code;
        if (length <= 8) {
            std::memcpy(out, table->entries[code].tail, 8);
            out += length;
            continue;
        }
        if (length + 7 > static_cast<std::uint32_t>(rowEnd - out)) {
            stopped = kLongString;
            r.code = code;
            break;
        }
        const std::uint32_t k = ((length - 1) & 7) + 1;
        std::uint8_t* p = out + (length - k);
        std::int32_t entry = code;
        std::memcpy(p, table->entries[entry].tail, 8);
        while (p != out) {
            p -= 8;
            entry = Link(table->entries[entry].info);
            std::memcpy(p, table->entries[entry].tail, 8);
        }
        out += length;
    } while (out <= outLast && position <= positionLast);
    // Back to the bit buffer: the bits left of a byte begun.
    const std::uint32_t begun = static_cast<std::uint32_t>(position & 7);
    const std::uint8_t* dp = base + (position >> 3);
    r.bits = begun != 0 ? std::uint64_t{*dp} >> begun : 0;
    r.count = begun != 0 ? 8 - begun : 0;
    if (begun != 0) ++dp;
    r.width = width;
    r.counter = counter;
    r.previous = previous;
    r.dp = dp;
    r.out = out;
    r.limit = limit;
    return stopped;
}

template <bool kMayOverwrite>
std::int32_t GifLzwState::Decode(CDataSource2* source, std::uint8_t* row, std::int32_t n) {
    if (n <= 0) return 0;
    std::uint8_t* out = row;
    std::uint8_t* const rowEnd = row + n;
    if (pendingPos_ < pendingEnd_) {
        const std::int32_t take = std::min(n, pendingEnd_ - pendingPos_);
        std::memcpy(out, pending_ + pendingPos_, static_cast<std::size_t>(take));
        pendingPos_ += take;
        out += take;
        if (out == rowEnd) return n;
    }

    // The hot state lives in locals: stores to the row may alias any member as far as the
    // compiler knows, so members would be reloaded after every byte written.
    std::uint64_t bits = bitBuffer_;
    std::uint32_t count = static_cast<std::uint32_t>(bitCount_);
    std::uint32_t width = static_cast<std::uint32_t>(codeWidth_);
    std::int32_t limit = widthLimit_;
    std::int32_t counter = readCounter_;
    std::int32_t previous = previousCode_;
    std::int32_t code = currentCode_;
    const std::uint8_t* dp = raw_ + dataPos_;
    const std::uint8_t* de = raw_ + dataEnd_;
    // One base for both arrays, so that the loop below keeps one register for the table.
    Table* const table = &table_;

    auto save = [&] {
        bitBuffer_ = bits;
        bitCount_ = static_cast<std::int32_t>(count);
        codeWidth_ = static_cast<std::int32_t>(width);
        widthLimit_ = limit;
        readCounter_ = counter;
        previousCode_ = previous;
        currentCode_ = code;
        dataPos_ = static_cast<std::int32_t>(dp - raw_);
        dataEnd_ = static_cast<std::int32_t>(de - raw_);
    };
    // Takes the next code off the bits (there are enough) and counts it; the width grows when
    // the counter passes 2^width, and past a full table the counter is held at kNoCode so that
    // it never overflows on endless data. R - 2 thus never exceeds kMaxCodes.
    auto takeCode = [&] {
        code = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits) & ((1u << width) - 1));
        bits >>= width;
        count -= width;
        ++counter;
        if (counter > limit) {
            if (width < 12) {
                limit <<= 1;
                ++width;
            } else if (counter > kNoCode) {
                counter = kNoCode;
            }
        }
    };
    // Defines entry R - 2 as the previous string plus byte b (the spare entry once the table is
    // full) and returns its info.
    auto define = [&](std::uint8_t b) {
        const std::int32_t entry = counter - 2;
        const std::uint32_t fromInfo = table->entries[previous].info;
        const std::uint32_t used = static_cast<std::uint32_t>(fromInfo) & 7;
        // A full tail starts a new one and links to the previous string.
        AppendToTail(table->entries[entry].tail, table->entries[previous].tail, used, b);
        const std::uint32_t longer = fromInfo + 1;  // same link and first byte
        const std::uint32_t info =
            used != 0 ? longer
                      : (longer & ~kLinkBits) | (static_cast<std::uint32_t>(previous) << 12);
        table->entries[entry].info = info;
        return info;
    };
    // Writes the string of `code` (`length` bytes) front to back: its tail first at the end,
    // then whole 8-byte pieces along the links. With `spill` the tail is stored as a whole 8
    // bytes, overwriting up to 7 bytes after the string.
    auto writeString = [table](std::uint8_t* to, std::int32_t code, std::int32_t length,
                               bool spill) {
        const std::int32_t k = ((length - 1) & 7) + 1;
        std::uint8_t* p = to + (length - k);
        std::int32_t entry = code;
        if (spill) {
            std::memcpy(p, table->entries[entry].tail, 8);
        } else {
            CopyUpTo8(p, table->entries[entry].tail, k);
        }
        while (p != to) {
            p -= 8;
            entry = Link(table->entries[entry].info);
            std::memcpy(p, table->entries[entry].tail, 8);
        }
    };
    // Delivers the string of `code` at `out`; what does not fit waits for the next row.
    auto deliver = [&](std::int32_t code, std::int32_t length) {
        const std::ptrdiff_t room = rowEnd - out;
        if (kMayOverwrite && length + 7 <= room) {
            writeString(out, code, length, true);
            out += length;
        } else if (length <= room) {
            writeString(out, code, length, false);
            out += length;
        } else {
            writeString(pending_, code, length, false);
            std::memcpy(out, pending_, static_cast<std::size_t>(room));
            pendingPos_ = static_cast<std::int32_t>(room);
            pendingEnd_ = length;
            out = rowEnd;
        }
    };

    while (out < rowEnd) {
        bool haveCode = false;
        if (kMayOverwrite && previous != kNoCode && rowEnd - out >= 8 &&
            (de - dp) * 8 + count >= 12) {
            Registers r{bits, count, width, raw_, limit, counter, previous, code, dp, out};
            const int stopped = RunCommonCodes(table, r, de, rowEnd - 8, rowEnd);
            bits = r.bits;
            count = r.count;
            width = r.width;
            limit = r.limit;
            counter = r.counter;
            code = r.code;
            dp = r.dp;
            out = r.out;
            previous = r.previous;
            if (stopped == kRanShort) continue;
            if (stopped == kLongString) {
                deliver(code, Length(table->entries[code].info));  // its entry is defined already
                continue;
            }
            haveCode = true;
        }
        if (!haveCode) {
            if (count < width) {
                if (de - dp < 8) {
                    save();
                    RefillData(source);
                    dp = raw_ + dataPos_;
                    de = raw_ + dataEnd_;
                }
                if (de - dp >= 8) {
                    bits |= LoadLittle64(dp) << count;
                    dp += (63 - count) >> 3;
                    count |= 56;
                } else {
                    while (count <= 56 && dp < de) {
                        bits &= (std::uint64_t{1} << count) - 1;
                        bits |= std::uint64_t{*dp++} << count;
                        count += 8;
                    }
                    if (count < width) break;  // no more image data: like an end code
                }
            }
            takeCode();
        }

        // Entries at R - 2 and above may never have been written: they are not read.
        const std::uint32_t info = code < counter - 2 ? table->entries[code].info : 0;
        if (Length(info) != 0) {
            // A literal or a defined string. The first code after a start or a clear code (a
            // literal) defines nothing, and the entry it passes over must not keep a string
            // from before the clear: after end codes that entry lies above the end code.
            if (previous != kNoCode) {
                define(First(info));
            } else {
                table->entries[counter - 2].info = 0;
            }
            deliver(code, Length(info));
            previous = code;
            continue;
        }
        if (code == clearCode_) {
            save();
            ResetTable();
            width = static_cast<std::uint32_t>(codeWidth_);
            limit = widthLimit_;
            counter = readCounter_;
            previous = previousCode_;
            continue;
        }
        if (code == endCode_) {
            table->entries[counter - 2].info = 0;  // the entry it passes over stays undefined
            break;
        }
        if (code != counter - 2) {
            table->entries[counter - 2].info = 0;
            save();
            ThrowError(ErrorCorruptData, kGifComponent, kLzwRoutine, kLzwSiteUndefinedCode);
        }
        if (previous == kNoCode) {
            // "Previous string plus its first byte" with no previous code: the chain would
            // lead outside the table.
            table->entries[counter - 2].info = 0;
            save();
            ThrowError(ErrorCorruptData, kGifComponent, kLzwRoutine, kLzwSiteStringTooLong);
        }
        define(First(table->entries[previous].info));  // defines this very code
        deliver(code, Length(table->entries[code].info));
        previous = code;
    }
    save();
    return static_cast<std::int32_t>(out - row);
}

}  // namespace br
