// Loading .reg files into the device's registry: the two headers, the encodings the registry
// editor writes, escapes, values of every kind, deletions, and refusal of malformed files
// without loading any part of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/registry.h"
#include "platform/sim/device.h"

namespace {

using plat::HKEY_ROOT_CURRENT_USER;
using plat::HKEY_ROOT_LOCAL_MACHINE;

class RegFileTest : public ::testing::Test {
  protected:
    void SetUp() override { plat::sim::Reset(); }

    // The string value, or "<missing>" when it cannot be read as a string.
    static std::u16string String(plat::HKEY root, const char16_t* key, const char16_t* name) {
        plat::HKEY k = nullptr;
        if (plat::RegOpenKeyEx(root, key, 0, 0, &k) != plat::ERROR_SUCCESS) return u"<missing>";
        char16_t buffer[260] = {};
        std::uint32_t type = 0;
        std::uint32_t size = sizeof buffer;
        const long rc = plat::RegQueryValueEx(k, name, nullptr, &type,
                                              reinterpret_cast<std::uint8_t*>(buffer), &size);
        plat::RegCloseKey(k);
        if (rc != plat::ERROR_SUCCESS || type != plat::REG_SZ) return u"<missing>";
        return buffer;
    }

    static long Dword(plat::HKEY root, const char16_t* key, const char16_t* name) {
        std::uint32_t value = 0xDEAD;
        if (plat::RegistryGetDWORD(root, key, name, &value) < 0) return -1;
        return static_cast<long>(value);
    }

    static bool Load(const std::string& text, std::string* error = nullptr) {
        std::string ignored;
        return plat::sim::LoadRegistryText(text, "device.reg", error ? error : &ignored);
    }
};

// What the registry editor writes: UTF-16LE with a byte-order mark and CRLF line ends.
std::string Utf16LeWithBom(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

TEST_F(RegFileTest, AnExportedUtf16FileLoadsStringsAndDwords) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n"
        u"\r\n"
        u"[HKEY_LOCAL_MACHINE\\Software\\Korvel\\Startup]\r\n"
        u"\"Image\"=\"\\\\Windows\\\\boot.gif\"\r\n"
        u"\"WAV\"=\"\\\\Windows\\\\startup.wav\"\r\n"
        u"\r\n"
        u"[HKEY_CURRENT_USER\\ControlPanel\\SoundCategories\\System]\r\n"
        u"\"InitVol\"=dword:0000001e\r\n";
    ASSERT_TRUE(Load(Utf16LeWithBom(text)));
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\Startup", u"Image"),
              u"\\Windows\\boot.gif");
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Korvel\\Startup", u"WAV"),
              u"\\Windows\\startup.wav");
    EXPECT_EQ(Dword(HKEY_ROOT_CURRENT_USER, u"ControlPanel\\SoundCategories\\System", u"InitVol"),
              0x1e);
}

TEST_F(RegFileTest, AnOlderAsciiFileWithShortRootNamesAndLfLineEndsLoads) {
    ASSERT_TRUE(
        Load("REGEDIT4\n"
             "; a comment\n"
             "[HKLM\\Software\\A]\n"
             "\"Quote\"=\"say \\\"hi\\\"\"\n"
             "@=\"default\"\n"
             "\"Short\"=dword:7\n"
             "[hkcu\\B]\n"
             "\"Max\"=DWORD:FFFFFFFF\n"));
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, u"software\\a", u"Quote"), u"say \"hi\"");
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, u"Software\\A", nullptr), u"default");
    EXPECT_EQ(Dword(HKEY_ROOT_LOCAL_MACHINE, u"Software\\A", u"Short"), 7);
    EXPECT_EQ(Dword(HKEY_ROOT_CURRENT_USER, u"B", u"Max"), 0xFFFFFFFFL);
}

TEST_F(RegFileTest, Utf8WithByteOrderMarkKeepsNonAsciiText) {
    ASSERT_TRUE(
        Load("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
             "[HKEY_LOCAL_MACHINE\\K]\r\n"
             "\"N\"=\"caf\xC3\xA9\"\r\n"));
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, u"K", u"N"), u"caf\u00e9");
}

TEST_F(RegFileTest, HexValuesContinueOverLinesAndKeepTheirType) {
    // "a:b" as an expandable string (type 2) in UTF-16LE, split as the editor splits long lines.
    ASSERT_TRUE(
        Load("Windows Registry Editor Version 5.00\n"
             "[HKEY_LOCAL_MACHINE\\K]\n"
             "\"Expand\"=hex(2):61,00,3a,00,\\\n"
             "  62,00,00,00\n"
             "\"Bin\"=hex:01,02\n"));
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, u"K", 0, 0, &key), 0);
    std::uint8_t data[16] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    ASSERT_EQ(plat::RegQueryValueEx(key, u"Expand", nullptr, &type, data, &size), 0);
    EXPECT_EQ(type, 2u);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), u"a:b");
    size = sizeof data;
    ASSERT_EQ(plat::RegQueryValueEx(key, u"Bin", nullptr, &type, data, &size), 0);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(data[1], 2);
    plat::RegCloseKey(key);
}

