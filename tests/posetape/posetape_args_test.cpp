// posetape's command line: usage, echo, refused arguments and a failed open.
#include <gtest/gtest.h>

#include "posetape_common.h"

using namespace posetape_test;

TEST(PosetapeArgs, NoArgumentsEchoesDefaultsAndRefuses)
{
    harness::RunResult r = harness::run(posetape_args({}), {sim_env()});
    EXPECT_EQ(r.output, USAGE + echo("frames.csv") + "bad args!\n");
    EXPECT_EQ(r.status, 1);
}

TEST(PosetapeArgs, UnknownModeWordEndsBeforeTheEcho)
{
    harness::RunResult r = harness::run(posetape_args({"RECORD", "walk.csv"}), {sim_env()});
    EXPECT_EQ(r.output,
              USAGE + "ERROR: Unknown program mode 'RECORD'. Choose either REC or PLAY!\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(harness::run(posetape_args({"--help", "PLAY"})).output,
              USAGE + "see: man posetape\n");
}

TEST(PosetapeArgs, EachRefusedArgument)
{
    struct Case {
        std::vector<std::string> args;
        std::string echoLine;
    };
    const std::string longName(400, 'n');
    const std::vector<Case> cases = {
        {{"PLAY", "w.csv", "-1"}, echo("w.csv", -1)},
        {{"PLAY", "w.csv", "0", "256"}, echo("w.csv", 0, 256)},
        {{"REC", "w.csv", "0", "31", "256"}, echo("w.csv", 0, 31, 256)},
        {{"REC", "w.csv", "0", "31", "-1"}, echo("w.csv", 0, 31, -1)},
        {{"PLAY", "w.csv", "0", "31", "1", "-0.5"}, echo("w.csv", 0, 31, 1, "-0.50")},
        {{"PLAY", "w.csv", "0", "31", "1", "1000.5"}, echo("w.csv", 0, 31, 1, "1000.50")},
        {{"PLAY", "w.csv", "0", "31", "1", "nan"}, echo("w.csv", 0, 31, 1, "nan")},
        {{"PLAY", "w.csv", "0", "31", "1", "1e300"}, echo("w.csv", 0, 31, 1, "inf")},
        {{"PLAY", "w.csv", "0", "31", "1", "1", "1001"}, echo("w.csv", 0, 31, 1)},
        {{"PLAY", "w.csv", "0", "31", "1", "1", "-1"}, echo("w.csv", 0, 31, 1)},
        {{"PLAY", ""}, echo("")},
        {{"REC", longName}, echo(longName)},
        // Saturated, not wrapped into range.
        {{"PLAY", "w.csv", "4294967297"}, echo("w.csv", 2147483647)},
        {{"PLAY", "w.csv", "0", "31", "1", "2x"}, echo("w.csv", 0, 31, 1, "2.00")},
        {{"PLAY", "w.csv", "0", "31", "1", ""}, echo("w.csv", 0, 31, 1, "0.00")},
        {{"REC", "w.csv", "0", "31", "1", "no", "100", "1 20"}, echo("w.csv", 0, 31, 1, "1.00", 0)},
    };
    for (const Case& c : cases) {
        harness::RunResult r = harness::run(posetape_args(c.args), {sim_env()});
        std::string mode = c.args[0] == "REC" ? "Recording to '" : "Playing '";
        EXPECT_EQ(r.output, USAGE + mode + c.args[1] + "'.\n" + c.echoLine + "bad args!\n")
            << c.args.size() << " arguments, last " << c.args.back();
        EXPECT_EQ(r.status, 1);
    }
}

TEST(PosetapeArgs, AcceptedValuesAndFailedOpen)
{
    // The adapter does not open: reported, and not a success.
    harness::RunResult r = run_piped({"play", "w.csv", "1", "18", "1", "2", "100", "no"},
                                     {"KINETRON_DEVICE=/nonexistent/kinetron-line"});
    EXPECT_EQ(r.output, USAGE + "Playing 'w.csv'.\n" + echo("w.csv", 1, 18, 1, "2.00") +
                            "Failed to open USB2Kinetron!\n");
    EXPECT_EQ(r.status, 1);

    harness::RunResult rec = run_piped({"Rec", "w.csv", "0", "0", "0", "yes"},
                                       {"KINETRON_DEVICE=/nonexistent/kinetron-line"});
    EXPECT_EQ(rec.output, USAGE + "Recording to 'w.csv'.\n" + echo("w.csv", 0, 0, 0) +
                              "Failed to open USB2Kinetron!\n");
    for (const char* no : {"0", "no", "2", "on"}) {
        harness::RunResult off = run_piped({"REC", "w.csv", "0", "0", "0", no},
                                           {"KINETRON_DEVICE=/nonexistent/kinetron-line"});
        EXPECT_NE(off.output.find("<waitToRecord=0>"), std::string::npos) << no;
    }

    // A factor of 0 and the largest values are accepted.
    harness::RunResult edge = run_piped({"PLAY", "w.csv", "255", "255", "255", "0", "1000"},
                                        {"KINETRON_DEVICE=/nonexistent/kinetron-line"});
    EXPECT_EQ(edge.output, USAGE + "Playing 'w.csv'.\n" + echo("w.csv", 255, 255, 255, "0.00") +
                               "Failed to open USB2Kinetron!\n");
}
