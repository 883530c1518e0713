// Running and recording a show on the simulated device; see show.h.
#include "preview/show.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "host/bootreel.h"
#include "platform/registry.h"
#include "platform/sim/wav.h"
#include "platform/sound.h"
#include "platform/thread.h"
#include "preview/progress.h"
#include "preview/text.h"
#include "preview/words.h"

namespace preview {

namespace fs = std::filesystem;

namespace {

const char16_t kAnimationClass[] = u"StartUpAnimation";
constexpr std::uint32_t kMessageClose = 16;
constexpr std::uint32_t kMessageAnimationEnded = 0x464;

}  // namespace

namespace {

// Tells composed frames from the render loop's other screen copies as the copies come (the
// rule in show.h) and passes each composed frame on. It keeps only the last copy's pixels, for
// the check that a copy without a composition leaves the screen as it was.
class CopyClassifier {
  public:
    CopyClassifier(const PictureReport* picture, std::uint64_t calledAtMs, FrameSink* sink,
                   ShowRecord* record)
        : calledAtMs_(calledAtMs), sink_(sink), record_(record) {
        if (picture && picture->parsed) {
            for (const FrameReport& f : picture->frames) delaysCs_.push_back(f.delayCs);
        }
    }

    void Copy(const plat::sim::ScreenShot& shot) {
        const std::uint64_t k = record_->copyCount;
        // A copy that changed nothing comes without the screen (ScreenCopies::Changes).
        const bool same = shot.bgr.empty() || shot.bgr == previous_;
        bool composed;
        if (!delaysCs_.empty()) {
            composed = next_ < delaysCs_.size() && (k == 0 || previousMs_ - firstMs_ >= due_);
        } else {
            composed = k == 0 || !same;
        }
        const std::vector<std::uint8_t>& screen = shot.bgr.empty() ? previous_ : shot.bgr;
        if (composed) {
            const ComposedFrame frame{static_cast<int>(next_), shot.timeMs - calledAtMs_, k};
            record_->frames.push_back(frame);
            if (sink_) sink_->Frame(frame, FromBgr(shot.width, shot.height, screen));
            if (!delaysCs_.empty()) {
                due_ +=
                    static_cast<std::uint64_t>(static_cast<std::uint16_t>(delaysCs_[next_])) * 10;
            }
            ++next_;
        } else if (!same) {
            ++record_->unexpectedChanges;
        }
        if (k == 0) firstMs_ = shot.timeMs;
        previousMs_ = shot.timeMs;
        if (!same) previous_ = shot.bgr;
        ++record_->copyCount;
    }

  private:
    std::uint64_t calledAtMs_;
    FrameSink* sink_;
    ShowRecord* record_;
    std::vector<int> delaysCs_;
    std::size_t next_ = 0;
    std::uint64_t due_ = 0;
    std::uint64_t firstMs_ = 0, previousMs_ = 0;
    std::vector<std::uint8_t> previous_;
};

}  // namespace

namespace {

// The boot sequence's side of a show: the end request at its time, and watchers that note when
// the show's events are signalled. They are device threads so that virtual time waits for them.
// Each helper counts itself in once it is a device thread; the show starts only after all of
// them have, or virtual time could run past their deadlines while a helper is still starting up
// (a starting std::thread is no device thread yet).
class BootSide {
  public:
    BootSide(ShowRecord* record, std::mutex* mutex, const std::atomic<int>* copies,
             std::optional<std::uint32_t> endAfterMs, plat::HANDLE endRequest, plat::HANDLE done,
             plat::HANDLE shutdownDone)
        : record_(record),
          mutex_(mutex),
          copies_(copies),
          endAfterMs_(endAfterMs),
          endRequest_(endRequest),
          done_(done),
          shutdownDone_(shutdownDone),
          stop_(plat::CreateEvent(nullptr, true, false, nullptr)) {}
    ~BootSide() {
        if (stop_) plat::CloseHandle(stop_);
    }

