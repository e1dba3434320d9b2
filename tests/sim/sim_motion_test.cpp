// How a simulated servo moves, on a clock the test steps.
#include <gtest/gtest.h>

#include <cmath>

#include "sim_test_support.h"

using namespace simtest;

namespace {

const int DIRECTION_BIT = 1 << 10;
// Moving speed 100 is 11.1 rpm; 1024 position units span 300 degrees.
const double UNITS_PER_SECOND_AT_100 = 100 * 0.111 * 6.0 * 1024.0 / 300.0;

} // namespace

TEST(SimMotion, TorqueOnMovesAtTheMovingSpeed)
{
    Chain chain("ids=1,pos=100");
    chain.write_word(1, 32, 100);
    EXPECT_EQ(chain.value(1, 24, 1), 0);
    chain.write_word(1, 30, 300);
    EXPECT_EQ(chain.value(1, 24, 1), 1) << "a goal switches the torque on";
    const double travel_ms = 200.0 / UNITS_PER_SECOND_AT_100 * 1000.0;

    chain.advance_ms(travel_ms * 0.5);
    EXPECT_NEAR(chain.value(1, 36, 2), 200, 5);
    EXPECT_EQ(chain.value(1, 46, 1), 1);
    EXPECT_NEAR(chain.value(1, 38, 2), 100, 2)
        << "turning toward higher positions: no direction bit";
    int load = chain.value(1, 40, 2);
    EXPECT_GT(load & 0x3FF, 0);
    EXPECT_EQ(load & DIRECTION_BIT, 0);

    chain.advance_ms(travel_ms * 0.4); // 90% of the way: not there yet
    EXPECT_LT(chain.value(1, 36, 2), 300);
    EXPECT_EQ(chain.value(1, 46, 1), 1);
    chain.advance_ms(travel_ms * 0.2); // 110%: arrived and stopped
    EXPECT_EQ(chain.value(1, 36, 2), 300);
    EXPECT_EQ(chain.value(1, 46, 1), 0);
    EXPECT_EQ(chain.value(1, 38, 2), 0);

    chain.write_word(1, 30, 100);
    chain.advance_ms(100);
    int speed = chain.value(1, 38, 2);
    EXPECT_NE(speed & DIRECTION_BIT, 0) << "turning toward lower positions";
    EXPECT_NEAR(speed & 0x3FF, 100, 2);
    EXPECT_NE(chain.value(1, 40, 2) & DIRECTION_BIT, 0) << "the load pushes the same way";
}

TEST(SimMotion, SpeedZeroIsFullSpeedAndWorkWarms)
{
    Chain chain("ids=1,pos=0");
    chain.write_word(1, 30, 1023); // speed 0: about 114 rpm, 1023 units in under half a second
    chain.advance_ms(400);
    EXPECT_GT(chain.value(1, 36, 2), 900);
    chain.advance_ms(100);
    EXPECT_EQ(chain.value(1, 36, 2), 1023);
    const int cool = chain.value(1, 43, 1);
    chain.write_word(1, 32, 10); // a slow crawl back keeps it working for long
    chain.write_word(1, 30, 0);
    chain.advance_ms(120000);
    EXPECT_GT(chain.value(1, 43, 1), cool);
}

TEST(SimMotion, TorqueOffHoldsStill)
{
    Chain chain("ids=1,pos=500");
    chain.advance_ms(10000);
    EXPECT_EQ(chain.value(1, 36, 2), 500);
    EXPECT_EQ(chain.value(1, 38, 2), 0);
    chain.write_word(1, 30, 900);
    chain.advance_ms(100);
    chain.write(1, 24, {0});
    int stopped_at = chain.value(1, 36, 2);
    EXPECT_GT(stopped_at, 500);
    chain.advance_ms(5000);
    EXPECT_EQ(chain.value(1, 36, 2), stopped_at);
    EXPECT_EQ(chain.value(1, 46, 1), 0);
}

