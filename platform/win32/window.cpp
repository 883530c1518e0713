// Windows and messages over user32.
#include "platform/win32/backend.h"

namespace plat {

using win32::Handle;
using win32::Wide;

namespace {

::MSG ToWindows(const MSG& message) {
    ::MSG out{};
    out.hwnd = Handle<::HWND>(message.hwnd);
    out.message = message.message;
    out.wParam = message.wParam;
    out.lParam = message.lParam;
    out.time = message.time;
    out.pt.x = message.pt.x;
    out.pt.y = message.pt.y;
    return out;
}

MSG FromWindows(const ::MSG& message) {
    MSG out{};
    out.hwnd = Handle<HWND>(message.hwnd);
    out.message = message.message;
    out.wParam = message.wParam;
    out.lParam = message.lParam;
    out.time = static_cast<std::uint32_t>(message.time);
    out.pt.x = message.pt.x;
    out.pt.y = message.pt.y;
    return out;
}

}  // namespace

std::uint16_t RegisterClass(const WNDCLASS* windowClass) {
    // Windows would take a class without a procedure or a name; the platform refuses them.
    if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
        windowClass->lpszClassName == nullptr || windowClass->lpszClassName[0] == u'\0') {
        return 0;
    }
    ::WNDCLASSW wc{};
    wc.style = windowClass->style;
    // The procedure types differ only in their handle types; the calling convention is the same.
    wc.lpfnWndProc = reinterpret_cast<::WNDPROC>(windowClass->lpfnWndProc);
    wc.cbClsExtra = windowClass->cbClsExtra;
    wc.cbWndExtra = windowClass->cbWndExtra;
    wc.hInstance = Handle<::HINSTANCE>(windowClass->hInstance);
    wc.hIcon = static_cast<::HICON>(windowClass->hIcon);
    wc.hCursor = static_cast<::HCURSOR>(windowClass->hCursor);
    wc.hbrBackground = Handle<::HBRUSH>(windowClass->hbrBackground);
    wc.lpszMenuName = Wide(windowClass->lpszMenuName);
    wc.lpszClassName = Wide(windowClass->lpszClassName);
    return ::RegisterClassW(&wc);
}

bool UnregisterClass(const char16_t* className, HMODULE instance) {
    return ::UnregisterClassW(Wide(className), Handle<::HINSTANCE>(instance)) != FALSE;
}

HWND CreateWindowEx(std::uint32_t exStyle, const char16_t* className, const char16_t* title,
                    std::uint32_t style, int x, int y, int width, int height, HWND owner,
                    void* menu, HMODULE instance, void* createParam) {
    // On the handheld platform a top-level window without caption bits is bare. Desktop
    // Windows gives every overlapped (non-pop-up) top-level window a caption and a border,
    // which would shrink the client area of a full-screen window; the pop-up style keeps it
    // bare. Child windows are left alone.
    if ((style & WS_CHILD) == 0) style |= WS_POPUP;
    return Handle<HWND>(::CreateWindowExW(exStyle, Wide(className), Wide(title), style, x, y,
                                          width, height, Handle<::HWND>(owner),
                                          static_cast<::HMENU>(menu),
                                          Handle<::HINSTANCE>(instance), createParam));
}

bool DestroyWindow(HWND window) { return ::DestroyWindow(Handle<::HWND>(window)) != FALSE; }

bool IsWindow(HWND window) { return ::IsWindow(Handle<::HWND>(window)) != FALSE; }

HWND FindWindow(const char16_t* className, const char16_t* windowName) {
    return Handle<HWND>(::FindWindowW(Wide(className), Wide(windowName)));
}

LRESULT DefWindowProc(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(Handle<::HWND>(window), message, wParam, lParam);
}

bool GetClientRect(HWND window, RECT* rect) {
    if (rect == nullptr) return false;
    ::RECT r{};
    if (!::GetClientRect(Handle<::HWND>(window), &r)) return false;
    *rect = RECT{r.left, r.top, r.right, r.bottom};
    return true;
}

bool MoveWindow(HWND window, int x, int y, int width, int height, bool repaint) {
    return ::MoveWindow(Handle<::HWND>(window), x, y, width < 0 ? 0 : width,
                        height < 0 ? 0 : height, repaint ? TRUE : FALSE) != FALSE;
}

int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

bool PostMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(Handle<::HWND>(window), message, wParam, lParam) != FALSE;
}

LRESULT SendMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(Handle<::HWND>(window), message, wParam, lParam);
}

int GetMessage(MSG* message, HWND window, std::uint32_t filterMin, std::uint32_t filterMax) {
    if (message == nullptr) return -1;
    ::MSG m{};
    const BOOL result = ::GetMessageW(&m, Handle<::HWND>(window), filterMin, filterMax);
    if (result != -1) *message = FromWindows(m);
    return result;
}

bool TranslateMessage(const MSG* message) {
    if (message == nullptr) return false;
    const ::MSG m = ToWindows(*message);
    return ::TranslateMessage(&m) != FALSE;
}

LRESULT DispatchMessage(const MSG* message) {
    if (message == nullptr) return 0;
    const ::MSG m = ToWindows(*message);
    return ::DispatchMessageW(&m);
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

std::uintptr_t SetTimer(HWND window, std::uintptr_t id, std::uint32_t periodMs, void* timerProc) {
    return ::SetTimer(Handle<::HWND>(window), id, periodMs,
                      reinterpret_cast<::TIMERPROC>(timerProc));
}

bool KillTimer(HWND window, std::uintptr_t id) {
    return ::KillTimer(Handle<::HWND>(window), id) != FALSE;
}

int MessageBox(HWND owner, const char16_t* text, const char16_t* caption, std::uint32_t style) {
    return ::MessageBoxW(Handle<::HWND>(owner), Wide(text), Wide(caption), style);
}

}  // namespace plat
