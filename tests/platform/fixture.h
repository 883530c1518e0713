// The seam between the tests and the backend under test: the few things a test needs that the
// service headers do not offer (a fresh device, the screen's size, a folder as the device's
// "\", counting live drawing objects, threads of the test's own taking part in the device). The
// simulated device implements it in fixture_sim.cpp; other backends bring their own. Test
// folders whose tests run on every backend build with tests/platform/fixture_<backend>.cpp.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace platform_test {

// Gives the calling test a fresh device: no windows, classes, events or timers of earlier
// tests. On the simulated device the clock is virtual and the screen 240 x 320.
void FreshDevice();

// The screen size that the fresh device has.
int ScreenWidth();
int ScreenHeight();

// True when the backend's clock is virtual (waits take no host time).
bool VirtualClock();

// Makes a folder of the machine that runs the tests the device's "\", under which paths
// without a drive ("\Windows\startup.wav") are found; an empty name sets none.
void SetDeviceRoot(const std::string& hostFolder);

// The bitmaps and brushes alive on the device, or -1 where the backend cannot count them (a
// test that checks for leaks with it checks only where the count is known).
int LiveGdiObjects();

// What the device has alive (threads, kernel handles, drawing objects, device contexts, bitmap
// memory) as a text to compare before and after a test; empty where the backend cannot count.
std::string LiveObjects();

// While it lives, a thread that the test started itself (a std::thread) takes part in the
// device like one of the device's own threads.
class DeviceThreadScope {
  public:
    DeviceThreadScope();
    ~DeviceThreadScope();
    DeviceThreadScope(const DeviceThreadScope&) = delete;
    DeviceThreadScope& operator=(const DeviceThreadScope&) = delete;

  private:
    void* scope_ = nullptr;  // the backend's own record, if it needs one
};

// Every contract test starts on a fresh device.
class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override { FreshDevice(); }
};

}  // namespace platform_test
