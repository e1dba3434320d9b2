// servoreg: every register of every model by name. Shows a servo's whole control table,
// reads or writes one register (checked against the model table before anything is sent,
// values raw or in the register's unit), and watches registers of several servos live with
// one group read per refresh.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "model_options.h"
#include "model_reads.h"
#include "registers.h"

static const char USAGE[] = "usage: servoreg [--bps N] [--protocol 1|2] <id> [<name> [<value>]]\n"
                            "       servoreg [--bps N] [--protocol 1|2] [--csv] watch <ids> "
                            "[<name> ...]\n";
static const int DEFAULT_BPS = 1000000;
static const int ID_MAX_P2 = 252;
// A reply lost to noise, or to a line that has just changed its speed, is no absent servo.
static const int PING_TRIES = READ_TRIES_MAX;
// A protocol 1.0 read takes at most 253 bytes; smaller parts keep every read well inside the
// watchdog's window at the slowest rates.
static const int TABLE_PART_BYTES = 64;
// The live table is drawn at most this often; the reads go on between.
static const unsigned DRAW_EVERY_MS = 100;
static const int KEYS_A_REFRESH = 16;

struct Servo {
    int id;
    int protocol;
    int model;
    int firmware;
    // watch: the span one read covers, and where each watched register lies in it
    int address, count;
    std::vector<const kinetron_register*> regs;
};

static ModelOptions options;
static int bps = DEFAULT_BPS;

// ---- finding a servo ----------------------------------------------------------------

// Pings the id with the protocol given (only, or --protocol, or else both by turns); true
// when it answers (the servo then holds its protocol, model and firmware).
static bool find_servo(int id, Servo* servo, int only = 0)
{
    if (only == 0)
        only = options.protocol;
    servo->id = id;
    for (int tries = 0; tries < PING_TRIES; ++tries) {
        for (int protocol = 2; protocol >= 1; --protocol) {
            if (only != 0 && only != protocol)
                continue;
            if (protocol == 2 && id > ID_MAX_P2)
                continue;
            int model = 0, firmware = 0;
            if (bus_ping(protocol, id, &model, &firmware) == RESULT_SUCCESS) {
                servo->protocol = protocol;
                servo->model = model;
                servo->firmware = firmware;
                return true;
            }
            exit_if_line_gone();
        }
    }
    return false;
}

// Finds the servo and makes sure the model table knows it; otherwise says why.
static bool find_known_servo(int id, Servo* servo)
{
    if (!find_servo(id, servo)) {
        std::printf("servo %d does not answer at %d bps\n", id, bps);
        return false;
    }
    if (kinetron_model_protocol(servo->model) == 0) {
        std::printf("servo %d is model %d, which the model table does not know\n", id,
                    servo->model);
        return false;
    }
    return true;
}

static const kinetron_register* named_register(const Servo& servo, const char* name)
{
    const kinetron_register* reg = kinetron_model_register(servo.model, name);
    if (reg == nullptr)
        std::printf("model %d has no register '%s'\n", servo.model, name);
    return reg;
}

// ---- words for what a servo says -----------------------------------------------------

// Protocol 2.0's error numbers, 1..7.
static const char* const P2_ERRORS[] = {"",
                                        "result fail",
                                        "instruction error",
                                        "CRC error",
                                        "data range error: the value is outside the "
                                        "register's range",
                                        "data length error",
                                        "data limit error: the value is outside the "
                                        "configured limit",
                                        "access error: read-only or undefined address, or "
                                        "EEPROM area with torque on"};
// Protocol 1.0's error bits, 0..6.
static const char* const P1_ERRORS[] = {"input voltage", "angle limit", "overheating", "range",
                                        "checksum",      "overload",    "instruction"};
// The protocol 1.0 bits that mean the instruction itself was refused; the others are alarms.
static const int P1_REFUSAL_BITS =
    ERRBIT_ANGLE | ERRBIT_RANGE | ERRBIT_CHECKSUM | ERRBIT_INSTRUCTION;

