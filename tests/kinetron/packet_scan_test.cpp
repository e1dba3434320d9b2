// Packet bytes, reply scanning and time-outs of the bus library's core, without a line.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "packet.h"
#include "reply_scan.h"
#include "timing.h"

using kinetron::PacketBuilder;
using kinetron::ScanState;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes build(int id, int instruction, const Bytes& params, int length)
{
    PacketBuilder packet;
    packet.id = id;
    packet.instruction = instruction;
    for (std::size_t i = 0; i < params.size(); ++i)
        packet.set_param(static_cast<int>(i), params[i]);
    packet.length = length;
    return packet.encode();
}

kinetron::ScanResult scan(const Bytes& received, const Bytes& sent, int id, int params)
{
    return kinetron::scan_reply(received.data(), received.size(), sent.data(), sent.size(), id,
                                params);
}

const Bytes READ_POSITION = {0xFF, 0xFF, 0x01, 0x04, 0x02, 0x24, 0x02, 0xD2};
// Reply of id 1 to it: position 512, no error.
const Bytes POSITION_512 = {0xFF, 0xFF, 0x01, 0x04, 0x00, 0x00, 0x02, 0xF8};

} // namespace

TEST(Packet, ExamplesByteForByte)
{
    EXPECT_EQ(build(1, 2, {0x24, 0x02}, 4), READ_POSITION);
    EXPECT_EQ(build(1, 3, {0x1E, 0x00, 0x02}, 5),
              (Bytes{0xFF, 0xFF, 0x01, 0x05, 0x03, 0x1E, 0x00, 0x02, 0xD6}));
    EXPECT_EQ(build(1, 1, {}, 2), (Bytes{0xFF, 0xFF, 0x01, 0x02, 0x01, 0xFB}));
}

TEST(Packet, MalformedPacketsEncodeToNothing)
{
    EXPECT_TRUE(build(1, 3, {0x18, 0x01}, 5).empty()) << "length field one too many";
    EXPECT_TRUE(build(1, 3, {0x18, 0x01}, 3).empty()) << "length field one too few";
    EXPECT_TRUE(build(255, 1, {}, 2).empty());
    EXPECT_TRUE(build(-1, 1, {}, 2).empty());
    EXPECT_FALSE(build(254, 6, {}, 2).empty()) << "broadcast is a valid target";

    PacketBuilder packet;
    packet.id = 1;
    packet.set_param(kinetron::MAX_PARAMS, 0); // past what a length byte can count
    packet.length = 2;
    EXPECT_TRUE(packet.encode().empty());
    packet.clear();
    packet.id = 1;
    packet.set_param(-1, 0);
    packet.length = 2;
    EXPECT_TRUE(packet.encode().empty());
}

TEST(Packet, ValuesKeepTheirLowByteAndUnsetParametersAreZero)
{
    PacketBuilder packet;
    packet.id = 3;
    packet.instruction = 3 + 256;
    packet.set_param(0, 0x1E);
    packet.set_param(2, 0x1234);
    packet.length = 5;
    const Bytes bytes = packet.encode();
    ASSERT_EQ(bytes.size(), 9u);
    EXPECT_EQ(bytes[4], 3);
    EXPECT_EQ(bytes[5], 0x1E);
    EXPECT_EQ(bytes[6], 0x00);
    EXPECT_EQ(bytes[7], 0x34);
}

