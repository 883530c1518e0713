// The device's file system: device paths onto the host folder that stands for the root,
// case-insensitive lookups, wildcards, escape attempts, and buffered read streams.
#include "platform/file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim/device.h"

namespace {

namespace fs = std::filesystem;

class FileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() /
                ("bootreel-files-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        root_ = base_ / "root";
        fs::create_directories(root_ / "Windows" / "Sub");
        fs::create_directories(base_ / "outside");
        Write(root_ / "Windows" / "startup.wav", "0123456789");
        Write(root_ / "Windows" / "Boot.GIF", "GIF89a");
        Write(base_ / "outside" / "secret.txt", "secret");
        fs::create_directory_symlink(base_ / "outside", root_ / "Windows" / "link");
        fs::create_symlink(base_ / "outside" / "secret.txt", root_ / "Windows" / "leak.txt");
        plat::sim::DeviceConfig config;
        config.deviceRoot = root_.string();
        plat::sim::Reset(config);
    }
    void TearDown() override {
        plat::sim::Reset();
        fs::remove_all(base_);
    }

    static void Write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    // The name FindFirstFile reports, or "<none>".
    static std::u16string Find(const char16_t* path, plat::FindData* out = nullptr) {
        plat::FindData data{};
        plat::HFIND find = plat::FindFirstFile(path, &data);
        if (find == nullptr) return u"<none>";
        EXPECT_TRUE(plat::FindClose(find));
        if (out) *out = data;
        return data.name;
    }

    fs::path base_;
    fs::path root_;
};

