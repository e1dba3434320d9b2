// Option parsing, line faults, repeatable randomness and the wire-timing model.
#include <gtest/gtest.h>

#include <cmath>

#include "sim_test_support.h"
#include "sim_usb_chip.h"

using namespace simtest;

TEST(SimOptions, BadOptionsAreRefusedWithOneLine)
{
    const char* bad[] = {
        "ids=254",     "ids=1-300", "ids=5-3",       "ids=",         "ids=1@255",
        "ids=a",       "baud=255",  "baud=-1",       "pos=1024",     "drop=2",
        "drop=x",      "noise=",    "flaky=300",     "stall=",       "hand=flap",
        "timing=fast", "seed=-1",   "bogus=1",       "trace=1",      "ids=1,,seed=2",
        "latency=256", "latency=",  "volts=.5",      "hot=254",      "volts=5.55",
        "ids=1#999",   "ids=1#",    "ids=1#1060#29", "ids=1#1060@8", "ids=253#1060",
        "delay=255",   "pos=4096",  "ids=1,pos=2048"};
    for (const char* options : bad) {
        Chain chain(options);
        EXPECT_FALSE(chain.ok()) << options;
        EXPECT_FALSE(chain.error().empty()) << options;
        EXPECT_EQ(chain.error().find('\n'), std::string::npos) << options;
    }
    for (const char* options :
         {"", "ids=0-253",
          "ids=1-3@35+7@1,baud=1,pos=0,hand=wave,timing=wire,"
          "drop=0.5,corrupt=0,partial=1,noise=0.25,flaky=3,stall=9,trace,seed=42,latency=16,"
          "volts=0,hot=2,blocked=3",
          "ids=1-3#1060@3+4@1#29+5#350,delay=0,pos=1023"}) {
        Chain chain(options);
        EXPECT_TRUE(chain.ok()) << options << ": " << chain.error();
    }
}

TEST(SimOptions, DefaultChainAndPerRangeSpeeds)
{
    Chain plain("");
    for (int id = 0; id <= 19; ++id)
        EXPECT_EQ(plain.value(id, 3, 1) == id, id >= 1 && id <= 18) << id;
    Chain mixed("ids=1-3@35+7@1,baud=207");
    EXPECT_EQ(mixed.value(3, 3, 1, BPS_35), 3);
    EXPECT_EQ(mixed.value(7, 3, 1, BPS_1), 7);
    Chain later("baud=1,ids=4"); // baud= applies wherever it stands
    EXPECT_EQ(later.value(4, 3, 1, BPS_1), 4);
    // #MODEL and @N in either order, @N through the model's own baud-rate map; protocol 2.0
    // servos listen at 1,000,000 bps by default; delay= sets every return delay.
    Chain models("ids=1@1#1060+2#1060@4+3#350+4#29,delay=7");
    EXPECT_EQ(models.send(instruction2(1, 1, {}), 57600).size(), 14u);
    EXPECT_EQ(models.send(instruction2(2, 1, {}), 2000000).size(), 14u);
    EXPECT_EQ(models.send(instruction2(3, 2, {5, 0, 1, 0}), BPS_1), status2(3, 0, {7}));
    EXPECT_EQ(models.value(4, 5, 1, BPS_35), 7);
    EXPECT_EQ(models.value(4, 36, 2, BPS_35), 2048) << "a 4096-step servo starts mid-range";
}

TEST(SimFaults, EachFaultSpoilsTheReplyItsOwnWay)
{
    const Bytes good{0xFF, 0xFF, 1, 4, 0, 0x00, 0x02, 0xF8};
    Chain drop("ids=1,drop=1");
    EXPECT_TRUE(drop.read(1, 36, 2).empty());
    Chain corrupt("ids=1,corrupt=1");
    Bytes r = corrupt.read(1, 36, 2);
    EXPECT_EQ(r.size(), good.size());
    EXPECT_FALSE(checksum_ok(r));
    Chain partial("ids=1,partial=1");
    for (int i = 0; i < 20; ++i) {
        r = partial.read(1, 36, 2);
        EXPECT_GE(r.size(), 4u);
        EXPECT_LT(r.size(), good.size());
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), Bytes(good.begin(), good.begin() + 4));
    }
    Chain noise("ids=1,noise=1");
    for (int i = 0; i < 20; ++i) {
        r = noise.read(1, 36, 2);
        ASSERT_GT(r.size(), good.size());
        EXPECT_EQ(Bytes(r.end() - 8, r.end()), good) << "the real reply follows the garbage";
        Bytes garbage(r.begin(), r.end() - 8);
        int ffs = 0;
        for (std::uint8_t b : garbage)
            ffs += b == 0xFF;
        EXPECT_EQ(ffs, 1);
        EXPECT_NE(garbage.back(), 0xFF);
    }
}

