// Frames decoded many rows per call (straight into the target, through the stack buffer, with
// the row kept between runs, reduced to a grid or clipped, interlaced) against a reference made
// by calling DecodeRow once per row into one row buffer, as the decoder is specified to.
//
// The code streams are random but valid: long strings that cross rows and runs, codes for the
// entry about to be defined, clear codes, end codes anywhere (also exactly on row boundaries)
// and data cut short, with and without its terminator.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "decode/gif/gif_lzw.h"
#include "decode/memory_source.h"
#include "tests/decode/gif/gif_test_support.h"

namespace {

using giftest::Bytes;
using giftest::Cat;
using giftest::U16;

struct Random {
    std::uint32_t state;
    std::uint32_t operator()(std::uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
};

// A valid random code stream for minimum code size m, tracking the table as the decoder keeps
// it: which entries are defined, how long their strings are, and the width of every code.
Bytes RandomCodes(Random& random, std::int32_t m, std::int32_t codeCount) {
    const std::int32_t clear = 1 << m, end = clear + 1;
    std::vector<std::int32_t> length(4096, 0);
    for (std::int32_t c = 0; c < clear; ++c) length[c] = 1;
    std::vector<giftest::Code> codes;
    std::int32_t counter = 0, width = 0, limit = 0, previous = -1, longest = -1;
    auto reset = [&] {
        counter = clear + 2;
        width = m + 1;
        limit = 1 << width;
        previous = longest = -1;
    };
    auto emit = [&](std::int32_t code) {
        codes.push_back({code, width});
        ++counter;
        const std::int32_t entry = counter - 2;  // the entry this code defines
        if (code == clear) {
            reset();
        } else if (code == end || previous < 0) {
            length[entry] = 0;
            if (code != end) previous = code;
        } else {
            length[entry] = length[previous] + 1;
            if (longest < 0 || length[entry] > length[longest]) longest = entry;
            previous = code;
        }
        if (counter > limit && width < 12) {
            limit <<= 1;
            ++width;
        }
    };
    reset();
    emit(clear);
    for (std::int32_t i = 0; i < codeCount; ++i) {
        const std::int32_t next = counter + 1 - 2;  // the entry the next code would define
        const std::uint32_t pick = random(100);
        if (next >= 4000 || pick < 2) {
            emit(clear);
        } else if (pick < 10) {
            emit(end);
        } else if (pick < 40 && previous >= 0) {
            emit(next);  // the previous string plus its own first byte
        } else if (pick < 65 && longest >= 0 && length[longest] > 0 && longest < next) {
            emit(longest);
        } else if (pick < 80 && next > end + 1) {
            const std::int32_t code = end + 1 + static_cast<std::int32_t>(random(next - end - 1));
            emit(length[code] > 0 ? code : static_cast<std::int32_t>(random(clear)));
        } else {
            emit(static_cast<std::int32_t>(random(clear)));
        }
    }
    if (random(3) != 0) emit(end);
    return giftest::PackCodes(codes);
}

struct Stream {
    std::int32_t m;
    Bytes data;  // the code-size byte and the sub-blocks, perhaps cut short
};

Stream RandomStream(Random& random, std::int32_t pixels) {
    Stream s;
    s.m = 2 + static_cast<std::int32_t>(random(7));
    Bytes codes = RandomCodes(random, s.m, 1 + static_cast<std::int32_t>(random(pixels / 2 + 8)));
    if (random(4) == 0) codes.resize(random(static_cast<std::uint32_t>(codes.size()) + 1));
    Bytes blocks = giftest::SubBlocks(codes, 1 + static_cast<std::int32_t>(random(255)));
    if (random(4) == 0) blocks.pop_back();  // no terminator: the stream just ends
    s.data = Cat({{static_cast<std::uint8_t>(s.m)}, blocks});
    return s;
}

// The frame's rows, as one row buffer holds them after each DecodeRow call of FW pixels, in
// frame order (interlaced rows are stored in four passes).
Bytes ReferenceRows(const Stream& s, std::int32_t fw, std::int32_t fh, bool interlaced) {
    br::MemorySource source(s.data);
    auto lzw = std::make_unique<br::GifLzwState>();
    lzw->InitLzw(&source, 8);
    Bytes row(static_cast<std::size_t>(fw), 0);
    Bytes rows(static_cast<std::size_t>(fw) * fh, 0);
    static const std::int32_t kPasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    std::vector<std::int32_t> order;
    for (const auto& pass : kPasses) {
        for (std::int32_t r = interlaced ? pass[0] : 0; r < fh; r += interlaced ? pass[1] : 1) {
            order.push_back(r);
        }
        if (!interlaced) break;
    }
    for (std::int32_t r : order) {
        lzw->DecodeRow(&source, row.data(), fw);
        std::copy(row.begin(), row.end(), rows.begin() + static_cast<std::ptrdiff_t>(r) * fw);
    }
    return rows;
}

TEST(GifRows, ManyRowsPerCallGiveTheRowsOfDecodingRowByRowAtEveryScaleAndClip) {
    Random random{2024};
    for (int trial = 0; trial < 400; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        // Mostly short rows (many per call, several runs of the stack buffer), sometimes rows
        // wider than the stack buffer takes two of.
        const std::int32_t fw = random(10) == 0 ? 2040 + static_cast<std::int32_t>(random(30))
                                                : 1 + static_cast<std::int32_t>(random(120));
        const std::int32_t fh =
            1 + static_cast<std::int32_t>(random(fw > 2000 ? 5 : 3 + 2 * (4096 / fw)));
        const std::int32_t sw = fw + static_cast<std::int32_t>(random(6));
        const std::int32_t sh = fh + static_cast<std::int32_t>(random(6));
        const std::int32_t left = static_cast<std::int32_t>(random(sw - fw + 1));
        const std::int32_t top = static_cast<std::int32_t>(random(sh - fh + 1));
        const bool interlaced = random(4) == 0;
        const Stream s = RandomStream(random, fw * fh);
        const Bytes rows = ReferenceRows(s, fw, fh, interlaced);

        // Screen with a global table of 256 colours, one image; the minimum code size may be
        // below the table's (the decoder does not mind).
        const Bytes gif = Cat({giftest::Str("GIF89a"), U16(sw), U16(sh), {0xF7, 0, 0},
                               giftest::ColorTable(8, 0), {0x2C}, U16(left), U16(top), U16(fw),
                               U16(fh), {static_cast<std::uint8_t>(interlaced ? 0x40 : 0)},
                               s.data, {0x3B}});

        // Whole screen, a random clip, and reduced or enlarged grids.
        const br::Rect screen(0, 0, sw, sh);
        const std::int32_t cl = static_cast<std::int32_t>(random(sw));
        const std::int32_t ct = static_cast<std::int32_t>(random(sh));
        const br::Rect clip(cl, ct, cl + 1 + static_cast<std::int32_t>(random(sw - cl)),
                            ct + 1 + static_cast<std::int32_t>(random(sh - ct)));
        const br::TargetSize grids[] = {
            {sw, sh},
            {std::max(1, sw / 2), std::max(1, sh / 2)},
            {1 + static_cast<std::int32_t>(random(2 * sw)),
             1 + static_cast<std::int32_t>(random(2 * sh))}};
        for (int k = 0; k < 5; ++k) {
            const br::Rect* clipRect = k == 1 ? &clip : &screen;
            const br::TargetSize* target = k >= 2 ? &grids[k - 2] : nullptr;
            const std::uint32_t chunk = random(8) == 0 ? 1 + random(7) : 0;
            SCOPED_TRACE("case " + std::to_string(k) + ", chunk " + std::to_string(chunk));
            const giftest::Result r = giftest::Decode(gif, chunk, target, clipRect);
            ASSERT_TRUE(r.ok);
            ASSERT_EQ(r.frames.size(), 1u);
            const giftest::Frame& f = r.frames[0];

            br::Rect region;  // a clip that misses the frame leaves it without a buffer
            region.Intersect(br::Rect(left, top, left + fw, top + fh), *clipRect);
            const br::Rect grid =
                target != nullptr ? br::GridRect(region, sw, sh, target->width, target->height)
                                  : region;
            ASSERT_EQ(f.width, grid.Width());
            ASSERT_EQ(f.height, grid.Height());
            for (std::int32_t y = 0; y < grid.Height(); ++y) {
                for (std::int32_t x = 0; x < grid.Width(); ++x) {
                    const std::int32_t sx =
                        target != nullptr ? (grid.left + x) * sw / target->width : grid.left + x;
                    const std::int32_t sy =
                        target != nullptr ? (grid.top + y) * sh / target->height : grid.top + y;
                    ASSERT_EQ(f.pixels[static_cast<std::size_t>(y) * grid.Width() + x],
                              rows[static_cast<std::size_t>(sy - top) * fw + (sx - left)])
                        << "frame " << fw << " x " << fh << (interlaced ? " interlaced" : "")
                        << ", target pixel " << x << ", " << y;
                }
            }
        }
    }
}

}  // namespace
