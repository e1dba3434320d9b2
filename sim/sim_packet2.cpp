#include "sim_packet2.h"

namespace sim {

namespace {

// A servo drops what it has of a packet after a pause of 1.5 ms between two bytes. When the
// bytes reach the chain through a pseudo-terminal or a busy process says nothing that
// exact, so a packet is dropped only after a pause no client makes inside one.
const std::int64_t LONGEST_GAP_US = 100000;
// No instruction the servos know needs a longer packet; longer lengths are line noise.
const std::size_t LONGEST_LENGTH = 4096;

// The Length field the instructions without a variable part must carry; 0 for the others.
std::size_t fixed_length(std::uint8_t instruction)
{
    switch (instruction) {
    case P2_PING:
    case P2_ACTION:
    case P2_REBOOT:
        return 3;
    case P2_FACTORY_RESET:
        return 4;
    case P2_READ:
        return 7;
    default:
        return 0;
    }
}

// False for a header whose instruction and Length cannot belong together: noise, which
// must not hold the parser waiting for bytes of a packet that never was.
bool plausible(const std::vector<std::uint8_t>& buffer)
{
    const std::size_t length = buffer[5] | (buffer[6] << 8);
    if (length < 3 || length > LONGEST_LENGTH)
        return false;
    if (buffer.size() < 8)
        return true;
    const std::size_t fixed = fixed_length(buffer[7]);
    return fixed == 0 || length == fixed;
}

bool ends_with_header(const std::vector<std::uint8_t>& bytes)
{
    std::size_t n = bytes.size();
    return n >= 3 && bytes[n - 3] == 0xFF && bytes[n - 2] == 0xFF && bytes[n - 1] == 0xFD;
}

} // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t count, std::uint16_t crc)
{
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

void append_stuffed(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& field)
{
    std::vector<std::uint8_t> seen; // the field so far, for the pattern
    for (std::uint8_t byte : field) {
        out.push_back(byte);
        seen.push_back(byte);
        if (ends_with_header(seen)) {
            out.push_back(0xFD);
            seen.push_back(0xFD);
        }
    }
}

std::vector<std::uint8_t> unstuffed(const std::uint8_t* field, std::size_t count)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(field[i]);
        if (ends_with_header(out) && i + 1 < count && field[i + 1] == 0xFD)
            ++i;
    }
    return out;
}

std::vector<std::uint8_t> build_status_packet2(int id, int error,
                                               const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> field{P2_STATUS, static_cast<std::uint8_t>(error)};
    field.insert(field.end(), data.begin(), data.end());
    std::vector<std::uint8_t> packet{0xFF, 0xFF, 0xFD, 0x00, static_cast<std::uint8_t>(id), 0, 0};
    append_stuffed(packet, field);
    const std::size_t length = packet.size() - 7 + 2;
    packet[5] = static_cast<std::uint8_t>(length & 0xFF);
    packet[6] = static_cast<std::uint8_t>(length >> 8);
    const std::uint16_t crc = crc16(packet.data(), packet.size());
    packet.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    packet.push_back(static_cast<std::uint8_t>(crc >> 8));
    return packet;
}

FastReply::FastReply(int total_data_bytes, int servos)
{
    // Length: the instruction byte, then per servo its error, id, data and CRC.
    const int length = 1 + total_data_bytes + 4 * servos;
    header_ = {0xFF,
               0xFF,
               0xFD,
               0x00,
               0xFE,
               static_cast<std::uint8_t>(length & 0xFF),
               static_cast<std::uint8_t>((length >> 8) & 0xFF),
               P2_STATUS};
}

std::vector<std::uint8_t> FastReply::part(int id, int error, const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> bytes;
    bytes.swap(header_); // only the first part to go out carries it
    bytes.push_back(static_cast<std::uint8_t>(error));
    bytes.push_back(static_cast<std::uint8_t>(id));
    bytes.insert(bytes.end(), data.begin(), data.end());
    crc_ = crc16(bytes.data(), bytes.size(), crc_);
    bytes.push_back(static_cast<std::uint8_t>(crc_ & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(crc_ >> 8));
    // The CRC bytes themselves count toward the next part's CRC.
    crc_ = crc16(bytes.data() + bytes.size() - 2, 2, crc_);
    return bytes;
}

bool Packet2Parser::push(std::uint8_t byte, std::int64_t end_us, InstructionPacket& packet)
{
    if (!buffer_.empty() && end_us - last_us_ > LONGEST_GAP_US)
        buffer_.clear(); // too long a pause: what came before is dropped
    last_us_ = end_us;
    buffer_.push_back(byte);
    for (;;) {
        // Hunt for FF FF FD followed by a reserved byte that is not FD (that is stuffing).
        static const std::uint8_t HEADER[3] = {0xFF, 0xFF, 0xFD};
        bool shifted = false;
        for (std::size_t i = 0; i < 3 && i < buffer_.size(); ++i)
            if (buffer_[i] != HEADER[i]) {
                buffer_.erase(buffer_.begin());
                shifted = true;
                break;
            }
        if (shifted)
            continue;
        if (buffer_.size() >= 4 && buffer_[3] == 0xFD) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        if (buffer_.size() >= 7 && !plausible(buffer_)) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        break;
    }
    if (buffer_.size() < 7)
        return false;
    const std::size_t total = 7 + static_cast<std::size_t>(buffer_[5] | (buffer_[6] << 8));
    if (buffer_.size() < total)
        return false;
    const std::uint16_t crc = crc16(buffer_.data(), total - 2);
    packet.protocol = 2;
    packet.id = buffer_[4];
    packet.checksum_ok = buffer_[total - 2] == (crc & 0xFF) && buffer_[total - 1] == (crc >> 8);
    std::vector<std::uint8_t> field = unstuffed(buffer_.data() + 7, total - 9);
    packet.instruction = field[0];
    packet.params.assign(field.begin() + 1, field.end());
    packet.end_us = end_us;
    packet.raw.assign(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(total));
    return true;
}

} // namespace sim
