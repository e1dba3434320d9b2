// servocheck against the simulated chain: each trouble gives its line, a shutdown is undone,
// a motion is checked against the servos' angle limits.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pty_session.h"

namespace {

struct ToolRun {
    int status;
    std::string out;
};

// Runs a tool to its end, standard input not a terminal.
ToolRun tool(const std::string& name, std::vector<std::string> args, const std::string& device)
{
    args.insert(args.begin(), harness::bin_path(name));
    harness::Process p;
    p.start(args, {"KINETRON_DEVICE=" + device});
    const int status = p.wait_exit(60000);
    return {status, p.stdout_text()};
}

ToolRun servocheck(const std::vector<std::string>& args, const std::string& device)
{
    return tool("servocheck", args, device);
}

bool has(const ToolRun& run, const std::string& text)
{
    return run.out.find(text) != std::string::npos;
}

} // namespace

TEST(Servocheck, EachTroubleGivesItsLine)
{
    struct Case {
        const char* chain;                            // "sim:..." in the process, else servosim's
        std::vector<std::vector<std::string>> writes; // regword runs before the check
        std::vector<std::string> args;
        const char* line;
    } cases[] = {
        {"sim:ids=1-2,volts=5.5", {}, {}, "servo 1: supply voltage 5.5 V, outside its limits"},
        {"sim:ids=1-2,hot=2", {}, {}, "servo 2: shut down by overheat: torque limit 0"},
        {"sim:ids=1-3+3", {}, {}, "servo 3: replies collide: two servos may share this id"},
        {"sim:ids=1,latency=16", {}, {"35", "0", "2"}, "adapter: latency timer 16 ms"},
        {"sim:ids=4@1", {}, {}, "bus: no servo answers at baud number 35"},
        {"sim:ids=1-3,stall=2", {}, {}, "TIMEOUT! Exiting now ...\n"},
        {"sim:ids=1-3,stall=2", {}, {"fix", "2", "35"}, "TIMEOUT! Exiting now ...\n"},
        {"sim:ids=1-3#1060@3,hot=2",
         {},
         {},
         "servo 2: shut down by overheating: torque off until it is rebooted, whatever torque "
         "enable is written; let it cool below 72 C, then run: servocheck --bps 1000000 fix 2\n"},
        {"sim:ids=1-3#1060@3,hot=2",
         {},
         {"fix", "2", "--bps", "1000000"},
         "servo 2: still too hot"},
        {"sim:ids=3#350@3,volts=5.5",
         {},
         {"--protocol", "2"},
         "servo 3: supply voltage 5.5 V, outside its limits 6.0..9.0 V"}, // no shutdown cause
        // At 9600 bps behind a 16 ms adapter the table comes in many small parts.
        {"sim:ids=1-2#1060@0,timing=wire,latency=16",
         {},
         {"--bps", "9600", "--protocol", "2"},
         "  2   1060  46   11.0    35     0.0 %  off       180.0    0.0..359.9    500  -\n"},
        {"ids=1-2",
         {{"1", "35", "6", "800"}, {"1", "35", "8", "600"}},
         {},
         "servo 1: angle limits leave no range"},
    };
    for (const Case& c : cases) {
        std::string device = c.chain;
        std::unique_ptr<harness::Servosim> sim;
        if (device.rfind("sim:", 0) != 0) {
            sim.reset(new harness::Servosim(device));
            device = sim->device();
        }
        for (const std::vector<std::string>& write : c.writes)
            ASSERT_EQ(tool("regword", write, device).status, 0) << write[3];
        const ToolRun run = servocheck(c.args, device);
        EXPECT_EQ(run.status, 1) << c.chain;
        EXPECT_TRUE(has(run, std::string("\n") + c.line)) << c.chain << ":\n" << run.out;
    }
}

TEST(Servocheck, ShutDownByOverloadAndBroughtBack)
{
    harness::Servosim sim("ids=1-3,blocked=3");
    ASSERT_FALSE(sim.device().empty());
    ASSERT_EQ(tool("regword", {"3", "35", "30", "700"}, sim.device()).status, 0);
    ToolRun run = servocheck({}, sim.device());
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(has(run, "off        0/1023      0..1023    500  overload\n") ||
                has(run, "on         0/1023      0..1023    500  overload\n"))
        << run.out;
    EXPECT_TRUE(has(run, "\nservo 3: shut down by overload: torque limit 0")) << run.out;
    run = servocheck({"fix", "3", "35"}, sim.device());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run, "\nservo 3: goal position 700 -> 512 (where it stands)\n"
                         "servo 3: torque off; torque limit 0 -> 1023"))
        << run.out;
    // The advice it closes with holds the limb where it stands: no spring into the block.
    ASSERT_EQ(tool("holdswitch", {"3", "35", "1"}, sim.device()).status, 0);
    run = servocheck({}, sim.device());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run, "on      1023/1023      0..1023    500  -\nno problem found\n"))
        << run.out;
}

