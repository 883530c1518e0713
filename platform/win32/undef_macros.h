// Lets a source include <windows.h> and the platform service headers together.
//
// <windows.h> names its functions and constants with macros (PostMessage -> PostMessageW,
// WM_CREATE -> 0x0001, ...) that would rewrite the declarations of namespace plat. Include
// <windows.h> (and <mmsystem.h>) first, then this header, then the platform headers. The few
// Windows values that differ from the platform's own numbers are kept here under new names
// before their macros go.
#pragma once

#ifndef _WINDOWS_
#error "include <windows.h> before platform/win32/undef_macros.h"
#endif

namespace win {
// Desktop thread priorities (the platform counts 0 highest .. 7 idle instead).
constexpr int kPriorityTimeCritical = THREAD_PRIORITY_TIME_CRITICAL;
constexpr int kPriorityHighest = THREAD_PRIORITY_HIGHEST;
constexpr int kPriorityAboveNormal = THREAD_PRIORITY_ABOVE_NORMAL;
constexpr int kPriorityNormal = THREAD_PRIORITY_NORMAL;
constexpr int kPriorityBelowNormal = THREAD_PRIORITY_BELOW_NORMAL;
constexpr int kPriorityLowest = THREAD_PRIORITY_LOWEST;
constexpr int kPriorityIdle = THREAD_PRIORITY_IDLE;
constexpr int kPriorityErrorReturn = THREAD_PRIORITY_ERROR_RETURN;
}  // namespace win

// Timer results of winmm: the platform names the same numbers.
#undef TIMERR_NOERROR
#undef TIMERR_NOCANDO

// Functions that <windows.h> maps to their A or W form.
#undef RegisterClass
#undef UnregisterClass
#undef CreateWindowEx
#undef FindWindow
#undef DefWindowProc
#undef PostMessage
#undef SendMessage
#undef GetMessage
#undef DispatchMessage
#undef MessageBox
#undef CreateEvent
#undef OpenEvent
#undef LoadString
#undef RegOpenKeyEx
#undef RegQueryValueEx
#undef FindFirstFile
#undef PlaySound
#undef sndPlaySound
#undef InterlockedDecrement
#undef InterlockedIncrement

// Types and constants that the platform headers declare themselves.
#undef WNDCLASS
#undef WM_CREATE
#undef WM_DESTROY
#undef WM_CLOSE
#undef WM_QUIT
#undef WM_ERASEBKGND
#undef WM_TIMER
#undef WM_USER
#undef SM_CXSCREEN
#undef SM_CYSCREEN
#undef SRCCOPY
#undef DIB_RGB_COLORS
#undef DIB_PAL_COLORS
#undef BI_RGB
#undef WAIT_OBJECT_0
#undef WAIT_TIMEOUT
#undef WAIT_FAILED
#undef INFINITE
#undef CREATE_SUSPENDED
#undef STACK_SIZE_PARAM_IS_A_RESERVATION
#undef EVENT_ALL_ACCESS
#undef THREAD_PRIORITY_ABOVE_NORMAL
#undef THREAD_PRIORITY_NORMAL
#undef TLS_OUT_OF_INDEXES
#undef REG_SZ
#undef REG_DWORD
#undef ERROR_SUCCESS
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_MORE_DATA
#undef FILE_ATTRIBUTE_DIRECTORY
#undef FILE_ATTRIBUTE_NORMAL
#undef SND_SYNC
#undef SND_ASYNC
#undef SND_NODEFAULT
#undef SND_FILENAME