TEST_F(RegFileTest, DeletionsRemoveKeysWithTheirSubkeysAndSingleValues) {
    plat::sim::SetRegistryString(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Old\\Sub", u"X", u"1");
    plat::sim::SetRegistryString(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Keep", u"Gone", u"1");
    plat::sim::SetRegistryString(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Keep", u"Stays", u"2");
    ASSERT_TRUE(
        Load("Windows Registry Editor Version 5.00\n"
             "[-HKEY_LOCAL_MACHINE\\Software\\Old]\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Keep]\n"
             "\"Gone\"=-\n"));
    plat::HKEY key = nullptr;
    EXPECT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Old\\Sub", 0, 0, &key),
              plat::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Old", 0, 0, &key),
              plat::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Keep", u"Gone"), u"<missing>");
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, u"Software\\Keep", u"Stays"), u"2");
}

TEST_F(RegFileTest, AKeyThousandsOfLevelsDeepHasEveryAncestorAndGoesWithThem) {
    // Deep paths once cost a stored copy of every ancestor's path (quadratic in the depth).
    constexpr int kDepth = 20000;
    std::u16string path = u"Software";
    for (int i = 0; i < kDepth; ++i) path += u"\\k";
    std::string keyPath = "HKEY_LOCAL_MACHINE\\Software";
    for (int i = 0; i < kDepth; ++i) keyPath += "\\k";
    ASSERT_TRUE(Load("REGEDIT4\n[" + keyPath + "]\n\"Deep\"=\"yes\"\n"));
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, path.c_str(), u"Deep"), u"yes");
    const std::u16string parent = path.substr(0, path.size() - 2);
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, parent.c_str(), 0, 0, &key),
              plat::ERROR_SUCCESS);
    plat::RegCloseKey(key);

    // Deleting the deepest key keeps its parent; deleting an ancestor takes the whole chain.
    ASSERT_TRUE(Load("REGEDIT4\n[-" + keyPath + "]\n"));
    EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, path.c_str(), u"Deep"), u"<missing>");
    ASSERT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, parent.c_str(), 0, 0, &key),
              plat::ERROR_SUCCESS);
    plat::RegCloseKey(key);
    ASSERT_TRUE(Load("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\Software\\k]\n"));
    EXPECT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, parent.c_str(), 0, 0, &key),
              plat::ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(plat::RegOpenKeyEx(HKEY_ROOT_LOCAL_MACHINE, u"Software", 0, 0, &key),
              plat::ERROR_SUCCESS);
    plat::RegCloseKey(key);
}

// Each malformed file: the line the message must name and a word of what it must say. The
// first lines of every file are valid and set a value, which must not be loaded.
struct Malformed {
    const char* body;  // follows the header line and a valid key with a value (lines 1-3)
    int line;
    const char* says;
};

const Malformed kMalformed[] = {
    {"\"N\"=\"unterminated\n", 4, "closing quote"},
    {"\"N\"=dword:123456789\n", 4, "1 to 8 hexadecimal digits"},
    {"\"N\"=dword:12G4\n", 4, "1 to 8 hexadecimal digits"},
    {"\"N\"=\"C:\\Windows\"\n", 4, "unknown escape"},
    {"\n\"N\" \"no equals\"\n", 5, "'='"},
    {"[HKEY_CLASSES_ROOT\\X]\n", 4, "unknown root key"},
    {"[HKEY_LOCAL_MACHINE\\X\n", 4, "']'"},
    {"[-HKEY_LOCAL_MACHINE]\n", 4, "root key cannot be deleted"},
    {"garbage\n", 4, "expected a [key] line"},
    {"\"N\"=hex:01,zz\n", 4, "bad byte"},
    {"\"N\"=hex:01,\\\n", 4, "past the end of the file"},
    {"\"N\"=word:1\n", 4, "a value must be"},
    {"[-HKEY_LOCAL_MACHINE\\Gone]\n\"N\"=\"1\"\n", 5, "must follow a [key] line"},
};

TEST_F(RegFileTest, MalformedFilesAreRefusedNamingFileAndLineWithNothingLoaded) {
    for (const Malformed& m : kMalformed) {
        SCOPED_TRACE(m.body);
        plat::sim::Reset();
        std::string error;
        EXPECT_FALSE(
            Load(std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Partial]\n\"V\"=\"1\"\n") + m.body,
                 &error));
        EXPECT_EQ(error.rfind("device.reg:" + std::to_string(m.line) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(m.says), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(String(HKEY_ROOT_LOCAL_MACHINE, u"Partial", u"V"), u"<missing>");
    }
}

TEST_F(RegFileTest, AFileWithoutTheHeaderIsNotARegistryFile) {
    std::string error;
    EXPECT_FALSE(Load("[HKEY_LOCAL_MACHINE\\K]\n\"N\"=\"1\"\n", &error));
    EXPECT_EQ(error.rfind("device.reg:1: not a registry file", 0), 0u) << error;
    EXPECT_FALSE(Load("", &error));
    EXPECT_EQ(error.rfind("device.reg:1:", 0), 0u) << error;
}

TEST_F(RegFileTest, AnUnreadableFileIsReportedByName) {
    std::string error;
    EXPECT_FALSE(plat::sim::LoadRegistryFile("/nonexistent/device.reg", &error));
    EXPECT_EQ(error, "/nonexistent/device.reg: cannot be read");
}

}  // namespace
