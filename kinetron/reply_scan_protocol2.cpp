#include "reply_scan_protocol2.h"

#include "packet_protocol2.h"

namespace kinetron {

namespace {

constexpr std::uint8_t BROADCAST_ID2 = 0xFE;

bool header_at(const std::uint8_t* bytes, std::size_t count, std::size_t i)
{
    // FF FF FD FD is stuffing inside a packet, never the start of one.
    return i + 3 < count && bytes[i] == 0xFF && bytes[i + 1] == 0xFF && bytes[i + 2] == 0xFD &&
           bytes[i + 3] != 0xFD;
}

std::size_t length_at(const std::uint8_t* bytes, std::size_t i)
{
    return static_cast<std::size_t>(bytes[i + 5]) | static_cast<std::size_t>(bytes[i + 6]) << 8;
}

bool crc_good(const std::uint8_t* packet, std::size_t total)
{
    const std::uint16_t crc = crc16(packet, total - 2);
    return packet[total - 2] == (crc & 0xFF) && packet[total - 1] == (crc >> 8);
}

// The parts of the combined reply starting at `start`, checked against their running CRCs;
// returns how many are good.
int check_parts(const std::uint8_t* received, std::size_t count, std::size_t start,
                std::vector<FastPart>& parts)
{
    std::size_t at = start + HEADER2_BYTES + 1;
    std::uint16_t crc = crc16(received + start, at - start);
    int good = 0;
    for (FastPart& part : parts) {
        part.good = false;
        part.data = nullptr;
        const std::size_t data_end = at + 2 + static_cast<std::size_t>(part.count);
        if (data_end + 2 > count || received[at + 1] != part.id)
            continue; // cut short here, or a silent servo: the next one's part is in its place
        const std::uint16_t running = crc16(received + at, data_end - at, crc);
        if (received[data_end] != (running & 0xFF) || received[data_end + 1] != (running >> 8))
            continue;
        part.good = true;
        part.error = received[at];
        part.data = received + at + 2;
        crc = crc16(received + data_end, 2, running);
        at = data_end + 2;
        ++good;
    }
    return good;
}

} // namespace

ScanResult scan_reply2(const std::uint8_t* received, std::size_t count, const std::uint8_t* sent,
                       std::size_t sent_count, int expect_id, int expect_params,
                       std::vector<std::uint8_t>& unstuffed)
{
    ScanResult result;
    bool echo_pending = false;
    const std::size_t begin = echo_length(received, count, sent, sent_count, echo_pending);
    if (echo_pending) {
        result.state = ScanState::Partial;
        return result;
    }
    if (begin >= count)
        return result;

    bool saw_complete_bad = false;
    for (std::size_t i = begin; i < count; ++i) {
        if (received[i] != 0xFF)
            continue;
        if (i + HEADER2_BYTES > count)
            break; // a header may still be arriving
        if (!header_at(received, count, i))
            continue;
        const std::size_t length = length_at(received, i);
        if (length < 4)
            continue; // no status packet lacks its instruction, error byte and CRC
        const std::size_t total = HEADER2_BYTES + length;
        if (i + total > count)
            continue; // incomplete; a later FF may still start a whole packet
        const std::uint8_t* packet = received + i;
        bool good = crc_good(packet, total) && packet[7] == STATUS2_INSTRUCTION &&
                    (packet[4] == expect_id || expect_id == ANY_ID);
        if (good) {
            unstuffed.clear();
            append_unstuffed(unstuffed, packet + 8, total - 10);
            good = unstuffed.size() == static_cast<std::size_t>(expect_params) + 1;
        }
        if (!good) {
            saw_complete_bad = true;
            continue;
        }
        result.state = ScanState::Good;
        result.start = i;
        result.end = i + total;
        result.error = unstuffed[0];
        result.params = unstuffed.data() + 1;
        result.param_count = expect_params;
        return result;
    }
    result.state = saw_complete_bad ? ScanState::BadPacket : ScanState::Partial;
    return result;
}

ScanState scan_fast_reply(const std::uint8_t* received, std::size_t count, const std::uint8_t* sent,
                          std::size_t sent_count, std::vector<FastPart>& parts)
{
    bool echo_pending = false;
    const std::size_t begin = echo_length(received, count, sent, sent_count, echo_pending);
    if (echo_pending)
        return ScanState::Partial;
    if (begin >= count)
        return ScanState::Nothing;

    std::size_t expected_length = 1;
    for (const FastPart& part : parts)
        expected_length += 4 + static_cast<std::size_t>(part.count);

    // The candidate with the most good parts wins; its parts are left in `parts`.
    std::vector<FastPart> best = parts;
    int best_good = -1;
    bool best_complete = false;
    bool saw_complete_bad = false;
    for (std::size_t i = begin; i < count; ++i) {
        if (received[i] != 0xFF)
            continue;
        if (i + HEADER2_BYTES + 1 > count)
            break;
        if (!header_at(received, count, i))
            continue;
        const std::size_t length = length_at(received, i);
        const bool complete = i + HEADER2_BYTES + length <= count;
        if (received[i + 4] != BROADCAST_ID2 || received[i + 7] != STATUS2_INSTRUCTION ||
            length != expected_length) {
            saw_complete_bad = saw_complete_bad || complete;
            continue;
        }
        std::vector<FastPart> candidate = parts;
        const int good = check_parts(received, count, i, candidate);
        if (good > best_good) {
            best = candidate;
            best_good = good;
            best_complete = complete;
        }
        if (good == static_cast<int>(parts.size()))
            break;
    }
    if (best_good < 0) {
        for (FastPart& part : parts)
            part.good = false;
        return saw_complete_bad ? ScanState::BadPacket : ScanState::Partial;
    }
    parts = best;
    if (best_good == static_cast<int>(parts.size()))
        return ScanState::Good;
    return best_complete ? ScanState::BadPacket : ScanState::Partial;
}

} // namespace kinetron
