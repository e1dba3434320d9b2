// The control table of a simulated servo as a client sees it over the bus: factory values,
// reads and writes, what is refused, status-return levels, broadcast, sync writes, reset.
#include <gtest/gtest.h>

#include "sim_test_support.h"

using namespace simtest;

namespace {

const int ERR_VOLTAGE = 1 << 0, ERR_ANGLE = 1 << 1, ERR_HEAT = 1 << 2, ERR_RANGE = 1 << 3;
const int ERR_INSTRUCTION = 1 << 6;

Bytes whole_table(Chain& chain, int id)
{
    Bytes r = chain.read(id, 0, 50);
    return r.size() == 56 ? Bytes(r.begin() + 5, r.end() - 1) : Bytes();
}

} // namespace

TEST(SimTable, FactoryValuesAfterReset)
{
    Chain chain("ids=7,pos=300");
    ASSERT_TRUE(chain.ok()) << chain.error();
    // A reset is answered by the old id at the old speed, then the servo is id 1 at 1 Mbps.
    EXPECT_EQ(chain.send(instruction(7, 6, {})), (Bytes{0xFF, 0xFF, 7, 2, 0, 0xF6}));
    EXPECT_TRUE(chain.read(7, 3, 1).empty());
    EXPECT_TRUE(chain.read(1, 3, 1).empty()) << "still heard at the old speed";
    Bytes r = chain.read(1, 0, 50, BPS_1);
    ASSERT_EQ(r.size(), 56u);
    ASSERT_TRUE(checksum_ok(r));
    Bytes table(r.begin() + 5, r.end() - 1);
    auto word = [&](int a) { return table[a] | (table[a + 1] << 8); };
    EXPECT_EQ(word(0), 12);
    EXPECT_EQ(table[2], 24);
    EXPECT_EQ(table[3], 1);
    EXPECT_EQ(table[4], 1);
    EXPECT_EQ(table[5], 250);
    EXPECT_EQ(word(6), 0);
    EXPECT_EQ(word(8), 1023);
    EXPECT_EQ(table[11], 70);
    EXPECT_EQ(table[12], 60);
    EXPECT_EQ(table[13], 140);
    EXPECT_EQ(word(14), 1023);
    EXPECT_EQ(table[16], 2);
    EXPECT_EQ(table[17], 36);
    EXPECT_EQ(table[18], 36);
    EXPECT_EQ(table[24], 0);
    EXPECT_EQ(table[25], 0);
    EXPECT_EQ((Bytes{table[26], table[27], table[28], table[29]}), (Bytes{1, 1, 32, 32}));
    EXPECT_EQ(word(30), 300) << "goal is where the shaft stands";
    EXPECT_EQ(word(32), 0);
    EXPECT_EQ(word(34), 1023);
    EXPECT_EQ(word(36), 300);
    EXPECT_NEAR(table[42], 110, 10);
    EXPECT_NEAR(table[43], 35, 5);
    EXPECT_EQ(table[44], 0);
    EXPECT_EQ(table[46], 0);
    EXPECT_EQ(table[47], 0);
    EXPECT_EQ(word(48), 32);
}

TEST(SimTable, ReadsAndWritesBytesAndWords)
{
    Chain chain("ids=1-2");
    EXPECT_EQ(chain.write(1, 25, {1}), (Bytes{0xFF, 0xFF, 1, 2, 0, 0xFC}));
    EXPECT_EQ(chain.value(1, 25, 1), 1);
    EXPECT_EQ(chain.value(2, 25, 1), 0) << "the other servo is untouched";
    chain.write_word(1, 32, 0x2C5);
    EXPECT_EQ(chain.value(1, 32, 2), 0x2C5);
    EXPECT_EQ(chain.value(1, 33, 1), 0x02) << "words are little-endian";
    // A write of several registers in one packet: margins and slopes.
    chain.write(2, 26, {3, 4, 5, 6});
    EXPECT_EQ(chain.read(2, 26, 4), (Bytes{0xFF, 0xFF, 2, 6, 0, 3, 4, 5, 6,
                                           static_cast<std::uint8_t>(~(2 + 6 + 18) & 0xFF)}));
}

