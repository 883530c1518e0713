// Every option of bootreel-preview at the edges of what it takes, through the program's own
// command line: the largest (and smallest) value accepted runs, the first value past it is
// refused with exit code 2, one line on standard error naming the option, and no output.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gif_builder.h"
#include "run_program.h"

namespace {

using namespace preview_test;

struct Case {
    std::vector<std::string> args;  // after the command's fixed arguments
    int exitCode;                   // 0 shown, 1 the device shows nothing, 2 refused
    // The option the message must name when the run is refused; when it is accepted, the
    // option under test, which the standard error must not name.
    const char* option;
    // For values that only a live window takes: the run is refused, but for this other option
    // (a live window is not opened here), which shows that the value itself was accepted.
    const char* refusedFor = nullptr;
};

TEST(OptionRanges, EachOptionTakesItsLargestValueAndRefusesTheNextNamingTheOption) {
    ScratchFolder dir;
    // Two small frames: a show of a few passes, on any screen, in any memory that holds them.
    dir.Write("tiny.gif", GifBuilder(8, 8)
                              .Control(10)
                              .Image(0, 0, 8, 8, 2)
                              .Control(10)
                              .Image(0, 0, 8, 8, 3)
                              .Trailer()
                              .Build());
    const std::vector<std::string> show = {"--image", "tiny.gif"};
    const std::vector<std::string> info = {"info", "tiny.gif"};
    struct Command {
        const std::vector<std::string>* fixed;
        std::vector<Case> cases;
    };
    const Command commands[] = {
        {&show,
         {
             // Sides of 1 to 8192 pixels; the largest in each direction on its own (both at
             // once is a screen of 200 MB, checked with info below).
             {{"--screen", "1x1"}, 0, "--screen"},
             {{"--screen", "8192x1"}, 0, "--screen"},
             {{"--screen", "1X8192"}, 0, "--screen"},
             {{"--screen", "0x1"}, 2, "--screen"},
             {{"--screen", "1x0"}, 2, "--screen"},
             {{"--screen", "8193x1"}, 2, "--screen"},
             {{"--screen", "1x8193"}, 2, "--screen"},
             {{"--screen", "240x320x2"}, 2, "--screen"},
             // 1K to 64G. At 1K the frames fit but the drawing surfaces do not: accepted, and
             // the device shows nothing.
             {{"--memory-limit", "1024"}, 1, "--memory-limit"},
             {{"--memory-limit", "1k"}, 1, "--memory-limit"},
             {{"--memory-limit", "1023"}, 2, "--memory-limit"},
             {{"--memory-limit", "0K"}, 2, "--memory-limit"},
             {{"--memory-limit", "68719476736"}, 0, "--memory-limit"},
             {{"--memory-limit", "67108864K"}, 0, "--memory-limit"},
             {{"--memory-limit", "65536M"}, 0, "--memory-limit"},
             {{"--memory-limit", "64G"}, 0, "--memory-limit"},
             {{"--memory-limit", "68719476737"}, 2, "--memory-limit"},
             {{"--memory-limit", "67108865K"}, 2, "--memory-limit"},
             {{"--memory-limit", "65537M"}, 2, "--memory-limit"},
             {{"--memory-limit", "65G"}, 2, "--memory-limit"},
             {{"--memory-limit", "18446744073709551616"}, 2, "--memory-limit"},
             // 0 to 24 hours of show time.
             {{"--end-after", "0"}, 0, "--end-after"},
             {{"--end-after", "86400000"}, 0, "--end-after"},
             {{"--end-after", "86400001"}, 2, "--end-after"},
             {{"--end-after", "4294967296"}, 2, "--end-after"},
             {{"--end-after", "-1"}, 2, "--end-after"},
             {{"--live", "--live-close-after", "86400000", "--mode", "both"},
              2,
              "--live-close-after",
              "--mode"},
             {{"--live", "--live-close-after", "86400001"}, 2, "--live-close-after"},
             {{"--live", "--live-snapshot-at", "86400000", "--mode", "both"},
              2,
              "--live-snapshot-at",
              "--mode"},
             {{"--live", "--live-snapshot-at", "86400001"}, 2, "--live-snapshot-at"},
             // The three modes in any case, and nothing else.
             {{"--mode", "Startup"}, 0, "--mode"},
             {{"--mode", "SHUTDOWN"}, 0, "--mode"},
             {{"--mode", "both"}, 0, "--mode"},
             {{"--mode", "startups"}, 2, "--mode"},
             // A value left empty after '=' is missing, also with another option after it
             // (which must not be taken for the value).
             {{"--mode=", "--end-after", "5"}, 2, "--mode"},
             {{"--screen=", "--end-after", "5"}, 2, "--screen"},
             {{"--memory-limit=", "--end-after", "5"}, 2, "--memory-limit"},
             {{"--end-after=", "--mode", "startup"}, 2, "--end-after"},
             {{"--out=", "--mode", "startup"}, 2, "--out"},
             {{"--sound=", "--mode", "startup"}, 2, "--sound"},
             {{"--registry=", "--mode", "startup"}, 2, "--registry"},
             {{"--device-root=", "--mode", "startup"}, 2, "--device-root"},
             {{"--live", "--live-snapshot=", "--mode", "startup"}, 2, "--live-snapshot"},
             // Given twice: refused, not one of them silently chosen.
             {{"--end-after", "5", "--end-after", "6"}, 2, "--end-after"},
             {{"--out", "a", "--out", "b"}, 2, "--out"},
         }},
        {&info,
         {
             {{"--screen", "8192x8192"}, 0, "--screen"},
             {{"--screen", "8193x8192"}, 2, "--screen"},
             {{"--screen", "8192x8193"}, 2, "--screen"},
             {{"--memory-limit", "1K"}, 1, "--memory-limit"},
             {{"--memory-limit", "1023"}, 2, "--memory-limit"},
             {{"--memory-limit", "64G"}, 0, "--memory-limit"},
             {{"--memory-limit", "68719476737"}, 2, "--memory-limit"},
             {{"--memory-limit=", "--json"}, 2, "--memory-limit"},
             {{"--sound=", "--json"}, 2, "--sound"},
             {{"--mode", "startup"}, 2, "--mode"},
         }},
    };

    int run = 0;
    for (const Command& command : commands) {
        for (const Case& c : command.cases) {
            std::vector<std::string> args = *command.fixed;
            args.insert(args.end(), c.args.begin(), c.args.end());
            const bool isShow = command.fixed == &show;
            const std::string out = "out-" + std::to_string(run++);
            const bool ownOut = isShow && std::find(c.args.begin(), c.args.end(), "--live") ==
                                              c.args.end() &&
                                std::find(c.args.begin(), c.args.end(), "--out") == c.args.end();
            if (ownOut) args.insert(args.end(), {"--out", out});
            std::string shown;
            for (const std::string& a : args) shown += " " + a;
            SCOPED_TRACE(shown);

            RunResult r = RunPreviewProgram(args, dir.path());
            EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
            if (c.exitCode == 2) {
                const std::string blamed = c.refusedFor ? c.refusedFor : c.option;
                EXPECT_NE(r.err.find(blamed), std::string::npos) << r.err;
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
                EXPECT_TRUE(r.out.empty()) << r.out;
                if (ownOut) {
                    EXPECT_FALSE(fs::exists(dir / out));
                }
            }
            if (c.exitCode != 2 || c.refusedFor) {
                EXPECT_EQ(r.err.find(c.option), std::string::npos) << r.err;
            }
            if (isShow && c.exitCode != 2) {
                EXPECT_TRUE(fs::exists(dir / (out + "/report.html"))) << r.out << r.err;
            }
        }
    }
    EXPECT_FALSE(fs::exists(dir / "preview"));
    EXPECT_FALSE(fs::exists(dir / "a"));
}

}  // namespace
