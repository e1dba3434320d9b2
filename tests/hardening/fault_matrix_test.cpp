// Every bus tool against a chain that loses, corrupts, cuts short and buries replies in
// noise: no crash, failed values shown as their result texts, the usual exit statuses.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <sstream>

#include "hardening_common.h"
#include "pty_session.h"

using harness::PtySession;
using namespace hardening;

namespace {

const char* const SEEDS[] = {"1", "1234"};

bool is_code(const std::string& t)
{
    return t == "txF" || t == "rxF" || t == "txE" || t == "rxW" || t == "rxT" || t == "rxC";
}

bool is_number(const std::string& t, bool negative_allowed = false)
{
    std::size_t start = (negative_allowed && !t.empty() && t[0] == '-') ? 1 : 0;
    return t.size() > start && t.find_first_not_of("0123456789", start) == std::string::npos;
}

// The words of `text` after `label` on its line.
std::vector<std::string> words_after(const std::string& text, const std::string& label)
{
    std::vector<std::string> words;
    std::size_t at = text.find(label);
    if (at == std::string::npos)
        return words;
    std::size_t end = text.find('\n', at);
    std::istringstream in(text.substr(at + label.size(), end - at - label.size()));
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::string tool(const std::string& name) { return harness::bin_path(name); }

} // namespace

TEST(FaultMatrix, RegisterToolsShowValuesOrCodesAndEndNormally)
{
    for (const char* seed : SEEDS) {
        std::string env = faulty_sim("ids=1-3", std::atoi(seed));
        // Servo 1 answers through the faults, servo 7 is absent.
        for (const char* id : {"1", "7"}) {
            harness::RunResult b = harness::run({tool("regbyte"), id, "35", "25", "1"}, {env});
            EXPECT_EQ(b.status, 0) << b.output;
            std::vector<std::string> now = words_after(b.output, "Now:");
            ASSERT_EQ(now.size(), 5u) << b.output;
            for (const std::string& w : now)
                EXPECT_TRUE(std::string(id) == "1" ? is_number(w) : w == "rxT") << seed << " " << w;

            harness::RunResult w = harness::run({tool("regword"), id, "35", "30", "600"}, {env});
            EXPECT_EQ(w.status, 0) << w.output;
            std::vector<std::string> original = words_after(w.output, "baud 35:");
            ASSERT_EQ(original.size(), 1u) << w.output;
            EXPECT_TRUE(is_number(original[0]) || is_code(original[0])) << w.output;
            EXPECT_EQ(words_after(w.output, "Now:").size(), 10u) << w.output;
        }
    }
}

TEST(FaultMatrix, ToolsWithoutRetriesPrintWhatTheBusGaveAndEndNormally)
{
    std::string env = faulty_sim("ids=1-3", 3);
    harness::RunResult hold = harness::run({tool("holdswitch"), "1", "35", "1"}, {env});
    EXPECT_EQ(hold.status, 0) << hold.output;
    std::string last = hold.output.substr(hold.output.rfind('\n') + 1);
    std::istringstream in(last);
    int count = 0;
    for (std::string w; in >> w; ++count)
        EXPECT_TRUE(w == "1" || w == "-1") << w;
    EXPECT_EQ(count, 20) << hold.output;

    harness::RunResult all = harness::run({tool("holdswitch")}, {env});
    EXPECT_EQ(all.status, 0) << all.output;

    PtySession reset;
    ASSERT_TRUE(reset.start({tool("factoryclear"), "254", "35"}, {env}));
    ASSERT_TRUE(reset.wait_for("Hit Y to continue: \n"));
    reset.send("y");
    EXPECT_EQ(reset.wait_exit(), 0);
    EXPECT_NE(reset.output().find(std::string(20, '.') + "\nFinished reseting motor 254"),
              std::string::npos)
        << reset.output();

    // linkspeed cycles without end; each cycle prints both reads, -1 when one failed.
    PtySession speed;
    ASSERT_TRUE(speed.start({tool("linkspeed"), "2", "35", "35"}, {env}));
    ASSERT_TRUE(speed.wait_for_count("Trying again ...\n", 4)) << speed.output();
    speed.signal(SIGTERM);
    EXPECT_EQ(speed.wait_exit(), 128 + SIGTERM);
    std::istringstream lines(speed.output());
    int shown = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 15, "Old Baud Rate: ") == 0 ||
            line.compare(0, 15, "New Baud Rate: ") == 0) {
            std::string v = line.substr(15);
            EXPECT_TRUE(v == "35" || v == "-1") << line;
            ++shown;
        }
    }
    EXPECT_GE(shown, 8);
}

TEST(FaultMatrix, ServoscanListsWhatAnsweredAndItsStatusSaysSo)
{
    for (const char* seed : SEEDS) {
        harness::RunResult r =
            harness::run({tool("servoscan"), "35"}, {faulty_sim("ids=1-3", std::atoi(seed))});
        int found = -1;
        std::size_t at = r.output.find("Found ");
        ASSERT_NE(at, std::string::npos) << r.output;
        ASSERT_EQ(std::sscanf(r.output.c_str() + at, "Found %d servos.", &found), 1);
        EXPECT_LE(found, 3);
        EXPECT_EQ(r.status, found > 0 ? 0 : 1) << r.output;
    }
}