TEST(SimFaults, FlakyLosesEveryOddReadReplyOfItsServo)
{
    Chain chain("ids=1-2,flaky=2");
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(chain.read(2, 36, 2).empty(), i % 2 == 0) << "read " << i;
        EXPECT_FALSE(chain.read(1, 36, 2).empty());
        EXPECT_FALSE(chain.write(2, 25, {0}).empty()) << "writes are not counted";
    }
}

TEST(SimFaults, TheSameSeedGivesTheSameRun)
{
    auto run = [](const std::string& options) {
        Chain chain(options);
        Bytes all;
        for (int i = 0; i < 60; ++i) {
            Bytes r = chain.read(1 + i % 3, 36, 2);
            all.push_back(static_cast<std::uint8_t>(r.size()));
            all.insert(all.end(), r.begin(), r.end());
        }
        return all;
    };
    const std::string faults = "ids=1-3,drop=0.2,corrupt=0.2,partial=0.2,noise=0.3,seed=";
    EXPECT_EQ(run(faults + "11"), run(faults + "11"));
    EXPECT_NE(run(faults + "11"), run(faults + "12"));
}

// Through a USB adapter's chip (latency=) the reply comes at the first 1 ms frame after
// the chip's timer ran out, counted from the write.
TEST(SimTiming, RepliesAreDueAfterBothPacketsAndTheReturnDelay)
{
    struct Case {
        int baud;
        int delay_units; // 2 us each
        int latency_ms;
    } cases[] = {{1, 0, 0}, {1, 250, 0}, {207, 0, 0},  {207, 250, 0},
                 {1, 0, 1}, {1, 250, 1}, {1, 250, 16}, {207, 0, 1}};
    for (const Case& c : cases) {
        Chain chain("timing=wire,ids=1@" + std::to_string(c.baud) +
                    ",latency=" + std::to_string(c.latency_ms));
        const long bps = 2000000 / (c.baud + 1);
        chain.write(1, 5, {static_cast<std::uint8_t>(c.delay_units)}, bps);
        chain.advance_ms(1000);
        const long long sent = chain.now_us();
        Bytes reply = chain.read(1, 36, 2, bps); // 8 bytes out, 8 bytes back
        ASSERT_EQ(reply.size(), 8u);
        const double byte_us = 10e6 / bps;
        double expected = 16 * byte_us + 2 * c.delay_units;
        if (c.latency_ms > 0)
            expected = 1000 * std::ceil((expected + 1000 * c.latency_ms) / 1000);
        EXPECT_NEAR(static_cast<double>(chain.now_us() - sent), expected, 2.0)
            << "baud " << c.baud << " delay " << c.delay_units << " latency " << c.latency_ms;
    }
}

TEST(SimTiming, UsbChipSendsAFullPacketBeforeItsTimerRunsOut)
{
    std::int64_t arrival[70];
    for (int i = 0; i < 70; ++i)
        arrival[i] = 5000 + 10 * i;
    sim::UsbDelivery first = sim::next_usb_delivery(arrival, 70, 16, 4500);
    EXPECT_EQ(first.count, 62);
    EXPECT_EQ(first.at_us, 6500); // the 62nd byte came at 5610 us
    sim::UsbDelivery rest = sim::next_usb_delivery(arrival + 62, 8, 16, 4500);
    EXPECT_EQ(rest.count, 8);
    EXPECT_EQ(rest.at_us, 22500); // its timer ran from 5620 us
}

TEST(SimTiming, InstantTimingHasEverythingDueAtOnce)
{
    Chain chain("ids=1");
    Bytes packet = instruction(1, 2, {36, 2});
    sim_chain_feed(chain.raw(), packet.data(), static_cast<int>(packet.size()), BPS_35);
    EXPECT_EQ(sim_chain_next_due_us(chain.raw()), 0);
    sim_chain_discard(chain.raw());
    EXPECT_EQ(sim_chain_next_due_us(chain.raw()), -1);
}

// In a group read each servo starts its return delay after the packet before it ends.
TEST(SimTiming, GroupReadRepliesFollowEachOtherAfterTheirReturnDelays)
{
    for (int delay : {0, 250})
        for (int instruction : {0x82, 0x8A}) { // SYNC_READ: 3 packets; FAST_SYNC_READ: one
            Chain chain("timing=wire,ids=1-3#1060,delay=" + std::to_string(delay));
            chain.advance_ms(1000);
            const long long sent = chain.now_us();
            const Bytes packet =
                instruction2(254, instruction, le(132, 2) + le(4, 2) + Bytes{1, 2, 3});
            const Bytes reply = chain.send(packet, BPS_1);
            ASSERT_EQ(reply.size(), instruction == 0x82 ? 45u : 32u);
            const double expected = (packet.size() + reply.size()) * 10.0 + 3 * 2 * delay;
            EXPECT_NEAR(static_cast<double>(chain.now_us() - sent), expected, 3.0)
                << "delay " << delay << " instruction " << instruction;
        }
}
