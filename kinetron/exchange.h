// One exchange on the line: drop stale input, send the packet, collect the reply until its
// deadline, and turn what happened into a result code.
#ifndef KINETRON_EXCHANGE_H
#define KINETRON_EXCHANGE_H

#include <cstdint>
#include <vector>

#include "bus_state.h"

namespace kinetron {

struct Exchange {
    const std::vector<std::uint8_t>* packet = nullptr; // well-formed wire bytes
    bool expect_reply = false;
    int expect_id = 0;
    int expect_params = 0; // parameter bytes the reply carries
};

// Runs the exchange on bus.line at bus.bits_per_second. Returns the result code 0..3, 5..7
// (4 is decided before anything reaches the line) and leaves the reply in `bus`: on code 1
// its parameters in bus.reply, their count in bus.reply_count and its error byte in
// bus.reply_status; otherwise a count of 0 and a status of -1.
int run_exchange(BusState& bus, const Exchange& exchange);

} // namespace kinetron

#endif
