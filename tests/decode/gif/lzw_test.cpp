// The LZW decompressor on hand-written code streams: code widths, table growth, the odd cases
// of the format (code equal to the entry about to be defined, end and clear codes in the middle
// of a row, strings crossing rows) and the errors.
#include <gtest/gtest.h>

#include <memory>

#include "decode/error.h"
#include "decode/gif/gif_lzw.h"
#include "decode/memory_source.h"
#include "tests/decode/gif/gif_test_support.h"

namespace {

using giftest::Bytes;
using giftest::Cat;
using giftest::Code;

constexpr std::uint8_t kUnwritten = 0xEE;

// Code-size byte, then the codes packed into sub-blocks.
Bytes LzwData(std::int32_t minimumCodeSize, const std::vector<Code>& codes) {
    return Cat({{static_cast<std::uint8_t>(minimumCodeSize)},
                giftest::SubBlocks(giftest::PackCodes(codes), 5)});
}

struct LzwCase {
    const char* what;
    std::int32_t minimumCodeSize;
    std::vector<Code> codes;
    std::int32_t rowWidth;
    std::vector<Bytes> rows;      // expected rows, kUnwritten where DecodeRow writes nothing
    std::uint32_t errorSite = 0;  // thrown by the DecodeRow after the listed rows
};

// Runs a case through whole reads and through a source delivering one byte per read.
void RunCase(const LzwCase& c) {
    const Bytes data = LzwData(c.minimumCodeSize, c.codes);
    for (std::uint32_t chunk : {0u, 1u}) {
        SCOPED_TRACE(std::string(c.what) + (chunk ? " (1 byte per read)" : ""));
        br::MemorySource source(data, chunk);
        auto lzw = std::make_unique<br::GifLzwState>();
        lzw->InitLzw(&source, 8);
        for (std::size_t r = 0; r < c.rows.size(); ++r) {
            Bytes row(static_cast<std::size_t>(c.rowWidth), kUnwritten);
            lzw->DecodeRow(&source, row.data(), c.rowWidth);
            EXPECT_EQ(row, c.rows[r]) << "row " << r;
        }
        if (c.errorSite != 0) {
            Bytes row(static_cast<std::size_t>(c.rowWidth), kUnwritten);
            std::uint32_t site = 0, code = 0, routine = 0;
            try {
                lzw->DecodeRow(&source, row.data(), c.rowWidth);
            } catch (br::CIAException* error) {
                site = error->siteId;
                code = error->code;
                routine = error->routineId;
                delete error;
            }
            EXPECT_EQ(code, br::ErrorCorruptData);
            EXPECT_EQ(routine, 64u);
            EXPECT_EQ(site, c.errorSite);
        }
    }
}

constexpr std::uint8_t E = kUnwritten;

TEST(GifLzw, DecodesTheFormatsOddCasesExactly) {
    // Minimum code size 2: clear 4, end 5, string codes from 6, first width 3.
    const LzwCase cases[] = {
        {"width grows to 4 bits after the code that defines entry 7",
         2,
         {{4, 3},
          {1, 3},
          {2, 3} /* defines 6 = 1 2 */,
          {6, 3} /* defines 7 = 2 1 */,
          {7, 4} /* defines 8 */,
          {5, 4}},
         6,
         {{1, 2, 1, 2, 2, 1}}},
        {"a code equal to the entry about to be defined is the previous string plus its first byte",
         2,
         {{4, 3}, {1, 3}, {6, 3}, {5, 3}},
         3,
         {{1, 1, 1}}},
        {"the first code after a clear code defines nothing",
         2,
         {{4, 3},
          {1, 3},
          {2, 3} /* 6 = 1 2 */,
          {4, 3},
          {3, 3},
          {6, 3} /* 6 is R-2 again */,
          {5, 3}},
         5,
         {{1, 2, 3, 3, 3}}},
        {"an end code mid-row ends the call; the next call reads on and the end code used a count",
         2,
         {{4, 3},
          {1, 3},
          {2, 3} /* 6 = 1 2 */,
          {5, 3} /* end, width now 4 */,
          {3, 4} /* defines 8 = 2 3; 7 stays undefined */,
          {8, 4},
          {5, 4}},
         4,
         {{1, 2, E, E}, {3, 2, 3, E}}},
        {"an entry skipped by an end code is undefined",
         2,
         {{4, 3}, {1, 3}, {2, 3}, {5, 3}, {3, 4}, {7, 4}},
         2,
         {{1, 2}, {E, E}},
         1},
        {"end codes after a clear code leave the entry the next code passes over undefined",
         2,
         {{4, 3}, {1, 3}, {2, 3}, {3, 3} /* 7 = 2 3, width 4 */, {4, 4}, {5, 3}, {3, 3}, {6, 3}},
         3,
         {{1, 2, 3}, {E, E, E}},
         1},
        {"a clear code mid-row changes nothing already written",
         2,
         {{4, 3}, {1, 3}, {4, 3}, {2, 3}, {5, 3}},
         3,
         {{1, 2, E}}},
        {"a string that does not fit continues at the start of the next row",
         2,
         {{4, 3}, {1, 3}, {2, 3} /* 6 = 1 2 */, {3, 3} /* 7 = 2 3 */, {6, 4}, {7, 4}, {5, 4}},
         2,
         {{1, 2}, {3, 1}, {2, 2}, {3, E}}},
        {"a code that is neither defined nor next is an undefined code",
         2,
         {{4, 3}, {1, 3}, {7, 3}},
         4,
         {},
         1},
        {"the next-to-define case with no previous code leads outside the table",
         2,
         {{4, 3}, {5, 3} /* end first */, {6, 3}},
         2,
         {{E, E}},
         2},
        {"literals above 255 (minimum code size 9) give their low byte",
         9,
         {{512, 10}, {0x1FF, 10}, {0x101, 10}, {514, 10}, {513, 10}},
         4,
         {{0xFF, 0x01, 0xFF, 0x01}}},
    };
    for (const LzwCase& c : cases) RunCase(c);
}

TEST(GifLzw, MinimumCodeSizeZeroFallsBackToTheGlobalSize) {
    // Fallback 4: clear 16, end 17, first width 5.
    const Bytes data =
        Cat({{0}, giftest::SubBlocks(giftest::PackCodes({{16, 5}, {3, 5}, {17, 5}}))});
    br::MemorySource source(data);
    auto lzw = std::make_unique<br::GifLzwState>();
    lzw->InitLzw(&source, 4);
    EXPECT_EQ(lzw->MinimumCodeSize(), 4);
    EXPECT_EQ(lzw->CodeWidth(), 5);
    Bytes row(1, kUnwritten);
    EXPECT_EQ(lzw->DecodeRow(&source, row.data(), 1), 1);
    EXPECT_EQ(row[0], 3);
}

TEST(GifLzw, CodeSizesThatNeedWiderCodesOrCannotBeReadAreRefused) {
    struct {
        Bytes data;
        std::uint32_t site;
    } const cases[] = {
        {{12, 1, 0, 0}, 3},  // twelve bits: the first codes would be 13 bits wide
        {{255}, 3},
        {{}, 4},  // no code-size byte at all
    };
    for (const auto& c : cases) {
        br::MemorySource source(c.data);
        auto lzw = std::make_unique<br::GifLzwState>();
        std::uint32_t site = 0;
        try {
            lzw->InitLzw(&source, 8);
        } catch (br::CIAException* error) {
            site = error->siteId;
            delete error;
        }
        EXPECT_EQ(site, c.site);
    }
    // Eleven is the largest accepted size: codes start 12 bits wide.
    const Bytes eleven = {11, 0};
    br::MemorySource source(eleven);
    auto lzw = std::make_unique<br::GifLzwState>();
    lzw->InitLzw(&source, 8);
    EXPECT_EQ(lzw->CodeWidth(), 12);
}

TEST(GifLzw, WidthGrowsAt511And2047AndNeverBeyondTwelveBits) {
    // Minimum code size 8 with zero bits throughout: a long run of literal 0 codes, no clear.
    const Bytes data = Cat({{8}, giftest::SubBlocks(Bytes(8000, 0))});
    br::MemorySource source(data);
    auto lzw = std::make_unique<br::GifLzwState>();
    lzw->InitLzw(&source, 8);
    // The k-th code read defines entry 256 + k (from the second code on).
    const struct {
        std::int32_t codesRead;
        std::int32_t width;
    } expected[] = {{1, 9},     {254, 9},   {255, 10},  {766, 10},  {767, 11},
                    {1790, 11}, {1791, 12}, {3839, 12}, {3840, 12}, {5000, 12}};
    std::int32_t read = 0;
    for (const auto& e : expected) {
        while (read < e.codesRead) {
            ASSERT_NE(lzw->ReadCode(&source), br::GifLzwState::kNoMoreData);
            ++read;
        }
        EXPECT_EQ(lzw->CodeWidth(), e.width) << "after " << e.codesRead << " codes";
    }
}

TEST(GifLzw, AFullTableDefinesNothingMoreAndDecodingGoesOn) {
    // Minimum code size 2: literals 0..3, each code from the second on defines an entry, so
    // after 4090 literal codes the table is full; decoding must go on without error.
    std::vector<Code> codes = {{4, 3}};
    Bytes expected;
    std::int32_t counter = 6, width = 3, limit = 8;
    for (std::int32_t i = 0; i < 4200; ++i) {
        const std::int32_t literal = (i * 7 + i / 5) & 3;
        codes.push_back({literal, width});
        expected.push_back(static_cast<std::uint8_t>(literal));
        if (++counter > limit && width < 12) {
            limit <<= 1;
            ++width;
        }
    }
    // Entry 4095 is the last one: the literals read as codes 4090 and 4091 after the clear.
    codes.push_back({4095, 12});
    expected.push_back(expected[4089]);
    expected.push_back(expected[4090]);
    codes.push_back({5, 12});
    const Bytes data = Cat({{2}, giftest::SubBlocks(giftest::PackCodes(codes))});
    br::MemorySource source(data);
    auto lzw = std::make_unique<br::GifLzwState>();
    lzw->InitLzw(&source, 8);
    Bytes row(expected.size() + 3, kUnwritten);
    EXPECT_EQ(lzw->DecodeRow(&source, row.data(), static_cast<std::int32_t>(row.size())),
              static_cast<std::int32_t>(expected.size()));
    row.resize(expected.size());
    EXPECT_EQ(row, expected);
}

TEST(GifLzw, TheEndOfTheImageDataActsLikeAnEndCodeAfterPendingBytesAreDelivered) {
    // 6 = 1 2, 7 = 2 3, then code 7 (2 bytes) into a row with one place left, then the
    // terminator; bytes after it are not image data.
    const Bytes data =
        Cat({{2},
             giftest::SubBlocks(giftest::PackCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {7, 4}})),
             {0x04, 0x00}});
    for (std::uint32_t chunk : {0u, 1u, 7u}) {
        br::MemorySource source(data, chunk);
        auto lzw = std::make_unique<br::GifLzwState>();
        lzw->InitLzw(&source, 8);
        Bytes row(4, kUnwritten);
        EXPECT_EQ(lzw->DecodeRow(&source, row.data(), 4), 4);
        EXPECT_EQ(row, (Bytes{1, 2, 3, 2}));
        Bytes next(4, kUnwritten);
        EXPECT_EQ(lzw->DecodeRow(&source, next.data(), 4), 1);
        EXPECT_EQ(next, (Bytes{3, E, E, E}));
        EXPECT_EQ(lzw->DecodeRow(&source, next.data(), 4), 0);
    }
}

