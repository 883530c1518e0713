// The GIF files of the gdk-pixbuf test suite (Debian package gdk-pixbuf-tests): every file is
// decoded without a crash or sanitizer report, and its outcome is pinned. Where the suite
// expects something else, the reason is given with the entry.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/decode/gif/gif_test_support.h"

namespace {

const char* const kRoot = "/usr/libexec/installed-tests/gdk-pixbuf";

struct Expected {
    const char* file;    // relative to kRoot
    std::size_t frames;  // accepted with this many frames, when code is 0...
    std::uint32_t code;  // ...or refused with this error
    std::uint32_t component;
    std::uint32_t routine;
    std::uint32_t site;
    const char* note;  // why we differ from the suite's expectation, when we do
};

const Expected kFiles[] = {
#include "suite_table.inc"
};

giftest::Bytes ReadFile(const std::string& path, bool* found) {
    std::ifstream in(path, std::ios::binary);
    *found = static_cast<bool>(in);
    return giftest::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(GifSuite, EveryFileOfTheGdkPixbufSuiteHasItsPinnedOutcome) {
    bool any = false;
    for (const Expected& e : kFiles) {
        bool found = false;
        const giftest::Bytes gif = ReadFile(std::string(kRoot) + "/" + e.file, &found);
        if (!found) continue;
        any = true;
        const giftest::Result r = giftest::Decode(gif);
        if (e.code == 0) {
            EXPECT_TRUE(r.ok) << e.file << ": refused with " << r.routine << "/" << r.site;
            EXPECT_EQ(r.frames.size(), e.frames) << e.file;
        } else {
            EXPECT_FALSE(r.ok) << e.file << ": accepted";
            EXPECT_EQ(r.code, e.code) << e.file;
            EXPECT_EQ(r.component, e.component) << e.file;
            EXPECT_EQ(r.routine, e.routine) << e.file;
            EXPECT_EQ(r.site, e.site) << e.file;
        }
        // Whatever the outcome, piecewise reading agrees with whole reads.
        // (Files that are not GIF at all are refused by the facade before the decoder runs.)
        if (e.component == 38000) continue;
        const giftest::Result piecewise = giftest::Decode(gif, 7);
        EXPECT_EQ(piecewise.ok, r.ok) << e.file;
        EXPECT_EQ(piecewise.site, r.site) << e.file;
        EXPECT_EQ(piecewise.frames.size(), r.frames.size()) << e.file;
    }
    if (!any) GTEST_SKIP() << "gdk-pixbuf-tests is not installed";
}

}  // namespace
