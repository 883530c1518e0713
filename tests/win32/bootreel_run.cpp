// bootreel-run: stands in for the device's start-up and shut-down sequence so that the library
// can be run for real under Windows (or Wine) and observed from outside.
//
//   bootreel-run.exe [--dll PATH] [--mode startup|shutdown] [--shows N] [--end-after MS]
//                    [--done-after MS] [--close-after MS] [--limit MS] [--named-event]
//                    [--media-window] [--gone-owner] [--probe X,Y ...] [--hold-picture N]
//   bootreel-run.exe --tunelet PATH [--limit MS]
//
// Show mode: creates the two events, loads the library with LoadLibrary, and runs N shows one
// after the other, each by calling the export on a thread of its own. It can signal
// endRequestEvent, signal doneEvent or post close to the show's window (one of them): on the
// show's own thread, at the first frame shown MS or more after the window was created
// (action_ms says when), so that the messages the show takes afterwards are known to come
// after it. It can create the named event "SHUTDOWN_ANIMATION_DONE" (which the library only
// opens) and a window of the media player's class (which a shut-down show asks to close).
// With --gone-owner the show is given as its owner a window that no longer exists, so that its
// own window cannot be created. A thread of the caller's waits on doneEvent while the call
// runs, as a boot sequence would; done_wait_ms says when that wait returned signalled (-1: not
// by the time the call returned). A hook on the show's thread reads the window's pixels at the
// probe points every time the render thread reports a frame shown (message 0x466), so the
// report tells which pictures the window went through; another counts the ticks of timer 1 the
// show's thread takes, and the messages of any kind it takes after the action. The library's calls of timeBeginPeriod, timeEndPeriod, TerminateThread
// and sndPlaySoundW go through the harness, which records them. One line per show, "key=value"
// fields:
//
//   show=1 returned=yes call_ms=1520 done_event=signalled done_wait_ms=1500
//       named_event=signalled named_ms=1490
//       media_window_closed=yes action_ms=-1 window_ms=12 first_frame_ms=230 last_frame_ms=900
//       pass_ms=20.4 pass_median_ms=21.0 frames=FF0000.FFFFFF,00FF00.FFFFFF windows_left=0
//       threads_left=0 ticks=0 ticks_after_action=0 messages_after_action=0 tick_ms=-1
//       timer_period=1 timer_released=yes forced=0 sounds=1 named_before_sound_end=no named_at_return=signalled
//
// window_ms is when the show's window was created (its timer starts then); pass_ms and
// pass_median_ms are the shortest and the median time between two frame-shown messages (the
// render thread's pass: the shortest is what its sleep lasts when nothing else delays it); -1
// when not seen. ticks counts timer 1's ticks taken by the show's thread, ticks_after_action
// those taken after the action, tick_ms is when the first was. timer_period is the period of
// the library's first timeBeginPeriod (-1: none), timer_released whether every one was ended;
// forced counts TerminateThread calls, sounds sndPlaySoundW calls; named_before_sound_end says
// whether the named event was already signalled when a synchronous sound ended, and
// named_at_return whether it was signalled when the call returned. threads_left counts the
// threads the library started that were still running when the call returned (-1: it did not
// return); a sound that winmm goes on playing is winmm's, not the library's.
//
// "first_frame" is printed (and flushed) as soon as the first frame is on screen. With
// --hold-picture N the hook keeps the N-th distinct picture on screen: it prints "holding" and
// answers the render thread's frame-shown message only once stdin gives a line (or ends), so
// that a script can take a screenshot of exactly that picture however busy the machine is.
// Exit code 0 when every call returned within the limit (default 30 s), 2 when one did not,
// 1 on bad usage.
//
// Tunelet mode: starts the program, and whenever it shows a message box reads its caption and
// text and presses OK. Reports "boxes=N caption=... text=... exit_code=N elapsed_ms=N".
#include <windows.h>

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
    int holdPicture = 0;
    std::wstring tunelet;
};

// ---- Observation of the show's window (runs on the show's thread, inside the hook) ---------

// What the caller does to the running show, and when. It is done on the show's own thread, by
// the hook, at the first frame shown `afterMs` or more after the window was created: the show
// is then playing, and every message the show's thread takes afterwards is known to come after
// the action, however late a busy machine makes either.
enum class Action { None, EndRequest, Done, Close };

