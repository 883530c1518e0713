// Module services over kernel32: thread-local slots, string tables, atomic counters.
#include <atomic>
#include <mutex>

#include "platform/win32/backend.h"

namespace plat {

using win32::Handle;

namespace {

// String tables given at attach time. The library keeps its texts in code rather than in a
// resource section, so LoadString looks here first; a handful of modules at most.
struct ModuleStrings {
    HMODULE module;
    const StringResource* table;
    std::size_t count;
};
constexpr std::size_t kMaxModules = 8;
ModuleStrings g_strings[kMaxModules];
std::mutex g_stringsLock;

bool HasStrings(HMODULE module) {
    std::lock_guard<std::mutex> lock(g_stringsLock);
    for (const ModuleStrings& entry : g_strings) {
        if (entry.table != nullptr && entry.module == module) return true;
    }
    return false;
}

const char16_t* FindString(HMODULE module, std::uint32_t id) {
    std::lock_guard<std::mutex> lock(g_stringsLock);
    for (const ModuleStrings& entry : g_strings) {
        if (entry.table == nullptr || entry.module != module) continue;
        for (std::size_t i = 0; i < entry.count; ++i) {
            if (entry.table[i].id == id) return entry.table[i].text;
        }
        return nullptr;
    }
    return nullptr;
}

// Which slots are allocated: Windows lets a freed slot be read and written as if it were still
// allocated, where the platform fails, so that a stale slot number is noticed.
constexpr std::uint32_t kMaxSlots = 1088;  // TLS_MINIMUM_AVAILABLE plus the expansion slots
std::atomic<bool> g_slotAllocated[kMaxSlots];

bool SlotAllocated(std::uint32_t slot) {
    return slot < kMaxSlots && g_slotAllocated[slot].load(std::memory_order_acquire);
}

}  // namespace

std::uint32_t TlsAlloc() {
    const DWORD slot = ::TlsAlloc();
    if (slot == 0xFFFFFFFF) return TLS_OUT_OF_INDEXES;
    if (slot >= kMaxSlots) {  // more slots than Windows documents: not trackable, give it back
        ::TlsFree(slot);
        return TLS_OUT_OF_INDEXES;
    }
    g_slotAllocated[slot].store(true, std::memory_order_release);
    return slot;
}

void* TlsGetValue(std::uint32_t slot) {
    return SlotAllocated(slot) ? ::TlsGetValue(slot) : nullptr;
}

bool TlsSetValue(std::uint32_t slot, void* value) {
    return SlotAllocated(slot) && ::TlsSetValue(slot, value) != FALSE;
}

bool TlsFree(std::uint32_t slot) {
    if (!SlotAllocated(slot)) return false;
    g_slotAllocated[slot].store(false, std::memory_order_release);
    return ::TlsFree(slot) != FALSE;
}

HMODULE GetModuleOfAddress(const void* address) {
    ::HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module)) {
        return nullptr;
    }
    return Handle<HMODULE>(module);
}

void SetModuleStrings(HMODULE module, const StringResource* table, std::size_t count) {
    std::lock_guard<std::mutex> lock(g_stringsLock);
    ModuleStrings* freeEntry = nullptr;
    for (ModuleStrings& entry : g_strings) {
        if (entry.table != nullptr && entry.module == module) {
            freeEntry = &entry;  // a new table replaces the old one
            break;
        }
        if (entry.table == nullptr && freeEntry == nullptr) freeEntry = &entry;
    }
    if (freeEntry == nullptr) return;  // table full: LoadString falls back to resources
    if (table == nullptr || count == 0) {
        *freeEntry = ModuleStrings{};  // forgetting a module's table
    } else {
        *freeEntry = ModuleStrings{module, table, count};
    }
}

int LoadString(HMODULE module, std::uint32_t id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    if (const char16_t* text = FindString(module, id)) {
        int length = 0;
        while (length < capacity - 1 && text[length] != u'\0') {
            buffer[length] = text[length];
            ++length;
        }
        buffer[length] = u'\0';
        return length;
    }
    // A module that gave no table may carry a real string table resource.
    int copied = 0;
    if (!HasStrings(module)) {
        copied = ::LoadStringW(Handle<::HINSTANCE>(module), id, win32::Wide(buffer), capacity);
    }
    if (copied <= 0) {
        buffer[0] = u'\0';  // no such string: an empty, terminated text
        return 0;
    }
    return copied;
}

std::int32_t InterlockedDecrement(volatile std::int32_t* counter) {
    static_assert(sizeof(LONG) == sizeof(std::int32_t), "LONG is 32 bits on Windows");
    return ::_InterlockedDecrement(reinterpret_cast<volatile LONG*>(counter));
}

std::int32_t InterlockedIncrement(volatile std::int32_t* counter) {
    return ::_InterlockedIncrement(reinterpret_cast<volatile LONG*>(counter));
}

}  // namespace plat
