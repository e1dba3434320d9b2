// The bus library as the tools use it, over a real pseudo-terminal: the test scripts the
// servos on the master side and checks result codes, packet bytes, speeds and timing.
#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "kinetron.h"
#include "pty_peer.h"
#include "registers.h"

namespace {

const Bytes READ_POSITION = {0xFF, 0xFF, 0x01, 0x04, 0x02, 0x24, 0x02, 0xD2};
const Bytes WRITE_GOAL_512 = {0xFF, 0xFF, 0x01, 0x05, 0x03, 0x1E, 0x00, 0x02, 0xD6};
const Bytes PING = {0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB};

double elapsed_ms(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

// Servo 1 as a well-behaved servo would answer: a read gets `value`, anything else an
// empty status packet; broadcasts get nothing.
Bytes answer_as_servo(const Bytes& packet, int value)
{
    if (packet[2] == ID_BROADCAST || packet[4] == INST_SYNC_WRITE)
        return {};
    if (packet[4] == INST_READ) {
        Bytes params;
        for (int i = 0; i < packet[6]; ++i)
            params.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        return status_packet(packet[2], 0, params);
    }
    return status_packet(packet[2], 0, {});
}

class BusLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(peer.path().empty());
        setenv("KINETRON_DEVICE", peer.path().c_str(), 1);
        ASSERT_NE(bus_open(), 0);
        // The slowest speed gives the longest time-out (22 ms), so the scripted peer, a
        // thread that must be scheduled, answers in time even on a loaded machine.
        bus_change_baud(255);
    }
    void TearDown() override
    {
        bus_close();
        peer.stop();
    }
    // Reads servo 1's present position against a peer that answers with `reply`.
    int read_with_reply(const Bytes& reply)
    {
        peer.start([reply](const Bytes&) { return reply; });
        return bus_read_word(1, ADDR_PRESENT_POSITION);
    }

    PtyPeer peer;
};

} // namespace

TEST_F(BusLine, PacketsLeaveByteForByte)
{
    peer.start([](const Bytes& packet) { return answer_as_servo(packet, 512); });
    EXPECT_EQ(bus_read_word(1, ADDR_PRESENT_POSITION), 512);
    EXPECT_EQ(bus_result(), RESULT_SUCCESS);
    bus_write_word(1, ADDR_GOAL_POSITION, 512);
    EXPECT_EQ(bus_result(), RESULT_SUCCESS);
    bus_packet_set_id(1);
    bus_packet_set_instruction(INST_PING);
    bus_packet_set_length(2);
    bus_packet_transfer();
    EXPECT_EQ(bus_result(), RESULT_SUCCESS);
    // Values go out as their low 8 or 16 bits.
    bus_write_byte(1, ADDR_LED, 0x101);
    bus_write_word(1, ADDR_MOVING_SPEED, 0x12345);

    const auto heard = peer.wait_heard(5);
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_EQ(heard[0].packet, READ_POSITION);
    EXPECT_EQ(heard[1].packet, WRITE_GOAL_512);
    EXPECT_EQ(heard[2].packet, PING);
    EXPECT_EQ(heard[3].packet, (Bytes{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x19, 0x01, 0xDD}));
    EXPECT_EQ(heard[4].packet, (Bytes{0xFF, 0xFF, 0x01, 0x05, 0x03, 0x20, 0x45, 0x23, 0x6E}));
}

