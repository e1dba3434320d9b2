// The health of one servo from its control table and the error byte of its reply: which
// alarms it raises, whether it shut itself down, and what to do about each.
#include "servo_health.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bus_tools.h"
#include "console.h"
#include "registers.h"

static const char* const ALARM_NAMES[] = {"voltage",  "angle",    "overheat",   "range",
                                          "checksum", "overload", "instruction"};
static const int ALARM_COUNT = sizeof ALARM_NAMES / sizeof ALARM_NAMES[0];

// Protocol 2.0 hardware error status, by bit: the 4096-step table's and model 350's.
static const char* const HARDWARE_NAMES[8] = {
    "input voltage",    nullptr,    "overheating", "motor encoder",
    "electrical shock", "overload", nullptr,       nullptr};
static const char* const HARDWARE_NAMES_350[8] = {"overload", "overheating", "input voltage"};
enum { HW_VOLTAGE = 1, HW_HEAT = 2, HW_LOAD = 4 }; // the causes a remedy names

static int reported;

void watched_exchange_begin() { read_busy = true; }

void watched_exchange_end()
{
    // The flag falls before the count rises, as the watchdog expects.
    read_busy = false;
    reads_done.fetch_add(1);
}

const char* alarm_list(int bits)
{
    static char text[80];
    text[0] = '\0';
    for (int bit = 0; bit < ALARM_COUNT; ++bit) {
        if (bits & (1 << bit)) {
            if (text[0] != '\0')
                std::strcat(text, ",");
            std::strcat(text, ALARM_NAMES[bit]);
        }
    }
    return text[0] != '\0' ? text : "-";
}

static const char* const* hardware_names(const ServoImage& image)
{
    const char* table = kinetron_model_table(image.table_model);
    return table && std::strcmp(table, "protocol2_350") == 0 ? HARDWARE_NAMES_350 : HARDWARE_NAMES;
}

// The causes among bits that a remedy names: HW_VOLTAGE, HW_HEAT, HW_LOAD.
static int hardware_causes(const ServoImage& image, int bits)
{
    const char* const* names = hardware_names(image);
    int causes = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (!(bits & (1 << bit)) || !names[bit])
            continue;
        if (std::strcmp(names[bit], "input voltage") == 0)
            causes |= HW_VOLTAGE;
        else if (std::strcmp(names[bit], "overheating") == 0)
            causes |= HW_HEAT;
        else if (std::strcmp(names[bit], "overload") == 0)
            causes |= HW_LOAD;
    }
    return causes;
}

static const char* hardware_list(const ServoImage& image, int bits, bool alert)
{
    static char text[120];
    const char* const* names = hardware_names(image);
    std::snprintf(text, sizeof text, "%s", alert ? "alert" : "");
    for (int bit = 0; bit < 8; ++bit) {
        if ((bits & (1 << bit)) && names[bit]) {
            if (text[0] != '\0')
                std::strcat(text, ",");
            std::strcat(text, names[bit]);
        }
    }
    return text[0] != '\0' ? text : "-";
}

int hardware_errors(const ServoImage& image)
{
    if (image.protocol != 2)
        return 0;
    const long long bits = image_raw(image, "hardware_error_status", 0);
    return static_cast<int>(bits & 0xFF);
}

static bool alert_bit(const ServoImage& image)
{
    return image.protocol == 2 && image.status >= 0 && (image.status & PROTOCOL2_ALERT);
}

const char* image_alarms(const ServoImage& image)
{
    if (image.protocol == 1)
        return alarm_list(image.status < 0 ? 0 : image.status);
    return hardware_list(image, hardware_errors(image), alert_bit(image));
}

static void print_line(const char* subject, const char* format, std::va_list args)
{
    std::printf("%s", subject);
    std::vprintf(format, args);
    std::printf("\n");
}

// One line about one servo: "servo ID: " and the text.
static void print_servo_line(int id, const char* format, std::va_list args)
{
    char subject[32];
    std::snprintf(subject, sizeof subject, "servo %d: ", id);
    print_line(subject, format, args);
}

void report(int id, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    print_servo_line(id, format, args);
    va_end(args);
    ++reported;
}

void report_line(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    print_line("", format, args);
    va_end(args);
    ++reported;
}

void advise(int id, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    print_servo_line(id, format, args);
    va_end(args);
}

int problems_reported() { return reported; }

