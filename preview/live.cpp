// --live: the show on the real clock in an SDL2 window of the screen's size, with the sound on
// the computer's audio device. The library runs on a thread of its own (it is the device's
// caller thread); this thread owns the window and the audio device, as SDL wants.
#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "host/bootreel.h"
#include "platform/sim/device.h"
#include "platform/thread.h"
#include "preview/app.h"
#include "preview/image_files.h"
#include "preview/show.h"
#include "preview/text.h"
#include "preview/warnings.h"
#include "preview/words.h"

namespace preview {

namespace {

// What the device's threads hand to the window's thread.
struct Mailbox {
    std::mutex mutex;
    std::vector<std::uint8_t> screen;  // the latest copy, blue-green-red
    bool screenChanged = false;
    std::deque<std::vector<std::uint8_t>> sounds;  // WAV files to play
    int copies = 0;
};

// The sound libraries under SDL (ALSA above all) print their own diagnostics to standard
// error while they look for a device; the previewer says in one line of its own what it
// means. While a Quiet lives, standard error goes nowhere.
class Quiet {
  public:
    Quiet() {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) ::dup2(null, 2);
        if (null >= 0) ::close(null);
    }
    ~Quiet() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

  private:
    int saved_ = -1;
};

// The device's rows are packed (3 x width bytes); an SDL surface pads each row to its pitch,
// so the screen goes over row by row.
void CopyRows(const std::vector<std::uint8_t>& bgr, SDL_Surface* surface) {
    const std::size_t row = static_cast<std::size_t>(surface->w) * 3;
    auto* pixels = static_cast<std::uint8_t*>(surface->pixels);
    for (int y = 0; y < surface->h && (static_cast<std::size_t>(y) + 1) * row <= bgr.size(); ++y) {
        std::memcpy(pixels + static_cast<std::size_t>(y) * surface->pitch,
                    bgr.data() + static_cast<std::size_t>(y) * row, row);
    }
}

class LiveAudio {
  public:
    ~LiveAudio() {
        if (device_ != 0) SDL_CloseAudioDevice(device_);
    }
    void Play(const std::vector<std::uint8_t>& wav) {
        if (!available_) return;
        SDL_AudioSpec format;
        Uint8* buffer = nullptr;
        Uint32 length = 0;
        SDL_RWops* rw = SDL_RWFromConstMem(wav.data(), static_cast<int>(wav.size()));
        if (SDL_LoadWAV_RW(rw, 1, &format, &buffer, &length) == nullptr) {
            std::fprintf(stderr, "%s: the sound cannot be played here: %s\n", kProgram,
                         SDL_GetError());
            return;
        }
        if (device_ != 0 && (format.freq != format_.freq || format.format != format_.format ||
                             format.channels != format_.channels)) {
            SDL_CloseAudioDevice(device_);
            device_ = 0;
        }
        if (device_ == 0) {
            Quiet quiet;
            device_ = SDL_OpenAudioDevice(nullptr, 0, &format, nullptr, 0);
            format_ = format;
        }
        if (device_ == 0) {
            Silent(SDL_GetError());
        } else {
            SDL_ClearQueuedAudio(device_);  // a new sound cuts the previous one, as on the device
            SDL_QueueAudio(device_, buffer, length);
            SDL_PauseAudioDevice(device_, 0);
        }
        SDL_FreeWAV(buffer);
    }
    // True while queued sound remains to be played.
    bool Playing() const { return device_ != 0 && SDL_GetQueuedAudioSize(device_) > 0; }
    void Silent(const char* why) {
        if (available_) {
            std::fprintf(stderr, "%s: no audio device (%s): playing silently\n", kProgram, why);
        }
        available_ = false;
    }

  private:
    bool available_ = true;
    SDL_AudioDeviceID device_ = 0;
    SDL_AudioSpec format_{};
};

// Opens the window (black until the device draws, as a device screen would) and the audio;
// null after saying why.
SDL_Window* OpenWindow(const Options& options, LiveAudio* audio) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "%s: cannot open a window (%s); run without --live to get files\n",
                     kProgram, SDL_GetError());
        return nullptr;
    }
    // SDL falls back to drivers that draw nowhere when there is no display; a preview that
    // nobody can see is no live preview.
    const std::string videoDriver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
    if (videoDriver == "dummy" || videoDriver == "offscreen" || videoDriver == "evdev") {
        SDL_Quit();
        std::fprintf(stderr,
                     "%s: no display to open a window on (set DISPLAY); run without --live to "
                     "get files\n",
                     kProgram);
        return nullptr;
    }
    int audioInit = 0;
    {
        Quiet quiet;
        audioInit = SDL_InitSubSystem(SDL_INIT_AUDIO);
    }
    if (audioInit != 0) audio->Silent(SDL_GetError());
    const std::string title = "bootreel-preview: " + options.mode + " show";
    SDL_Window* window =
        SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                         options.screenWidth, options.screenHeight, 0);
    if (window == nullptr) {
        std::fprintf(stderr, "%s: cannot open a window: %s\n", kProgram, SDL_GetError());
        SDL_Quit();
        return nullptr;
    }
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    SDL_UpdateWindowSurface(window);
    return window;
}

