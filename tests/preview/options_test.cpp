// Command-line parsing: what is accepted, and a clear message for each kind of bad argument.
#include "preview/options.h"

#include <gtest/gtest.h>

namespace preview {
namespace {

TEST(Options, NoArgumentsMeansTheBundledSampleIntoPreview) {
    ParseResult r = ParseArguments({});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.options.noArguments);
    EXPECT_EQ(r.options.command, Command::Show);
    EXPECT_EQ(r.options.outDir, "preview");
    EXPECT_EQ(r.options.screenWidth, 240);
    EXPECT_EQ(r.options.screenHeight, 320);
}

TEST(Options, ShowOptionsAreReadWithSeparateOrInlineValues) {
    ParseResult r =
        ParseArguments({"show", "--mode", "shutdown", "--screen=480x640", "--memory-limit", "2M",
                        "--end-after", "1500", "--image", "a.gif", "--sound=b.wav", "--out", "o"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.mode, "shutdown");
    EXPECT_EQ(r.options.screenWidth, 480);
    EXPECT_EQ(r.options.screenHeight, 640);
    EXPECT_EQ(r.options.memoryLimit, 2u << 20);
    EXPECT_EQ(r.options.endAfterMs, 1500u);
    EXPECT_EQ(r.options.image, "a.gif");
    EXPECT_EQ(r.options.sound, "b.wav");
    EXPECT_EQ(r.options.outDir, "o");
}

TEST(Options, ModesInAnyCaseVersionAndHelp) {
    struct Case {
        std::vector<std::string> args;
        Command command;
        const char* mode;
    };
    const Case cases[] = {
        {{"--mode", "Shutdown"}, Command::Show, "shutdown"},
        {{"--mode", "Both"}, Command::Show, "both"},
        {{"show", "--mode=STARTUP", "--live"}, Command::Show, "startup"},
        {{"--version"}, Command::Version, "startup"},
        {{"help"}, Command::Help, "startup"},
        {{"info", "a.gif", "--help"}, Command::Help, "startup"},
    };
    for (const Case& c : cases) {
        ParseResult r = ParseArguments(c.args);
        ASSERT_TRUE(r.ok) << c.args[0] << ": " << r.error;
        EXPECT_EQ(r.options.command, c.command) << c.args[0];
        EXPECT_EQ(r.options.mode, c.mode) << c.args[0];
    }
}

TEST(Options, InfoTakesOneFileAndItsOwnOptions) {
    ParseResult r = ParseArguments({"info", "x.gif", "--json", "--screen", "100x50"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.command, Command::Info);
    EXPECT_EQ(r.options.infoFile, "x.gif");
    EXPECT_TRUE(r.options.json);
    EXPECT_EQ(r.options.screenWidth, 100);
}

TEST(Options, BadArgumentsAreRefusedWithAMessageNamingTheProblem) {
    struct Case {
        std::vector<std::string> args;
        const char* messagePart;
    };
    const Case cases[] = {
        {{"play"}, "unknown command 'play'"},
        {{"show", "--bogus"}, "unknown option '--bogus'"},
        {{"show", "--screen", "0x320"}, "--screen '0x320'"},
        {{"show", "--screen", "240x"}, "--screen '240x'"},
        {{"show", "--screen", "99999x99999"}, "--screen '99999x99999'"},
        {{"show", "--screen", "-240x320"}, "--screen '-240x320'"},
        {{"show", "--memory-limit", "12"}, "--memory-limit '12'"},
        {{"show", "--memory-limit", "1T"}, "--memory-limit '1T'"},
        {{"show", "--memory-limit", "99999999999999999999999"}, "--memory-limit"},
        {{"show", "--memory-limit", "lots"}, "--memory-limit 'lots'"},
        {{"show", "--mode", "reboot"}, "--mode 'reboot'"},
        {{"--mode", "both", "--live"}, "--mode both cannot be used with --live"},
        {{"show", "--end-after", "-5"}, "--end-after '-5'"},
        {{"show", "--image"}, "option --image needs a path"},
        {{"show", "--out="}, "option --out needs a path"},
        {{"info"}, "info needs a picture file"},
        {{"info", "a.gif", "b.gif"}, "unexpected argument 'b.gif'"},
        {{"info", "a.gif", "--live"}, "unknown option '--live'"},
        {{"show", "--live-snapshot", "x.png"}, "needs --live"},
        {{"--live", "--out", "o"}, "--out cannot be used with --live"},
        {{"--mode"}, "option --mode needs startup, shutdown or both"},
    };
    for (const Case& c : cases) {
        ParseResult r = ParseArguments(c.args);
        EXPECT_FALSE(r.ok) << c.args.back();
        EXPECT_NE(r.error.find(c.messagePart), std::string::npos) << "message was: " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << "one line: " << r.error;
    }
}

TEST(Options, ByteCountsTakeBinarySuffixes) {
    std::uint64_t bytes = 0;
    ASSERT_TRUE(ParseByteCount("64K", &bytes));
    EXPECT_EQ(bytes, 65536u);
    ASSERT_TRUE(ParseByteCount("3g", &bytes));
    EXPECT_EQ(bytes, 3ull << 30);
    EXPECT_FALSE(ParseByteCount("K", &bytes));
    EXPECT_FALSE(ParseByteCount("1.5M", &bytes));
}

}  // namespace
}  // namespace preview
