// Text between the device and the desktop: the one validated converter, as the previewer uses
// it for device paths and host file names.
#include "preview/text.h"

#include <gtest/gtest.h>

#include "preview/device_setup.h"

namespace preview {
namespace {

TEST(Text, InvalidUtf8BecomesOneReplacementPerByteAndValidTextRoundTrips) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"boot.gif", u"boot.gif"},
        {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
        {"\xF0\x9F\x8E\xAC", u"\U0001F3AC"},  // beyond the basic plane: a surrogate pair
        {"a\xC0\xAF"
         "b",
         u"a\uFFFD\uFFFD"
         "b"},                                              // an overlong '/'
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate written as UTF-8
        {"x\xE2\x82", u"x\uFFFD\uFFFD"},                    // cut off inside a sequence
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16(c.utf8), c.utf16) << c.utf8;
        if (c.utf16.find(u'\uFFFD') == std::u16string::npos) {
            EXPECT_EQ(Utf8(c.utf16), c.utf8);
        }
    }
    // An unpaired surrogate from the device still gives valid UTF-8.
    EXPECT_EQ(Utf8(std::u16string(u"A") + char16_t(0xD800) + u"B"),
              "A\xEF\xBF\xBD"
              "B");
    // Device file names: stray bytes and forbidden characters become '_'.
    EXPECT_EQ(DeviceFileName("a\xC0\xAF:b.gif"),
              "a__"
              "_b.gif");
    EXPECT_EQ(DeviceFileName("\xC3\xA9.gif"), "\xC3\xA9.gif");
}

}  // namespace
}  // namespace preview