TEST_F(BusLine, SyncWriteForOneAndFortySixServos)
{
    peer.start([](const Bytes&) { return Bytes(); });
    for (int servos : {1, 46}) {
        bus_packet_set_id(ID_BROADCAST);
        bus_packet_set_instruction(SYNC_WRITE);
        bus_packet_set_param(0, ADDR_GOAL_POSITION);
        bus_packet_set_param(1, 2);
        for (int s = 0; s < servos; ++s) {
            const int goal = 100 + 10 * s;
            bus_packet_set_param(2 + 3 * s, s + 1);
            bus_packet_set_param(3 + 3 * s, bus_low_byte(goal));
            bus_packet_set_param(4 + 3 * s, bus_high_byte(goal));
        }
        bus_packet_set_length(3 * servos + 4);
        bus_packet_transfer();
        EXPECT_EQ(bus_result(), RESULT_SENT);
    }
    const auto heard = peer.wait_heard(2);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].packet[3], 7);
    EXPECT_EQ(heard[1].packet[3], 142);
    const Bytes& big = heard[1].packet;
    ASSERT_EQ(big.size(), 146u);
    EXPECT_EQ(big[4], SYNC_WRITE);
    EXPECT_EQ(big[2 + 5 + 3 * 45], 46);                             // last servo's id
    EXPECT_EQ(big[3 + 5 + 3 * 45] | big[4 + 5 + 3 * 45] << 8, 550); // and its goal
    unsigned sum = 0;
    for (std::size_t i = 2; i + 1 < big.size(); ++i)
        sum += big[i];
    EXPECT_EQ(big.back(), static_cast<std::uint8_t>(~sum & 0xFF));
}

TEST_F(BusLine, ReceivingFailuresGiveTheirCodes)
{
    struct Case {
        const char* what;
        Bytes reply;
        int code;
        int status; // kinetron_last_status() after it
    };
    const Bytes good = status_packet(1, 0, {0x00, 0x02});
    Bytes bad_sum = good;
    bad_sum.back() ^= 0x40;
    Bytes noisy = {0x55, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x31};
    noisy.insert(noisy.end(), good.begin(), good.end());
    const Case cases[] = {
        {"silent", {}, RESULT_RX_TIMEOUT, -1},
        {"half a reply", Bytes(good.begin(), good.begin() + 4), RESULT_RX_WAITING, -1},
        {"bad checksum", bad_sum, RESULT_RX_CORRUPT, -1},
        {"another id", status_packet(2, 0, {0x00, 0x02}), RESULT_RX_CORRUPT, -1},
        {"noise with FF first", noisy, RESULT_SUCCESS, 0},
        {"error bits set", status_packet(1, ERRBIT_OVERHEAT | ERRBIT_OVERLOAD, {0x00, 0x02}),
         RESULT_SUCCESS, ERRBIT_OVERHEAT | ERRBIT_OVERLOAD},
    };
    for (const Case& c : cases) {
        const int value = read_with_reply(c.reply);
        EXPECT_EQ(bus_result(), c.code) << c.what;
        EXPECT_EQ(kinetron_last_status(), c.status) << c.what;
        EXPECT_EQ(value, c.code == RESULT_SUCCESS ? 512 : -1) << c.what;
        peer.stop();
    }
}

TEST_F(BusLine, ReplyWithTheBytesOfItsPacketIsTheReplyUnlessTheLineEchoes)
{
    const auto ping_1 = [] {
        bus_packet_set_id(1);
        bus_packet_set_instruction(INST_PING);
        bus_packet_set_length(2);
        bus_packet_transfer();
        return bus_result() * 100 + kinetron_last_status();
    };
    // A PING answered with the voltage bit is byte for byte the PING: on a line that hands
    // nothing back it is the reply, from the first exchange on.
    peer.start([](const Bytes& packet) { return packet[2] == ID_BROADCAST ? Bytes() : packet; });
    EXPECT_EQ(ping_1(), RESULT_SUCCESS * 100 + ERRBIT_VOLTAGE);
    EXPECT_EQ(ping_1(), RESULT_SUCCESS * 100 + ERRBIT_VOLTAGE);
    peer.stop();
    // On a line that echoes every packet and no servo answers, it is the echo.
    ASSERT_NE(bus_open_device(peer.path().c_str()), 0);
    bus_change_baud(255);
    peer.start([](const Bytes& packet) { return packet; });
    EXPECT_EQ(ping_1(), RESULT_RX_TIMEOUT * 100 - 1);
    EXPECT_EQ(ping_1(), RESULT_RX_TIMEOUT * 100 - 1);
}

