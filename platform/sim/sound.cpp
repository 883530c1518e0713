// The simulated device's sound service: checks and "plays" WAV files by taking their
// duration on the device clock, and keeps a record of every call for tests and the
// previewer. See platform/sound.h and platform/sim/device.h.
#include "platform/sound.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/file.h"
#include "platform/sim/device.h"
#include "platform/sim/internal.h"
#include "platform/sim/wav.h"
#include "platform/thread.h"

namespace plat {

namespace {

// Larger files are refused rather than read whole into memory.
constexpr long kMaxSoundFileBytes = 512L * 1024 * 1024;

using Observer = std::function<void(const sim::SoundRecord&, const std::vector<std::uint8_t>& wav)>;

struct SoundState {
    std::mutex mutex;
    std::vector<sim::SoundRecord> records;
    std::optional<std::size_t> playing;  // the record of the latest sound that started
    Observer observer;
};

SoundState& TheSound() {
    static SoundState state;
    return state;
}

// Reads a whole device file through the device's own file service.
bool ReadDeviceFile(const char16_t* path, std::vector<std::uint8_t>* bytes) {
    HFILESTREAM file = FileOpen(path, "rb");
    if (file == nullptr) return false;
    bool ok = FileSeek(file, 0, FILE_SEEK_END) == 0;
    const long size = ok ? FileTell(file) : -1;
    ok = ok && size >= 0 && size <= kMaxSoundFileBytes && FileSeek(file, 0, FILE_SEEK_SET) == 0;
    if (ok) {
        bytes->resize(static_cast<std::size_t>(size));
        ok = FileRead(bytes->data(), 1, bytes->size(), file) == bytes->size();
    }
    FileClose(file);
    return ok;
}

// A sound that starts cuts short the one playing before it.
void StopPlaying(SoundState& s, std::uint64_t now) {
    if (s.playing && s.records[*s.playing].endedAtMs > now) s.records[*s.playing].endedAtMs = now;
    s.playing.reset();
}

void SleepFor(std::uint64_t ms) {
    while (ms > 0) {
        const auto step = static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, 0x7FFFFFFF));
        Sleep(step);
        ms -= step;
    }
}

bool Play(const char16_t* sound, std::uint32_t flags, bool byFileName) {
    SoundState& s = TheSound();
    if (sound == nullptr) {  // no sound: stop whatever plays
        std::lock_guard<std::mutex> lock(s.mutex);
        StopPlaying(s, sim::Now());
        return true;
    }
    sim::SoundRecord record{sound, {}, flags, false, 0, 0, false, {}};
    std::vector<std::uint8_t> bytes;
    sim::detail::WavFormat format;
    if (!byFileName) {
        record.problem = "the device has no system sound of that name";
    } else if (!ReadDeviceFile(sound, &bytes)) {
        record.problem = "the file cannot be found or read";
    } else {
        record.hostPath = sim::HostPath(sound);
        record.played = sim::detail::ParseWav(bytes, &format, &record.problem);
    }
    const std::vector<std::uint8_t>* wav = record.played ? &bytes : nullptr;
    if (!record.played && (flags & SND_NODEFAULT) == 0) {
        wav = &sim::detail::DefaultSoundWav();
        record.defaultSound = sim::detail::ParseWav(*wav, &format, nullptr);
    }
    Observer observer;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        record.startedAtMs = record.endedAtMs = sim::Now();
        if (wav) {
            StopPlaying(s, record.startedAtMs);
            record.endedAtMs += format.durationMs;
            s.playing = s.records.size();
            observer = s.observer;
        }
        s.records.push_back(record);
    }
    if (wav == nullptr) return false;
    if (observer) observer(record, *wav);
    if ((flags & SND_ASYNC) == 0) SleepFor(format.durationMs);
    return record.played;
}

}  // namespace

bool PlaySound(const char16_t* sound, HMODULE /*module*/, std::uint32_t flags) {
    // Without SND_FILENAME the text names a system sound; the device has none.
    return Play(sound, flags, (flags & SND_FILENAME) != 0);
}

bool sndPlaySound(const char16_t* path, std::uint32_t flags) {
    return Play(path, flags, true);
}

namespace sim {

void detail::ResetSound() {
    SoundState& s = TheSound();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.records.clear();
        s.playing.reset();
        s.observer = nullptr;
    }
    ResetMessageBoxes();
}

std::vector<SoundRecord> Sounds() {
    SoundState& s = TheSound();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.records;
}

void SetSoundObserver(
    std::function<void(const SoundRecord&, const std::vector<std::uint8_t>& wav)> observer) {
    SoundState& s = TheSound();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.observer = std::move(observer);
}

}  // namespace sim

}  // namespace plat
