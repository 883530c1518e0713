// Module services: the thread-local slot, string resources of a module, and the atomic
// decrement that reference counts rely on.
#pragma once

#include "platform/types.h"

namespace plat {

constexpr std::uint32_t TLS_OUT_OF_INDEXES = 0xFFFFFFFF;

std::uint32_t TlsAlloc();
void* TlsGetValue(std::uint32_t slot);
bool TlsSetValue(std::uint32_t slot, void* value);
bool TlsFree(std::uint32_t slot);

// The module that contains the code at `address` (the library uses it to find itself).
HMODULE GetModuleOfAddress(const void* address);

// One string resource of a module's string table.
struct StringResource {
    std::uint32_t id;
    const char16_t* text;
};

// Gives a module its string table (the texts live as long as the module). The library calls
// this when it is attached; LoadString then finds the texts.
void SetModuleStrings(HMODULE module, const StringResource* table, std::size_t count);

// Copies string resource `id` of the module into the buffer, truncated to capacity - 1 units
// and terminated. Returns the number of units copied, 0 when there is no such string.
int LoadString(HMODULE module, std::uint32_t id, char16_t* buffer, int capacity);

// Decrements the counter atomically and returns the new value.
std::int32_t InterlockedDecrement(volatile std::int32_t* counter);
std::int32_t InterlockedIncrement(volatile std::int32_t* counter);

}  // namespace plat
