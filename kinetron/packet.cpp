#include "packet.h"

#include "registers.h"

namespace kinetron {

std::uint8_t packet_checksum(const std::uint8_t* bytes, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(~sum & 0xFF);
}

void PacketBuilder::clear() { *this = PacketBuilder(); }

void PacketBuilder::set_param(int index, int value)
{
    if (index < 0 || index >= MAX_PARAMS) {
        bad_index = true;
        return;
    }
    params[index] = static_cast<std::uint8_t>(value & 0xFF);
    if (index > highest_param)
        highest_param = index;
}

bool PacketBuilder::well_formed() const
{
    if (bad_index || id < 0 || id > ID_BROADCAST)
        return false;
    return length == highest_param + 3;
}

std::vector<std::uint8_t> PacketBuilder::encode() const
{
    std::vector<std::uint8_t> out;
    if (!well_formed())
        return out;
    const int count = highest_param + 1;
    out.reserve(static_cast<std::size_t>(count) + 6);
    out.push_back(0xFF);
    out.push_back(0xFF);
    out.push_back(static_cast<std::uint8_t>(id));
    out.push_back(static_cast<std::uint8_t>(length));
    out.push_back(static_cast<std::uint8_t>(instruction & 0xFF));
    out.insert(out.end(), params, params + count);
    out.push_back(packet_checksum(out.data() + 2, out.size() - 2));
    return out;
}

} // namespace kinetron
