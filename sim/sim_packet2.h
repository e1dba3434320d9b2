// Protocol 2.0 packets on the servo line: FF FF FD 00 ID LEN_L LEN_H INS/55 [ERR] P.. CRC_L
// CRC_H, with a CRC-16 and byte stuffing. Builds status packets (and the combined reply of
// the fast group reads) and cuts instruction packets out of a byte stream.
//
// Like sim_packet.h, written apart from the bus library's own packet code on purpose.
#ifndef SIM_PACKET2_H
#define SIM_PACKET2_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim_packet.h"

namespace sim {

enum {
    P2_STATUS = 0x55,
    P2_PING = 0x01,
    P2_READ = 0x02,
    P2_WRITE = 0x03,
    P2_REG_WRITE = 0x04,
    P2_ACTION = 0x05,
    P2_FACTORY_RESET = 0x06,
    P2_REBOOT = 0x08,
    P2_SYNC_READ = 0x82,
    P2_SYNC_WRITE = 0x83,
    P2_FAST_SYNC_READ = 0x8A,
    P2_BULK_READ = 0x92,
    P2_BULK_WRITE = 0x93,
    P2_FAST_BULK_READ = 0x9A
};

// The error numbers of a protocol 2.0 status packet (bits 0..6), and its alert bit.
enum {
    P2_ERR_RESULT_FAIL = 1,
    P2_ERR_INSTRUCTION = 2,
    P2_ERR_CRC = 3,
    P2_ERR_DATA_RANGE = 4,
    P2_ERR_DATA_LENGTH = 5,
    P2_ERR_DATA_LIMIT = 6,
    P2_ERR_ACCESS = 7,
    P2_ALERT = 0x80
};

// CRC-16, polynomial 0x8005, most significant bit first, from `crc` on.
std::uint16_t crc16(const std::uint8_t* data, std::size_t count, std::uint16_t crc = 0);

// Appends `field` to `out`, an FD after every FF FF FD in it.
void append_stuffed(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& field);
// The field with the FD after every FF FF FD taken out again.
std::vector<std::uint8_t> unstuffed(const std::uint8_t* field, std::size_t count);

// A servo's reply: FF FF FD 00 id len 55 err data... crc, stuffed.
std::vector<std::uint8_t> build_status_packet2(int id, int error,
                                               const std::vector<std::uint8_t>& data);

// The combined reply of the fast group reads, sent a part per servo. The first part carries
// the header and the length of the whole reply (as if every listed servo answers); every
// part ends with the CRC of every byte sent before it. Never stuffed.
class FastReply {
public:
    explicit FastReply(int total_data_bytes, int servos);
    // The bytes one servo puts on the line: its error, id, data and running CRC.
    std::vector<std::uint8_t> part(int id, int error, const std::vector<std::uint8_t>& data);

private:
    std::vector<std::uint8_t> header_; // sent with the first part that goes out
    std::uint16_t crc_ = 0;
};

// Cuts protocol 2.0 instruction packets out of the line. Fills `id`, `instruction`, the
// unstuffed `params`, `checksum_ok` (the CRC), `end_us` and `raw`; `protocol` is 2.
class Packet2Parser {
public:
    bool push(std::uint8_t byte, std::int64_t end_us, InstructionPacket& packet);
    void clear() { buffer_.clear(); }

private:
    std::vector<std::uint8_t> buffer_;
    std::int64_t last_us_ = 0;
};

} // namespace sim

#endif
