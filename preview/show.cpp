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
#include "preview/cleanup.h"
#include "preview/progress.h"
#include "preview/text.h"

#ifndef BOOTREEL_SAMPLES_DIR
#define BOOTREEL_SAMPLES_DIR "samples"
#endif

namespace preview {

namespace fs = std::filesystem;

namespace {

const char16_t kAnimationClass[] = u"StartUpAnimation";
const char16_t kSoundLevelKey[] = u"ControlPanel\\SoundCategories\\System";
const char16_t kShutdownDoneEvent[] = u"SHUTDOWN_ANIMATION_DONE";
constexpr std::uint32_t kMessageClose = 16;
constexpr std::uint32_t kMessageAnimationEnded = 0x464;
// The sound level that the --sound shortcut writes: any value but 0 lets the sound play.
constexpr std::uint32_t kShortcutSoundLevel = 5;

std::u16string ModeKey(const std::string& mode) {
    return mode == "shutdown" ? u"Software\\Korvel\\Shutdown" : u"Software\\Korvel\\Startup";
}

// The device's path fields hold 260 characters with the terminating zero.
constexpr std::size_t kDevicePathCapacity = 260;

std::string TypeName(std::uint32_t type) {
    switch (type) {
        case 0:
            return "REG_NONE (0)";
        case 1:
            return "REG_SZ (1)";
        case 2:
            return "REG_EXPAND_SZ (2)";
        case 3:
            return "REG_BINARY (3)";
        case 4:
            return "REG_DWORD (4)";
        case 7:
            return "REG_MULTI_SZ (7)";
        case 11:
            return "REG_QWORD (11)";
        default:
            return "type " + std::to_string(type);
    }
}

// Reads a path value (Image or WAV) the way the device does and explains what the device
// makes of it when that is not a usable path.
RegistryPath ReadPathValue(const std::u16string& key, const char16_t* name, const char* what) {
    RegistryPath result;
    const std::string keyName = "HKEY_LOCAL_MACHINE\\" + Utf8(key);
    const std::string value = Utf8(name);
    const std::string expected = std::string("a string (REG_SZ) holding the ") + what +
                                 "'s full device path, for example \\Storage\\boot." +
                                 (std::string(what) == "picture" ? "gif" : "wav");
    plat::HKEY handle = nullptr;
    if (plat::RegOpenKeyEx(plat::HKEY_ROOT_LOCAL_MACHINE, key.c_str(), 0, 0, &handle) !=
        plat::ERROR_SUCCESS) {
        result.problem = "the registry has no key " + keyName + ", so the device has no " + what +
                         " path (expected there: the value " + value + ", " + expected + ")";
        return result;
    }
    std::uint32_t type = 0, size = 0;
    if (plat::RegQueryValueEx(handle, name, nullptr, &type, nullptr, &size) !=
        plat::ERROR_SUCCESS) {
        plat::RegCloseKey(handle);
        result.problem = "the registry key " + keyName + " has no value " + value +
                         ", so the device has no " + what + " path (expected: " + expected + ")";
        return result;
    }
    result.present = true;
    result.type = type;
    std::vector<std::uint8_t> bytes(size + 2, 0);
    plat::RegQueryValueEx(handle, name, nullptr, &type, bytes.data(), &size);
    plat::RegCloseKey(handle);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
    result.length = text.size();
    // The device reads into a zeroed field of 260 characters and uses the value only when it
    // fits there with its terminating zero.
    const bool fits = size <= kDevicePathCapacity * 2 && text.size() < kDevicePathCapacity;
    if (fits) result.devicePath = text;
    const std::string where = "the registry value " + value + " under " + keyName;
    if (!fits) {
        result.problem = where + " holds " + std::to_string(text.size()) +
                         " characters; the device's path holds at most " +
                         std::to_string(kDevicePathCapacity - 1) +
                         " characters and it ignores a longer value, so it has no " + what +
                         " path (expected: " + expected + ")";
    } else if (type != plat::REG_SZ) {
        result.problem = where + " is of type " + TypeName(type) +
                         ", not the string type REG_SZ (1) that the device expects; it reads the "
                         "value's bytes as a path, which names no file (expected: " +
                         expected + ")";
    } else if (text.empty()) {
        result.problem = where + " is empty, so the device has no " + what +
                         " path (expected: " + expected + ")";
    }
    return result;
}

bool CheckReadableFile(const std::string& path, const char* what, std::string* error) {
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st)) {
        *error = std::string(what) + " " + path + " does not exist";
        return false;
    }
    if (fs::is_directory(st)) {
        *error = std::string(what) + " " + path + " is a directory, not a file";
        return false;
    }
    if (!fs::is_regular_file(st)) {
        *error = std::string(what) + " " + path + " is not a regular file";
        return false;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        *error = std::string(what) + " " + path + " cannot be read (permission denied)";
        return false;
    }
    return true;
}

