// Module services on the simulated device (platform/module.h): thread-local slots, string
// tables and atomic counters.
//
// These belong to the process, not to the device: the library allocates its slot and gives its
// string table when it is attached, which may be long before a test resets the device, so
// Reset() leaves them alone.
#include "platform/module.h"

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace plat {

namespace {

constexpr std::size_t kSlots = 64;

// A slot's generation is 0 while free and a fresh number on every allocation, so that a value
// stored under an earlier allocation of the same slot reads as empty.
std::array<std::atomic<std::uint64_t>, kSlots> g_slotGeneration{};
std::mutex g_moduleMutex;
std::uint64_t g_nextGeneration = 1;

struct ThreadSlots {
    std::array<std::uint64_t, kSlots> generation{};
    std::array<void*, kSlots> value{};
};
thread_local ThreadSlots t_slots;

// The one module of the simulated device: the library (or the program) itself.
HMODULE const kLibraryModule = reinterpret_cast<HMODULE>(std::uintptr_t{0x10000000});

std::map<HMODULE, std::map<std::uint32_t, std::u16string>>& Strings() {
    static auto* strings = new std::map<HMODULE, std::map<std::uint32_t, std::u16string>>();
    return *strings;
}

}  // namespace

std::uint32_t TlsAlloc() {
    std::lock_guard<std::mutex> lock(g_moduleMutex);
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (g_slotGeneration[i].load() == 0) {
            g_slotGeneration[i].store(g_nextGeneration++);
            return static_cast<std::uint32_t>(i);
        }
    }
    return TLS_OUT_OF_INDEXES;
}

void* TlsGetValue(std::uint32_t slot) {
    if (slot >= kSlots) return nullptr;
    const std::uint64_t generation = g_slotGeneration[slot].load();
    if (generation == 0 || t_slots.generation[slot] != generation) return nullptr;
    return t_slots.value[slot];
}

bool TlsSetValue(std::uint32_t slot, void* value) {
    if (slot >= kSlots) return false;
    const std::uint64_t generation = g_slotGeneration[slot].load();
    if (generation == 0) return false;
    t_slots.generation[slot] = generation;
    t_slots.value[slot] = value;
    return true;
}

bool TlsFree(std::uint32_t slot) {
    if (slot >= kSlots) return false;
    std::lock_guard<std::mutex> lock(g_moduleMutex);
    return g_slotGeneration[slot].exchange(0) != 0;
}

HMODULE GetModuleOfAddress(const void* /*address*/) {
    return kLibraryModule;
}

void SetModuleStrings(HMODULE module, const StringResource* table, std::size_t count) {
    if (!module) return;
    std::lock_guard<std::mutex> lock(g_moduleMutex);
    auto& strings = Strings()[module];
    strings.clear();
    for (std::size_t i = 0; table && i < count; ++i) {
        if (table[i].text) strings[table[i].id] = table[i].text;
    }
}

int LoadString(HMODULE module, std::uint32_t id, char16_t* buffer, int capacity) {
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = 0;
    std::lock_guard<std::mutex> lock(g_moduleMutex);
    auto moduleIt = Strings().find(module);
    if (moduleIt == Strings().end()) return 0;
    auto it = moduleIt->second.find(id);
    if (it == moduleIt->second.end()) return 0;
    const std::u16string& text = it->second;
    const std::size_t copied = std::min(text.size(), static_cast<std::size_t>(capacity) - 1);
    text.copy(buffer, copied);
    buffer[copied] = 0;
    return static_cast<int>(copied);
}

std::int32_t InterlockedDecrement(volatile std::int32_t* counter) {
    return __atomic_sub_fetch(counter, 1, __ATOMIC_SEQ_CST);
}

std::int32_t InterlockedIncrement(volatile std::int32_t* counter) {
    return __atomic_add_fetch(counter, 1, __ATOMIC_SEQ_CST);
}

}  // namespace plat
