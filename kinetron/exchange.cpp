#include "exchange.h"

#include <algorithm>

#include "clock.h"
#include "group_replies.h"
#include "packet_protocol2.h"
#include "registers.h"
#include "reply_scan.h"
#include "reply_scan_protocol2.h"
#include "timing.h"

namespace kinetron {

namespace {

// Enough for any reply and a good deal of line noise; what comes beyond is read and dropped.
constexpr std::size_t RECEIVE_CAPACITY = 4096;

// After a time-out: keep reading for one more adapter latency and throw it away, so that
// a reply arriving late is never taken for the reply to the next packet.
void drop_bytes_until(Line* line, std::int64_t until)
{
    std::uint8_t scratch[256];
    while (line->read_until(scratch, sizeof scratch, until) > 0) {
    }
}

void drop_late_bytes(Line* line)
{
    drop_bytes_until(line, monotonic_us() + static_cast<std::int64_t>(line->latency_ms()) * 1000);
}

// A reply can hold the very bytes of the packet it answers: a PING answered with the voltage
// bit (error byte 1, PING's own code), a word read with the angle bit and the value
// address + 512. On a line that echoes those bytes are the echo, on one that does not they
// are the reply. Which it is, each line shows with its first reply: behind an echo of the
// packet or not. Until then the question is put to the line itself (line_echoes).
// A protocol 2.0 instruction never looks like a status packet: its instruction byte is
// never the status byte 0x55.
bool echo_shaped_like_reply(const std::vector<std::uint8_t>& packet, const Exchange& exchange)
{
    return exchange.protocol == 1 && packet[2] == exchange.expect_id &&
           packet[3] == exchange.expect_params + 2;
}

bool begins_with_copy(const std::vector<std::uint8_t>& received, std::size_t filled,
                      const std::vector<std::uint8_t>& packet)
{
    return filled >= packet.size() && std::equal(packet.begin(), packet.end(), received.begin());
}

// Sends a PING to every servo, which none answers, and listens for one time-out: true when
// the line hands the packet back.
bool line_echoes(BusState& bus)
{
    const std::uint8_t ping_all[] = {
        0xFF, 0xFF,      ID_BROADCAST,
        2,    INST_PING, static_cast<std::uint8_t>(~(ID_BROADCAST + 2 + INST_PING))};
    Line* line = bus.line;
    const std::int64_t timeout = reply_timeout_us(bus.bits_per_second, sizeof ping_all, 0,
                                                  line->latency_ms(), line->is_usb_adapter());
    line->discard_input();
    if (!line->write_all(ping_all, sizeof ping_all))
        return false;
    const std::int64_t deadline = monotonic_us() + timeout;
    std::uint8_t back[sizeof ping_all];
    std::size_t filled = 0;
    while (filled < sizeof back) {
        const int n = line->read_until(back + filled, sizeof back - filled, deadline);
        if (n <= 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    return filled == sizeof back && std::equal(back, back + filled, ping_all);
}

// Drops stale input and writes the packet; false (after the whole time-out, so that a caller
// retrying in a loop does not spin) when the line refuses it. A write returns once the bytes
// are handed on, not once they are on the wire: `backlog_us` gets how long the line is still
// busy with the packets written before this one (a SYNC_WRITE just sent, say), which the
// reply's deadline must add.
bool send_packet(BusState& bus, const std::vector<std::uint8_t>& packet, std::int64_t timeout,
                 std::int64_t& backlog_us)
{
    Line* line = bus.line;
    line->discard_input();
    const std::int64_t sent_at = monotonic_us();
    backlog_us = bus.line_busy_until_us > sent_at ? bus.line_busy_until_us - sent_at : 0;
    if (line->write_all(packet.data(), packet.size())) {
        bus.line_busy_until_us = sent_at + backlog_us +
                                 wire_time_us(static_cast<int>(packet.size()), bus.bits_per_second);
        return true;
    }
    sleep_until_us(sent_at + timeout);
    return false;
}

// What receive() saw.
enum class Received { Done, Deadline, DeadLine };

// Reads into `received` until `done` says every reply is in, or the deadline passes. With
// `quiet_us` above 0 the wait ends at `first_until` when nothing has come by then, and
// once the line has been quiet for `quiet_us` after the last bytes. Bytes beyond the buffer
// are read and dropped.
template <class Done>
Received receive(Line* line, std::vector<std::uint8_t>& received, std::size_t& filled,
                 std::int64_t deadline, std::int64_t quiet_us, std::int64_t first_until, Done done)
{
    std::uint8_t overflow[256];
    std::int64_t until = quiet_us > 0 ? std::min(first_until, deadline) : deadline;
    for (;;) {
        int n;
        if (filled < received.size())
            n = line->read_until(received.data() + filled, received.size() - filled, until);
        else
            n = line->read_until(overflow, sizeof overflow, until);
        if (n < 0) {
            sleep_until_us(deadline);
            return Received::DeadLine;
        }
        if (n == 0)
            return Received::Deadline;
        if (quiet_us > 0)
            until = std::min(deadline, monotonic_us() + quiet_us);
        if (filled >= received.size())
            continue;
        filled += static_cast<std::size_t>(n);
        if (done())
            return Received::Done;
    }
}

// Keeps the good reply that `scan` found.
int take_reply(BusState& bus, const ScanResult& scan, std::int64_t timeout)
{
    std::copy(scan.params, scan.params + scan.param_count, bus.reply);
    bus.reply_count = scan.param_count;
    bus.reply_status = scan.error;
    // After a time-out the servo may still have answered, late: the retry that follows can
    // then take that late reply for its own, and its own reply, still on its way, would pass
    // for the reply to the next packet (same id, same length: a speed value stored as a
    // position). So the first success after a time-out keeps the line quiet for one more
    // time-out, reading and dropping what arrives.
    if (bus.reply_may_be_late) {
        bus.reply_may_be_late = false;
        drop_bytes_until(bus.line, monotonic_us() + timeout);
    }
    return RESULT_SUCCESS;
}

int run_single_exchange(BusState& bus, const Exchange& exchange)
{
    Line* line = bus.line;
    const std::vector<std::uint8_t>& packet = *exchange.packet;
    const int reply_bytes =
        exchange.expect_reply ? status_wire_bytes(exchange.protocol, exchange.expect_params) : 0;
    const std::int64_t timeout =
        reply_timeout_us(bus.bits_per_second, static_cast<int>(packet.size()), reply_bytes,
                         line->latency_ms(), line->is_usb_adapter());

    std::int64_t backlog_us = 0;
    if (!send_packet(bus, packet, timeout, backlog_us))
        return RESULT_TX_FAIL;
    if (!exchange.expect_reply)
        return RESULT_SENT;

    const std::int64_t deadline = monotonic_us() + backlog_us + timeout;
    std::vector<std::uint8_t> received(RECEIVE_CAPACITY);
    std::vector<std::uint8_t> unstuffed;
    std::size_t filled = 0;
    const auto scan = [&](const std::uint8_t* sent, std::size_t sent_count) {
        return scan_one(exchange, received.data(), filled, sent, sent_count, exchange.expect_id,
                        exchange.expect_params, unstuffed);
    };
    int outcome = -1;
    const Received how = receive(line, received, filled, deadline, 0, deadline, [&] {
        const ScanResult found = scan(packet.data(), packet.size());
        const bool behind_copy = begins_with_copy(received, filled, packet);
        if (found.state == ScanState::Good) {
            bus.line_echo = behind_copy ? ECHO_SEEN : ECHO_NONE;
            outcome = take_reply(bus, found, timeout);
            return true;
        }
        if (behind_copy && bus.line_echo == ECHO_NONE && echo_shaped_like_reply(packet, exchange)) {
            outcome = take_reply(bus, scan(nullptr, 0), timeout);
            return true;
        }
        return false;
    });
    if (how == Received::DeadLine)
        return RESULT_RX_FAIL;
    if (how == Received::Done)
        return outcome;

    const ScanResult found = scan(packet.data(), packet.size());
    if (filled == 0)
        bus.line_echo = ECHO_NONE; // a line that echoes would have handed the packet back
    if (found.state == ScanState::Nothing && bus.line_echo == ECHO_UNKNOWN &&
        begins_with_copy(received, filled, packet) && echo_shaped_like_reply(packet, exchange)) {
        bus.line_echo = line_echoes(bus) ? ECHO_SEEN : ECHO_NONE;
        if (bus.line_echo == ECHO_NONE)
            return take_reply(bus, scan(nullptr, 0), timeout);
    }
    drop_late_bytes(line);
    bus.reply_may_be_late = true;
    return code_of(found.state);
}

int run_group_exchange(BusState& bus, const Exchange& exchange)
{
    Line* line = bus.line;
    const std::vector<std::uint8_t>& packet = *exchange.packet;
    std::vector<ReplySlot>& slots = *exchange.slots;
    const bool everyone = exchange.shape == ReplyShape::Everyone;
    // A PING to all waits for as many servos as ids can be given.
    const int servos = everyone ? ID2_HIGHEST_SERVO + 1 : static_cast<int>(slots.size());
    const int reply_bytes = everyone ? servos * status_wire_bytes(2, exchange.expect_params)
                                     : group_reply_bytes(exchange);
    const int sent_bytes = static_cast<int>(packet.size());
    const std::int64_t timeout =
        group_timeout_us(bus.bits_per_second, sent_bytes, reply_bytes, servos, line->latency_ms(),
                         line->is_usb_adapter());
    for (ReplySlot& slot : slots) {
        slot.result = RESULT_RX_TIMEOUT;
        slot.error = -1;
        slot.data.clear();
    }

    std::int64_t backlog_us = 0;
    if (!send_packet(bus, packet, timeout, backlog_us))
        return RESULT_TX_FAIL;
    // Counted from when the packet itself goes out, after what the line still carries.
    const std::int64_t sent_at = monotonic_us() + backlog_us;
    std::int64_t deadline = sent_at + timeout;
    // A PING to all ends once the line has been quiet for longer than one more reply and its
    // return delay (and what the adapter adds) after the last reply; the first reply is
    // waited for as a single one is.
    std::int64_t quiet_us = 0;
    if (everyone) {
        const int one_reply = status_wire_bytes(2, exchange.expect_params);
        quiet_us = reply_timeout_us(bus.bits_per_second, 0, one_reply, line->latency_ms(),
                                    line->is_usb_adapter());
        // The bound leaves the last of 253 servos its quiet time too.
        deadline += quiet_us;
    }

    std::vector<std::uint8_t> received(
        std::max<std::size_t>(RECEIVE_CAPACITY, 2 * static_cast<std::size_t>(reply_bytes)));
    std::size_t filled = 0;
    ListedReplies at(slots.size());
    Received how;
    if (everyone) {
        const std::int64_t first_deadline =
            sent_at + reply_timeout_us(bus.bits_per_second, sent_bytes,
                                       status_wire_bytes(2, exchange.expect_params),
                                       line->latency_ms(), line->is_usb_adapter());
        how = receive(line, received, filled, deadline, quiet_us, first_deadline,
                      [] { return false; });
    } else if (exchange.shape == ReplyShape::Combined) {
        how = receive(line, received, filled, deadline, 0, deadline,
                      [&] { return scan_combined(exchange, received, filled, false); });
    } else {
        how = receive(line, received, filled, deadline, 0, deadline,
                      [&] { return scan_listed(exchange, received, filled, at); });
    }
    if (how == Received::DeadLine) {
        for (ReplySlot& slot : slots)
            slot.result = RESULT_RX_FAIL;
        return RESULT_RX_FAIL;
    }

    int result = RESULT_SUCCESS;
    if (everyone) {
        scan_everyone(exchange, received, filled);
        if (slots.empty()) {
            std::vector<std::uint8_t> unstuffed;
            result = code_of(scan_reply2(received.data(), filled, packet.data(), packet.size(),
                                         ANY_ID, exchange.expect_params, unstuffed)
                                 .state);
        }
    } else {
        if (how == Received::Deadline) {
            if (exchange.shape == ReplyShape::Combined)
                scan_combined(exchange, received, filled, true);
            else
                settle_listed(exchange, received, filled, at);
        }
        for (const ReplySlot& slot : slots)
            if (slot.result != RESULT_SUCCESS) {
                result = slot.result;
                break;
            }
    }
    for (const ReplySlot& slot : slots)
        if (slot.result == RESULT_SUCCESS)
            bus.reply_status = slot.error;
    if (filled > 0)
        bus.line_echo = begins_with_copy(received, filled, packet) ? ECHO_SEEN : ECHO_NONE;
    if (!everyone && result != RESULT_SUCCESS) {
        drop_late_bytes(line);
        bus.reply_may_be_late = true;
    } else if (bus.reply_may_be_late && !everyone) {
        bus.reply_may_be_late = false;
        drop_bytes_until(line, monotonic_us() + timeout);
    }
    return result;
}

} // namespace

int run_exchange(BusState& bus, const Exchange& exchange)
{
    bus.reply_count = 0;
    bus.reply_status = -1;
    if (bus.line == nullptr || exchange.packet == nullptr)
        return RESULT_TX_FAIL;
    if (exchange.expect_reply && exchange.shape != ReplyShape::One && exchange.slots != nullptr)
        return run_group_exchange(bus, exchange);
    return run_single_exchange(bus, exchange);
}

} // namespace kinetron
