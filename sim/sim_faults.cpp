#include "sim_faults.h"

#include "sim_packet.h"
#include "sim_packet2.h"

namespace sim {

std::uint64_t SeededRandom::next()
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double SeededRandom::unit()
{
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

int SeededRandom::below(int bound)
{
    return bound <= 1 ? 0 : static_cast<int>(next() % static_cast<std::uint64_t>(bound));
}

void apply_line_faults(std::vector<std::uint8_t>& reply, const FaultRates& rates,
                       SeededRandom& random)
{
    if (reply.size() < 6)
        return;
    if (random.chance(rates.corrupt))
        reply.back() = static_cast<std::uint8_t>(reply.back() ^ 0x5A);
    if (random.chance(rates.partial)) {
        // Keep the header and length so the receiver waits for the rest that never comes.
        std::size_t keep =
            4 + static_cast<std::size_t>(random.below(static_cast<int>(reply.size()) - 4));
        reply.resize(keep);
    }
    if (random.chance(rates.noise)) {
        // Garbage ahead of the reply, a lone FF among it; never FF FF, never FF last, so a
        // receiver that rescans after each FF finds the real header.
        int count = 2 + random.below(5);
        std::vector<std::uint8_t> garbage;
        int ff_at = random.below(count - 1);
        for (int i = 0; i < count; ++i) {
            std::uint8_t byte = i == ff_at ? 0xFF : static_cast<std::uint8_t>(random.below(0xFF));
            garbage.push_back(byte);
        }
        reply.insert(reply.begin(), garbage.begin(), garbage.end());
    }
}

std::vector<std::uint8_t> collide(const std::vector<std::vector<std::uint8_t>>& replies,
                                  int protocol)
{
    // Where two drivers fight, a low bit wins: the bytes combine by AND.
    std::vector<std::uint8_t> line = replies.front();
    for (std::size_t r = 1; r < replies.size(); ++r)
        for (std::size_t i = 0; i < line.size() && i < replies[r].size(); ++i)
            line[i] = static_cast<std::uint8_t>(line[i] & replies[r][i]);
    if (protocol == 2 && line.size() >= 11) {
        const std::uint16_t good = crc16(line.data(), line.size() - 2);
        line.back() = static_cast<std::uint8_t>((good >> 8) ^ 0xA5);
    } else if (protocol == 1 && line.size() >= 6) {
        std::uint8_t good = packet_checksum(line.data() + 2, static_cast<int>(line.size()) - 3);
        line.back() = static_cast<std::uint8_t>(good ^ 0xA5);
    }
    return line;
}

} // namespace sim