TEST(ReplyScan, FindsTheReplyBehindGarbageStrayFfAndEcho)
{
    Bytes garbage = {0x13, 0x00, 0x7F, 0xFE};
    garbage.insert(garbage.end(), POSITION_512.begin(), POSITION_512.end());
    auto r = scan(garbage, READ_POSITION, 1, 2);
    ASSERT_EQ(r.state, ScanState::Good);
    EXPECT_EQ(r.start, 4u);
    EXPECT_EQ(r.params[0] | r.params[1] << 8, 512);

    // A lone FF right before the header: FF FF FF 01 ... must resync one byte on.
    Bytes stray = {0xFF};
    stray.insert(stray.end(), POSITION_512.begin(), POSITION_512.end());
    r = scan(stray, READ_POSITION, 1, 2);
    ASSERT_EQ(r.state, ScanState::Good);
    EXPECT_EQ(r.start, 1u);

    // An FF FF pair whose length byte claims a long packet must not hide the real reply.
    Bytes long_claim = {0xFF, 0xFF, 0x01, 0xF0, 0x00};
    long_claim.insert(long_claim.end(), POSITION_512.begin(), POSITION_512.end());
    EXPECT_EQ(scan(long_claim, READ_POSITION, 1, 2).state, ScanState::Good);

    // An adapter that echoes: our own packet is well formed, with our id and length, and
    // must not pass for the reply.
    Bytes echoed = READ_POSITION;
    EXPECT_EQ(scan(echoed, READ_POSITION, 1, 2).state, ScanState::Nothing);
    echoed.insert(echoed.end(), POSITION_512.begin(), POSITION_512.end());
    r = scan(echoed, READ_POSITION, 1, 2);
    ASSERT_EQ(r.state, ScanState::Good);
    EXPECT_EQ(r.start, READ_POSITION.size());
    EXPECT_EQ(
        scan(Bytes(READ_POSITION.begin(), READ_POSITION.begin() + 3), READ_POSITION, 1, 2).state,
        ScanState::Partial);
}

TEST(ReplyScan, ErrorBitsStillMakeAGoodReply)
{
    const Bytes reply = {0xFF, 0xFF, 0x01, 0x04, 0x08, 0x00, 0x02, 0xF0};
    const auto r = scan(reply, READ_POSITION, 1, 2);
    ASSERT_EQ(r.state, ScanState::Good);
    EXPECT_EQ(r.error, 0x08);
}

TEST(ReplyScan, ClassifiesWhatIsNotAGoodReply)
{
    EXPECT_EQ(scan({}, READ_POSITION, 1, 2).state, ScanState::Nothing);
    EXPECT_EQ(
        scan(Bytes(POSITION_512.begin(), POSITION_512.begin() + 5), READ_POSITION, 1, 2).state,
        ScanState::Partial);
    EXPECT_EQ(scan({0x12, 0x34}, READ_POSITION, 1, 2).state, ScanState::Partial);

    Bytes bad_sum = POSITION_512;
    bad_sum.back() ^= 0x01;
    EXPECT_EQ(scan(bad_sum, READ_POSITION, 1, 2).state, ScanState::BadPacket);

    const Bytes other_id = {0xFF, 0xFF, 0x02, 0x04, 0x00, 0x00, 0x02, 0xF7};
    EXPECT_EQ(scan(other_id, READ_POSITION, 1, 2).state, ScanState::BadPacket);

    // A well-formed reply of one byte where two were asked for.
    const Bytes short_reply = {0xFF, 0xFF, 0x01, 0x03, 0x00, 0x05, 0xF6};
    EXPECT_EQ(scan(short_reply, READ_POSITION, 1, 2).state, ScanState::BadPacket);
}

TEST(Timing, ReplyTimeOuts)
{
    // A word read is 8 bytes out and 8 back.
    EXPECT_EQ(kinetron::wire_time_us(16, 1000000), 160);
    EXPECT_EQ(kinetron::reply_timeout_us(1000000, 8, 8, 0, false), 160 + 508 + 1000);
    EXPECT_EQ(kinetron::reply_timeout_us(1000000, 8, 8, 1, true), 160 + 508 + 2000 + 1000 + 2000);
    EXPECT_LT(kinetron::reply_timeout_us(1000000, 8, 8, 1, true), 6000);
    // Slowest speed, any latency a driver reports: one try stays inside 90 ms.
    for (int latency : {0, 1, 16, 255})
        EXPECT_LT(kinetron::reply_timeout_us(2000000 / 256, 8, 8, latency, true), 90000) << latency;
}