TEST(FaultMatrix, JointwatchShowsCodesForAbsentServosAndEndsOnEsc)
{
    PtySession s;
    ASSERT_TRUE(s.start({tool("jointwatch"), "0", "5", "35"}, {faulty_sim("ids=1-3", 11)}));
    ASSERT_TRUE(s.wait_for_count("\n|", 25)) << s.output();
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_TRUE(s.terminal_restored());
    int rows = 0;
    for (const std::string& line : lines_of(s.output())) {
        if (line.size() < 2 || line[0] != '|' || line[1] == '-' ||
            line == "|  0   1   2   3   4   5 ")
            continue;
        std::istringstream in(line.substr(1));
        std::vector<std::string> cells;
        for (std::string c; in >> c;)
            cells.push_back(c);
        ASSERT_EQ(cells.size(), 6u) << line;
        for (int i : {0, 4, 5})
            EXPECT_EQ(cells[i], "rxT") << line;
        for (int i : {1, 2, 3})
            EXPECT_TRUE(is_number(cells[i]) || is_code(cells[i])) << line;
        ++rows;
    }
    EXPECT_GE(rows, 20);
}

TEST(FaultMatrix, SwingtestKeepsItsDisplayAndKeys)
{
    PtySession s;
    ASSERT_TRUE(s.start({tool("swingtest"), "2", "35", "400", "600"}, {faulty_sim("ids=1-3", 5)}));
    ASSERT_TRUE(s.wait_for_count("currTemp: ", 20)) << s.output();
    std::size_t m = s.mark();
    s.send(harness::KEY_ESC);
    ASSERT_TRUE(s.wait_for("Emergency stopped motor!\n", 10000, m));
    s.send("x");
    ASSERT_TRUE(s.wait_for("Press any key to terminate...\n", 10000, m));
    s.send("k");
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_TRUE(s.terminal_restored());
    for (const std::string& line : lines_of(s.output())) {
        if (line.compare(0, 13, "desired pos: ") != 0)
            continue;
        char pos[16], load[16], temp[16];
        int desired = 0;
        ASSERT_EQ(
            std::sscanf(line.c_str(),
                        "desired pos: %d,  currPos: %15[^,], currTorque: %15[^,], currTemp: %15s",
                        &desired, pos, load, temp),
            4)
            << line;
        EXPECT_TRUE(desired == 400 || desired == 600) << line;
        for (const char* cell : {pos, load, temp}) {
            std::istringstream in(cell);
            std::string c;
            in >> c;
            EXPECT_TRUE(is_number(c) || is_code(c)) << line;
        }
    }
}

// A recording through the faults holds only complete recorded lines, and reads back with
// no message but the code texts of failed reads.
TEST(FaultMatrix, RecordingReadsBackWithOnlyCodeWarnings)
{
    // drop=0.3 rarely fails ten tries in a row; a heavier loss on top puts codes in the file.
    for (const char* more : {"ids=1-3,hand=wave", "ids=1-3,hand=wave,drop=0.85"}) {
        std::string path = harness::temp_dir() + "/faulty.csv";
        PtySession rec;
        ASSERT_TRUE(rec.start({tool("posetape"), "REC", path, "0", "5", "35", "0"},
                              {faulty_sim(more, 21)}));
        ASSERT_TRUE(rec.wait_for_count("\n|[", 30, 30000)) << rec.output();
        rec.send(harness::KEY_ESC);
        ASSERT_EQ(rec.wait_exit(), 0) << rec.output();
        std::string out = rec.output();
        int found = 0;
        std::size_t at = out.find("Found ");
        ASSERT_NE(at, std::string::npos);
        std::sscanf(out.c_str() + at, "Found %d", &found);
        ASSERT_GT(found, 0) << out;

        std::vector<std::string> lines = checked_recording(path, found);
        ASSERT_FALSE(lines.empty());

        // Played back on the same faulty chain, without pauses.
        Measured play = run_measured({tool("posetape"), "PLAY", path, "0", "5", "35", "0"},
                                     {faulty_sim("ids=1-3", 22)});
        EXPECT_EQ(play.status, 0) << play.output;
        EXPECT_TRUE(only_code_warnings(play.output, path)) << play.output;
        EXPECT_NE(play.output.find("Resetting the desired motor speeds to"), std::string::npos);
        if (std::string(more).find("0.85") != std::string::npos) {
            EXPECT_NE(play.output.find("Warning: Found a bad Motor value of 'rx"),
                      std::string::npos)
                << "the heavy loss should have left codes in the file";
        }
    }
}

TEST(FaultMatrix, PlaybackOfTheSamplesEndsNormally)
{
    for (const char* sample : {"samples/wave_recorded.csv", "samples/raise_arms_absolute.csv",
                               "samples/sway_relative.csv"}) {
        std::string path = harness::source_path(sample);
        Measured play = run_measured({tool("posetape"), "PLAY", path, "0", "31", "35", "0"},
                                     {faulty_sim("", 31)});
        EXPECT_EQ(play.status, 0) << sample << "\n" << play.output;
        EXPECT_EQ(play.output.find("ERROR"), std::string::npos) << play.output;
    }
}
