// Text between the device and its host: the device speaks UTF-16, the host UTF-8. One
// validated converter for the simulated device and for the tools on top of it (the previewer
// names device paths and host files with it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat::sim {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD, so the result is always valid.
std::string ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; false (and *out unspecified) when the bytes are not valid UTF-8 (overlong
// forms, surrogates, values beyond U+10FFFF, a cut-off sequence).
bool FromUtf8(std::string_view text, std::u16string* out);
// The length of the valid UTF-8 sequence that starts at `at` (1 to 4), or 0 when the bytes
// there do not start one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

}  // namespace plat::sim