TEST(SimTable, RefusedWritesSetAnErrorBitAndChangeNothing)
{
    Chain chain("ids=1");
    chain.write(1, 6, {8, 0, 0x58, 0x02}); // angle limits 8..600
    Bytes before = whole_table(chain, 1);
    ASSERT_EQ(before.size(), 50u);
    struct Case {
        int address;
        Bytes data;
        int error;
    } cases[] = {
        {49, {1, 0}, ERR_RANGE},                      // past the end of the table
        {36, {0, 1}, ERR_INSTRUCTION},                // present position is read-only
        {0, {13}, ERR_INSTRUCTION},                   // model number
        {10, {1}, ERR_INSTRUCTION},                   // reserved
        {30, {0, 4}, ERR_RANGE},                      // goal 1024
        {31, {4}, ERR_RANGE},                         // its high byte alone making 1024+
        {3, {254}, ERR_RANGE},                        // id 254
        {4, {255}, ERR_RANGE},                        // baud number 255
        {16, {3}, ERR_RANGE},                         // status-return level 3
        {24, {2}, ERR_RANGE},                         // torque enable 2
        {24, {1, 1, 0, 0, 0, 0, 0, 8}, ERR_RANGE},    // torque and a bad goal: all or nothing
        {30, {7, 0}, ERR_ANGLE},                      // goal below the lowest angle
        {24, {1, 0, 0, 0, 0, 0, 0x59, 2}, ERR_ANGLE}, // 601, torque included
    };
    for (const Case& c : cases) {
        Bytes reply = chain.write(1, c.address, c.data);
        ASSERT_EQ(reply.size(), 6u) << "address " << c.address;
        EXPECT_EQ(reply[4], c.error) << "address " << c.address;
        EXPECT_EQ(whole_table(chain, 1), before) << "address " << c.address;
    }
    chain.write(1, 6, {0, 0, 0, 0}); // limits 0 and 0: a wheel, no goal is refused
    EXPECT_EQ(chain.write_word(1, 30, 700)[4], 0);
}

TEST(SimTable, ReadPastTheTableAnswersRangeAndZeros)
{
    Chain chain("ids=1");
    Bytes r = chain.read(1, 48, 4);
    ASSERT_EQ(r.size(), 10u);
    EXPECT_TRUE(checksum_ok(r));
    EXPECT_EQ(r[4], ERR_RANGE);
    EXPECT_EQ((Bytes{r[5], r[6], r[7], r[8]}), (Bytes{32, 0, 0, 0}));
    r = chain.read(1, 60, 2);
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ((Bytes{r[4], r[5], r[6]}), (Bytes{ERR_RANGE, 0, 0}));
    // A reply to 254 bytes would not fit its length byte.
    EXPECT_EQ(chain.read(1, 0, 254), (Bytes{0xFF, 0xFF, 1, 2, ERR_INSTRUCTION, 0xBC}));
}

TEST(SimTable, StandingAlarmsRideOnEveryStatusPacket)
{
    struct Case {
        const char* options;
        int id, error, volts, limit; // limit: the torque limit it reads
    } cases[] = {
        {"ids=1-2,volts=5.5", 2, ERR_VOLTAGE, 55, 1023},
        {"ids=1-2,volts=12", 1, 0, 120, 1023},
        {"ids=1-2,hot=2", 2, ERR_HEAT, 110, 0}, // shut down at once
    };
    for (const Case& c : cases) {
        Chain chain(c.options);
        ASSERT_TRUE(chain.ok()) << chain.error();
        const std::uint8_t id = static_cast<std::uint8_t>(c.id);
        EXPECT_EQ(chain.send(instruction(id, 1, {}))[4], c.error) << c.options << " ping";
        EXPECT_EQ(chain.write(id, 25, {1})[4], c.error) << c.options << " write";
        EXPECT_EQ(chain.read(id, 49, 2)[4], c.error | ERR_RANGE) << c.options << " read";
        EXPECT_EQ(chain.value(id, 42, 1), c.volts) << c.options;
        EXPECT_EQ(chain.value(id, 34, 2), c.limit) << c.options;
    }
}

