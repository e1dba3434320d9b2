// A simulated chain driven by hand: packets in, the reply bytes out, a clock the test moves.
#ifndef SIM_TEST_SUPPORT_H
#define SIM_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "sim_chain.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

const long BPS_35 = 2000000 / 36; // 55555
const long BPS_1 = 1000000;

inline Bytes instruction(int id, int ins, const Bytes& params)
{
    Bytes packet{0xFF, 0xFF, static_cast<std::uint8_t>(id),
                 static_cast<std::uint8_t>(params.size() + 2), static_cast<std::uint8_t>(ins)};
    packet.insert(packet.end(), params.begin(), params.end());
    unsigned sum = 0;
    for (std::size_t i = 2; i < packet.size(); ++i)
        sum += packet[i];
    packet.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
    return packet;
}

// Protocol 2.0, written here apart from the chain's own code: CRC-16 (0x8005, MSB first),
// an FD after every FF FF FD of the instruction (or error) and parameters, Length after it.
inline std::uint16_t crc16(const Bytes& bytes)
{
    std::uint16_t crc = 0;
    for (std::uint8_t byte : bytes)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) ^ (byte >> bit)) & 1;
            crc = static_cast<std::uint16_t>(top ? (crc << 1) ^ 0x8005 : crc << 1);
        }
    return crc;
}

inline Bytes packet2(int id, const Bytes& field)
{
    Bytes packet{0xFF, 0xFF, 0xFD, 0x00, static_cast<std::uint8_t>(id), 0, 0};
    for (std::uint8_t byte : field) {
        packet.push_back(byte);
        const std::size_t n = packet.size();
        if (n >= 10 && packet[n - 3] == 0xFF && packet[n - 2] == 0xFF && packet[n - 1] == 0xFD)
            packet.push_back(0xFD);
    }
    packet[5] = static_cast<std::uint8_t>((packet.size() - 5) & 0xFF);
    packet[6] = static_cast<std::uint8_t>((packet.size() - 5) >> 8);
    const std::uint16_t crc = crc16(packet);
    packet.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    packet.push_back(static_cast<std::uint8_t>(crc >> 8));
    return packet;
}

inline Bytes instruction2(int id, int ins, const Bytes& params)
{
    Bytes field{static_cast<std::uint8_t>(ins)};
    field.insert(field.end(), params.begin(), params.end());
    return packet2(id, field);
}

inline Bytes status2(int id, int error, const Bytes& data)
{
    Bytes field{0x55, static_cast<std::uint8_t>(error)};
    field.insert(field.end(), data.begin(), data.end());
    return packet2(id, field);
}

// A number as `size` little-endian bytes.
inline Bytes le(long long value, int size)
{
    Bytes bytes;
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF));
    return bytes;
}

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline bool checksum_ok(const Bytes& p)
{
    if (p.size() < 6)
        return false;
    unsigned sum = 0;
    for (std::size_t i = 2; i + 1 < p.size(); ++i)
        sum += p[i];
    return static_cast<std::uint8_t>(~sum & 0xFF) == p.back();
}

class Chain {
public:
    explicit Chain(const std::string& options)
    {
        char err[256] = "";
        chain_ = sim_chain_create(options.c_str(), err, sizeof err);
        error_ = err;
        if (chain_)
            sim_chain_set_clock(chain_, &Chain::clock, this);
    }
    ~Chain() { sim_chain_destroy(chain_); }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    bool ok() const { return chain_ != nullptr; }
    const std::string& error() const { return error_; }
    SimChain* raw() { return chain_; }

    void advance_ms(double ms) { now_us_ += static_cast<long long>(ms * 1000); }
    long long now_us() const { return now_us_; }
    void advance_us(long long us) { now_us_ += us; }

    // Sends a packet and returns every reply byte (whenever due).
    Bytes send(const Bytes& packet, long bps = BPS_35)
    {
        sim_chain_feed(chain_, packet.data(), static_cast<int>(packet.size()), bps);
        return take_all();
    }
    Bytes take_all()
    {
        Bytes out;
        long due;
        while ((due = sim_chain_next_due_us(chain_)) >= 0) {
            now_us_ += due;
            unsigned char buffer[64];
            int n = sim_chain_take(chain_, buffer, sizeof buffer);
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    Bytes read(int id, int address, int count, long bps = BPS_35)
    {
        return send(
            instruction(id, 2,
                        {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(count)}),
            bps);
    }
    // Value of a byte or word register, -1 without a good reply.
    int value(int id, int address, int width, long bps = BPS_35)
    {
        Bytes r = read(id, address, width, bps);
        if (r.size() != static_cast<std::size_t>(6 + width) || !checksum_ok(r))
            return -1;
        return width == 2 ? r[5] | (r[6] << 8) : r[5];
    }
    Bytes write(int id, int address, const Bytes& data, long bps = BPS_35)
    {
        Bytes params{static_cast<std::uint8_t>(address)};
        params.insert(params.end(), data.begin(), data.end());
        return send(instruction(id, 3, params), bps);
    }
    Bytes write_word(int id, int address, int value, long bps = BPS_35)
    {
        return write(
            id, address,
            {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)}, bps);
    }

private:
    static long long clock(void* self) { return static_cast<Chain*>(self)->now_us_; }
    SimChain* chain_ = nullptr;
    std::string error_;
    long long now_us_ = 1000000;
};

} // namespace simtest

#endif