TEST_F(BusLine, PeerGoneAfterThePacketLeft)
{
    peer.start([this](const Bytes&) {
        peer.hang_up();
        return Bytes();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bus_read_word(1, ADDR_PRESENT_POSITION), -1);
    EXPECT_EQ(bus_result(), RESULT_RX_FAIL);
    // A dead line still takes its whole time-out (22 ms here), so loops never spin.
    EXPECT_GE(elapsed_ms(start), 21.0);

    // With the line gone the next packet cannot be written at all.
    bus_write_byte(1, ADDR_LED, 1);
    EXPECT_EQ(bus_result(), RESULT_TX_FAIL);
}

TEST_F(BusLine, SendingFailuresGiveTheirCodes)
{
    peer.start([](const Bytes& packet) { return answer_as_servo(packet, 7); });
    // Length field disagreeing with the parameters set: nothing goes out.
    bus_packet_set_id(1);
    bus_packet_set_instruction(INST_WRITE);
    bus_packet_set_param(0, ADDR_LED);
    bus_packet_set_param(1, 1);
    bus_packet_set_length(5);
    bus_packet_transfer();
    EXPECT_EQ(bus_result(), RESULT_TX_ERROR);
    // Ids outside 0..254 are refused the same way.
    EXPECT_EQ(bus_read_byte(255, ADDR_ID), -1);
    EXPECT_EQ(bus_result(), RESULT_TX_ERROR);
    EXPECT_EQ(bus_read_word(-1, ADDR_ID), -1);
    EXPECT_EQ(bus_result(), RESULT_TX_ERROR);
    bus_write_byte(-2, ADDR_LED, 1);
    EXPECT_EQ(bus_result(), RESULT_TX_ERROR);
    // The malformed packet was emptied: a ping built now is whole on its own.
    bus_packet_set_id(1);
    bus_packet_set_instruction(INST_PING);
    bus_packet_set_length(2);
    bus_packet_transfer();
    EXPECT_EQ(bus_result(), RESULT_SUCCESS);
    // A broadcast expects no reply.
    bus_write_byte(ID_BROADCAST, ADDR_TORQUE_ENABLE, 0);
    EXPECT_EQ(bus_result(), RESULT_SENT);
    const auto heard = peer.wait_heard(2);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].packet, PING) << "a refused packet reached the line";

    bus_close();
    EXPECT_EQ(bus_read_byte(1, ADDR_ID), -1);
    EXPECT_EQ(bus_result(), RESULT_TX_FAIL);
    bus_packet_set_id(1);
    bus_packet_set_instruction(INST_PING);
    bus_packet_set_length(2);
    bus_packet_transfer();
    EXPECT_EQ(bus_result(), RESULT_TX_FAIL);
}

