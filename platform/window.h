// Windows and messages: window classes, top-level windows, the per-thread message queue,
// timers and the message box. Every window belongs to the thread that created it; its window
// procedure runs only on that thread.
#pragma once

#include "platform/types.h"

namespace plat {

// Message numbers that the system uses.
constexpr std::uint32_t WM_CREATE = 1;
constexpr std::uint32_t WM_DESTROY = 2;
constexpr std::uint32_t WM_CLOSE = 16;
constexpr std::uint32_t WM_QUIT = 18;
constexpr std::uint32_t WM_ERASEBKGND = 20;
constexpr std::uint32_t WM_TIMER = 275;
constexpr std::uint32_t WM_USER = 0x400;

// Screen metrics.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

using WNDPROC = LRESULT(PLAT_CALLBACK*)(HWND window, std::uint32_t message, WPARAM wParam,
                                        LPARAM lParam);

struct WNDCLASS {
    std::uint32_t style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HMODULE hInstance;
    void* hIcon;
    void* hCursor;
    HBRUSH hbrBackground;
    const char16_t* lpszMenuName;
    const char16_t* lpszClassName;
};

struct MSG {
    HWND hwnd;
    std::uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
    std::uint32_t time;
    POINT pt;
};

// Registers a window class. Returns its 16-bit identifier, or 0 when a class of that name is
// already registered (or the arguments are unusable).
std::uint16_t RegisterClass(const WNDCLASS* windowClass);

// Removes a registered class. Fails (false) while windows of the class exist or when no such
// class is registered.
bool UnregisterClass(const char16_t* className, HMODULE instance);

// Creates a top-level window of a registered class, owned by the calling thread. The create
// message (1) has been handled by the window procedure when this returns. Returns none when
// the class is unknown or the create message answered -1.
HWND CreateWindowEx(std::uint32_t exStyle, const char16_t* className, const char16_t* title,
                    std::uint32_t style, int x, int y, int width, int height, HWND owner,
                    void* menu, HMODULE instance, void* createParam);

bool DestroyWindow(HWND window);
bool IsWindow(HWND window);

// The first top-level window whose class name matches (and whose title matches, when a title
// is given); none if there is none.
HWND FindWindow(const char16_t* className, const char16_t* windowName);

LRESULT DefWindowProc(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam);

// Client area of the window, origin (0, 0). False for an unknown window.
bool GetClientRect(HWND window, RECT* rect);

// Moves a top-level window to (x, y) on the screen and gives it the size width x height
// (negative sizes count as 0); its client area has the new size when this returns. A window may
// change size at any time (a device turning its screen does this), so nothing that holds
// memory sized by a window's client area may assume it stays. `repaint` asks the window system
// to redraw what the move uncovered. False for an unknown window.
bool MoveWindow(HWND window, int x, int y, int width, int height, bool repaint);

int GetSystemMetrics(int index);

// Queues the message for the window's thread and returns at once. False when the window does
// not exist. A window of none posts to the calling thread's queue.
bool PostMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam);

// Delivers the message synchronously: on the window's own thread the procedure is called
// directly; from another thread the caller blocks until the window's thread has run the
// procedure (which it does while it waits in GetMessage or in a send of its own). Returns the
// procedure's result, or 0 at once when the window does not exist or is destroyed meanwhile.
LRESULT SendMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam);

// Blocks until a message for the calling thread is available and stores it. Returns 0 for the
// quit message, -1 on failure, any other value otherwise. Sent messages from other threads are
// processed while waiting. Timer messages are generated when a timer is due and the queue holds
// nothing else. Only a filter of none, 0, 0 is used by the system.
int GetMessage(MSG* message, HWND window, std::uint32_t filterMin, std::uint32_t filterMax);
bool TranslateMessage(const MSG* message);
LRESULT DispatchMessage(const MSG* message);
void PostQuitMessage(int exitCode);

// Starts (or restarts) timer `id` of the window, delivered as WM_TIMER (wParam = id) every
// `periodMs`. The system never passes a timer procedure. Returns the id, 0 on failure.
std::uintptr_t SetTimer(HWND window, std::uintptr_t id, std::uint32_t periodMs, void* timerProc);
bool KillTimer(HWND window, std::uintptr_t id);

// A modal message box; returns the identifier of the button that closed it (1 for OK).
int MessageBox(HWND owner, const char16_t* text, const char16_t* caption, std::uint32_t style);

}  // namespace plat
