#include "sim_trace.h"

#include <cstdio>

#include "registers.h"

namespace sim {

namespace {

std::string hex_bytes(const std::uint8_t* data, std::size_t count)
{
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, "%02X", data[i]);
        if (i)
            text += ' ';
        text += cell;
    }
    return text;
}

std::string values_text(const std::vector<std::uint8_t>& bytes, std::size_t from)
{
    std::string text = hex_bytes(bytes.data() + from, bytes.size() - from);
    if (bytes.size() - from == 2)
        text += " (word " + std::to_string(bytes[from] | (bytes[from + 1] << 8)) + ")";
    return text;
}

} // namespace

std::string error_bit_names(int error)
{
    static const char* const NAMES[] = {"voltage",  "angle",    "overheat",    "range",
                                        "checksum", "overload", "instruction", "bit7"};
    if (!error)
        return "none";
    std::string text;
    for (int bit = 0; bit < 8; ++bit)
        if (error & (1 << bit)) {
            if (!text.empty())
                text += '+';
            text += NAMES[bit];
        }
    return text;
}

std::string describe_instruction(const InstructionPacket& packet, long bps)
{
    std::string text = "-> " + std::to_string(bps) + " bps  ";
    const std::vector<std::uint8_t>& p = packet.params;
    std::string target =
        "id " + std::to_string(packet.id) + (packet.id == ID_BROADCAST ? " (broadcast)" : "");
    switch (packet.instruction) {
    case INST_PING:
        text += "PING " + target;
        break;
    case INST_READ:
        text += "READ " + target;
        if (p.size() == 2)
            text += "  address " + std::to_string(p[0]) + "  count " + std::to_string(p[1]);
        break;
    case INST_WRITE:
        text += "WRITE " + target;
        if (!p.empty())
            text += "  address " + std::to_string(p[0]);
        if (p.size() > 1)
            text += "  values " + values_text(p, 1);
        break;
    case INST_RESET:
        text += "RESET " + target;
        break;
    case INST_SYNC_WRITE:
        text += "SYNC_WRITE " + target;
        if (p.size() >= 2) {
            text +=
                "  address " + std::to_string(p[0]) + "  " + std::to_string(p[1]) + " bytes each:";
            std::size_t group = static_cast<std::size_t>(p[1]) + 1;
            for (std::size_t at = 2; at + group <= p.size(); at += group) {
                text += "  id " + std::to_string(p[at]) + " =";
                if (group == 3) {
                    text += " " + std::to_string(p[at + 1] | (p[at + 2] << 8));
                } else {
                    for (std::size_t i = 1; i < group; ++i)
                        text += " " + std::to_string(p[at + i]);
                }
            }
        }
        break;
    default:
        text += "instruction " + std::to_string(packet.instruction) + " " + target;
        break;
    }
    if (!packet.checksum_ok)
        text += "  BAD CHECKSUM";
    return text + "  [" + hex_bytes(packet.raw.data(), packet.raw.size()) + "]";
}

std::string describe_reply(const std::vector<std::uint8_t>& reply)
{
    if (reply.size() < 6)
        return "<- [" + hex_bytes(reply.data(), reply.size()) + "]";
    char err[8];
    std::snprintf(err, sizeof err, "0x%02X", reply[4]);
    std::string text = "<- id " + std::to_string(reply[2]) + "  err " + err + " (" +
                       error_bit_names(reply[4]) + ")";
    if (reply.size() > 6) {
        std::vector<std::uint8_t> data(reply.begin() + 5, reply.end() - 1);
        text += "  data " + values_text(data, 0);
    }
    return text + "  [" + hex_bytes(reply.data(), reply.size()) + "]";
}

void trace_line(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace sim
