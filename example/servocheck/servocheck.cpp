// servocheck: why a servo stopped, and how to bring it back. Finds the servos that answer on
// a line (protocol 1.0 at one baud number, protocol 2.0 at one rate, or both), reads each
// one's control table and tells what its alarms and registers say, with what to do; undoes a
// shutdown; checks a motion against the servos' limits before it plays.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "fix_servo.h"
#include "kinetron.h"
#include "model_options.h"
#include "registers.h"
#include "servo_health.h"

static const char USAGE[] =
    "usage: servocheck [--bps N] [--protocol 1|2] [<baudnum> [<idStart> <idEnd>]]\n"
    "usage: servocheck [--bps N] [--protocol 1|2] fix <id> [<baudnum>]\n"
    "usage: servocheck [--bps N] [--protocol 1|2] motion <frameFileName> [<idStart> <idEnd> "
    "[<baudnum>]]\n";

static const int PING_TRIES = 3;
static const int DEFAULT_BAUDNUM = 35;
static const int DEFAULT_BPS2 = 1000000;
static const int ID_HIGHEST_PROTOCOL2 = 252;
// A latency timer above this makes every exchange wait for it.
static const int GOOD_LATENCY_MS = 1;

enum PingOutcome { ANSWERS, ABSENT, GARBLED };

struct Found {
    int id;
    LineSetting line;
    bool table_read;
    ServoImage image;
};

static Found found[2 * (ID_HIGHEST_SERVO + 1)];
static int found_count;
static int garbled_ids[ID_HIGHEST_SERVO + 1];
static int garbled_count;
static LineSetting garbled_line;
static bool garbled2; // a protocol 2.0 scan heard only garbled replies

// A good reply to one of up to three protocol 1.0 PINGs, none at all, or only garbled ones
// (code 5 or 7: bytes arrived, but no good packet among them).
static PingOutcome ping(int id)
{
    PingOutcome outcome = GARBLED;
    watched_exchange_begin();
    for (int tries = 0; tries < PING_TRIES; ++tries) {
        bus_packet_set_id(id);
        bus_packet_set_instruction(INST_PING);
        bus_packet_set_length(2);
        bus_packet_transfer();
        exit_if_line_gone();
        const int code = bus_result();
        if (code == RESULT_SUCCESS) {
            outcome = ANSWERS;
            break;
        }
        if (code != RESULT_RX_WAITING && code != RESULT_RX_CORRUPT) {
            outcome = ABSENT; // silence: nobody at this id, no use asking again
            break;
        }
    }
    watched_exchange_end();
    return outcome;
}

static void add_found(int id, const LineSetting& line, int model)
{
    Found& servo = found[found_count++];
    servo.id = id;
    servo.line = line;
    servo.table_read = read_servo_image(line.protocol, id, model, &servo.image);
}

// Pings idStart..idEnd one by one; false when ESC ended the scan.
static bool scan1(const LineSetting& line, int idStart, int idEnd)
{
    const int before = found_count;
    for (int id = idStart; id <= idEnd; ++id) {
        const PingOutcome outcome = ping(id);
        if (outcome == ANSWERS) {
            add_found(id, line, -1);
        } else if (outcome == GARBLED) {
            garbled_line = line;
            garbled_ids[garbled_count++] = id;
        }
        if (esc_among_waiting_keys())
            return false;
    }
    if (line.baudnum >= 0)
        std::printf("baud %3d (%7d bps): %d found\n", line.baudnum, line.bps, found_count - before);
    else
        std::printf("protocol 1 at %d bps: %d found\n", line.bps, found_count - before);
    std::fflush(stdout);
    return true;
}