// Says what the servo's error byte means after a write; true when it refused the write.
static bool report_status(const Servo& servo, int status)
{
    if (status <= 0)
        return false;
    bool refused = false;
    if (servo.protocol == 2) {
        int number = status & 0x7F;
        if (number != 0) {
            std::printf("servo %d refused: %s\n", servo.id,
                        number <= 7 ? P2_ERRORS[number] : "unknown error");
            refused = true;
        }
        if (status & 0x80)
            std::printf("servo %d has a hardware alert standing (servocheck says which)\n",
                        servo.id);
        return refused;
    }
    std::string refusals, alarms;
    for (int bit = 0; bit < 7; ++bit) {
        if (!(status & (1 << bit)))
            continue;
        std::string& list = (P1_REFUSAL_BITS & (1 << bit)) ? refusals : alarms;
        list += list.empty() ? "" : ", ";
        list += P1_ERRORS[bit];
    }
    if (!refusals.empty())
        std::printf("servo %d refused: %s error\n", servo.id, refusals.c_str());
    if (!alarms.empty())
        std::printf("servo %d reports an alarm: %s\n", servo.id, alarms.c_str());
    return !refusals.empty();
}

// ---- showing registers ---------------------------------------------------------------

static void print_header(const Servo& servo)
{
    std::printf("servo %d: model %d, protocol %d.0, firmware %d, %d bps\n", servo.id, servo.model,
                servo.protocol, servo.firmware, bps);
}

static void print_value(const kinetron_register* reg, long long raw)
{
    char units[40];
    format_in_units(reg, raw, units, sizeof units);
    if (reg->unit != nullptr && reg->unit[0] != '\0')
        std::printf("%s: %lld (%s)\n", reg->name, raw, units);
    else
        std::printf("%s: %lld\n", reg->name, raw);
}

// The whole table, read in parts of consecutive registers; a part the servo will not give
// in one read is read register by register.
static int dump_table(const Servo& servo)
{
    std::printf("addr size name                           access area           raw  value\n");
    int count = kinetron_model_register_count(servo.model);
    int failures = 0;
    for (int first = 0; first < count;) {
        const kinetron_register* head = kinetron_model_register_at(servo.model, first);
        int last = first;
        while (last + 1 < count) {
            const kinetron_register* next = kinetron_model_register_at(servo.model, last + 1);
            if (next->address + next->size - head->address > TABLE_PART_BYTES)
                break;
            ++last;
        }
        const kinetron_register* tail = kinetron_model_register_at(servo.model, last);
        int span = tail->address + tail->size - head->address;
        unsigned char part[TABLE_PART_BYTES];
        bool part_read = false;
        for (int tries = 0; !part_read && tries < READ_TRIES_MAX; ++tries) {
            read_busy = true;
            part_read =
                bus_read(servo.protocol, servo.id, head->address, span, part) == RESULT_SUCCESS;
            read_busy = false;
            reads_done.fetch_add(1);
            exit_if_line_gone();
        }
        for (int k = first; k <= last; ++k) {
            const kinetron_register* reg = kinetron_model_register_at(servo.model, k);
            long long raw = 0;
            bool good = part_read;
            if (part_read)
                raw = kinetron_register_decode(reg, part + (reg->address - head->address));
            else
                good = read_register_retry(servo.protocol, servo.id, reg, &raw);
            char units[40] = "";
            if (good && reg->unit != nullptr && reg->unit[0] != '\0')
                format_in_units(reg, raw, units, sizeof units);
            char raw_text[24] = "-";
            if (good)
                std::snprintf(raw_text, sizeof raw_text, "%lld", raw);
            else
                ++failures;
            std::printf("%4d %4d %-30s %-6s %-6s %11s  %s\n", reg->address, reg->size, reg->name,
                        reg->writable ? "RW" : "R", reg->eeprom ? "EEPROM" : "RAM", raw_text,
                        units);
        }
        first = last + 1;
    }
    if (failures > 0) {
        std::printf("%d registers could not be read\n", failures);
        return 1;
    }
    return 0;
}

