#include "reply_scan.h"

#include <cstring>

#include "packet.h"

namespace kinetron {

// Bytes of the echo at the start of `received`: all of `sent` once it has come back whole,
// 0 when the input does not begin with it. A prefix of `sent` still arriving counts as
// echo for now; if the next bytes depart from it, it is scanned like anything else.
std::size_t echo_length(const std::uint8_t* received, std::size_t count, const std::uint8_t* sent,
                        std::size_t sent_count, bool& pending)
{
    pending = false;
    if (sent_count == 0)
        return 0;
    const std::size_t n = count < sent_count ? count : sent_count;
    if (n == 0 || std::memcmp(received, sent, n) != 0)
        return 0;
    if (n == sent_count)
        return sent_count;
    pending = true;
    return n;
}

ScanResult scan_reply(const std::uint8_t* received, std::size_t count, const std::uint8_t* sent,
                      std::size_t sent_count, int expect_id, int expect_params)
{
    ScanResult result;
    bool echo_pending = false;
    const std::size_t begin = echo_length(received, count, sent, sent_count, echo_pending);
    if (echo_pending) {
        // The start of our own packet: an echo still arriving, or a reply that begins like
        // it. Either way bytes came, so at the deadline this counts as a partial packet.
        result.state = ScanState::Partial;
        return result;
    }
    if (begin >= count)
        return result;

    bool saw_complete_bad = false;
    for (std::size_t i = begin; i + 1 < count; ++i) {
        if (received[i] != 0xFF || received[i + 1] != 0xFF)
            continue;
        if (i + 4 > count)
            break; // a header still arriving
        const int id = received[i + 2];
        const int length = received[i + 3];
        if (length < 2)
            continue; // no packet has fewer than the error byte and the checksum
        const std::size_t total = static_cast<std::size_t>(length) + 4;
        if (i + total > count)
            continue; // incomplete; a later FF may still start a whole packet
        const std::uint8_t sum = packet_checksum(received + i + 2, total - 3);
        if (sum == received[i + total - 1] && (id == expect_id || expect_id == ANY_ID) &&
            length == expect_params + 2) {
            result.state = ScanState::Good;
            result.start = i;
            result.end = i + total;
            result.error = received[i + 4];
            result.params = received + i + 5;
            result.param_count = length - 2;
            return result;
        }
        saw_complete_bad = true;
    }
    result.state = saw_complete_bad ? ScanState::BadPacket : ScanState::Partial;
    return result;
}

} // namespace kinetron
