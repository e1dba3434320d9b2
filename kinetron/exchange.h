// One exchange on the line: drop stale input, send the packet, collect the reply until its
// deadline, and turn what happened into a result code.
#ifndef KINETRON_EXCHANGE_H
#define KINETRON_EXCHANGE_H

#include <cstdint>
#include <vector>

#include "line.h"

namespace kinetron {

struct Exchange {
    const std::vector<std::uint8_t>* packet = nullptr; // well-formed wire bytes
    bool expect_reply = false;
    int expect_id = 0;
    int expect_params = 0;   // parameter bytes the reply carries
    int bits_per_second = 0; // the line's present speed
};

// Most parameter bytes a reply can carry.
constexpr int MAX_REPLY_PARAMS = 253;

// Result code 0..3, 5..7 (4 is decided before anything reaches the line). On code 1 the
// reply's parameters are in `reply_params` (room for MAX_REPLY_PARAMS), their count in
// `reply_count`.
int run_exchange(Line* line, const Exchange& exchange, std::uint8_t* reply_params,
                 int& reply_count);

} // namespace kinetron

#endif