TEST(SimTable, BroadcastActsOnAllAndNobodyAnswers)
{
    Chain chain("ids=1-3");
    EXPECT_TRUE(chain.write(254, 25, {1}).empty());
    EXPECT_TRUE(chain.read(254, 36, 2).empty());
    EXPECT_TRUE(chain.send(instruction(254, 1, {})).empty());
    for (int id = 1; id <= 3; ++id)
        EXPECT_EQ(chain.value(id, 25, 1), 1);
}

TEST(SimTable, StatusReturnLevels)
{
    Chain chain("ids=1");
    const Bytes ping = instruction(1, 1, {});
    // level: answers to PING, READ, WRITE
    const bool expected[3][3] = {{true, false, false}, {true, true, false}, {true, true, true}};
    for (int level = 0; level <= 2; ++level) {
        chain.write(1, 16, {static_cast<std::uint8_t>(level)});
        EXPECT_EQ(!chain.send(ping).empty(), expected[level][0]) << "level " << level;
        EXPECT_EQ(!chain.read(1, 16, 1).empty(), expected[level][1]) << "level " << level;
        EXPECT_EQ(!chain.write(1, 25, {0}).empty(), expected[level][2]) << "level " << level;
    }
    // Level 0 still acts on what it does not answer.
    chain.write(1, 16, {0});
    chain.write(1, 25, {1});
    chain.write(1, 16, {2});
    EXPECT_EQ(chain.value(1, 25, 1), 1);
}

TEST(SimTable, SyncWriteChangesOnlyTheServosItLists)
{
    Chain chain("ids=1-4,pos=100");
    // Goals for 1 and 3 only; no reply to a synchronized write.
    EXPECT_TRUE(chain.send(instruction(254, 131, {30, 2, 1, 0x2C, 0x01, 3, 0x90, 0x01})).empty());
    EXPECT_EQ(chain.value(1, 30, 2), 300);
    EXPECT_EQ(chain.value(3, 30, 2), 400);
    EXPECT_EQ(chain.value(2, 30, 2), 100);
    EXPECT_EQ(chain.value(4, 30, 2), 100);
    // Writing a goal switches the torque on, for the listed servos alone.
    EXPECT_EQ(chain.value(1, 24, 1), 1);
    EXPECT_EQ(chain.value(2, 24, 1), 0);
    // A trailing piece shorter than one servo's share is ignored.
    chain.send(instruction(254, 131, {32, 2, 2, 0x64, 0x00, 4, 0x10}));
    EXPECT_EQ(chain.value(2, 32, 2), 100);
    EXPECT_EQ(chain.value(4, 32, 2), 0);
}

TEST(SimTable, NewIdAndBaudCountFromTheNextPacket)
{
    Chain chain("ids=5");
    EXPECT_EQ(chain.write(5, 3, {9}), (Bytes{0xFF, 0xFF, 5, 2, 0, 0xF8})) << "answered as id 5";
    EXPECT_TRUE(chain.read(5, 3, 1).empty());
    EXPECT_EQ(chain.value(9, 3, 1), 9);
    Bytes reply = chain.write(9, 4, {1});
    EXPECT_EQ(reply, (Bytes{0xFF, 0xFF, 9, 2, 0, 0xF4})) << "answered at the old speed";
    EXPECT_TRUE(chain.read(9, 3, 1, BPS_35).empty());
    EXPECT_EQ(chain.value(9, 4, 1, BPS_1), 1);
}

TEST(SimTable, ServosAnswerOnlyAtTheirOwnSpeed)
{
    Chain chain("ids=1@35+2@1");
    ASSERT_TRUE(chain.ok());
    EXPECT_EQ(chain.value(1, 3, 1, BPS_35), 1);
    EXPECT_EQ(chain.value(1, 3, 1, BPS_1), -1);
    EXPECT_EQ(chain.value(2, 3, 1, BPS_1), 2);
    EXPECT_EQ(chain.value(2, 3, 1, BPS_35), -1);
    // Broadcast at one speed reaches only the servos at that speed.
    chain.write(254, 25, {1}, BPS_1);
    EXPECT_EQ(chain.value(2, 25, 1, BPS_1), 1);
    EXPECT_EQ(chain.value(1, 25, 1, BPS_35), 0);
}

