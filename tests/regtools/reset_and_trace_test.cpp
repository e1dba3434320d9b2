// What the tools put on the bus, counted in the simulator's packet trace, and the
// factory reset confirmed by key.
#include <gtest/gtest.h>
#include <signal.h>

#include "regtools_common.h"

using regtools::count_lines_with;
using regtools::repeat;
using namespace regtools;

namespace {

const std::string CLEAR_USAGE =
    "usage: factoryclear <id> [<baudnum>]     (where no baudnum means try all baud rates)\n";

std::string prompt(int id)
{
    return "Reseting motor " + std::to_string(id) +
           " to factory defaults and then Orvella settings. This can't be undone. Are you sure "
           "you want to continue?  Hit Y to continue: \n";
}

// Runs a tool on the in-process chain with its packet trace on standard error.
int run_traced(harness::Process& p, const std::vector<std::string>& args,
               const std::string& options, const std::string& keys = "")
{
    std::vector<std::string> argv{harness::bin_path(args[0])};
    argv.insert(argv.end(), args.begin() + 1, args.end());
    if (!p.start(argv, {"KINETRON_DEVICE=sim:" + options + (options.empty() ? "" : ",") + "trace"},
                 keys))
        return -1;
    return p.wait_exit(20000);
}

TEST(Holdswitch, AllMotorsAlternatesBroadcastWritesAt35And1)
{
    harness::Process p;
    ASSERT_EQ(run_traced(p, {"holdswitch"}, "ids=1@35+2@1"), 0);
    std::string trace = p.stderr_text();
    EXPECT_EQ(count_lines_with(trace, TRACE_BROADCAST_TORQUE_OFF), 10) << trace;
    // In order: 35, 1, 35, 1, ...
    std::size_t at = 0;
    for (int i = 0; i < 10; ++i) {
        at = trace.find(TRACE_BROADCAST_TORQUE_OFF, at);
        ASSERT_NE(at, std::string::npos);
        std::size_t line = trace.rfind('\n', at) + 1;
        EXPECT_NE(trace.substr(line, at - line).find(i % 2 ? TRACE_AT_1 : TRACE_AT_35),
                  std::string::npos)
            << trace.substr(line, at - line + 40);
        ++at;
    }
}

TEST(Factoryclear, AnyOtherKeyDoesNothing)
{
    for (const char* key : {"n", "\n", "x"}) {
        harness::Process p;
        EXPECT_EQ(run_traced(p, {"factoryclear", "254", "255"}, "", key), 0);
        EXPECT_EQ(p.stdout_text(),
                  CLEAR_USAGE + prompt(254) + "Nothing was done to the motor. Have a nice day.\n");
        EXPECT_EQ(count_lines_with(p.stderr_text(), TRACE_PACKET), 0) << p.stderr_text();
    }
}

TEST(Factoryclear, SingleBaudResetsToId1AtBaud1)
{
    harness::Servosim sim("ids=5@35", true);
    harness::PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("factoryclear"), "5", "35"}, {sim.env()}));
    ASSERT_TRUE(s.wait_for(prompt(5)));
    std::size_t mark = s.mark();
    s.send("Y");
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_EQ(s.output_since(mark), "Succeed to open USB2Kinetron!\n" + repeat(".", 20) +
                                        "\nFinished reseting motor 5 to factory defaults.\n");
    EXPECT_EQ(count_lines_with(sim.trace(), "RESET id 5  ["), 20) << sim.trace();
    EXPECT_EQ(settled_reading(sim, "1", "1", "3"), now_line("  1 ", 5));
}

TEST(Factoryclear, NoReplyToAnyResetFails)
{
    harness::Process p;
    ASSERT_EQ(run_traced(p, {"factoryclear", "40", "35"}, "ids=1@35", "y"), 1);
    EXPECT_EQ(p.stdout_text(), CLEAR_USAGE + prompt(40) + "Succeed to open USB2Kinetron!\n" +
                                   repeat(".", 20) +
                                   "\nFinished reseting motor 40 to factory defaults.\n");
    EXPECT_NE(p.stderr_text().find("factoryclear: no servo 40 answered a reset"), std::string::npos)
        << p.stderr_text();
}

TEST(Factoryclear, SweepStartsAtBaud0WithTwentyDotsALine)
{
    harness::PtySession s;
    ASSERT_TRUE(s.start({harness::bin_path("factoryclear"), "1", "-1"}, {"KINETRON_DEVICE=sim"}));
    ASSERT_TRUE(s.wait_for(prompt(1)));
    std::size_t mark = s.mark();
    s.send("y");
    ASSERT_TRUE(s.wait_for("Trying at baudrate 2 (666666bps): ", 20000, mark));
    s.signal(SIGTERM);
    s.wait_exit();
    std::string out = s.output_since(mark);
    EXPECT_EQ(out.substr(0, out.find("Trying at baudrate 2")),
              "Succeed to open USB2Kinetron!\n"
              "Trying at baudrate 0 (2000000bps): " +
                  repeat(".", 20) +
                  "\n"
                  "Trying at baudrate 1 (1000000bps): " +
                  repeat(".", 20) + "\n");
}

} // namespace