TEST(Servocheck, Protocol2ShutdownUndoneByReboot)
{
    harness::Servosim sim("ids=1-3#1060@3,blocked=2");
    ASSERT_EQ(tool("servoreg", {"2", "torque_enable", "1"}, sim.device()).status, 0);
    ASSERT_EQ(tool("servoreg", {"2", "goal_position", "3000"}, sim.device()).status, 0);
    ToolRun run{0, ""};
    for (int tries = 0; tries < 50 && !has(run, "\nservo 2: shut down by overload"); ++tries)
        run = servocheck({}, sim.device()); // its load builds up over a tenth of a second
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(has(run, "  off       180.0    0.0..359.9    500  alert,overload\n")) << run.out;
    EXPECT_TRUE(has(run, "then run: servocheck --bps 1000000 fix 2\n")) << run.out;
    run = servocheck({"--bps", "1000000", "fix", "2"}, sim.device());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run, "\nservo 2: rebooted; it answers again, torque off\n"
                         "servo 2: goal position 3000 -> 2048 (where it stands)\n"))
        << run.out;
    for (const char* name : {"torque_enable", "goal_position"}) {
        const ToolRun reg = tool("servoreg", {"2", name}, sim.device());
        EXPECT_TRUE(has(reg, std::string("\n") + name + (name[0] == 't' ? ": 0\n" : ": 2048 ")))
            << reg.out;
    }
    run = servocheck({"--protocol", "2"}, sim.device());
    EXPECT_EQ(run.status, 0) << run.out;
}

TEST(Servocheck, MotionCheckedAsPlaybackWouldPlayIt)
{
    harness::Servosim sim("ids=1-2+4-5#1060@3");
    ASSERT_EQ(tool("regword", {"1", "35", "8", "600"}, sim.device()).status, 0);
    const struct Case {
        const char* file;
        int status;
        std::vector<std::string> lines; // each after a line end; "!" before one: never
    } cases[] = {
        {"FILETYPE: AbsolutePositions\n1, 2, 3\n"
         "100, 500, 500, 500\n100, 700, 2000, 500\n100, 650, 500, 500\n",
         1,
         {"servo 3: absent at baud number 35",
          "servo 1: 2 frames outside its limits 0..600 (first: frame 2, 700)\n",
          "servo 2: 1 positions playback skips, outside 1..1023 (first: frame 2, 2000)\n"}},
        {"FILETYPE: RelativePositions\n1, 2, 1\n"
         "100, 0, 0, 0\n100, abc, 600, 0\n100, rxT, -600, 0\n",
         1,
         {"servo 1: 1 values that are not numbers, never sent (first: frame 2, 'abc')\n",
          "servo 1: 1 recorded read failures, never sent (first: frame 3, rxT)\n",
          "servo 2: 2 positions playback skips, outside 1..1023 (first: frame 2, 1112)\n",
          "servo 1: listed twice in the ID line (entries 1 and 3)"}},
        {"FILETYPE: AbsolutePositions\n1, 2\n100, 400, 800\n100, 100, 800\n\n\n",
         0,
         {"servo 2: starts 288 steps away from frame 1 (stands at 512, frame 1 has 800): a "
          "warning\nno problem found\n",
          "!servo 1: starts"}},
        // As motiontape plays it: on its line, its models, each servo's own range.
        {"// motiontape protocol 2 bps 1000000 models 1060 1020\n"
         "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n4, 5\n"
         "20, [0]2048, [0]2048\n20, [0]rxT, [0]5000\n",
         1,
         {"servo 5: the file was recorded on model 1020, but this servo is model 1060\n",
          "servo 5: 1 positions outside its range 0..4095: motiontape play refuses the file "
          "(first: frame 2, 5000)\n",
          "servo 4: 1 recorded read failures (first: frame 2, rxT): its goal stays as in the "
          "frame before, a warning\n"}},
    };
    for (const Case& c : cases) {
        const std::string file = harness::temp_dir() + "/motion.csv";
        std::ofstream(file) << c.file;
        const ToolRun run = servocheck({"motion", file}, sim.device());
        EXPECT_EQ(run.status, c.status) << run.out;
        for (const std::string& line : c.lines) {
            if (line[0] == '!')
                EXPECT_FALSE(has(run, line.substr(1))) << run.out;
            else
                EXPECT_TRUE(has(run, "\n" + line)) << line << " in:\n" << run.out;
        }
    }
    for (const char* sample : {"wave_recorded", "raise_arms_absolute", "sway_relative"}) {
        const std::string path = harness::source_path(std::string("samples/") + sample + ".csv");
        const ToolRun clean = servocheck({"motion", path}, "sim");
        EXPECT_EQ(clean.status, 0) << sample << ":\n" << clean.out;
    }
}
