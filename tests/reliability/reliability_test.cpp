// Short versions of the reliability runs, for every build of the test suite (plain and under
// the sanitizers): a sample of truncations and corruptions of the GIF corpus, shows in a row
// through every way a show ends, and callers signalling at random moments. The long runs are
// scripts/reliability.sh.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/window.h"
#include "show_runs.h"

namespace {

using reliability::RunSummary;

std::vector<reliability::CorpusFile> Corpus() {
    std::vector<reliability::CorpusFile> corpus = reliability::GeneratedCorpus();
    for (const char* folder : {BOOTREEL_SOURCE_DIR "/samples", BOOTREEL_SOURCE_DIR "/fuzz/corpus/gif"}) {
        std::error_code missing;
        if (!std::filesystem::is_directory(folder, missing)) continue;
        for (auto& file : reliability::ReadCorpusFolder(folder)) corpus.push_back(std::move(file));
    }
    return corpus;
}

void ExpectClean(const RunSummary& summary, long minimumShows) {
    EXPECT_GE(summary.shows, minimumShows) << summary.Line();
    EXPECT_EQ(summary.failures, 0) << summary.Line() << "\nfirst: "
                                   << (summary.examples.empty() ? "" : summary.examples[0]);
}

long Tally(const RunSummary& summary, const std::string& name) {
    for (const auto& entry : summary.counts) {
        if (entry.first == name) return entry.second;
    }
    return 0;
}

TEST(Reliability, ShowsOfCutPicturesAllEndAndLeaveNothing) {
    const auto corpus = Corpus();
    const RunSummary summary = reliability::RunTruncation(corpus, 97);
    ExpectClean(summary, 100);
    // Some cut pictures still hold frames to play: the runs reach the render thread.
    EXPECT_GT(Tally(summary, "showsThatDrew"), 0);
}

TEST(Reliability, ShowsOfCorruptedPicturesAllEndAndLeaveNothing) {
    ExpectClean(reliability::RunCorruption(Corpus(), 150, 7), 150);
}

TEST(Reliability, ShowsInARowThroughEveryEndLeaveNothing) {
    const RunSummary summary = reliability::RunLoad(70, 11);
    ExpectClean(summary, 70);
    EXPECT_EQ(Tally(summary, "shutdownWithSound"), 10);
}

TEST(Reliability, CallerSignallingAtRandomMomentsAlwaysGetsItsCallBack) {
    const RunSummary summary = reliability::RunBootTiming(120, 13);
    ExpectClean(summary, 120);
    // The moments are spread over the show's life.
    EXPECT_GT(Tally(summary, "betweenFrames"), 0) << summary.Line();
    EXPECT_GT(Tally(summary, "beforeTheCall"), 0) << summary.Line();
}

plat::LRESULT PLAT_CALLBACK IdleProcedure(plat::HWND window, std::uint32_t message,
                                          plat::WPARAM wParam, plat::LPARAM lParam) {
    return plat::DefWindowProc(window, message, wParam, lParam);
}

// Found by the long truncation run: the 16,385th class registration of a process was handed
// atom 0, which a show reads as "the class is taken"; that show returned at once and left its
// class registered, and every show after it returned at once too.
TEST(Reliability, ShowsGoOnPlayingAfterSixteenThousandClassRegistrations) {
    reliability::ShowBench bench(48, 40);
    plat::WNDCLASS churn{};
    churn.lpfnWndProc = IdleProcedure;
    churn.lpszClassName = u"Churn";
    for (int i = 0; i < 0x4000; ++i) {
        ASSERT_NE(plat::RegisterClass(&churn), 0) << "registration " << i;
        ASSERT_TRUE(plat::UnregisterClass(u"Churn", nullptr));
    }
    for (int show = 0; show < 3; ++show) {
        reliability::ShowPlan plan;
        plan.picture = reliability::ShortAnimation(32, 24, 3, 4, 1);
        const reliability::ShowOutcome outcome = bench.Run(plan);
        EXPECT_GT(outcome.copies, 0) << "show " << show << " showed nothing";
        EXPECT_TRUE(outcome.leftovers.empty()) << "show " << show << ": " << outcome.leftovers[0];
    }
}

}  // namespace