TEST_F(FileTest, EachPathComponentIsMatchedWithoutRegardToCase) {
    plat::FindData data{};
    EXPECT_EQ(Find(u"\\WINDOWS\\STARTUP.WAV", &data), u"startup.wav");
    EXPECT_EQ(data.attributes, plat::FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(data.size, 10u);
    EXPECT_EQ(plat::sim::HostPath(u"\\windows\\boot.gif"),
              (root_ / "Windows" / "Boot.GIF").string());
    // A file that does not exist yet maps below the folders that do.
    EXPECT_EQ(plat::sim::HostPath(u"\\windows\\new.wav"), (root_ / "Windows" / "new.wav").string());
}

TEST_F(FileTest, DirectoriesAndTheRootAreFoundAsDirectories) {
    plat::FindData data{};
    EXPECT_EQ(Find(u"\\Windows\\sub", &data), u"Sub");
    EXPECT_EQ(data.attributes, plat::FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(Find(u"\\", &data), u"<none>");
    EXPECT_EQ(data.attributes, plat::FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(plat::FileOpen(u"\\Windows", "rb"), nullptr);  // a folder is no stream
}

TEST_F(FileTest, WildcardsMatchInTheLastComponentOnly) {
    const struct {
        const char16_t* pattern;
        const char16_t* found;
    } cases[] = {
        {u"\\Windows\\*.WAV", u"startup.wav"},
        {u"\\Windows\\boot.???", u"Boot.GIF"},
        {u"\\Windows\\s*t*.w?v", u"startup.wav"},
        {u"\\Windows\\*.mp3", u"<none>"},
        {u"\\Windows\\boot.??", u"<none>"},
        {u"\\Win*\\startup.wav", u"<none>"},
        {u"\\Missing\\*", u"<none>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Find(c.pattern), c.found) << std::string(c.pattern, c.pattern + 16);
    }
    EXPECT_NE(Find(u"\\Windows\\*.*"), u"<none>");
}

TEST_F(FileTest, PathsThatWouldLeaveTheDeviceRootFindNothing) {
    const char16_t* escapes[] = {
        u"\\..\\outside\\secret.txt",
        u"\\Windows\\..\\..\\outside\\secret.txt",
        u"\\Windows\\link\\secret.txt",  // a folder link pointing out of the root
        u"\\Windows\\leak.txt",          // a file link pointing out of the root
        u"\\Windows\\link",
        u"\\Windows\\le*",
        u"Windows\\startup.wav",  // relative
        u"C:\\Windows\\startup.wav",
        u"/etc/passwd",
        u"\\Windows/startup.wav",  // '/' is no separator on the device
    };
    for (const char16_t* path : escapes) {
        SCOPED_TRACE(std::string(path, path + std::char_traits<char16_t>::length(path)));
        EXPECT_EQ(Find(path), u"<none>");
        EXPECT_EQ(plat::FileOpen(path, "rb"), nullptr);
    }
    EXPECT_EQ(plat::sim::HostPath(u"\\Windows\\link\\secret.txt"), "");
    EXPECT_EQ(plat::sim::HostPath(u"\\..\\outside"), "");
}

TEST_F(FileTest, WithoutADeviceRootEveryLookupFails) {
    plat::sim::SetDeviceRoot("");
    EXPECT_EQ(Find(u"\\Windows\\startup.wav"), u"<none>");
    EXPECT_EQ(Find(u"\\"), u"<none>");
    EXPECT_EQ(plat::FileOpen(u"\\Windows\\startup.wav", "rb"), nullptr);
    EXPECT_EQ(plat::sim::HostPath(u"\\Windows\\startup.wav"), "");
}

TEST_F(FileTest, TheEnvironmentNamesTheRootWhenTheConfigurationDoesNot) {
    ::setenv("BOOTREEL_DEVICE_ROOT", root_.c_str(), 1);
    plat::sim::Reset();
    ::unsetenv("BOOTREEL_DEVICE_ROOT");
    EXPECT_EQ(Find(u"\\Windows\\startup.wav"), u"startup.wav");
}

TEST_F(FileTest, StreamsReadSeekAndTellLikeTheCLibrary) {
    plat::HFILESTREAM f = plat::FileOpen(u"\\windows\\startup.wav", "rb");
    ASSERT_NE(f, nullptr);
    char buffer[16] = {};
    EXPECT_EQ(plat::FileRead(buffer, 1, 4, f), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(plat::FileTell(f), 4);
    EXPECT_EQ(plat::FileSeek(f, 0, plat::FILE_SEEK_END), 0);
    EXPECT_EQ(plat::FileTell(f), 10);  // seeking to the end tells the size
    EXPECT_EQ(plat::FileSeek(f, -3, plat::FILE_SEEK_CUR), 0);
    EXPECT_EQ(plat::FileRead(buffer, 1, 8, f), 3u);  // across the end: only what is there
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(plat::FileRead(buffer, 1, 8, f), 0u);  // at the end
    EXPECT_EQ(plat::FileSeek(f, 2, plat::FILE_SEEK_SET), 0);
    EXPECT_EQ(plat::FileRead(buffer, 4, 2, f), 2u);  // whole elements are counted
    EXPECT_EQ(std::string(buffer, 8), "23456789");
    // An unknown origin and a position before the start fail and leave the position.
    EXPECT_NE(plat::FileSeek(f, 1, 3), 0);
    EXPECT_NE(plat::FileSeek(f, -1, plat::FILE_SEEK_SET), 0);
    EXPECT_EQ(plat::FileTell(f), 10);
    EXPECT_EQ(plat::FileClose(f), 0);
}

// Streams keep a read window of their own so that a decoder's many short skips cost no system
// call; wherever the window starts and ends, every read must deliver the file's bytes.
TEST_F(FileTest, ReadsAndShortSkipsAcrossTheReadWindowDeliverTheFilesBytes) {
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    Write(root_ / "Windows" / "big.bin", bytes);
    plat::HFILESTREAM f = plat::FileOpen(u"\\Windows\\big.bin", "rb");
    ASSERT_NE(f, nullptr);
    std::vector<char> buffer(150000);
    long position = 0;
    unsigned step = 1;
    while (position < static_cast<long>(bytes.size())) {
        const std::size_t want = step % 5 == 0 ? 70000 : 1 + step % 300;  // some bypass the window
        const std::size_t got = plat::FileRead(buffer.data(), 1, want, f);
        const std::size_t expected = std::min<std::size_t>(want, bytes.size() - position);
        ASSERT_EQ(got, expected) << "at " << position;
        ASSERT_EQ(std::string(buffer.data(), got), bytes.substr(position, got))
            << "at " << position;
        position += static_cast<long>(got);
        const long skip = static_cast<long>(step * 37 % 700) - 100;  // back and forth
        if (position + skip >= 0) {
            ASSERT_EQ(plat::FileSeek(f, skip, plat::FILE_SEEK_CUR), 0);
            position += skip;
        }
        ASSERT_EQ(plat::FileTell(f), position);
        ++step;
    }
    EXPECT_EQ(plat::FileRead(buffer.data(), 1, 10, f), 0u);
    EXPECT_EQ(plat::FileClose(f), 0);
}

TEST_F(FileTest, ClosedStreamsAndSearchesFailWithoutHarm) {
    plat::HFILESTREAM f = plat::FileOpen(u"\\Windows\\startup.wav", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(plat::FileClose(f), 0);
    char byte;
    EXPECT_EQ(plat::FileRead(&byte, 1, 1, f), 0u);
    EXPECT_NE(plat::FileSeek(f, 0, plat::FILE_SEEK_SET), 0);
    EXPECT_EQ(plat::FileTell(f), -1);
    EXPECT_NE(plat::FileClose(f), 0);
    EXPECT_NE(plat::FileClose(nullptr), 0);

    plat::FindData data{};
    plat::HFIND find = plat::FindFirstFile(u"\\Windows", &data);
    ASSERT_NE(find, nullptr);
    EXPECT_TRUE(plat::FindClose(find));
    EXPECT_FALSE(plat::FindClose(find));
    EXPECT_FALSE(plat::FindClose(nullptr));
}

TEST_F(FileTest, OnlyReadingModesOpenAFile) {
    EXPECT_EQ(plat::FileOpen(u"\\Windows\\startup.wav", "wb"), nullptr);
    EXPECT_EQ(plat::FileOpen(u"\\Windows\\startup.wav", "r+b"), nullptr);
    EXPECT_EQ(plat::FileOpen(u"\\Windows\\startup.wav", nullptr), nullptr);
    EXPECT_EQ(plat::FileOpen(nullptr, "rb"), nullptr);
    EXPECT_EQ(plat::FileOpen(u"", "rb"), nullptr);
    EXPECT_EQ(fs::file_size(root_ / "Windows" / "startup.wav"), 10u);
}

}  // namespace