const char* fix_command(int id, const LineSetting& line)
{
    static char text[80];
    if (line.protocol == 1 && line.baudnum >= 0)
        std::snprintf(text, sizeof text, "servocheck fix %d %d", id, line.baudnum);
    else if (line.protocol == 1)
        std::snprintf(text, sizeof text, "servocheck --bps %d --protocol 1 fix %d", line.bps, id);
    else
        std::snprintf(text, sizeof text, "servocheck --bps %d fix %d", line.bps, id);
    return text;
}

// What takes the cause of these alarms away (HW_* causes), for the advice of a problem line.
static const char* remedy(int causes, int temperature_limit)
{
    static char text[120];
    text[0] = '\0';
    if (causes & HW_LOAD)
        std::strcat(text, "free the joint and lighten its load");
    if (causes & HW_HEAT) {
        char cool[60];
        std::snprintf(cool, sizeof cool, "%slet it cool below %d C", text[0] ? ", " : "",
                      temperature_limit);
        std::strcat(text, cool);
    }
    if (causes & HW_VOLTAGE)
        std::strcat(text, text[0] ? ", fix its supply" : "fix its supply");
    return text[0] ? text : "find what stopped it";
}

static int protocol1_causes(int alarms)
{
    return (alarms & ERRBIT_OVERLOAD ? HW_LOAD : 0) | (alarms & ERRBIT_OVERHEAT ? HW_HEAT : 0) |
           (alarms & ERRBIT_VOLTAGE ? HW_VOLTAGE : 0);
}

// A protocol 1.0 servo shut down by its alarms has a torque limit of 0: it stays limp,
// whatever its torque enable holds, until the limit is written back. The causes it names.
static int report_shutdown1(int id, const LineSetting& line, const ServoImage& image)
{
    const int alarms = image.status < 0 ? 0 : image.status;
    if (image_raw(image, "torque_limit") != 0)
        return 0;
    const int causes = alarms & static_cast<int>(image_raw(image, "shutdown", 0));
    const int named = causes ? causes : alarms;
    if (named)
        report(id,
               "shut down by %s: torque limit 0, so it stays limp even with torque on; "
               "%s, then run: %s",
               alarm_list(named),
               remedy(protocol1_causes(named),
                      static_cast<int>(image_raw(image, "temperature_limit"))),
               fix_command(id, line));
    else
        report(id, "torque limit 0: it stays limp even with torque on; set it back with: %s",
               fix_command(id, line));
    return protocol1_causes(named);
}

// A protocol 2.0 servo shut down by a hardware error its shutdown register selects: its
// torque is off until a REBOOT. An error the register does not select raises the alert bit
// but leaves the torque free to come on: no shutdown, its own line follows. The causes it
// names.
static int report_shutdown2(int id, const LineSetting& line, const ServoImage& image)
{
    const int errors = hardware_errors(image);
    const int stopping = errors & static_cast<int>(image_raw(image, "shutdown", 0));
    if (stopping == 0 && (errors != 0 || !alert_bit(image)))
        return 0;
    const int named = stopping ? stopping : errors;
    const int causes = hardware_causes(image, named);
    report(id,
           "shut down by %s: torque off until it is rebooted, whatever torque enable is "
           "written; %s, then run: %s",
           named ? hardware_list(image, named, false) : "an alarm",
           remedy(causes, static_cast<int>(image_raw(image, "temperature_limit"))),
           fix_command(id, line));
    return causes;
}

// Servos whose return delay slows group reads, for one advice line per rate.
struct SlowReply {
    int id, bps, delay_us;
};
enum { SLOW_MAX = 512 };
static SlowReply slow[SLOW_MAX];
static int slow_count;

void advise_return_delays()
{
    for (int i = 0; i < slow_count; ++i) {
        if (slow[i].bps == 0)
            continue; // told with an earlier one of its rate
        char ids[SLOW_MAX * 5] = "";
        int count = 0, longest = 0;
        for (int j = i; j < slow_count; ++j) {
            if (slow[j].bps != slow[i].bps)
                continue;
            std::snprintf(ids + std::strlen(ids), sizeof ids - std::strlen(ids), "%s%d",
                          count++ ? ", " : "", slow[j].id);
            longest = slow[j].delay_us > longest ? slow[j].delay_us : longest;
            if (j > i)
                slow[j].bps = 0;
        }
        if (count == 1)
            std::printf("servo %s: return delay %d us: each reply of a group read waits for it; "
                        "set it to 0 with: servoreg --bps %d %s return_delay_time 0\n",
                        ids, longest, slow[i].bps, ids);
        else
            std::printf("servos %s: return delay up to %d us: each reply of a group read waits "
                        "for it; set it to 0 with: servoreg --bps %d ID return_delay_time 0\n",
                        ids, longest, slow[i].bps);
    }
    slow_count = 0;
}

