// bootreel-run: stands in for the device's start-up and shut-down sequence so that the library
// can be run for real under Windows (or Wine) and observed from outside.
//
//   bootreel-run.exe [--dll PATH] [--mode startup|shutdown] [--shows N] [--end-after MS]
//                    [--done-after MS] [--close-after MS] [--limit MS] [--named-event]
//                    [--media-window] [--gone-owner] [--probe X,Y ...]
//   bootreel-run.exe --tunelet PATH [--limit MS]
//
// Show mode: creates the two events, loads the library with LoadLibrary, and runs N shows one
// after the other, each by calling the export on a thread of its own. It can signal
// endRequestEvent MS after the call, signal doneEvent or post close to the show's window MS
// after the window was created (action_ms in the report says when it did), create
// the named event "SHUTDOWN_ANIMATION_DONE" (which
// the library only opens) and a window of the media player's class (which a shut-down show
// asks to close). With --gone-owner the show is given as its owner a window that no longer
// exists, so that its own window cannot be created. A thread of the caller's waits on
// doneEvent while the call runs, as a boot sequence would; done_wait_ms says when that wait
// returned signalled (-1: not by the time the call returned). A hook on the show's thread reads
// the window's pixels at the probe points every time the render thread reports a frame shown
// (message 0x466), so the report tells which pictures the window went through. One line per
// show, "key=value" fields:
//
//   show=1 returned=yes call_ms=1520 done_event=signalled done_wait_ms=1500
//       named_event=signalled named_ms=1490
//       media_window_closed=yes action_ms=-1 window_ms=12 first_frame_ms=230 last_frame_ms=900
//       pass_ms=20.4 pass_median_ms=21.0 frames=FF0000.FFFFFF,00FF00.FFFFFF windows_left=0
//       threads_left=0
//
// window_ms is when the show's window was created (its timer starts then); pass_ms and
// pass_median_ms are the shortest and the median time between two frame-shown messages (the
// render thread's pass: the shortest is what its sleep lasts when nothing else delays it); -1
// when not seen.
//
// "first_frame" is also printed (and flushed) as soon as the first frame is on screen, so that
// a script can take a screenshot in the middle of the show. Exit code 0 when every call
// returned within the limit (default 30 s), 2 when one did not, 1 on bad usage.
//
// Tunelet mode: starts the program, and whenever it shows a message box reads its caption and
// text and presses OK. Reports "boxes=N caption=... text=... exit_code=N elapsed_ms=N".
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using ShowEntry = void (*)(HWND ownerWindow, HANDLE endRequestEvent, HANDLE doneEvent);

constexpr UINT kFrameShownMessage = 0x466;
constexpr wchar_t kShowClass[] = L"StartUpAnimation";
constexpr wchar_t kMediaPlayerClass[] = L"WMP for Mobile Devices";
constexpr wchar_t kShutdownDoneEvent[] = L"SHUTDOWN_ANIMATION_DONE";

struct Options {
    std::wstring dll;
    std::string mode = "startup";
    int shows = 1;
    long endAfterMs = -1;
    long doneAfterMs = -1;
    long closeAfterMs = -1;
    DWORD limitMs = 30000;
    bool namedEvent = false;
    bool mediaWindow = false;
    bool goneOwner = false;
    std::vector<POINT> probes;
    std::wstring tunelet;
};

// ---- Observation of the show's window (runs on the show's thread, inside the hook) ---------

struct FrameLog {
    DWORD start = 0;
    DWORD firstFrameMs = 0;
    DWORD lastFrameMs = 0;
    bool sawFrame = false;
    volatile LONG windowMs = -1;    // written on the show's thread, read by the caller's
    std::vector<double> shownAtMs;  // every frame-shown message, on the performance counter
    std::vector<POINT> probes;
    std::vector<std::vector<COLORREF>> pictures;  // distinct consecutive probe readings
};
FrameLog g_log;

std::string Hex(COLORREF colour) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(colour), GetGValue(colour),
                  GetBValue(colour));
    return text;
}

double PreciseMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void ReadProbes(HWND window) {
    g_log.shownAtMs.push_back(PreciseMs());
    std::vector<COLORREF> reading;
    HDC dc = GetDC(window);
    for (const POINT& p : g_log.probes) reading.push_back(GetPixel(dc, p.x, p.y) & 0xFFFFFF);
    ReleaseDC(window, dc);
    if (!g_log.sawFrame) {
        g_log.sawFrame = true;
        g_log.firstFrameMs = GetTickCount() - g_log.start;
        std::printf("first_frame ms=%lu\n", g_log.firstFrameMs);
        std::fflush(stdout);
    }
    g_log.lastFrameMs = GetTickCount() - g_log.start;
    if (g_log.pictures.empty() || g_log.pictures.back() != reading) {
        g_log.pictures.push_back(reading);
    }
}

