// The player tests' fixture: a fresh device whose "\" is a temporary folder, an 8 x 6 window for
// the player, and tiny pictures written into the folder.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "picture_files.h"
#include "platform/platform.h"
#include "tests/platform/fixture.h"

namespace showtest {

class PlayerTest : public ::testing::Test {
  protected:
    static constexpr int kWidth = 8;
    static constexpr int kHeight = 6;

    void SetUp() override {
        StartDevice();
        folder_ = std::make_unique<DeviceFolder>();
        platform_test::SetDeviceRoot(folder_->HostRoot());
        plat::WNDCLASS windowClass{};
        windowClass.lpfnWndProc = plat::DefWindowProc;
        windowClass.lpszClassName = u"PlayerTest";
        plat::RegisterClass(&windowClass);
        window_ = plat::CreateWindowEx(exStyle_, u"PlayerTest", u"", style_, 0, 0, kWidth, kHeight,
                                       nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        start_ = platform_test::LiveObjects();
    }

    void TearDown() override {
        if (window_ != nullptr && plat::IsWindow(window_)) plat::DestroyWindow(window_);
        plat::UnregisterClass(u"PlayerTest", nullptr);
        platform_test::SetDeviceRoot("");
        folder_.reset();
    }

    // A fresh device for the test; the simulated device's own tests choose its screen.
    virtual void StartDevice() { platform_test::FreshDevice(); }

    // Everything a player obtains is given back (the test's window and class aside), where the
    // backend counts it.
    void ExpectAllReleased() { EXPECT_EQ(platform_test::LiveObjects(), start_); }

    // A picture of `frames` red frames covering it, each restored to the background.
    std::u16string Picture(int width, int height, int frames) {
        std::vector<GifFrame> list;
        for (int i = 0; i < frames; ++i) list.push_back(SolidFrame(0, 0, width, height, 'R', 0, 1));
        return folder_->Put("p" + std::to_string(++pictures_) + ".gif",
                            MakeGif(width, height, list));
    }

    std::unique_ptr<DeviceFolder> folder_;
    plat::HWND window_ = nullptr;
    std::uint32_t style_ = 0;    // of the test's window
    std::uint32_t exStyle_ = 0;  // of the test's window
    std::string start_;
    int pictures_ = 0;
};

}  // namespace showtest
