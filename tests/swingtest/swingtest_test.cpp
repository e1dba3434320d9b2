// swingtest run as a person runs it, under a terminal, against the simulated chain.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kinetron.h"
#include "pty_session.h"

using harness::PtySession;

namespace {

const std::string USAGE = "usage: swingtest <id> <baudnum> [<posA> [<posB>]]\n";
const std::string OPENED = "Succeed to open USB2Kinetron!\n";
const std::string PROMPT = "Press ESC for emergency stop, or Spacebar to toggle movement. A & Z "
                           "also move motor manually\n\n";
const std::string QUIT =
    "Quitting due to unknown key press. Remebr, motor torque may still be enabled!\n";
const std::string PRESS_ANY = "Press any key to terminate...\n";

std::string called(int id, int baudnum, int a, int b)
{
    char line[128];
    std::snprintf(line, sizeof line, "called: swingtest <id=%d> <baudnum=%d> <posA=%d> <posB=%d>\n",
                  id, baudnum, a, b);
    return line;
}

// The display lines (desired position, present position cell) apart from every other line.
struct Screen {
    std::vector<int> desired;
    std::vector<std::string> positions;
    std::string other;
};

Screen split(const std::string& text)
{
    Screen screen;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size() - 1;
        std::string line = text.substr(at, end - at);
        char position[16], load[16], temperature[16];
        int desired = 0;
        if (text[end] == '\n' &&
            std::sscanf(
                line.c_str(),
                "desired pos: %d,  currPos: %15[^,], currTorque: %15[^,], currTemp: %15[^\n]",
                &desired, position, load, temperature) == 4) {
            screen.desired.push_back(desired);
            screen.positions.push_back(position);
        } else {
            screen.other += text.substr(at, end - at + 1);
        }
    }
    return screen;
}

int last_desired(PtySession& s)
{
    Screen screen = split(s.output());
    return screen.desired.empty() ? -999 : screen.desired.back();
}

void start(PtySession& s, std::vector<std::string> args, const std::string& device)
{
    args.insert(args.begin(), harness::bin_path("swingtest"));
    ASSERT_TRUE(s.start(args, {"KINETRON_DEVICE=" + device}));
}

// A key outside the key table ends the program after one more key.
void quit_with(PtySession& s, const char* key)
{
    std::size_t m = s.mark();
    s.send(key);
    ASSERT_TRUE(s.wait_for(PRESS_ANY, 10000, m));
    EXPECT_EQ(split(s.output_since(m)).other, QUIT + PRESS_ANY);
    ASSERT_TRUE(s.running()) << "must wait for a key";
    s.send("k");
    EXPECT_EQ(s.wait_exit(10000), 0);
    EXPECT_TRUE(s.terminal_restored());
}

// Waits for a key press to show as a shift of the desired position.
void shift(PtySession& s, const char* key, int step)
{
    char text[48];
    std::snprintf(text, sizeof text, "desired pos: %d,", last_desired(s) + step);
    std::size_t m = s.mark();
    s.send(key);
    ASSERT_TRUE(s.wait_for(text, 10000, m)) << s.output_since(m);
}

// Reads one register of the simulated servo behind `device` through the bus library.
int read_register(const std::string& device, int id, int address)
{
    setenv("KINETRON_DEVICE", device.c_str(), 1);
    if (!bus_open())
        return -2;
    bus_change_baud(35);
    int value = bus_read_byte(id, address);
    if (bus_result() != 1)
        value = -1;
    bus_close();
    return value;
}

TEST(SwingtestArgs, OutOfRangeArgumentsAreRefused)
{
    struct Case {
        std::vector<std::string> args;
        std::string echo;
    } cases[] = {
        {{}, called(-1, -1, -1, -1)},
        {{"1"}, called(1, -1, -1, -1)},
        {{"1", "35", "1024"}, called(1, 35, 1024, 1024)},
        {{"1", "35", "5", "-2"}, called(1, 35, 5, -2)},
        {{"abc", "35"}, called(0, 35, -1, -1)}, // not servo 0
    };
    for (Case& c : cases) {
        PtySession s;
        start(s, c.args, "sim");
        EXPECT_EQ(s.wait_exit(10000), 1) << c.echo;
        EXPECT_EQ(s.output(), USAGE + c.echo + "bad args!\n");
        EXPECT_TRUE(s.terminal_restored());
    }
}