    // Starts the helpers and returns once each is a device thread.
    void Start() {
        ender_ = std::thread([this] { SignalEndRequest(); });
        // A watcher wakes at the virtual time of the signal (time cannot move while it is
        // runnable); whether the show or our release at the end signalled the event is decided
        // after the show returns, before the release.
        doneWatcher_ = std::thread([this] { Watch(done_, &doneWokeAt_); });
        if (shutdownDone_) {
            shutdownWatcher_ = std::thread([this] { Watch(shutdownDone_, &shutdownWokeAt_); });
        }
        const int helpers = shutdownDone_ ? 3 : 2;
        std::unique_lock<std::mutex> lock(readyMutex_);
        readyChanged_.wait(lock, [&] { return ready_ == helpers; });
    }

    // After the show: notes which events the show signalled, then releases the helpers before
    // this thread leaves the device to join them (virtual time would otherwise run on to their
    // deadlines).
    void Release() {
        const bool doneByShow = plat::WaitForSingleObject(done_, 0) == plat::WAIT_OBJECT_0;
        const bool shutdownByShow =
            shutdownDone_ && plat::WaitForSingleObject(shutdownDone_, 0) == plat::WAIT_OBJECT_0;
        plat::SetEvent(stop_);
        plat::SetEvent(done_);
        if (shutdownDone_) plat::SetEvent(shutdownDone_);
        {
            plat::sim::OffDeviceScope off;
            for (std::thread* t : {&ender_, &doneWatcher_, &shutdownWatcher_}) {
                if (t->joinable()) t->join();
            }
        }
        if (doneByShow) record_->doneEventAtMs = doneWokeAt_;
        if (shutdownByShow) record_->shutdownEventAtMs = shutdownWokeAt_;
    }

  private:
    void CountIn() {
        std::lock_guard<std::mutex> guard(readyMutex_);
        ++ready_;
        readyChanged_.notify_all();
    }
    // The end request at --end-after, or after kNothingShownMs when nothing was shown.
    void SignalEndRequest() {
        plat::sim::DeviceThreadScope scope;
        CountIn();
        const std::uint32_t at = endAfterMs_ ? *endAfterMs_ : kNothingShownMs;
        const std::uint64_t now = plat::sim::Now() - record_->calledAtMs;
        const std::uint32_t wait = now >= at ? 0 : static_cast<std::uint32_t>(at - now);
        if (plat::WaitForSingleObject(stop_, wait) != plat::WAIT_TIMEOUT) return;
        if (!endAfterMs_ && copies_->load() != 0) return;
        std::lock_guard<std::mutex> guard(*mutex_);
        record_->endRequestAtMs = plat::sim::Now();
        record_->endRequestBecauseNothingShown = !endAfterMs_;
        plat::SetEvent(endRequest_);
    }
    void Watch(plat::HANDLE event, std::uint64_t* wokeAt) {
        plat::sim::DeviceThreadScope scope;
        CountIn();
        plat::WaitForSingleObject(event, plat::INFINITE);
        *wokeAt = plat::sim::Now();
    }