TEST_F(BusLine, LateReplyIsNeverTakenForTheNextOne)
{
    // First read: no answer in time. The late answer (value 111) reaches the slave's input
    // queue before the second read goes out; the second read's answer is 222.
    std::atomic<int> packets{0};
    peer.start([&](const Bytes&) {
        return ++packets == 1 ? Bytes() : status_packet(1, 0, {222, 0});
    });
    EXPECT_EQ(bus_read_word(1, ADDR_PRESENT_POSITION), -1);
    EXPECT_EQ(bus_result(), RESULT_RX_TIMEOUT);
    const Bytes late = status_packet(1, 0, {111, 0});
    ASSERT_EQ(write(peer.master(), late.data(), late.size()), static_cast<ssize_t>(late.size()));
    for (int waited = 0; waited < 5000; ++waited) {
        int queued = 0;
        ioctl(peer.slave(), FIONREAD, &queued);
        if (queued >= static_cast<int>(late.size()))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(bus_read_word(1, ADDR_PRESENT_POSITION), 222);
    EXPECT_EQ(bus_result(), RESULT_SUCCESS);
}

TEST_F(BusLine, ReplyOfARetryArrivingLateIsNotTakenForTheNextRead)
{
    // The first try of a speed read gets no answer in time. The retry then receives that
    // late answer first and its own answer a few milliseconds later, while the caller has
    // moved on to the position: the second speed reply must not pass for the position.
    std::atomic<int> packets{0};
    const Bytes speed_reply = status_packet(1, 0, {111, 0});
    const int master = peer.master();
    peer.start([&, master](const Bytes&) {
        switch (++packets) {
        case 1:
            return Bytes();
        case 2:
            std::thread([master, speed_reply] {
                std::this_thread::sleep_for(std::chrono::milliseconds(4));
                if (write(master, speed_reply.data(), speed_reply.size()) < 0) {
                }
            }).detach();
            return speed_reply;
        default:
            // A servo answers after its return delay: the late reply is on the line first.
            std::this_thread::sleep_for(std::chrono::milliseconds(8));
            return status_packet(1, 0, {0x00, 0x02});
        }
    });
    EXPECT_EQ(bus_read_word(1, ADDR_PRESENT_SPEED), -1);
    EXPECT_EQ(bus_read_word(1, ADDR_PRESENT_SPEED), 111);
    EXPECT_EQ(bus_read_word(1, ADDR_PRESENT_POSITION), 512);
    EXPECT_EQ(bus_result(), RESULT_SUCCESS);
}

TEST_F(BusLine, BaudNumbersSetExactSpeeds)
{
    for (int baudnum : {0, 1, 34, 35, 207, 254, 255}) {
        bus_change_baud(baudnum);
        EXPECT_EQ(master_speed(peer.master()), 2000000 / (baudnum + 1)) << baudnum;
    }
    // In bits per second: every rate of the servos' baud-rate maps.
    for (int bps : {9600, 57600, 115200, 1000000, 2000000, 2250000, 2500000, 3000000, 4000000,
                    4500000, 2000000 / 256}) {
        EXPECT_NE(bus_set_bps(bps), 0) << bps;
        EXPECT_EQ(master_speed(peer.master()), bps);
        EXPECT_EQ(bus_bps(), bps);
    }
    bus_change_baud(255);
    // Out of range: said on standard error, the speed stays.
    for (int baudnum : {-1, 256}) {
        testing::internal::CaptureStderr();
        bus_change_baud(baudnum);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(std::to_string(baudnum)), std::string::npos) << said;
        EXPECT_EQ("kinetron: " + std::string(kinetron_last_error()) + "\n", said);
        EXPECT_EQ(master_speed(peer.master()), 2000000 / 256) << baudnum;
    }
}

TEST_F(BusLine, EveryPacketLeavesAtTheSpeedItWasBuiltFor)
{
    // Broadcast writes expect no reply, so nothing but the library holds the speed change
    // back until the packet has left. Each packet carries the baud number it was built at.
    peer.start([](const Bytes&) { return Bytes(); });
    const int sequence[] = {0, 254, 1, 207, 3, 34, 0, 100, 2, 35};
    for (int baudnum : sequence) {
        bus_change_baud(baudnum);
        bus_write_byte(ID_BROADCAST, ADDR_LED, baudnum);
        bus_write_byte(ID_BROADCAST, ADDR_LED, baudnum);
    }
    const auto heard = peer.wait_heard(2 * std::size(sequence));
    ASSERT_EQ(heard.size(), 2 * std::size(sequence));
    for (const Heard& h : heard) {
        ASSERT_EQ(h.packet.size(), 8u);
        EXPECT_EQ(h.speed, 2000000 / (h.packet[6] + 1))
            << "packet built at baud number " << int(h.packet[6]);
    }
}

TEST_F(BusLine, AbsentServoTimesOutWithinItsTimeOut)
{
    peer.start([](const Bytes&) { return Bytes(); });
    // Per try: 16 bytes on the wire, 508 us return delay, 1 ms; no adapter latency on a pty.
    // No try may end early; the quickest of ten shows the time-out itself. The margin
    // allows for a loaded machine, yet is far below what a USB adapter's latency would add.
    for (int baudnum : {1, 35, 207, 254}) {
        bus_change_baud(baudnum);
        const double expected = 16.0 * 10 * 1000 / (2000000 / (baudnum + 1)) + 0.508 + 1.0;
        std::vector<double> tries;
        for (int i = 0; i < 10; ++i) {
            const auto start = std::chrono::steady_clock::now();
            bus_read_word(1, ADDR_PRESENT_POSITION);
            tries.push_back(elapsed_ms(start));
            EXPECT_EQ(bus_result(), RESULT_RX_TIMEOUT);
        }
        std::sort(tries.begin(), tries.end());
        std::printf("baud number %d: time-out %.2f ms, measured min %.2f median %.2f max %.2f\n",
                    baudnum, expected, tries.front(), tries[5], tries.back());
        EXPECT_GE(tries.front(), expected - 0.05) << baudnum;
        EXPECT_LT(tries.front(), expected + 20.0) << baudnum;
    }
}

