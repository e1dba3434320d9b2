// The option list of a simulated chain ("ids=1-3@35+7@1+8-9#1060,timing=wire,seed=4"),
// parsed.
#ifndef SIM_OPTIONS_H
#define SIM_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct ServoPlace {
    int id;
    int baud;  // its baud-rate register, the value the servo listens at
    int model; // model number
};

struct SimOptions {
    std::vector<ServoPlace> servos; // in the order given; an id may appear twice
    int start_position = -1;        // in each servo's own steps; -1: the middle of its range
    bool hand_wave = false;         // torque off: move slowly as if posed by hand
    int hand_speed = 0;             // with hand_wave: the hand's speed in speed units; 0: slow
    bool wire_timing = false;       // replies take the real wire time
    double drop = 0, corrupt = 0, partial = 0, noise = 0; // per reply, 0..1
    int flaky_id = -1; // every odd-numbered read reply of this id is lost
    int stall_id = -1; // a READ of this id never returns
    bool trace = false;
    std::uint64_t seed = 1;
    int usb_latency_ms = 0;    // replies pass a USB adapter's chip with this latency timer; 0: none
    int supply_decivolts = -1; // every servo's supply, 0.1 V; -1: inside its own limits
    int return_delay = -1;     // every servo's return delay register; -1: its factory value
    int hot_id = -1;           // this servo starts too hot
    int blocked_id = -1;       // this servo's limb is held: it cannot move
};

// Fills `options` from a comma-separated list; NULL or "" gives every default.
// False with one line of explanation in `error` on an unknown option or a bad value.
bool parse_sim_options(const char* text, SimOptions& options, std::string& error);

} // namespace sim

#endif
