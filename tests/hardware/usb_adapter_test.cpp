// The library and the tools on a USB serial adapter as the Linux kernel shows one: found
// with no device named, its exact line speed, its latency timer and the time-outs that
// follow it, its exclusive hold, and its loss while a tool runs.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "hardening_common.h"
#include "kinetron.h"
#include "pty_peer.h"
#include "pty_session.h"
#include "registers.h"
#include "usb_machine.h"

using harness::PtySession;
using hw::UsbAdapterTest;

namespace {

// The tools and the library choose the adapter themselves.
const char* const NO_DEVICE = "KINETRON_DEVICE";

// Servo 1 answering a read of one byte with 7, after holding the reply back `hold_ms`.
PtyPeer::Script servo_answering_after(int hold_ms)
{
    return [hold_ms](const Bytes& packet) {
        if (hold_ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
        return status_packet(packet[2], 0, {7});
    };
}

// The line speed of each packet as the servos heard it, from servosim's trace.
std::string speeds_heard(const std::string& trace)
{
    std::string heard;
    for (std::size_t at = trace.find("-> "); at != std::string::npos;
         at = trace.find("-> ", at + 1))
        heard += trace.substr(at + 3, trace.find(' ', at + 3) - at - 3) + " ";
    return heard;
}

} // namespace

TEST_F(UsbAdapterTest, FoundByMakerAndNumberAtTheExactSpeedItRecords)
{
    PtyPeer other, first, later;
    ASSERT_TRUE(usb->plug(0, other.path(), hw::PROLIFIC));
    ASSERT_TRUE(usb->plug(10, later.path()));
    ASSERT_TRUE(usb->plug(2, first.path()));
    for (PtyPeer* peer : {&other, &first, &later})
        peer->start(servo_answering_after(0));
    unsetenv(NO_DEVICE);
    ASSERT_NE(bus_open(), 0);
    const struct {
        int baudnum, bps;
    } speeds[] = {{34, 57142}, {207, 9615}, {1, 1000000}};
    for (const auto& row : speeds) {
        SCOPED_TRACE(row.baudnum);
        bus_change_baud(row.baudnum);
        EXPECT_EQ(master_speed(first.master()), row.bps);
        EXPECT_EQ(bus_read_byte(1, 3), 7);
        EXPECT_EQ(bus_result(), 1);
    }
    bus_close();
    EXPECT_EQ(first.wait_heard(3).size(), 3u);
    EXPECT_TRUE(other.wait_heard(0).empty());
    EXPECT_TRUE(later.wait_heard(0).empty());
    EXPECT_EQ(usb->latency_timer(2), "1");
    EXPECT_EQ(usb->latency_timer(10), "16\n");
}

// The time-out of a try is sized to the latency timer in force: at 1 ms a reply held back
// 30 ms is given up (a time-out sized to 16 ms would take it); at a 16 ms timer that cannot
// be lowered one held back 12 ms is taken at the first try.
TEST_F(UsbAdapterTest, TimeOutsFollowTheLatencyTimer)
{
    const struct {
        bool writable;
        int hold_ms;
        const char* timer;
        int result, value;
    } rows[] = {{true, 30, "1", 6, -1}, {false, 12, "16\n", 1, 7}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.timer);
        PtyPeer servo;
        ASSERT_TRUE(usb->plug(3, servo.path(), hw::FTDI, row.writable));
        servo.start(servo_answering_after(row.hold_ms));
        unsetenv(NO_DEVICE);
        ASSERT_NE(bus_open(), 0);
        bus_change_baud(1);
        // A reader woken only after the late reply is there would take it: on a loaded
        // machine this thread, like the servo's, runs ahead of ordinary ones for the read.
        sched_param priority = {};
        priority.sched_priority = 1;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
        EXPECT_EQ(bus_read_byte(1, 3), row.value);
        EXPECT_EQ(bus_result(), row.result);
        priority.sched_priority = 0;
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &priority);
        bus_close();
        EXPECT_EQ(usb->latency_timer(3), row.timer);
        EXPECT_EQ(servo.wait_heard(1).size(), 1u);
        usb->pull_out(3);
    }
}

