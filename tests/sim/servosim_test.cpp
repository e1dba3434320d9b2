// servosim as a program: its first line, the link, the trace, clients coming and going,
// and how it ends.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "kinetron.h"
#include "pty_session.h"

namespace {

bool open_bus(const std::string& device, int baud)
{
    setenv("KINETRON_DEVICE", device.c_str(), 1);
    if (!bus_open())
        return false;
    bus_change_baud(baud);
    return true;
}

// A read that a busy machine may delay past the time-out is tried again.
int read_byte(int id, int address)
{
    for (int i = 0; i < 10; ++i) {
        int value = bus_read_byte(id, address);
        if (bus_result() == 1)
            return value;
    }
    return -1;
}

} // namespace

TEST(Servosim, LinkPointsAtTheSlaveUntilTerminated)
{
    const std::string link = harness::temp_dir() + "/servo-line";
    // A stale link, to nothing, is taken over.
    ASSERT_EQ(symlink("/dev/pts/no-such-terminal", link.c_str()), 0);
    harness::Process sim;
    ASSERT_TRUE(sim.start({harness::bin_path("servosim"), "ids=3", "--link", link}));
    ASSERT_TRUE(sim.wait_for_stdout("\n"));
    const std::string slave = sim.stdout_text().substr(0, sim.stdout_text().find('\n'));
    EXPECT_EQ(slave.rfind("/dev/", 0), 0u) << slave;
    char target[256] = "";
    ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(target, static_cast<std::size_t>(length)), slave);

    ASSERT_TRUE(open_bus(link, 35)) << "a tool can use the link as its device";
    EXPECT_EQ(read_byte(3, 3), 3);
    bus_close();

    // A second server may not take over a link that the first still serves (had it, the
    // first would leave the link behind below).
    harness::Process second;
    ASSERT_TRUE(second.start({harness::bin_path("servosim"), "ids=4", "--link", link}));
    EXPECT_EQ(second.wait_exit(), 2);
    EXPECT_EQ(second.stdout_text(), "");
    EXPECT_EQ(second.stderr_text().find('\n'), second.stderr_text().size() - 1)
        << "one line: " << second.stderr_text();

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait_exit(), 0);
    struct stat info;
    EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link is gone";

    // A server leaves a link that no longer points to its terminal.
    harness::Process third;
    ASSERT_TRUE(third.start({harness::bin_path("servosim"), "ids=3", "--link", link}));
    ASSERT_TRUE(third.wait_for_stdout("\n"));
    ASSERT_TRUE(unlink(link.c_str()) == 0 && symlink("/dev/null", link.c_str()) == 0);
    third.signal(SIGTERM);
    EXPECT_EQ(third.wait_exit(), 0);
    EXPECT_EQ(lstat(link.c_str(), &info), 0) << "someone else's link stays";
}

TEST(Servosim, ServesClientsOneAfterAnotherWithState)
{
    harness::Servosim sim("ids=4");
    ASSERT_FALSE(sim.device().empty());
    for (int client = 0; client < 6; ++client) {
        ASSERT_TRUE(open_bus(sim.device(), 35)) << "client " << client;
        EXPECT_EQ(read_byte(4, 25), client % 2) << "the LED the last client left";
        bus_write_byte(4, 25, (client + 1) % 2);
        bus_close();
    }
    sim.process().signal(SIGINT);
    EXPECT_EQ(sim.process().wait_exit(), 0);
}

TEST(Servosim, TraceDecodesPacketsAndReplies)
{
    harness::Servosim sim("ids=1-3+4#1060,drop=0,blocked=3", true);
    ASSERT_FALSE(sim.device().empty());
    ASSERT_TRUE(open_bus(sim.device(), 1)); // no protocol 1.0 servo at 1 Mbps: no reply
    bus_read_word(1, 36);
    bus_ping(2, 4, nullptr, nullptr); // the trace shows it, answered in time or not
    bus_change_baud(35);
    EXPECT_EQ(read_byte(2, 3), 2);
    bus_write_word(1, 30, 512);
    bus_read_byte(1, 60);
    bus_write_word(3, 30, 700); // held: shut down by the overload within 100 ms
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (bus_read_word(3, 34) != 0 && std::chrono::steady_clock::now() < give_up) {
    }
    bus_write_word(3, 34, 1023); // from max torque, the torque left off: back in service
    bus_close();
    const std::string expected[] = {
        "-> 1000000 bps  READ id 1  address 36  count 2  [FF FF 01 04 02 24 02 D2]\n"
        "   no servo listens at this speed and id\n",
        "-> 1000000 bps  2.0 PING id 4  [FF FF FD 00 04 03 00 01 19 0A]\n"
        "<- 2.0 id 4  err 0x00 (none)  data 24 04 2E  [FF FF FD 00 04 07 00 55 00 24 04 2E E0 "
        "8F]\n",
        "-> 55555 bps  READ id 2  address 3  count 1  [FF FF 02 04 02 03 01 F3]\n"
        "<- id 2  err 0x00 (none)  data 02  [FF FF 02 03 00 02 F8]\n",
        "-> 55555 bps  WRITE id 1  address 30  values 00 02 (word 512)  [FF FF 01 05 03 1E 00 02 "
        "D6]\n"
        "<- id 1  err 0x00 (none)  [FF FF 01 02 00 FC]\n",
        "<- id 1  err 0x08 (range)  data 00  [FF FF 01 03 08 00 F3]\n",
        "<- id 3  err 0x20 (overload)  data 00 00 (word 0)  [FF FF 03 04 20 00 00 D8]\n",
        "WRITE id 3  address 34  values FF 03 (word 1023)  [FF FF 03 05 03 22 FF 03 D0]\n"
        "<- id 3  err 0x00 (none)  [FF FF 03 02 00 FA]\n",
    };
    for (const std::string& text : expected) {
        EXPECT_TRUE(sim.process().wait_for_stderr(text, 5000)) << sim.trace();
    }
}

TEST(Servosim, RefusesBadOptionsAndStall)
{
    for (const char* options : {"ids=0-254", "stall=1", "latency=1", "speed=9"}) {
        harness::Process sim;
        ASSERT_TRUE(sim.start({harness::bin_path("servosim"), options}));
        EXPECT_EQ(sim.wait_exit(), 2) << options;
        EXPECT_EQ(sim.stdout_text(), "") << options;
        const std::string err = sim.stderr_text();
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    }
}
