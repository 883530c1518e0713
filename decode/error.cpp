// Error object, message composition, per-thread error scopes and the library's module state;
// see decode/error.h.
#include "decode/error.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>

#include "platform/module.h"

namespace br {

namespace {

constexpr std::uint32_t kMessageUnits = sizeof(CIAException::message) / sizeof(char16_t);

// The library's string table: one short English text per message number. The texts live as long
// as the program, as the platform requires of a module's strings.
const plat::StringResource kMessages[] = {
    {ErrorGeneric, u"The picture could not be shown."},
    {ErrorFileLoad, u"The picture file could not be loaded."},
    {ErrorNoDecoder, u"No decoder is ready for this picture."},
    {ErrorCorruptData, u"The picture data is damaged."},
    {ErrorUnsupportedFormat, u"The picture format is not supported."},
    {ErrorOutOfMemory, u"There is not enough memory to show the picture."},
    {ErrorNoFrames, u"The picture contains no frames."},
};

// What the error machinery needs from the library as a whole. Attaching happens once per load;
// every guarded block also attaches lazily, so that scopes work in programs (tests, tools) that
// link the pipeline statically and never call AttachLibrary.
struct ModuleState {
    std::mutex lock;
    std::atomic<bool> attached{false};
    std::atomic<plat::HMODULE> messageModule{nullptr};
    std::atomic<std::uint32_t> scopeSlot{plat::TLS_OUT_OF_INDEXES};
};

ModuleState g_state;

// Used as the thread's chain only when no thread-local slot of the platform can be had. Without
// it the handlers' ReleaseCurrentError would not find their scope, and a scope would delete an
// error that its handler is throwing on.
thread_local ErrorScope* t_fallbackInnermost = nullptr;

// Caller holds g_state.lock.
void AttachLocked(plat::HMODULE module) {
    if (module != nullptr) plat::SetModuleStrings(module, kMessages, std::size(kMessages));
    g_state.messageModule.store(module, std::memory_order_release);
    if (g_state.scopeSlot.load(std::memory_order_acquire) == plat::TLS_OUT_OF_INDEXES) {
        g_state.scopeSlot.store(plat::TlsAlloc(), std::memory_order_release);
    }
    g_state.attached.store(true, std::memory_order_release);
}

void EnsureAttached() {
    if (g_state.attached.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(g_state.lock);
    if (!g_state.attached.load(std::memory_order_relaxed)) {
        AttachLocked(plat::GetModuleOfAddress(reinterpret_cast<const void*>(&EnsureAttached)));
    }
}

ErrorScope* Innermost() {
    EnsureAttached();
    const std::uint32_t slot = g_state.scopeSlot.load(std::memory_order_acquire);
    if (slot == plat::TLS_OUT_OF_INDEXES) return t_fallbackInnermost;
    return static_cast<ErrorScope*>(plat::TlsGetValue(slot));
}

void SetInnermost(ErrorScope* scope) {
    EnsureAttached();
    const std::uint32_t slot = g_state.scopeSlot.load(std::memory_order_acquire);
    if (slot == plat::TLS_OUT_OF_INDEXES) {
        t_fallbackInnermost = scope;
        return;
    }
    plat::TlsSetValue(slot, scope);
}

}  // namespace

// ---- CIAException ------------------------------------------------------------------------

CIAException::CIAException(std::uint32_t c, std::uint32_t component, std::uint32_t routine,
                           std::uint32_t site, std::uint32_t d)
    : code(c),
      componentId(component),
      routineId(routine),
      siteId(site),
      detail(d),
      message{},
      autoDelete(true) {}

CIAException::~CIAException() = default;

std::uint32_t CIAException::GetErrorMessage(char16_t* buffer, std::uint32_t capacity) {
    if (message[0] == 0) {
        const plat::HMODULE module = MessageModule();
        if (plat::LoadString(module, code, message, kMessageUnits) <= 0) {
            message[0] = 0;
            if (plat::LoadString(module, ErrorGeneric, message, kMessageUnits) <= 0) {
                message[0] = 0;
            }
        }
        if (componentId != 0 || routineId != 0 || siteId != 0 || detail != 0) {
            // Four 10-digit numbers, three colons and the line feed fit easily.
            char numbers[64];
            const int written = std::snprintf(
                numbers, sizeof numbers, "\n%lu:%lu:%lu:%lu",
                static_cast<unsigned long>(componentId), static_cast<unsigned long>(routineId),
                static_cast<unsigned long>(siteId), static_cast<unsigned long>(detail));
            std::uint32_t length = 0;
            while (length < kMessageUnits && message[length] != 0) ++length;
            for (int i = 0; i < written && length + 1 < kMessageUnits; ++i) {
                message[length++] = static_cast<char16_t>(numbers[i]);
            }
            message[length] = 0;
        }
    }
    // A buffer of no units has no room even for the terminator: nothing is written.
    if (buffer == nullptr || capacity == 0) return 1;
    std::uint32_t i = 0;
    for (; i + 1 < capacity && message[i] != 0; ++i) buffer[i] = message[i];
    buffer[i] = 0;
    return 1;
}

CIAException* NewError(std::uint32_t code, std::uint32_t componentId, std::uint32_t routineId,
                       std::uint32_t siteId) {
    return new (std::nothrow) CIAException(code, componentId, routineId, siteId, 0);
}

void ThrowError(std::uint32_t code, std::uint32_t componentId, std::uint32_t routineId,
                std::uint32_t siteId) {
    throw NewError(code, componentId, routineId, siteId);
}

// ---- ErrorScope --------------------------------------------------------------------------

ErrorScope::ErrorScope() : previous(Innermost()), pending(nullptr) {
    SetInnermost(this);
}

ErrorScope::~ErrorScope() {
    if (pending != nullptr && pending->autoDelete) delete pending;
    pending = nullptr;
    SetInnermost(previous);
}

void ReleaseCurrentError() {
    ErrorScope* scope = Innermost();
    if (scope != nullptr) scope->pending = nullptr;
}

// ---- Module state ------------------------------------------------------------------------

void AttachLibrary(plat::HMODULE module) {
    std::lock_guard<std::mutex> guard(g_state.lock);
    AttachLocked(module);
}

void DetachLibrary() {
    std::lock_guard<std::mutex> guard(g_state.lock);
    const std::uint32_t slot = g_state.scopeSlot.exchange(plat::TLS_OUT_OF_INDEXES);
    if (slot != plat::TLS_OUT_OF_INDEXES) plat::TlsFree(slot);
    g_state.messageModule.store(nullptr, std::memory_order_release);
    g_state.attached.store(false, std::memory_order_release);
}

plat::HMODULE MessageModule() {
    EnsureAttached();
    return g_state.messageModule.load(std::memory_order_acquire);
}

}  // namespace br
