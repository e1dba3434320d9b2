// Packets on the servo line: FF FF ID LEN INS/ERR P1..Pn CHK. Builds status packets and
// cuts instruction packets out of a byte stream that may arrive in pieces.
//
// Written apart from the bus library's own packet code on purpose, and sharing none of it:
// the chain judges the library's packets from outside, so a fault in one cannot hide in both.
#ifndef SIM_PACKET_H
#define SIM_PACKET_H

#include <cstdint>
#include <vector>

namespace sim {

// Protocol 1.0 BULK_READ: only the 4096-step models answer it.
enum { P1_BULK_READ = 0x92 };

std::uint8_t packet_checksum(const std::uint8_t* from_id, int count_to_checksum);

// A servo's reply: FF FF id len err data... chk.
std::vector<std::uint8_t> build_status_packet(int id, int error,
                                              const std::vector<std::uint8_t>& data);

struct InstructionPacket {
    int protocol = 1; // 1: FF FF ID LEN ..., 2: FF FF FD 00 ID LEN LEN ...
    int id;
    int instruction;
    std::vector<std::uint8_t> params;
    bool checksum_ok;
    std::int64_t end_us; // when its last byte had left the wire
    std::vector<std::uint8_t> raw;
};

class PacketParser {
public:
    // Adds one byte that finished arriving at `end_us`; true when it completed a packet,
    // which is then in `packet`.
    bool push(std::uint8_t byte, std::int64_t end_us, InstructionPacket& packet);
    void clear() { buffer_.clear(); }

private:
    std::vector<std::uint8_t> buffer_;
};

} // namespace sim

#endif
