// Packet bytes, reply scanning and time-outs of the bus library's core, without a line.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "packet.h"
#include "packet_protocol2.h"
#include "reply_scan.h"
#include "reply_scan_protocol2.h"
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
    // A group read of 18 servos: every reply and every servo's longest return delay.
    EXPECT_EQ(kinetron::group_timeout_us(1000000, 32, 18 * 19, 18, 0, false),
              320 + 3420 + 18 * 508 + 1000);
    // Slowest speed, any latency a driver reports: one try stays inside 90 ms.
    for (int latency : {0, 1, 16, 255})
        EXPECT_LT(kinetron::reply_timeout_us(2000000 / 256, 8, 8, latency, true), 90000) << latency;
}

// ---- Protocol 2.0 -----------------------------------------------------------------------

namespace {

Bytes word_params(std::initializer_list<int> words)
{
    Bytes out;
    for (int w : words) {
        out.push_back(static_cast<std::uint8_t>(w & 0xFF));
        out.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    return out;
}

// The page's fast sync read reply: ids 3, 7, 4, four bytes each.
const Bytes FAST_SYNC_REPLY = {0xFF, 0xFF, 0xFD, 0x00, 0xFE, 0x19, 0x00, 0x55, 0x00, 0x03, 0xA6,
                               0x00, 0x00, 0x00, 0x84, 0x08, 0x00, 0x07, 0x1F, 0x08, 0x00, 0x00,
                               0x16, 0xCA, 0x00, 0x04, 0xFF, 0x03, 0x00, 0x00, 0xD1, 0x9E};
// The page's fast bulk read reply: id 3 four bytes, id 7 two, id 4 one.
const Bytes FAST_BULK_REPLY = {0xFF, 0xFF, 0xFD, 0x00, 0xFE, 0x14, 0x00, 0x55, 0x00,
                               0x03, 0xA6, 0x00, 0x00, 0x00, 0x67, 0xA4, 0x00, 0x07,
                               0xA5, 0x01, 0x24, 0x74, 0x00, 0x04, 0x1F, 0xD9, 0xC1};
// READ of present position (4 bytes at 132) from id 1, and its reply: position 166.
const Bytes READ2 = kinetron::encode_packet2(1, 0x02, word_params({132, 4}));
const Bytes POSITION2_166 = {0xFF, 0xFF, 0xFD, 0x00, 0x01, 0x08, 0x00, 0x55,
                             0x00, 0xA6, 0x00, 0x00, 0x00, 0x8C, 0xC0};

// The data of every good part, one after the other, and how many parts were good.
std::pair<Bytes, int> fast_scan(const Bytes& received, std::vector<std::pair<int, int>> servos,
                                ScanState& state)
{
    std::vector<kinetron::FastPart> parts;
    for (auto [id, count] : servos) {
        parts.emplace_back();
        parts.back().id = id;
        parts.back().count = count;
    }
    state = kinetron::scan_fast_reply(received.data(), received.size(), nullptr, 0, parts);
    Bytes data;
    int good = 0;
    for (const auto& part : parts)
        if (part.good) {
            data.insert(data.end(), part.data, part.data + part.count);
            ++good;
        }
    return {data, good};
}

} // namespace

TEST(Packet2, WorkedPacketsOfBothProtocols)
{
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(kinetron::crc16(check, sizeof check), 0xFEE8);
    struct Row {
        const char* what;
        Bytes encoded;
        Bytes wire;
    };
    const Row rows[] = {
        {"read 4 bytes at 132 from id 1",
         READ2,
         {0xFF, 0xFF, 0xFD, 0x00, 0x01, 0x07, 0x00, 0x02, 0x84, 0x00, 0x04, 0x00, 0x1D, 0x15}},
        {"its status packet, position 166",
         kinetron::encode_packet2(1, 0x55, {0x00, 0xA6, 0x00, 0x00, 0x00}), POSITION2_166},
        {"ping id 3",
         kinetron::encode_packet2(3, 0x01, {}),
         {0xFF, 0xFF, 0xFD, 0x00, 0x03, 0x03, 0x00, 0x01, 0x1A, 0xE6}},
        {"write goal 2048 to id 5",
         kinetron::encode_packet2(5, 0x03, {0x74, 0x00, 0x00, 0x08, 0x00, 0x00}),
         {0xFF, 0xFF, 0xFD, 0x00, 0x05, 0x09, 0x00, 0x03, 0x74, 0x00, 0x00, 0x08, 0x00, 0x00, 0x14,
          0x09}},
        {"write FF FF FD at 224: stuffed, length 9",
         kinetron::encode_packet2(1, 0x03, {0xE0, 0x00, 0xFF, 0xFF, 0xFD}),
         {0xFF, 0xFF, 0xFD, 0x00, 0x01, 0x09, 0x00, 0x03, 0xE0, 0x00, 0xFF, 0xFF, 0xFD, 0xFD, 0x5B,
          0x65}},
        {"protocol 1.0 bulk read: 2 bytes at 30 of id 1, 2 bytes at 36 of id 2",
         build(254, 0x92, {0x00, 0x02, 0x01, 0x1E, 0x02, 0x02, 0x24}, 9),
         {0xFF, 0xFF, 0xFE, 0x09, 0x92, 0x00, 0x02, 0x01, 0x1E, 0x02, 0x02, 0x24, 0x1D}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.encoded, row.wire) << row.what;

    // The page's combined replies: every part good, checked by its running CRC.
    ScanState state;
    auto [sync_data, sync_good] = fast_scan(FAST_SYNC_REPLY, {{3, 4}, {7, 4}, {4, 4}}, state);
    EXPECT_EQ(state, ScanState::Good);
    EXPECT_EQ(sync_data, (Bytes{0xA6, 0, 0, 0, 0x1F, 0x08, 0, 0, 0xFF, 0x03, 0, 0}));
    auto [bulk_data, bulk_good] = fast_scan(FAST_BULK_REPLY, {{3, 4}, {7, 2}, {4, 1}}, state);
    EXPECT_EQ(state, ScanState::Good);
    EXPECT_EQ(bulk_data, (Bytes{0xA6, 0, 0, 0, 0xA5, 0x01, 0x1F}));
}

TEST(ReplyScan2, FindsTheReplyOrSaysWhyNot)
{
    const Bytes protocol1 = {0xFF, 0xFF, 0x01, 0x04, 0x00, 0x00, 0x02, 0xF8};
    const auto then = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    Bytes bad_crc = POSITION2_166;
    bad_crc[9] ^= 0x01;
    // A read of 3 bytes answered FF FF FD: stuffed on the wire, unstuffed in the result.
    const Bytes stuffed = kinetron::encode_packet2(1, 0x55, {0x00, 0xFF, 0xFF, 0xFD});
    struct Row {
        const char* what;
        Bytes received;
        int params;
        ScanState state;
        Bytes data;
    };
    const Row rows[] = {
        {"behind garbage and a stray FF",
         then({0x13, 0xFD, 0xFF}, POSITION2_166),
         4,
         ScanState::Good,
         {0xA6, 0, 0, 0}},
        {"behind our own echo", then(READ2, POSITION2_166), 4, ScanState::Good, {0xA6, 0, 0, 0}},
        {"behind a protocol 1.0 packet",
         then(protocol1, POSITION2_166),
         4,
         ScanState::Good,
         {0xA6, 0, 0, 0}},
        {"a protocol 1.0 packet alone", protocol1, 4, ScanState::Partial, {}},
        {"bad CRC", bad_crc, 4, ScanState::BadPacket, {}},
        {"fewer bytes than asked for", POSITION2_166, 2, ScanState::BadPacket, {}},
        {"cut short",
         Bytes(POSITION2_166.begin(), POSITION2_166.end() - 1),
         4,
         ScanState::Partial,
         {}},
        {"stuffed data", stuffed, 3, ScanState::Good, {0xFF, 0xFF, 0xFD}},
    };
    for (const Row& row : rows) {
        std::vector<std::uint8_t> unstuffed;
        const auto r = kinetron::scan_reply2(row.received.data(), row.received.size(), READ2.data(),
                                             READ2.size(), 1, row.params, unstuffed);
        EXPECT_EQ(r.state, row.state) << row.what;
        if (r.state == ScanState::Good) {
            EXPECT_EQ(Bytes(r.params, r.params + r.param_count), row.data) << row.what;
        }
    }
    // The protocol 1.0 scanner steps over a protocol 2.0 packet the same way.
    EXPECT_EQ(scan(then(POSITION2_166, POSITION_512), READ_POSITION, 1, 2).state, ScanState::Good);

    // Fast replies: cut after the second part, the two parts stand; with the second servo
    // silent, the first stands and the third's CRC (over the missing part) fails.
    ScanState state;
    const Bytes cut(FAST_SYNC_REPLY.begin(), FAST_SYNC_REPLY.begin() + 24);
    EXPECT_EQ(fast_scan(cut, {{3, 4}, {7, 4}, {4, 4}}, state).second, 2);
    EXPECT_EQ(state, ScanState::Partial);
    Bytes gap = FAST_SYNC_REPLY;
    gap.erase(gap.begin() + 16, gap.begin() + 24);
    EXPECT_EQ(fast_scan(gap, {{3, 4}, {7, 4}, {4, 4}}, state).second, 1);
    EXPECT_EQ(state, ScanState::Partial);
}