TEST(GifLzw, ASubBlockCutShortStillDeliversTheBytesItHas) {
    // The sub-block announces 200 bytes but the stream ends after 2 of them.
    const Bytes codes = giftest::PackCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {1, 4}});
    const Bytes data = Cat({{2, 200}, codes});
    br::MemorySource source(data);
    auto lzw = std::make_unique<br::GifLzwState>();
    lzw->InitLzw(&source, 8);
    Bytes row(6, kUnwritten);
    EXPECT_EQ(lzw->DecodeRow(&source, row.data(), 6), 4);
    EXPECT_EQ(row, (Bytes{1, 2, 3, 1, E, E}));
}

// The variant that may overwrite positions after the last index it delivers: same indices and
// counts as DecodeRow for long and short strings, strings crossing rows and end codes mid-row,
// and never a byte outside the row (the rows are exactly n long, for the address sanitizer).
TEST(GifLzw, OverwritingDecodeDeliversWhatDecodeRowDoesAndStaysInsideTheRow) {
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state >> 24;
    };
    struct Stream {
        const char* what;
        std::int32_t minimumCodeSize;
        Bytes data;
    };
    std::vector<Stream> streams;
    for (std::int32_t bits : {2, 8}) {
        Bytes runs;   // long strings: runs of a few colours
        Bytes noise;  // mostly literals
        for (int i = 0; i < 3000; ++i) {
            runs.push_back(static_cast<std::uint8_t>((i / 37) % 3));
            noise.push_back(static_cast<std::uint8_t>(next() & ((1u << bits) - 1)));
        }
        streams.push_back({"runs", bits, giftest::LzwEncode(runs, bits)});
        streams.push_back({"noise", bits, giftest::LzwEncode(noise, bits)});
    }
    // End codes in the middle, each ending a call early; literals and a string code between.
    {
        std::vector<Code> codes = {{4, 3}};
        std::int32_t counter = 6, width = 3, limit = 8;
        auto emit = [&](std::int32_t code) {
            codes.push_back({code, width});
            if (++counter > limit && width < 12) {
                limit <<= 1;
                ++width;
            }
        };
        for (int piece = 0; piece < 20; ++piece) {
            for (int i = 0; i < 11 + piece; ++i) emit(static_cast<std::int32_t>(next() & 3));
            emit(6);  // defined by the second code: two bytes
            emit(5);  // end
        }
        streams.push_back({"end codes mid-row", 2, giftest::PackCodes(codes)});
    }
    for (const Stream& stream : streams) {
        const Bytes data = Cat(
            {{static_cast<std::uint8_t>(stream.minimumCodeSize)}, giftest::SubBlocks(stream.data)});
        for (std::int32_t width : {1, 7, 8, 9, 15, 16, 17, 64, 333}) {
            SCOPED_TRACE(std::string(stream.what) + ", code size " +
                         std::to_string(stream.minimumCodeSize) + ", width " +
                         std::to_string(width));
            br::MemorySource exactSource(data), loopSource(data);
            auto exact = std::make_unique<br::GifLzwState>();
            auto loose = std::make_unique<br::GifLzwState>();
            exact->InitLzw(&exactSource, 8);
            loose->InitLzw(&loopSource, 8);
            for (int r = 0; r < 4000 / width + 3; ++r) {
                Bytes expected(static_cast<std::size_t>(width), kUnwritten);
                std::vector<std::uint8_t> row(static_cast<std::size_t>(width), kUnwritten);
                const std::int32_t wrote = exact->DecodeRow(&exactSource, expected.data(), width);
                ASSERT_EQ(loose->DecodeRowOverwriting(&loopSource, row.data(), width), wrote)
                    << "row " << r;
                ASSERT_TRUE(std::equal(expected.begin(), expected.begin() + wrote, row.begin()))
                    << "row " << r;
            }
        }
    }
}

