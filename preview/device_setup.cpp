// Setting up the simulated device for a show; see device_setup.h.
#include "preview/device_setup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "platform/sim/text.h"
#include "platform/thread.h"
#include "preview/cleanup.h"
#include "preview/text.h"

#ifndef BOOTREEL_SAMPLES_DIR
#define BOOTREEL_SAMPLES_DIR "samples"
#endif

namespace preview {

namespace fs = std::filesystem;

std::u16string ModeKey(const std::string& mode) {
    return mode == "shutdown" ? u"Software\\Korvel\\Shutdown" : u"Software\\Korvel\\Startup";
}

namespace {

const char16_t kSoundLevelKey[] = u"ControlPanel\\SoundCategories\\System";
const char16_t kShutdownDoneEvent[] = u"SHUTDOWN_ANIMATION_DONE";
// The sound level that the --sound shortcut writes: any value but 0 lets the sound play.
constexpr std::uint32_t kShortcutSoundLevel = 5;

// The device's path fields hold 260 characters with the terminating zero.
constexpr std::size_t kDevicePathCapacity = 260;

}  // namespace

std::string RegistryTypeName(std::uint32_t type) {
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

namespace {

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
        result.problem = where + " is of type " + RegistryTypeName(type) +
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

}  // namespace

std::string SamplesDir() {
    const char* env = std::getenv("BOOTREEL_SAMPLES_DIR");
    return env && *env ? env : BOOTREEL_SAMPLES_DIR;
}

plat::HANDLE CreateShutdownDoneEvent(const Options& options) {
    if (options.mode != "shutdown") return nullptr;
    return plat::CreateEvent(nullptr, true, false, kShutdownDoneEvent);
}

namespace {

// The sound level as the device reads it (InitVol), and its type when it is no number.
void ReadSoundLevel(DeviceSetup* setup) {
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
}

}  // namespace

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
    ReadSoundLevel(setup);
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
        const std::size_t len = plat::sim::Utf8SequenceLength(hostName, i);
        const unsigned char b = static_cast<unsigned char>(hostName[i]);
        if (len == 0) {
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

bool ReadInputFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = path + " is a directory, not a file";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > 0x7FFFFFFFu) {
        *error = path + " is larger than 2 GB, more than the device can read";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

}  // namespace preview
