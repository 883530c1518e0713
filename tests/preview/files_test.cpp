// Output files: PNG round trip, the WebP container, the contact sheet, JSON, and the staged
// output folder that never leaves a half-written preview or replaces a user's folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "preview/contact_sheet.h"
#include "preview/image_files.h"
#include "preview/json.h"
#include "preview/output_folder.h"
#include "preview/show.h"
#include "preview/text.h"

namespace preview {
namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        path_ =
            fs::temp_directory_path() /
            ("preview-files-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

RgbImage Pattern(int w, int h) {
    RgbImage image(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = image.At(x, y);
            p[0] = static_cast<std::uint8_t>(x * 7);
            p[1] = static_cast<std::uint8_t>(y * 13);
            p[2] = static_cast<std::uint8_t>(x ^ y);
        }
    }
    return image;
}

TEST(ImageFiles, PngKeepsEveryPixelAndBgrIsTurnedIntoRgb) {
    TempDir dir;
    RgbImage image = Pattern(37, 11);
    std::string error;
    ASSERT_TRUE(WritePng(dir / "a.png", image, &error)) << error;
    RgbImage back;
    ASSERT_TRUE(ReadPng(dir / "a.png", &back, &error)) << error;
    EXPECT_TRUE(back == image);

    RgbImage fromDevice = FromBgr(1, 1, {10, 20, 30});
    EXPECT_EQ(fromDevice.rgb, (std::vector<std::uint8_t>{30, 20, 10}));
    EXPECT_FALSE(ReadPng(dir / "missing.png", &back, &error));
    EXPECT_FALSE(WritePng(dir / "no/such/folder.png", image, &error));
}

TEST(ImageFiles, TheRecordingIsAnAnimatedWebpThatPlaysOnce) {
    TempDir dir;
    RgbImage a = Pattern(16, 16), b(16, 16, 255, 0, 0);
    std::string error;
    ASSERT_TRUE(WriteAnimatedWebp(dir / "r.webp", {{&a, 100}, {&b, 250}}, &error)) << error;
    std::ifstream in(dir / "r.webp", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 30u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 4), "WEBP");
    const std::size_t anim = bytes.find("ANIM");
    ASSERT_NE(anim, std::string::npos);
    // ANIM payload: background colour (4 bytes), then the loop count (16-bit).
    EXPECT_EQ(static_cast<unsigned char>(bytes[anim + 12]), 1);
    EXPECT_NE(bytes.find("ANMF"), std::string::npos);
    EXPECT_NE(bytes.find("VP8L"), std::string::npos) << "lossless frames";
    EXPECT_FALSE(WriteAnimatedWebp(dir / "e.webp", {}, &error));
}

TEST(ContactSheet, ThumbnailsSitInAGridUnderTheCaptionWithTheirLabelsBelow) {
    int tw = 0, th = 0;
    ThumbnailSize(10, 240, 320, &tw, &th);
    EXPECT_EQ(tw, 120);
    EXPECT_EQ(th, 160);
    RgbImage red(tw, th, 255, 0, 0);
    std::vector<SheetEntry> entries;
    for (int i = 0; i < 10; ++i) entries.push_back({&red, i, static_cast<std::uint32_t>(i * 100)});
    RgbImage sheet = MakeContactSheet(entries, {"boot.gif, start-up show", {"warnings: none"}});
    // 8 columns of 120x160 thumbnails; two rows under the caption.
    EXPECT_GT(sheet.width, 8 * 120);
    EXPECT_LT(sheet.width, 8 * 160);
    EXPECT_GT(sheet.height, 2 * 160 + 40);
    EXPECT_LT(sheet.height, 3 * 160 + 40);
    auto darkPixels = [&sheet](int x0, int y0, int w, int h) {
        int n = 0;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) n += sheet.At(x, y)[0] < 128;
        }
        return n;
    };
    // The caption's text is drawn (anti-aliased font: many dark pixels) above the first row.
    int firstRed = 0;
    while (firstRed < sheet.height && sheet.At(sheet.width / 16, firstRed)[1] != 0) ++firstRed;
    ASSERT_LT(firstRed, sheet.height / 2);
    EXPECT_GT(darkPixels(0, 0, sheet.width / 2, firstRed), 200);
    // Labels under the first thumbnail, none under an empty slot of row two.
    const int labelTop = firstRed + th + 4;
    const int cellW = (sheet.width - 4) / 8;
    EXPECT_GT(darkPixels(10, labelTop, 100, 30), 50);
    EXPECT_EQ(darkPixels(10 + 5 * cellW, labelTop + (th + 40), 100, 30), 0);

    // Long shows: smaller thumbnails, and never more than kMaxThumbnails of them.
    ThumbnailSize(400, 240, 320, &tw, &th);
    EXPECT_LT(tw, 60);
    int tw2 = 0, th2 = 0;
    ThumbnailSize(100000, 240, 320, &tw2, &th2);
    EXPECT_EQ(tw2, 30);
    EXPECT_EQ(th2, 40);
}

