// What the files of kinetron.h's operations share: the library's one state and the ways an
// operation reports a failure.
#ifndef KINETRON_OPERATIONS_H
#define KINETRON_OPERATIONS_H

#include <cstdint>
#include <vector>

#include "bus_state.h"

namespace kinetron {

// The library's one state. Constructed before main and never destroyed (BusState has no
// destructor), so the watchdog's exit leaves it as it is.
extern BusState g_bus;

// The library's one way to report a failure: kept for kinetron_last_error() and, unless
// the caller asked for quiet, said in one line on standard error.
void report_failure(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Sets the line's speed; on refusal says why and leaves the recorded speed alone.
bool set_line_speed(Line* line, int bits_per_second);

// An operation that sends nothing: code 4, and no reply to tell of.
void refuse_packet();

// Sends one instruction packet of `protocol` (1 or 2) with the parameters given and, unless
// it goes to the broadcast id or `reply_params` is negative, waits for the servo's status
// packet with that many parameter bytes (then in g_bus.reply). Sets g_bus.result and
// returns it; a packet too long for its protocol sends nothing and gives code 4.
int send_instruction(int protocol, int id, int instruction, const std::vector<std::uint8_t>& params,
                     int reply_params);

// The wire bytes of a protocol 1.0 packet; empty when it is too long for its length byte.
std::vector<std::uint8_t> encode_packet1(int id, int instruction,
                                         const std::vector<std::uint8_t>& params);

// Appends a 2-byte value, low byte first.
void append_word(std::vector<std::uint8_t>& out, int value);

} // namespace kinetron

#endif