TEST(SimTable, ServosSharingAnIdCollide)
{
    Chain chain("ids=1+1+2");
    Bytes r = chain.read(1, 36, 2);
    ASSERT_EQ(r.size(), 8u) << "a whole packet arrives";
    EXPECT_FALSE(checksum_ok(r)) << "but garbled";
    EXPECT_FALSE(checksum_ok(Chain("ids=1-3+3").read(3, 36, 2))) << "overlapping ranges";
    // After a broadcast reset every servo is id 1 at 1 Mbps: they collide there too.
    chain.send(instruction(254, 6, {}));
    r = chain.read(1, 3, 1, BPS_1);
    ASSERT_EQ(r.size(), 7u);
    EXPECT_FALSE(checksum_ok(r));
}

TEST(SimTable, PacketsInPiecesAndAmongNoise)
{
    Chain chain("ids=1");
    Bytes packet = instruction(1, 2, {3, 1});
    Bytes reply;
    for (std::uint8_t byte : Bytes{0x00, 0xFF, 0x13})
        sim_chain_feed(chain.raw(), &byte, 1, BPS_35);
    for (std::uint8_t byte : packet) {
        sim_chain_feed(chain.raw(), &byte, 1, BPS_35);
        Bytes part = chain.take_all();
        reply.insert(reply.end(), part.begin(), part.end());
    }
    EXPECT_EQ(reply, (Bytes{0xFF, 0xFF, 1, 3, 0, 1, 0xFA}));
    // Half a packet at another speed is lost: the rest alone forms no packet.
    sim_chain_feed(chain.raw(), packet.data(), 4, BPS_1);
    sim_chain_feed(chain.raw(), packet.data() + 4, static_cast<int>(packet.size()) - 4, BPS_35);
    EXPECT_TRUE(chain.take_all().empty());
    // A bad checksum is answered with the checksum bit, and nothing is done.
    Bytes bad = instruction(1, 3, {25, 1});
    bad.back() ^= 0x01;
    Bytes answer = chain.send(bad);
    ASSERT_EQ(answer.size(), 6u);
    EXPECT_EQ(answer[4], 1 << 4);
    EXPECT_EQ(chain.value(1, 25, 1), 0);
}

