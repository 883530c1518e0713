// Reading the registry: key handles, value sizes and types, too-small buffers, missing keys
// and values, and the DWORD read that keeps the caller's preset when it fails.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/sim/device.h"

namespace {

using plat::HKEY;
using plat::HKEY_ROOT_CURRENT_USER;
using plat::HKEY_ROOT_LOCAL_MACHINE;

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plat::sim::Reset();
        plat::sim::SetRegistryString(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\Startup",
                                     u"Image", u"\\Windows\\a.gif");
        plat::sim::SetRegistryDword(HKEY_ROOT_CURRENT_USER,
                                    u"ControlPanel\\SoundCategories\\System", u"InitVol", 5);
    }

    HKEY Open(HKEY root, const char16_t* path) {
        HKEY key = nullptr;
        EXPECT_EQ(plat::RegOpenKeyEx(root, path, 0, 0, &key), plat::ERROR_SUCCESS);
        return key;
    }
};

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase) {
    HKEY key = Open(HKEY_ROOT_LOCAL_MACHINE, u"SOFTWARE\\korvel\\StartUp");
    ASSERT_NE(key, nullptr);
    std::uint32_t size = 0;
    EXPECT_EQ(plat::RegQueryValueEx(key, u"IMAGE", nullptr, nullptr, nullptr, &size), 0);
    EXPECT_EQ(plat::RegCloseKey(key), plat::ERROR_SUCCESS);
}

TEST_F(RegistryTest, KeysOpenRelativeToAnOpenKeyAndEachLevelExists) {
    HKEY software = Open(HKEY_ROOT_LOCAL_MACHINE, u"Software");
    HKEY startup = Open(software, u"Korvel\\Startup");
    EXPECT_NE(startup, nullptr);
    EXPECT_NE(startup, software);
    plat::RegCloseKey(startup);
    plat::RegCloseKey(software);
}

