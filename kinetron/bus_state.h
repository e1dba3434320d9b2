// Everything the library holds for the process, in one plain structure: the open line, the
// packet under construction, the line speed, the outcome of the last exchange and what the
// operations report. bus_operations.cpp owns the one instance; the exchange is handed it.
//
// Plain memory only, with no destructor: the watchdog may end the process with exit while
// the main thread is inside an exchange, and nothing run at exit may pull the line or a
// buffer from under it.
#ifndef KINETRON_BUS_STATE_H
#define KINETRON_BUS_STATE_H

#include <cstdint>
#include <type_traits>

#include "line.h"
#include "packet.h"
#include "registers.h"

namespace kinetron {

// Most parameter bytes a protocol 1.0 reply can carry.
constexpr int MAX_REPLY_PARAMS = 253;
// Most bytes one protocol 2.0 READ asks for.
constexpr int MAX_READ_BYTES2 = 1000;
// Speed a line opens at, before the first bus_change_baud: baud number 1, the servos'
// factory setting.
constexpr int OPENING_BITS_PER_SECOND = 1000000;

// Whether the open line hands back every packet sent on it (some adapters echo).
enum LineEcho { ECHO_UNKNOWN, ECHO_NONE, ECHO_SEEN };

struct BusState {
    Line* line = nullptr;                          // null while nothing is open
    PacketBuilder packet;                          // emptied after every transfer
    int bits_per_second = OPENING_BITS_PER_SECOND; // speed the line is set to

    // The last exchange: its result code, the parameters and the error byte of its reply
    // (-1 when it had no good reply or expected none).
    int result = RESULT_SENT;
    std::uint8_t reply[MAX_READ_BYTES2] = {};
    int reply_count = 0;
    int reply_status = -1;
    // Set when an exchange ended at its deadline without a good reply: the servo may still
    // answer, late, and that answer must not pass for the next one (exchange.cpp).
    bool reply_may_be_late = false;
    // When the bytes written so far have left the line (monotonic microseconds, estimated from
    // their wire time): a packet written behind them starts only then (exchange.cpp).
    std::int64_t line_busy_until_us = 0;
    // Learnt from the replies since the line opened (exchange.cpp).
    LineEcho line_echo = ECHO_UNKNOWN;

    // The device the open line was opened as, for messages.
    char device[256] = "";
    // Why the last bus_open, bus_open_device or bus_change_baud failed; "" after a success.
    char last_error[512] = "";
    // Keep failures for kinetron_last_error() without printing them.
    bool quiet = false;
};

static_assert(std::is_trivially_destructible<BusState>::value,
              "the watchdog's exit must find nothing to destroy");

} // namespace kinetron

#endif