// A run that changes speed: each packet must reach the servos at the speed it was sent at,
// also when the next change follows it as soon as it has left the adapter.
TEST_F(UsbAdapterTest, EveryPacketGoesAtItsOwnSpeedWhenARunChangesSpeed)
{
    harness::Servosim sim("ids=1-3", true);
    ASSERT_TRUE(usb->plug(0, sim.device()));
    std::string expected;
    for (int pass = 0; pass < 5; ++pass)
        expected += "55555 1000000 ";
    harness::RunResult run = harness::run({harness::bin_path("holdswitch")}, {NO_DEVICE});
    EXPECT_EQ(run.status, 0) << run.output;

    unsetenv(NO_DEVICE);
    ASSERT_NE(bus_open(), 0);
    for (int pass = 0; pass < 50; ++pass) {
        for (int baudnum : {35, 1}) {
            bus_change_baud(baudnum);
            // The pause every tool keeps after a change of speed.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            bus_write_byte(ID_BROADCAST, ADDR_TORQUE_ENABLE, 0);
        }
        expected += "55555 1000000 ";
    }
    // A read answered: everything before it has been heard.
    bus_change_baud(35);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(bus_read_byte(1, 3), 1);
    bus_close();
    EXPECT_EQ(speeds_heard(sim.trace()), expected + "55555 ") << sim.trace();
}

TEST_F(UsbAdapterTest, SecondToolFindsTheAdapterBusy)
{
    harness::Servosim sim("ids=1-3");
    ASSERT_TRUE(usb->plug(0, sim.device()));
    PtySession watch;
    ASSERT_TRUE(watch.start({harness::bin_path("jointwatch"), "1", "3", "35"}, {NO_DEVICE}));
    ASSERT_TRUE(watch.wait_for("|512 512 512 \n")) << watch.output();
    harness::RunResult second =
        harness::run({harness::bin_path("regbyte"), "1", "35", "3"}, {NO_DEVICE});
    EXPECT_NE(second.output.find("/dev/ttyUSB0"), std::string::npos) << second.output;
    EXPECT_NE(second.output.find("busy"), std::string::npos) << second.output;
    EXPECT_NE(second.output.find("Failed to open USB2Kinetron!\n"), std::string::npos);
    watch.send(harness::KEY_ESC);
    EXPECT_EQ(watch.wait_exit(), 0);
}

// The adapter pulled out under a running tool: its line hangs up. The tool ends at once with
// status 1 and says the line is gone, and a recording keeps complete lines.
TEST_F(UsbAdapterTest, PulledOutWhileAToolRuns)
{
    const std::string path = harness::temp_dir() + "/pulled.csv";
    const std::vector<std::vector<std::string>> tools = {
        {harness::bin_path("jointwatch"), "1", "3", "35"},
        {harness::bin_path("posetape"), "REC", path, "1", "3", "35", "0"}};
    for (const std::vector<std::string>& tool : tools) {
        SCOPED_TRACE(tool[0]);
        const bool rec = tool.size() > 4;
        harness::Servosim sim("ids=1-3,hand=wave");
        ASSERT_TRUE(usb->plug(1, sim.device()));
        PtySession s;
        ASSERT_TRUE(s.start(tool, {NO_DEVICE}));
        ASSERT_TRUE(s.wait_for_count(rec ? "\n|[" : "\n|", 31)) << s.output();
        const std::size_t gone = s.mark(); // before: the tool may answer at once
        usb->pull_out(1);
        EXPECT_TRUE(s.wait_for("/dev/ttyUSB1: the line to the servos is gone", 10000, gone))
            << s.output_since(gone);
        EXPECT_EQ(s.wait_exit(), 1) << s.output_since(gone);
        EXPECT_TRUE(s.terminal_restored());
        if (rec)
            hardening::checked_recording(path, 3);
    }
}