const std::string kTempRootPrefix = "bootreel-preview-";

// The device path under which a host file appears: inside the user's device root, or in a
// \Storage folder of a temporary root made for the shortcuts.
bool PlaceOnDevice(const std::string& file, const char* what, DeviceSetup* setup,
                   std::u16string* devicePath, std::string* error) {
    std::error_code ec;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(file), ec);
    if (ec) {
        *error = std::string(what) + " " + file + ": " + ec.message();
        return false;
    }
    if (!setup->deviceRoot.empty() && setup->tempRoot.empty()) {
        const fs::path root = fs::weakly_canonical(fs::absolute(setup->deviceRoot), ec);
        const fs::path relative = absolute.lexically_relative(root);
        if (ec || relative.empty() || *relative.begin() == "..") {
            *error = std::string(what) + " " + file + " is not inside --device-root " +
                     setup->deviceRoot + " (give a file inside it, or leave out --device-root)";
            return false;
        }
        std::u16string path;
        for (const fs::path& part : relative) {
            const std::string name = part.string();
            if (DeviceFileName(name, name.size()) != name) {
                *error = std::string(what) + " " + file + ": the name '" + name +
                         "' cannot be a device file name (device names hold no control "
                         "characters, \\ / : * ? \" < > |, and are valid UTF-8); rename it, or "
                         "leave out --device-root so that the previewer places it under a "
                         "plain name";
                return false;
            }
            path += u"\\" + Utf16(name);
        }
        if (path.size() >= kDevicePathCapacity) {
            *error = std::string(what) + " " + file + ": its device path has " +
                     std::to_string(path.size()) + " characters, more than the " +
                     std::to_string(kDevicePathCapacity - 1) +
                     " a device path can hold; place it higher up in --device-root";
            return false;
        }
        *devicePath = path;
    } else {
        if (setup->tempRoot.empty()) {
            const fs::path temp = fs::temp_directory_path(ec);
            // Temporary device roots that no run holds (their runs were killed). They hold
            // only links to, or copies of, the user's files.
            RemoveAbandonedFolders(
                temp.string(), kTempRootPrefix,
                [](int, const std::string& rest) { return IsRunFolderSuffix(rest); });
            std::string pattern, reason;
            if (ec || !CreateRunFolder(temp.string(), kTempRootPrefix, 0700, "", &pattern,
                                       &reason)) {
                *error = "cannot create a temporary device folder in " + temp.string() + ": " +
                         (ec ? ec.message() : reason);
                return false;
            }
            fs::permissions(pattern, fs::perms::owner_all, fs::perm_options::replace, ec);
            setup->tempRoot = pattern;
            setup->deviceRoot = pattern;
            // Not create_directories: once an interruption has removed the root, nothing may
            // make it again.
            fs::create_directory(fs::path(pattern) / "Storage", ec);
        }
        std::string name = DeviceFileName(absolute.filename().string());
        if (fs::exists(fs::path(setup->tempRoot) / "Storage" / name, ec)) name = "2-" + name;
        // The device refuses links that lead out of its root, so the file is hard-linked
        // or, across file systems, copied.
        const fs::path placed = fs::path(setup->tempRoot) / "Storage" / name;
        fs::create_hard_link(absolute, placed, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(absolute, placed, ec);
        }
        if (ec) {
            *error =
                std::string("cannot place ") + file + " on the simulated device: " + ec.message();
            return false;
        }
        *devicePath = u"\\Storage\\" + Utf16(name);
    }
    return true;
}

