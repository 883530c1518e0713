// Conversions between the device's UTF-16 text and the desktop's UTF-8.
#pragma once

#include <string>

namespace preview {

std::string Utf8(const std::u16string& text);
std::string Utf8(const char16_t* text);
std::u16string Utf16(const std::string& text);

}  // namespace preview