bool IsShowWindow(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return std::wcscmp(name, kShowClass) == 0;
}

LRESULT CALLBACK CallWndHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (sent->message == kFrameShownMessage && IsShowWindow(sent->hwnd)) {
            ReadProbes(sent->hwnd);
        } else if (sent->message == WM_CREATE && g_log.windowMs < 0 && IsShowWindow(sent->hwnd)) {
            InterlockedExchange(&g_log.windowMs, static_cast<LONG>(GetTickCount() - g_log.start));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- The caller's side of a show --------------------------------------------------------

struct ShowCall {
    ShowEntry entry;
    HWND owner;
    HANDLE endRequest;
    HANDLE done;
};

DWORD WINAPI ShowThread(void* parameter) {
    const ShowCall* call = static_cast<const ShowCall*>(parameter);
    call->entry(call->owner, call->endRequest, call->done);
    return 0;
}

// The boot sequence's side: waits on doneEvent, until told to stop, and notes when it was
// signalled.
struct DoneWait {
    HANDLE done;
    HANDLE stop;
    DWORD start;
    volatile LONG signalledMs = -1;
};

DWORD WINAPI DoneWaitThread(void* parameter) {
    DoneWait* wait = static_cast<DoneWait*>(parameter);
    const HANDLE events[2] = {wait->done, wait->stop};  // doneEvent first: it wins a tie
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
        InterlockedExchange(&wait->signalledMs, static_cast<LONG>(GetTickCount() - wait->start));
    }
    return 0;
}