// Saves what the window shows now, read back from its own surface, as PNG.
bool SaveSnapshot(SDL_Window* window, const std::string& path) {
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    SDL_Surface* rgb =
        surface ? SDL_ConvertSurfaceFormat(surface, SDL_PIXELFORMAT_RGB24, 0) : nullptr;
    RgbImage image;
    if (rgb) {
        image.width = rgb->w;
        image.height = rgb->h;
        image.rgb.resize(static_cast<std::size_t>(rgb->w) * rgb->h * 3);
        for (int y = 0; y < rgb->h; ++y) {
            std::memcpy(
                image.At(0, y),
                static_cast<std::uint8_t*>(rgb->pixels) + static_cast<std::size_t>(y) * rgb->pitch,
                static_cast<std::size_t>(rgb->w) * 3);
        }
        SDL_FreeSurface(rgb);
    }
    std::string writeError;
    if (!rgb || !WritePng(path, image, &writeError)) {
        std::fprintf(stderr, "%s: cannot save the snapshot %s\n", kProgram, writeError.c_str());
        return false;
    }
    return true;
}

// The show on its own thread, the window and the sound on this one, until the show returns.
struct LiveRun {
    LiveRun(const Options& o, SDL_Window* w, LiveAudio* a) : options(o), window(w), audio(a) {}

    const Options& options;
    SDL_Window* window;
    LiveAudio* audio;
    Mailbox mailbox;
    plat::HANDLE endRequest = nullptr, done = nullptr, shutdownDone = nullptr;
    std::uint64_t calledAt = 0, returnedAt = 0;
    bool endRequested = false;
    std::uint64_t endRequestAt = 0;
    bool snapshotFailed = false;
    bool shutdownSignalled = false;

    void RequestEnd() {
        endRequested = true;
        endRequestAt = plat::sim::Now();
        plat::SetEvent(endRequest);
    }
    void Run();
    // --live-close-after closes the window (counted from the first frame shown); --end-after
    // asks the show to end.
    void HandleDeadlines(std::optional<std::uint32_t> sinceFirstShownMs) {
        if (options.liveCloseAfterMs && !endRequested && sinceFirstShownMs &&
            *sinceFirstShownMs >= *options.liveCloseAfterMs) {
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
        }
        if (options.endAfterMs && !endRequested &&
            plat::sim::Now() - calledAt >= *options.endAfterMs) {
            RequestEnd();
        }
    }
    // The window's events: closing the window asks the show to end.
    void HandleEvents() {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            const bool closed =
                event.type == SDL_QUIT ||
                (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
            if (closed && !endRequested) {
                RequestEnd();
                std::printf("window closed: the show ends at the device's next 3-second check\n");
                SDL_HideWindow(window);
            }
        }
    }
};

