// Internal seams between the parts of the simulated device. Not for use outside platform/sim.
#pragma once

#include <string>
#include <string_view>

namespace plat::sim::detail {

// Called by Reset() to give each part a fresh state (registry and files and sound keep their
// own state; the core owns the clock, threads, kernel objects, windows and drawing).
void ResetRegistry();
void ResetFiles(const std::string& deviceRoot);
void ResetSound();

// Message boxes: forgets the handler set for tests (ResetSound calls it, so that a handler that
// refers to a finished test never outlives that test's device).
void ResetMessageBoxes();

// Text helpers shared by the registry, files, sound and message box parts.
// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; false (and *out unspecified) when the bytes are not valid UTF-8.
bool FromUtf8(std::string_view text, std::u16string* out);
// Case folding as the device's registry and file system compare names: ASCII, Latin-1,
// Greek and Cyrillic letters fold to lower case; everything else stays.
char16_t FoldCase(char16_t c);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
std::u16string FoldedCopy(std::u16string_view text);

}  // namespace plat::sim::detail
