// motiontape on simulated chains of three kinds of servos: a recording of a hand's motion,
// its playback with the safe start, the keys, and refusals that send nothing.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "pty_session.h"

namespace {

std::vector<std::string> motiontape(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{harness::bin_path("motiontape")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<std::string> lines_of(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The delays of the frame lines recorded so far (after the comment, type and ID lines).
long recorded_ms(const std::vector<std::string>& lines)
{
    long ms = 0;
    for (std::size_t i = 3; i < lines.size(); ++i)
        ms += std::atol(lines[i].c_str());
    return ms;
}

// Waits until the file holds `ms` milliseconds of frames.
bool wait_for_recording(const std::string& path, long ms)
{
    for (int polls = 0; polls < 400; ++polls) {
        if (recorded_ms(lines_of(path)) >= ms)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The positions of one column over the frames.
std::vector<int> column_positions(const std::vector<std::string>& lines, int column)
{
    std::vector<int> positions;
    for (std::size_t i = 3; i < lines.size(); ++i) {
        std::size_t at = 0;
        for (int c = 0; c <= column; ++c)
            at = lines[i].find(']', at) + 1;
        positions.push_back(std::atoi(lines[i].c_str() + at));
    }
    return positions;
}

// Where each kind of packet first appears in a trace; npos when never.
std::size_t first(const std::string& trace, const std::string& what) { return trace.find(what); }

struct Chain {
    const char* options;
    const char* comment;
    const char* readWay;
    const char* goalAddress; // the SYNC_WRITE of speed and goal
    const char* torqueAddress;
};

const Chain CHAINS[] = {
    {"ids=1-6#1060@3,hand=wave,timing=wire",
     "// motiontape protocol 2 bps 1000000 models 1060 1060", "FAST_SYNC_READ", "address 112",
     "address 64"},
    {"ids=1-6@1,hand=wave,timing=wire", "// motiontape protocol 1 bps 1000000 models 12 12",
     "a READ per servo", "address 30", "address 24"},
    {"ids=1-6#29@1,hand=wave,timing=wire", "// motiontape protocol 1 bps 1000000 models 29 29",
     "BULK_READ", "address 30", "address 24"},
    {"ids=1-6#350,hand=wave,timing=wire", "// motiontape protocol 2 bps 1000000 models 350 350",
     "SYNC_READ", "address 30", "address 24"},
};

TEST(Motiontape, RecordsTheHandThenPlaysItAfterASafeStart)
{
    for (const Chain& chain : CHAINS) {
        SCOPED_TRACE(chain.options);
        std::string path = harness::temp_dir() + "/wave.csv";
        std::string device = std::string("KINETRON_DEVICE=sim:") + chain.options;
        {
            harness::PtySession s;
            ASSERT_TRUE(s.start(motiontape({"record", path, "1-6"}), {device}));
            ASSERT_TRUE(s.wait_for("ESC to stop.\n")) << s.output();
            EXPECT_NE(s.output().find(chain.readWay), std::string::npos) << s.output();
            s.send(" ");
            ASSERT_TRUE(wait_for_recording(path, 2000));
            s.send(harness::KEY_ESC);
            EXPECT_EQ(s.wait_exit(), 0) << s.output();
        }
        std::vector<std::string> lines = lines_of(path);
        ASSERT_GT(lines.size(), 3u);
        EXPECT_EQ(lines[0].compare(0, std::strlen(chain.comment), chain.comment), 0) << lines[0];
        EXPECT_EQ(lines[1], "FILETYPE: AbsoluteSpeeds; AbsolutePositions");
        EXPECT_EQ(lines[2], "        1,  2,  3,  4,  5,  6,");
        long ms = recorded_ms(lines);
        EXPECT_GE((lines.size() - 3) * 1000.0 / ms, 40.0) << lines.size() - 3 << " in " << ms;
        std::vector<int> moved = column_positions(lines, 0);
        EXPECT_NE(*std::min_element(moved.begin(), moved.end()),
                  *std::max_element(moved.begin(), moved.end()));

        // Played without a terminal (keys are not read), with the packets traced.
        harness::Process play;
        ASSERT_TRUE(play.start(motiontape({"play", path}), {device + ",trace"}));
        EXPECT_EQ(play.wait_exit(30000), 0) << play.stderr_text();
        EXPECT_NE(play.stdout_text().find("The servos stand at the first frame.\n"),
                  std::string::npos)
            << play.stdout_text();
        std::string trace = play.stderr_text();
        std::size_t hold =
            first(trace, "SYNC_WRITE id 254 (broadcast)  " + std::string(chain.goalAddress));
        std::size_t torque = first(trace, chain.torqueAddress);
        EXPECT_LT(hold, torque);
        EXPECT_EQ(first(trace, " WRITE "), std::string::npos) << "a write to one servo";
    }
}

// Each SYNC_WRITE of speed and goal (protocol 2.0, address 112) in a trace: per servo its id,
// profile velocity and goal position.
std::vector<std::vector<std::vector<long>>> speed_goal_writes(const std::string& trace)
{
    std::vector<std::vector<std::vector<long>>> writes;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("SYNC_WRITE") == std::string::npos ||
            line.find("address 112") == std::string::npos)
            continue;
        std::istringstream hex(line.substr(line.rfind('[') + 1));
        std::vector<long> bytes;
        for (std::string cell; hex >> cell && cell != "]";)
            bytes.push_back(std::strtol(cell.c_str(), nullptr, 16));
        auto word = [&](std::size_t at) {
            return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24;
        };
        writes.emplace_back();
        for (std::size_t at = 12; at + 9 <= bytes.size() - 2; at += 9)
            writes.back().push_back({bytes[at], word(at + 1), word(at + 5)});
    }
    return writes;
}

TEST(Motiontape, SafeStartThenSpeedsThatKeepThePaceAndARecordedFailureLeftOut)
{
    std::string path = harness::temp_dir() + "/steps.csv";
    std::ofstream(path) << "// motiontape protocol 2 bps 1000000 models 1060 1060\n"
                           "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n1, 2\n"
                           "100, [0]2048,[0]2048,\n100, [0]2148,[0]rxT,\n100, [0]2148,[0]2000,\n";
    harness::Process play;
    ASSERT_TRUE(play.start(motiontape({"play", path, "--speed", "2"}),
                           {"KINETRON_DEVICE=sim:ids=1-2#1060@3,pos=1000,trace"}));
    ASSERT_EQ(play.wait_exit(20000), 0) << play.stderr_text();
    typedef std::vector<std::vector<long>> Packet;
    std::vector<Packet> writes = speed_goal_writes(play.stderr_text());
    // Hold where they stand, go to the first frame, then the three frames: a quarter of the
    // velocity limit (415) until the first frame is played; then 100 steps in 50 ms, and 48.
    EXPECT_EQ(writes, (std::vector<Packet>{{{1, 103, 1000}, {2, 103, 1000}},
                                           {{1, 103, 2048}, {2, 103, 2048}},
                                           {{1, 103, 2048}, {2, 103, 2048}},
                                           {{1, 128, 2148}},
                                           {{1, 1, 2148}, {2, 62, 2000}}}));
}

TEST(Motiontape, SpacePausesAndEscStopsWithTheServosHolding)
{
    std::string path = harness::temp_dir() + "/long.csv";
    std::ofstream out(path);
    out << "// motiontape protocol 2 bps 1000000 models 1060\nFILETYPE: AbsolutePositions\n1\n";
    for (int f = 0; f < 3000; ++f)
        out << "10, " << 1024 + f / 2 << "\n";
    out.close();
    harness::PtySession s;
    ASSERT_TRUE(s.start(motiontape({"play", path}), {"KINETRON_DEVICE=sim:ids=1#1060@3"}));
    ASSERT_TRUE(s.wait_for("loop 1/1  frame")) << s.output();
    s.send(" ");
    ASSERT_TRUE(s.wait_for("paused: space resumes, ESC stops")) << s.output();
    std::size_t m = s.mark();
    s.send(" ");
    ASSERT_TRUE(s.wait_for("loop 1/1  frame", 10000, m)) << s.output();
    s.send(harness::KEY_ESC);
    EXPECT_EQ(s.wait_exit(), 0);
    EXPECT_NE(s.output().find("Stopped: the servos hold where they stand.\n"), std::string::npos);
}

TEST(Motiontape, ThroughServosimEscAtThePromptAPlaybackAndAGoneLine)
{
    std::string dir = harness::temp_dir();
    std::string keep = dir + "/keep.csv", cut = dir + "/cut.csv";
    std::ofstream(keep) << "kept\n";
    harness::Servosim sim("ids=1-3#1060@3,hand=wave");
    ASSERT_FALSE(sim.device().empty());
    {
        harness::PtySession s;
        ASSERT_TRUE(s.start(motiontape({"record", keep, "1-3"}), {sim.env()}));
        ASSERT_TRUE(s.wait_for("ESC to stop.\n")) << s.output();
        s.send(harness::KEY_ESC);
        EXPECT_EQ(s.wait_exit(), 0);
        EXPECT_EQ(lines_of(keep), std::vector<std::string>{"kept"});
    }
    // Through the real serial code, a playback as in the process.
    std::string three = dir + "/three.csv";
    std::ofstream(three)
        << "// motiontape protocol 2 bps 1000000 models 1060 1060 1060\n"
           "FILETYPE: AbsolutePositions\n1,2,3\n20,2000,2100,2200\n20,2010,2090,2210\n";
    harness::Process play;
    ASSERT_TRUE(play.start(motiontape({"play", three}), {sim.env()}));
    EXPECT_EQ(play.wait_exit(20000), 0) << play.stderr_text();
    EXPECT_NE(play.stdout_text().find("The servos stand at the first frame.\nPlayed 2 frames.\n"),
              std::string::npos)
        << play.stdout_text();
    harness::PtySession s;
    ASSERT_TRUE(s.start(motiontape({"record", cut, "1-3"}), {sim.env()}));
    ASSERT_TRUE(s.wait_for("ESC to stop.\n")) << s.output();
    s.send(" ");
    ASSERT_TRUE(wait_for_recording(cut, 200));
    sim.process().signal(SIGTERM);
    EXPECT_EQ(s.wait_exit(), 1);
    EXPECT_NE(s.output().find(sim.device() + ": the line to the servos is gone"), std::string::npos)
        << s.output();
    EXPECT_TRUE(s.terminal_restored());
    std::vector<std::string> lines = lines_of(cut);
    ASSERT_GT(lines.size(), 4u);
    for (std::size_t i = 3; i < lines.size(); ++i)
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ','), 4) << lines[i];
}

TEST(Motiontape, APingReplyLostOnTheLineIsAskedAgain)
{
    harness::PtySession s; // seed 6 drops the first PING reply of one of these servos
    ASSERT_TRUE(s.start(motiontape({"record", harness::temp_dir() + "/lost.csv", "1-3"}),
                        {"KINETRON_DEVICE=sim:ids=1-3#1060,drop=0.3,seed=6"}));
    EXPECT_TRUE(s.wait_for("ESC to stop.\n")) << s.output(); // not "no answer from servo"
}

TEST(Motiontape, RefusalsSendNoWrite)
{
    std::string dir = harness::temp_dir();
    auto file = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    };
    const std::string TYPE = "FILETYPE: AbsolutePositions\n";
    std::string far = file("far.csv", "// motiontape protocol 2 bps 1000000 models 1060 1060\n" +
                                          TYPE + "1,2\n10,2048,2048\n10,2048,4200\n");
    std::string on1020 = file("on1020.csv", "// motiontape protocol 2 bps 1000000 models 1020\n" +
                                                TYPE + "1\n10,2048\n");
    std::string classic = file("classic.csv", TYPE + "1\n10,512\n");
    std::string relative = file("rel.csv", "FILETYPE: RelativePositions\n1\n10,5\n");
    std::string keep = file("keep.csv", "kept\n");
    struct Row {
        std::vector<std::string> args;
        std::string options, message;
        bool packets; // any packet at all may go out (pings and reads)
    } rows[] = {
        {{"record", keep, "1-4"}, "ids=1-3#1060", "no answer at 1000000 bps from servo 4", true},
        {{"record", keep, "1-4"}, "ids=1-3#1060+4#29@1", "do not share one control table", true},
        {{"play", far}, "ids=1-2#1060", "line 5: position 4200 of servo 2 is outside", true},
        {{"play", on1020},
         "ids=1#1060",
         "servo 1 is model 1060; the file was recorded on model 1020",
         true},
        {{"play", classic},
         "ids=1#1060",
         "no answer at 1000000 bps (protocol 1.0) from servo 1",
         true},
        {{"play", relative}, "ids=1", "relative positions are played by posetape", false},
        {{"play", far, "--speed", "0"}, "ids=1-2#1060", "--speed takes a factor above 0", false},
    };
    for (const Row& r : rows) {
        harness::Process p;
        ASSERT_TRUE(p.start(motiontape(r.args), {"KINETRON_DEVICE=sim:" + r.options + ",trace"}));
        EXPECT_EQ(p.wait_exit(20000), 1) << r.message;
        std::string err = p.stderr_text();
        EXPECT_NE(err.find(r.message), std::string::npos) << err;
        EXPECT_EQ(err.find("WRITE"), std::string::npos) << err;
        if (!r.packets) {
            EXPECT_EQ(err.find("->"), std::string::npos) << err;
        }
    }
    std::ifstream kept(keep);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept\n");
}

} // namespace
