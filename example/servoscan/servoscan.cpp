// servoscan: which servos are on the bus, at which id and which baud number.
// Pings every id at each baud number scanned, then reads what identifies each servo that
// answers. A servo is listed only at the baud number its own baud register names: at a
// neighbouring speed it may still hear the ping, but that is not where it lives.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"

struct FoundServo {
    int baudnum;
    int id;
    int model;
    int firmware;
    int position;
    int temperature;
    int voltage;
};

static const char USAGE[] = "usage: servoscan [all | <baudnum> ...]\n";
static const int COMMON_BAUDNUMS[] = {1, 3, 4, 7, 9, 16, 34, 35, 103, 207};
static const int SCAN_BAUDNUM_MAX = 254;

static std::vector<int> baudnums;
static std::vector<FoundServo> found;
static bool stopped = false;

// Fills baudnums from the command line; false on a bad argument.
static bool parse_arguments(int argc, char** argv)
{
    if (argc < 2) {
        baudnums.assign(std::begin(COMMON_BAUDNUMS), std::end(COMMON_BAUDNUMS));
        return true;
    }
    if (argc == 2 && std::strcmp(argv[1], "all") == 0) {
        for (int n = 0; n <= SCAN_BAUDNUM_MAX; ++n)
            baudnums.push_back(n);
        return true;
    }
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "all") == 0)
            return false; // "all" stands alone
        int n = arg_to_int(argv[k]);
        if (!arg_is_number(argv[k]) || !in_range(n, 0, SCAN_BAUDNUM_MAX))
            return false;
        baudnums.push_back(n);
    }
    return true;
}

static bool ping(int id)
{
    bus_packet_set_id(id);
    bus_packet_set_instruction(INST_PING);
    bus_packet_set_length(2);
    bus_packet_transfer();
    return bus_result() == RESULT_SUCCESS;
}

// Scans one baud number; returns how many servos were listed at it.
static int scan_baudnum(int baudnum)
{
    bus_change_baud(baudnum);
    Sleep(10);
    int listed = 0;
    for (int id = 0; id <= ID_HIGHEST_SERVO; ++id) {
        if (ping(id)) {
            int own_baud = read_byte_retry(id, ADDR_BAUD);
            if (own_baud == baudnum) {
                FoundServo servo;
                servo.baudnum = baudnum;
                servo.id = id;
                servo.model = read_word_retry(id, ADDR_MODEL_NUMBER);
                servo.firmware = read_byte_retry(id, ADDR_FIRMWARE);
                servo.position = read_word_retry(id, ADDR_PRESENT_POSITION);
                servo.temperature = read_byte_retry(id, ADDR_PRESENT_TEMPERATURE);
                servo.voltage = read_byte_retry(id, ADDR_PRESENT_VOLTAGE);
                found.push_back(servo);
                ++listed;
            }
        }
        exit_if_line_gone();
        if (esc_among_waiting_keys()) {
            stopped = true;
            break;
        }
    }
    return listed;
}

static void print_table()
{
    std::sort(found.begin(), found.end(), [](const FoundServo& a, const FoundServo& b) {
        return a.baudnum != b.baudnum ? a.baudnum < b.baudnum : a.id < b.id;
    });
    std::printf("baud     bps  id  model  fw   pos  temp  volts\n");
    for (const FoundServo& s : found) {
        std::printf("%4d %7d %3d %6d %3d %5d %5d %6.1f\n", s.baudnum, baudnum_to_bps(s.baudnum),
                    s.id, s.model, s.firmware, s.position, s.temperature, s.voltage / 10.0);
    }
    std::printf("Found %d servos.\n", static_cast<int>(found.size()));
}

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "servoscan", USAGE))
        return 0;
    std::printf("%s", USAGE);
    if (!parse_arguments(argc, argv)) {
        std::printf("bad args!\n");
        return 1;
    }
    if (!bus_open()) {
        std::printf("Failed to open USB2Kinetron!\n");
        return 1;
    }
    _beginthread(watchdog_thread, 0, NULL);
    for (int baudnum : baudnums) {
        int listed = scan_baudnum(baudnum);
        std::printf("baud %3d (%7d bps): %d found\n", baudnum, baudnum_to_bps(baudnum), listed);
        std::fflush(stdout);
        if (stopped)
            break;
    }
    print_table();
    bus_close();
    return found.empty() ? 1 : 0;
}
