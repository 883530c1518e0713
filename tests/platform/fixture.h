// The seam between the platform contract tests and the backend under test: the few things a
// test needs that the service headers do not offer (a fresh device, the screen's size). The
// simulated device implements it in fixture_sim.cpp; other backends bring their own.
#pragma once

#include <gtest/gtest.h>

namespace platform_test {

// Gives the calling test a fresh device: no windows, classes, events or timers of earlier
// tests. On the simulated device the clock is virtual and the screen 240 x 320.
void FreshDevice();

// The screen size that the fresh device has.
int ScreenWidth();
int ScreenHeight();

// True when the backend's clock is virtual (waits take no host time).
bool VirtualClock();

// Every contract test starts on a fresh device.
class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override { FreshDevice(); }
};

}  // namespace platform_test
