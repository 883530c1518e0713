// The registry configuration, the media probe and the sound level.
#include <gtest/gtest.h>

#include <string>

#include "host/host.h"
#include "host/media_probe.h"
#include "show_testkit.h"

namespace {

using br::AnimationMode;
using br::Host;

class Config : public showtest::ShowFixture {};

std::u16string Path(std::size_t length) {
    std::u16string path = u"\\";
    while (path.size() < length) path.push_back(u'a' + static_cast<char16_t>(path.size() % 26));
    return path;
}

TEST_F(Config, ReadsThePathsOfTheRequestedMode) {
    SetRegistryPath(u"Startup", u"Image", u"\\start.gif");
    SetRegistryPath(u"Startup", u"WAV", u"\\start.wav");
    SetRegistryPath(u"Shutdown", u"Image", u"\\stop.gif");
    SetRegistryPath(u"Shutdown", u"WAV", u"\\stop.wav");

    br::ReadAnimationConfig(AnimationMode::Startup);
    EXPECT_EQ(std::u16string(Host().imagePath), u"\\start.gif");
    EXPECT_EQ(std::u16string(Host().soundPath), u"\\start.wav");
    br::ReadAnimationConfig(AnimationMode::Shutdown);
    EXPECT_EQ(std::u16string(Host().imagePath), u"\\stop.gif");
    EXPECT_EQ(std::u16string(Host().soundPath), u"\\stop.wav");
}

TEST_F(Config, MissingKeyOrValueLeavesThatPathEmpty) {
    SetRegistryPath(u"Startup", u"Image", u"\\old.gif");
    br::ReadAnimationConfig(AnimationMode::Startup);
    br::ReadAnimationConfig(AnimationMode::Shutdown);  // no such key
    EXPECT_EQ(Host().imagePath[0], u'\0');
    EXPECT_EQ(Host().soundPath[0], u'\0');

    SetRegistryPath(u"Shutdown", u"WAV", u"\\bye.wav");
    br::ReadAnimationConfig(AnimationMode::Shutdown);  // "Image" missing, "WAV" still read
    EXPECT_EQ(Host().imagePath[0], u'\0');
    EXPECT_EQ(std::u16string(Host().soundPath), u"\\bye.wav");
}

TEST_F(Config, PathsOfUpTo259CharactersAreUsedAndLongerOnesIgnored) {
    for (std::size_t length : {258u, 259u, 260u, 261u, 1000u}) {
        SCOPED_TRACE(length);
        // The fields are filled with a marker first so that a missing terminator would show.
        std::fill(std::begin(Host().imagePath), std::end(Host().imagePath), u'x');
        SetRegistryPath(u"Startup", u"Image", Path(length));
        SetRegistryPath(u"Startup", u"WAV", u"\\s.wav");

        br::ReadAnimationConfig(AnimationMode::Startup);

        const std::u16string read(Host().imagePath,
                                  std::char_traits<char16_t>::length(Host().imagePath));
        EXPECT_EQ(read, length <= 259 ? Path(length) : u"");
        EXPECT_EQ(Host().imagePath[br::kPathCapacity - 1], u'\0');
        EXPECT_EQ(std::u16string(Host().soundPath), u"\\s.wav");  // the neighbour is intact
    }
}

TEST_F(Config, ProbeFindsFilesFoldersAndTheRoot) {
    const std::u16string file = folder_->Put("a.gif", {1, 2, 3});
    const std::u16string dir = folder_->MakeFolder("pictures");
    struct Case {
        const char16_t* path;
        bool exists;
    };
    const std::u16string wildcard = u"\\*.gif";
    const std::vector<Case> cases = {
        {nullptr, false},         {u"", false},        {u"\\", true},
        {file.c_str(), true},     {dir.c_str(), true}, {u"\\b.gif", false},
        {wildcard.c_str(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            c.path == nullptr
                ? std::string("null")
                : std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)));
        EXPECT_EQ(br::PathExists(c.path), c.exists);
    }
}

TEST_F(Config, SoundLevelIsZeroUnlessSet) {
    EXPECT_EQ(br::ReadSoundLevel(), 0u);
    plat::sim::SetRegistryDword(plat::HKEY_ROOT_CURRENT_USER,
                                u"ControlPanel\\SoundCategories\\System", u"InitVol", 7);
    EXPECT_EQ(br::ReadSoundLevel(), 7u);
}

}  // namespace
