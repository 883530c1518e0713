// What the Windows backend adds to the plain API calls: the device root of file paths, the
// registry roots and the promises of the registry reads, the bare full-screen window, bare
// 8-bit sections, the thread priority levels and the reading-only file streams. Each is checked
// against the real API underneath (under Wine in CI).
// The Windows API and the platform headers, in the order that compiles (see backend.h).
#include "platform/win32/backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t old[1024];
        const DWORD length = ::GetEnvironmentVariableW(name, old, 1024);
        hadOld_ = length > 0 && length < 1024;
        if (hadOld_) old_.assign(old, length);
        ::SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, hadOld_ ? old_.c_str() : nullptr); }

private:
    const wchar_t* name_;
    bool hadOld_ = false;
    std::wstring old_;
};

std::wstring TempFolder() {
    wchar_t path[MAX_PATH];
    ::GetTempPathW(MAX_PATH, path);
    std::wstring folder = std::wstring(path) + L"bootreel-backend-" +
                          std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

TEST(DevicePathTest, DrivelessPathsLiveUnderTheDeviceRootWhenOneIsSet) {
    struct Case {
        const wchar_t* root;  // nullptr: variable unset
        const char16_t* path;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\device", u"\\Windows\\startup.wav", L"C:\\device\\Windows\\startup.wav"},
        {L"C:\\device\\", u"\\a.gif", L"C:\\device\\a.gif"},  // one separator between them
        {L"C:\\device", u"D:\\a.gif", L"D:\\a.gif"},          // a drive: left alone
        {L"C:\\device", u"\\\\server\\share\\a", L"\\\\server\\share\\a"},  // UNC: left alone
        {L"C:\\device", u"relative.gif", L"relative.gif"},
        {L"C:\\device", u"", L""},
        {nullptr, u"\\Windows\\startup.wav", L"\\Windows\\startup.wav"},  // the current drive
    };
    for (const Case& c : cases) {
        ScopedEnvironment root(L"BOOTREEL_DEVICE_ROOT", c.root);
        EXPECT_EQ(plat::win32::DevicePath(c.path), c.expected)
            << (c.root ? "root set" : "no root");
    }
}

TEST(FileTest, StreamsOpenForReadingOnlyAndFindUsesTheDeviceRoot) {
    const std::wstring folder = TempFolder();
    const std::wstring file = folder + L"\\media.bin";
    std::FILE* out = ::_wfopen(file.c_str(), L"wb");
    ASSERT_NE(out, nullptr);
    std::fputs("0123456789", out);
    std::fclose(out);
    ScopedEnvironment root(L"BOOTREEL_DEVICE_ROOT", folder.c_str());

    plat::FindData data{};
    plat::HFIND find = plat::FindFirstFile(u"\\MEDIA.*", &data);
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(std::u16string(data.name), u"media.bin");
    EXPECT_EQ(data.size, 10u);
    EXPECT_TRUE(plat::FindClose(find));
    EXPECT_EQ(plat::FindFirstFile(u"\\absent.bin", &data), nullptr);

    // Writing modes would create or truncate files: refused, and the file keeps its bytes.
    for (const char* mode : {"wb", "ab", "r+b", "w"}) {
        EXPECT_EQ(plat::FileOpen(u"\\media.bin", mode), nullptr) << mode;
    }
    EXPECT_EQ(plat::FileOpen(u"\\new.bin", "wb"), nullptr);
    EXPECT_EQ(::GetFileAttributesW((folder + L"\\new.bin").c_str()), INVALID_FILE_ATTRIBUTES);

    plat::HFILESTREAM stream = plat::FileOpen(u"\\media.bin", "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(plat::FileSeek(stream, 0, plat::FILE_SEEK_END), 0);
    EXPECT_EQ(plat::FileTell(stream), 10);
    EXPECT_EQ(plat::FileClose(stream), 0);

    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

class RegistryTest : public ::testing::Test {
protected:
    static constexpr const wchar_t* kKey = L"Software\\BootreelBackendTest";
    void SetUp() override {
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key_, nullptr),
                  0);
    }
    void TearDown() override {
        ::RegCloseKey(key_);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
    void SetBytes(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(::RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size), 0);
    }
    ::HKEY key_ = nullptr;
};

TEST_F(RegistryTest, TheRootsAreTheSystemsAndAZeroAccessMaskReads) {
    const wchar_t text[] = L"\\Windows\\boot.gif";
    SetBytes(L"Image", 1, text, sizeof text);
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegOpenKeyEx(plat::HKEY_ROOT_CURRENT_USER, u"software\\bootreelbackendtest",
                                 0, 0, &key),
              plat::ERROR_SUCCESS);
    char16_t buffer[260] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof buffer;
    ASSERT_EQ(plat::RegQueryValueEx(key, u"Image", nullptr, &type,
                                    reinterpret_cast<std::uint8_t*>(buffer), &size),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(type, plat::REG_SZ);
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(std::u16string(buffer), u"\\Windows\\boot.gif");
    EXPECT_EQ(plat::RegCloseKey(key), plat::ERROR_SUCCESS);

    plat::HKEY missing = reinterpret_cast<plat::HKEY>(std::uintptr_t{1});
    EXPECT_NE(plat::RegOpenKeyEx(plat::HKEY_ROOT_LOCAL_MACHINE, u"Software\\NoSuchBootreelKey", 0,
                                 0, &missing),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(missing, nullptr);
}

TEST_F(RegistryTest, AValueThatDoesNotFitCopiesNothingAndStringsComeTerminated) {
    const wchar_t text[] = L"abcdef";
    SetBytes(L"Long", 1, text, sizeof text);
    // Stored without its terminating zero: read back with one.
    SetBytes(L"Bare", 1, L"xyz", 3 * sizeof(wchar_t));
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegOpenKeyEx(plat::HKEY_ROOT_CURRENT_USER, u"Software\\BootreelBackendTest",
                                 0, 0, &key),
              plat::ERROR_SUCCESS);

    char16_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    std::uint32_t size = 4 * sizeof(char16_t);
    EXPECT_EQ(plat::RegQueryValueEx(key, u"Long", nullptr, nullptr,
                                    reinterpret_cast<std::uint8_t*>(buffer), &size),
              plat::ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof text);  // what it would need
    EXPECT_EQ(std::u16string(buffer, 8), u"########");

    size = sizeof buffer;
    ASSERT_EQ(plat::RegQueryValueEx(key, u"Bare", nullptr, nullptr,
                                    reinterpret_cast<std::uint8_t*>(buffer), &size),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(size, 4 * sizeof(char16_t));
    EXPECT_EQ(std::u16string(buffer), u"xyz");
    plat::RegCloseKey(key);
}

TEST_F(RegistryTest, ADwordReadLeavesThePresetOnFailure) {
    const DWORD level = 5;
    SetBytes(L"InitVol", plat::REG_DWORD, &level, sizeof level);
    SetBytes(L"Text", 1, L"5", 2 * sizeof(wchar_t));
    std::uint32_t value = 0;
    EXPECT_EQ(plat::RegistryGetDWORD(plat::HKEY_ROOT_CURRENT_USER, u"Software\\BootreelBackendTest",
                                     u"InitVol", &value),
              0);
    EXPECT_EQ(value, 5u);
    value = 77;
    EXPECT_LT(plat::RegistryGetDWORD(plat::HKEY_ROOT_CURRENT_USER,
                                     u"Software\\BootreelBackendTest", u"Text", &value),
              0);
    EXPECT_LT(plat::RegistryGetDWORD(plat::HKEY_ROOT_CURRENT_USER,
                                     u"Software\\BootreelBackendTest", u"Absent", &value),
              0);
    EXPECT_EQ(value, 77u);
}

plat::LRESULT PLAT_CALLBACK PlainProc(plat::HWND window, std::uint32_t message,
                                      plat::WPARAM wParam, plat::LPARAM lParam) {
    return plat::DefWindowProc(window, message, wParam, lParam);
}

TEST(WindowTest, AVisibleTopLevelWindowIsBareAndCoversTheScreen) {
    plat::WNDCLASS wc{};
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = u"BootreelBareWindow";
    ASSERT_NE(plat::RegisterClass(&wc), 0);
    const int width = plat::GetSystemMetrics(plat::SM_CXSCREEN);
    const int height = plat::GetSystemMetrics(plat::SM_CYSCREEN);
    plat::HWND window = plat::CreateWindowEx(0x60000008, u"BootreelBareWindow", u"bare",
                                             0x10000000, 0, 0, width, height, nullptr, nullptr,
                                             nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    const LONG style = ::GetWindowLongW(reinterpret_cast<::HWND>(window), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER), 0);
    plat::RECT client{};
    ASSERT_TRUE(plat::GetClientRect(window, &client));
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    EXPECT_TRUE(plat::DestroyWindow(window));
    EXPECT_TRUE(plat::UnregisterClass(u"BootreelBareWindow", nullptr));
}

TEST(DrawTest, BareEightBitSectionsNeedNoColourTableAndNoContext) {
    plat::BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 5;
    info.bmiHeader.biHeight = -3;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 8;
    for (std::uint32_t usage : {plat::DIB_PAL_COLORS, plat::DIB_RGB_COLORS}) {
        void* bits = nullptr;
        plat::HBITMAP bitmap = plat::CreateDIBSection(nullptr, &info, usage, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr) << usage;
        ASSERT_NE(bits, nullptr);
        static_cast<std::uint8_t*>(bits)[3 * 8 - 1] = 0xFF;  // last byte of 3 padded rows
        EXPECT_TRUE(plat::DeleteObject(bitmap));
    }
    info.bmiHeader.biBitCount = 16;
    void* bits = &info;
    EXPECT_EQ(plat::CreateDIBSection(nullptr, &info, plat::DIB_RGB_COLORS, &bits, nullptr, 0),
              nullptr);
    EXPECT_EQ(bits, nullptr);
}

std::uint32_t PLAT_CALLBACK WaitForEvent(void* event) {
    plat::WaitForSingleObject(static_cast<plat::HANDLE>(event), plat::INFINITE);
    return 0;
}

TEST(ThreadTest, PriorityLevelsMapOntoTheDesktopsAndBack) {
    plat::HANDLE go = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE thread = plat::CreateThread(nullptr, 0, WaitForEvent, go, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ::HANDLE real = reinterpret_cast<::HANDLE>(thread);
    struct Case {
        int level;
        int desktop;
        int readBack;
    };
    const Case cases[] = {
        {0, win::kPriorityTimeCritical, 0}, {1, win::kPriorityHighest, 1},
        {2, win::kPriorityAboveNormal, 2},  {3, win::kPriorityNormal, 3},
        {4, win::kPriorityBelowNormal, 4},  {5, win::kPriorityLowest, 5},
        {6, win::kPriorityLowest, 5},       {7, win::kPriorityIdle, 7},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(plat::SetThreadPriority(thread, c.level)) << c.level;
        EXPECT_EQ(::GetThreadPriority(real), c.desktop) << c.level;
        EXPECT_EQ(plat::GetThreadPriority(thread), c.readBack) << c.level;
    }
    EXPECT_FALSE(plat::SetThreadPriority(thread, 8));
    EXPECT_FALSE(plat::SetThreadPriority(thread, -1));
    plat::SetEvent(go);
    // The thread ends once it runs again, which a busy machine may put off for long at the idle
    // level it was left at: waited for without a time limit (the test's own limit catches a
    // hang).
    EXPECT_EQ(plat::WaitForSingleObject(thread, plat::INFINITE), plat::WAIT_OBJECT_0);
    plat::CloseHandle(thread);
    plat::CloseHandle(go);
}

}  // namespace