// Protocol 2.0 servos, and protocol 1.0 ones beside them, exchange by exchange: each step
// sends a packet (after letting time pass) and expects the exact bytes that come back.
TEST(SimTable, Protocol2Exchanges)
{
    const int P2_PING = 1, P2_READ = 2, P2_WRITE = 3, P2_ACTION = 5, P2_RESET = 6;
    const int P2_REBOOT = 8, P2_SYNC_READ = 0x82, P2_FAST_SYNC_READ = 0x8A;
    const int ALERT = 0x80, ERR_INSTRUCTION2 = 2, ERR_DATA_RANGE = 4, ERR_LENGTH = 5;
    const int ERR_LIMIT = 6, ERR_ACCESS = 7;
    const Bytes ping1060{0x24, 0x04, 46}; // model 1060, firmware 46
    auto write = [](int id, int address, long long value, int size) {
        return instruction2(id, P2_WRITE, le(address, 2) + le(value, size));
    };
    auto read = [](int id, int address, int count) {
        return instruction2(id, P2_READ, le(address, 2) + le(count, 2));
    };
    auto ack = [](int id, int error) { return status2(id, error, {}); };
    // A fast read's combined reply, length for `listed` servos, parts of `present` ones
    // standing at 2048: every part's CRC runs over all bytes before it.
    auto fast_parts = [](int listed, const Bytes& present) {
        Bytes reply{0xFF, 0xFF, 0xFD, 0x00, 0xFE, static_cast<std::uint8_t>(1 + listed * 8),
                    0,    0x55};
        for (std::uint8_t id : present) {
            reply = reply + Bytes{0, id} + le(2048, 4);
            reply = reply + le(crc16(reply), 2);
        }
        return reply;
    };
    struct Step {
        Bytes request, expected;
        double wait_ms = 0;
        long bps = BPS_1;
    };
    struct Case {
        const char* name;
        const char* options;
        std::vector<Step> steps;
    } cases[] = {
        {"worked read and write",
         "ids=1#1060,pos=166",
         {{{0xFF, 0xFF, 0xFD, 0x00, 0x01, 0x07, 0x00, 0x02, 0x84, 0x00, 0x04, 0x00, 0x1D, 0x15},
           {0xFF, 0xFF, 0xFD, 0x00, 0x01, 0x08, 0x00, 0x55, 0x00, 0xA6, 0x00, 0x00, 0x00, 0x8C,
            0xC0}},
          {{0xFF, 0xFF, 0xFD, 0x00, 0x01, 0x09, 0x00, 0x03, 0x74, 0x00, 0x00, 0x02, 0x00, 0x00,
            0xCA, 0x89},
           {0xFF, 0xFF, 0xFD, 0x00, 0x01, 0x04, 0x00, 0x55, 0x00, 0xA1, 0x0C}},
          // Torque off: the goal is stored and nothing moves.
          {read(1, 116, 4), status2(1, 0, le(512, 4)), 500},
          {read(1, 132, 4), status2(1, 0, le(166, 4))},
          // Torque on: the goal becomes the present position.
          {write(1, 64, 1, 1), ack(1, 0)},
          {read(1, 116, 4), status2(1, 0, le(166, 4)), 500}}},
        {"ping by model",
         "ids=3#1060+4#350+5#29@1",
         {{{0xFF, 0xFF, 0xFD, 0x00, 0x03, 0x03, 0x00, 0x01, 0x1A, 0xE6}, status2(3, 0, ping1060)},
          {instruction2(4, P2_PING, {}), status2(4, 0, {0x5E, 0x01, 42})},
          {instruction2(5, P2_PING, {}), {}}}}, // protocol 1.0 only
        {"rules of the table",
         "ids=1#1060",
         {{write(1, 48, 3000, 4), ack(1, 0)}, // EEPROM with torque off
          {write(1, 116, 3500, 4), ack(1, ERR_LIMIT)},
          {instruction2(1, P2_WRITE, le(116, 2) + le(100, 2)), ack(1, ERR_LENGTH)},
          {write(1, 64, 2, 1), ack(1, ERR_DATA_RANGE)},
          {write(1, 132, 0, 4), ack(1, ERR_ACCESS)}, // read-only
          {write(1, 64, 1, 1), ack(1, 0)},
          {write(1, 7, 9, 1), ack(1, ERR_ACCESS)}, // EEPROM with torque on
          {read(1, 7, 1), status2(1, 0, {1})},
          {read(1, 14, 4), status2(1, 0, {0, 0, 0, 0})}, // a gap reads 0
          {read(1, 660, 4), ack(1, ERR_ACCESS)},         // past the table: no bytes
          {instruction2(1, P2_ACTION, {}), ack(1, ERR_INSTRUCTION2)},
          {instruction2(1, P2_RESET, {0x03}), ack(1, ERR_DATA_RANGE)},
          {instruction2(254, P2_RESET, {0xFF}), {}},
          {write(1, 68, 1, 1), {}}, // the new level governs its own reply
          {read(1, 68, 1), status2(1, 0, {1})}}},
        {"group reads in list order",
         "ids=1-3#1060,pos=100",
         {{instruction2(254, P2_SYNC_READ, le(132, 2) + le(4, 2) + Bytes{3, 9, 1, 2}),
           status2(3, 0, le(100, 4)) + status2(1, 0, le(100, 4)) + status2(2, 0, le(100, 4))},
          {instruction2(254, P2_PING, {}),
           status2(1, 0, ping1060) + status2(2, 0, ping1060) + status2(3, 0, ping1060)}}},
        {"broadcast ping in id order",
         "ids=9#1060+2#1060+5#1060",
         {{instruction2(254, P2_PING, {}),
           status2(2, 0, ping1060) + status2(5, 0, ping1060) + status2(9, 0, ping1060)}}},
        {"worked fast sync read",
         "ids=3#1060+4#1060+7#1060",
         {{write(3, 64, 1, 1), ack(3, 0)},
          {write(3, 116, 166, 4), ack(3, 0)},
          {write(7, 64, 1, 1), ack(7, 0)},
          {write(7, 116, 2079, 4), ack(7, 0)},
          {write(4, 64, 1, 1), ack(4, 0)},
          {write(4, 116, 1023, 4), ack(4, 0)},
          {instruction2(254, P2_FAST_SYNC_READ, le(132, 2) + le(4, 2) + Bytes{3, 7, 4}),
           {0xFF, 0xFF, 0xFD, 0x00, 0xFE, 0x19, 0x00, 0x55, 0x00, 0x03, 0xA6,
            0x00, 0x00, 0x00, 0x84, 0x08, 0x00, 0x07, 0x1F, 0x08, 0x00, 0x00,
            0x16, 0xCA, 0x00, 0x04, 0xFF, 0x03, 0x00, 0x00, 0xD1, 0x9E},
           2000}}},
        {"reboot after a shutdown",
         "ids=1#1060,blocked=1",
         {{write(1, 64, 1, 1), ack(1, 0)},
          {write(1, 116, 3000, 4), ack(1, 0)},
          {instruction2(1, P2_PING, {}), status2(1, ALERT, ping1060), 500},
          {read(1, 70, 1), status2(1, ALERT, {0x20})}, // overload
          {write(1, 64, 1, 1), ack(1, ALERT)},         // accepted, yet torque stays off
          {read(1, 64, 1), status2(1, ALERT, {0})},
          {instruction2(1, P2_REBOOT, {}), ack(1, ALERT)},
          {read(1, 70, 1), status2(1, 0, {0})},
          {write(1, 64, 1, 1), ack(1, 0)},
          {read(1, 64, 1), status2(1, 0, {1})}}},
        {"fast read with a servo missing",
         "ids=1-3#1060+4#350",
         {{instruction2(254, P2_FAST_SYNC_READ, le(132, 2) + le(4, 2) + Bytes{1, 9, 2, 4}),
           fast_parts(4, {1, 2})}, // header for four, parts of 1 and 2; 350 has no fast reads
          {instruction2(254, 0x92,
                        Bytes{2} + le(146, 2) + le(1, 2) + Bytes{1} + le(7, 2) + le(1, 2)),
           status2(2, 0, {35}) + status2(1, 0, {1})},
          {write(2, 68, 0, 1), {}}, // level 0: group reads are silent too
          {instruction2(254, P2_SYNC_READ, le(7, 2) + le(1, 2) + Bytes{2, 1}), status2(1, 0, {1})},
          {instruction2(254, 0x93,
                        Bytes{3} + le(65, 2) + le(1, 2) + Bytes{1, 1} + le(65, 2) + le(1, 2) +
                            Bytes{1}),
           {}},
          {read(1, 65, 1), status2(1, 0, {1})},
          {instruction2(1, 4, le(65, 2) + Bytes{0}), ack(1, 0)}, // held until ACTION
          {read(1, 69, 1), status2(1, 0, {1})},
          {instruction2(254, P2_ACTION, {}), {}},
          {read(1, 65, 2), status2(1, 0, {0, 0})},
          {write(1, 224, 0xFDFFFF, 3), ack(1, 0)}, // a header's bytes in the data are stuffed
          {read(1, 224, 3), packet2(1, {0x55, 0, 0xFF, 0xFF, 0xFD})}}},
        {"secondary id and drive mode",
         "ids=1#1060",
         {{write(1, 12, 20, 1), ack(1, 0)},
          {write(20, 65, 1, 1), {}}, // acted on, never answered
          {write(20, 9, 0, 1), {}},  // but not in the EEPROM area
          {read(1, 9, 1), status2(1, 0, {250})},
          {read(1, 65, 1), status2(1, 0, {1})},
          {write(1, 10, 8, 1), ack(1, 0)}, // bit 3: a goal switches the torque on
          {write(1, 116, 100, 4), ack(1, 0)},
          {read(1, 64, 1), status2(1, 0, {1})}}},
        {"model 350",
         "ids=1#350,hot=1",
         {{read(1, 50, 1), status2(1, ALERT, {0x02})}, // overheating, in its own bits
          {write(1, 30, 1000, 2), ack(1, ALERT)},
          {read(1, 30, 4), status2(1, ALERT, le(1000, 2) + le(0, 2))},
          {write(1, 30, 1024, 2), ack(1, ALERT | ERR_DATA_RANGE)}}},
        {"protocol 1.0 with 4096 steps",
         "ids=1#29,pos=4000",
         {{instruction(1, 3, {30, 0x64, 0x00}), {0xFF, 0xFF, 1, 2, 0, 0xFC}, 0, BPS_35},
          {instruction(1, 2, {24, 1}), {0xFF, 0xFF, 1, 3, 0, 1, 0xFA}, 0, BPS_35},
          {instruction(1, 2, {36, 2}), {0xFF, 0xFF, 1, 4, 0, 0x64, 0x00, 0x96}, 3000, BPS_35}}},
        {"mixed chain",
         "ids=1-3+4-6#1060",
         {{instruction(2, 2, {3, 1}), {0xFF, 0xFF, 2, 3, 0, 2, 0xF8}, 0, BPS_35},
          {instruction(5, 2, {3, 1}), {}, 0, BPS_35},
          {instruction2(5, P2_PING, {}), status2(5, 0, ping1060)},
          {instruction2(2, P2_PING, {}), {}}}},
        {"protocol 1.0 bulk read",
         "ids=1-2#29+3",
         {{{0xFF, 0xFF, 0xFE, 0x09, 0x92, 0x00, 0x02, 0x01, 0x1E, 0x02, 0x02, 0x24, 0x1D},
           {0xFF, 0xFF, 1, 4, 0, 0x00, 0x08, 0xF2, 0xFF, 0xFF, 2, 4, 0, 0x00, 0x08, 0xF1},
           0,
           BPS_35},
          {instruction(254, 0x92, {0, 2, 3, 36, 2, 1, 36}),
           {0xFF, 0xFF, 1, 4, 0, 0x00, 0x08, 0xF2},
           0,
           BPS_35}}}, // model 12 has no bulk read
    };
    for (const Case& c : cases) {
        Chain chain(c.options);
        ASSERT_TRUE(chain.ok()) << c.name << ": " << chain.error();
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            chain.advance_ms(step.wait_ms);
            EXPECT_EQ(chain.send(step.request, step.bps), step.expected)
                << c.name << ", step " << i;
        }
    }
}

TEST(SimTable, TraceNamesProtocol2Packets)
{
    Chain chain("ids=1-2#1060,trace");
    testing::internal::CaptureStderr();
    chain.send(instruction2(254, 0x82, le(132, 2) + le(4, 2) + Bytes{2, 1}), BPS_1);
    chain.send(instruction2(254, 0x9A, Bytes{1} + le(146, 2) + le(1, 2)), BPS_1);
    chain.send(instruction2(2, 6, {0x01}), BPS_1);
    const std::string trace = testing::internal::GetCapturedStderr();
    for (const char* line : {
             "2.0 SYNC_READ id 254 (broadcast)  address 132  count 4  ids 2 1  [",
             "<- 2.0 id 2  err 0x00 (none)  data 00 08 00 00  [FF FF FD 00 02 08 00 55 00 00 08",
             "2.0 FAST_BULK_READ id 254 (broadcast)  id 1 address 146 count 1  [",
             "<- 2.0 combined reply, part of id 1  err 0x00 (none)  data 23  [FF FF FD 00 FE",
             "2.0 FACTORY_RESET id 2  option 0x01  [",
         })
        EXPECT_NE(trace.find(line), std::string::npos) << line << "\nin:\n" << trace;
}