TEST_F(RegistryTest, AStringReadReportsTypeAndSizeWithTheTerminator) {
    HKEY key = Open(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\Startup");
    char16_t buffer[260];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    std::uint32_t type = 0;
    std::uint32_t size = sizeof buffer;
    ASSERT_EQ(plat::RegQueryValueEx(key, u"Image", nullptr, &type,
                                    reinterpret_cast<std::uint8_t*>(buffer), &size),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(type, plat::REG_SZ);
    EXPECT_EQ(size, (14u + 1) * 2);
    EXPECT_EQ(std::u16string(buffer), u"\\Windows\\a.gif");
    EXPECT_EQ(buffer[15], u'#');  // nothing written past the value
    plat::RegCloseKey(key);
}

TEST_F(RegistryTest, ATooSmallBufferGetsMoreDataTheNeededSizeAndNoBytes) {
    HKEY key = Open(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\Startup");
    char16_t buffer[14];  // one unit short: no room for the terminator
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(plat::RegQueryValueEx(key, u"Image", nullptr, nullptr,
                                    reinterpret_cast<std::uint8_t*>(buffer), &size),
              plat::ERROR_MORE_DATA);
    EXPECT_EQ(size, 30u);
    EXPECT_EQ(buffer[0], u'#');
    plat::RegCloseKey(key);
}

TEST_F(RegistryTest, AValueOf259CharactersFitsA260CharacterBufferExactly) {
    const std::u16string path(259, u'x');
    plat::sim::SetRegistryString(HKEY_ROOT_LOCAL_MACHINE, u"K", u"Long", path);
    plat::sim::SetRegistryString(HKEY_ROOT_LOCAL_MACHINE, u"K", u"TooLong", path + u'x');
    HKEY key = Open(HKEY_ROOT_LOCAL_MACHINE, u"K");
    char16_t buffer[260] = {};
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(plat::RegQueryValueEx(key, u"Long", nullptr, nullptr,
                                    reinterpret_cast<std::uint8_t*>(buffer), &size),
              0);
    EXPECT_EQ(std::u16string(buffer), path);
    size = sizeof buffer;
    EXPECT_EQ(plat::RegQueryValueEx(key, u"TooLong", nullptr, nullptr,
                                    reinterpret_cast<std::uint8_t*>(buffer), &size),
              plat::ERROR_MORE_DATA);
    plat::RegCloseKey(key);
}

TEST_F(RegistryTest, MissingKeysAndValuesAreNotFound) {
    HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{1});
    EXPECT_EQ(
        plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\Shutdown", 0, 0, &key),
        plat::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    // The same path under the other root does not exist either.
    EXPECT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_CURRENT_USER, u"Software\\Korvel\\Startup", 0, 0, &key),
              plat::ERROR_FILE_NOT_FOUND);
    key = Open(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\Startup");
    std::uint32_t size = 0;
    EXPECT_EQ(plat::RegQueryValueEx(key, u"WAV", nullptr, nullptr, nullptr, &size),
              plat::ERROR_FILE_NOT_FOUND);
    plat::RegCloseKey(key);
}

TEST_F(RegistryTest, ClosedAndUnknownHandlesFailWithoutHarm) {
    HKEY key = Open(HKEY_ROOT_LOCAL_MACHINE, u"Software");
    EXPECT_EQ(plat::RegCloseKey(key), plat::ERROR_SUCCESS);
    EXPECT_NE(plat::RegCloseKey(key), plat::ERROR_SUCCESS);
    HKEY sub = nullptr;
    EXPECT_NE(plat::RegOpenKeyEx(key, u"Korvel", 0, 0, &sub), plat::ERROR_SUCCESS);
    std::uint32_t size = 0;
    EXPECT_NE(plat::RegQueryValueEx(key, u"Image", nullptr, nullptr, nullptr, &size),
              plat::ERROR_SUCCESS);
    const HKEY bogus = reinterpret_cast<HKEY>(std::uintptr_t{0x1234});
    EXPECT_NE(plat::RegQueryValueEx(bogus, u"Image", nullptr, nullptr, nullptr, &size),
              plat::ERROR_SUCCESS);
    EXPECT_NE(plat::RegQueryValueEx(nullptr, u"Image", nullptr, nullptr, nullptr, &size),
              plat::ERROR_SUCCESS);
}

TEST_F(RegistryTest, DwordReadsKeepThePresetOnEveryFailure) {
    std::uint32_t level = 0;
    EXPECT_EQ(plat::RegistryGetDWORD(HKEY_ROOT_CURRENT_USER,
                                     u"ControlPanel\\SoundCategories\\System", u"InitVol", &level),
              0);
    EXPECT_EQ(level, 5u);

    struct Case {
        const char16_t* key;
        const char16_t* name;
    };
    const Case failing[] = {
        {u"ControlPanel\\SoundCategories\\Missing", u"InitVol"},  // no such key
        {u"ControlPanel\\SoundCategories\\System", u"Other"},     // no such value
    };
    for (const Case& c : failing) {
        std::uint32_t preset = 77;
        EXPECT_LT(plat::RegistryGetDWORD(HKEY_ROOT_CURRENT_USER, c.key, c.name, &preset), 0);
        EXPECT_EQ(preset, 77u);
    }
    // A string is not a 32-bit value.
    std::uint32_t preset = 77;
    EXPECT_LT(plat::RegistryGetDWORD(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\Startup",
                                     u"Image", &preset),
              0);
    EXPECT_EQ(preset, 77u);
}

TEST_F(RegistryTest, ResetEmptiesTheRegistryAndInvalidatesOpenKeys) {
    HKEY key = Open(HKEY_ROOT_LOCAL_MACHINE, u"Software");
    plat::sim::Reset();
    HKEY again = nullptr;
    EXPECT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, u"Software", 0, 0, &again),
              plat::ERROR_FILE_NOT_FOUND);
    EXPECT_NE(plat::RegCloseKey(key), plat::ERROR_SUCCESS);
}

TEST_F(RegistryTest, ConcurrentReadersAndWritersSeeWholeValues) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                plat::sim::SetRegistryDword(HKEY_ROOT_CURRENT_USER, u"K", u"V", 0x11111111u * t);
                std::uint32_t v = 0;
                if (plat::RegistryGetDWORD(HKEY_ROOT_CURRENT_USER, u"K", u"V", &v) == 0) {
                    EXPECT_EQ(v % 0x11111111u, 0u);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
}

}  // namespace
