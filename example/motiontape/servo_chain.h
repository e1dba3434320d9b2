// The servos motiontape works with: found by PING, their model's registers by name, one
// group read of speed and position a frame, one SYNC_WRITE of speed and goal a frame.
#ifndef MOTIONTAPE_SERVO_CHAIN_H
#define MOTIONTAPE_SERVO_CHAIN_H

#include "kinetron.h"

enum { CHAIN_SERVOS_MAX = 253 };
// A value that could not be read.
enum { VALUE_FAILED = -2147483647 - 1 };

// How a frame's speeds and positions are read.
enum ReadWay { READ_FAST_SYNC, READ_SYNC, READ_BULK, READ_EACH };

struct ChainServo {
    int id;
    int model;
    int firmware;
};

struct Chain {
    int protocol;
    int count;
    ChainServo servos[CHAIN_SERVOS_MAX];
    ReadWay readWay;
    // Of the first servo's model: every servo shares its control table.
    const kinetron_register* presentPosition;
    const kinetron_register* presentSpeed; // present_velocity or present_speed
    const kinetron_register* goalPosition;
    const kinetron_register* goalSpeed; // profile_velocity or moving_speed
    const kinetron_register* torqueEnable;
    const kinetron_register* positionLow;   // min_position_limit or cw_angle_limit
    const kinetron_register* positionHigh;  // max_position_limit or ccw_angle_limit
    const kinetron_register* velocityLimit; // protocol 2.0 only
    int readAddress;                        // the block a frame reads: present speed and position
    int readCount;
    int writeAddress; // the block a frame writes: goal speed and position
    int writeCount;
};

extern Chain chain;

// Pings each id with the protocol (0: protocol 2.0, then 1.0, for each id) and keeps its
// model and firmware, in the order given; an id that stays silent is asked twice more.
// Returns how many answered; ids that did not are listed in missing.
int chain_ping(const int* ids, int count, int protocol, int* missing, int* missingCount);
// Looks up the registers of the first servo's model and picks the group read. False, with a
// line on standard error, when the servos' models do not share one known control table.
bool chain_learn_registers(const char* tool);
// The name of the read picked: "FAST_SYNC_READ", "SYNC_READ", "BULK_READ", "a READ per servo".
const char* chain_read_name(void);

// Reads every servo's present speed (magnitude) and position with one group read; a value
// that could not be read is VALUE_FAILED and its result code is in results. Returns how many
// servos were read well. Ends the tool when the line is gone.
int chain_read_motion(int* speeds, int* positions, int* results);
// Reads one register of every servo into values (VALUE_FAILED where it failed), a READ each.
void chain_read_each(const kinetron_register* reg, int* values);
// Writes value into one register of every servo, a WRITE each.
void chain_write_each(const kinetron_register* reg, int value);
// One SYNC_WRITE of speed and goal position to the servos whose send entry is true (all
// when send is null). Nothing is sent when there is no such servo.
void chain_write_motion(const int* speeds, const int* goals, const bool* send);
// One SYNC_WRITE of a one-register value to every servo.
void chain_sync_write_each(const kinetron_register* reg, int value);

// When the exchange's result code says the line is gone (the device removed or hung up, a
// write that fails), says so on standard error and ends the tool with status 1.
void chain_exit_if_gone(int code);
// Protocol text for messages: "1.0" or "2.0".
const char* protocol_name(int protocol);

#endif
