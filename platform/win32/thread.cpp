// Threads, events, waits and time over kernel32.
#include "platform/win32/backend.h"

namespace plat {

using win32::Handle;
using win32::Wide;

namespace {

// The handheld platform's eight levels (0 highest .. 3 normal .. 7 idle) onto the desktop's
// relative levels. Levels 5 and 6 share the lowest desktop level above idle.
constexpr int kDesktopPriority[8] = {
    win::kPriorityTimeCritical, win::kPriorityHighest, win::kPriorityAboveNormal,
    win::kPriorityNormal,       win::kPriorityBelowNormal, win::kPriorityLowest,
    win::kPriorityLowest,       win::kPriorityIdle,
};

}  // namespace

HANDLE CreateThread(void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, std::uint32_t flags, std::uint32_t* threadId) {
    if (start == nullptr) return nullptr;
    DWORD id = 0;
    // The routine types differ only in the spelling of the 32-bit result.
    ::HANDLE thread = ::CreateThread(static_cast<::LPSECURITY_ATTRIBUTES>(security), stackSize,
                                     reinterpret_cast<::LPTHREAD_START_ROUTINE>(start),
                                     parameter, flags, &id);
    if (threadId != nullptr) *threadId = thread != nullptr ? static_cast<std::uint32_t>(id) : 0;
    return Handle<HANDLE>(thread);
}

bool SetThreadPriority(HANDLE thread, int priority) {
    if (priority < 0 || priority > 7) return false;
    return ::SetThreadPriority(Handle<::HANDLE>(thread), kDesktopPriority[priority]) != FALSE;
}

int GetThreadPriority(HANDLE thread) {
    const int desktop = ::GetThreadPriority(Handle<::HANDLE>(thread));
    if (desktop == win::kPriorityErrorReturn) return desktop;
    // The first platform level that maps to it (so 5 for the shared lowest level).
    for (int level = 0; level < 8; ++level) {
        if (kDesktopPriority[level] == desktop) return level;
    }
    // Real-time class levels between the named ones: nearest by direction.
    return desktop > win::kPriorityNormal ? 1 : 6;
}

std::uint32_t ResumeThread(HANDLE thread) { return ::ResumeThread(Handle<::HANDLE>(thread)); }

bool TerminateThread(HANDLE thread, std::uint32_t exitCode) {
    return ::TerminateThread(Handle<::HANDLE>(thread), exitCode) != FALSE;
}

bool GetExitCodeThread(HANDLE thread, std::uint32_t* exitCode) {
    DWORD code = 0;
    if (!::GetExitCodeThread(Handle<::HANDLE>(thread), &code)) return false;
    if (exitCode != nullptr) *exitCode = static_cast<std::uint32_t>(code);
    return true;
}

HANDLE CreateEvent(void* security, bool manualReset, bool initialState, const char16_t* name) {
    return Handle<HANDLE>(::CreateEventW(static_cast<::LPSECURITY_ATTRIBUTES>(security),
                                         manualReset, initialState, Wide(name)));
}

HANDLE OpenEvent(std::uint32_t access, bool inherit, const char16_t* name) {
    return Handle<HANDLE>(::OpenEventW(access, inherit, Wide(name)));
}

bool SetEvent(HANDLE event) { return ::SetEvent(Handle<::HANDLE>(event)) != FALSE; }

bool ResetEvent(HANDLE event) { return ::ResetEvent(Handle<::HANDLE>(event)) != FALSE; }

std::uint32_t WaitForSingleObject(HANDLE handle, std::uint32_t timeoutMs) {
    // The desktop treats a null handle as invalid too, but say so without asking it.
    if (handle == nullptr) return WAIT_FAILED;
    return ::WaitForSingleObject(Handle<::HANDLE>(handle), timeoutMs);
}

bool CloseHandle(HANDLE handle) {
    if (handle == nullptr) return false;
    return ::CloseHandle(Handle<::HANDLE>(handle)) != FALSE;
}

std::uint32_t GetTickCount() {
    // The performance counter rather than ::GetTickCount, which advances in steps of the
    // system's timer period (about 16 ms): frame timing and "slept at least n ms" need the
    // milliseconds themselves.
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    const LONGLONG ms = now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency;
    return static_cast<std::uint32_t>(ms);  // wraps at 2^32 like the platform's counter
}

void Sleep(std::uint32_t ms) { ::Sleep(ms); }

std::uint32_t timeBeginPeriod(std::uint32_t periodMs) { return ::timeBeginPeriod(periodMs); }

std::uint32_t timeEndPeriod(std::uint32_t periodMs) { return ::timeEndPeriod(periodMs); }

}  // namespace plat
