// servocheck: why a servo stopped, and how to bring it back. Finds the servos that answer at
// one baud number, reads each one's whole control table in one exchange and tells what its
// alarms and registers say, with what to do; undoes a shutdown; checks a motion against the
// servos' angle limits before it plays.
#include <cstdio>
#include <cstring>

#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"
#include "servo_health.h"

static const char USAGE[] =
    "usage: servocheck [<baudnum> [<idStart> <idEnd>]]\n"
    "usage: servocheck fix <id> <baudnum>\n"
    "usage: servocheck motion <frameFileName> [<idStart> <idEnd> [<baudnum>]]\n";

static const int PING_TRIES = 3;
static const int RETURN_DELAY_UNIT_US = 2;
// A latency timer above this makes every exchange wait for it.
static const int GOOD_LATENCY_MS = 1;

enum PingOutcome { ANSWERS, ABSENT, GARBLED };

struct Found {
    int id;
    bool table_read;
    ServoTable table;
};

static Found found[ID_HIGHEST_SERVO + 1];
static int found_count;
static int garbled_ids[ID_HIGHEST_SERVO + 1];
static int garbled_count;

// A good reply to one of up to three PINGs, none at all, or only garbled ones (code 5 or 7:
// bytes arrived, but no good packet among them).
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

// Pings idStart..idEnd; false when ESC ended the scan.
static bool scan(int baudnum, int idStart, int idEnd)
{
    for (int id = idStart; id <= idEnd; ++id) {
        const PingOutcome outcome = ping(id);
        if (outcome == ANSWERS) {
            Found& servo = found[found_count++];
            servo.id = id;
            servo.table_read = read_servo_table(id, &servo.table);
        } else if (outcome == GARBLED) {
            garbled_ids[garbled_count++] = id;
        }
        if (esc_among_waiting_keys())
            return false;
    }
    std::printf("baud %3d (%7d bps): %d found\n", baudnum, baudnum_to_bps(baudnum), found_count);
    std::fflush(stdout);
    return true;
}

static void print_row(const Found& servo)
{
    if (!servo.table_read) {
        std::printf("%3d  (its control table did not come)\n", servo.id);
        return;
    }
    const ServoTable& t = servo.table;
    char limits[16], angles[16];
    std::snprintf(limits, sizeof limits, "%d/%d", table_word(t, ADDR_TORQUE_LIMIT),
                  table_word(t, ADDR_MAX_TORQUE));
    std::snprintf(angles, sizeof angles, "%d..%d", table_word(t, ADDR_CW_LIMIT),
                  table_word(t, ADDR_CCW_LIMIT));
    std::printf("%3d %6d %3d %6.1f %5d %5d  %-6s %10s %12s %6d  %s\n", servo.id,
                table_word(t, ADDR_MODEL_NUMBER), table_byte(t, ADDR_FIRMWARE),
                table_byte(t, ADDR_PRESENT_VOLTAGE) / 10.0, table_byte(t, ADDR_PRESENT_TEMPERATURE),
                table_word(t, ADDR_PRESENT_LOAD) & MAGNITUDE_MASK,
                table_byte(t, ADDR_TORQUE_ENABLE) ? "on" : "off", limits, angles,
                table_byte(t, ADDR_RETURN_DELAY) * RETURN_DELAY_UNIT_US, alarm_list(t.status));
}

static void report_latency()
{
    const int latency = kinetron_latency_ms();
    if (latency > GOOD_LATENCY_MS)
        report_line("adapter: latency timer %d ms: every exchange waits for it, about %d ms a "
                    "read instead of 2; lower it to 1 ms (README, Hardware setup)",
                    latency, latency + 1);
}

// servocheck [baudnum [idStart idEnd]]
static int check(int baudnum, int idStart, int idEnd)
{
    if (!scan(baudnum, idStart, idEnd)) {
        std::printf("stopped\n");
        return 1;
    }
    if (found_count > 0) {
        std::printf(" id  model  fw  volts  temp  load  torque  limit/max       angles  delay  "
                    "alarms\n");
        for (int i = 0; i < found_count; ++i)
            print_row(found[i]);
    }
    for (int i = 0; i < found_count; ++i) {
        const Found& servo = found[i];
        if (servo.table_read)
            report_servo_health(servo.id, baudnum, servo.table);
        else
            report(servo.id, "answers a PING, but its control table did not come (code %d)",
                   servo.table.code);
    }
    for (int i = 0; i < garbled_count; ++i) {
        if (found_count > 0)
            report(garbled_ids[i],
                   "replies collide: two servos may share this id (connect them one at a time "
                   "and give one of them another id: regbyte %d %d %d <newId>)",
                   garbled_ids[i], baudnum, ADDR_ID);
        else
            report(garbled_ids[i],
                   "replies arrive garbled and no other servo answers: check the wiring, or "
                   "connect the servos one at a time (two may share this id)");
    }
    if (found_count == 0 && garbled_count == 0)
        report_line("bus: no servo answers at baud number %d; check power and wiring, or find "
                    "the servos at every baud number with servoscan",
                    baudnum);
    report_latency();
    if (problems_reported() > 0)
        return 1;
    std::printf("no problem found\n");
    return 0;
}

