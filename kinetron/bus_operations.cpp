// The operations of kinetron.h over one process-wide state: the open line, the packet under
// construction, the line speed and the result code of the last exchange.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "device_choice.h"
#include "exchange.h"
#include "kinetron.h"
#include "line.h"
#include "packet.h"
#include "registers.h"

namespace {

using kinetron::Line;
using kinetron::PacketBuilder;

// Speed a line starts at before the first bus_change_baud: baud number 1, the servos'
// factory setting.
constexpr int INITIAL_BITS_PER_SECOND = 1000000;

// Plain objects only: the watchdog may end the process while the main thread is inside
// an exchange, and no destructor run by exit may pull the line or a buffer from under it.
Line* g_line = nullptr;
PacketBuilder g_packet;
int g_result = RESULT_SENT;
int g_bits_per_second = INITIAL_BITS_PER_SECOND;
std::uint8_t g_reply[kinetron::MAX_REPLY_PARAMS];
int g_reply_count = 0;

// The device the open line was opened as, for messages, and the reason of the last failed
// bus_open or bus_change_baud. Fixed arrays, like everything here, for the watchdog's exit.
char g_device[256] = "";
char g_last_error[512] = "";

// The library's one way to report a failure: one line on standard error, also kept for
// kinetron_last_error().
void report_failure(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(g_last_error, sizeof g_last_error, format, args);
    va_end(args);
    std::fprintf(stderr, "kinetron: %s\n", g_last_error);
}

// Sets the line's speed; on refusal says why and leaves the recorded speed alone.
bool set_line_speed(Line* line, int bits_per_second)
{
    std::string error;
    if (line->set_speed(bits_per_second, error))
        return true;
    report_failure("%s: cannot set the line speed to %d bps: %s", g_device, bits_per_second,
                   error.c_str());
    return false;
}

bool valid_id(int id) { return id >= 0 && id <= ID_BROADCAST; }

// Sends the packet under construction and empties it; the result code of the exchange.
int transfer_packet()
{
    if (!g_packet.well_formed()) {
        g_packet.clear();
        return RESULT_TX_ERROR;
    }
    const std::vector<std::uint8_t> bytes = g_packet.encode();
    const int instruction = g_packet.instruction & 0xFF;
    kinetron::Exchange exchange;
    exchange.packet = &bytes;
    exchange.expect_reply = g_packet.id != ID_BROADCAST && instruction != INST_SYNC_WRITE;
    exchange.expect_id = g_packet.id;
    exchange.expect_params =
        (instruction == INST_READ && g_packet.highest_param >= 1) ? g_packet.params[1] : 0;
    exchange.bits_per_second = g_bits_per_second;
    g_packet.clear();
    return kinetron::run_exchange(g_line, exchange, g_reply, g_reply_count);
}

// READ of `count` bytes: the value (low byte first) when the code is 1, else -1.
int read_register(int id, int address, int count)
{
    g_packet.clear();
    if (!valid_id(id)) {
        g_result = RESULT_TX_ERROR;
        return -1;
    }
    g_packet.id = id;
    g_packet.instruction = INST_READ;
    g_packet.set_param(0, address);
    g_packet.set_param(1, count);
    g_packet.length = 4;
    g_result = transfer_packet();
    if (g_result != RESULT_SUCCESS || g_reply_count != count)
        return -1;
    int value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | g_reply[i];
    return value;
}

void write_register(int id, int address, int value, int count)
{
    g_packet.clear();
    if (!valid_id(id)) {
        g_result = RESULT_TX_ERROR;
        return;
    }
    g_packet.id = id;
    g_packet.instruction = INST_WRITE;
    g_packet.set_param(0, address);
    g_packet.set_param(1, value);
    if (count == 2)
        g_packet.set_param(2, value >> 8);
    g_packet.length = count + 3;
    g_result = transfer_packet();
}

} // namespace

extern "C" {

int bus_open(void)
{
    g_last_error[0] = '\0';
    bus_close();
    std::string device;
    std::string error;
    Line* line = kinetron::open_chosen_line(device, error);
    if (line == nullptr) {
        report_failure("cannot open %s: %s", device.c_str(), error.c_str());
        return 0;
    }
    std::snprintf(g_device, sizeof g_device, "%s", device.c_str());
    if (!set_line_speed(line, INITIAL_BITS_PER_SECOND)) {
        delete line;
        return 0;
    }
    g_line = line;
    g_bits_per_second = INITIAL_BITS_PER_SECOND;
    g_packet.clear();
    return 1;
}

void bus_close(void)
{
    if (g_line == nullptr)
        return;
    g_line->drain();
    delete g_line;
    g_line = nullptr;
}

void bus_change_baud(int baudnum)
{
    g_last_error[0] = '\0';
    if (baudnum < 0 || baudnum > BAUDNUM_MAX) {
        report_failure("baud number %d is outside 0..%d; the line stays at %d bps", baudnum,
                       BAUDNUM_MAX, g_bits_per_second);
        return;
    }
    const int bits_per_second = baudnum_to_bps(baudnum);
    if (g_line == nullptr) {
        g_bits_per_second = bits_per_second;
        return;
    }
    // The last packet must leave at the speed it was built for.
    g_line->drain();
    if (set_line_speed(g_line, bits_per_second))
        g_bits_per_second = bits_per_second;
}

const char* kinetron_last_error(void) { return g_last_error; }

int bus_result(void) { return g_result; }

int bus_read_byte(int id, int address) { return read_register(id, address, 1); }
int bus_read_word(int id, int address) { return read_register(id, address, 2); }

void bus_write_byte(int id, int address, int value) { write_register(id, address, value, 1); }
void bus_write_word(int id, int address, int value) { write_register(id, address, value, 2); }

void bus_packet_set_id(int id) { g_packet.id = id; }
void bus_packet_set_instruction(int instruction) { g_packet.instruction = instruction; }
void bus_packet_set_param(int index, int value) { g_packet.set_param(index, value); }
void bus_packet_set_length(int length) { g_packet.length = length; }
void bus_packet_transfer(void) { g_result = transfer_packet(); }

int bus_low_byte(int value) { return static_cast<int>(static_cast<unsigned>(value) & 0xFFu); }
int bus_high_byte(int value)
{
    return static_cast<int>((static_cast<unsigned>(value) >> 8) & 0xFFu);
}

} // extern "C"
