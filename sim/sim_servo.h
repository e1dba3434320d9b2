// One simulated servo: its model's control table, the rules for reading and writing it in
// its protocol, how it moves, and the alarms it raises. Time comes in from the caller
// (microseconds), so tests can drive it.
#ifndef SIM_SERVO_H
#define SIM_SERVO_H

#include <cstdint>
#include <vector>

#include "sim_model.h"

namespace sim {

// The two-byte register at `address` of a control table, low byte first.
inline int table_word(const std::uint8_t* table, int address)
{
    return table[address] | (table[address + 1] << 8);
}

// How one servo starts: where it stands, what a hand does with it, what ails it.
struct ServoSetup {
    int position = -1;         // in its own steps; -1: the middle of its range
    bool hand_wave = false;    // torque off: moved slowly as if by hand
    int hand_speed = 0;        // with hand_wave: the hand's pace in speed units; 0: its own
    int supply_decivolts = -1; // the supply it runs on, 0.1 V; -1: inside its voltage limits
    int return_delay = -1;     // its return delay register; -1: the factory value
    bool hot = false;          // starts above its temperature limit
    bool blocked = false;      // its limb is held: it cannot move
};

class SimServo {
public:
    SimServo(const ServoModel* model, int id, int baud, const ServoSetup& setup,
             std::int64_t now_us);

    const ServoModel& model() const { return *m_; }
    int protocol() const { return m_->protocol; }
    int id() const { return table_[static_cast<std::size_t>(m_->id)]; }
    int baud() const { return table_[static_cast<std::size_t>(m_->baud)]; }
    long bps() const { return m_->baud_bps(baud()); }
    int status_return_level() const { return table_[static_cast<std::size_t>(m_->status_return)]; }
    int return_delay_us() const { return table_[static_cast<std::size_t>(m_->return_delay)] * 2; }
    int firmware() const { return m_->firmware; }
    // Protocol 2.0: the id of the packets it also acts on without answering; 255 for none.
    int secondary_id() const
    {
        return m_->secondary_id >= 0 ? table_[static_cast<std::size_t>(m_->secondary_id)] : 255;
    }

    // Fills `out` with `count` bytes from `address`. Protocol 1.0: bytes past the table read
    // 0 and the range bit is returned. Protocol 2.0: a read reaching past the table returns
    // the access error and no bytes; undefined addresses inside it read 0.
    int read(int address, int count, std::int64_t now_us, std::vector<std::uint8_t>& out);
    // Writes whole or not at all; returns the status error of this write alone: protocol
    // 1.0's error bits, or protocol 2.0's error number (0 on success). Without
    // `eeprom_open` the EEPROM area is refused (a packet to the secondary id).
    int write(int address, const std::uint8_t* data, int count, std::int64_t now_us,
              bool eeprom_open = true);
    // Protocol 2.0: a write held until ACTION, and ACTION (the instruction error when no
    // write is held).
    void hold_write(int address, const std::uint8_t* data, int count);
    int action(std::int64_t now_us);
    // Protocol 1.0 RESET: back to the factory table; the shaft stays where it is, and so do
    // heat and supply.
    void reset(std::int64_t now_us);
    // Protocol 2.0 FACTORY_RESET with its option (0xFF all, 0x01 all but the id, 0x02 all but
    // the id and the baud rate), then a restart; the data range error for another option.
    int factory_reset(int option, std::int64_t now_us);
    // Protocol 2.0 REBOOT: the RAM area back to its initial values and any alarm shutdown
    // lifted (a cause that still stands shuts it down again).
    void reboot(std::int64_t now_us);
    // What every status packet carries about the servo's alarms: protocol 1.0 the causes
    // present now and the alarms that shut it down until its torque limit is written above 0
    // again; protocol 2.0 the alert bit while its hardware error status is not 0.
    int alarms(std::int64_t now_us);

    // Starts counting time afresh from `now_us` (after the clock was swapped).
    void restart_clock(std::int64_t now_us) { last_us_ = now_us; }
    // Moves the simulated shaft (and its heat, its effort) forward to `now_us`.
    void advance(std::int64_t now_us);

private:
    // A register's value by its size and signedness; a byte where no register starts.
    long long get(int address) const;
    void put(int address, long long value);
    int word(int address) const { return table_word(table_.data(), address); }
    double steps_per_second(int speed_value) const;
    int speed_register_value(double steps_per_second) const;
    void factory_table();
    void publish_state();
    bool torque_on() const { return table_[static_cast<std::size_t>(m_->torque_enable)] != 0; }
    // Torque enable on and a torque limit above 0: anything else leaves it limp.
    bool driven() const
    {
        return torque_on() && (m_->torque_limit < 0 || get(m_->torque_limit) > 0);
    }
    bool goal_within_limits(const std::vector<std::uint8_t>& table) const;
    int causes() const;
    void shut_down_on_alarm();
    void let_go();
    int write_protocol1(int address, const std::uint8_t* data, int count);
    int write_protocol2(int address, const std::uint8_t* data, int count, bool eeprom_open);

    const ServoModel* m_;
    std::vector<std::uint8_t> table_;
    double position_;       // steps
    double speed_sps_ = 0;  // signed, steps per second, as last advanced
    double temperature_;    // degrees C
    double hand_speed_sps_; // hand motion speed when torque is off
    int hand_direction_ = 1;
    double hand_reach_; // how far the hand moves it either way
    double hand_low_, hand_high_;
    bool hand_wave_;
    int supply_decivolts_;
    bool blocked_;
    double effort_ = 0; // held limb: the load it pushes with, rising to the torque limit
    int shut_down_ = 0; // alarm bits (the model's) that shut it down, kept until lifted
    std::vector<std::uint8_t> held_; // protocol 2.0 REG_WRITE: the data waiting for ACTION
    int held_address_ = -1;
    std::int64_t last_us_;
};

} // namespace sim

#endif
