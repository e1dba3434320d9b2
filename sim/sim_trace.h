// Decoded packets on standard error, one line each.
#ifndef SIM_TRACE_H
#define SIM_TRACE_H

#include <cstdint>
#include <string>
#include <vector>

#include "sim_packet.h"

namespace sim {

// "-> 57142 bps  READ id 1  address 36  count 2  [FF FF 01 04 02 24 02 D2]"
std::string describe_instruction(const InstructionPacket& packet, long bps);
// "<- id 1  err 0x00  data 00 02 (word 512)  [FF FF ...]" or "<- error bits: range";
// protocol 2.0 "<- 2.0 id 1  err 0x00 (none)  data ..." and the parts of a combined reply.
std::string describe_reply(const std::vector<std::uint8_t>& reply);
// One servo's part of a fast group read's combined reply.
std::string describe_fast_part(const std::vector<std::uint8_t>& part);
// Names of the set error bits: "none", "range", "checksum+instruction".
std::string error_bit_names(int error);
// A protocol 2.0 error byte: "none", "access", "alert+data limit".
std::string error_number_name(int error);

void trace_line(const std::string& text);

} // namespace sim

#endif