// Entries defined before a clear code must not come back: a code naming one is undefined until
// it is defined anew, and the code about to be defined is the previous string plus its first
// byte, whatever the entry held before. Rows wide and data long enough for the run of short
// strings in the overwriting variant.
TEST(GifLzw, EntriesFromBeforeAClearCodeAreNotReused) {
    struct Writer {
        std::vector<Code> codes;
        std::int32_t counter = 0, width = 0, limit = 0;
        void Clear() {
            codes.push_back({4, width == 0 ? 3 : width});
            counter = 6;
            width = 3;
            limit = 8;
        }
        void Emit(std::int32_t code) {
            codes.push_back({code, width});
            if (++counter > limit && width < 12) {
                limit <<= 1;
                ++width;
            }
        }
    };
    Bytes literals;
    Writer w;
    w.Clear();
    for (int i = 0; i < 40; ++i) {  // defines entries 6 .. 44
        literals.push_back(static_cast<std::uint8_t>((i * 5 + i / 3) & 3));
        w.Emit(literals.back());
    }
    w.Clear();
    w.Emit(1);
    Writer stale = w;
    for (std::int32_t literal : {2, 3, 0}) stale.Emit(literal);  // defines 6, 7, 8
    stale.Emit(12);  // 12 held a string before the clear; now R - 2 is 9
    Writer again = w;
    again.Emit(6);  // R - 2: 1 1, not the string 6 held before the clear
    again.Emit(5);
    for (bool overwriting : {false, true}) {
        SCOPED_TRACE(overwriting ? "overwriting" : "exact");
        auto decode = [&](const Writer& writer, Bytes* row) {
            Bytes packed = giftest::PackCodes(writer.codes);
            packed.resize(packed.size() + 40, 0);  // data that follows, never reached
            const Bytes data = Cat({{2}, giftest::SubBlocks(packed)});
            br::MemorySource source(data);
            auto lzw = std::make_unique<br::GifLzwState>();
            lzw->InitLzw(&source, 8);
            const auto width = static_cast<std::int32_t>(row->size());
            return overwriting ? lzw->DecodeRowOverwriting(&source, row->data(), width)
                               : lzw->DecodeRow(&source, row->data(), width);
        };
        Bytes row(64, kUnwritten);
        std::uint32_t site = 0;
        try {
            decode(stale, &row);
        } catch (br::CIAException* error) {
            site = error->siteId;
            delete error;
        }
        EXPECT_EQ(site, br::kLzwSiteUndefinedCode);

        Bytes expected = literals;
        expected.insert(expected.end(), {1, 1, 1});
        std::fill(row.begin(), row.end(), kUnwritten);
        ASSERT_EQ(decode(again, &row), static_cast<std::int32_t>(expected.size()));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), row.begin()));
    }
}

}  // namespace
