// servoscan: which servos are on the bus, at which id, speed, protocol and model.
// Protocol 1.0 servos answer a ping per id at each baud number scanned; protocol 2.0 servos
// all answer one broadcast PING at each of their rates. A rate both protocols share is
// visited once for both. What identifies each servo is then read by name through its
// model's table. A servo is listed only at the rate its own baud register names: at a
// neighbouring speed it may still hear the ping, but that is not where it lives.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "model_options.h"
#include "model_reads.h"
#include "registers.h"

struct FoundServo {
    int bps;
    int protocol;
    int id;
    int model;
    int firmware;
    long long baud;  // its own baud register; -1 unread
    double position; // degrees
    double temperature;
    double voltage;
    bool has_position, has_temperature, has_voltage;
};

// One line speed visited: protocol 1.0 pings per id there (baud >= 0), a protocol 2.0
// broadcast PING there (p2), or both.
struct ScanStop {
    int bps;
    int baud; // protocol 1.0's baud register value for this rate; -1 for none
    bool p1, p2;
};

static const char USAGE[] =
    "usage: servoscan [all | <baudnum> ...] [--bps N ...] [--protocol 1|2]\n";
static const int COMMON_BAUDNUMS[] = {1, 3, 4, 7, 9, 16, 34, 35, 103, 207};
static const int SCAN_BAUDNUM_MAX = 254;
// Protocol 2.0's rates, every model's baud-rate map together.
static const int P2_RATES[] = {4500000, 4000000, 3000000, 2000000, 1000000, 115200, 57600, 9600};
// Protocol 1.0's 4096-step models add these baud register values above the formula's rates.
static const int FAST_BAUD_FIRST = 250;
static const int FAST_BAUD_RATES[] = {2250000, 2500000, 3000000};

static const char* const POSITION_NAMES[] = {"present_position", nullptr};
static const char* const TEMPERATURE_NAMES[] = {"present_temperature", nullptr};
static const char* const VOLTAGE_NAMES[] = {"present_voltage", "present_input_voltage", nullptr};
static const char* const BAUD_NAMES[] = {"baud_rate", "baud_number", nullptr};

static ModelOptions options;
static std::vector<ScanStop> stops;
static std::vector<FoundServo> found;
static bool stopped = false;

static int baudnum_bps(int baudnum) { return 2000000 / (baudnum + 1); }

static bool is_p2_rate(int bps)
{
    return std::find(std::begin(P2_RATES), std::end(P2_RATES), bps) != std::end(P2_RATES);
}

// Protocol 1.0's baud register value for a rate, or -1 when no value gives it exactly.
static int p1_baud_of(int bps)
{
    for (int k = 0; k < 3; ++k) {
        if (FAST_BAUD_RATES[k] == bps)
            return FAST_BAUD_FIRST + k;
    }
    for (int n = 0; n <= SCAN_BAUDNUM_MAX; ++n) {
        if (baudnum_bps(n) == bps)
            return n;
    }
    return -1;
}

// Adds a visit, or joins it to the visit already planned at the same rate.
static void plan(int bps, int baud, bool p1, bool p2)
{
    p1 = p1 && options.protocol != 2;
    p2 = p2 && options.protocol != 1;
    if (!p1 && !p2)
        return;
    for (ScanStop& s : stops) {
        if (s.bps == bps) {
            s.p1 = s.p1 || p1;
            s.p2 = s.p2 || p2;
            if (p1)
                s.baud = baud;
            return;
        }
    }
    stops.push_back({bps, p1 ? baud : -1, p1, p2});
}