TEST(Json, AnyTextIsWrittenAsValidJsonAndBadTextIsRefused) {
    // Device paths come from UTF-16 registry values and host names in any encoding: a lone
    // surrogate (as the UTF-8 conversion writes it) or a stray byte must not make the file
    // unreadable.
    Json doc = Json::object();
    doc["path"] = std::string(
        "\\Storage\\a\xED\xA0\x80"
        "b\xFF.gif");
    doc["list"] = Json::array({1, nullptr});
    for (int indent : {-1, 2}) {
        Json back;
        std::string error;
        ASSERT_TRUE(ParseJson(DumpJson(doc, indent), &back, &error)) << error;
        EXPECT_EQ(back["path"].get<std::string>().rfind("\\Storage\\a", 0), 0u);
        EXPECT_NE(back["path"].get<std::string>().find("\xEF\xBF\xBD"), std::string::npos);
        EXPECT_EQ(back["list"], doc["list"]);
    }
    Json bad;
    std::string error;
    for (const char* text : {"", "{", "{\"a\" 1}", "[1,]", "[1] 2", "nul"}) {
        EXPECT_FALSE(ParseJson(text, &bad, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(OutputFolder, ResultsAppearOnlyOnCommitAndReplaceAnEarlierPreview) {
    TempDir dir;
    const std::string out = dir / "preview";
    std::string error;
    {
        OutputFolder folder(out + "/");  // a trailing slash names the same folder
        ASSERT_TRUE(folder.Begin(&error)) << error;
        std::ofstream(folder.PathOf("frame-0007.png")) << "old";
        ASSERT_TRUE(folder.Commit(&error)) << error;
    }
    {
        OutputFolder folder(out);
        ASSERT_TRUE(folder.Begin(&error)) << error;
        std::ofstream(folder.PathOf("timeline.json")) << "{}";
        EXPECT_TRUE(fs::exists(out + "/frame-0007.png")) << "untouched until the commit";
        ASSERT_TRUE(folder.Commit(&error)) << error;
    }
    EXPECT_TRUE(fs::exists(out + "/timeline.json"));
    EXPECT_FALSE(fs::exists(out + "/frame-0007.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / ""), fs::directory_iterator()), 1)
        << "no staging folder left behind";

    // An abandoned run leaves the earlier preview as it was and no staging folder.
    {
        OutputFolder folder(out);
        ASSERT_TRUE(folder.Begin(&error));
        std::ofstream(folder.PathOf("frame-0000.png")) << "partial";
    }
    EXPECT_TRUE(fs::exists(out + "/timeline.json"));
    EXPECT_FALSE(fs::exists(out + "/frame-0000.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / ""), fs::directory_iterator()), 1);
}

TEST(OutputFolder, OnlyAFolderThePreviewerWroteIsReplaced) {
    TempDir dir;
    fs::create_directories(dir / "frames");
    std::ofstream(dir / "frames/frame-0000.png") << "a frame exporter's output";
    fs::create_directories(dir / "earlier");
    std::ofstream(dir / "earlier/.bootreel-preview") << "bootreel-preview output folder\n";
    fs::create_directories(dir / "empty");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    fs::create_symlink(dir / "earlier", dir / "link");
    std::ofstream(dir / "file") << "x";
    // Marker files that are not the previewer's: another tool's file of that name, an empty
    // one, a folder, and a link to a real marker elsewhere.
    std::ofstream(dir / "elsewhere") << "bootreel-preview output folder\n";
    const std::pair<const char*, std::function<void(const fs::path&)>> markers[] = {
        {"other-content",
         [](const fs::path& m) { std::ofstream(m) << "bootreel-preview output folder\nmore\n"; }},
        {"empty-marker", [](const fs::path& m) { std::ofstream{m}; }},
        {"folder-marker", [](const fs::path& m) { fs::create_directories(m); }},
        {"linked-marker", [&](const fs::path& m) { fs::create_symlink(dir / "elsewhere", m); }},
    };
    for (const auto& [name, make] : markers) {
        fs::create_directories(dir / name);
        std::ofstream(dir / (std::string(name) + "/frame-0000.png")) << "someone's";
        make(dir / (std::string(name) + "/.bootreel-preview"));
    }
    // Leftovers of a run whose process is gone (process ids stay below 2^22).
    fs::create_directories(dir / ".earlier.partial-999999999");
    std::ofstream(dir / ".earlier.partial-999999999/.bootreel-preview")
        << "bootreel-preview output folder\n";

    struct Case {
        std::string out;
        const char* refusal;  // nullptr: accepted
    } const cases[] = {
        {"frames", "not from a preview"},
        {"earlier", nullptr},
        {"empty", nullptr},
        {"dangling", "does not exist"},
        {"link", nullptr},  // written where the link points
        {"file", "not a folder"},
        {".", "current folder"},
        {"..", "current folder"},
        {"missing-parent/out", "does not exist"},
        {"other-content", "is not the previewer's marker"},
        {"empty-marker", "is not the previewer's marker"},
        {"folder-marker", "is not the previewer's marker"},
        {"linked-marker", "is not the previewer's marker"},
    };
    const fs::path here = fs::current_path();
    fs::current_path(dir / "");
    for (const Case& c : cases) {
        OutputFolder folder(c.out);
        std::string error;
        const bool began = folder.Begin(&error);
        EXPECT_EQ(began, c.refusal == nullptr) << c.out << ": " << error;
        if (c.refusal) {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        }
        if (began) {
            EXPECT_TRUE(folder.Commit(&error)) << error;
        }
    }
    fs::current_path(here);
    EXPECT_TRUE(fs::exists(dir / "frames/frame-0000.png"));
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_TRUE(fs::exists(dir / "earlier/.bootreel-preview"));
    EXPECT_FALSE(fs::exists(dir / ".earlier.partial-999999999")) << "stale staging removed";
    for (const auto& [name, make] : markers) {
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / name), fs::directory_iterator()), 2)
            << name << ": untouched";
        EXPECT_TRUE(fs::exists(dir / (std::string(name) + "/frame-0000.png"))) << name;
    }
    EXPECT_TRUE(fs::is_symlink(dir / "linked-marker/.bootreel-preview"));
    EXPECT_TRUE(fs::exists(dir / "elsewhere"));
}

TEST(DeviceNames, HostNamesBecomeNamesTheDeviceAccepts) {
    std::string longName;
    for (int i = 0; i < 130; ++i) longName += "\xC3\xA9";  // 130 x e-acute, 260 bytes
    std::string kept;
    for (int i = 0; i < 96; ++i) kept += "\xC3\xA9";
    const std::pair<std::string, std::string> cases[] = {
        {"boot.gif", "boot.gif"},           {"a:b.gif", "a_b.gif"},
        {"q\"<>|*?.gif", "q______.gif"},    {"tab\t.gif", "tab_.gif"},
        {"bad\xFF\xC3.gif", "bad__.gif"},   {"surrogate\xED\xA0\x80.gif", "surrogate___.gif"},
        {longName + ".gif", kept + ".gif"},
    };
    for (const auto& [host, device] : cases) EXPECT_EQ(DeviceFileName(host), device) << host;
    // Device text with a lone surrogate still becomes valid UTF-8.
    EXPECT_EQ(Utf8(std::u16string(u"a") + char16_t(0xD800) + u"b"),
              "a\xEF\xBF\xBD"
              "b");
}

}  // namespace
}  // namespace preview