// A window handle that no longer names a window.
HWND GoneWindow() {
    HWND window = CreateWindowExW(0, L"STATIC", L"gone", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    DestroyWindow(window);
    return window;
}

// The media player's window: a window of its class on a thread of its own, which notes close.
struct MediaWindow {
    HANDLE ready = nullptr;
    HWND window = nullptr;
    volatile LONG closed = 0;
};
MediaWindow g_media;

LRESULT CALLBACK MediaWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) InterlockedExchange(&g_media.closed, 1);
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI MediaWindowThread(void*) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = MediaWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kMediaPlayerClass;
    RegisterClassW(&wc);
    g_media.window = CreateWindowExW(0, kMediaPlayerClass, L"Media", WS_POPUP, 0, 0, 1, 1,
                                     nullptr, nullptr, wc.hInstance, nullptr);
    SetEvent(g_media.ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

int CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

// Runs one show and prints its report line. False when the call did not return in time.
bool RunShow(const Options& options, ShowEntry entry, int index, HANDLE namedEvent) {
    HANDLE endRequest = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (namedEvent != nullptr) ResetEvent(namedEvent);
    ShowCall call{entry, options.goneOwner ? GoneWindow() : nullptr, endRequest, done};
    g_log = FrameLog{};
    g_log.probes = options.probes;

    const int threadsBefore = CountThreads();
    DoneWait doneWait{done, CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    HANDLE waiter = CreateThread(nullptr, 0, DoneWaitThread, &doneWait, 0, nullptr);
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, ShowThread, &call, CREATE_SUSPENDED, &threadId);
    if (thread == nullptr) {
        SetEvent(doneWait.stop);
        if (waiter != nullptr) WaitForSingleObject(waiter, INFINITE);
        std::printf("show=%d error=cannot-create-thread\n", index);
        return false;
    }
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, CallWndHook, nullptr, threadId);
    g_log.start = GetTickCount();
    doneWait.start = g_log.start;  // read by the waiter only after the show has begun
    ResumeThread(thread);

    // Wait for the call to return, ending the show on the way when asked to, and note when the
    // named event is signalled.
    DWORD namedMs = 0;
    bool namedSeen = false;
    bool endSignalled = false;
    bool doneSignalled = false;
    bool closePosted = false;
    bool returned = false;
    long actionMs = -1;
    // Whether an action is due `afterMs` after `from` (a time since the call; negative: not yet).
    const auto due = [&actionMs](long afterMs, long from, DWORD elapsed, bool* done) {
        if (*done || afterMs < 0 || from < 0 || static_cast<long>(elapsed) < from + afterMs) {
            return false;
        }
        *done = true;
        actionMs = static_cast<long>(elapsed);
        return true;
    };
    for (;;) {
        const DWORD elapsed = GetTickCount() - g_log.start;
        const long windowMs = InterlockedCompareExchange(&g_log.windowMs, -1, -1);
        if (due(options.endAfterMs, 0, elapsed, &endSignalled)) SetEvent(endRequest);
        if (due(options.doneAfterMs, windowMs, elapsed, &doneSignalled)) SetEvent(done);
        if (due(options.closeAfterMs, windowMs, elapsed, &closePosted)) {
            PostMessageW(FindWindowW(kShowClass, nullptr), WM_CLOSE, 0, 0);
        }
        if (namedEvent != nullptr && !namedSeen &&
            WaitForSingleObject(namedEvent, 0) == WAIT_OBJECT_0) {
            namedSeen = true;
            namedMs = elapsed;
        }
        if (WaitForSingleObject(thread, 5) == WAIT_OBJECT_0) {
            returned = true;
            break;
        }
        if (elapsed >= options.limitMs) break;
    }
    const DWORD callMs = GetTickCount() - g_log.start;
    if (namedEvent != nullptr && !namedSeen && WaitForSingleObject(namedEvent, 0) == 0) {
        namedSeen = true;
        namedMs = callMs;
    }
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    // A show that returned has signalled doneEvent by now, so the waiter has seen it; one that
    // did not is not waited for any longer.
    SetEvent(doneWait.stop);
    if (waiter != nullptr) {
        WaitForSingleObject(waiter, INFINITE);
        CloseHandle(waiter);
    }
    CloseHandle(doneWait.stop);

    // Threads the library left behind need a moment to be gone from the snapshot once they
    // returned; give them a little time before counting.
    int threadsLeft = 0;
    if (returned) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            threadsLeft = CountThreads() - threadsBefore;
            if (threadsLeft <= 0) break;
            Sleep(25);
        }
    }

    // The render thread's passes: times between two frame-shown messages.
    double passMs = -1;
    double passMedianMs = -1;
    std::vector<double> passes;
    for (std::size_t i = 1; i < g_log.shownAtMs.size(); ++i) {
        passes.push_back(g_log.shownAtMs[i] - g_log.shownAtMs[i - 1]);
    }
    if (!passes.empty()) {
        std::sort(passes.begin(), passes.end());
        passMs = passes.front();
        passMedianMs = passes[passes.size() / 2];
    }

    std::string frames;
    for (const std::vector<COLORREF>& picture : g_log.pictures) {
        if (!frames.empty()) frames += ",";
        for (std::size_t i = 0; i < picture.size(); ++i) {
            if (i > 0) frames += ".";
            frames += Hex(picture[i]);
        }
    }
    std::printf(
        "show=%d returned=%s call_ms=%lu done_event=%s done_wait_ms=%ld named_event=%s "
        "named_ms=%lu "
        "media_window_closed=%s action_ms=%ld window_ms=%ld first_frame_ms=%ld last_frame_ms=%ld "
        "pass_ms=%.1f pass_median_ms=%.1f frames=%s windows_left=%d threads_left=%d\n",
        index, returned ? "yes" : "no", callMs,
        WaitForSingleObject(done, 0) == WAIT_OBJECT_0 ? "signalled" : "clear",
        static_cast<long>(doneWait.signalledMs),
        namedEvent == nullptr ? "none" : (namedSeen ? "signalled" : "clear"), namedMs,
        options.mediaWindow ? (g_media.closed ? "yes" : "no") : "none", actionMs,
        static_cast<long>(g_log.windowMs),
        g_log.sawFrame ? static_cast<long>(g_log.firstFrameMs) : -1L,
        g_log.sawFrame ? static_cast<long>(g_log.lastFrameMs) : -1L, passMs, passMedianMs,
        frames.empty() ? "-" : frames.c_str(), FindWindowW(kShowClass, nullptr) ? 1 : 0,
        threadsLeft < 0 ? 0 : threadsLeft);
    std::fflush(stdout);

    if (!returned) return false;  // the thread is still inside the library: leave it be
    CloseHandle(thread);
    CloseHandle(endRequest);
    CloseHandle(done);
    return true;
}

