// The line goes dead under a running tool (servosim ended, as when a cable falls out): the
// tools that loop stop at once with one line naming the device and status 1, the terminal
// given back; a tool that retries opening the line ends when it does not reopen.
#include <gtest/gtest.h>

#include <signal.h>

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

} // namespace

TEST(LostDevice, LoopingToolsStopWhenTheLineIsGone)
{
    const std::string rec = harness::temp_dir() + "/lost.csv";
    const std::string play = harness::source_path("samples/wave_recorded.csv");
    struct Row {
        std::vector<std::string> args;
        std::string running; // printed over and over while the tool works
        int count;
    } rows[] = {
        {{"jointwatch", "1", "3", "35"}, "\n|", 10},
        {{"posetape", "REC", rec, "1", "3", "35", "0"}, "\n|[", 31}, // 30 rows whole
        {{"posetape", "PLAY", play, "1", "3", "35"}, "Moving the motors", 3},
        {{"swingtest", "2", "35", "400", "600"}, "currTemp: ", 5},
        // 35 is where the servos are: the scan lists them, then the line dies at 1.
        {{"servoscan", "35", "1", "3", "4"}, "baud  35 ", 1},
        // Nobody listens at 254 (7843 bps): each of 18 tables is tried ten times, for seconds.
        {{"servocheck", "motion", play, "1", "18", "254"}, "FILETYPE: ", 1},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        harness::Servosim sim("ids=1-3,hand=wave");
        row.args[0] = harness::bin_path(row.args[0]);
        PtySession s;
        ASSERT_TRUE(s.start(row.args, {sim.env()}));
        ASSERT_TRUE(s.wait_for_count(row.running, row.count, 20000)) << s.output();
        // Marked before the kill: a quick tool may say the line is gone before the kill
        // returns.
        std::size_t gone = s.mark();
        end_device(sim, SIGKILL);
        EXPECT_EQ(s.wait_exit(), 1) << s.output_since(gone);
        std::string after = s.output_since(gone);
        EXPECT_NE(after.find(sim.device() + ": the line to the servos is gone\n"),
                  std::string::npos)
            << after;
        // No further prompt, no reset of the speeds, no watchdog.
        for (const char* text : {"Press any key", "Resetting", "TIMEOUT", " servos.\n"})
            EXPECT_EQ(after.find(text), std::string::npos) << after;
        EXPECT_TRUE(s.terminal_restored());
    }
    EXPECT_FALSE(checked_recording(rec, 3).empty()); // every line written is whole
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