void LiveRun::Run() {
    plat::sim::SetScreenCopyObserver([this](const plat::sim::ScreenShot& shot) {
        std::lock_guard<std::mutex> guard(mailbox.mutex);
        mailbox.screen = shot.bgr;
        mailbox.screenChanged = true;
        ++mailbox.copies;
    });
    plat::sim::SetSoundObserver(
        [this](const plat::sim::SoundRecord&, const std::vector<std::uint8_t>& wav) {
            std::lock_guard<std::mutex> guard(mailbox.mutex);
            mailbox.sounds.push_back(wav);
        });
    endRequest = plat::CreateEvent(nullptr, true, false, nullptr);
    done = plat::CreateEvent(nullptr, true, false, nullptr);
    shutdownDone = CreateShutdownDoneEvent(options);
    std::atomic<bool> showOver{false};
    calledAt = plat::sim::Now();
    std::thread show([&] {
        plat::sim::DeviceThreadScope scope;
        if (options.mode == "shutdown") {
            DoShutdownAnimation(nullptr, endRequest, done);
        } else {
            DoStartupAnimation(nullptr, endRequest, done);
        }
        showOver.store(true);
    });
    // --live-close-after and --live-snapshot-at count from the first frame the window shows,
    // not from the program's start: on a busy machine starting up can take longer than either.
    std::optional<std::chrono::steady_clock::time_point> firstShown;
    auto sinceFirstShown = [&firstShown]() -> std::optional<std::uint32_t> {
        if (!firstShown) return std::nullopt;
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - *firstShown)
                                              .count());
    };
    bool snapshotTaken = options.liveSnapshotPath.empty();
    SDL_Surface* frame = SDL_CreateRGBSurfaceWithFormat(
        0, options.screenWidth, options.screenHeight, 24, SDL_PIXELFORMAT_BGR24);
    while (!showOver.load()) {
        HandleEvents();
        HandleDeadlines(sinceFirstShown());
        std::vector<std::vector<std::uint8_t>> sounds;
        bool changed = false;
        {
            std::lock_guard<std::mutex> guard(mailbox.mutex);
            if (mailbox.screenChanged && frame) {
                CopyRows(mailbox.screen, frame);
                mailbox.screenChanged = false;
                changed = true;
            }
            sounds.assign(mailbox.sounds.begin(), mailbox.sounds.end());
            mailbox.sounds.clear();
        }
        for (const auto& wav : sounds) audio->Play(wav);
        if (changed && !endRequested) {
            SDL_BlitSurface(frame, nullptr, SDL_GetWindowSurface(window), nullptr);
            SDL_UpdateWindowSurface(window);
            if (!firstShown) firstShown = std::chrono::steady_clock::now();
        }
        if (!snapshotTaken && sinceFirstShown() && *sinceFirstShown() >= options.liveSnapshotAtMs) {
            snapshotTaken = true;
            snapshotFailed = !SaveSnapshot(window, options.liveSnapshotPath);
        }
        SDL_Delay(5);
    }
    {
        plat::sim::OffDeviceScope off;
        show.join();
    }
    returnedAt = plat::sim::Now();
    shutdownSignalled =
        shutdownDone && plat::WaitForSingleObject(shutdownDone, 0) == plat::WAIT_OBJECT_0;
    plat::sim::SetScreenCopyObserver(nullptr);
    plat::sim::SetSoundObserver(nullptr);
    if (frame) SDL_FreeSurface(frame);
}

}  // namespace

int RunLive(const Options& options) {
    DeviceSetup setup;
    std::string error;
    if (!PrepareDevice(options, plat::sim::ClockMode::Real, &setup, &error)) {
        CleanUpDevice(&setup);
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitBadInput;
    }
    std::unique_ptr<PictureReport> picture = AnalyseDevicePicture(options, setup);
    LiveAudio audio;
    SDL_Window* window = OpenWindow(options, &audio);
    if (window == nullptr) {
        CleanUpDevice(&setup);
        return kExitBadInput;
    }
    LiveRun run(options, window, &audio);
    run.Run();

    // What ended the show, from the device's records, and the show's warnings.
    ShowRecord record;
    record.calledAtMs = run.calledAt;
    record.returnedAtMs = run.returnedAt;
    record.messages = plat::sim::DeliveredMessages();
    record.sounds = plat::sim::Sounds();
    if (run.endRequested) record.endRequestAtMs = run.endRequestAt;
    if (run.shutdownSignalled) record.shutdownEventAtMs = run.returnedAt;
    {
        std::lock_guard<std::mutex> guard(run.mailbox.mutex);
        record.copyCount = static_cast<std::uint64_t>(run.mailbox.copies);
    }
    ShowResult result = AnalyseShow(record, setup, picture.get());
    result.showedPicture = record.copyCount > 0;

    // Let a playing sound finish before the audio device closes.
    while (!run.endRequested && audio.Playing()) SDL_Delay(20);
    SDL_DestroyWindow(window);
    SDL_Quit();
    for (plat::HANDLE h : {run.endRequest, run.done, run.shutdownDone}) {
        if (h) plat::CloseHandle(h);
    }
    CleanUpDevice(&setup);

    std::fputs(WarningLines(ShowWarningsOf(result, picture.get()), false).c_str(), stdout);
    std::printf("the show ended (%s) after %llu ms; %llu screen copies\n", result.endHow.c_str(),
                static_cast<unsigned long long>(run.returnedAt - run.calledAt),
                static_cast<unsigned long long>(record.copyCount));
    if (run.snapshotFailed) return kExitBadInput;
    if (record.copyCount == 0) {
        std::fprintf(stderr, "%s: the device showed nothing: %s\n", kProgram,
                     result.reason.c_str());
        return kExitNotShown;
    }
    return kExitShown;
}

}  // namespace preview
