// What the servos receive during playback, from the simulator's packet trace, and a
// recording played back on the same chain.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "posetape_common.h"

using namespace posetape_test;

namespace {

struct SyncWrite {
    int length; // the packet's length field
    int address;
    std::vector<std::pair<int, int>> entries; // id, value
};

// Every SYNC_WRITE of the trace, decoded from the raw bytes it shows.
std::vector<SyncWrite> sync_writes(const std::string& trace)
{
    std::vector<SyncWrite> packets;
    for (const std::string& line : lines_of(trace)) {
        if (line.find("SYNC_WRITE") == std::string::npos)
            continue;
        std::size_t open = line.rfind('[');
        std::istringstream hex(line.substr(open + 1));
        std::vector<int> bytes;
        for (std::string cell; hex >> cell && cell != "]";)
            bytes.push_back(static_cast<int>(std::strtol(cell.c_str(), nullptr, 16)));
        if (bytes.size() < 8 || bytes[2] != 254 || bytes[4] != 131 || bytes[6] != 2) {
            ADD_FAILURE() << "not a synchronized write: " << line;
            continue;
        }
        SyncWrite p{bytes[3], bytes[5], {}};
        for (std::size_t at = 7; at + 3 < bytes.size(); at += 3)
            p.entries.emplace_back(bytes[at], bytes[at + 1] | (bytes[at + 2] << 8));
        EXPECT_EQ(static_cast<int>(bytes.size()), p.length + 4) << line;
        packets.push_back(p);
    }
    return packets;
}

typedef std::vector<std::pair<int, int>> Entries;

// The simulator traces packets as it serves them, possibly after the tool has ended. A
// search of id 250 sent after a run is traced after everything that run sent.
std::vector<SyncWrite> trace_after(harness::Servosim& sim)
{
    std::string none = harness::temp_dir() + "/none.csv";
    run_piped({"REC", none, "250", "250", "35", "0"}, {sim.env()});
    EXPECT_TRUE(sim.process().wait_for_stderr("READ id 250", 10000));
    return sync_writes(sim.trace());
}

} // namespace

TEST(PosetapePackets, PlaybackSendsOnePacketPerRegisterAndFrame)
{
    // Servos 1 and 2 stand at 0; servo 3 does not answer, so its start position is unknown.
    harness::Servosim sim("ids=1-2,pos=0", true);
    ASSERT_FALSE(sim.device().empty());
    std::string path = write_file("packets.csv", "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n"
                                                 "1 2 3\n"
                                                 "10, [100]0,[2000]1024,[rxT]-9999\n"
                                                 "10, [20]100,[30]200,[40]300\n");
    harness::RunResult r = run_piped({"PLAY", path, "0", "31", "35", "1", "77"}, {sim.env()});
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<SyncWrite> packets = trace_after(sim);
    ASSERT_EQ(packets.size(), 7u) << sim.trace();

    const Entries all77{{1, 77}, {2, 77}, {3, 77}};
    // Start hold: 0 and the unread -1 are left out.
    EXPECT_EQ(packets[0].address, 30);
    EXPECT_EQ(packets[0].entries, Entries{});
    EXPECT_EQ(packets[0].length, 4);
    // Desired speed: every servo, length 3n+4.
    EXPECT_EQ(packets[1].address, 32);
    EXPECT_EQ(packets[1].entries, all77);
    EXPECT_EQ(packets[1].length, 13);
    // Frame 1: speed 2000 and the bad value are left out; positions 0, 1024, -9999 too.
    EXPECT_EQ(packets[2].address, 32);
    EXPECT_EQ(packets[2].entries, (Entries{{1, 100}}));
    EXPECT_EQ(packets[3].address, 30);
    EXPECT_EQ(packets[3].entries, Entries{});
    // Frame 2: one speed packet and one move packet with every servo.
    EXPECT_EQ(packets[4].address, 32);
    EXPECT_EQ(packets[4].entries, (Entries{{1, 20}, {2, 30}, {3, 40}}));
    EXPECT_EQ(packets[5].address, 30);
    EXPECT_EQ(packets[5].entries, (Entries{{1, 100}, {2, 200}, {3, 300}}));
    EXPECT_EQ(packets[5].length, 13);
    // Speed reset: the motor speed for every listed servo.
    EXPECT_EQ(packets[6].address, 32);
    EXPECT_EQ(packets[6].entries, all77);
    EXPECT_EQ(packets[6].length, 13);
}

