// Conversions between the device's UTF-16 text and the desktop's UTF-8, through the simulated
// device's own validated converter (platform/sim/text.h).
#pragma once

#include <string>

namespace preview {

std::string Utf8(const std::u16string& text);
std::string Utf8(const char16_t* text);
// Bytes that are not UTF-8 (a host file name in another encoding) become U+FFFD each.
std::u16string Utf16(const std::string& text);

}  // namespace preview