int RunShows(const Options& options) {
    std::wstring dll = options.dll;
    if (dll.empty()) {
        wchar_t self[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring folder(self, length);
        folder.erase(folder.find_last_of(L"\\/") + 1);
        dll = folder + L"bootreel.dll";
    }
    HMODULE library = LoadLibraryW(dll.c_str());
    if (library == nullptr) {
        std::printf("error=cannot-load-library code=%lu\n", GetLastError());
        return 1;
    }
    const char* name = options.mode == "shutdown" ? "DoShutdownAnimation" : "DoStartupAnimation";
    ShowEntry entry = reinterpret_cast<ShowEntry>(
        reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (entry == nullptr) {
        std::printf("error=no-export name=%s\n", name);
        return 1;
    }

    HANDLE namedEvent = nullptr;
    if (options.namedEvent) namedEvent = CreateEventW(nullptr, TRUE, FALSE, kShutdownDoneEvent);
    if (options.mediaWindow) {
        g_media.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        CreateThread(nullptr, 0, MediaWindowThread, nullptr, 0, nullptr);
        WaitForSingleObject(g_media.ready, 5000);
    }

    bool allReturned = true;
    for (int i = 1; i <= options.shows && allReturned; ++i) {
        allReturned = RunShow(options, entry, i, namedEvent);
    }
    if (!allReturned) {
        // A show that never returned cannot be unloaded safely; end the process as it is.
        std::fflush(stdout);
        ExitProcess(2);
    }
    FreeLibrary(library);
    return 0;
}

// ---- Tunelet ----------------------------------------------------------------------------

struct BoxSearch {
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (owner == search->processId && std::wcscmp(name, L"#32770") == 0 &&
        IsWindowVisible(window)) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

// The message text of a message box: its static control with the text (id 0xFFFF), or
// failing that the longest static text in it.
std::wstring BoxText(HWND box) {
    wchar_t text[512] = {};
    if (GetDlgItemTextW(box, 0xFFFF, text, 512) > 0) return text;
    std::wstring best;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (_wcsicmp(name, L"Static") != 0) continue;
        GetWindowTextW(child, text, 512);
        if (std::wcslen(text) > best.size()) best = text;
    }
    return best;
}

int RunTunelet(const Options& options) {
    std::wstring commandLine = L"\"" + options.tunelet + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const DWORD start = GetTickCount();
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("error=cannot-start code=%lu\n", GetLastError());
        return 1;
    }
    int boxes = 0;
    std::wstring caption;
    std::wstring text;
    bool finished = false;
    while (GetTickCount() - start < options.limitMs) {
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) {
            finished = true;
            break;
        }
        BoxSearch search{process.dwProcessId, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box == nullptr) continue;
        Sleep(100);  // let the box finish laying out its texts
        wchar_t title[256] = {};
        GetWindowTextW(search.box, title, 256);
        caption = title;
        text = BoxText(search.box);
        ++boxes;
        // Press OK as a user would; the box answers with IDOK.
        PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(search.box, IDOK)));
        // Do not count the same box twice while it closes.
        for (int i = 0; i < 100 && IsWindow(search.box) && IsWindowVisible(search.box); ++i) {
            Sleep(20);
        }
    }
    DWORD exitCode = 0;
    if (finished) GetExitCodeProcess(process.hProcess, &exitCode);
    std::printf("boxes=%d caption=\"%s\" text=\"%s\" finished=%s exit_code=%lu elapsed_ms=%lu\n",
                boxes, Narrow(caption).c_str(), Narrow(text).c_str(), finished ? "yes" : "no",
                exitCode, GetTickCount() - start);
    std::fflush(stdout);
    if (!finished) TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return finished ? 0 : 2;
}

// ---- Command line -----------------------------------------------------------------------

int Usage() {
    std::fprintf(stderr,
                 "usage: bootreel-run [--dll PATH] [--mode startup|shutdown] [--shows N]\n"
                 "                    [--end-after MS] [--done-after MS] [--close-after MS]\n"
                 "                    [--limit MS] [--named-event]\n"
                 "                    [--media-window] [--gone-owner] [--probe X,Y ...]\n"
                 "       bootreel-run --tunelet PATH [--limit MS]\n");
    return 1;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--named-event") {
            options->namedEvent = true;
        } else if (arg == L"--media-window") {
            options->mediaWindow = true;
        } else if (arg == L"--gone-owner") {
            options->goneOwner = true;
        } else if (!hasValue) {
            return false;
        } else if (arg == L"--dll") {
            options->dll = argv[++i];
        } else if (arg == L"--tunelet") {
            options->tunelet = argv[++i];
        } else if (arg == L"--mode") {
            options->mode = Narrow(argv[++i]);
            if (options->mode != "startup" && options->mode != "shutdown") return false;
        } else if (arg == L"--shows") {
            options->shows = _wtoi(argv[++i]);
            if (options->shows < 1) return false;
        } else if (arg == L"--end-after") {
            options->endAfterMs = _wtol(argv[++i]);
        } else if (arg == L"--done-after") {
            options->doneAfterMs = _wtol(argv[++i]);
        } else if (arg == L"--close-after") {
            options->closeAfterMs = _wtol(argv[++i]);
        } else if (arg == L"--limit") {
            options->limitMs = static_cast<DWORD>(_wtol(argv[++i]));
        } else if (arg == L"--probe") {
            POINT p{};
            if (swscanf(argv[++i], L"%ld,%ld", &p.x, &p.y) != 2) return false;
            options->probes.push_back(p);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Options options;
    if (argv == nullptr || !ParseOptions(argc, argv, &options)) return Usage();
    LocalFree(argv);
    return options.tunelet.empty() ? RunShows(options) : RunTunelet(options);
}
