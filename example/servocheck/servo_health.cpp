// The health of one servo from its control table and the error byte of its reply: which
// alarms it raises, whether it shut itself down, and what to do about each.
#include "servo_health.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bus_tools.h"
#include "kinetron.h"

static const int TABLE_TRIES = 10; // as the tools' reads with retry
static const char* const ALARM_NAMES[] = {"voltage",  "angle",    "overheat",   "range",
                                          "checksum", "overload", "instruction"};
static const int ALARM_COUNT = sizeof ALARM_NAMES / sizeof ALARM_NAMES[0];

static int reported;

void watched_exchange_begin() { read_busy = true; }

void watched_exchange_end()
{
    // The flag falls before the count rises, as the watchdog expects.
    read_busy = false;
    reads_done.fetch_add(1);
}

bool read_servo_table(int id, ServoTable* table)
{
    watched_exchange_begin();
    bool read = false;
    table->status = -1;
    for (int tries = 0; tries < TABLE_TRIES && !read; ++tries) {
        int count = bus_read_block(id, 0, CONTROL_TABLE_SIZE, table->bytes);
        table->code = bus_result();
        exit_if_line_gone();
        if (count == CONTROL_TABLE_SIZE) {
            table->status = kinetron_last_status();
            read = true;
        }
    }
    watched_exchange_end();
    return read;
}

int table_byte(const ServoTable& table, int address) { return table.bytes[address]; }

int table_word(const ServoTable& table, int address)
{
    return table.bytes[address] | (table.bytes[address + 1] << 8);
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

static void print_line(const char* subject, const char* format, std::va_list args)
{
    std::printf("%s", subject);
    std::vprintf(format, args);
    std::printf("\n");
    ++reported;
}

void report(int id, const char* format, ...)
{
    char subject[32];
    std::snprintf(subject, sizeof subject, "servo %d: ", id);
    std::va_list args;
    va_start(args, format);
    print_line(subject, format, args);
    va_end(args);
}

void report_line(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    print_line("", format, args);
    va_end(args);
}

int problems_reported() { return reported; }

// What takes the cause of these alarms away, for the advice of a problem line.
static const char* remedy(int alarms, int temperature_limit)
{
    static char text[120];
    text[0] = '\0';
    if (alarms & ERRBIT_OVERLOAD)
        std::strcat(text, "free the joint and lighten its load");
    if (alarms & ERRBIT_OVERHEAT) {
        char cool[60];
        std::snprintf(cool, sizeof cool, "%slet it cool below %d C", text[0] ? ", " : "",
                      temperature_limit);
        std::strcat(text, cool);
    }
    if (alarms & ERRBIT_VOLTAGE)
        std::strcat(text, text[0] ? ", fix its supply" : "fix its supply");
    return text[0] ? text : "find what stopped it";
}

void report_servo_health(int id, int baudnum, const ServoTable& table)
{
    const int alarms = table.status < 0 ? 0 : table.status;
    const int torque_limit = table_word(table, ADDR_TORQUE_LIMIT);
    const int temperature = table_byte(table, ADDR_PRESENT_TEMPERATURE);
    const int temperature_limit = table_byte(table, ADDR_TEMPERATURE_LIMIT);
    const int voltage = table_byte(table, ADDR_PRESENT_VOLTAGE);
    const int low_voltage = table_byte(table, ADDR_LOW_VOLTAGE);
    const int high_voltage = table_byte(table, ADDR_HIGH_VOLTAGE);
    const int cw = table_word(table, ADDR_CW_LIMIT);
    const int ccw = table_word(table, ADDR_CCW_LIMIT);

    // A servo shut down by its alarms has a torque limit of 0: it stays limp, whatever its
    // torque enable holds, until the limit is written back.
    int handled = 0;
    if (torque_limit == 0) {
        const int causes = alarms & table_byte(table, ADDR_ALARM_SHUTDOWN);
        const int named = causes ? causes : alarms;
        if (named)
            report(id,
                   "shut down by %s: torque limit 0, so it stays limp even with torque on; "
                   "%s, then run: servocheck fix %d %d",
                   alarm_list(named), remedy(named, temperature_limit), id, baudnum);
        else
            report(id,
                   "torque limit 0: it stays limp even with torque on; set it back with: "
                   "servocheck fix %d %d",
                   id, baudnum);
        handled = named;
    }
    if (!(handled & ERRBIT_OVERHEAT) &&
        ((alarms & ERRBIT_OVERHEAT) || temperature > temperature_limit))
        report(id,
               "overheating: %d C, above its limit of %d C; switch its torque off, let it cool "
               "and lighten its load",
               temperature, temperature_limit);
    if (!(handled & ERRBIT_VOLTAGE) &&
        ((alarms & ERRBIT_VOLTAGE) || voltage < low_voltage || voltage > high_voltage))
        report(id,
               "supply voltage %.1f V, outside its limits %.1f..%.1f V; check the power "
               "supply and its wiring",
               voltage / 10.0, low_voltage / 10.0, high_voltage / 10.0);
    if (!(handled & ERRBIT_OVERLOAD) && (alarms & ERRBIT_OVERLOAD))
        report(id, "overloaded (load %d): free the joint or lighten its load",
               table_word(table, ADDR_PRESENT_LOAD) & MAGNITUDE_MASK);
    if (cw > ccw)
        report(id,
               "angle limits leave no range (CW %d above CCW %d), so it ignores every goal; "
               "set them with: regword %d %d %d <low> and regword %d %d %d <high>",
               cw, ccw, id, baudnum, ADDR_CW_LIMIT, id, baudnum, ADDR_CCW_LIMIT);
}
