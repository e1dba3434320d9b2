// One exchange on the line, in either protocol: drop stale input, send the packet, collect
// the replies until they are all in or the deadline passes, and turn what happened into
// result codes. A group read is one exchange whose deadline covers every listed servo.
#ifndef KINETRON_EXCHANGE_H
#define KINETRON_EXCHANGE_H

#include <cstdint>
#include <vector>

#include "bus_state.h"

namespace kinetron {

// What comes back for the packet when a reply is expected.
enum class ReplyShape {
    One,        // one status packet from expect_id
    EachListed, // one status packet per slot, in the order listed
    Combined,   // one combined packet with a part per slot (protocol 2.0 fast reads)
    Everyone    // a status packet from every servo (protocol 2.0 PING to all)
};

// One servo of a group read: what its reply must carry, and what came of it.
struct ReplySlot {
    int id = 0;
    int params = 0; // data bytes of its reply
    int result = RESULT_RX_TIMEOUT;
    int error = -1;                 // its error byte, -1 without a good reply
    std::vector<std::uint8_t> data; // its data bytes on a good reply
};

struct Exchange {
    const std::vector<std::uint8_t>* packet = nullptr; // well-formed wire bytes
    int protocol = 1;
    bool expect_reply = false;
    ReplyShape shape = ReplyShape::One;
    int expect_id = 0;
    int expect_params = 0; // parameter bytes the reply carries (Everyone: each reply)
    // EachListed and Combined: one slot per listed servo, id and params filled in.
    // Everyone: emptied, then a slot per servo that answered, in ascending id order.
    std::vector<ReplySlot>* slots = nullptr;
};

// Runs the exchange on bus.line at bus.bits_per_second. Returns the result code 0..3, 5..7
// (4 is decided before anything reaches the line) and leaves the reply in `bus`: on code 1
// its parameters in bus.reply, their count in bus.reply_count and its error byte in
// bus.reply_status; otherwise a count of 0 and a status of -1. A group read gives each slot
// its own code and error byte and returns 1 when every listed servo answered well, else the
// first failing slot's code (Everyone: 1 when any servo answered).
int run_exchange(BusState& bus, const Exchange& exchange);

} // namespace kinetron

#endif