// Plans the visits from the command line; false on a bad argument.
static bool parse_arguments(int argc, char** argv)
{
    bool by_speed = true; // default and `all` go from the fastest rate down
    if (argc == 2 && std::strcmp(argv[1], "all") == 0) {
        for (int n = 0; n <= SCAN_BAUDNUM_MAX; ++n)
            plan(baudnum_bps(n), n, true, is_p2_rate(baudnum_bps(n)));
        for (int k = 0; k < 3; ++k)
            plan(FAST_BAUD_RATES[k], FAST_BAUD_FIRST + k, true, is_p2_rate(FAST_BAUD_RATES[k]));
        for (int bps : P2_RATES)
            plan(bps, -1, false, true);
    } else if (argc < 2 && options.bps_count == 0) {
        for (int n : COMMON_BAUDNUMS)
            plan(baudnum_bps(n), n, true, is_p2_rate(baudnum_bps(n)));
        for (int bps : P2_RATES)
            plan(bps, -1, false, true);
    } else {
        by_speed = false;
        for (int k = 1; k < argc; ++k) {
            if (std::strcmp(argv[k], "all") == 0)
                return false; // "all" stands alone
            int n = arg_to_int(argv[k]);
            if (!arg_is_number(argv[k]) || !in_range(n, 0, SCAN_BAUDNUM_MAX))
                return false;
            plan(baudnum_bps(n), n, true, is_p2_rate(baudnum_bps(n)));
        }
        for (int k = 0; k < options.bps_count; ++k) {
            int bps = options.bps[k];
            int baud = p1_baud_of(bps);
            if (baud < 0 && !is_p2_rate(bps)) {
                std::fprintf(stderr, "servoscan: no servo listens at %d bps\n", bps);
                return false;
            }
            plan(bps, baud, baud >= 0, is_p2_rate(bps));
        }
    }
    if (stops.empty()) {
        std::fprintf(stderr, "servoscan: no protocol %d rate among the speeds given\n",
                     options.protocol);
        return false;
    }
    if (by_speed) {
        std::stable_sort(stops.begin(), stops.end(),
                         [](const ScanStop& a, const ScanStop& b) { return a.bps > b.bps; });
    }
    return true;
}

static bool ping_p1(int id)
{
    bus_packet_set_id(id);
    bus_packet_set_instruction(INST_PING);
    bus_packet_set_length(2);
    bus_packet_transfer();
    return bus_result() == RESULT_SUCCESS;
}

// The rate the servo's own baud register names; 0 when it cannot be read.
static int own_bps(FoundServo& servo)
{
    const kinetron_register* reg = model_register_named(servo.model, BAUD_NAMES);
    long long value = -1;
    if (reg != nullptr) {
        if (!read_register_retry(servo.protocol, servo.id, reg, &value))
            return 0;
    } else if (servo.protocol == 1) {
        // A model the table lacks: every protocol 1.0 table keeps the baud number at 4.
        unsigned char byte = 0;
        if (bus_read(1, servo.id, ADDR_BAUD, 1, &byte) != RESULT_SUCCESS)
            return 0;
        value = byte;
    } else {
        return servo.bps; // nothing to check it by: take it where it answered
    }
    servo.baud = value;
    int bps = kinetron_model_baud_bps(servo.model, static_cast<int>(value));
    if (bps == 0 && servo.protocol == 1 && in_range(static_cast<int>(value), 0, 254))
        bps = baudnum_bps(static_cast<int>(value));
    return bps;
}

static bool read_in_units(const FoundServo& servo, const char* const* names, double* value)
{
    const kinetron_register* reg = model_register_named(servo.model, names);
    long long raw = 0;
    if (!read_register_retry(servo.protocol, servo.id, reg, &raw))
        return false;
    *value = kinetron_to_units(reg, raw);
    return true;
}

// Reads what the table shows of a servo that answered, and lists it when it lives here.
static bool take_servo(int bps, int protocol, int id, int model, int firmware)
{
    FoundServo servo = {};
    servo.bps = bps;
    servo.protocol = protocol;
    servo.id = id;
    servo.model = model;
    servo.firmware = firmware;
    servo.baud = -1;
    if (own_bps(servo) != bps)
        return false;
    servo.has_position = read_in_units(servo, POSITION_NAMES, &servo.position);
    servo.has_temperature = read_in_units(servo, TEMPERATURE_NAMES, &servo.temperature);
    servo.has_voltage = read_in_units(servo, VOLTAGE_NAMES, &servo.voltage);
    found.push_back(servo);
    return true;
}