// What the sound will be, or why there is none, from the registry and the sound file; and in
// shut-down mode whether the boot sequence hears the end of the show.
std::vector<Warning> SoundWarnings(const ShowRecord& record, const DeviceSetup& setup,
                                   const ShowResult& result) {
    std::vector<Warning> warnings;
    const bool shutdown = setup.mode == "shutdown";
    const std::string levelWhere =
        "the value InitVol under HKEY_CURRENT_USER\\ControlPanel\\SoundCategories\\System";
    const bool soundStepReached = result.showedPicture || result.endHow == "endRequest" ||
                                  result.endHow == "doneEvent" || result.endHow == "closePosted" ||
                                  !record.sounds.empty();
    if (!setup.sound.problem.empty() && (setup.soundPath.empty() || record.sounds.empty())) {
        warnings.push_back({"noSoundPath", "No sound: " + setup.sound.problem + "."});
    } else if (!setup.soundPath.empty() && (!setup.hasSoundLevel || setup.soundLevel == 0)) {
        std::string why;
        if (setup.hasSoundLevel) {
            why = levelWhere + " is 0 (silent)";
        } else if (setup.soundLevelType) {
            why = levelWhere + " is of type " + TypeName(*setup.soundLevelType) + " (" +
                  std::to_string(setup.soundLevelSize) +
                  " bytes), not the 32-bit number REG_DWORD (4) the device reads, so it counts "
                  "as 0 (silent)";
        } else {
            why = "the registry has no " + levelWhere +
                  " (a 32-bit number, REG_DWORD; 0 is silent, any other value lets the sound "
                  "play), which the device counts as 0";
        }
        warnings.push_back({"soundSilenced", "The device plays no sound: " + why + "."});
    } else if (!setup.soundPath.empty() && record.sounds.empty() && soundStepReached) {
        warnings.push_back(
            {"soundMissing", "No sound: the sound " + Utf8(setup.soundPath) +
                                 " (the value WAV under " + "HKEY_LOCAL_MACHINE\\" +
                                 Utf8(ModeKey(setup.mode)) + ") does not exist on the device" +
                                 (setup.deviceRoot.empty() ? " (no --device-root was given)" : "") +
                                 "."});
    }
    for (const plat::sim::SoundRecord& s : record.sounds) {
        if (s.played) continue;
        std::string problem = "it is not a sound file the device can read";
        std::vector<std::uint8_t> bytes;
        std::string readError;
        if (!s.hostPath.empty() && ReadInputFile(s.hostPath, &bytes, &readError)) {
            plat::sim::detail::WavFormat format;
            std::string why;
            if (!plat::sim::detail::ParseWav(bytes, &format, &why) && !why.empty()) problem = why;
        }
        warnings.push_back(
            {"soundUnplayable",
             "The device cannot play the sound " + Utf8(s.path) + ": " + problem + "; " +
                 (s.defaultSound
                      ? "it plays its default beep (" +
                            std::to_string(s.endedAtMs - s.startedAtMs) + " ms) in its place"
                      : "nothing is heard") +
                 ". Save it as an uncompressed PCM WAV (for example: sox in.wav -e signed -b 16 "
                 "out.wav)."});
        break;
    }
    if (shutdown && !record.shutdownEventAtMs) {
        warnings.push_back(
            {"noShutdownEvent",
             "The device never signals \"SHUTDOWN_ANIMATION_DONE\": it signals that event only "
             "when the shut-down sound has played, and this show played none. A boot sequence "
             "that waits for the event waits in vain; give the show a sound."});
    }
    return warnings;
}

}  // namespace

std::string SamplesDir() {
    const char* env = std::getenv("BOOTREEL_SAMPLES_DIR");
    return env && *env ? env : BOOTREEL_SAMPLES_DIR;
}

plat::HANDLE CreateShutdownDoneEvent(const Options& options) {
    if (options.mode != "shutdown") return nullptr;
    return plat::CreateEvent(nullptr, true, false, kShutdownDoneEvent);
}

