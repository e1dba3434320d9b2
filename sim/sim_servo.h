// One simulated servo: its control table, the rules for reading and writing it, how it
// moves, and the alarms it raises. Time comes in from the caller (microseconds), so tests
// can drive it.
#ifndef SIM_SERVO_H
#define SIM_SERVO_H

#include <cstdint>
#include <vector>

#include "registers.h"

namespace sim {

// The two-byte register at `address` of a control table, low byte first.
inline int table_word(const std::uint8_t* table, int address)
{
    return table[address] | (table[address + 1] << 8);
}

// How one servo starts: where it stands, what a hand does with it, what ails it.
struct ServoSetup {
    int position = 512;
    bool hand_wave = false;     // torque off: moved slowly as if by hand
    int hand_speed = 0;         // with hand_wave: the hand's pace in speed units; 0: its own
    int supply_decivolts = 110; // the supply it runs on, 0.1 V
    bool hot = false;           // starts at 80 degrees C
    bool blocked = false;       // its limb is held: it cannot move
};

class SimServo {
public:
    SimServo(int id, int baud, const ServoSetup& setup, std::int64_t now_us);

    int id() const { return table_[ADDR_ID]; }
    int baud() const { return table_[ADDR_BAUD]; }
    int status_return_level() const { return table_[ADDR_STATUS_RETURN]; }
    int return_delay_us() const { return table_[ADDR_RETURN_DELAY] * 2; }

    // Fills `out` with `count` bytes from `address`; bytes past the table read 0.
    // Returns the status error bits (the range bit when the read reaches past the table).
    int read(int address, int count, std::int64_t now_us, std::vector<std::uint8_t>& out);
    // Writes whole or not at all; returns the status error bits of this write alone (0 on
    // success; the angle bit for a goal outside the angle limits).
    int write(int address, const std::uint8_t* data, int count, std::int64_t now_us);
    // Back to the factory table; the shaft stays where it is, and so do heat and supply.
    void reset(std::int64_t now_us);
    // The standing alarm bits every status packet carries: the causes present now, and the
    // alarms that shut the servo down until its torque limit is written above 0 again.
    int alarms(std::int64_t now_us);

    // Starts counting time afresh from `now_us` (after the clock was swapped).
    void restart_clock(std::int64_t now_us) { last_us_ = now_us; }
    // Moves the simulated shaft (and its heat, its effort) forward to `now_us`.
    void advance(std::int64_t now_us);

    // Shaft speed in position units per second for a moving-speed register value.
    static double units_per_second(int moving_speed);

private:
    int word(int address) const { return table_word(table_, address); }
    void set_word(int address, int value);
    void factory_table();
    void publish_state();
    // Torque enable on and a torque limit above 0: anything else leaves it limp.
    bool driven() const { return table_[ADDR_TORQUE_ENABLE] && word(ADDR_TORQUE_LIMIT) > 0; }
    int causes() const;
    void shut_down_on_alarm();
    void let_go();

    std::uint8_t table_[CONTROL_TABLE_SIZE];
    double position_;       // position units
    double speed_ups_ = 0;  // signed, position units per second, as last advanced
    double temperature_;    // degrees C
    double hand_speed_ups_; // hand motion speed when torque is off
    int hand_direction_ = 1;
    double hand_low_, hand_high_;
    bool hand_wave_;
    int supply_decivolts_;
    bool blocked_;
    double effort_ = 0; // held limb: the load it pushes with, rising to the torque limit
    int shut_down_ = 0; // alarm bits that shut it down, kept until the torque limit returns
    std::int64_t last_us_;
};

} // namespace sim

#endif