// Visits one rate; returns how many servos were listed at it.
static int scan_stop(const ScanStop& stop)
{
    if (stop.p1 && stop.baud <= SCAN_BAUDNUM_MAX && baudnum_bps(stop.baud) == stop.bps)
        bus_change_baud(stop.baud);
    else if (!bus_set_bps(stop.bps))
        return 0; // the adapter cannot go there; the library said why
    Sleep(10);
    int listed = 0;
    if (stop.p2) {
        int ids[ID_HIGHEST_SERVO + 1], models[ID_HIGHEST_SERVO + 1],
            firmwares[ID_HIGHEST_SERVO + 1];
        int n = bus_ping_all(ids, models, firmwares, ID_HIGHEST_SERVO + 1);
        exit_if_line_gone();
        for (int k = 0; k < n; ++k)
            listed += take_servo(stop.bps, 2, ids[k], models[k], firmwares[k]) ? 1 : 0;
        stopped = esc_among_waiting_keys() != 0;
    }
    for (int id = 0; stop.p1 && !stopped && id <= ID_HIGHEST_SERVO; ++id) {
        // One try of the PING, as always; what identifies a servo that answers is read with
        // retry, so that one lost reply does not lose the servo.
        unsigned char identity[3];
        if (ping_p1(id) && read_bytes_retry(1, id, ADDR_MODEL_NUMBER, 3, identity))
            listed +=
                take_servo(stop.bps, 1, id, identity[0] | identity[1] << 8, identity[2]) ? 1 : 0;
        exit_if_line_gone();
        if (esc_among_waiting_keys())
            stopped = true;
    }
    return listed;
}

static void print_stop(const ScanStop& stop, int listed)
{
    if (stop.baud >= 0)
        std::printf("baud %3d (%7d bps): %d found\n", stop.baud, stop.bps, listed);
    else
        std::printf("baud   - (%7d bps): %d found\n", stop.bps, listed);
    std::fflush(stdout);
}

static void print_table()
{
    std::sort(found.begin(), found.end(), [](const FoundServo& a, const FoundServo& b) {
        if (a.bps != b.bps)
            return a.bps > b.bps;
        return a.protocol != b.protocol ? a.protocol < b.protocol : a.id < b.id;
    });
    std::printf("baud     bps  id  prot  model  fw      deg  temp  volts\n");
    for (const FoundServo& s : found) {
        char baud[24] = "-", position[16] = "-", temperature[16] = "-", voltage[16] = "-";
        if (s.baud >= 0)
            std::snprintf(baud, sizeof baud, "%lld", s.baud);
        if (s.has_position)
            std::snprintf(position, sizeof position, "%.1f", s.position);
        if (s.has_temperature)
            std::snprintf(temperature, sizeof temperature, "%.0f", s.temperature);
        if (s.has_voltage)
            std::snprintf(voltage, sizeof voltage, "%.1f", s.voltage);
        std::printf("%4s %7d %3d  %4s %6d %3d %8s %5s %6s\n", baud, s.bps, s.id,
                    s.protocol == 2 ? "2.0" : "1.0", s.model, s.firmware, position, temperature,
                    voltage);
    }
    std::printf("Found %d servos.\n", static_cast<int>(found.size()));
}

int main(int argc, char** argv)
{
    bool options_good =
        take_model_options(&argc, argv, TAKES_MANY_BPS | TAKES_PROTOCOL, "servoscan", &options);
    if (options_good && arg_help_or_version(argc, argv, "servoscan", USAGE))
        return 0;
    std::printf("%s", USAGE);
    if (!options_good || !parse_arguments(argc, argv)) {
        std::printf("bad args!\n");
        return 1;
    }
    if (!bus_open()) {
        std::printf("Failed to open USB2Kinetron!\n");
        return 1;
    }
    _beginthread(watchdog_thread, 0, NULL);
    for (const ScanStop& stop : stops) {
        print_stop(stop, scan_stop(stop));
        if (stopped)
            break;
    }
    print_table();
    bus_close();
    return found.empty() ? 1 : 0;
}