struct FrameLog {
    DWORD start = 0;
    DWORD firstFrameMs = 0;
    DWORD lastFrameMs = 0;
    bool sawFrame = false;
    volatile LONG windowMs = -1;    // written on the show's thread, read by the caller's
    std::vector<double> shownAtMs;  // every frame-shown message, on the performance counter
    std::vector<POINT> probes;
    std::vector<std::vector<COLORREF>> pictures;  // distinct consecutive probe readings
    // The action and the events it is judged by (all on the show's thread).
    Action action = Action::None;
    long actionAfterMs = -1;
    HANDLE endRequest = nullptr;
    HANDLE done = nullptr;
    long actionMs = -1;
    long ticks = 0;             // ticks of timer 1 the show's thread took from its queue
    long ticksAfterAction = 0;  // of those, the ones taken after the action
    long messagesAfterAction = 0;  // messages of any kind the show's thread took after it
    long firstTickMs = -1;
    // The picture (1-based, in the order seen) held on screen until stdin gives a line.
    int holdPicture = 0;
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

// Waits for a line (or the end) on stdin: the script's word that it has what it needed.
void WaitForRelease() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char c = 0;
    DWORD got = 0;
    while (ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
    }
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
        // The render thread waits in its sent message until this returns, so the picture
        // stays on screen for as long as the script needs to look at it.
        if (static_cast<int>(g_log.pictures.size()) == g_log.holdPicture) {
            std::printf("holding picture=%d ms=%lu\n", g_log.holdPicture,
                        GetTickCount() - g_log.start);
            std::fflush(stdout);
            WaitForRelease();
        }
    }
}

// Does the caller's action once it is due (see Action).
void MaybeAct(HWND window) {
    if (g_log.action == Action::None || g_log.actionMs >= 0 || g_log.windowMs < 0) return;
    const long elapsed = static_cast<long>(GetTickCount() - g_log.start);
    if (elapsed < g_log.windowMs + g_log.actionAfterMs) return;
    switch (g_log.action) {
        case Action::EndRequest: SetEvent(g_log.endRequest); break;
        case Action::Done: SetEvent(g_log.done); break;
        case Action::Close: PostMessageW(window, WM_CLOSE, 0, 0); break;
        case Action::None: break;
    }
    g_log.actionMs = elapsed;
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
            MaybeAct(sent->hwnd);
        } else if (sent->message == WM_CREATE && g_log.windowMs < 0 && IsShowWindow(sent->hwnd)) {
            InterlockedExchange(&g_log.windowMs, static_cast<LONG>(GetTickCount() - g_log.start));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Counts the ticks of timer 1 as the show's thread takes them from its queue.
LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && (wParam & PM_REMOVE) != 0) {
        const MSG* message = reinterpret_cast<const MSG*>(lParam);
        if (g_log.actionMs >= 0) ++g_log.messagesAfterAction;
        if (message->message == WM_TIMER && message->wParam == 1 && IsShowWindow(message->hwnd)) {
            if (g_log.ticks++ == 0) g_log.firstTickMs = static_cast<long>(GetTickCount() - g_log.start);
            if (g_log.actionMs >= 0) ++g_log.ticksAfterAction;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- What the library asks of the system -------------------------------------------------
// A few of the library's imports are routed through the harness, which records the call and
// passes it on: what the show asked for is then known for certain, not guessed from timings.

struct LibraryCalls {
    volatile LONG timerPeriod;  // the period of the first timeBeginPeriod; -1: none
    volatile LONG timerBegun;
    volatile LONG timerEnded;
    volatile LONG terminated;   // TerminateThread calls
    volatile LONG sounds;       // sndPlaySoundW calls
    volatile LONG namedBeforeSoundEnd;  // the named event was signalled before a sound ended
};
LibraryCalls g_calls;
HANDLE g_namedEvent = nullptr;

using TimePeriodFn = UINT(WINAPI*)(UINT);
using TerminateThreadFn = BOOL(WINAPI*)(HANDLE, DWORD);
using SndPlaySoundFn = BOOL(WINAPI*)(LPCWSTR, UINT);
using CreateThreadFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                       LPVOID, DWORD, LPDWORD);
CreateThreadFn g_createThread = nullptr;
TimePeriodFn g_timeBeginPeriod = nullptr;
TimePeriodFn g_timeEndPeriod = nullptr;
TerminateThreadFn g_terminateThread = nullptr;
SndPlaySoundFn g_sndPlaySound = nullptr;

// The threads the library started this show, each as a handle of the harness's own: whether
// one has ended is then a wait on it, exact however long the system takes to forget it.
CRITICAL_SECTION g_threadsLock;
std::vector<HANDLE> g_libraryThreads;

HANDLE WINAPI RecordCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                 LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                 LPDWORD id) {
    HANDLE thread = g_createThread(security, stack, start, parameter, flags, id);
    HANDLE own = nullptr;
    if (thread != nullptr && DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(),
                                             &own, SYNCHRONIZE, FALSE, 0)) {
        EnterCriticalSection(&g_threadsLock);
        g_libraryThreads.push_back(own);
        LeaveCriticalSection(&g_threadsLock);
    }
    return thread;
}

