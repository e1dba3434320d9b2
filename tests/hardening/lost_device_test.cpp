// The line goes dead under a running tool (servosim ended, as when a cable falls out): the
// tools that loop stop at once with one line naming the device and status 1, the terminal
// given back; a tool that retries opening the line ends when it does not reopen.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>

#include "hardening_common.h"
#include "pty_session.h"

using harness::PtySession;
using namespace hardening;

namespace {

void end_device(harness::Servosim& sim, int signal_number)
{
    sim.process().signal(signal_number);
    ASSERT_NE(sim.process().wait_exit(10000), -1) << "servosim did not end";
}

// A playback long enough to be cut off: 2000 frames of 20 ms for servos 1..3.
std::string long_playback()
{
    std::string path = harness::temp_dir() + "/lost_play.csv";
    std::string text = "FILETYPE: AbsolutePositions\n1,2,3\n";
    for (int i = 0; i < 2000; ++i)
        text += "20, " + std::to_string(400 + i % 200) + ", 500, 600\n";
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    return path;
}

} // namespace

TEST(LostDevice, LoopingToolsStopWhenTheLineIsGone)
{
    const std::string rec = harness::temp_dir() + "/lost.csv";
    struct Row {
        std::vector<std::string> args;
        std::string sim;
        std::string running; // printed over and over while the tool works
        int signal_number;
    } rows[] = {
        {{"jointwatch", "1", "3", "35"}, "ids=1-3", "|512 512 512 \n", SIGKILL},
        {{"jointwatch", "1", "3", "35"}, "ids=1-3", "|512 512 512 \n", SIGTERM},
        {{"posetape", "REC", rec, "1", "3", "35", "0"}, "ids=1-3,hand=wave", "\n|[", SIGTERM},
        {{"posetape", "PLAY", long_playback(), "1", "3", "35", "0"},
         "ids=1-3",
         "Moving the motors",
         SIGKILL},
        {{"swingtest", "2", "35", "400", "600"}, "ids=1-3", "currTemp: ", SIGKILL},
        // 35 is where the servos are: the scan lists them, then the line dies at 1.
        {{"servoscan", "35", "1", "3", "4"}, "ids=1-3", "baud  35 ", SIGKILL},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        harness::Servosim sim(row.sim);
        ASSERT_FALSE(sim.device().empty());
        row.args[0] = harness::bin_path(row.args[0]);
        PtySession s;
        ASSERT_TRUE(s.start(row.args, {sim.env()}));
        ASSERT_TRUE(s.wait_for_count(row.running, row.running[0] == 'b' ? 1 : 5)) << s.output();
        end_device(sim, row.signal_number);
        std::size_t gone = s.mark();
        EXPECT_EQ(s.wait_exit(), 1) << s.output_since(gone);
        std::string after = s.output_since(gone);
        EXPECT_NE(after.find(sim.device() + ": the line to the servos is gone\n"),
                  std::string::npos)
            << after;
        // No further prompt, no reset of the speeds, no watchdog.
        for (const char* text : {"Press any key", "Resetting", "TIMEOUT", "Found "})
            EXPECT_EQ(after.find(text), std::string::npos) << after;
        EXPECT_TRUE(s.terminal_restored());
    }
    // Every line the recording wrote is whole.
    std::string text = read_file(rec);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> lines = lines_of(text);
    ASSERT_GE(lines.size(), 7u);
    for (std::size_t i = 2; i < lines.size(); ++i)
        EXPECT_TRUE(is_recorded_line(lines[i], 3)) << lines[i];
}

TEST(LostDevice, LinkspeedEndsWhenTheLineDoesNotReopen)
{
    // Through servosim's link, which it removes as it ends: the pty's own path may be
    // handed to another program's terminal at once.
    std::string link = harness::temp_dir() + "/line";
    harness::Process sim;
    ASSERT_TRUE(sim.start({harness::bin_path("servosim"), "ids=1-3", "--link", link}));
    ASSERT_TRUE(sim.wait_for_stdout("\n"));
    PtySession s;
    ASSERT_TRUE(
        s.start({harness::bin_path("linkspeed"), "1", "35", "35"}, {"KINETRON_DEVICE=" + link}));
    ASSERT_TRUE(s.wait_for_count("Trying again ...\n", 2)) << s.output();
    sim.signal(SIGTERM);
    EXPECT_EQ(s.wait_exit(), 1) << s.output();
    // (The library's reason, on standard error, shares the terminal.)
    const std::string last = "Failed to open USB2Kinetron!\n";
    std::string out = s.output();
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
    EXPECT_TRUE(s.terminal_restored());
}

TEST(LostDevice, FactoryclearDoesNotReportADeadAdapterAsFinished)
{
    harness::Servosim sim("ids=1");
    harness::Process p;
    ASSERT_TRUE(p.start({harness::bin_path("factoryclear"), "1"}, {sim.env()}, "y"));
    ASSERT_TRUE(p.wait_for_stdout("Trying at baudrate 1 (")) << p.stdout_text();
    end_device(sim, SIGKILL);
    EXPECT_EQ(p.wait_exit(20000), 1) << p.stdout_text();
    EXPECT_EQ(p.stdout_text().back(), '\n'); // the row of dots ends; no "Finished"
    EXPECT_EQ(p.stdout_text().find("Finished"), std::string::npos) << p.stdout_text();
    EXPECT_NE(p.stderr_text().find("the reset is not complete\n"), std::string::npos);
}