static int show_register(const Servo& servo, const char* name)
{
    const kinetron_register* reg = named_register(servo, name);
    if (reg == nullptr)
        return 1;
    long long raw = 0;
    if (!read_register_retry(servo.protocol, servo.id, reg, &raw)) {
        exit_if_line_gone();
        std::printf("%s: no answer (%s)\n", reg->name, result_code_text(bus_result()));
        return 1;
    }
    print_value(reg, raw);
    return 0;
}

// ---- writing ---------------------------------------------------------------------------

// VALUE as a raw number, or as a number followed by the register's unit ("180deg", "11.5V");
// false when it is neither.
static bool parse_value(const kinetron_register* reg, const char* text, long long* raw)
{
    if (arg_is_number(text)) {
        *raw = std::strtoll(text, nullptr, 10);
        return true;
    }
    if (reg->unit == nullptr || reg->unit[0] == '\0')
        return false;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text ||
        !(text[0] == '-' || text[0] == '+' || text[0] == '.' || (text[0] >= '0' && text[0] <= '9')))
        return false; // no number first (strtod would take "inf", "nan", "0x..", spaces)
    for (const char* p = text; p < end; ++p) {
        if (!(*p == '-' || *p == '+' || *p == '.' || (*p >= '0' && *p <= '9')))
            return false;
    }
    if (!same_text_ignoring_case(end, reg->unit))
        return false;
    *raw = kinetron_from_units(reg, value);
    return true;
}

static void print_range(const kinetron_register* reg)
{
    char low[40], high[40];
    std::printf("refused: %s takes %lld..%lld", reg->name, reg->low, reg->high);
    if (reg->unit != nullptr && reg->unit[0] != '\0') {
        format_in_units(reg, reg->low, low, sizeof low);
        format_in_units(reg, reg->high, high, sizeof high);
        std::printf(" (%s..%s)", low, high);
    }
    std::printf("\n");
}

// True when the servo keeps its EEPROM area locked now: a protocol 2.0 servo with torque on.
// *unknown is set when the torque could not be read.
static bool eeprom_locked(const Servo& servo, bool* unknown)
{
    *unknown = false;
    if (servo.protocol != 2)
        return false;
    const kinetron_register* torque = kinetron_model_register(servo.model, "torque_enable");
    long long on = 0;
    if (torque == nullptr)
        return false;
    if (!read_register_retry(servo.protocol, servo.id, torque, &on)) {
        *unknown = true;
        return false;
    }
    return on != 0;
}

// After a write of id or baud_rate: does the servo answer where it should now be?
static int ping_after_move(const Servo& servo, int new_id, int new_bps)
{
    if (new_bps != bps && !bus_set_bps(new_bps)) {
        std::printf("cannot set the line to %d bps to look for servo %d there\n", new_bps, new_id);
        return 1;
    }
    Sleep(10);
    int tries = 0;
    bool answers = false;
    while (!answers && tries++ < PING_TRIES) {
        answers = bus_ping(servo.protocol, new_id, nullptr, nullptr) == RESULT_SUCCESS;
        exit_if_line_gone();
    }
    if (!answers) {
        std::printf("servo %d does not answer at %d bps\n", new_id, new_bps);
        return 1;
    }
    std::printf("servo %d answers at %d bps\n", new_id, new_bps);
    if (new_bps != DEFAULT_BPS && new_bps != bps)
        std::printf("reach it with: servoreg --bps %d %d\n", new_bps, new_id);
    return 0;
}

