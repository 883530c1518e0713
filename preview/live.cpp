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

namespace preview {

namespace {

const char kProgram[] = "bootreel-preview";

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

}  // namespace

int RunLive(const Options& options) {
    DeviceSetup setup;
    std::string error;
    if (!PrepareDevice(options, plat::sim::ClockMode::Real, &setup, &error)) {
        CleanUpDevice(&setup);
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitBadInput;
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        CleanUpDevice(&setup);
        std::fprintf(stderr, "%s: cannot open a window (%s); run without --live to get files\n",
                     kProgram, SDL_GetError());
        return kExitBadInput;
    }
    // SDL falls back to drivers that draw nowhere when there is no display; a preview that
    // nobody can see is no live preview.
    const std::string videoDriver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
    if (videoDriver == "dummy" || videoDriver == "offscreen" || videoDriver == "evdev") {
        SDL_Quit();
        CleanUpDevice(&setup);
        std::fprintf(stderr,
                     "%s: no display to open a window on (set DISPLAY); run without --live to "
                     "get files\n",
                     kProgram);
        return kExitBadInput;
    }
    LiveAudio audio;
    int audioInit = 0;
    {
        Quiet quiet;
        audioInit = SDL_InitSubSystem(SDL_INIT_AUDIO);
    }
    if (audioInit != 0) audio.Silent(SDL_GetError());

    const std::string title = "bootreel-preview: " + options.mode + " show";
    SDL_Window* window =
        SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                         options.screenWidth, options.screenHeight, 0);
    if (window == nullptr) {
        std::fprintf(stderr, "%s: cannot open a window: %s\n", kProgram, SDL_GetError());
        SDL_Quit();
        CleanUpDevice(&setup);
        return kExitBadInput;
    }
    // Until the device draws, the window shows black, as a device screen would.
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    SDL_UpdateWindowSurface(window);

    Mailbox mailbox;
    plat::sim::SetScreenCopyObserver([&mailbox](const plat::sim::ScreenShot& shot) {
        std::lock_guard<std::mutex> guard(mailbox.mutex);
        mailbox.screen = shot.bgr;
        mailbox.screenChanged = true;
        ++mailbox.copies;
    });
    plat::sim::SetSoundObserver(
        [&mailbox](const plat::sim::SoundRecord&, const std::vector<std::uint8_t>& wav) {
            std::lock_guard<std::mutex> guard(mailbox.mutex);
            mailbox.sounds.push_back(wav);
        });

