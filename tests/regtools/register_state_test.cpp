// The register tools against a simulated chain. Exact output comes from the in-process
// chain, which answers without delay; runs whose servo state must carry over to a later
// run go through servosim.
#include <gtest/gtest.h>
#include <signal.h>

#include "regtools_common.h"

using namespace regtools;

namespace {

TEST(RegisterTools, ReadOnlyRunShowsOneReadingThenN)
{
    harness::RunResult r = run_tool("regbyte", {"3", "35", "3"}, "sim:ids=3");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "usage: regbyte <id> <baudnum> <offsetAddr> [<byteValue>]\n"
                        "current: regbyte <id=3> <baudnum=35> <offsetAddr=3> [<byteValue=-1>]\n"
                        "Succeed to open USB2Kinetron!\n"
                        "Original BYTE value at addr 3, motor 3, baud 35:   3 \n" +
                            now_line("  3 ", 5));
    // An explicit -1 is the same read-only run.
    r = run_tool("regword", {"3", "35", "0", "-1"}, "sim:ids=3");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output.substr(r.output.find("Original")),
              "Original WORD value at addr 0, motor 3, baud 35:  12 \n" + now_line(" 12 ", 10));
}

TEST(RegisterTools, WriteRunWritesTwicePerPass)
{
    harness::Process p;
    ASSERT_TRUE(p.start({harness::bin_path("regword"), "2", "35", "32", "300"},
                        {"KINETRON_DEVICE=sim:ids=2,trace"}));
    EXPECT_EQ(p.wait_exit(), 0);
    // The first reading precedes every write.
    EXPECT_EQ(p.stdout_text().substr(p.stdout_text().find("Original")),
              "Original WORD value at addr 32, motor 2, baud 35:   0 \n" + now_line("300 ", 10));
    EXPECT_EQ(count_lines_with(p.stderr_text(), "WRITE id 2  address 32  values 2C 01"), 20)
        << p.stderr_text();
}

TEST(RegisterTools, WrittenValueReadsBackInALaterRun)
{
    harness::Servosim sim("ids=2");
    ASSERT_FALSE(sim.device().empty());
    EXPECT_EQ(run_tool("regbyte", {"2", "35", "25", "1"}, sim.device()).status, 0);
    EXPECT_EQ(settled_reading(sim, "2", "35", "25"), now_line("  1 ", 5));
    // Text that is no number is refused and writes nothing.
    EXPECT_EQ(run_tool("regbyte", {"2", "35", "25", "off"}, sim.device()).status, 1);
    EXPECT_EQ(settled_reading(sim, "2", "35", "25"), now_line("  1 ", 5));
}

TEST(RegisterTools, AbsentServoShowsItsResultText)
{
    harness::RunResult r = run_tool("regbyte", {"9", "35", "3"}, "sim:ids=1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output.substr(r.output.find("baud 35:")), "baud 35: rxT \n" + now_line("rxT ", 5));
}

TEST(Holdswitch, SingleMotorPrintsTwentyReadingsWithoutLineFeed)
{
    const std::string head = "usage: holdswitch [<id> <baudnum> <0|1>]\nsetting motor 4 ";
    const std::string opened =
        "Succeed to open USB2Kinetron!\nSetting Torque mode many times ...\n";
    harness::RunResult r = run_tool("holdswitch", {"4", "35", "1"}, "sim:ids=4");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, head + "ON\n" + opened + repeat("1 ", 20));
    r = run_tool("holdswitch", {"4", "35", "0"}, "sim:ids=4");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, head + "OFF\n" + opened + repeat("0 ", 20));
    r = run_tool("holdswitch", {"5", "35", "0"}, "sim:ids=4"); // nobody answers
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(repeat("-1 ", 20) + "\nholdswitch: servo 5 did not"),
              std::string::npos);
}

