// UTF-8 and UTF-16 conversions; see text.h.
#include "preview/text.h"

#include "platform/sim/text.h"

namespace preview {

std::string Utf8(const char16_t* text) {
    return plat::sim::ToUtf8(text ? std::u16string_view(text) : std::u16string_view());
}

std::string Utf8(const std::u16string& text) {
    return plat::sim::ToUtf8(text);
}

std::u16string Utf16(const std::string& text) {
    std::u16string out;
    if (plat::sim::FromUtf8(text, &out)) return out;
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = plat::sim::Utf8SequenceLength(text, i);
        std::u16string character;
        if (length == 0 ||
            !plat::sim::FromUtf8(std::string_view(text).substr(i, length), &character)) {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        out += character;
        i += length;
    }
    return out;
}

}  // namespace preview
