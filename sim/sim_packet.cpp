#include "sim_packet.h"

namespace sim {

std::uint8_t packet_checksum(const std::uint8_t* from_id, int count_to_checksum)
{
    unsigned sum = 0;
    for (int i = 0; i < count_to_checksum; ++i)
        sum += from_id[i];
    return static_cast<std::uint8_t>(~sum & 0xFF);
}

std::vector<std::uint8_t> build_status_packet(int id, int error,
                                              const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> packet;
    packet.reserve(data.size() + 6);
    packet.push_back(0xFF);
    packet.push_back(0xFF);
    packet.push_back(static_cast<std::uint8_t>(id));
    packet.push_back(static_cast<std::uint8_t>(data.size() + 2));
    packet.push_back(static_cast<std::uint8_t>(error));
    for (std::uint8_t byte : data)
        packet.push_back(byte);
    packet.push_back(packet_checksum(packet.data() + 2, static_cast<int>(packet.size()) - 2));
    return packet;
}

bool PacketParser::push(std::uint8_t byte, std::int64_t end_us, InstructionPacket& packet)
{
    buffer_.push_back(byte);
    for (;;) {
        // Hunt for the two-byte header; a third FF means the header starts one later.
        if (buffer_.size() >= 1 && buffer_[0] != 0xFF) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        if (buffer_.size() >= 2 && buffer_[1] != 0xFF) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + 2);
            continue;
        }
        if (buffer_.size() >= 3 && buffer_[2] == 0xFF) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        if (buffer_.size() >= 4 && buffer_[3] < 2) { // no room for an instruction
            buffer_.erase(buffer_.begin());
            continue;
        }
        break;
    }
    if (buffer_.size() < 4)
        return false;
    std::size_t total = static_cast<std::size_t>(buffer_[3]) + 4;
    if (buffer_.size() < total)
        return false;

    packet.protocol = 1;
    packet.id = buffer_[2];
    packet.instruction = buffer_[4];
    packet.params.assign(buffer_.begin() + 5, buffer_.begin() + static_cast<long>(total) - 1);
    packet.checksum_ok =
        packet_checksum(buffer_.data() + 2, static_cast<int>(total) - 3) == buffer_[total - 1];
    packet.end_us = end_us;
    packet.raw.assign(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
    return true;
}

} // namespace sim
