// Instruction packets: the one packet under construction, its well-formedness rule and its
// bytes on the wire (FF FF ID LEN INS P1 .. Pn CHK).
#ifndef KINETRON_PACKET_H
#define KINETRON_PACKET_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kinetron {

// Most parameters one packet can carry: the length byte holds n + 2 and is at most 255.
constexpr int MAX_PARAMS = 253;

// ~(sum of the bytes) & 0xFF: the checksum over ID, LEN, INS/ERR and the parameters.
std::uint8_t packet_checksum(const std::uint8_t* bytes, std::size_t count);

struct PacketBuilder {
    int id = -1; // as given; checked when the packet is encoded
    int instruction = 0;
    int length = -1;        // the length field as given
    int highest_param = -1; // highest parameter index set, -1 for none
    bool bad_index = false; // a parameter index outside 0..MAX_PARAMS-1 was given
    std::uint8_t params[MAX_PARAMS] = {};

    void clear();
    void set_param(int index, int value);
    // Well formed: id in 0..254, length field = highest index set + 3 (2 with none).
    bool well_formed() const;
    // The wire bytes of a well-formed packet; empty otherwise.
    std::vector<std::uint8_t> encode() const;
};

} // namespace kinetron

#endif
