// What a simulated servo is: its model's control table (each register's place, size, access
// and factory value), its protocol, and where the registers the simulation drives live.
// Model 12's table is built in, exactly as the chain has always had it; every other model's
// comes from the kit's model table.
#ifndef SIM_MODEL_H
#define SIM_MODEL_H

#include <cstdint>
#include <vector>

namespace sim {

enum class TableKind {
    Steps1024Protocol1, // model 12 and its family
    Steps4096Protocol1, // models 29, 310, 320, 104
    Steps4096Protocol2, // models 1000 and up
    Model350            // protocol 2.0, 1024 steps
};

struct RegisterInfo {
    int address, size;
    bool writable, eeprom, is_signed;
    long long low, high; // accepted raw values of a write
    long long factory;   // -1: none (read-only state, or set by the servo)
};

// Alarm causes, as the simulation sees them; each model reports them in bits of its own.
enum { CAUSE_VOLTAGE = 1, CAUSE_OVERHEAT = 2, CAUSE_OVERLOAD = 4 };

struct ServoModel {
    int model = 12;
    int protocol = 1;
    TableKind kind = TableKind::Steps1024Protocol1;
    int firmware = 24;
    int table_size = 50;
    std::vector<RegisterInfo> registers; // in address order
    int position_max = 1023;             // one turn (or 300 degrees) in steps, less one

    // Addresses of the registers the simulation drives; -1 where the model has none.
    int id = 3, baud = 4, return_delay = 5, status_return = 16;
    int low_limit = 6, high_limit = 8; // angle or position limits
    int temperature_limit = 11, min_voltage = 12, max_voltage = 13, voltage_size = 1;
    int shutdown = 18, hardware_error = -1, lock = 47, registered = 44;
    int torque_enable = 24, goal_position = 30, goal_size = 2, moving_speed = 32;
    int torque_limit = 34, operating_mode = -1, velocity_limit = -1;
    int drive_mode = -1, secondary_id = -1;
    int present_position = 36, present_speed = 38, present_load = 40, present_voltage = 42;
    int present_temperature = 43, moving = 46;
    int ram_start = 24; // the first address of the RAM area

    // The bits its alarm registers (and, in protocol 1.0, its status packets) give a cause.
    int cause_bits(int causes) const;
    int causes_of(int bits) const;
    // Line speed of a value of its baud-rate register; 0 for a value it lacks.
    long baud_bps(int value) const;
    // Speeds: the unit of its moving speed (or profile velocity) and present speed, in rpm,
    // and how many position steps one revolution per minute covers in a second.
    double rpm_per_speed_unit() const;
    double steps_per_second_per_rpm() const;
    bool direction_bit_speeds() const { return kind != TableKind::Steps4096Protocol2; }
    // The highest magnitude of its present load (1023, or 1000 for 0.1 % steps).
    int load_max() const { return kind == TableKind::Steps4096Protocol2 ? 1000 : 1023; }

    const RegisterInfo* register_at(int address) const;
    // Indexes `registers` by address; called once they are all in.
    void index_registers();

private:
    std::vector<int> owner_; // per address: the index of the register holding it, or -1
};

// The model's description, built once; NULL for a model number the kit does not know.
const ServoModel* find_servo_model(int model);

} // namespace sim

#endif
