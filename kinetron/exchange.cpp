#include "exchange.h"

#include <algorithm>

#include "clock.h"
#include "registers.h"
#include "reply_scan.h"
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
bool echo_shaped_like_reply(const std::vector<std::uint8_t>& packet, const Exchange& exchange)
{
    return packet[2] == exchange.expect_id && packet[3] == exchange.expect_params + 2;
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

} // namespace

int run_exchange(BusState& bus, const Exchange& exchange)
{
    bus.reply_count = 0;
    bus.reply_status = -1;
    Line* line = bus.line;
    if (line == nullptr || exchange.packet == nullptr)
        return RESULT_TX_FAIL;

    const std::vector<std::uint8_t>& packet = *exchange.packet;
    const int reply_bytes = exchange.expect_reply ? exchange.expect_params + 6 : 0;
    const std::int64_t timeout =
        reply_timeout_us(bus.bits_per_second, static_cast<int>(packet.size()), reply_bytes,
                         line->latency_ms(), line->is_usb_adapter());

    line->discard_input();
    const std::int64_t sent_at = monotonic_us();
    if (!line->write_all(packet.data(), packet.size())) {
        // A line that refuses bytes is usually gone; take the full time-out all the same so
        // that a caller retrying in a loop does not spin.
        sleep_until_us(sent_at + timeout);
        return RESULT_TX_FAIL;
    }
    if (!exchange.expect_reply)
        return RESULT_SENT;

    const std::int64_t deadline = monotonic_us() + timeout;
    std::vector<std::uint8_t> received(RECEIVE_CAPACITY);
    std::size_t filled = 0;
    std::uint8_t overflow[256];
    for (;;) {
        int n;
        if (filled < received.size())
            n = line->read_until(received.data() + filled, received.size() - filled, deadline);
        else
            n = line->read_until(overflow, sizeof overflow, deadline);
        if (n < 0) {
            sleep_until_us(deadline);
            return RESULT_RX_FAIL;
        }
        if (n == 0)
            break;
        if (filled >= received.size())
            continue;
        filled += static_cast<std::size_t>(n);
        const ScanResult scan = scan_reply(received.data(), filled, packet.data(), packet.size(),
                                           exchange.expect_id, exchange.expect_params);
        const bool behind_copy = begins_with_copy(received, filled, packet);
        if (scan.state == ScanState::Good) {
            bus.line_echo = behind_copy ? ECHO_SEEN : ECHO_NONE;
            return take_reply(bus, scan, timeout);
        }
        if (behind_copy && bus.line_echo == ECHO_NONE && echo_shaped_like_reply(packet, exchange))
            return take_reply(bus,
                              scan_reply(received.data(), filled, nullptr, 0, exchange.expect_id,
                                         exchange.expect_params),
                              timeout);
    }

    const ScanResult scan = scan_reply(received.data(), filled, packet.data(), packet.size(),
                                       exchange.expect_id, exchange.expect_params);
    if (filled == 0)
        bus.line_echo = ECHO_NONE; // a line that echoes would have handed the packet back
    if (scan.state == ScanState::Nothing && bus.line_echo == ECHO_UNKNOWN &&
        begins_with_copy(received, filled, packet) && echo_shaped_like_reply(packet, exchange)) {
        bus.line_echo = line_echoes(bus) ? ECHO_SEEN : ECHO_NONE;
        if (bus.line_echo == ECHO_NONE)
            return take_reply(bus,
                              scan_reply(received.data(), filled, nullptr, 0, exchange.expect_id,
                                         exchange.expect_params),
                              timeout);
    }
    drop_late_bytes(line);
    bus.reply_may_be_late = true;
    switch (scan.state) {
    case ScanState::Nothing:
        return RESULT_RX_TIMEOUT;
    case ScanState::Partial:
        return RESULT_RX_WAITING;
    case ScanState::BadPacket:
        return RESULT_RX_CORRUPT;
    case ScanState::Good:
        break;
    }
    return RESULT_SUCCESS; // not reached: a good reply returns inside the loop
}

} // namespace kinetron