// servocheck fix id baudnum: with the torque off, the torque limit back from the maximum
// torque; then what the servo reports.
static int fix(int id, int baudnum)
{
    ServoTable table;
    if (!read_servo_table(id, &table)) {
        report(id, "no reply at baud number %d (code %d)", baudnum, table.code);
        return 1;
    }
    const int torque_limit = table_word(table, ADDR_TORQUE_LIMIT);
    const int max_torque = table_word(table, ADDR_MAX_TORQUE);
    if (torque_limit != 0) {
        std::printf("servo %d: torque limit %d, not shut down: nothing to undo\n", id,
                    torque_limit);
    } else if (max_torque == 0) {
        report(id,
               "its maximum torque is 0 too: write it first, for instance with: "
               "regword %d %d %d 1023",
               id, baudnum, ADDR_MAX_TORQUE);
        return 1;
    } else {
        // A goal written while it was limp would make the servo spring there the moment its
        // limit came back: the goal becomes where it stands. Writing the goal switches the
        // torque on, so it goes off again before the limit comes back.
        const int goal = table_word(table, ADDR_GOAL_POSITION);
        const int position = read_word_retry(id, ADDR_PRESENT_POSITION);
        exit_if_line_gone();
        if (position == READ_FAILED) {
            report(id, "its present position did not come (code %d): nothing written",
                   bus_result());
            return 1;
        }
        bus_write_byte(id, ADDR_TORQUE_ENABLE, 0);
        exit_if_line_gone();
        bus_write_word(id, ADDR_GOAL_POSITION, position);
        exit_if_line_gone();
        bus_write_byte(id, ADDR_TORQUE_ENABLE, 0);
        exit_if_line_gone();
        bus_write_word(id, ADDR_TORQUE_LIMIT, max_torque);
        exit_if_line_gone();
        std::printf("servo %d: goal position %d -> %d (where it stands)\n", id, goal, position);
        std::printf("servo %d: torque off; torque limit 0 -> %d (its maximum torque)\n", id,
                    max_torque);
    }
    if (!read_servo_table(id, &table)) {
        report(id, "no reply after the fix (code %d)", table.code);
        return 1;
    }
    report_servo_health(id, baudnum, table);
    if (problems_reported() > 0)
        return 1;
    std::printf("servo %d: no alarm; switch its torque on when ready: holdswitch %d %d 1\n", id, id,
                baudnum);
    return 0;
}

static int bad_args()
{
    std::printf("bad args!\n");
    return 1;
}

static bool open_line(int baudnum)
{
    if (!bus_open()) {
        std::printf("Failed to open USB2Kinetron!\n");
        return false;
    }
    bus_change_baud(baudnum);
    Sleep(10);
    _beginthread(watchdog_thread, 0, NULL);
    return true;
}

int main(int argc, char** argv)
{
    if (arg_help_or_version(argc, argv, "servocheck", USAGE))
        return 0;
    std::printf("%s", USAGE);
    bool numbers = true;
    int status;
    if (argc > 1 && std::strcmp(argv[1], "fix") == 0) {
        if (argc != 4)
            return bad_args();
        const int id = arg_number(argc, argv, 2, -1, &numbers);
        const int baudnum = arg_number(argc, argv, 3, -1, &numbers);
        if (!numbers || !in_range(id, 0, ID_HIGHEST_SERVO) || !in_range(baudnum, 0, BAUDNUM_MAX))
            return bad_args();
        if (!open_line(baudnum))
            return 1;
        status = fix(id, baudnum);
    } else if (argc > 1 && std::strcmp(argv[1], "motion") == 0) {
        if (argc < 3 || argc == 4 || argc > 6 || argv[2][0] == '\0')
            return bad_args();
        const int idStart = arg_number(argc, argv, 3, 0, &numbers);
        const int idEnd = arg_number(argc, argv, 4, 31, &numbers);
        const int baudnum = arg_number(argc, argv, 5, 35, &numbers);
        if (!numbers || !in_range(idStart, 0, ID_ARGUMENT_MAX) ||
            !in_range(idEnd, 0, ID_ARGUMENT_MAX) || !in_range(baudnum, 0, BAUDNUM_MAX))
            return bad_args();
        if (!open_line(baudnum))
            return 1;
        status = check_motion(argv[2], idStart, idEnd, baudnum);
    } else {
        if (argc == 3 || argc > 4)
            return bad_args();
        const int baudnum = arg_number(argc, argv, 1, 35, &numbers);
        const int idStart = arg_number(argc, argv, 2, 0, &numbers);
        const int idEnd = arg_number(argc, argv, 3, ID_HIGHEST_SERVO, &numbers);
        if (!numbers || !in_range(baudnum, 0, BAUDNUM_MAX) ||
            !in_range(idStart, 0, ID_HIGHEST_SERVO) || !in_range(idEnd, 0, ID_HIGHEST_SERVO))
            return bad_args();
        if (!open_line(baudnum))
            return 1;
        status = check(baudnum, idStart, idEnd);
    }
    bus_close();
    return status;
}
