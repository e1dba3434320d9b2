// What one protocol 2.0 servo does with an instruction packet addressed to it (its id or the
// broadcast id), and whether and what it answers. Group reads and the broadcast PING, which
// several servos answer in turn, are the chain's (sim_group_reads.cpp).
#ifndef SIM_PROTOCOL2_H
#define SIM_PROTOCOL2_H

#include <cstdint>
#include <vector>

#include "sim_packet.h"
#include "sim_servo.h"

namespace sim {

// Acts on the packet; true when the servo answers, with its status packet in `reply`. A
// packet to the servo's secondary id (`secondary`) is acted on, never answered, and cannot
// change the EEPROM area.
bool answer_protocol2(SimServo& servo, const InstructionPacket& packet, std::int64_t at_us,
                      std::vector<std::uint8_t>& reply, bool secondary = false);

// Little-endian fields of instruction parameters.
inline int param_word(const std::vector<std::uint8_t>& p, std::size_t at)
{
    return p[at] | (p[at + 1] << 8);
}

} // namespace sim

#endif
