// servoscan against the simulated chain: what it lists, how it stops, how it fails.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "pty_session.h"

namespace {

const std::string USAGE = "usage: servoscan [all | <baudnum> ...] [--bps N ...] [--protocol 1|2]\n";
const std::string HEADER = "baud     bps  id  prot  model  fw      deg  temp  volts\n";

harness::Process& start(harness::Process& p, const std::vector<std::string>& args,
                        const std::string& device)
{
    std::vector<std::string> argv{harness::bin_path("servoscan")};
    argv.insert(argv.end(), args.begin(), args.end());
    p.start(argv, {"KINETRON_DEVICE=" + device});
    return p;
}

} // namespace

TEST(Servoscan, ListsEachServoAtItsOwnBaudNumberOnly)
{
    harness::Process p;
    start(p, {"35", "1"}, "sim:ids=3@35+7@1");
    ASSERT_EQ(p.wait_exit(30000), 0) << p.stderr_text();
    std::string out = p.stdout_text();
    ASSERT_EQ(out.rfind(USAGE, 0), 0u) << out;
    std::regex expected("baud  35 \\(  55555 bps\\): 1 found\n"
                        "baud   1 \\(1000000 bps\\): 1 found\n"
                        "baud     bps  id  prot  model  fw      deg  temp  volts\n"
                        "   1 1000000   7   1.0     12  24    150.0 +\\d+ +\\d+\\.\\d\n"
                        "  35   55555   3   1.0     12  24    150.0 +\\d+ +\\d+\\.\\d\n"
                        "Found 2 servos\\.\n");
    EXPECT_TRUE(std::regex_match(out.substr(USAGE.size()), expected)) << out;
}

TEST(Servoscan, BothProtocolsEachModelInUnitsAndASharedRateVisitedOnce)
{
    const std::string chain = "sim:ids=1@1+4-5#1060@3+7#350@3+8#29@250";
    const std::string p1 = "   1 1000000   1   1.0     12  24    150.0    35   11.0\n";
    const std::string p2 = "   3 1000000   4   2.0   1060  46    180.0    35   11.0\n"
                           "   3 1000000   5   2.0   1060  46    180.0    35   11.0\n"
                           "   3 1000000   7   2.0    350  42    150.0    35    7.5\n";
    const struct {
        std::vector<std::string> args;
        std::string out;
    } rows[] = {
        {{"--bps", "2250000", "1", "1"},
         "baud   1 (1000000 bps): 4 found\nbaud 250 (2250000 bps): 1 found\n" + HEADER +
             " 250 2250000   8   1.0     29  41    180.0    35   11.0\n" + p1 + p2 +
             "Found 5 servos.\n"},
        {{"1", "--protocol", "2", "35"},
         "baud   - (1000000 bps): 3 found\n" + HEADER + p2 + "Found 3 servos.\n"},
    };
    for (const auto& row : rows) {
        harness::Process p;
        start(p, row.args, chain);
        EXPECT_EQ(p.wait_exit(30000), 0) << p.stderr_text();
        EXPECT_EQ(p.stdout_text(), USAGE + row.out);
    }
}

TEST(Servoscan, TwoServosSharingAnIdAtDifferentSpeedsAreBothListed)
{
    harness::Process p;
    start(p, {"1", "35"}, "sim:ids=5@35+5@1");
    ASSERT_EQ(p.wait_exit(30000), 0) << p.stderr_text();
    std::string out = p.stdout_text();
    EXPECT_NE(out.find("   1 1000000   5 "), std::string::npos) << out;
    EXPECT_NE(out.find("  35   55555   5 "), std::string::npos) << out;
    EXPECT_NE(out.find("Found 2 servos.\n"), std::string::npos) << out;
}

TEST(Servoscan, EmptyBusBadArgumentsAndMissingAdapterEndWithStatusOne)
{
    {
        harness::Process p;
        start(p, {"9"}, "sim");
        EXPECT_EQ(p.wait_exit(30000), 1);
        EXPECT_EQ(p.stdout_text(),
                  USAGE + "baud   9 ( 200000 bps): 0 found\n" + HEADER + "Found 0 servos.\n");
    }
    for (const char* bad : {"255", "-1", "all 3", "1 all", "3x", "1 two", "--protocol 3",
                            "--bps 12", "--protocol 1 --bps 57600", "--bps"}) {
        harness::Process p;
        std::vector<std::string> args;
        std::string text(bad);
        for (std::size_t at = 0; at != std::string::npos;) {
            std::size_t space = text.find(' ', at);
            args.push_back(text.substr(at, space == std::string::npos ? space : space - at));
            at = space == std::string::npos ? space : space + 1;
        }
        start(p, args, "sim");
        EXPECT_EQ(p.wait_exit(), 1) << bad;
        EXPECT_EQ(p.stdout_text(), USAGE + "bad args!\n") << bad;
    }
    {
        harness::Process p;
        start(p, {"1"}, "/nonexistent/ttyUSB9");
        EXPECT_EQ(p.wait_exit(), 1);
        EXPECT_EQ(p.stdout_text(), USAGE + "Failed to open USB2Kinetron!\n");
        EXPECT_NE(p.stderr_text().find("/nonexistent/ttyUSB9"), std::string::npos);
    }
}

TEST(Servoscan, EscapeStopsTheScanAndShowsWhatWasFound)
{
    harness::PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("servoscan"), "all"}, {"KINETRON_DEVICE=sim:ids=4@0"}));
    ASSERT_TRUE(s.wait_for("baud   0 (2000000 bps): 1 found\n", 30000)) << s.output();
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(20000), 0);
    std::string out = s.output();
    EXPECT_NE(out.find("   0 2000000   4 "), std::string::npos) << out;
    EXPECT_NE(out.find("Found 1 servos.\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("baud 254"), std::string::npos) << "the scan went on after ESC";
    EXPECT_TRUE(s.terminal_restored());
}
