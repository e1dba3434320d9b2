// Command lines of the register tools: range edges, defaults and rejected values. A
// rejected command line must never reach the adapter; an accepted one must.
#include <gtest/gtest.h>

#include "regtools_common.h"

using regtools::run_tool;

namespace {

const char* const OPENED = "Succeed to open USB2Kinetron!\n";

struct Edge {
    const char* tool;
    std::vector<std::string> args;
    bool accepted;
};

// Accepted edges run to their end against the in-process chain; rejected ones end with
// the tool's failure text and status 1 before the adapter is opened.
void check_edges(const std::vector<Edge>& edges)
{
    for (const Edge& e : edges) {
        std::string line = e.tool;
        for (const std::string& a : e.args)
            line += " " + a;
        harness::RunResult r = run_tool(e.tool, e.args);
        bool opened = r.output.find(OPENED) != std::string::npos;
        if (e.accepted) {
            EXPECT_EQ(r.status, 0) << line;
            EXPECT_TRUE(opened) << line << "\n" << r.output;
        } else {
            EXPECT_EQ(r.status, 1) << line;
            EXPECT_FALSE(opened) << line;
            EXPECT_EQ(r.output.substr(r.output.find("\n", r.output.find("current: "))),
                      "\nbad args!\n")
                << line;
        }
    }
}

TEST(RegisterTools, NoArgumentsEchoMinusOneAndFail)
{
    EXPECT_EQ(run_tool("regbyte", {}).output,
              "usage: regbyte <id> <baudnum> <offsetAddr> [<byteValue>]\n"
              "current: regbyte <id=-1> <baudnum=-1> <offsetAddr=-1> [<byteValue=-1>]\n"
              "bad args!\n");
    harness::RunResult r = run_tool("regword", {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "usage: regword <id> <baudnum> <offsetAddr> [<wordValue>]\n"
                        "current: regword <id=-1> <baudnum=-1> <offsetAddr=-1> [<wordValue=-1>]\n"
                        "bad args!\n");
}

TEST(RegisterTools, RangeEdges)
{
    check_edges({{"regbyte", {"255", "35", "60"}, true},
                 {"regbyte", {"256", "35", "60"}, false},
                 {"regbyte", {"-1", "35", "3"}, false},
                 {"regbyte", {"1", "256", "3"}, false},
                 {"regbyte", {"1", "35", "61"}, false},
                 {"regbyte", {"1", "35", "26", "-128"}, true},
                 {"regbyte", {"1", "35", "26", "-129"}, false},
                 {"regbyte", {"1", "35", "26", "255"}, true},
                 {"regbyte", {"1", "35", "26", "256"}, false},
                 // Beyond the int range: must not wrap around into the accepted range.
                 {"regbyte", {"4294967297", "35", "3"}, false},
                 {"regbyte", {"1", "1e3", "24"}, false}, // not read as baud number 1
                 {"regword", {"1", "35", "60"}, true},
                 {"regword", {"1", "35", "32", "-32767"}, true},
                 {"regword", {"1", "35", "32", "-32768"}, false},
                 {"regword", {"1", "35", "32", "65535"}, true},
                 {"regword", {"1", "35", "32", "65536"}, false}});
}

TEST(OtherTools, RejectedCommandLinesStopBeforeTheAdapter)
{
    const std::string hold = "usage: holdswitch [<id> <baudnum> <0|1>]\n";
    const std::string clear =
        "usage: factoryclear <id> [<baudnum>]     (where no baudnum means try all baud rates)\n";
    const std::string link = "usage: linkspeed <id> <old_baudnum> <new_baudnum>\n";
    const std::string version = std::string(" (kinetron) ") + KINETRON_VERSION + "\n";
    struct Case {
        const char* tool;
        std::vector<std::string> args;
        std::string output;
        int status = 1;
    } cases[] = {
        {"holdswitch", {"1"}, hold + "bad arguments!\n"},
        {"holdswitch", {"1", "35"}, hold + "bad arguments!\n"},
        {"holdswitch", {"1", "35", "2"}, hold + "bad arguments!\n"},
        {"holdswitch", {"1", "35", "-1"}, hold + "bad arguments!\n"},
        {"holdswitch", {"1", "256", "1"}, hold + "bad arguments!\n"},
        {"holdswitch", {"1", "-1", "0"}, hold + "bad arguments!\n"},
        {"holdswitch", {"255", "35", "1"}, hold + "bad arguments!\n"},
        {"holdswitch", {"999", "35", "1"}, hold + "bad arguments!\n"},
        {"holdswitch", {"1", "35", "on"}, hold + "bad arguments!\n"},       // not read as 0: off
        {"factoryclear", {"--help"}, clear + "see: man factoryclear\n", 0}, // no prompt
        {"factoryclear", {}, clear + "bad args!\n"},
        {"factoryclear", {"255"}, clear + "bad args!\n"},
        {"factoryclear", {"1", "256"}, clear + "bad args!\n"},
        {"linkspeed",
         {"1", "0", "1"},
         link + "current: linkspeed <id=1> <old=0> <new=1>\nbad args!\n"},
        {"linkspeed",
         {"1", "1", "0"},
         link + "current: linkspeed <id=1> <old=1> <new=0>\nbad args!\n"},
        {"linkspeed",
         {"256", "1", "1"},
         link + "current: linkspeed <id=256> <old=1> <new=1>\nbad args!\n"},
        {"linkspeed", {"--version"}, "linkspeed" + version, 0},
    };
    for (const Case& c : cases) {
        harness::RunResult r = run_tool(c.tool, c.args);
        EXPECT_EQ(r.status, c.status) << c.tool << " " << c.args.size();
        EXPECT_EQ(r.output, c.output);
    }
}

} // namespace
