// jointwatch run as a person runs it, under a terminal, against the simulated chain.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pty_session.h"

using harness::PtySession;

namespace {

const std::string USAGE = "usage: jointwatch [<idStart> <idEnd> [<baudnum> [<showDebugInfo>]]]\n";
const std::string OPENED = "Succeed to open USB2Kinetron!\nPress ESC key to Quit!\n\n";
const std::string RULE = "|" + std::string(66, '-') + "\n";
const std::string SWITCH = "Changing debug display mode\n";

std::string echo(int first, int last, int baudnum)
{
    char line[96];
    std::snprintf(line, sizeof line, "current: jointwatch <idStart=%d> <idStop=%d> <baudnum=%d>\n",
                  first, last, baudnum);
    return line;
}

std::string header(int first, int last)
{
    std::string ids = "|";
    char cell[8];
    for (int id = first; id <= last; ++id) {
        std::snprintf(cell, sizeof cell, "%3d ", id);
        ids += cell;
    }
    return RULE + ids + "\n" + RULE;
}

std::string row(const std::vector<std::string>& cells)
{
    std::string text = "|";
    char cell[16];
    for (const std::string& c : cells) {
        std::snprintf(cell, sizeof cell, "%3s ", c.c_str());
        text += cell;
    }
    return text + "\n";
}

// Takes off the copies of a row printed before a key took effect.
std::string after_rows(std::string text, const std::string& row_text)
{
    while (text.compare(0, row_text.size(), row_text) == 0)
        text.erase(0, row_text.size());
    return text;
}

void start(PtySession& s, std::vector<std::string> args, const std::string& device)
{
    args.insert(args.begin(), harness::bin_path("jointwatch"));
    ASSERT_TRUE(s.start(args, {"KINETRON_DEVICE=" + device}));
}

void expect_switch(PtySession& s, const char* key, const std::string& before,
                   const std::string& after)
{
    std::size_t m = s.mark();
    s.send(key);
    ASSERT_TRUE(s.wait_for(SWITCH + after, 10000, m)) << s.output_since(m);
    std::string rest = after_rows(s.output_since(m), before);
    ASSERT_EQ(rest.compare(0, SWITCH.size(), SWITCH), 0) << rest;
    EXPECT_EQ(after_rows(rest.substr(SWITCH.size()), after), "");
}

void quit_with_esc(PtySession& s, const std::string& last_row)
{
    std::size_t m = s.mark();
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(10000), 0);
    EXPECT_EQ(after_rows(s.output_since(m), last_row), "\n");
    EXPECT_TRUE(s.terminal_restored());
}

TEST(JointwatchDisplay, DefaultsWatchIdsZeroToEighteen)
{
    PtySession s;
    start(s, {}, "sim");
    std::vector<std::string> cells(19, "512");
    cells[0] = "rxT"; // the chain has no servo 0
    std::string expected = USAGE + echo(0, 18, 35) + OPENED + header(0, 18) + row(cells);
    ASSERT_TRUE(s.wait_for(expected, 15000)) << s.output();
    EXPECT_EQ(s.output().rfind(expected, 0), 0u);
    quit_with_esc(s, row(cells));
}

TEST(JointwatchDisplay, KeysSwitchBetweenTryCountsAndPositions)
{
    PtySession s;
    start(s, {"1", "3", "35", "tRuE"}, "sim:flaky=2"); // servo 2 answers every second request
    const std::string tries = row({"1", "2", "1"}), positions = row({"512", "512", "512"});
    ASSERT_TRUE(s.wait_for(header(1, 3) + tries)) << s.output();
    std::size_t m = s.mark();
    s.send("D");
    ASSERT_TRUE(s.wait_for_count(tries, 3, 10000, m));
    EXPECT_EQ(after_rows(s.output_since(m), tries), "") << "capital D must change nothing";
    expect_switch(s, " ", tries, positions);
    expect_switch(s, "d", positions, tries);
    quit_with_esc(s, tries);
}

TEST(JointwatchDisplay, HeaderRepeatsBeforeRowSixtyOneButNotOnASwitch)
{
    PtySession s;
    start(s, {"1", "1"}, "sim");
    const std::string position = row({"512"});
    std::string sixty;
    for (int i = 0; i < 60; ++i)
        sixty += position;
    std::string expected =
        USAGE + echo(1, 1, 35) + OPENED + header(1, 1) + sixty + header(1, 1) + position;
    ASSERT_TRUE(s.wait_for(expected, 30000)) << s.output();
    EXPECT_EQ(s.output().rfind(expected, 0), 0u);
    expect_switch(s, " ", position, row({"1"}));
    quit_with_esc(s, row({"1"}));
}

TEST(JointwatchDisplay, EmptyRangeReadsNothingAndEscStillEnds)
{
    PtySession s;
    start(s, {"6", "5"}, "sim:stall=6"); // a read of id 6 would hang
    std::string expected = USAGE + echo(6, 5, 35) + OPENED + header(6, 5);
    for (int i = 0; i < 30; ++i)
        expected += "|\n"; // longer than the watchdog's window
    ASSERT_TRUE(s.wait_for(expected, 15000)) << s.output();
    EXPECT_EQ(s.output().rfind(expected, 0), 0u);
    quit_with_esc(s, "|\n");
}

// Runs jointwatch to its end without a key; checks the terminal was given back.
std::string run_to_end(std::vector<std::string> args, const std::string& device, int status)
{
    PtySession s;
    start(s, args, device);
    EXPECT_EQ(s.wait_exit(15000), status);
    EXPECT_TRUE(s.terminal_restored());
    return s.output();
}

TEST(JointwatchFailures, HangingReadEndsThroughTheWatchdog)
{
    EXPECT_EQ(run_to_end({"1", "5"}, "sim:stall=3", 1),
              USAGE + echo(1, 5, 35) + OPENED + header(1, 5) +
                  "|512 512 \nTIMEOUT! Exiting now ...\n");
}

TEST(JointwatchFailures, BadArgumentsAndAnAdapterThatDoesNotOpenEndWithStatusOne)
{
    EXPECT_EQ(run_to_end({"0", "256"}, "sim", 1), USAGE + echo(0, 256, 35) + "bad args!\n");
    EXPECT_EQ(run_to_end({"0", "18", "-1"}, "sim", 1), USAGE + echo(0, 18, -1) + "bad args!\n");
    EXPECT_EQ(run_to_end({"-1"}, "sim", 1), USAGE + echo(-1, 18, 35) + "bad args!\n");
    EXPECT_EQ(run_to_end({"0", "18", "35x"}, "sim", 1), USAGE + echo(0, 18, 35) + "bad args!\n");
    std::string out = run_to_end({}, "sim:no-such-option", 1), head = USAGE + echo(0, 18, 35);
    ASSERT_EQ(out.rfind(head, 0), 0u) << out;
    // after the echo only the library's one line on standard error, then the failure
    std::size_t line_end = out.find('\n', head.size());
    EXPECT_EQ(out.substr(line_end + 1), "Failed to open USB2Kinetron!\n");
}

} // namespace