TEST(SimMotion, HandWaveMovesSlowlyWithTorqueOff)
{
    Chain chain("ids=1-2,pos=500,hand=wave");
    int low = 1023, high = 0, previous = 500, previous_direction = -1;
    bool saw_up = false, saw_down = false;
    for (int step = 0; step < 100; ++step) {
        chain.advance_ms(100);
        int position = chain.value(1, 36, 2);
        int speed = chain.value(1, 38, 2);
        ASSERT_GE(position, 0);
        low = std::min(low, position);
        high = std::max(high, position);
        EXPECT_GT(speed & 0x3FF, 0) << "the hand's speed is reported";
        EXPECT_LT(speed & 0x3FF, 200) << "slowly";
        int direction = speed & DIRECTION_BIT;
        // Where it turned within the step the net travel may disagree with the speed now.
        if (direction == previous_direction && position != previous) {
            EXPECT_EQ(position < previous, direction != 0) << "step " << step;
        }
        saw_up = saw_up || position > previous;
        saw_down = saw_down || position < previous;
        previous = position;
        previous_direction = direction;
    }
    EXPECT_TRUE(saw_up && saw_down) << "back and forth";
    EXPECT_GE(low, 400);
    EXPECT_LE(high, 600);
    // With torque on it obeys the goal instead.
    chain.write_word(2, 30, 700);
    chain.advance_ms(3000);
    EXPECT_EQ(chain.value(2, 36, 2), 700);
}

TEST(SimMotion, HeldLimbOverloadsAndShutsDownUntilItsTorqueLimitReturns)
{
    const int OVERLOAD = 1 << 5;
    auto error = [](Chain& chain, int id) { return chain.send(instruction(id, 1, {}))[4]; };
    Chain chain("ids=1-3,blocked=3");
    EXPECT_EQ(chain.write_word(3, 30, 700)[4], 0);
    chain.advance_ms(50); // pushing, not yet at the limit
    EXPECT_NEAR(chain.value(3, 40, 2), 512, 30);
    EXPECT_EQ(error(chain, 3), 0);
    chain.advance_ms(51);
    EXPECT_EQ(error(chain, 3), OVERLOAD);
    EXPECT_EQ(chain.value(3, 34, 2) + chain.value(3, 24, 1) + chain.value(3, 40, 2), 0);
    chain.write_word(3, 30, 600); // torque enable 1 again, but limp with no torque limit
    chain.advance_ms(1000);
    EXPECT_EQ(chain.value(3, 24, 1) * 10000 + chain.value(3, 36, 2), 10512);
    EXPECT_EQ(chain.write(3, 24, {0})[4], OVERLOAD) << "kept until the limit returns";
    EXPECT_EQ(chain.write_word(3, 34, 1023)[4], 0);
    EXPECT_EQ(error(chain, 3) + error(chain, 1), 0);
    // Without a shutdown it strains on at its torque limit, warm but never alarmed by heat.
    chain.write(3, 18, {0});
    chain.write_word(3, 34, 300);
    chain.write_word(3, 30, 100);
    chain.advance_ms(1000000);
    EXPECT_EQ(chain.value(3, 40, 2), 300 | DIRECTION_BIT);
    EXPECT_EQ(chain.value(3, 43, 1), 65);
    EXPECT_EQ(error(chain, 3), OVERLOAD);
}

TEST(SimMotion, HotServoCoolsAtRestAndComesBackOnceCool)
{
    const int OVERHEAT = 1 << 2;
    Chain chain("ids=1,hot=1");
    chain.advance_ms(100000);
    EXPECT_EQ(chain.value(1, 43, 1), 78);
    EXPECT_EQ(chain.write_word(1, 34, 1023)[4], OVERHEAT) << "still too hot";
    chain.advance_ms(400000); // 70: no longer above the limit, still shut down
    EXPECT_EQ(chain.value(1, 43, 1) * 10 + chain.read(1, 43, 1)[4], 700 + OVERHEAT);
    EXPECT_EQ(chain.write_word(1, 34, 1023)[4], 0);
    EXPECT_EQ(chain.value(1, 34, 2), 1023);
}