bool PrepareDevice(const Options& o, plat::sim::ClockMode clock, DeviceSetup* setup,
                   std::string* error) {
    Options options = o;
    if (options.image.empty() && options.registryFile.empty()) {
        const std::string samples = SamplesDir();
        options.image = samples + "/boot.gif";
        options.sound = options.sound.empty() ? samples + "/boot.wav" : options.sound;
        setup->usingSample = options.image;
        if (!fs::exists(options.image)) {
            *error = "the bundled sample " + options.image +
                     " is missing (python3 samples/make_sample.py writes it)";
            return false;
        }
    }
    if (!options.registryFile.empty() &&
        !CheckReadableFile(options.registryFile, "registry file", error)) {
        return false;
    }
    if (!options.image.empty() && !CheckReadableFile(options.image, "picture", error)) return false;
    if (!options.sound.empty() && !CheckReadableFile(options.sound, "sound", error)) return false;
    if (!options.deviceRoot.empty()) {
        std::error_code ec;
        if (!fs::is_directory(options.deviceRoot, ec)) {
            *error = "--device-root " + options.deviceRoot + " is not a folder";
            return false;
        }
        setup->deviceRoot = options.deviceRoot;
    }

    plat::sim::DeviceConfig config;
    config.screenWidth = options.screenWidth;
    config.screenHeight = options.screenHeight;
    config.clock = clock;
    config.deviceRoot = setup->deviceRoot;
    // The previewer's own waits have deadlines; a real deadlock should still not hang it.
    config.deadlockGraceMs = 20000;

    std::u16string imageDevicePath, soundDevicePath;
    if (!options.image.empty() &&
        !PlaceOnDevice(options.image, "picture", setup, &imageDevicePath, error)) {
        return false;
    }
    if (!options.sound.empty() &&
        !PlaceOnDevice(options.sound, "sound", setup, &soundDevicePath, error)) {
        return false;
    }
    config.deviceRoot = setup->deviceRoot;
    plat::sim::Reset(config);

    if (!options.registryFile.empty() &&
        !plat::sim::LoadRegistryFile(options.registryFile, error)) {
        if (error->empty()) *error = "cannot load the registry file " + options.registryFile;
        return false;
    }
    const std::u16string key = ModeKey(options.mode);
    if (!imageDevicePath.empty()) {
        plat::sim::SetRegistryString(plat::HKEY_ROOT_LOCAL_MACHINE, key, u"Image", imageDevicePath);
    }
    if (!soundDevicePath.empty()) {
        plat::sim::SetRegistryString(plat::HKEY_ROOT_LOCAL_MACHINE, key, u"WAV", soundDevicePath);
        plat::sim::SetRegistryDword(plat::HKEY_ROOT_CURRENT_USER, kSoundLevelKey, u"InitVol",
                                    kShortcutSoundLevel);
    }
    if (options.memoryLimit != 0) {
        plat::sim::SetBitmapMemoryLimit(static_cast<std::size_t>(options.memoryLimit));
    }

    setup->mode = options.mode;
    setup->image = ReadPathValue(key, u"Image", "picture");
    setup->sound = ReadPathValue(key, u"WAV", "sound");
    setup->imagePath = setup->image.devicePath;
    setup->soundPath = setup->sound.devicePath;
    std::uint32_t level = 0;
    setup->hasSoundLevel = plat::RegistryGetDWORD(plat::HKEY_ROOT_CURRENT_USER, kSoundLevelKey,
                                                  u"InitVol", &level) == 0;
    setup->soundLevel = level;
    if (!setup->hasSoundLevel) {
        plat::HKEY handle = nullptr;
        std::uint32_t type = 0, size = 0;
        if (plat::RegOpenKeyEx(plat::HKEY_ROOT_CURRENT_USER, kSoundLevelKey, 0, 0, &handle) ==
            plat::ERROR_SUCCESS) {
            if (plat::RegQueryValueEx(handle, u"InitVol", nullptr, &type, nullptr, &size) ==
                plat::ERROR_SUCCESS) {
                setup->soundLevelType = type;
                setup->soundLevelSize = size;
            }
            plat::RegCloseKey(handle);
        }
    }
    setup->imageHostPath =
        setup->imagePath.empty() ? std::string() : plat::sim::HostPath(setup->imagePath.c_str());
    return true;
}

void CleanUpDevice(DeviceSetup* setup) {
    if (setup->tempRoot.empty()) return;
    // The folder holds only links to or copies of the user's files.
    RemoveRunFolder(setup->tempRoot);
    setup->tempRoot.clear();
}

