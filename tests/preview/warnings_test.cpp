// The warnings' one home: every warning given is in the catalogue, the merge rule every output
// shares, the words they are written in, and the warning for a show longer than a minute.
#include "preview/warnings.h"

#include <gtest/gtest.h>

#include <set>

#include "gif_builder.h"
#include "platform/sim/device.h"
#include "preview/app.h"
#include "preview/picture_report.h"
#include "preview/show.h"
#include "preview/words.h"

namespace preview {
namespace {

using preview_test::GifBuilder;

TEST(WarningCatalogue, EachIdIsListedOnceWithWhatItIsAbout) {
    std::set<std::string> ids;
    for (const WarningKind& k : WarningCatalogue()) {
        EXPECT_TRUE(ids.insert(k.id).second) << k.id << " listed twice";
        EXPECT_GT(std::string(k.about).size(), 10u) << k.id;
    }
    EXPECT_FALSE(InCatalogue("noSuchWarning"));
}

TEST(WarningMerge, PictureThenShowEachIdOnceWithoutTheOneTheReasonHolds) {
    const std::vector<Warning> picture = {{"noScaleFits", "a"}, {"judder", "b"}};
    const std::vector<Warning> show = {{"judder", "again"}, {"soundMissing", "c"}};
    std::vector<std::string> ids;
    for (const Warning& w : MergeWarnings(picture, show, "noScaleFits")) ids.push_back(w.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"judder", "soundMissing"}));
    EXPECT_EQ(MergeWarnings(picture, show).size(), 3u);

    // One JSON form: the fix only when there is one.
    const Json j = WarningsToJson({{"a", "text", "fix"}, {"b", "text"}});
    EXPECT_EQ(j[0]["fix"], "fix");
    EXPECT_FALSE(j[1].contains("fix"));
}

TEST(Words, OrdinalsAndTheSoundLevelSentenceReadAsEnglish) {
    const std::pair<std::size_t, const char*> ordinals[] = {
        {1, "1st"},   {2, "2nd"},   {3, "3rd"},   {4, "4th"},   {11, "11th"},   {12, "12th"},
        {13, "13th"}, {21, "21st"}, {22, "22nd"}, {23, "23rd"}, {101, "101st"}, {111, "111th"}};
    for (const auto& [n, text] : ordinals) EXPECT_EQ(Ordinal(n), text);

    // A sound path but no InitVol at all.
    DeviceSetup setup;
    setup.mode = "startup";
    setup.soundPath = u"\\Storage\\boot.wav";
    ShowRecord record;
    ShowResult result;
    result.showedPicture = true;
    const std::vector<Warning> warnings = ShowWarnings(record, setup, result);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].id, "soundSilenced");
    EXPECT_NE(warnings[0].text.find("the registry has no value InitVol under HKEY_CURRENT_USER"),
              std::string::npos)
        << warnings[0].text;
    EXPECT_EQ(warnings[0].text.find("no the"), std::string::npos) << warnings[0].text;
}

TEST(LongShow, AnAnimationOfMoreThanAMinuteIsWarnedAbout) {
    plat::sim::Reset();
    AttachPipeline();
    struct Case {
        int frames, delayCs;
        bool warned;
    } const cases[] = {{10, 58800, true}, {3, 2900, false}, {3, 3100, true}, {40, 10, false}};
    for (const Case& c : cases) {
        GifBuilder gif(24, 32);
        for (int i = 0; i < c.frames; ++i) gif.Control(c.delayCs).Image(0, 0, 24, 32, 1 + i % 2);
        const PictureReport r = AnalysePicture("long.gif", gif.Trailer().Build(), 240, 320, 0);
        bool warned = false;
        for (const Warning& w : r.warnings) warned |= w.id == "longShow";
        EXPECT_EQ(warned, c.warned) << c.frames << " frames of " << c.delayCs << " cs";
    }
}

}  // namespace
}  // namespace preview
