// The replies of an exchange in the bytes received so far: one servo's status packet in
// either protocol, and each listed servo's reply of a group read (one status packet each,
// the parts of a fast read's combined packet, or every servo's answer to a PING to all).
// Pure functions over the bytes, apart from the slots they fill.
#ifndef KINETRON_GROUP_REPLIES_H
#define KINETRON_GROUP_REPLIES_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "exchange.h"
#include "reply_scan.h"

namespace kinetron {

// Bytes of one status packet on the wire carrying `params` parameter bytes (protocol 2.0:
// with room for the stuffing they may need).
int status_wire_bytes(int protocol, int params);

// Finds one servo's status packet with the exchange's protocol's scanner. `unstuffed` holds
// a protocol 2.0 reply's parameters.
ScanResult scan_one(const Exchange& exchange, const std::uint8_t* received, std::size_t count,
                    const std::uint8_t* sent, std::size_t sent_count, int expect_id,
                    int expect_params, std::vector<std::uint8_t>& unstuffed);

// The result code of a scan that ended at the deadline in `state`.
int code_of(ScanState state);

// Bytes of a group read's replies on the wire, all listed servos together.
int group_reply_bytes(const Exchange& exchange);

// Where each listed servo's status packet lies in the bytes received.
struct ListedReplies {
    explicit ListedReplies(std::size_t servos) : start(servos), end(servos), found(servos) {}
    std::vector<std::size_t> start, end;
    std::vector<bool> found;
};

// One status packet per listed servo, found in list order, each searched for behind the
// last one found before it; true once every slot has its reply.
bool scan_listed(const Exchange& exchange, const std::vector<std::uint8_t>& received,
                 std::size_t filled, ListedReplies& at);
// At the deadline: each listed servo without a good reply gets its code from the bytes
// between the replies of the servos found before and after it.
void settle_listed(const Exchange& exchange, const std::vector<std::uint8_t>& received,
                   std::size_t filled, const ListedReplies& at);
// The combined reply of a fast read: true once every part is good. Before the deadline the
// slots are filled only then; at the deadline every slot gets its part or its code.
bool scan_combined(const Exchange& exchange, const std::vector<std::uint8_t>& received,
                   std::size_t filled, bool at_deadline);
// Every status packet of a PING to all: a slot per servo (its first reply), in id order.
void scan_everyone(const Exchange& exchange, const std::vector<std::uint8_t>& received,
                   std::size_t filled);

} // namespace kinetron

#endif
