// One simulated servo: its control table, the rules for reading and writing it, and how
// it moves. Time comes in from the caller (microseconds), so tests can drive it.
#ifndef SIM_SERVO_H
#define SIM_SERVO_H

#include <cstdint>
#include <vector>

namespace sim {

class SimServo {
public:
    static const int TABLE_SIZE = 50;

    // hand_speed: with hand_wave, the hand's pace in speed units; 0 gives each servo its own
    // slow pace.
    SimServo(int id, int baud, int position, bool hand_wave, std::int64_t now_us,
             int hand_speed = 0);

    int id() const { return table_[3]; }
    int baud() const { return table_[4]; }
    int status_return_level() const { return table_[16]; }
    int return_delay_us() const { return table_[5] * 2; }

    // Fills `out` with `count` bytes from `address`; bytes past the table read 0.
    // Returns the status error bits (the range bit when the read reaches past the table).
    int read(int address, int count, std::int64_t now_us, std::vector<std::uint8_t>& out);
    // Writes whole or not at all; returns the status error bits (0 on success).
    int write(int address, const std::uint8_t* data, int count, std::int64_t now_us);
    // Back to the factory table; the shaft stays where it is.
    void reset(std::int64_t now_us);

    // Starts counting time afresh from `now_us` (after the clock was swapped).
    void restart_clock(std::int64_t now_us) { last_us_ = now_us; }
    // Moves the simulated shaft forward to `now_us`.
    void advance(std::int64_t now_us);

    // Shaft speed in position units per second for a moving-speed register value.
    static double units_per_second(int moving_speed);

private:
    int word(int address) const { return table_[address] | (table_[address + 1] << 8); }
    void set_word(int address, int value);
    void factory_table();
    void publish_state();

    std::uint8_t table_[TABLE_SIZE];
    double position_;         // position units
    double speed_ups_ = 0;    // signed, position units per second, as last advanced
    double temperature_ = 35; // degrees C
    double hand_speed_ups_;   // hand motion speed when torque is off
    int hand_direction_ = 1;
    double hand_low_, hand_high_;
    bool hand_wave_;
    std::int64_t last_us_;
};

} // namespace sim

#endif