// One PING to every protocol 2.0 servo; false when ESC ended the scan.
static bool scan2(const LineSetting& line, int idStart, int idEnd)
{
    int ids[ID_HIGHEST_PROTOCOL2 + 1], models[ID_HIGHEST_PROTOCOL2 + 1];
    // A second PING where the first heard nobody: it costs one quiet wait.
    int answered = 0;
    for (int tries = 0; tries < 2 && answered == 0; ++tries) {
        watched_exchange_begin();
        answered = bus_ping_all(ids, models, nullptr, ID_HIGHEST_PROTOCOL2 + 1);
        exit_if_line_gone();
        watched_exchange_end();
    }
    garbled2 =
        answered == 0 && (bus_result() == RESULT_RX_WAITING || bus_result() == RESULT_RX_CORRUPT);
    const int before = found_count;
    for (int k = 0; k < answered; ++k) {
        if (ids[k] >= idStart && ids[k] <= idEnd)
            add_found(ids[k], line, models[k]);
        if (esc_among_waiting_keys())
            return false;
    }
    std::printf("protocol 2 at %d bps: %d found\n", line.bps, found_count - before);
    std::fflush(stdout);
    return true;
}

static void print_row1(const Found& servo)
{
    if (!servo.table_read) {
        std::printf("%3d  (its control table did not come)\n", servo.id);
        return;
    }
    const ServoImage& t = servo.image;
    char limits[16], angles[24];
    std::snprintf(limits, sizeof limits, "%lld/%lld", image_raw(t, "torque_limit"),
                  image_raw(t, "max_torque"));
    std::snprintf(angles, sizeof angles, "%lld..%lld", image_raw(t, "cw_angle_limit"),
                  image_raw(t, "ccw_angle_limit"));
    std::printf("%3d %6d %3d %6.1f %5lld %5lld  %-6s %10s %12s %6lld  %s\n", servo.id, t.model,
                t.firmware, image_units(t, "present_input_voltage"),
                image_raw(t, "present_temperature"), std::llabs(image_raw(t, "present_load", 0)),
                image_raw(t, "torque_enable") ? "on" : "off", limits, angles,
                image_raw(t, "return_delay_time") * 2, image_alarms(t));
}

// A protocol 2.0 servo's row, in units: its load (0.1 %) or its current (mA), as its model
// has, its position and position limits in degrees.
static void print_row2(const Found& servo)
{
    const ServoImage& t = servo.image;
    if (!servo.table_read) {
        if (kinetron_model_protocol(t.model) == 0)
            std::printf("%3d %6d  (a model the kit's model table does not know)\n", servo.id,
                        t.model);
        else
            std::printf("%3d %6d  (its control table did not come)\n", servo.id, t.model);
        return;
    }
    char load[16], position[16], limits[24];
    if (image_register(t, "present_current"))
        std::snprintf(load, sizeof load, "%.0f mA", image_units(t, "present_current"));
    else
        std::snprintf(load, sizeof load, "%.1f %%", image_units(t, "present_load"));
    std::snprintf(position, sizeof position, "%.1f", image_units(t, "present_position"));
    const char* low = either_name(t, "min_position_limit", "cw_angle_limit");
    const char* high = either_name(t, "max_position_limit", "ccw_angle_limit");
    std::snprintf(limits, sizeof limits, "%.1f..%.1f", image_units(t, low), image_units(t, high));
    std::printf("%3d %6d %3d %6.1f %5lld %9s  %-6s %8s %13s %6lld  %s\n", servo.id, t.model,
                t.firmware, image_units(t, "present_input_voltage"),
                image_raw(t, "present_temperature"), load,
                image_raw(t, "torque_enable") ? "on" : "off", position, limits,
                image_raw(t, "return_delay_time") * 2, image_alarms(t));
}

static void print_tables()
{
    bool header1 = false, header2 = false;
    for (int i = 0; i < found_count; ++i) {
        if (found[i].line.protocol == 1 && !header1) {
            std::printf(" id  model  fw  volts  temp  load  torque  limit/max       angles  "
                        "delay  alarms\n");
            header1 = true;
        }
        if (found[i].line.protocol == 1)
            print_row1(found[i]);
    }
    for (int i = 0; i < found_count; ++i) {
        if (found[i].line.protocol == 2 && !header2) {
            std::printf(" id  model  fw  volts  temp      load  torque  pos deg    limits deg  "
                        "delay  alarms\n");
            header2 = true;
        }
        if (found[i].line.protocol == 2)
            print_row2(found[i]);
    }
}