    ShowRecord* record_;
    std::mutex* mutex_;
    const std::atomic<int>* copies_;
    std::optional<std::uint32_t> endAfterMs_;
    plat::HANDLE endRequest_, done_, shutdownDone_, stop_;
    std::mutex readyMutex_;
    std::condition_variable readyChanged_;
    int ready_ = 0;
    std::uint64_t doneWokeAt_ = 0, shutdownWokeAt_ = 0;
    std::thread ender_, doneWatcher_, shutdownWatcher_;
};

// The progress line reads only counters: it is no device thread and calls no platform service,
// so it cannot disturb virtual time.
std::thread ProgressTicker(const std::atomic<bool>* returned, const std::atomic<int>* copies) {
    return std::thread([returned, copies] {
        ProgressLine line;
        if (!line.enabled()) return;
        while (!returned->load()) {
            const int n = copies->load();
            line.Update(n == 0 ? std::string("loading and decoding the picture...")
                               : "playing: " + std::to_string(n) + " screen copies");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
}

}  // namespace

ShowRecord RecordShow(const Options& options, std::optional<std::uint32_t> endAfterMs,
                      const PictureReport* picture, FrameSink* sink) {
    ShowRecord record;
    std::mutex mutex;
    std::atomic<int> copies{0};
    record.calledAtMs = plat::sim::Now();
    CopyClassifier classifier(picture, record.calledAtMs, sink, &record);

    plat::sim::SetScreenCopyObserver(
        [&](const plat::sim::ScreenShot& shot) {
            std::lock_guard<std::mutex> guard(mutex);
            classifier.Copy(shot);
            if (!record.bitmapBytesAtFirstCopy) {
                // Observers run without the device's lock, so the device may be asked here.
                record.bitmapBytesAtFirstCopy = plat::sim::Live().bitmapBytes;
            }
            copies.fetch_add(1);
        },
        // Only copies that changed the screen come with it: an idle pass then costs a quarter
        // as much, which is what bounds a long idle show's run.
        plat::sim::ScreenCopies::Changes);
    // The samples of what is heard, as the device accepted them: the recording decodes these
    // bytes, not the file again (which may be gone, or read differently by another reader).
    plat::sim::SetSoundObserver(
        [&](const plat::sim::SoundRecord& sound, const std::vector<std::uint8_t>& wav) {
            std::lock_guard<std::mutex> guard(mutex);
            record.played.push_back(PlayedSound{sound, wav});
        });

    plat::HANDLE endRequest = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE done = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE shutdownDone = CreateShutdownDoneEvent(options);
    std::atomic<bool> returned{false};
    {
        BootSide boot(&record, &mutex, &copies, endAfterMs, endRequest, done, shutdownDone);
        boot.Start();
        std::thread ticker = ProgressTicker(&returned, &copies);
        if (options.mode == "shutdown") {
            DoShutdownAnimation(nullptr, endRequest, done);
        } else {
            DoStartupAnimation(nullptr, endRequest, done);
        }
        record.returnedAtMs = plat::sim::Now();
        returned.store(true);
        boot.Release();
        plat::sim::OffDeviceScope off;
        ticker.join();
    }
    plat::sim::SetScreenCopyObserver(nullptr);
    plat::sim::SetSoundObserver(nullptr);
    for (plat::HANDLE h : {endRequest, done, shutdownDone}) {
        if (h) plat::CloseHandle(h);
    }
    record.messages = plat::sim::DeliveredMessages();
    record.sounds = plat::sim::Sounds();
    return record;
}

double ObservedDecodeScale(const ShowRecord& record, const PictureReport& picture) {
    if (!record.bitmapBytesAtFirstCopy) return 0;
    for (const ScaleMemory& m : picture.memory) {
        if (m.frameBytes + picture.surfaceBytes == *record.bitmapBytesAtFirstCopy) return m.scale;
    }
    return 0;
}

double ShownDecodeScale(const ShowRecord& record, const PictureReport* picture, bool* observed) {
    double scale = picture ? ObservedDecodeScale(record, *picture) : 0;
    if (observed) *observed = scale > 0;
    if (scale == 0 && picture) scale = picture->decodeScale;
    return scale;
}

// The picture's report for the show, or none when the device's picture path leads to no
// readable file (the show itself then reports what the device does).
std::unique_ptr<PictureReport> AnalyseDevicePicture(const Options& options,
                                                    const DeviceSetup& setup) {
    if (setup.imageHostPath.empty()) return nullptr;
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadInputFile(setup.imageHostPath, &bytes, &error)) return nullptr;
    // The analysis decodes every frame once, with no memory limit; the show gets the limit.
    plat::sim::SetBitmapMemoryLimit(0);
    auto report = std::make_unique<PictureReport>(
        AnalysePicture(Utf8(setup.imagePath), bytes, options.screenWidth, options.screenHeight,
                       options.memoryLimit));
    plat::sim::SetBitmapMemoryLimit(static_cast<std::size_t>(options.memoryLimit));
    return report;
}

namespace {

// How the show ended and, when the device showed nothing, why (in *result).
void DecideEnd(const ShowRecord& record, const DeviceSetup& setup, const PictureReport* picture,
               ShowResult* result_) {
    ShowResult& result = *result_;
    // A host file system that cannot answer (a name too long for it, no permission) means the
    // same as no such file: the device's lookup finds nothing either.
    std::error_code ec;
    const bool pictureExists =
        !setup.imageHostPath.empty() && fs::exists(fs::path(setup.imageHostPath), ec);
    const bool closedBeforeEndRequest =
        result.windowClosedAtMs &&
        (!record.endRequestAtMs || *result.windowClosedAtMs < *record.endRequestAtMs);
    if (!pictureExists && !setup.image.problem.empty()) {
        result.endHow = "noPicture";
        result.reason = setup.image.problem;
    } else if (setup.imagePath.empty()) {
        result.endHow = "noPicture";
        result.reason = "the device has no picture path";
    } else if (!pictureExists) {
        result.endHow = "noPicture";
        result.reason = "the picture " + Utf8(setup.imagePath) + " (the value Image under " +
                        "HKEY_LOCAL_MACHINE\\" + Utf8(ModeKey(setup.mode)) +
                        ") does not exist on the device";
        if (setup.deviceRoot.empty()) result.reason += " (no --device-root was given)";
        if (ec == std::errc::filename_too_long) {
            result.reason +=
                " (a name that long cannot exist on this computer's file system, so "
                "--device-root cannot hold such a file: " +
                ec.message() + ")";
        }
    } else if (!result.showedPicture && closedBeforeEndRequest && !result.animationEndedAtMs) {
        result.endHow = "loadFailed";
        result.reason = "the device could not load the picture " + Utf8(setup.imagePath);
        if (picture) {
            for (const Warning& w : picture->warnings) {
                if (w.id == "notGif" || w.id == "undecodable" || w.id == "noScaleFits") {
                    result.reason += ": " + w.text;
                    result.reasonWarningId = w.id;
                    break;
                }
            }
        } else {
            result.reason += ": it is not a file the device can read";
        }
    } else if (result.animationEndedAtMs) {
        result.endHow = "lastFrame";
    } else if (record.endRequestAtMs && result.windowClosedAtMs) {
        result.endHow = "endRequest";
    } else if (record.doneEventAtMs && !result.windowClosedAtMs) {
        result.endHow = "doneEvent";
    } else if (result.windowClosedAtMs) {
        result.endHow = "closePosted";
    } else {
        result.endHow = "returned";
    }
}

}  // namespace

ShowResult AnalyseShow(const ShowRecord& record, const DeviceSetup& setup,
                       const PictureReport* picture) {
    ShowResult result;
    for (const auto& m : record.messages) {
        if (m.windowClass != kAnimationClass) continue;
        if (m.message == kMessageClose && !result.windowClosedAtMs) {
            result.windowClosedAtMs = m.timeMs;
        }
        if (m.message == kMessageAnimationEnded && !result.animationEndedAtMs) {
            result.animationEndedAtMs = m.timeMs;
        }
    }

    result.frames = record.frames;
    result.unexpectedChanges = record.unexpectedChanges;
    result.showedPicture = !result.frames.empty();
    result.showEndMs = record.returnedAtMs - record.calledAtMs;
    result.screenEndMs =
        result.windowClosedAtMs
            ? std::min(*result.windowClosedAtMs - record.calledAtMs, result.showEndMs)
            : result.showEndMs;

    DecideEnd(record, setup, picture, &result);
    result.warnings = ShowWarnings(record, setup, result);
    if (!result.showedPicture && result.reason.empty()) {
        if (picture && picture->frames.size() == 1) {
            result.reason = "the picture has a single frame: the device shows nothing for it";
        } else if (picture && !picture->surfacesFit) {
            result.reason =
                "the render thread could not start: its drawing surfaces do not fit in the "
                "bitmap memory beside the frames, so the device shows nothing";
        } else {
            result.reason = "the device showed nothing";
        }
    }
    return result;
}

namespace {

Json OptionalMs(const std::optional<std::uint64_t>& t, std::uint64_t base) {
    return t ? Json(*t - base) : Json();
}

}  // namespace

Json MakeTimeline(const Options& options, const DeviceSetup& setup, const ShowRecord& record,
                  const ShowResult& result, const PictureReport* picture) {
    const std::uint64_t base = record.calledAtMs;
    Json t = Json::object();
    Json screen = Json::object();
    screen["width"] = options.screenWidth;
    screen["height"] = options.screenHeight;
    t["screen"] = screen;
    t["mode"] = options.mode;
    t["imagePath"] = Utf8(setup.imagePath);
    t["soundPath"] = Utf8(setup.soundPath);
    if (!setup.usingSample.empty()) t["sample"] = true;
    // The scale read off the device's bitmap memory; failing that, the one the memory limit
    // predicts.
    bool observed = false;
    const double scale = ShownDecodeScale(record, picture, &observed);
    t["decodeScale"] = result.showedPicture && scale > 0 ? Json(scale) : Json();
    t["decodeScaleObserved"] = observed;
    t["memoryLimit"] = options.memoryLimit ? Json(options.memoryLimit) : Json();
    Json frames = Json::array();
    for (std::size_t i = 0; i < result.frames.size(); ++i) {
        const ComposedFrame& f = result.frames[i];
        Json fj = Json::object();
        fj["index"] = f.index;
        fj["composedAtMs"] = f.composedAtMs;
        if (picture && f.index < static_cast<int>(picture->frames.size())) {
            const FrameReport& r = picture->frames[static_cast<std::size_t>(f.index)];
            fj["delayCs"] = r.delayCs;
            fj["disposal"] = r.disposal;
        }
        fj["file"] = FrameFileName(i);
        frames.push_back(fj);
    }
    t["frames"] = frames;

    Json sound;
    for (const auto& s : record.sounds) {
        sound = Json::object();
        sound["path"] = Utf8(s.path);
        sound["played"] = s.played;
        sound["startedAtMs"] = s.startedAtMs - base;
        sound["endedAtMs"] = s.endedAtMs - base;
        sound["synchronous"] = (s.flags & plat::SND_ASYNC) == 0;
        break;  // a show plays at most one sound
    }
    t["sound"] = sound;

    Json end = Json::object();
    end["how"] = result.endHow;
    end["doneEventAtMs"] = OptionalMs(record.doneEventAtMs, base);
    end["returnedAtMs"] = record.returnedAtMs - base;
    end["shutdownEventAtMs"] = OptionalMs(record.shutdownEventAtMs, base);
    end["endRequestAtMs"] = OptionalMs(record.endRequestAtMs, base);
    end["animationEndedAtMs"] = OptionalMs(result.animationEndedAtMs, base);
    end["windowClosedAtMs"] = OptionalMs(result.windowClosedAtMs, base);
    end["deviceShowedNothing"] = !result.showedPicture;
    if (!result.showedPicture) end["reason"] = result.reason;
    t["end"] = end;

    t["screenCopies"] = record.copyCount;
    t["recordingConsistent"] = result.unexpectedChanges == 0;
    t["warnings"] = WarningsToJson(ShowWarningsOf(result, picture));
    return t;
}

}  // namespace preview

namespace preview {

std::vector<Warning> ShowWarningsOf(const ShowResult& result, const PictureReport* picture) {
    return MergeWarnings(picture ? picture->warnings : std::vector<Warning>(), result.warnings,
                         result.reasonWarningId);
}

}  // namespace preview
