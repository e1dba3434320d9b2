// The operations of kinetron.h that speak to one servo in either protocol, and the line
// speed in bits per second.
#include <algorithm>
#include <cstring>

#include "exchange.h"
#include "kinetron.h"
#include "operations.h"
#include "packet_protocol2.h"

namespace kinetron {

std::vector<std::uint8_t> encode_packet1(int id, int instruction,
                                         const std::vector<std::uint8_t>& params)
{
    if (params.size() > static_cast<std::size_t>(MAX_PARAMS))
        return {};
    PacketBuilder packet;
    packet.id = id;
    packet.instruction = instruction;
    for (std::size_t i = 0; i < params.size(); ++i)
        packet.set_param(static_cast<int>(i), params[i]);
    packet.length = static_cast<int>(params.size()) + 2;
    return packet.encode();
}

void append_word(std::vector<std::uint8_t>& out, int value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

int send_instruction(int protocol, int id, int instruction, const std::vector<std::uint8_t>& params,
                     int reply_params)
{
    const std::vector<std::uint8_t> bytes = protocol == 1 ? encode_packet1(id, instruction, params)
                                                          : encode_packet2(id, instruction, params);
    if (bytes.empty()) {
        refuse_packet();
        return RESULT_TX_ERROR;
    }
    Exchange exchange;
    exchange.packet = &bytes;
    exchange.protocol = protocol;
    exchange.expect_reply = id != ID_BROADCAST && reply_params >= 0;
    exchange.expect_id = id;
    exchange.expect_params = std::max(reply_params, 0);
    g_bus.result = run_exchange(g_bus, exchange);
    return g_bus.result;
}

} // namespace kinetron

namespace {

using kinetron::g_bus;
using kinetron::send_instruction;

// Slowest and fastest line speeds of the servos' baud-rate maps: baud number 255 of
// protocol 1.0, and 4.5 Mbps.
constexpr int SLOWEST_BPS = 2000000 / 256;
constexpr int FASTEST_BPS = 4500000;

int refuse()
{
    kinetron::refuse_packet();
    return RESULT_TX_ERROR;
}

// An id a servo of the protocol can have.
bool servo_id(int protocol, int id)
{
    const int highest = protocol == 1 ? ID_HIGHEST_SERVO : kinetron::ID2_HIGHEST_SERVO;
    return id >= 0 && id <= highest;
}

// A servo's id or the broadcast id.
bool target_id(int protocol, int id) { return servo_id(protocol, id) || id == ID_BROADCAST; }

bool valid_protocol(int protocol) { return protocol == 1 || protocol == 2; }

// Address and count of a READ or WRITE that the protocol's packet can carry.
bool block_fits(int protocol, int address, int count, int most)
{
    const int highest_address = protocol == 1 ? 0xFF : 0xFFFF;
    return address >= 0 && address <= highest_address && count >= 1 && count <= most;
}

} // namespace

extern "C" {

int bus_set_bps(int bits_per_second)
{
    g_bus.last_error[0] = '\0';
    if (bits_per_second < SLOWEST_BPS || bits_per_second > FASTEST_BPS) {
        kinetron::report_failure("%d bps is outside %d..%d; the line stays at %d bps",
                                 bits_per_second, SLOWEST_BPS, FASTEST_BPS, g_bus.bits_per_second);
        return 0;
    }
    if (g_bus.line == nullptr) {
        g_bus.bits_per_second = bits_per_second;
        return 1;
    }
    // The last packet must leave at the speed it was built for.
    g_bus.line->drain();
    if (!kinetron::set_line_speed(g_bus.line, bits_per_second))
        return 0;
    g_bus.bits_per_second = bits_per_second;
    return 1;
}

int bus_bps(void) { return g_bus.line ? g_bus.bits_per_second : 0; }

int bus_ping(int protocol, int id, int* model, int* firmware)
{
    if (model)
        *model = -1;
    if (firmware)
        *firmware = -1;
    if (!valid_protocol(protocol) || !servo_id(protocol, id))
        return refuse();
    int result;
    if (protocol == 2) {
        result = send_instruction(2, id, kinetron::INST2_PING, {}, 3);
    } else {
        // Protocol 1.0's PING carries nothing: the model and firmware are in the table.
        result = send_instruction(1, id, INST_PING, {}, 0);
        if (result == RESULT_SUCCESS)
            result = send_instruction(1, id, INST_READ, {ADDR_MODEL_NUMBER, 3}, 3);
    }
    if (result != RESULT_SUCCESS)
        return result;
    if (model)
        *model = g_bus.reply[0] | g_bus.reply[1] << 8;
    if (firmware)
        *firmware = g_bus.reply[2];
    return result;
}

int bus_read(int protocol, int id, int address, int count, unsigned char* out)
{
    if (!valid_protocol(protocol) || !servo_id(protocol, id) || out == nullptr)
        return refuse();
    const int most = protocol == 1 ? kinetron::MAX_REPLY_PARAMS : kinetron::MAX_READ_BYTES2;
    if (!block_fits(protocol, address, count, most))
        return refuse();
    std::vector<std::uint8_t> params;
    if (protocol == 1) {
        params = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(count)};
    } else {
        kinetron::append_word(params, address);
        kinetron::append_word(params, count);
    }
    const int result = send_instruction(protocol, id, INST_READ, params, count);
    if (result == RESULT_SUCCESS)
        std::memcpy(out, g_bus.reply, static_cast<std::size_t>(count));
    return result;
}

int bus_write(int protocol, int id, int address, int count, const unsigned char* data)
{
    if (!valid_protocol(protocol) || !target_id(protocol, id) || data == nullptr)
        return refuse();
    // Protocol 1.0: the address takes one of the packet's parameters.
    const int most = protocol == 1 ? kinetron::MAX_PARAMS - 1 : kinetron::MAX_READ_BYTES2;
    if (!block_fits(protocol, address, count, most))
        return refuse();
    std::vector<std::uint8_t> params;
    if (protocol == 1)
        params.push_back(static_cast<std::uint8_t>(address));
    else
        kinetron::append_word(params, address);
    params.insert(params.end(), data, data + count);
    return send_instruction(protocol, id, INST_WRITE, params, 0);
}

int bus_reboot(int id)
{
    if (!target_id(2, id))
        return refuse();
    return send_instruction(2, id, kinetron::INST2_REBOOT, {}, 0);
}

int bus_factory_reset(int protocol, int id, int option)
{
    if (!valid_protocol(protocol) || !target_id(protocol, id))
        return refuse();
    if (protocol == 1)
        return option == 0 ? send_instruction(1, id, INST_RESET, {}, 0) : refuse();
    if (option != 0xFF && option != 0x01 && option != 0x02)
        return refuse();
    return send_instruction(2, id, kinetron::INST2_FACTORY_RESET,
                            {static_cast<std::uint8_t>(option)}, 0);
}

} // extern "C"
