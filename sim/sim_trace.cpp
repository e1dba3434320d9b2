#include "sim_trace.h"

#include <cstdio>

#include "registers.h"
#include "sim_packet2.h"

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

const char* protocol2_name(int instruction)
{
    switch (instruction) {
    case P2_PING:
        return "PING";
    case P2_READ:
        return "READ";
    case P2_WRITE:
        return "WRITE";
    case P2_REG_WRITE:
        return "REG_WRITE";
    case P2_ACTION:
        return "ACTION";
    case P2_FACTORY_RESET:
        return "FACTORY_RESET";
    case P2_REBOOT:
        return "REBOOT";
    case 0x10:
        return "CLEAR";
    case 0x20:
        return "CONTROL_TABLE_BACKUP";
    case P2_SYNC_READ:
        return "SYNC_READ";
    case P2_SYNC_WRITE:
        return "SYNC_WRITE";
    case P2_FAST_SYNC_READ:
        return "FAST_SYNC_READ";
    case P2_BULK_READ:
        return "BULK_READ";
    case P2_BULK_WRITE:
        return "BULK_WRITE";
    case P2_FAST_BULK_READ:
        return "FAST_BULK_READ";
    default:
        return nullptr;
    }
}

int word_at(const std::vector<std::uint8_t>& p, std::size_t at) { return p[at] | (p[at + 1] << 8); }

// The parameters of a protocol 2.0 instruction, in words.
std::string protocol2_details(int instruction, const std::vector<std::uint8_t>& p)
{
    std::string text;
    switch (instruction) {
    case P2_READ:
        if (p.size() == 4)
            text = "  address " + std::to_string(word_at(p, 0)) + "  count " +
                   std::to_string(word_at(p, 2));
        break;
    case P2_WRITE:
    case P2_REG_WRITE:
        if (p.size() >= 2)
            text = "  address " + std::to_string(word_at(p, 0));
        if (p.size() > 2)
            text += "  values " + values_text(p, 2);
        break;
    case P2_FACTORY_RESET:
        if (p.size() == 1) {
            char option[8];
            std::snprintf(option, sizeof option, "0x%02X", p[0]);
            text = std::string("  option ") + option;
        }
        break;
    case P2_SYNC_READ:
    case P2_FAST_SYNC_READ:
    case P2_SYNC_WRITE:
        if (p.size() >= 4) {
            const std::size_t size = static_cast<std::size_t>(word_at(p, 2));
            text = "  address " + std::to_string(word_at(p, 0)) + "  count " +
                   std::to_string(size) + "  ids";
            const std::size_t step = instruction == P2_SYNC_WRITE ? size + 1 : 1;
            for (std::size_t at = 4; at < p.size(); at += step)
                text += " " + std::to_string(p[at]);
        }
        break;
    case P2_BULK_READ:
    case P2_FAST_BULK_READ:
    case P2_BULK_WRITE:
        for (std::size_t at = 0; at + 5 <= p.size();) {
            const std::size_t size = static_cast<std::size_t>(word_at(p, at + 3));
            text += "  id " + std::to_string(p[at]) + " address " +
                    std::to_string(word_at(p, at + 1)) + " count " + std::to_string(size);
            at += 5 + (instruction == P2_BULK_WRITE ? size : 0);
        }
        break;
    default:
        break;
    }
    return text;
}

} // namespace

std::string error_number_name(int error)
{
    static const char* const NAMES[] = {"none",       "result fail", "instruction", "crc",
                                        "data range", "data length", "data limit",  "access"};
    const int number = error & 0x7F;
    std::string text = number < 8 ? NAMES[number] : "error " + std::to_string(number);
    return error & P2_ALERT ? "alert+" + text : text;
}

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
    if (packet.protocol == 2) {
        const char* name = protocol2_name(packet.instruction);
        text += "2.0 ";
        text += name ? name + (" " + target) + protocol2_details(packet.instruction, p)
                     : "instruction " + std::to_string(packet.instruction) + " " + target;
        if (!packet.checksum_ok)
            text += "  BAD CRC";
        return text + "  [" + hex_bytes(packet.raw.data(), packet.raw.size()) + "]";
    }
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
    case P1_BULK_READ:
        text += "BULK_READ " + target;
        for (std::size_t at = 1; at + 3 <= p.size(); at += 3)
            text += "  id " + std::to_string(p[at + 1]) + " address " + std::to_string(p[at + 2]) +
                    " count " + std::to_string(p[at]);
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
    const bool protocol2 = reply.size() >= 4 && reply[0] == 0xFF && reply[1] == 0xFF &&
                           reply[2] == 0xFD && reply[3] == 0x00;
    char err[8];
    if (protocol2 && reply.size() >= 11 && reply[4] != 0xFE) {
        std::snprintf(err, sizeof err, "0x%02X", reply[8]);
        std::string text = "<- 2.0 id " + std::to_string(reply[4]) + "  err " + err + " (" +
                           error_number_name(reply[8]) + ")";
        std::vector<std::uint8_t> data = unstuffed(reply.data() + 9, reply.size() - 11);
        if (!data.empty())
            text += "  data " + values_text(data, 0);
        return text + "  [" + hex_bytes(reply.data(), reply.size()) + "]";
    }
    if (reply.size() < 6)
        return "<- [" + hex_bytes(reply.data(), reply.size()) + "]";
    std::snprintf(err, sizeof err, "0x%02X", reply[4]);
    std::string text = "<- id " + std::to_string(reply[2]) + "  err " + err + " (" +
                       error_bit_names(reply[4]) + ")";
    if (reply.size() > 6) {
        std::vector<std::uint8_t> data(reply.begin() + 5, reply.end() - 1);
        text += "  data " + values_text(data, 0);
    }
    return text + "  [" + hex_bytes(reply.data(), reply.size()) + "]";
}

std::string describe_fast_part(const std::vector<std::uint8_t>& part)
{
    // The first part to go out carries the combined reply's header.
    const std::size_t at = part.size() >= 8 && part[0] == 0xFF && part[4] == 0xFE ? 8 : 0;
    if (part.size() < at + 4)
        return "<- 2.0 combined reply, part [" + hex_bytes(part.data(), part.size()) + "]";
    char err[8];
    std::snprintf(err, sizeof err, "0x%02X", part[at]);
    std::string text = "<- 2.0 combined reply, part of id " + std::to_string(part[at + 1]) +
                       "  err " + err + " (" + error_number_name(part[at]) + ")";
    std::vector<std::uint8_t> data(part.begin() + static_cast<long>(at) + 2, part.end() - 2);
    if (!data.empty())
        text += "  data " + values_text(data, 0);
    return text + "  [" + hex_bytes(part.data(), part.size()) + "]";
}

void trace_line(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace sim