// How many of the library's threads have not ended; forgets them all.
int TakeLibraryThreadsLeft() {
    EnterCriticalSection(&g_threadsLock);
    int left = 0;
    for (HANDLE thread : g_libraryThreads) {
        if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) ++left;
        CloseHandle(thread);
    }
    g_libraryThreads.clear();
    LeaveCriticalSection(&g_threadsLock);
    return left;
}

UINT WINAPI RecordTimeBeginPeriod(UINT period) {
    InterlockedCompareExchange(&g_calls.timerPeriod, static_cast<LONG>(period), -1);
    InterlockedIncrement(&g_calls.timerBegun);
    return g_timeBeginPeriod(period);
}

UINT WINAPI RecordTimeEndPeriod(UINT period) {
    InterlockedIncrement(&g_calls.timerEnded);
    return g_timeEndPeriod(period);
}

BOOL WINAPI RecordTerminateThread(HANDLE thread, DWORD exitCode) {
    InterlockedIncrement(&g_calls.terminated);
    return g_terminateThread(thread, exitCode);
}

BOOL WINAPI RecordSndPlaySound(LPCWSTR sound, UINT flags) {
    InterlockedIncrement(&g_calls.sounds);
    const BOOL played = g_sndPlaySound(sound, flags);
    // A synchronous sound has ended when the call returns: the event must still be clear.
    if ((flags & 0x0001 /* SND_ASYNC */) == 0 && g_namedEvent != nullptr &&
        WaitForSingleObject(g_namedEvent, 0) == WAIT_OBJECT_0) {
        InterlockedExchange(&g_calls.namedBeforeSoundEnd, 1);
    }
    return played;
}

void ResetLibraryCalls() {
    g_calls.timerPeriod = -1;
    g_calls.timerBegun = 0;
    g_calls.timerEnded = 0;
    g_calls.terminated = 0;
    g_calls.sounds = 0;
    g_calls.namedBeforeSoundEnd = 0;
}

// Points the module's import `name` at `replacement`; the import's own address, or null when
// the module does not import it.
void* RouteImport(HMODULE module, const char* name, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         dll->Name != 0; ++dll) {
        if (dll->OriginalFirstThunk == 0) continue;  // no names left to match
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                &protection)) {
                return nullptr;
            }
            void* original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection,
                           &protection);
            return original;
        }
    }
    return nullptr;
}

// Routes the recorded imports; false when one of them is not found (the report would lie).
bool RouteLibraryImports(HMODULE library) {
    g_timeBeginPeriod = reinterpret_cast<TimePeriodFn>(
        RouteImport(library, "timeBeginPeriod", reinterpret_cast<void*>(RecordTimeBeginPeriod)));
    g_timeEndPeriod = reinterpret_cast<TimePeriodFn>(
        RouteImport(library, "timeEndPeriod", reinterpret_cast<void*>(RecordTimeEndPeriod)));
    g_terminateThread = reinterpret_cast<TerminateThreadFn>(
        RouteImport(library, "TerminateThread", reinterpret_cast<void*>(RecordTerminateThread)));
    g_sndPlaySound = reinterpret_cast<SndPlaySoundFn>(
        RouteImport(library, "sndPlaySoundW", reinterpret_cast<void*>(RecordSndPlaySound)));
    g_createThread = reinterpret_cast<CreateThreadFn>(
        RouteImport(library, "CreateThread", reinterpret_cast<void*>(RecordCreateThread)));
    return g_timeBeginPeriod != nullptr && g_timeEndPeriod != nullptr &&
           g_terminateThread != nullptr && g_sndPlaySound != nullptr && g_createThread != nullptr;
}

// ---- The caller's side of a show --------------------------------------------------------

struct ShowCall {
    ShowEntry entry;
    HWND owner;
    HANDLE endRequest;
    HANDLE done;
    HANDLE named;
    bool namedAtReturn;  // whether the named event was signalled at the moment the call returned
    int threadsLeft;     // the library's threads still running at that moment
};

