// Threads, events, waits and time.
#pragma once

#include "platform/types.h"

namespace plat {

constexpr std::uint32_t WAIT_OBJECT_0 = 0;
constexpr std::uint32_t WAIT_TIMEOUT = 258;
constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;
constexpr std::uint32_t INFINITE = 0xFFFFFFFF;

constexpr std::uint32_t CREATE_SUSPENDED = 4;
constexpr std::uint32_t STACK_SIZE_PARAM_IS_A_RESERVATION = 0x10000;
constexpr std::uint32_t EVENT_ALL_ACCESS = 0x1F0003;

// Thread priorities of the handheld platform: 0 is the highest, 3 normal, 7 idle.
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 2;
constexpr int THREAD_PRIORITY_NORMAL = 3;

using LPTHREAD_START_ROUTINE = std::uint32_t(PLAT_CALLBACK*)(void* parameter);

HANDLE CreateThread(void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, std::uint32_t flags, std::uint32_t* threadId);
bool SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
// Returns the previous suspend count, 0xFFFFFFFF on failure.
std::uint32_t ResumeThread(HANDLE thread);
bool TerminateThread(HANDLE thread, std::uint32_t exitCode);
bool GetExitCodeThread(HANDLE thread, std::uint32_t* exitCode);

HANDLE CreateEvent(void* security, bool manualReset, bool initialState, const char16_t* name);
// Opens an existing named event; none when no event of that name exists.
HANDLE OpenEvent(std::uint32_t access, bool inherit, const char16_t* name);
bool SetEvent(HANDLE event);
bool ResetEvent(HANDLE event);

// 0 when signalled (a thread: finished), 258 on time-out, 0xFFFFFFFF when the handle is none,
// closed or unknown (at once).
std::uint32_t WaitForSingleObject(HANDLE handle, std::uint32_t timeoutMs);
bool CloseHandle(HANDLE handle);

// Milliseconds since an arbitrary start; wraps at 2^32.
std::uint32_t GetTickCount();
void Sleep(std::uint32_t ms);

constexpr std::uint32_t TIMERR_NOERROR = 0;
constexpr std::uint32_t TIMERR_NOCANDO = 97;

// Asks that sleeps, waits and timers of the process resolve to `periodMs` (1 for the finest)
// until the matching timeEndPeriod with the same period; requests nest. A device's own timer
// already resolves to about 1 ms; a desktop's default of 15.6 ms would stretch a 20 ms sleep
// to about 31 ms. TIMERR_NOERROR, or TIMERR_NOCANDO for a period the platform cannot give.
std::uint32_t timeBeginPeriod(std::uint32_t periodMs);
// Ends one timeBeginPeriod request of the same period. Ending one that was never begun is the
// caller's fault (the simulated device answers TIMERR_NOCANDO to it).
std::uint32_t timeEndPeriod(std::uint32_t periodMs);

}  // namespace plat
