#include "packet_protocol2.h"

namespace kinetron {

namespace {

bool ends_with_header(const std::uint8_t* bytes, std::size_t at)
{
    return at >= 2 && bytes[at - 2] == 0xFF && bytes[at - 1] == 0xFF && bytes[at] == 0xFD;
}

} // namespace

std::uint16_t crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t crc)
{
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (bytes[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

void append_stuffed(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(bytes[i]);
        if (ends_with_header(bytes, i))
            out.push_back(0xFD);
    }
}

void append_unstuffed(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        // The FD right behind FF FF FD as received is the one the sender added.
        if (i >= 1 && ends_with_header(bytes, i - 1) && bytes[i] == 0xFD)
            continue;
        out.push_back(bytes[i]);
    }
}

std::vector<std::uint8_t> encode_packet2(int id, int instruction,
                                         const std::vector<std::uint8_t>& params)
{
    std::vector<std::uint8_t> body;
    body.reserve(params.size() + 1);
    body.push_back(static_cast<std::uint8_t>(instruction));
    body.insert(body.end(), params.begin(), params.end());

    std::vector<std::uint8_t> out = {0xFF, 0xFF, 0xFD, 0x00, static_cast<std::uint8_t>(id), 0, 0};
    out.reserve(HEADER2_BYTES + body.size() + body.size() / 3 + 2);
    append_stuffed(out, body.data(), body.size());
    const std::size_t length = out.size() - HEADER2_BYTES + 2;
    out[5] = static_cast<std::uint8_t>(length & 0xFF);
    out[6] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    const std::uint16_t crc = crc16(out.data(), out.size());
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    return out;
}

} // namespace kinetron
