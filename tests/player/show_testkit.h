// Test support for the show's tests: tiny GIF and WAV files written inline, a temporary device
// root to hold them, and the screen read back as rows of colour letters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/device.h"

namespace showtest {

// The test pictures' 16-entry global palette, one letter per colour. Index 8 is the colour that
// frames use as their transparent index; letters the screen never shows read as '?'.
//   W white  K black  R red  G green  B blue  Y yellow  C cyan  M magenta  . transparent
constexpr char kLetters[] = "WKRGBYCM.";
constexpr std::uint8_t kTransparentIndex = 8;

// One frame: its place on the logical screen and its rows as letters. A frame that holds '.'
// gets a graphic control extension naming index 8 transparent.
struct GifFrame {
    int left;
    int top;
    std::vector<std::string> rows;
    std::uint16_t delay = 0;  // hundredths of a second
    std::uint8_t disposal = 0;
};

// A GIF89a file of the given logical screen size with the frames above. The image data uses
// LZW with a clear code before the table would grow, so every code is 5 bits wide.
std::vector<std::uint8_t> MakeGif(int width, int height, const std::vector<GifFrame>& frames);

// A frame covering (left, top) to (left + width, top + height) in one colour.
GifFrame SolidFrame(int left, int top, int width, int height, char letter, std::uint16_t delay = 0,
                    std::uint8_t disposal = 0);

// A mono 8-bit PCM WAV file of the given length.
std::vector<std::uint8_t> MakeWav(std::uint32_t durationMs);

// The screen shot as rows of letters (see kLetters; '?' for any other colour).
std::vector<std::string> ScreenRows(const plat::sim::ScreenShot& shot);
// The part (left, top, width, height) of the screen shot as rows of letters.
std::vector<std::string> ScreenRows(const plat::sim::ScreenShot& shot, int left, int top, int width,
                                    int height);

// A temporary host folder that stands for the device's "\" while it lives.
class DeviceFolder {
  public:
    DeviceFolder();
    ~DeviceFolder();
    DeviceFolder(const DeviceFolder&) = delete;
    DeviceFolder& operator=(const DeviceFolder&) = delete;

    const std::string& HostRoot() const { return root_; }
    // Writes a file (name relative to the root) and returns its device path ("\name").
    std::u16string Put(const std::string& name, const std::vector<std::uint8_t>& bytes);
    // Creates a folder and returns its device path.
    std::u16string MakeFolder(const std::string& name);

  private:
    std::string root_;
};

}  // namespace showtest

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>

#include "platform/platform.h"

namespace showtest {

// A fresh simulated device (virtual clock, small screen) whose "\" is a temporary folder, with
// the observations the show's tests read: every copy to the window, in order.
class ShowFixture : public ::testing::Test {
  public:
    // A message delivered to the show's window; runs of MSG_FRAME_SHOWN fold into one entry
    // with their count.
    struct Delivery {
        std::uint32_t message;
        int count;
        bool operator==(const Delivery& other) const {
            return message == other.message && count == other.count;
        }
    };

  protected:
    void SetUp() override;
    void TearDown() override;

    // Resets the device with this configuration (the device root is filled in).
    void Boot(plat::sim::DeviceConfig config);

    // Writes the picture (and the sound, when given) and points the mode's registry key at
    // them. `key` is u"Startup" or u"Shutdown".
    std::u16string InstallPicture(const std::u16string& key, const std::vector<std::uint8_t>& gif,
                                  const std::string& name = "show.gif");
    std::u16string InstallSound(const std::u16string& key, std::uint32_t durationMs,
                                std::uint32_t initVol = 1);
    void SetRegistryPath(const std::u16string& key, const std::u16string& value,
                         const std::u16string& path);

    // Runs `action` on a device thread of its own at device time `atMs`.
    void At(std::uint64_t atMs, std::function<void()> action);
    // Waits for the threads started by At and closes them.
    void JoinActions();

    // Screen copies so far, each with its device time.
    std::vector<plat::sim::ScreenShot> Copies();
    // The distinct pictures shown, in order (a copy equal to the one before is left out),
    // for the part (left, top, width, height) of the screen.
    std::vector<std::vector<std::string>> ScreensShown(int left, int top, int width, int height);

    // Messages delivered to the show's window, in order.
    std::vector<Delivery> ShowWindowMessages();
    // Device time of the first delivery of `message` to the show's window (UINT64_MAX: none).
    std::uint64_t FirstDelivery(std::uint32_t message);

    plat::HANDLE NewEvent();

    std::unique_ptr<DeviceFolder> folder_;
    plat::sim::Counts start_{};
    plat::HANDLE endRequest_ = nullptr;
    plat::HANDLE done_ = nullptr;

  private:
    std::mutex copiesLock_;
    std::vector<plat::sim::ScreenShot> copies_;
    std::vector<plat::HANDLE> actions_;
};

// Everything of the device the show may have used, for "nothing left" checks.
void ExpectSameLiveObjects(const plat::sim::Counts& before, const plat::sim::Counts& after);

std::ostream& operator<<(std::ostream& out, const ShowFixture::Delivery& delivery);

}  // namespace showtest