DWORD WINAPI ShowThread(void* parameter) {
    ShowCall* call = static_cast<ShowCall*>(parameter);
    call->entry(call->owner, call->endRequest, call->done);
    call->threadsLeft = TakeLibraryThreadsLeft();
    call->namedAtReturn =
        call->named != nullptr && WaitForSingleObject(call->named, 0) == WAIT_OBJECT_0;
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
    ShowCall call{entry, options.goneOwner ? GoneWindow() : nullptr, endRequest, done, namedEvent,
                  false, -1};
    g_log = FrameLog{};
    g_log.probes = options.probes;
    g_log.holdPicture = options.holdPicture;
    g_log.endRequest = endRequest;
    g_log.done = done;
    if (options.endAfterMs >= 0) {
        g_log.action = Action::EndRequest;
        g_log.actionAfterMs = options.endAfterMs;
    } else if (options.doneAfterMs >= 0) {
        g_log.action = Action::Done;
        g_log.actionAfterMs = options.doneAfterMs;
    } else if (options.closeAfterMs >= 0) {
        g_log.action = Action::Close;
        g_log.actionAfterMs = options.closeAfterMs;
    }
    ResetLibraryCalls();

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
    HHOOK messageHook = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, threadId);
    g_log.start = GetTickCount();
    doneWait.start = g_log.start;  // read by the waiter only after the show has begun
    ResumeThread(thread);

    // Wait for the call to return (the hook does the action on the show's thread), and note
    // when the named event is signalled.
    DWORD namedMs = 0;
    bool namedSeen = false;
    bool returned = false;
    for (;;) {
        const DWORD elapsed = GetTickCount() - g_log.start;
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
    if (messageHook != nullptr) UnhookWindowsHookEx(messageHook);
    // A show that returned has signalled doneEvent by now, so the waiter has seen it; one that
    // did not is not waited for any longer.
    SetEvent(doneWait.stop);
    if (waiter != nullptr) {
        WaitForSingleObject(waiter, INFINITE);
        CloseHandle(waiter);
    }
    CloseHandle(doneWait.stop);


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
        "pass_ms=%.1f pass_median_ms=%.1f frames=%s windows_left=%d threads_left=%d "
        "ticks=%ld ticks_after_action=%ld messages_after_action=%ld tick_ms=%ld timer_period=%ld timer_released=%s "
        "forced=%ld sounds=%ld named_before_sound_end=%s named_at_return=%s\n",
        index, returned ? "yes" : "no", callMs,
        WaitForSingleObject(done, 0) == WAIT_OBJECT_0 ? "signalled" : "clear",
        static_cast<long>(doneWait.signalledMs),
        namedEvent == nullptr ? "none" : (namedSeen ? "signalled" : "clear"), namedMs,
        options.mediaWindow ? (g_media.closed ? "yes" : "no") : "none", g_log.actionMs,
        static_cast<long>(g_log.windowMs),
        g_log.sawFrame ? static_cast<long>(g_log.firstFrameMs) : -1L,
        g_log.sawFrame ? static_cast<long>(g_log.lastFrameMs) : -1L, passMs, passMedianMs,
        frames.empty() ? "-" : frames.c_str(), FindWindowW(kShowClass, nullptr) ? 1 : 0,
        call.threadsLeft, g_log.ticks, g_log.ticksAfterAction, g_log.messagesAfterAction,
        g_log.firstTickMs,
        static_cast<long>(g_calls.timerPeriod),
        g_calls.timerBegun == g_calls.timerEnded ? "yes" : "no",
        static_cast<long>(g_calls.terminated), static_cast<long>(g_calls.sounds),
        g_calls.namedBeforeSoundEnd ? "yes" : "no",
        namedEvent == nullptr ? "none" : (call.namedAtReturn ? "signalled" : "clear"));
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
    if (!RouteLibraryImports(library)) {
        std::printf("error=cannot-record-imports\n");
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
    g_namedEvent = namedEvent;
    if (options.mediaWindow) {
        g_media.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // Ready once the window exists (or could not be made), however long that takes.
        if (CreateThread(nullptr, 0, MediaWindowThread, nullptr, 0, nullptr) != nullptr) {
            WaitForSingleObject(g_media.ready, INFINITE);
        }
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
        // A box may be found before it has its texts: read them once both are there (or the
        // box is gone), bounded only by the run's limit.
        wchar_t title[256] = {};
        for (;;) {
            GetWindowTextW(search.box, title, 256);
            text = BoxText(search.box);
            if ((title[0] != 0 && !text.empty()) || !IsWindow(search.box) ||
                GetTickCount() - start >= options.limitMs) {
                break;
            }
            Sleep(10);
        }
        caption = title;
        ++boxes;
        // Press OK as a user would; the box answers with IDOK.
        PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(search.box, IDOK)));
        // Do not count the same box twice while it closes: wait until it is gone.
        while (IsWindow(search.box) && IsWindowVisible(search.box) &&
               GetTickCount() - start < options.limitMs) {
            Sleep(10);
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
                 "                    [--hold-picture N]\n"
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
        } else if (arg == L"--hold-picture") {
            options->holdPicture = _wtoi(argv[++i]);
            if (options->holdPicture < 1) return false;
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
    InitializeCriticalSection(&g_threadsLock);
    Options options;
    if (argv == nullptr || !ParseOptions(argc, argv, &options)) return Usage();
    LocalFree(argv);
    return options.tunelet.empty() ? RunShows(options) : RunTunelet(options);
}
