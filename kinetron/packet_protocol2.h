// Protocol 2.0 packets: FF FF FD 00 ID LEN_L LEN_H INS P1 .. Pn CRC_L CRC_H, with a 2-byte
// length, a CRC-16 and byte stuffing of the instruction and parameters.
#ifndef KINETRON_PACKET_PROTOCOL2_H
#define KINETRON_PACKET_PROTOCOL2_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kinetron {

// Highest id a protocol 2.0 servo takes: 253 and 255 would let a header reappear.
constexpr int ID2_HIGHEST_SERVO = 252;
// Header and reserved byte, id, length: the bytes before the instruction (or status 0x55).
constexpr std::size_t HEADER2_BYTES = 7;
// Instruction byte of every status packet.
constexpr std::uint8_t STATUS2_INSTRUCTION = 0x55;

enum Instruction2 : std::uint8_t {
    INST2_PING = 0x01,
    INST2_READ = 0x02,
    INST2_WRITE = 0x03,
    INST2_FACTORY_RESET = 0x06,
    INST2_REBOOT = 0x08,
    INST2_SYNC_READ = 0x82,
    INST2_SYNC_WRITE = 0x83,
    INST2_FAST_SYNC_READ = 0x8A,
    INST2_BULK_READ = 0x92,
    INST2_BULK_WRITE = 0x93,
    INST2_FAST_BULK_READ = 0x9A
};

// CRC-16, polynomial 0x8005, most significant bit first, no reflection, no final XOR;
// `crc` carries a running value on.
std::uint16_t crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t crc = 0);

// Appends `bytes` with an FD inserted after every FF FF FD among them.
void append_stuffed(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t count);
// Appends `bytes` with the FD after every FF FF FD among them taken out again.
void append_unstuffed(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t count);

// The wire bytes of an instruction packet (the length and CRC count the stuffed bytes).
std::vector<std::uint8_t> encode_packet2(int id, int instruction,
                                         const std::vector<std::uint8_t>& params);

} // namespace kinetron

#endif