TEST(Holdswitch, TorqueStaysAsAskedAndAllMotorsSwitchesItOffAtBothSpeeds)
{
    harness::Servosim sim("ids=1@35+2@1");
    ASSERT_FALSE(sim.device().empty());
    EXPECT_EQ(run_tool("holdswitch", {"1", "35", "1"}, sim.device()).status, 0);
    EXPECT_EQ(run_tool("holdswitch", {"2", "1", "1"}, sim.device()).status, 0);
    ASSERT_EQ(settled_reading(sim, "1", "35", "24"), now_line("  1 ", 5));
    ASSERT_EQ(settled_reading(sim, "2", "1", "24"), now_line("  1 ", 5));

    harness::RunResult r = run_tool("holdswitch", {}, sim.device());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "usage: holdswitch [<id> <baudnum> <0|1>]\nSucceed to open USB2Kinetron!\n"
                        "Disabling Torque on all motors 5 times at baudrates 56kbps and 1Mbps.\n");
    EXPECT_EQ(settled_reading(sim, "1", "35", "24"), now_line("  0 ", 5));
    EXPECT_EQ(settled_reading(sim, "2", "1", "24"), now_line("  0 ", 5));
}

// Runs linkspeed 1 35 1 until it has finished two cycles, then ends it by a signal.
std::string two_linkspeed_cycles(const std::string& device)
{
    harness::PtySession s;
    if (!s.start({harness::bin_path("linkspeed"), "1", "35", "1"}, {"KINETRON_DEVICE=" + device}))
        return "not started";
    bool cycled = s.wait_for_count("Trying again ...\n", 2);
    s.signal(SIGINT);
    EXPECT_EQ(s.wait_exit(), 128 + SIGINT);
    return cycled ? s.output() : "no two cycles in: " + s.output();
}

TEST(Linkspeed, CyclesAtTheOldSpeedAndTheServoMovesToTheNew)
{
    // The first cycle already finds nobody at 35 after its write. Every later cycle still
    // talks at 35, where nobody answers any more: the servo keeps its new baud number while
    // the tool reopens the line, in the process as behind servosim.
    harness::Servosim sim("ids=1@35");
    ASSERT_FALSE(sim.device().empty());
    for (const std::string& device : {std::string("sim:ids=1@35"), sim.device()}) {
        std::string out = two_linkspeed_cycles(device);
        EXPECT_EQ(out.substr(0, out.find("Succeed", out.find("Trying again"))),
                  "usage: linkspeed <id> <old_baudnum> <new_baudnum>\n"
                  "current: linkspeed <id=1> <old=35> <new=1>\n"
                  "Succeed to open USB2Kinetron!\nOld Baud Rate: 35\nNew Baud Rate: -1\n"
                  "Trying again ...\n")
            << device;
        EXPECT_NE(out.find("Trying again ...\nSucceed to open USB2Kinetron!\nOld Baud Rate: -1\n"
                           "New Baud Rate: -1\nTrying again ...\n"),
                  std::string::npos)
            << device << ": " << out;
    }
    EXPECT_EQ(settled_reading(sim, "1", "1", "4"), now_line("  1 ", 5));
    std::string at_old = run_tool("regbyte", {"1", "35", "4"}, sim.device()).output;
    EXPECT_EQ(at_old.substr(at_old.find("Now: ")), now_line("rxT ", 5));
}

} // namespace

namespace {

// linkspeed only ends from outside; its finished cycles must not wait in a pipe's buffer
// (unflushed, the first 4 KiB would take some fifty cycles, five seconds or more). A baud
// register that already holds the new number is read, never rewritten (it wears).
TEST(Linkspeed, CyclesReachAPipeBeforeTheToolIsStopped)
{
    harness::Process p;
    ASSERT_TRUE(p.start({harness::bin_path("linkspeed"), "1", "35", "35"},
                        {"KINETRON_DEVICE=sim:ids=1@35,trace"}));
    EXPECT_TRUE(p.wait_for_stdout("Trying again ...\n", 2500)) << p.stdout_text();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait_exit(), 128 + SIGTERM);
    EXPECT_EQ(count_lines_with(p.stderr_text(), "WRITE id 1"), 0) << p.stderr_text();
}

} // namespace