static void report_latency()
{
    const int latency = kinetron_latency_ms();
    if (latency > GOOD_LATENCY_MS)
        report_line("adapter: latency timer %d ms: every exchange waits for it, about %d ms a "
                    "read instead of 2; lower it to 1 ms (README, Hardware setup)",
                    latency, latency + 1);
}

static void report_found()
{
    for (int i = 0; i < found_count; ++i) {
        const Found& servo = found[i];
        if (servo.table_read)
            report_servo_health(servo.id, servo.line, servo.image);
        else if (servo.line.protocol == 2 && kinetron_model_protocol(servo.image.model) == 0)
            report(servo.id,
                   "model %d, which the kit's model table does not know: only its "
                   "PING was read",
                   servo.image.model);
        else
            report(servo.id, "answers a PING, but its control table did not come (code %d)",
                   servo.image.code);
    }
    for (int i = 0; i < garbled_count; ++i) {
        const int id = garbled_ids[i];
        if (found_count > 0 && garbled_line.baudnum >= 0)
            report(id,
                   "replies collide: two servos may share this id (connect them one at a time "
                   "and give one of them another id: regbyte %d %d %d <newId>)",
                   id, garbled_line.baudnum, ADDR_ID);
        else if (found_count > 0)
            report(id,
                   "replies collide: two servos may share this id (connect them one at a time "
                   "and give one of them another id: servoreg --bps %d %d id <newId>)",
                   garbled_line.bps, id);
        else
            report(id, "replies arrive garbled and no other servo answers: check the wiring, or "
                       "connect the servos one at a time (two may share this id)");
    }
    advise_return_delays();
    if (garbled2)
        report_line("bus: protocol 2.0 replies arrive garbled: check the wiring, or connect the "
                    "servos one at a time (two may share an id)");
}

// servocheck [baudnum [idStart idEnd]] on each of the lines.
static int check(const LineSetting* lines, int count, int idStart, int idEnd)
{
    for (int i = 0; i < count; ++i) {
        if (!set_line(lines[i]))
            return 1;
        const bool whole = lines[i].protocol == 1 ? scan1(lines[i], idStart, idEnd)
                                                  : scan2(lines[i], idStart, idEnd);
        if (!whole) {
            std::printf("stopped\n");
            return 1;
        }
    }
    print_tables();
    report_found();
    if (found_count == 0 && garbled_count == 0 && !garbled2) {
        if (count == 1 && lines[0].protocol == 1 && lines[0].baudnum >= 0)
            report_line("bus: no servo answers at baud number %d; check power and wiring, or "
                        "find the servos at every baud number with servoscan",
                        lines[0].baudnum);
        else
            report_line("bus: no servo answers at %s; check power and wiring, or find the "
                        "servos at every rate with servoscan",
                        describe_lines(lines, count));
    }
    report_latency();
    if (problems_reported() > 0)
        return 1;
    std::printf("no problem found\n");
    return 0;
}

static int bad_args()
{
    std::printf("bad args!\n");
    return 1;
}

static LineSetting line_at(int protocol, int bps)
{
    return {protocol, bps, protocol == 1 ? baudnum_of(bps) : -1};
}