std::string DeviceFileName(const std::string& hostName, std::size_t maxCharacters) {
    // Whole UTF-8 sequences are kept; a stray byte becomes '_' like a forbidden character.
    std::vector<std::string> characters;
    for (std::size_t i = 0; i < hostName.size();) {
        const unsigned char b = static_cast<unsigned char>(hostName[i]);
        std::size_t len = b < 0x80             ? 1
                          : (b & 0xE0) == 0xC0 ? 2
                          : (b & 0xF0) == 0xE0 ? 3
                          : (b & 0xF8) == 0xF0 ? 4
                                               : 0;
        bool valid = len != 0 && i + len <= hostName.size() && !(len == 2 && b < 0xC2) &&
                     !(len == 4 && b > 0xF4);
        for (std::size_t k = 1; valid && k < len; ++k) {
            valid = (static_cast<unsigned char>(hostName[i + k]) & 0xC0) == 0x80;
        }
        if (valid && len == 3) {
            const unsigned c1 = static_cast<unsigned char>(hostName[i + 1]);
            valid = !(b == 0xE0 && c1 < 0xA0) && !(b == 0xED && c1 >= 0xA0);  // no surrogates
        }
        if (valid && len == 4) {
            const unsigned c1 = static_cast<unsigned char>(hostName[i + 1]);
            valid = !(b == 0xF0 && c1 < 0x90) && !(b == 0xF4 && c1 >= 0x90);
        }
        if (!valid) {
            characters.push_back("_");
            ++i;
            continue;
        }
        std::string c = hostName.substr(i, len);
        if (len == 1 &&
            (b < 0x20 || b == 0x7F || std::string("\\/:*?\"<>|").find(c[0]) != std::string::npos)) {
            c = "_";
        }
        characters.push_back(c);
        i += len;
    }
    if (characters.size() > maxCharacters) {
        std::size_t dot = characters.size();
        for (std::size_t i = characters.size(); i-- > 0;) {
            if (characters[i] == ".") {
                dot = i;
                break;
            }
        }
        std::size_t extension = characters.size() - dot;
        if (extension > 10) extension = 0;
        characters.erase(characters.begin() + static_cast<long>(maxCharacters - extension),
                         characters.end() - static_cast<long>(extension));
    }
    std::string name;
    for (const std::string& c : characters) name += c;
    if (name.empty() || name == "." || name == "..") name = "_" + name;
    return name;
}


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
        bool composed;
        if (!delaysCs_.empty()) {
            composed = next_ < delaysCs_.size() && (k == 0 || previousMs_ - firstMs_ >= due_);
        } else {
            composed = k == 0 || shot.bgr != previous_;
        }
        if (composed) {
            const ComposedFrame frame{static_cast<int>(next_), shot.timeMs - calledAtMs_, k};
            record_->frames.push_back(frame);
            if (sink_) sink_->Frame(frame, FromBgr(shot.width, shot.height, shot.bgr));
            if (!delaysCs_.empty()) {
                due_ += static_cast<std::uint64_t>(static_cast<std::uint16_t>(delaysCs_[next_])) *
                        10;
            }
            ++next_;
        } else if (shot.bgr != previous_) {
            ++record_->unexpectedChanges;
        }
        if (k == 0) firstMs_ = shot.timeMs;
        previousMs_ = shot.timeMs;
        previous_ = shot.bgr;
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

