// SIGINT and SIGTERM (and Ctrl-C typed at the terminal) in the middle of every tool's
// loop: the terminal is given back, the tool ends by that signal, and a recording keeps
// only complete lines.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include "hardening_common.h"
#include "pty_session.h"

using harness::PtySession;
using namespace hardening;

namespace {

const std::string SIM = "KINETRON_DEVICE=sim";
const char CTRL_C[] = "\x03";

struct Stop {
    int signal_number;
    bool typed; // Ctrl-C at the terminal rather than a signal sent to the process
};
const Stop STOPS[] = {{SIGINT, false}, {SIGTERM, false}, {SIGINT, true}};

std::string describe(const Stop& stop)
{
    return stop.typed ? "Ctrl-C" : stop.signal_number == SIGINT ? "SIGINT" : "SIGTERM";
}

// Starts a tool, waits until it is in its loop (`busy` seen `count` times), stops it and
// checks that it ended by the signal and gave the terminal back.
void stop_in_loop(const std::vector<std::string>& argv, const std::string& env,
                  const std::string& busy, int count, const Stop& stop,
                  const std::string& answer_first = std::string())
{
    SCOPED_TRACE(argv[0] + " stopped by " + describe(stop));
    PtySession s;
    ASSERT_TRUE(s.start(argv, {env}));
    if (!answer_first.empty()) {
        ASSERT_TRUE(s.wait_for("\n")) << s.output();
        s.send(answer_first);
    }
    ASSERT_TRUE(s.wait_for_count(busy, count, 20000)) << s.output();
    if (stop.typed)
        s.send(CTRL_C);
    else
        s.signal(stop.signal_number);
    EXPECT_EQ(s.wait_exit(), 128 + stop.signal_number) << s.output();
    EXPECT_TRUE(s.terminal_restored());
}

} // namespace

TEST(Signals, RecordingKeepsEveryCompleteLine)
{
    for (const Stop& stop : STOPS) {
        SCOPED_TRACE(describe(stop));
        std::string path = harness::temp_dir() + "/stopped.csv";
        PtySession s;
        ASSERT_TRUE(s.start({harness::bin_path("posetape"), "REC", path, "1", "6", "35", "0"},
                            {SIM + ":ids=1-6,hand=wave"}));
        ASSERT_TRUE(s.wait_for_count("\n|[", 30, 20000)) << s.output();
        if (stop.typed)
            s.send(CTRL_C);
        else
            s.signal(stop.signal_number);
        EXPECT_EQ(s.wait_exit(), 128 + stop.signal_number);
        EXPECT_TRUE(s.terminal_restored());

        std::vector<std::string> lines = checked_recording(path, 6);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[1], "        1,  2,  3,  4,  5,  6,");
    }
}

TEST(Signals, PlaybackGivesTheTerminalBack)
{
    // Frames of 20 ms each: the signal lands in a pause or among the packets.
    std::string path = harness::temp_dir() + "/long.csv";
    {
        std::string text = "FILETYPE: AbsolutePositions\n1,2,3\n";
        for (int i = 0; i < 2000; ++i)
            text += "20, " + std::to_string(400 + i % 200) + ", 500, 600\n";
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    for (const Stop& stop : STOPS)
        stop_in_loop({harness::bin_path("posetape"), "PLAY", path, "1", "3"}, SIM,
                     "Moving the motors", 10, stop);
}

TEST(Signals, LoopingToolsGiveTheTerminalBack)
{
    for (const Stop& stop : STOPS) {
        stop_in_loop({harness::bin_path("jointwatch"), "1", "3", "35"}, SIM, "\n|", 10, stop);
        stop_in_loop({harness::bin_path("swingtest"), "1", "35", "300", "700"}, SIM,
                     "currTemp: ", 10, stop);
        stop_in_loop({harness::bin_path("linkspeed"), "1", "35", "35"}, SIM, "Trying again ...\n",
                     3, stop);
        // The sweep over every baud number runs for about a minute.
        stop_in_loop({harness::bin_path("factoryclear"), "1"}, SIM, "Trying at baudrate ", 3, stop,
                     "y");
    }
}

TEST(Signals, ToolWaitingForAKeyGivesTheTerminalBack)
{
    // swingtest without a servo waits for a key to terminate; Ctrl-C there as well.
    for (const Stop& stop : STOPS)
        stop_in_loop({harness::bin_path("swingtest"), "9", "35"}, SIM + ":ids=1-3",
                     "Press any key to terminate...\n", 1, stop);
}

TEST(Signals, ReaderOfThePipedOutputGoneGivesTheTerminalBack)
{
    // `jointwatch | head`: the keys still come from the terminal, the rows go to a pipe whose
    // reader leaves; the next row ends the tool by SIGPIPE.
    for (const char* tool : {"jointwatch 1 3 35", "posetape PLAY "}) {
        std::string command = harness::bin_path("") + tool;
        if (std::string(tool).find("PLAY") != std::string::npos)
            command += harness::source_path("samples/wave_recorded.csv") + " 0 31 35 0";
        PtySession s;
        ASSERT_TRUE(s.start({"/bin/sh", "-c", command + " | head -n 12"}, {SIM}));
        EXPECT_EQ(s.wait_exit(20000), 0) << s.output();
        EXPECT_TRUE(s.terminal_restored()) << tool;
    }
}

TEST(Signals, PlaybackWaitingForAFifoWriterEndsOnCtrlC)
{
    std::string fifo = harness::temp_dir() + "/nobody.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("posetape"), "PLAY", fifo}, {SIM}));
    ASSERT_TRUE(s.wait_for("Press ESC key to Quit!\n\n")) << s.output();
    EXPECT_TRUE(s.running()) << "opening a FIFO waits for its writer";
    s.send(CTRL_C);
    EXPECT_EQ(s.wait_exit(), 128 + SIGINT);
    EXPECT_TRUE(s.terminal_restored());
}
