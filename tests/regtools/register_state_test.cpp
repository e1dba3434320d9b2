// The register tools against a simulated chain whose servo state carries over from one
// run to the next: what one tool writes, a later run reads back.
#include <gtest/gtest.h>
#include <signal.h>

#include "regtools_common.h"

using regtools::repeat;
using regtools::run_tool;

namespace {

std::string regbyte_read(const harness::Servosim& sim, const std::string& id,
                         const std::string& baudnum, const std::string& addr)
{
    std::string out = run_tool("regbyte", {id, baudnum, addr}, sim.device()).output;
    std::size_t at = out.find("Now: ");
    return at == std::string::npos ? out : out.substr(at);
}

TEST(RegisterTools, ReadOnlyRunShowsOneReadingThenN)
{
    harness::Servosim sim("ids=3");
    ASSERT_FALSE(sim.device().empty());
    harness::RunResult r = run_tool("regbyte", {"3", "35", "3"}, sim.device());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "usage: regbyte <id> <baudnum> <offsetAddr> [<byteValue>]\n"
              "current: regbyte <id=3> <baudnum=35> <offsetAddr=3> [<byteValue=-1>]\n"
              "Succeed to open USB2Kinetron!\n"
              "Original BYTE value at addr 3, motor 3, baud 35:   3 \n"
              "Now: " + repeat("  3 ", 5) + "\n");
    // An explicit -1 is the same read-only run.
    r = run_tool("regword", {"3", "35", "0", "-1"}, sim.device());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output.substr(r.output.find("Original")),
              "Original WORD value at addr 0, motor 3, baud 35:  12 \nNow: " + repeat(" 12 ", 10) + "\n");
}

TEST(RegisterTools, WritesTwicePerPassAndTheValueStays)
{
    harness::Servosim sim("ids=2", true);
    ASSERT_FALSE(sim.device().empty());
    harness::RunResult r = run_tool("regword", {"2", "35", "32", "300"}, sim.device());
    EXPECT_EQ(r.status, 0);
    // The first reading precedes every write.
    EXPECT_NE(r.output.find("baud 35:   0 \nNow: " + repeat("300 ", 10) + "\n"), std::string::npos)
        << r.output;
    EXPECT_EQ(regtools::count_lines_with(sim.trace(), "WRITE id 2  address 32  values 2C 01"), 20) << sim.trace();

    EXPECT_EQ(run_tool("regbyte", {"2", "35", "25", "1"}, sim.device()).status, 0);
    EXPECT_EQ(regbyte_read(sim, "2", "35", "25"), "Now: " + repeat("  1 ", 5) + "\n");
    // Text that is no number writes 0.
    EXPECT_EQ(run_tool("regbyte", {"2", "35", "25", "off"}, sim.device()).status, 0);
    EXPECT_EQ(regbyte_read(sim, "2", "35", "25"), "Now: " + repeat("  0 ", 5) + "\n");
}

TEST(RegisterTools, AbsentServoShowsItsResultText)
{
    harness::Servosim sim("ids=1");
    harness::RunResult r = run_tool("regbyte", {"9", "35", "3"}, sim.device());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output.substr(r.output.find("baud 35:")),
              "baud 35: rxT \nNow: " + repeat("rxT ", 5) + "\n");
}

TEST(Holdswitch, SingleMotorLeavesTorqueAsAsked)
{
    harness::Servosim sim("ids=4");
    harness::RunResult r = run_tool("holdswitch", {"4", "35", "1"}, sim.device());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "usage: holdswitch [<id> <baudnum> <0|1>]\nsetting motor 4 ON\n"
                        "Succeed to open USB2Kinetron!\nSetting Torque mode many times ...\n" +
                            repeat("1 ", 20));
    EXPECT_EQ(regbyte_read(sim, "4", "35", "24"), "Now: " + repeat("  1 ", 5) + "\n");
    r = run_tool("holdswitch", {"4", "35", "0"}, sim.device());
    EXPECT_EQ(r.output.substr(r.output.find("setting")),
              "setting motor 4 OFF\nSucceed to open USB2Kinetron!\nSetting Torque mode many times ...\n" +
                  repeat("0 ", 20));
    EXPECT_EQ(regbyte_read(sim, "4", "35", "24"), "Now: " + repeat("  0 ", 5) + "\n");
}

TEST(Holdswitch, AllMotorsReachesServosAtBothSpeeds)
{
    harness::Servosim sim("ids=1@35+2@1");
    ASSERT_EQ(run_tool("holdswitch", {"1", "35", "1"}, sim.device()).status, 0);
    ASSERT_EQ(run_tool("holdswitch", {"2", "1", "1"}, sim.device()).status, 0);
    harness::RunResult r = run_tool("holdswitch", {}, sim.device());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "usage: holdswitch [<id> <baudnum> <0|1>]\nSucceed to open USB2Kinetron!\n"
                        "Disabling Torque on all motors 5 times at baudrates 56kbps and 1Mbps.\n");
    EXPECT_EQ(regbyte_read(sim, "1", "35", "24"), "Now: " + repeat("  0 ", 5) + "\n");
    EXPECT_EQ(regbyte_read(sim, "2", "1", "24"), "Now: " + repeat("  0 ", 5) + "\n");
}

TEST(Linkspeed, ServoMovesToTheNewSpeed)
{
    harness::Servosim sim("ids=1@35");
    harness::PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("linkspeed"), "1", "35", "1"}, {sim.env()}));
    ASSERT_TRUE(s.wait_for_count("Trying again ...\n", 2));
    s.signal(SIGINT);
    EXPECT_EQ(s.wait_exit(), 128 + SIGINT);
    const std::string cycle_tail = "New Baud Rate: -1\nTrying again ...\n";
    EXPECT_EQ(s.output().substr(0, s.output().find("Trying again ...\n") + 17),
              "usage: linkspeed <id> <old_baudnum> <new_baudnum>\n"
              "current: linkspeed <id=1> <old=35> <new=1>\n"
              "Succeed to open USB2Kinetron!\nOld Baud Rate: 35\n" + cycle_tail);
    // Later cycles still talk at 35, where nobody answers any more.
    EXPECT_NE(s.output().find("Succeed to open USB2Kinetron!\nOld Baud Rate: -1\n" + cycle_tail),
              std::string::npos);
    EXPECT_EQ(regbyte_read(sim, "1", "1", "4"), "Now: " + repeat("  1 ", 5) + "\n");
    EXPECT_EQ(regbyte_read(sim, "1", "35", "4"), "Now: " + repeat("rxT ", 5) + "\n");
}

} // namespace