TEST_F(BusLine, SecondProcessFindsTheLineBusy)
{
    int err_pipe[2];
    ASSERT_EQ(pipe(err_pipe), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(err_pipe[1], 2);
        close(err_pipe[0]);
        _exit(bus_open() == 0 ? 0 : 1);
    }
    close(err_pipe[1]);
    std::string said;
    char buffer[256];
    ssize_t n;
    while ((n = read(err_pipe[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, static_cast<std::size_t>(n));
    close(err_pipe[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "second bus_open succeeded";
    EXPECT_NE(said.find("busy"), std::string::npos) << said;
    EXPECT_NE(said.find(peer.path()), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST(BusOpen, FailsWithOneLineAndRecovers)
{
    setenv("KINETRON_DEVICE", "/dev/no-such-servo-line", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(bus_open(), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("/dev/no-such-servo-line"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ("kinetron: " + std::string(kinetron_last_error()) + "\n", said);
    bus_close();

    // Quiet: the reason is kept and nothing is printed.
    kinetron_set_quiet(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(bus_open_device("sim:volume=11"), 0);
    bus_change_baud(300);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(std::string(kinetron_last_error()).find("300"), std::string::npos);
    kinetron_set_quiet(0);

    // The device as an argument wins over the variable; latency: 0 for a pseudo-terminal,
    // the modelled timer for sim:latency=MS, -1 with nothing open.
    PtyPeer peer;
    ASSERT_NE(bus_open_device(peer.path().c_str()), 0);
    EXPECT_STREQ(kinetron_last_error(), "") << "a success clears the last reason";
    EXPECT_EQ(kinetron_latency_ms(), 0);
    bus_close();
    EXPECT_EQ(kinetron_latency_ms(), -1);
    ASSERT_NE(bus_open_device("sim:ids=1-3,latency=16"), 0);
    EXPECT_EQ(kinetron_latency_ms(), 16);
    setenv("KINETRON_DEVICE", peer.path().c_str(), 1);
    ASSERT_NE(bus_open(), 0) << "reopening after bus_close";
    bus_close();
}

TEST_F(BusLine, GroupReadsKeepEveryServoThatAnswered)
{
    // Servos 1 and 3 answer, servo 2 is silent. Protocol 1.0 BULK_READ and protocol 2.0
    // SYNC_READ get one status packet per servo; FAST_SYNC_READ the page's combined reply of
    // ids 3, 7, 4, whole or cut after its second part.
    const Bytes fast = {0xFF, 0xFF, 0xFD, 0x00, 0xFE, 0x19, 0x00, 0x55, 0x00, 0x03, 0xA6,
                        0x00, 0x00, 0x00, 0x84, 0x08, 0x00, 0x07, 0x1F, 0x08, 0x00, 0x00,
                        0x16, 0xCA, 0x00, 0x04, 0xFF, 0x03, 0x00, 0x00, 0xD1, 0x9E};
    std::atomic<bool> cut{false};
    peer.start([&](const Bytes& packet) {
        if (packet[2] != 0xFD) // protocol 1.0 bulk read: 2 bytes of ids 1 and 3
            return status_packet(1, 0, {0x10, 0x01}) +
                   status_packet(3, ERRBIT_OVERHEAT, {0x30, 0x03});
        if (packet[7] == 0x8A)
            return cut ? Bytes(fast.begin(), fast.begin() + 24) : fast;
        return status_packet2(1, 0, {0x11, 0, 0, 0}) + status_packet2(3, 0x80, {0x33, 0, 0, 0});
    });
    struct Row {
        const char* what;
        std::function<int(unsigned char*, int*, int*)> read;
        int good;
        std::vector<int> results, errors;
        Bytes data; // of the servos read well
    };
    const int ids[] = {1, 2, 3};
    const int page_ids[] = {3, 7, 4};
    const int addresses[] = {36, 36, 36};
    const int counts[] = {2, 2, 2};
    const Row rows[] = {
        {"protocol 1.0 bulk read",
         [&](unsigned char* out, int* results, int* errors) {
             return bus_bulk_read(1, 0, 3, ids, addresses, counts, out, results, errors);
         },
         2,
         {1, 6, 1},
         {0, -1, ERRBIT_OVERHEAT},
         {0x10, 0x01, 0x30, 0x03}},
        {"sync read",
         [&](unsigned char* out, int* results, int* errors) {
             return bus_sync_read(0, 3, ids, 132, 4, out, results, errors);
         },
         2,
         {1, 6, 1},
         {0, -1, 0x80},
         {0x11, 0, 0, 0, 0x33, 0, 0, 0}},
        {"fast sync read",
         [&](unsigned char* out, int* results, int* errors) {
             return bus_sync_read(1, 3, page_ids, 132, 4, out, results, errors);
         },
         3,
         {1, 1, 1},
         {0, 0, 0},
         {0xA6, 0, 0, 0, 0x1F, 0x08, 0, 0, 0xFF, 0x03, 0, 0}},
        {"fast sync read cut after the second part",
         [&](unsigned char* out, int* results, int* errors) {
             cut = true;
             return bus_sync_read(1, 3, page_ids, 132, 4, out, results, errors);
         },
         2,
         {1, 1, 5},
         {0, 0, -1},
         {0xA6, 0, 0, 0, 0x1F, 0x08, 0, 0}},
    };
    for (const Row& row : rows) {
        unsigned char out[12] = {};
        int results[3] = {}, errors[3] = {};
        EXPECT_EQ(row.read(out, results, errors), row.good) << row.what;
        EXPECT_EQ(std::vector<int>(results, results + 3), row.results) << row.what;
        EXPECT_EQ(std::vector<int>(errors, errors + 3), row.errors) << row.what;
        // The exchange's own code: the first failing servo's.
        const auto failing = std::find_if(row.results.begin(), row.results.end(),
                                          [](int code) { return code != RESULT_SUCCESS; });
        EXPECT_EQ(bus_result(), failing == row.results.end() ? RESULT_SUCCESS : *failing)
            << row.what;
        Bytes got;
        const int size = static_cast<int>(row.data.size()) / row.good;
        for (int k = 0; k < 3; ++k)
            if (results[k] == RESULT_SUCCESS)
                got.insert(got.end(), out + k * size, out + (k + 1) * size);
        EXPECT_EQ(got, row.data) << row.what;
    }
}

TEST_F(BusLine, PingToAllEndsOnceTheLineIsQuiet)
{
    // Three servos answer, out of id order; room for 253 replies would take seconds at this
    // speed, the quiet after the last one a few tens of milliseconds.
    peer.start([](const Bytes&) {
        return status_packet2(9, 0, {0x24, 0x04, 46}) + status_packet2(2, 0, {0x0C, 0x00, 24}) +
               status_packet2(5, 0x80, {0x24, 0x04, 46});
    });
    int ids[2], models[2], firmwares[2];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bus_ping_all(ids, models, firmwares, 2), 3);
    EXPECT_LT(elapsed_ms(start), 500.0);
    EXPECT_EQ(bus_result(), RESULT_SUCCESS);
    EXPECT_EQ(std::vector<int>(ids, ids + 2), (std::vector<int>{2, 5}));
    EXPECT_EQ(std::vector<int>(models, models + 2), (std::vector<int>{12, 1060}));
    EXPECT_EQ(std::vector<int>(firmwares, firmwares + 2), (std::vector<int>{24, 46}));
    EXPECT_EQ(peer.wait_heard(1)[0].packet,
              (Bytes{0xFF, 0xFF, 0xFD, 0x00, 0xFE, 0x03, 0x00, 0x01, 0x31, 0x42}));
}
