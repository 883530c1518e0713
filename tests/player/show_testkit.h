// Test support for the show's tests on the simulated device: the screen read back as rows of
// colour letters and the device fixture (tiny GIF and WAV files and the temporary device root:
// picture_files.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture_files.h"
#include "platform/sim/device.h"

namespace showtest {

// The screen shot as rows of letters (see kLetters; '?' for any other colour).
std::vector<std::string> ScreenRows(const plat::sim::ScreenShot& shot);
// The part (left, top, width, height) of the screen shot as rows of letters.
std::vector<std::string> ScreenRows(const plat::sim::ScreenShot& shot, int left, int top, int width,
                                    int height);

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