static int write_register(const Servo& servo, const char* name, const char* text)
{
    const kinetron_register* reg = named_register(servo, name);
    if (reg == nullptr)
        return 1;
    long long raw = 0;
    if (!parse_value(reg, text, &raw)) {
        bool has_unit = reg->unit != nullptr && reg->unit[0] != '\0';
        std::printf("refused: '%s' is no value for %s (a whole number%s%s)\n", text, reg->name,
                    has_unit ? ", or a number and " : "", has_unit ? reg->unit : "");
        return 1;
    }
    if (!reg->writable) {
        std::printf("refused: %s is read only\n", reg->name);
        return 1;
    }
    if (raw < reg->low || raw > reg->high) {
        print_range(reg);
        return 1;
    }
    int new_bps = bps;
    bool moves_id = std::strcmp(reg->name, "id") == 0;
    bool moves_rate = std::strcmp(reg->name, "baud_rate") == 0;
    if (moves_rate) {
        new_bps = kinetron_model_baud_bps(servo.model, static_cast<int>(raw));
        if (new_bps == 0) {
            std::printf("refused: model %d has no rate for baud_rate %lld\n", servo.model, raw);
            return 1;
        }
    }
    if (reg->eeprom) {
        bool unknown = false;
        if (eeprom_locked(servo, &unknown)) {
            std::printf("refused: %s lies in the EEPROM area, which servo %d keeps locked "
                        "while its torque is on\n",
                        reg->name, servo.id);
            std::printf("switch the torque off first: servoreg --bps %d %d torque_enable 0\n", bps,
                        servo.id);
            return 1;
        }
        if (unknown) {
            std::printf("servo %d does not answer at %d bps\n", servo.id, bps);
            return 1;
        }
    }
    if (moves_id && raw != servo.id) {
        Servo other;
        // Only a servo of the same protocol would answer the same packets.
        if (find_servo(static_cast<int>(raw), &other, servo.protocol)) {
            std::printf("refused: id %lld is taken by another servo\n", raw);
            return 1;
        }
    }
    unsigned char bytes[4];
    kinetron_register_encode(reg, raw, bytes);
    int code = bus_write(servo.protocol, servo.id, reg->address, reg->size, bytes);
    exit_if_line_gone();
    if (code == RESULT_SUCCESS && report_status(servo, kinetron_last_status()))
        return 1;
    if (moves_id || moves_rate) {
        std::printf("%s: %lld written\n", reg->name, raw);
        return ping_after_move(servo, moves_id ? static_cast<int>(raw) : servo.id, new_bps);
    }
    long long now = 0;
    if (!read_register_retry(servo.protocol, servo.id, reg, &now)) {
        std::printf("servo %d does not answer at %d bps\n", servo.id, bps);
        return 1;
    }
    if (code != RESULT_SUCCESS && now != raw) {
        std::printf("servo %d did not take the write (%s)\n", servo.id, result_code_text(code));
        return 1;
    }
    print_value(reg, now);
    if (now != raw) {
        // Taken, yet not kept: a torque switched on while an alarm holds the servo down.
        std::printf("servo %d kept %lld, not the %lld written\n", servo.id, now, raw);
        return 1;
    }
    return 0;
}

// ---- watching ------------------------------------------------------------------------

// exit_if_line_gone for the live row: the row is ended first, so that the line saying why
// stands on a row of its own.
static void end_if_line_gone()
{
    int code = bus_result();
    if (!options.csv && (code == RESULT_TX_FAIL || code == RESULT_RX_FAIL)) {
        std::printf("\n");
        std::fflush(stdout);
    }
    exit_if_line_gone();
}

// One refresh of every watched servo's span: one group read per protocol where the models
// have one, a read per servo otherwise. data[k] gets servo k's span; good[k] whether it came.
static void read_all(std::vector<Servo>& servos, std::vector<std::vector<unsigned char>>& data,
                     std::vector<bool>& good)
{
    for (int protocol = 1; protocol <= 2; ++protocol) {
        std::vector<int> which, ids, addresses, counts;
        bool one_table = true;
        const char* table = nullptr;
        int total = 0;
        for (std::size_t k = 0; k < servos.size(); ++k) {
            const Servo& s = servos[k];
            if (s.protocol != protocol)
                continue;
            bool grouped = protocol == 2 || kinetron_model_has_instruction(s.model, s.firmware,
                                                                           KINETRON_BULK_READ_1);
            if (!grouped) {
                good[k] = bus_read(1, s.id, s.address, s.count, data[k].data()) == RESULT_SUCCESS;
                end_if_line_gone();
                continue;
            }
            const char* t = kinetron_model_table(s.model);
            one_table = one_table && (table == nullptr || std::strcmp(table, t) == 0);
            table = t;
            which.push_back(static_cast<int>(k));
            ids.push_back(s.id);
            addresses.push_back(s.address);
            counts.push_back(s.count);
            total += s.count;
        }
        if (which.empty())
            continue;
        int n = static_cast<int>(which.size());
        std::vector<unsigned char> out(total);
        std::vector<int> results(n, 0);
        if (protocol == 2 && one_table)
            bus_sync_read(0, n, ids.data(), addresses[0], counts[0], out.data(), results.data(),
                          nullptr);
        else
            bus_bulk_read(protocol, 0, n, ids.data(), addresses.data(), counts.data(), out.data(),
                          results.data(), nullptr);
        end_if_line_gone();
        int offset = 0;
        for (int j = 0; j < n; ++j) {
            int k = which[j];
            good[k] = results[j] == RESULT_SUCCESS;
            std::memcpy(data[k].data(), out.data() + offset, counts[j]);
            offset += counts[j];
        }
    }
}

