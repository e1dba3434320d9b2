// The operations of kinetron.h over the library's one state (bus_state.h).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bus_state.h"
#include "device_choice.h"
#include "exchange.h"
#include "kinetron.h"
#include "operations.h"

namespace kinetron {

BusState g_bus;

void report_failure(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(g_bus.last_error, sizeof g_bus.last_error, format, args);
    va_end(args);
    if (!g_bus.quiet)
        std::fprintf(stderr, "kinetron: %s\n", g_bus.last_error);
}

bool set_line_speed(Line* line, int bits_per_second)
{
    std::string error;
    if (line->set_speed(bits_per_second, error))
        return true;
    report_failure("%s: cannot set the line speed to %d bps: %s", g_bus.device, bits_per_second,
                   error.c_str());
    return false;
}

void refuse_packet()
{
    g_bus.packet.clear();
    g_bus.result = RESULT_TX_ERROR;
    g_bus.reply_count = 0;
    g_bus.reply_status = -1;
}

} // namespace kinetron

namespace {

using kinetron::g_bus;
using kinetron::Line;
using kinetron::refuse_packet;
using kinetron::report_failure;
using kinetron::set_line_speed;

bool valid_id(int id) { return id >= 0 && id <= ID_BROADCAST; }

// Sends the packet under construction and empties it; the result code of the exchange.
int transfer_packet()
{
    kinetron::PacketBuilder& packet = g_bus.packet;
    if (!packet.well_formed()) {
        refuse_packet();
        return RESULT_TX_ERROR;
    }
    const std::vector<std::uint8_t> bytes = packet.encode();
    const int instruction = packet.instruction & 0xFF;
    kinetron::Exchange exchange;
    exchange.packet = &bytes;
    exchange.expect_reply = packet.id != ID_BROADCAST && instruction != INST_SYNC_WRITE;
    exchange.expect_id = packet.id;
    exchange.expect_params =
        (instruction == INST_READ && packet.highest_param >= 1) ? packet.params[1] : 0;
    packet.clear();
    return kinetron::run_exchange(g_bus, exchange);
}

// One READ of `count` bytes from `address`; true when a good reply brought them all, which
// are then in g_bus.reply.
bool read_bytes(int id, int address, int count)
{
    if (!valid_id(id)) {
        refuse_packet();
        return false;
    }
    kinetron::PacketBuilder& packet = g_bus.packet;
    packet.clear();
    packet.id = id;
    packet.instruction = INST_READ;
    packet.set_param(0, address);
    packet.set_param(1, count);
    packet.length = 4;
    g_bus.result = transfer_packet();
    return g_bus.result == RESULT_SUCCESS && g_bus.reply_count == count;
}

// One WRITE of `count` bytes at `address`.
void write_bytes(int id, int address, int count, const unsigned char* data)
{
    if (!valid_id(id)) {
        refuse_packet();
        return;
    }
    kinetron::PacketBuilder& packet = g_bus.packet;
    packet.clear();
    packet.id = id;
    packet.instruction = INST_WRITE;
    packet.set_param(0, address);
    for (int i = 0; i < count; ++i)
        packet.set_param(1 + i, data[i]);
    packet.length = count + 3;
    g_bus.result = transfer_packet();
}

// READ of a one- or two-byte register: the value (low byte first) when the code is 1,
// else -1.
int read_register(int id, int address, int count)
{
    if (!read_bytes(id, address, count))
        return -1;
    int value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | g_bus.reply[i];
    return value;
}

void write_register(int id, int address, int value, int count)
{
    const unsigned char bytes[2] = {static_cast<unsigned char>(value & 0xFF),
                                    static_cast<unsigned char>((value >> 8) & 0xFF)};
    write_bytes(id, address, count, bytes);
}

} // namespace

extern "C" {

int bus_open_device(const char* device)
{
    g_bus.last_error[0] = '\0';
    bus_close();
    std::string name;
    std::string error;
    Line* line = kinetron::open_chosen_line(device, name, error);
    if (line == nullptr) {
        report_failure("cannot open %s: %s", name.c_str(), error.c_str());
        return 0;
    }
    std::snprintf(g_bus.device, sizeof g_bus.device, "%s", name.c_str());
    if (!set_line_speed(line, kinetron::OPENING_BITS_PER_SECOND)) {
        delete line;
        return 0;
    }
    g_bus.line = line;
    g_bus.line_echo = kinetron::ECHO_UNKNOWN;
    g_bus.bits_per_second = kinetron::OPENING_BITS_PER_SECOND;
    g_bus.packet.clear();
    return 1;
}

int bus_open(void) { return bus_open_device(std::getenv("KINETRON_DEVICE")); }

void bus_close(void)
{
    if (g_bus.line == nullptr)
        return;
    g_bus.line->drain();
    delete g_bus.line;
    g_bus.line = nullptr;
}

void bus_change_baud(int baudnum)
{
    g_bus.last_error[0] = '\0';
    if (baudnum < 0 || baudnum > BAUDNUM_MAX) {
        report_failure("baud number %d is outside 0..%d; the line stays at %d bps", baudnum,
                       BAUDNUM_MAX, g_bus.bits_per_second);
        return;
    }
    const int bits_per_second = baudnum_to_bps(baudnum);
    if (g_bus.line == nullptr) {
        g_bus.bits_per_second = bits_per_second;
        return;
    }
    // The last packet must leave at the speed it was built for.
    g_bus.line->drain();
    if (set_line_speed(g_bus.line, bits_per_second))
        g_bus.bits_per_second = bits_per_second;
}

const char* kinetron_last_error(void) { return g_bus.last_error; }

void kinetron_set_quiet(int quiet) { g_bus.quiet = quiet != 0; }

int kinetron_last_status(void) { return g_bus.reply_status; }

int kinetron_latency_ms(void) { return g_bus.line ? g_bus.line->latency_ms() : -1; }

int bus_result(void) { return g_bus.result; }

const char* kinetron_device(void) { return g_bus.device; }

int bus_read_byte(int id, int address) { return read_register(id, address, 1); }
int bus_read_word(int id, int address) { return read_register(id, address, 2); }

void bus_write_byte(int id, int address, int value) { write_register(id, address, value, 1); }
void bus_write_word(int id, int address, int value) { write_register(id, address, value, 2); }

int bus_read_block(int id, int address, int count, unsigned char* out)
{
    if (count < 1 || count > kinetron::MAX_REPLY_PARAMS || out == nullptr) {
        refuse_packet();
        return 0;
    }
    if (!read_bytes(id, address, count))
        return 0;
    std::memcpy(out, g_bus.reply, static_cast<std::size_t>(count));
    return count;
}

void bus_write_block(int id, int address, int count, const unsigned char* data)
{
    // The address takes one of the packet's parameters.
    if (count < 1 || count > kinetron::MAX_PARAMS - 1 || data == nullptr) {
        refuse_packet();
        return;
    }
    write_bytes(id, address, count, data);
}

void bus_packet_set_id(int id) { g_bus.packet.id = id; }
void bus_packet_set_instruction(int instruction) { g_bus.packet.instruction = instruction; }
void bus_packet_set_param(int index, int value) { g_bus.packet.set_param(index, value); }
void bus_packet_set_length(int length) { g_bus.packet.length = length; }
void bus_packet_transfer(void) { g_bus.result = transfer_packet(); }

int bus_low_byte(int value) { return static_cast<int>(static_cast<unsigned>(value) & 0xFFu); }
int bus_high_byte(int value)
{
    return static_cast<int>((static_cast<unsigned>(value) >> 8) & 0xFFu);
}

} // extern "C"
