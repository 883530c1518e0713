// Message boxes on a device with nobody to press a button: one line "<caption>: <text>" on
// standard error (or to the test's handler), answered at once with OK.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/device.h"
#include "platform/window.h"

namespace {

constexpr int kIdOk = 1;

TEST(MessageBoxTest, WritesOneLineToStandardErrorAndAnswersOk) {
    plat::sim::Reset();
    ::testing::internal::CaptureStderr();
    const int answer = plat::MessageBox(nullptr, u"Cannot find startup.wav", u"Tunelet 0.1", 0);
    const int second = plat::MessageBox(nullptr, u"caf\u00e9", nullptr, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Tunelet 0.1: Cannot find startup.wav\nError: caf\xC3\xA9\n");
    EXPECT_EQ(answer, kIdOk);
    EXPECT_EQ(second, kIdOk);
}

TEST(MessageBoxTest, AHandlerTakesTheTextUntilTheDeviceIsReset) {
    plat::sim::Reset();
    std::u16string seen;
    plat::sim::SetMessageBoxHandler([&](const std::u16string& text, const std::u16string& caption) {
        seen += caption + u"|" + text;
    });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(plat::MessageBox(nullptr, u"text", u"caption", 0), kIdOk);
    plat::sim::Reset();  // `seen` must not be written from here on
    plat::MessageBox(nullptr, u"after", u"reset", 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "reset: after\n");
    EXPECT_EQ(seen, u"caption|text");
}

}  // namespace