    plat::HANDLE endRequest = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE done = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE shutdownDone = CreateShutdownDoneEvent(options);
    std::atomic<bool> showOver{false};
    const std::uint64_t calledAt = plat::sim::Now();
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
    bool endRequested = false;
    std::uint64_t endRequestAt = 0;
    bool snapshotTaken = options.liveSnapshotPath.empty();
    bool snapshotFailed = false;
    std::optional<std::uint32_t> endAfter = options.endAfterMs;
    SDL_Surface* frame = SDL_CreateRGBSurfaceWithFormat(
        0, options.screenWidth, options.screenHeight, 24, SDL_PIXELFORMAT_BGR24);
    while (!showOver.load()) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            const bool closed =
                event.type == SDL_QUIT ||
                (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
            if (closed && !endRequested) {
                endRequested = true;
                endRequestAt = plat::sim::Now();
                plat::SetEvent(endRequest);
                std::printf("window closed: the show ends at the device's next 3-second check\n");
                SDL_HideWindow(window);
            }
        }
        if (options.liveCloseAfterMs && !endRequested && sinceFirstShown() &&
            *sinceFirstShown() >= *options.liveCloseAfterMs) {
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
        }
        if (endAfter && !endRequested && plat::sim::Now() - calledAt >= *endAfter) {
            endRequested = true;
            endRequestAt = plat::sim::Now();
            plat::SetEvent(endRequest);
        }
        std::vector<std::vector<std::uint8_t>> sounds;
        bool changed = false;
        {
            std::lock_guard<std::mutex> guard(mailbox.mutex);
            if (mailbox.screenChanged && frame) {
                std::memcpy(frame->pixels, mailbox.screen.data(),
                            std::min(mailbox.screen.size(),
                                     static_cast<std::size_t>(frame->pitch) * frame->h));
                mailbox.screenChanged = false;
                changed = true;
            }
            sounds.assign(mailbox.sounds.begin(), mailbox.sounds.end());
            mailbox.sounds.clear();
        }
        for (const auto& wav : sounds) audio.Play(wav);
        if (changed && !endRequested) {
            surface = SDL_GetWindowSurface(window);
            SDL_BlitSurface(frame, nullptr, surface, nullptr);
            SDL_UpdateWindowSurface(window);
            if (!firstShown) firstShown = std::chrono::steady_clock::now();
        }
        if (!snapshotTaken && sinceFirstShown() &&
            *sinceFirstShown() >= options.liveSnapshotAtMs) {
            // What the window shows now, read back from the window's own surface.
            snapshotTaken = true;
            surface = SDL_GetWindowSurface(window);
            SDL_Surface* rgb =
                surface ? SDL_ConvertSurfaceFormat(surface, SDL_PIXELFORMAT_RGB24, 0) : nullptr;
            RgbImage image;
            if (rgb) {
                image.width = rgb->w;
                image.height = rgb->h;
                image.rgb.resize(static_cast<std::size_t>(rgb->w) * rgb->h * 3);
                for (int y = 0; y < rgb->h; ++y) {
                    std::memcpy(image.At(0, y),
                                static_cast<std::uint8_t*>(rgb->pixels) +
                                    static_cast<std::size_t>(y) * rgb->pitch,
                                static_cast<std::size_t>(rgb->w) * 3);
                }
                SDL_FreeSurface(rgb);
            }
            std::string writeError;
            if (!rgb || !WritePng(options.liveSnapshotPath, image, &writeError)) {
                std::fprintf(stderr, "%s: cannot save the snapshot %s\n", kProgram,
                             writeError.c_str());
                snapshotFailed = true;
            }
        }
        SDL_Delay(5);
    }
    {
        plat::sim::OffDeviceScope off;
        show.join();
    }
    const std::uint64_t returnedAt = plat::sim::Now();
    plat::sim::SetScreenCopyObserver(nullptr);
    plat::sim::SetSoundObserver(nullptr);

    // What ended the show, from the device's records.
    ShowRecord record;
    record.calledAtMs = calledAt;
    record.returnedAtMs = returnedAt;
    record.messages = plat::sim::DeliveredMessages();
    if (endRequested) record.endRequestAtMs = endRequestAt;
    int copies = 0;
    {
        std::lock_guard<std::mutex> guard(mailbox.mutex);
        copies = mailbox.copies;
    }
    record.copyCount = static_cast<std::uint64_t>(copies);
    ShowResult result = AnalyseShow(record, setup, nullptr);
    result.showedPicture = copies > 0;

    // Let a playing sound finish before the audio device closes.
    while (!endRequested && audio.Playing()) SDL_Delay(20);
    if (frame) SDL_FreeSurface(frame);
    SDL_DestroyWindow(window);
    SDL_Quit();
    for (plat::HANDLE h : {endRequest, done, shutdownDone}) {
        if (h) plat::CloseHandle(h);
    }
    CleanUpDevice(&setup);

    std::printf("the show ended (%s) after %llu ms; %d screen copies\n", result.endHow.c_str(),
                static_cast<unsigned long long>(returnedAt - calledAt), copies);
    if (snapshotFailed) return kExitBadInput;
    if (copies == 0) {
        std::fprintf(stderr, "%s: the device showed nothing: %s\n", kProgram,
                     result.reason.c_str());
        return kExitNotShown;
    }
    return kExitShown;
}

}  // namespace preview