static bool has_group_read(const ServoImage& image)
{
    for (int which = KINETRON_SYNC_READ; which <= KINETRON_BULK_READ_1; ++which) {
        if (kinetron_model_has_instruction(image.model, image.firmware, which))
            return true;
    }
    return false;
}

void report_servo_health(int id, const LineSetting& line, const ServoImage& image)
{
    const int alarms = image.protocol == 1 && image.status >= 0 ? image.status : 0;
    const long long temperature = image_raw(image, "present_temperature");
    const long long temperature_limit = image_raw(image, "temperature_limit");
    const double voltage = image_units(image, "present_input_voltage");
    const double low_voltage =
        image_units(image, either_name(image, "min_voltage", "min_voltage_limit"));
    const double high_voltage =
        image_units(image, either_name(image, "max_voltage", "max_voltage_limit"));
    const char* low_name = either_name(image, "cw_angle_limit", "min_position_limit");
    const char* high_name = either_name(image, "ccw_angle_limit", "max_position_limit");
    const long long low = image_raw(image, low_name);
    const long long high = image_raw(image, high_name);
    const int errors = hardware_errors(image);

    const int handled =
        image.protocol == 1 ? report_shutdown1(id, line, image) : report_shutdown2(id, line, image);
    if (!(handled & HW_HEAT) && ((alarms & ERRBIT_OVERHEAT) || temperature > temperature_limit))
        report(id,
               "overheating: %lld C, above its limit of %lld C; switch its torque off, let it "
               "cool and lighten its load",
               temperature, temperature_limit);
    // Raw values, all in tenths of a volt, compared as whole numbers.
    const long long tenths = image_raw(image, "present_input_voltage");
    const long long low_tenths =
        image_raw(image, either_name(image, "min_voltage", "min_voltage_limit"));
    const long long high_tenths =
        image_raw(image, either_name(image, "max_voltage", "max_voltage_limit"));
    if (!(handled & HW_VOLTAGE) &&
        ((alarms & ERRBIT_VOLTAGE) || tenths < low_tenths || tenths > high_tenths))
        report(id,
               "supply voltage %.1f V, outside its limits %.1f..%.1f V; check the power "
               "supply and its wiring",
               voltage, low_voltage, high_voltage);
    if (!(handled & HW_LOAD) &&
        ((alarms & ERRBIT_OVERLOAD) || (hardware_causes(image, errors) & HW_LOAD)))
        report(id, "overloaded (load %lld): free the joint or lighten its load",
               std::llabs(image_raw(image, "present_load", 0)));
    if (low > high) {
        if (image.protocol == 1 && line.baudnum >= 0)
            report(id,
                   "angle limits leave no range (CW %lld above CCW %lld), so it ignores every "
                   "goal; set them with: regword %d %d %d <low> and regword %d %d %d <high>",
                   low, high, id, line.baudnum, ADDR_CW_LIMIT, id, line.baudnum, ADDR_CCW_LIMIT);
        else
            report(id,
                   "position limits leave no range (%s %lld above %s %lld), so it ignores "
                   "every goal; set them with: servoreg --bps %d %d %s <value>",
                   low_name, low, high_name, high, line.bps, id, low_name);
    }
    const long long delay = image_raw(image, "return_delay_time", 0);
    if (delay > 0 && has_group_read(image) && slow_count < SLOW_MAX)
        slow[slow_count++] = {id, line.bps, static_cast<int>(delay) * 2};
}

const char* describe_lines(const LineSetting* lines, int count)
{
    static char text[160];
    text[0] = '\0';
    for (int i = 0; i < count; ++i) {
        char one[64];
        if (lines[i].protocol == 1 && lines[i].baudnum >= 0)
            std::snprintf(one, sizeof one, "baud number %d (protocol 1.0)", lines[i].baudnum);
        else
            std::snprintf(one, sizeof one, "%d bps (protocol %d.0)", lines[i].bps,
                          lines[i].protocol);
        if (i > 0)
            std::strcat(text, " nor at ");
        std::strcat(text, one);
    }
    return text;
}

bool set_line(const LineSetting& line)
{
    if (line.protocol == 1 && line.baudnum >= 0)
        bus_change_baud(line.baudnum);
    else if (!bus_set_bps(line.bps))
        return false; // the library said why on standard error
    Sleep(10);
    return true;
}

int baudnum_of(int bps)
{
    const int n = bps > 0 ? BAUD_BASE_BPS / bps - 1 : -1;
    return n >= 0 && n <= BAUDNUM_MAX && baudnum_to_bps(n) == bps ? n : -1;
}
