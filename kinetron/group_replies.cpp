#include "group_replies.h"

#include <algorithm>
#include <set>

#include "packet_protocol2.h"
#include "registers.h"
#include "reply_scan_protocol2.h"

namespace kinetron {

int status_wire_bytes(int protocol, int params)
{
    return protocol == 1 ? params + 6 : params + params / 3 + 11;
}

ScanResult scan_one(const Exchange& exchange, const std::uint8_t* received, std::size_t count,
                    const std::uint8_t* sent, std::size_t sent_count, int expect_id,
                    int expect_params, std::vector<std::uint8_t>& unstuffed)
{
    if (exchange.protocol == 1)
        return scan_reply(received, count, sent, sent_count, expect_id, expect_params);
    return scan_reply2(received, count, sent, sent_count, expect_id, expect_params, unstuffed);
}

int code_of(ScanState state)
{
    switch (state) {
    case ScanState::Nothing:
        return RESULT_RX_TIMEOUT;
    case ScanState::Partial:
        return RESULT_RX_WAITING;
    case ScanState::BadPacket:
        return RESULT_RX_CORRUPT;
    case ScanState::Good:
        break;
    }
    return RESULT_SUCCESS;
}

int group_reply_bytes(const Exchange& exchange)
{
    int bytes = 0;
    if (exchange.shape == ReplyShape::Combined) {
        bytes = static_cast<int>(HEADER2_BYTES) + 1; // header, length and 0x55
        for (const ReplySlot& slot : *exchange.slots)
            bytes += 4 + slot.params;
        return bytes;
    }
    for (const ReplySlot& slot : *exchange.slots)
        bytes += status_wire_bytes(exchange.protocol, slot.params);
    return bytes;
}

bool scan_listed(const Exchange& exchange, const std::vector<std::uint8_t>& received,
                 std::size_t filled, ListedReplies& at)
{
    std::vector<ReplySlot>& slots = *exchange.slots;
    const std::vector<std::uint8_t>& packet = *exchange.packet;
    std::vector<std::uint8_t> unstuffed;
    std::size_t from = 0;
    bool all = true;
    for (std::size_t k = 0; k < slots.size(); ++k) {
        if (at.found[k]) {
            from = at.end[k];
            continue;
        }
        const bool first = from == 0;
        const ScanResult r = scan_one(exchange, received.data() + from, filled - from,
                                      first ? packet.data() : nullptr, first ? packet.size() : 0,
                                      slots[k].id, slots[k].params, unstuffed);
        if (r.state != ScanState::Good) {
            all = false;
            continue;
        }
        at.found[k] = true;
        at.start[k] = from + r.start;
        at.end[k] = from + r.end;
        slots[k].result = RESULT_SUCCESS;
        slots[k].error = r.error;
        slots[k].data.assign(r.params, r.params + r.param_count);
        from = at.end[k];
    }
    return all;
}

void settle_listed(const Exchange& exchange, const std::vector<std::uint8_t>& received,
                   std::size_t filled, const ListedReplies& at)
{
    std::vector<ReplySlot>& slots = *exchange.slots;
    const std::vector<std::uint8_t>& packet = *exchange.packet;
    std::vector<std::uint8_t> unstuffed;
    std::size_t from = 0;
    for (std::size_t k = 0; k < slots.size(); ++k) {
        if (at.found[k]) {
            from = at.end[k];
            continue;
        }
        std::size_t to = filled;
        for (std::size_t next = k + 1; next < slots.size(); ++next)
            if (at.found[next] && at.start[next] >= from) {
                to = at.start[next];
                break;
            }
        const bool first = from == 0;
        const ScanResult r =
            scan_one(exchange, received.data() + from, to - from, first ? packet.data() : nullptr,
                     first ? packet.size() : 0, slots[k].id, slots[k].params, unstuffed);
        slots[k].result = code_of(r.state == ScanState::Good ? ScanState::BadPacket : r.state);
    }
}

bool scan_combined(const Exchange& exchange, const std::vector<std::uint8_t>& received,
                   std::size_t filled, bool at_deadline)
{
    std::vector<ReplySlot>& slots = *exchange.slots;
    std::vector<FastPart> parts(slots.size());
    for (std::size_t k = 0; k < slots.size(); ++k) {
        parts[k].id = slots[k].id;
        parts[k].count = slots[k].params;
    }
    const std::vector<std::uint8_t>& packet = *exchange.packet;
    const ScanState state =
        scan_fast_reply(received.data(), filled, packet.data(), packet.size(), parts);
    if (state != ScanState::Good && !at_deadline)
        return false;
    for (std::size_t k = 0; k < slots.size(); ++k) {
        if (parts[k].good) {
            slots[k].result = RESULT_SUCCESS;
            slots[k].error = parts[k].error;
            slots[k].data.assign(parts[k].data, parts[k].data + parts[k].count);
        } else {
            slots[k].result = code_of(state);
        }
    }
    return state == ScanState::Good;
}

void scan_everyone(const Exchange& exchange, const std::vector<std::uint8_t>& received,
                   std::size_t filled)
{
    std::vector<ReplySlot>& slots = *exchange.slots;
    slots.clear();
    std::set<int> seen;
    std::vector<std::uint8_t> unstuffed;
    const std::vector<std::uint8_t>& packet = *exchange.packet;
    std::size_t from = 0;
    for (;;) {
        const bool first = from == 0;
        const ScanResult r =
            scan_reply2(received.data() + from, filled - from, first ? packet.data() : nullptr,
                        first ? packet.size() : 0, ANY_ID, exchange.expect_params, unstuffed);
        if (r.state != ScanState::Good)
            break;
        const int id = received[from + r.start + 4];
        from += r.end;
        if (!seen.insert(id).second)
            continue;
        ReplySlot slot;
        slot.id = id;
        slot.params = exchange.expect_params;
        slot.result = RESULT_SUCCESS;
        slot.error = r.error;
        slot.data.assign(r.params, r.params + r.param_count);
        slots.push_back(slot);
    }
    std::sort(slots.begin(), slots.end(),
              [](const ReplySlot& a, const ReplySlot& b) { return a.id < b.id; });
}

} // namespace kinetron