// The live table's row or the CSV line of one refresh.
static void print_refresh(const std::vector<Servo>& servos,
                          const std::vector<std::vector<unsigned char>>& data,
                          const std::vector<bool>& good, unsigned elapsed_ms, double rate)
{
    if (options.csv)
        std::printf("%u", elapsed_ms);
    else
        std::printf("\r");
    for (std::size_t k = 0; k < servos.size(); ++k) {
        for (const kinetron_register* reg : servos[k].regs) {
            char text[40] = "-";
            if (good[k]) {
                long long raw = kinetron_register_decode(
                    reg, data[k].data() + (reg->address - servos[k].address));
                if (options.csv && reg->unit != nullptr && reg->unit[0] != '\0')
                    std::snprintf(text, sizeof text, "%.*f", unit_decimals(reg),
                                  kinetron_to_units(reg, raw));
                else if (options.csv)
                    std::snprintf(text, sizeof text, "%lld", raw);
                else
                    format_in_units(reg, raw, text, sizeof text);
            } else if (options.csv) {
                text[0] = '\0';
            }
            if (options.csv)
                std::printf(",%s", text);
            else
                std::printf(" %*s", std::max<int>(12, std::strlen(reg->name) + 4), text);
        }
    }
    if (options.csv)
        std::printf("\n");
    else
        std::printf("  %7.1f/s", rate);
    std::fflush(stdout);
}

static int watch(const std::vector<int>& ids, int names_count, char** names)
{
    const char* default_name = "present_position";
    std::vector<Servo> servos(ids.size());
    for (std::size_t k = 0; k < ids.size(); ++k) {
        Servo& s = servos[k];
        if (!find_known_servo(ids[k], &s))
            return 1;
        int low = 1 << 30, high = 0;
        for (int j = 0; j < (names_count > 0 ? names_count : 1); ++j) {
            const kinetron_register* reg =
                named_register(s, names_count > 0 ? names[j] : default_name);
            if (reg == nullptr)
                return 1;
            s.regs.push_back(reg);
            low = std::min(low, reg->address);
            high = std::max(high, reg->address + reg->size);
        }
        s.address = low;
        s.count = high - low;
    }
    // The header: a column per servo and register.
    if (options.csv)
        std::printf("time_ms");
    else
        std::printf("ESC or q ends\n");
    for (const Servo& s : servos) {
        for (const kinetron_register* reg : s.regs) {
            bool has_unit = reg->unit != nullptr && reg->unit[0] != '\0';
            if (options.csv)
                std::printf(",%d_%s%s%s", s.id, reg->name, has_unit ? "_" : "",
                            has_unit ? reg->unit : "");
            else
                std::printf(" %*s", std::max<int>(12, std::strlen(reg->name) + 4),
                            (std::to_string(s.id) + ":" + reg->name).c_str());
        }
    }
    std::printf(options.csv ? "\n" : "  refreshes\n");
    std::fflush(stdout);

    std::vector<std::vector<unsigned char>> data(servos.size());
    for (std::size_t k = 0; k < servos.size(); ++k)
        data[k].assign(servos[k].count, 0);
    std::vector<bool> good(servos.size(), false);
    unsigned start = GetTickCount();
    long refreshes = 0;
    unsigned last_draw = start - DRAW_EVERY_MS;
    unsigned window_start = start;
    int window_refreshes = 0;
    double rate = 0.0;
    for (;;) {
        read_all(servos, data, good);
        unsigned now = GetTickCount();
        if (refreshes++ == 0)
            start = window_start = now; // the log's time counts from the first refresh
        ++window_refreshes;
        // Over the last whole second; in the first second, over the time so far.
        if (now - window_start >= 1000 || (window_start == start && now != start))
            rate = window_refreshes * 1000.0 / (now - window_start);
        if (now - window_start >= 1000) {
            window_start = now;
            window_refreshes = 0;
        }
        if (options.csv || now - last_draw >= DRAW_EVERY_MS) {
            print_refresh(servos, data, good, now - start, rate);
            last_draw = now;
        }
        bool end = false;
        // Keys typed since the last refresh; a bounded number, so that a stream of them
        // (a file on standard input) cannot stall the reads.
        for (int keys = 0; !end && keys < KEYS_A_REFRESH && _kbhit() > 0; ++keys) {
            int key = _getch() & 0xFF;
            end = key == KEY_ESC || key == 'q' || key == 'Q';
        }
        if (end)
            break;
    }
    if (!options.csv)
        std::printf("\n");
    return 0;
}