// The lines a command line names: --bps overrides a baud number; with neither, protocol 1.0
// at baud number 35 and protocol 2.0 at 1,000,000 bps; --protocol keeps to one. A baud
// number alone means protocol 1.0, as it always has. protocol2_first orders both for fix.
static int lines_named(const ModelOptions& options, int baudnum, bool protocol2_first,
                       LineSetting* lines)
{
    int count = 0;
    const int first = protocol2_first ? 2 : 1;
    for (int protocol : {first, 3 - first}) {
        if (options.protocol != 0 && options.protocol != protocol)
            continue;
        if (options.bps_count > 0)
            lines[count++] = line_at(protocol, options.bps[0]);
        else if (baudnum >= 0 && protocol == 1)
            lines[count++] = {1, baudnum_to_bps(baudnum), baudnum};
        else if (baudnum >= 0 && options.protocol == 2)
            lines[count++] = line_at(2, baudnum_to_bps(baudnum));
        else if (baudnum < 0)
            lines[count++] = protocol == 1
                                 ? LineSetting{1, baudnum_to_bps(DEFAULT_BAUDNUM), DEFAULT_BAUDNUM}
                                 : line_at(2, DEFAULT_BPS2);
    }
    return count;
}

static bool open_line()
{
    if (!bus_open()) {
        std::printf("Failed to open USB2Kinetron!\n");
        return false;
    }
    Sleep(10);
    _beginthread(watchdog_thread, 0, NULL);
    return true;
}

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "servocheck", USAGE))
        return 0;
    std::printf("%s", USAGE);
    ModelOptions options;
    if (!take_model_options(&argc, argv, TAKES_BPS | TAKES_PROTOCOL, "servocheck", &options))
        return bad_args();
    bool numbers = true;
    LineSetting lines[2];
    int status;
    if (argc > 1 && std::strcmp(argv[1], "fix") == 0) {
        if (argc != 3 && argc != 4)
            return bad_args();
        const int id = arg_number(argc, argv, 2, -1, &numbers);
        const int baudnum = arg_number(argc, argv, 3, -1, &numbers);
        if (!numbers || !in_range(id, 0, ID_HIGHEST_SERVO) ||
            (argc == 4 && !in_range(baudnum, 0, BAUDNUM_MAX)))
            return bad_args();
        const int count = lines_named(options, baudnum, true, lines);
        if (!open_line())
            return 1;
        status = fix_servo(id, lines, count);
    } else if (argc > 1 && std::strcmp(argv[1], "motion") == 0) {
        if (argc < 3 || argc == 4 || argc > 6 || argv[2][0] == '\0')
            return bad_args();
        const int idStart = arg_number(argc, argv, 3, 0, &numbers);
        const int idEnd = arg_number(argc, argv, 4, 31, &numbers);
        const int baudnum = arg_number(argc, argv, 5, -1, &numbers);
        if (!numbers || !in_range(idStart, 0, ID_ARGUMENT_MAX) ||
            !in_range(idEnd, 0, ID_ARGUMENT_MAX) ||
            (argc == 6 && !in_range(baudnum, 0, BAUDNUM_MAX)))
            return bad_args();
        // A file's comment line may name the protocol and the rate that were not given.
        const unsigned given = (options.protocol ? GIVEN_PROTOCOL : 0) |
                               (options.bps_count > 0 || baudnum >= 0 ? GIVEN_BPS : 0);
        ModelOptions one = options;
        if (one.protocol == 0)
            one.protocol = 1;
        lines_named(one, baudnum, false, lines);
        if (!open_line())
            return 1;
        status = check_motion(argv[2], idStart, idEnd, lines[0], given);
    } else {
        if (argc == 3 || argc > 4)
            return bad_args();
        const int baudnum = arg_number(argc, argv, 1, -1, &numbers);
        const int idStart = arg_number(argc, argv, 2, 0, &numbers);
        const int idEnd = arg_number(argc, argv, 3, ID_HIGHEST_SERVO, &numbers);
        if (!numbers || (argc > 1 && !in_range(baudnum, 0, BAUDNUM_MAX)) ||
            !in_range(idStart, 0, ID_HIGHEST_SERVO) || !in_range(idEnd, 0, ID_HIGHEST_SERVO))
            return bad_args();
        const int count = lines_named(options, baudnum, false, lines);
        if (!open_line())
            return 1;
        status = check(lines, count, idStart, idEnd);
    }
    bus_close();
    return status;
}
