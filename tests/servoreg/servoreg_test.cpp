// servoreg against the simulated chain: reads and checked writes by name, the refusals in
// words, the live watch and its CSV log.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "pty_session.h"

namespace {

const std::string USAGE = "usage: servoreg [--bps N] [--protocol 1|2] <id> [<name> [<value>]]\n"
                          "       servoreg [--bps N] [--protocol 1|2] [--csv] watch <ids> "
                          "[<name> ...]\n";
const std::string SERVO_5 = "servo 5: model 1060, protocol 2.0, firmware 46, 1000000 bps\n";

struct ToolRun {
    int status;
    std::string out; // after the usage lines
};

ToolRun servoreg(const std::vector<std::string>& args, const std::string& device)
{
    std::vector<std::string> argv{harness::bin_path("servoreg")};
    argv.insert(argv.end(), args.begin(), args.end());
    harness::Process p;
    p.start(argv, {"KINETRON_DEVICE=" + device});
    int status = p.wait_exit(30000);
    std::string out = p.stdout_text();
    EXPECT_EQ(out.rfind(USAGE, 0), 0u) << out;
    return {status, out.substr(std::min(out.size(), USAGE.size()))};
}

} // namespace

// One chain for every row, in order: each row sees what the rows before it wrote.
TEST(Servoreg, ReadsAndWritesByNameWithEachRefusalInWords)
{
    harness::Servosim sim("ids=1-3@1+4-6#1060@3");
    ASSERT_FALSE(sim.device().empty());
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
    } rows[] = {
        {{"5", "present_position"}, 0, SERVO_5 + "present_position: 2048 (180.0deg)\n"},
        {{"5", "torque_enable", "1"}, 0, SERVO_5 + "torque_enable: 1\n"},
        {{"5", "goal_position", "90deg"}, 0, SERVO_5 + "goal_position: 1024 (90.0deg)\n"},
        {{"5", "--protocol", "2", "id", "9"},
         1,
         SERVO_5 +
             "refused: id lies in the EEPROM area, which servo 5 keeps locked while its torque "
             "is on\nswitch the torque off first: servoreg --bps 1000000 5 torque_enable 0\n"},
        {{"5", "present_position", "3"}, 1, SERVO_5 + "refused: present_position is read only\n"},
        {{"5", "return_delay_time", "255"},
         1,
         SERVO_5 + "refused: return_delay_time takes 0..254 (0us..508us)\n"},
        {{"5", "goal_position", "12V"},
         1,
         SERVO_5 + "refused: '12V' is no value for goal_position (a whole number, or a number "
                   "and deg)\n"},
        {{"5", "goal_position", "5000"},
         1,
         SERVO_5 + "servo 5 refused: data limit error: the value is outside the configured "
                   "limit\n"},
        {{"5", "speed"}, 1, SERVO_5 + "model 1060 has no register 'speed'\n"},
        {{"2", "goal_position", "180deg"},
         0,
         "servo 2: model 12, protocol 1.0, firmware 24, 1000000 bps\n"
         "goal_position: 614 (179.9deg)\n"},
        {{"2", "max_voltage", "25.5V"},
         1,
         "servo 2: model 12, protocol 1.0, firmware 24, 1000000 bps\n"
         "refused: max_voltage takes 50..250 (5.0V..25.0V)\n"},
        {{"5", "torque_enable", "0"}, 0, SERVO_5 + "torque_enable: 0\n"},
        {{"5", "id", "6"}, 1, SERVO_5 + "refused: id 6 is taken by another servo\n"},
        {{"5", "id", "9"}, 0, SERVO_5 + "id: 9 written\nservo 9 answers at 1000000 bps\n"},
        {{"--protocol", "1", "9"}, 1, "servo 9 does not answer at 1000000 bps\n"},
        {{"7"}, 1, "servo 7 does not answer at 1000000 bps\n"},
        {{"9", "baud_rate", "1"},
         0,
         "servo 9: model 1060, protocol 2.0, firmware 46, 1000000 bps\nbaud_rate: 1 written\n"
         "servo 9 answers at 57600 bps\nreach it with: servoreg --bps 57600 9\n"},
        {{"--bps", "57600", "9", "goal_position"},
         0,
         "servo 9: model 1060, protocol 2.0, firmware 46, 57600 bps\n"
         "goal_position: 1024 (90.0deg)\n"},
    };
    for (const auto& row : rows) {
        std::string line;
        for (const std::string& a : row.args)
            line += a + " ";
        ToolRun run = servoreg(row.args, sim.device());
        EXPECT_EQ(run.status, row.status) << line << "\n" << run.out;
        EXPECT_EQ(run.out, row.out) << line;
    }
    // The whole table: a row per register with its area and both values.
    ToolRun dump = servoreg({"2"}, sim.device());
    EXPECT_EQ(dump.status, 0) << dump.out;
    EXPECT_NE(dump.out.find("\n  30    2 goal_position                  RW     RAM            614"
                            "  179.9deg\n"),
              std::string::npos)
        << dump.out;
    EXPECT_NE(dump.out.find("\n   3    1 id                             RW     EEPROM           2"
                            "  \n"),
              std::string::npos)
        << dump.out;
}

TEST(Servoreg, BadArgumentsAreRefusedBeforeTheAdapterOpens)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"x"},
                                               {"254"},
                                               {"1", "id", "2", "3"},
                                               {"watch"},
                                               {"watch", "1-x"},
                                               {"1", "--csv"},
                                               {"--bps", "fast", "1"},
                                               {"--protocol", "3", "1"}}) {
        ToolRun run = servoreg(args, "/nonexistent/ttyUSB9");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "bad args!\n");
    }
}

TEST(Servoreg, WatchLogsOneCsvLineARefreshAndEndsOnQ)
{
    harness::PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("servoreg"), "watch", "4-6", "--csv"},
                        {"KINETRON_DEVICE=sim:ids=4-6#1060@3,latency=1,timing=wire"}));
    ASSERT_TRUE(s.wait_for_count("\n", 101, 20000)) << s.output();
    s.send("q");
    EXPECT_EQ(s.wait_exit(10000), 0);
    std::string out = s.output();
    const std::string header = "time_ms,4_present_position_deg,5_present_position_deg,"
                               "6_present_position_deg\n";
    ASSERT_EQ(out.rfind(header, 0), 0u) << out; // no usage line before it
    EXPECT_NE(out.find("\n0,180.0,180.0,180.0\n", header.size() - 1), std::string::npos) << out;
    EXPECT_EQ(out.find_first_not_of("0123456789.,\n", header.size()), std::string::npos) << out;
    EXPECT_TRUE(s.terminal_restored());
}

TEST(Servoreg, WatchEndsWithStatusOneWhenTheLineIsGone)
{
    auto sim = std::make_unique<harness::Servosim>("ids=1-2@1");
    harness::PtySession s;
    ASSERT_TRUE(
        s.start({harness::bin_path("servoreg"), "watch", "1,2", "present_position"}, {sim->env()}));
    ASSERT_TRUE(s.wait_for("/s", 20000)) << s.output();
    sim.reset();
    EXPECT_EQ(s.wait_exit(20000), 1) << s.output();
    EXPECT_TRUE(s.terminal_restored());
}