// ---- the command line ----------------------------------------------------------------

// What the words after the options ask for; false after one line on standard error naming
// what is wrong. *id for one servo, *ids for watch.
static bool check_arguments(int argc, char** argv, bool watching, int* id, std::vector<int>* ids)
{
    if (watching) {
        if (argc < 3) {
            std::fprintf(stderr, "servoreg: watch wants the ids to watch, such as 1-6,9\n");
            return false;
        }
        int list[ID_HIGHEST_SERVO + 1];
        const int count =
            arg_id_list(argv[2], ID_HIGHEST_SERVO, list, ID_HIGHEST_SERVO + 1, nullptr);
        if (count <= 0) {
            std::fprintf(stderr, "servoreg: bad id list '%s' (ids 0..253, such as 1-6,9)\n",
                         argv[2]);
            return false;
        }
        ids->assign(list, list + count);
        return true;
    }
    if (options.csv) {
        std::fprintf(stderr, "servoreg: --csv goes with watch\n");
        return false;
    }
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "servoreg: %s\n",
                     argc < 2 ? "which servo? give its id" : "too many words after the value");
        return false;
    }
    *id = arg_to_int(argv[1]);
    if (!arg_is_number(argv[1]) || !in_range(*id, 0, ID_HIGHEST_SERVO)) {
        std::fprintf(stderr, "servoreg: the id is a number 0..253, not '%s'\n", argv[1]);
        return false;
    }
    return true;
}

int main(int argc, char** argv)
{
    bool options_good = take_model_options(&argc, argv, TAKES_BPS | TAKES_PROTOCOL | TAKES_CSV,
                                           "servoreg", &options);
    if (options_good && arg_help_or_version(argc, argv, "servoreg", USAGE))
        return 0;
    bool watching = argc >= 2 && std::strcmp(argv[1], "watch") == 0;
    if (!(options_good && watching && options.csv))
        std::printf("%s", USAGE);
    int id = -1;
    std::vector<int> ids;
    if (!options_good || !check_arguments(argc, argv, watching, &id, &ids)) {
        std::printf("bad args!\n");
        return 1;
    }
    if (options.bps_count > 0)
        bps = options.bps[0];
    if (!bus_open()) {
        std::printf("Failed to open USB2Kinetron!\n");
        return 1;
    }
    if (!bus_set_bps(bps)) { // the library said why
        bus_close();
        std::printf("bad args!\n");
        return 1;
    }
    _beginthread(watchdog_thread, 0, NULL);
    int status = 0;
    if (watching) {
        status = watch(ids, argc - 3, argv + 3);
    } else {
        Servo servo;
        if (!find_known_servo(id, &servo)) {
            status = 1;
        } else {
            print_header(servo);
            if (argc == 2)
                status = dump_table(servo);
            else if (argc == 3)
                status = show_register(servo, argv[2]);
            else
                status = write_register(servo, argv[2], argv[3]);
        }
    }
    bus_close();
    return status;
}