TEST(SwingtestStart, PresentPositionStandsInForA)
{
    struct Case {
        std::vector<std::string> args;
        std::string echo;
        int first_goal;
        const char* quit;
    } cases[] = {
        {{"1", "35"}, called(1, 35, -1, -1), 300, "x"},               // A = B = present position
        {{"1", "35", "-1", "700"}, called(1, 35, -1, 700), 700, "a"}, // first swing to B
    };
    for (Case& c : cases) {
        PtySession s;
        start(s, c.args, "sim:pos=300");
        std::string head = USAGE + c.echo + OPENED + PROMPT;
        ASSERT_TRUE(s.wait_for(head + "desired pos: ")) << s.output();
        ASSERT_EQ(s.output().rfind(head, 0), 0u) << s.output();
        ASSERT_TRUE(s.wait_for_count("desired pos: ", 3));
        Screen screen = split(s.output().substr(head.size()));
        EXPECT_EQ(screen.other, "");
        EXPECT_EQ(screen.desired.front(), c.first_goal);
        EXPECT_EQ(screen.positions.front().find("30"), 0u) << screen.positions.front();
        quit_with(s, c.quit);
    }
}

TEST(SwingtestStart, FailuresBeforeTheLoopWaitForAKeyAndEndWithStatusOne)
{
    struct Case {
        std::string device;
        std::string after_echo;
    } cases[] = {
        {"sim:ids=2",
         OPENED +
             "ERROR: Cant find out the initial position of the motor. You must supply it.\n"
             "rxT \n" +
             PRESS_ANY},
        {"sim:no-such-option", "Failed to open USB2Kinetron!\n" + PRESS_ANY},
    };
    for (Case& c : cases) {
        PtySession s;
        start(s, {"1", "35"}, c.device);
        ASSERT_TRUE(s.wait_for(PRESS_ANY, 15000)) << s.output();
        ASSERT_TRUE(s.running());
        s.send("k");
        EXPECT_EQ(s.wait_exit(10000), 1);
        std::string out = s.output(), head = USAGE + called(1, 35, -1, -1);
        ASSERT_EQ(out.rfind(head, 0), 0u) << out;
        std::string rest = out.substr(head.size());
        if (rest.rfind(c.after_echo, 0) != 0)
            rest.erase(0, rest.find('\n') + 1); // the library's line on stderr
        EXPECT_EQ(rest, c.after_echo);
        EXPECT_TRUE(s.terminal_restored());
    }
}

TEST(SwingtestKeys, ServoSwingsBetweenAAndBAndShiftsTakeEffectAtTheNextSwing)
{
    PtySession s;
    start(s, {"1", "35", "450", "550"}, "sim");
    ASSERT_TRUE(s.wait_for("currPos: 550 ", 20000)) << s.output();
    std::size_t m = s.mark();
    ASSERT_TRUE(s.wait_for("currPos: 450 ", 20000, m)) << s.output_since(m);
    m = s.mark();
    s.send(" "); // hold: no new goal is written, so the shifts wait for the next swing
    ASSERT_TRUE(s.wait_for("Toggling movement\ndesired pos: ", 10000, m));
    for (int i = 0; i < 3; ++i)
        shift(s, harness::KEY_UP, 10);
    shift(s, harness::KEY_DOWN, -10);
    shift(s, "P", -10);
    shift(s, "H", 10);
    EXPECT_EQ(split(s.output_since(m)).other, "Toggling movement\n") << "shift keys print nothing";
    m = s.mark();
    s.send(" ");
    ASSERT_TRUE(s.wait_for("Toggling movement\n", 10000, m));
    EXPECT_TRUE(s.wait_for("currPos: 470 ", 20000, m)) << s.output_since(m);
    EXPECT_TRUE(s.wait_for("currPos: 570 ", 20000, m)) << s.output_since(m);
    quit_with(s, "x");
}

TEST(SwingtestKeys, EscCutsTheTorqueAndTheDisplayGoesOn)
{
    harness::Servosim sim("ids=1");
    ASSERT_FALSE(sim.device().empty());
    const std::string stopped = "Emergency stopped motor!\n";
    for (bool emergency : {false, true}) { // a run without ESC first: the swing switched torque on
        PtySession s;
        start(s, {"1", "35", "450", "550"}, sim.device());
        ASSERT_TRUE(s.wait_for("desired pos: ")) << s.output();
        if (emergency) {
            std::size_t m = s.mark();
            s.send(harness::KEY_ESC);
            ASSERT_TRUE(s.wait_for(stopped, 10000, m));
            std::size_t after = s.output().find(stopped, m) + stopped.size();
            ASSERT_TRUE(s.wait_for_count("desired pos: ", 5, 10000, after));
            Screen held = split(s.output_since(after));
            EXPECT_EQ(split(s.output_since(m)).other, stopped);
            for (std::size_t i = 1; i < held.desired.size(); ++i) {
                EXPECT_EQ(held.desired[i], held.desired[0]) << "no new goal after ESC";
                EXPECT_EQ(held.positions[i], held.positions[0]) << "the servo holds still";
            }
        }
        quit_with(s, "x");
        EXPECT_EQ(read_register(sim.device(), 1, 24), emergency ? 0 : 1);
    }
}

} // namespace
