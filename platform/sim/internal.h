// Internal seams between the parts of the simulated device. Not for use outside platform/sim.
#pragma once

#include "platform/sim/text.h"

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
// UTF-16 and UTF-8: the one converter of platform/sim/text.h.
using plat::sim::FromUtf8;
using plat::sim::ToUtf8;
// Case folding as the device's registry and file system compare names: ASCII, Latin-1,
// Greek and Cyrillic letters fold to lower case; everything else stays.
char16_t FoldCase(char16_t c);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
std::u16string FoldedCopy(std::u16string_view text);

}  // namespace plat::sim::detail