TEST(PosetapePackets, RelativeMovesOfAnUnreadServoAreLeftOut)
{
    harness::Servosim sim("ids=1-2,pos=500", true);
    ASSERT_FALSE(sim.device().empty());
    std::string path =
        write_file("relative.csv", "FILETYPE: RelativePositions\n1 2 3\n10, 5, -5, 7\n");
    harness::RunResult r = run_piped({"PLAY", path}, {sim.env()});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Found Delay of 10 for Positions: 505,495,-9999.\n"
                            "Moving the motors\n"
                            "Set motor [1] position to 505.\n"
                            "Set motor [2] position to 495.["),
              std::string::npos)
        << r.output;
    std::vector<SyncWrite> packets = trace_after(sim);
    ASSERT_EQ(packets.size(), 4u) << sim.trace();
    EXPECT_EQ(packets[0].entries, (Entries{{1, 500}, {2, 500}})); // start hold
    EXPECT_EQ(packets[2].entries, (Entries{{1, 505}, {2, 495}})); // the move
}

TEST(PosetapePackets, AFileThatWouldStopPartwaySendsNothingUnlessItComesThroughAPipe)
{
    harness::Servosim sim("ids=1-2", true);
    const std::string text = "FILETYPE: AbsolutePositions\n1 2\n10 100 200\n10 100\n";
    EXPECT_EQ(run_piped({"PLAY", write_file("short.csv", text)}, {sim.env()}).status, 1);
    EXPECT_EQ(trace_after(sim).size(), 0u);
    EXPECT_EQ(sim.trace().find("READ id 1 "), std::string::npos) << sim.trace();
    // A FIFO cannot go back to its first frame: it plays as it comes, up to the short line.
    std::string fifo = harness::temp_dir() + "/short.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    harness::Process p;
    ASSERT_TRUE(p.start(posetape_args({"PLAY", fifo}), {sim.env()}));
    std::ofstream(fifo) << text;
    EXPECT_EQ(p.wait_exit(20000), 1);
    EXPECT_NE(p.stdout_text().find("to 200.["), std::string::npos) << p.stdout_text();
}

TEST(PosetapePackets, RecordingPlaysBackOnTheSameChain)
{
    harness::Servosim sim("ids=1-4,hand=wave");
    ASSERT_FALSE(sim.device().empty());
    std::string path = harness::temp_dir() + "/roundtrip.csv";

    harness::PtySession rec;
    ASSERT_TRUE(rec.start(posetape_args({"REC", path, "1", "4", "35", "0"}), {sim.env()}));
    // A few seconds of hand motion: the recorder stores frames as fast as the bus answers.
    ASSERT_TRUE(rec.wait_for_count("\n|[", 300, 30000));
    rec.send(harness::KEY_ESC);
    ASSERT_EQ(rec.wait_exit(), 0);

    std::vector<std::string> lines = lines_of(read_file(path));
    ASSERT_GE(lines.size(), 300u);
    std::string lastLine = lines.back();
    std::vector<std::string> speeds, positions;
    ASSERT_TRUE(split_recorded_line(lastLine, &speeds, &positions)) << lastLine;
    ASSERT_EQ(positions.size(), 4u) << lastLine;
    std::vector<int> last;
    for (const std::string& p : positions)
        last.push_back(std::stoi(p));

    harness::RunResult play = run_piped({"PLAY", path, "1", "4", "35", "0"}, {sim.env()});
    ASSERT_EQ(play.status, 0);
    EXPECT_EQ(play.output.find("Warning"), std::string::npos);
    EXPECT_EQ(play.output.find("ERROR"), std::string::npos);

    // The servos settle on the last recorded frame; watch them until they get there.
    harness::PtySession watch;
    ASSERT_TRUE(watch.start({harness::bin_path("jointwatch"), "1", "4", "35"}, {sim.env()}));
    bool settled = false;
    std::string seen;
    std::size_t from = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!settled && std::chrono::steady_clock::now() < deadline &&
           watch.wait_for(" \n", 10000, from)) {
        std::string out = watch.output();
        std::size_t end = out.rfind('\n') + 1;
        for (const std::string& line : lines_of(out.substr(from, end - from))) {
            // Rows of four positions; the table head lists the ids instead.
            std::istringstream cells(line.substr(line.empty() ? 0 : 1));
            std::vector<int> values;
            for (int v; cells >> v;)
                values.push_back(v);
            if (line.empty() || line[0] != '|' || values.size() != 4 ||
                values == std::vector<int>{1, 2, 3, 4})
                continue;
            seen = line;
            settled = true;
            for (int i = 0; i < 4; ++i)
                settled = settled && std::abs(values[i] - last[i]) <= 2;
        }
        from = end;
    }
    watch.send(harness::KEY_ESC);
    watch.wait_exit();
    EXPECT_TRUE(settled) << "last recorded " << lastLine << ", last seen " << seen;
}