ShowRecord RecordShow(const Options& options, std::optional<std::uint32_t> endAfterMs,
                      const PictureReport* picture, FrameSink* sink) {
    ShowRecord record;
    std::mutex mutex;
    std::atomic<int> copies{0};
    record.calledAtMs = plat::sim::Now();
    CopyClassifier classifier(picture, record.calledAtMs, sink, &record);

    plat::sim::SetScreenCopyObserver([&](const plat::sim::ScreenShot& shot) {
        std::lock_guard<std::mutex> guard(mutex);
        classifier.Copy(shot);
        if (!record.bitmapBytesAtFirstCopy) {
            // Observers run without the device's lock, so the device may be asked here.
            record.bitmapBytesAtFirstCopy = plat::sim::Live().bitmapBytes;
        }
        copies.fetch_add(1);
    });
    // The samples of what is heard: the file's path is enough, except for the device's default
    // sound, which has none.
    plat::sim::SetSoundObserver(
        [&](const plat::sim::SoundRecord& sound, const std::vector<std::uint8_t>& wav) {
            std::lock_guard<std::mutex> guard(mutex);
            PlayedSound played{sound, {}};
            if (sound.hostPath.empty() || !sound.played) {
                played.record.hostPath.clear();
                played.wav = wav;
            }
            record.played.push_back(std::move(played));
        });

    plat::HANDLE endRequest = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE done = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE stop = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE shutdownDone = CreateShutdownDoneEvent(options);
    std::atomic<bool> finished{false};
    const std::uint64_t start = record.calledAtMs;

    // The boot sequence's side: the end request at its time, and watchers that note when the
    // show's events are signalled. They are device threads so that virtual time waits for them.
    // Each helper counts itself in once it is a device thread; the show starts only after all
    // of them have, or virtual time could run past their deadlines while a helper is still
    // starting up (a starting std::thread is no device thread yet).
    std::mutex readyMutex;
    std::condition_variable readyChanged;
    int ready = 0;
    auto countIn = [&] {
        std::lock_guard<std::mutex> guard(readyMutex);
        ++ready;
        readyChanged.notify_all();
    };
    std::thread ender([&] {
        plat::sim::DeviceThreadScope scope;
        countIn();
        const std::uint32_t at = endAfterMs ? *endAfterMs : kNothingShownMs;
        const std::uint64_t now = plat::sim::Now() - start;
        const std::uint32_t wait = now >= at ? 0 : static_cast<std::uint32_t>(at - now);
        if (plat::WaitForSingleObject(stop, wait) != plat::WAIT_TIMEOUT) return;
        if (!endAfterMs && copies.load() != 0) return;
        std::lock_guard<std::mutex> guard(mutex);
        record.endRequestAtMs = plat::sim::Now();
        record.endRequestBecauseNothingShown = !endAfterMs;
        plat::SetEvent(endRequest);
    });
    // A watcher wakes at the virtual time of the signal (time cannot move while it is
    // runnable); whether the show or our release at the end signalled the event is decided
    // after the show returns, before the release.
    std::uint64_t doneWokeAt = 0, shutdownWokeAt = 0;
    std::thread doneWatcher([&] {
        plat::sim::DeviceThreadScope scope;
        countIn();
        plat::WaitForSingleObject(done, plat::INFINITE);
        doneWokeAt = plat::sim::Now();
    });
    std::thread shutdownWatcher([&] {
        if (!shutdownDone) return;
        plat::sim::DeviceThreadScope scope;
        countIn();
        plat::WaitForSingleObject(shutdownDone, plat::INFINITE);
        shutdownWokeAt = plat::sim::Now();
    });

    // The progress line reads only counters: it is no device thread and calls no platform
    // service, so it cannot disturb virtual time.
    std::atomic<bool> returned{false};
    std::thread ticker([&] {
        ProgressLine line;
        if (!line.enabled()) return;
        while (!returned.load()) {
            const int n = copies.load();
            line.Update(n == 0 ? std::string("loading and decoding the picture...")
                               : "playing: " + std::to_string(n) + " screen copies");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    {
        const int helpers = shutdownDone ? 3 : 2;
        std::unique_lock<std::mutex> lock(readyMutex);
        readyChanged.wait(lock, [&] { return ready == helpers; });
    }
    if (options.mode == "shutdown") {
        DoShutdownAnimation(nullptr, endRequest, done);
    } else {
        DoStartupAnimation(nullptr, endRequest, done);
    }
    record.returnedAtMs = plat::sim::Now();
    returned.store(true);

    const bool doneByShow = plat::WaitForSingleObject(done, 0) == plat::WAIT_OBJECT_0;
    const bool shutdownByShow =
        shutdownDone && plat::WaitForSingleObject(shutdownDone, 0) == plat::WAIT_OBJECT_0;

    // Release the helpers before this thread leaves the device to join them: virtual time
    // would otherwise run on to their deadlines.
    {
        std::lock_guard<std::mutex> guard(mutex);
        finished.store(true);
    }
    plat::SetEvent(stop);
    plat::SetEvent(done);
    if (shutdownDone) plat::SetEvent(shutdownDone);
    {
        plat::sim::OffDeviceScope off;
        ticker.join();
        ender.join();
        doneWatcher.join();
        shutdownWatcher.join();
    }
    if (doneByShow) record.doneEventAtMs = doneWokeAt;
    if (shutdownByShow) record.shutdownEventAtMs = shutdownWokeAt;
    plat::sim::SetScreenCopyObserver(nullptr);
    plat::sim::SetSoundObserver(nullptr);
    for (plat::HANDLE h : {endRequest, done, stop, shutdownDone}) {
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
    result.screenEndMs = result.windowClosedAtMs
                             ? std::min(*result.windowClosedAtMs - record.calledAtMs,
                                        result.showEndMs)
                             : result.showEndMs;

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
    result.warnings = SoundWarnings(record, setup, result);
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
    double scale = picture ? ObservedDecodeScale(record, *picture) : 0;
    const bool observed = scale > 0;
    if (scale == 0 && picture) scale = picture->decodeScale;
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
        char name[32];
        std::snprintf(name, sizeof name, "frame-%04zu.png", i);
        fj["file"] = name;
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
    Json warnings = Json::array();
    auto add = [&warnings](const Warning& w) {
        Json wj = Json::object();
        wj["id"] = w.id;
        wj["text"] = w.text;
        if (!w.fix.empty()) wj["fix"] = w.fix;
        warnings.push_back(wj);
    };
    if (picture) {
        for (const Warning& w : picture->warnings) add(w);
    }
    for (const Warning& w : result.warnings) add(w);
    t["warnings"] = warnings;
    return t;
}

}  // namespace preview
