// LZW decompression of GIF image data; see decode/gif/gif_lzw.h.
#include "decode/gif/gif_lzw.h"

#include <algorithm>
#include <cstring>

#include "decode/error.h"

namespace br {

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

void GifLzwState::InitLzw(CDataSource2* source, std::int32_t fallbackSize) {
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
    dataPos_ = dataEnd_ = 0;
    dataEnded_ = false;
    rawPos_ = rawEnd_ = 0;
    sourceEnded_ = false;

    // A frame reads only entries below R - 2, and every one of those above the end code is
    // written (defined, or marked undefined) before R - 2 passes it. So a frame needs only its
    // literals (fixed one-byte strings, the whole tail written so that no byte of it is ever
    // unset) and its clear and end codes marked undefined. Literals stay intact below the clear
    // code of the frame that wrote them, so frames with the same code size write nothing here.
    for (std::int32_t code = literalsReady_; code < clearCode_; ++code) {
        Entry& entry = table_[code];
        entry.info = 1 | (std::uint64_t{static_cast<std::uint8_t>(code)} << 32);
        const std::uint64_t tail = static_cast<std::uint8_t>(code);
        std::memcpy(entry.tail, &tail, 8);
    }
    table_[clearCode_].info = 0;
    table_[endCode_].info = 0;
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

bool GifLzwState::FillRaw(CDataSource2* source) {
    if (sourceEnded_) return false;
    const std::uint32_t got = source->Read(raw_, kRawSize);
    rawPos_ = 0;
    rawEnd_ = static_cast<std::int32_t>(std::min<std::uint32_t>(got, kRawSize));
    if (rawEnd_ == 0) {
        sourceEnded_ = true;
        return false;
    }
    return true;
}

// Moves the unread data bytes to the front and appends whole sub-blocks while they fit. The
// source is read in large pieces; how many bytes each Read delivers makes no difference.
void GifLzwState::RefillData(CDataSource2* source) {
    const std::int32_t left = dataEnd_ - dataPos_;
    if (left > 0 && dataPos_ > 0) std::memmove(data_, data_ + dataPos_, left);
    dataPos_ = 0;
    dataEnd_ = std::max(left, 0);
    while (!dataEnded_ && dataEnd_ + 255 <= kDataSize) {
        if (rawPos_ == rawEnd_ && !FillRaw(source)) {
            dataEnded_ = true;
            break;
        }
        std::int32_t blockSize = raw_[rawPos_++];
        if (blockSize == 0) {  // the block terminator: the frame's data ends here
            dataEnded_ = true;
            break;
        }
        while (blockSize > 0) {
            if (rawPos_ == rawEnd_ && !FillRaw(source)) {
                dataEnded_ = true;  // cut short: what arrived is still used
                break;
            }
            const std::int32_t take = std::min(blockSize, rawEnd_ - rawPos_);
            std::memcpy(data_ + dataEnd_, raw_ + rawPos_, static_cast<std::size_t>(take));
            dataEnd_ += take;
            rawPos_ += take;
            blockSize -= take;
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
        bitBuffer_ |= std::uint64_t{data_[dataPos_++]} << bitCount_;
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
    table_[readCounter_ - 2].info = 0;
    return code;
}

std::int32_t GifLzwState::DecodeRow(CDataSource2* source, std::uint8_t* row, std::int32_t n) {
    return Decode<false>(source, row, n);
}

std::int32_t GifLzwState::DecodeRowOverwriting(CDataSource2* source, std::uint8_t* row,
                                               std::int32_t n) {
    return Decode<true>(source, row, n);
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
    std::int32_t count = bitCount_;
    std::int32_t width = codeWidth_;
    std::int32_t limit = widthLimit_;
    std::int32_t counter = readCounter_;
    std::int32_t previous = previousCode_;
    std::int32_t code = currentCode_;
    const std::uint8_t* dp = data_ + dataPos_;
    const std::uint8_t* de = data_ + dataEnd_;
    Entry* const table = table_;

    auto save = [&] {
        bitBuffer_ = bits;
        bitCount_ = count;
        codeWidth_ = width;
        widthLimit_ = limit;
        readCounter_ = counter;
        previousCode_ = previous;
        currentCode_ = code;
        dataPos_ = static_cast<std::int32_t>(dp - data_);
        dataEnd_ = static_cast<std::int32_t>(de - data_);
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
    // full).
    auto define = [&](std::uint8_t b) {
        const Entry& from = table[previous];
        Entry& entry = table[counter - 2];
        const std::uint64_t fromInfo = from.info;
        const std::uint32_t used = static_cast<std::uint32_t>(fromInfo) & 7;
        // A full tail starts a new one and links to the previous string.
        AppendToTail(entry.tail, from.tail, used, b);
        const std::uint64_t longer = fromInfo + 1;  // same link and first byte
        entry.info = used != 0
                         ? longer
                         : (longer & ~kLinkBits) | (static_cast<std::uint64_t>(previous) << 16);
    };
    // Writes the string of `code` (`length` bytes) front to back: its tail first at the end,
    // then whole 8-byte pieces along the links. With `spill` the tail is stored as a whole 8
    // bytes, overwriting up to 7 bytes after the string.
    auto writeString = [table](std::uint8_t* to, std::int32_t code, std::int32_t length,
                               bool spill) {
        const std::int32_t k = ((length - 1) & 7) + 1;
        std::uint8_t* p = to + (length - k);
        const Entry* entry = &table[code];
        if (spill) {
            std::memcpy(p, entry->tail, 8);
        } else {
            CopyUpTo8(p, entry->tail, k);
        }
        while (p != to) {
            p -= 8;
            entry = &table[Link(entry->info)];
            std::memcpy(p, entry->tail, 8);
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
        if (kMayOverwrite && previous != kNoCode) {
            // The run of common codes: a defined string of 1..8 bytes after another code, stored
            // 8 bytes at a time. The budget of codes is what the row can take at 8 bytes each
            // and the data window can supply at 12 bits each (with 8 bytes to spare for the
            // whole-word reads), so nothing in the run checks either.
            std::ptrdiff_t budget =
                std::min<std::ptrdiff_t>((rowEnd - out) / 8, (de - dp - 16) / 2);
            if (budget > 0) {
                do {
                    if (count < width) {
                        // Bits above `count` already hold these same bytes, so OR-ing them in
                        // again changes nothing there.
                        bits |= LoadLittle64(dp) << count;
                        dp += (63 - count) >> 3;
                        count |= 56;
                    }
                    takeCode();
                    // The entry about to be defined and those above it are left to the slow
                    // path before the table is read: they may not have been written yet.
                    if (code >= counter - 2) {
                        haveCode = true;
                        break;
                    }
                    const std::uint64_t info = table[code].info;
                    const std::uint32_t length = static_cast<std::uint32_t>(Length(info));
                    if (length - 1 >= 8) {
                        // Clear, end or undefined (length 0), or a long string: one that fits
                        // with its 7 spare bytes is written here, and the budget shrinks to the
                        // room it leaves.
                        if (length == 0 || length + 7 > static_cast<std::uint32_t>(rowEnd - out)) {
                            haveCode = true;
                            break;
                        }
                        define(First(info));
                        writeString(out, code, static_cast<std::int32_t>(length), true);
                        out += length;
                        previous = code;
                        budget = std::min<std::ptrdiff_t>(budget, (rowEnd - out) / 8 + 1);
                        continue;
                    }
                    define(First(info));
                    std::memcpy(out, table[code].tail, 8);
                    out += length;
                    previous = code;
                } while (--budget > 0);
                if (!haveCode) continue;
            }
        }
        if (!haveCode) {
            if (count < width) {
                if (de - dp < 8) {
                    save();
                    RefillData(source);
                    dp = data_ + dataPos_;
                    de = data_ + dataEnd_;
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
        const std::uint64_t info = code < counter - 2 ? table[code].info : 0;
        if (Length(info) != 0) {
            // A literal or a defined string. The first code after a start or a clear code (a
            // literal) defines nothing, and the entry it passes over must not keep a string
            // from before the clear: after end codes that entry lies above the end code.
            if (previous != kNoCode) {
                define(First(info));
            } else {
                table[counter - 2].info = 0;
            }
            deliver(code, Length(info));
            previous = code;
            continue;
        }
        if (code == clearCode_) {
            save();
            ResetTable();
            width = codeWidth_;
            limit = widthLimit_;
            counter = readCounter_;
            previous = previousCode_;
            continue;
        }
        if (code == endCode_) {
            table[counter - 2].info = 0;  // the entry it passes over stays undefined
            break;
        }
        if (code != counter - 2) {
            table[counter - 2].info = 0;
            save();
            ThrowError(ErrorCorruptData, kGifComponent, kLzwRoutine, kLzwSiteUndefinedCode);
        }
        if (previous == kNoCode) {
            // "Previous string plus its first byte" with no previous string: the chain would
            // lead outside the table.
            table[counter - 2].info = 0;
            save();
            ThrowError(ErrorCorruptData, kGifComponent, kLzwRoutine, kLzwSiteStringTooLong);
        }
        define(First(table[previous].info));  // defines this very code
        deliver(code, Length(table[code].info));
        previous = code;
    }
    save();
    return static_cast<std::int32_t>(out - row);
}

}  // namespace br
