#include "sim_options.h"

#include <cerrno>
#include <cstdlib>

#include "registers.h"
#include "sim_model.h"

namespace sim {

namespace {

const int DEFAULT_BAUD = 35;

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

// A whole decimal number in lo..hi, nothing else.
bool parse_int(const std::string& text, long long lo, long long hi, long long& value)
{
    if (text.empty() || text.size() > 18)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return value >= lo && value <= hi;
}

bool parse_probability(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    for (char c : text)
        if ((c < '0' || c > '9') && c != '.')
            return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end && *end == '\0' && value >= 0.0 && value <= 1.0;
}

// Volts with at most one decimal ("5.5", "12"), as tenths of a volt in 0..255.
bool parse_decivolts(const std::string& text, int& decivolts)
{
    std::string::size_type dot = text.find('.');
    long long whole, tenth = 0;
    if (!parse_int(text.substr(0, dot), 0, 25, whole))
        return false;
    if (dot != std::string::npos && !parse_int(text.substr(dot + 1), 0, 9, tenth))
        return false;
    if (dot != std::string::npos && text.size() != dot + 2)
        return false;
    decivolts = static_cast<int>(whole * 10 + tenth);
    return decivolts <= 255;
}

struct PendingRange {
    int first, last, baud; // baud -1: the chain's baud= value, or the model's 1,000,000 bps
    int model;
};

// The baud-rate register value at which a protocol 2.0 servo of the model listens at
// 1,000,000 bps.
int one_megabit_value(const ServoModel& model)
{
    for (int value = 0; value <= 255; ++value)
        if (model.baud_bps(value) == 1000000)
            return value;
    return 0;
}

// "#MODEL" and "@N" after a range, in either order, each at most once.
bool parse_range_suffix(const std::string& suffix, const std::string& text, PendingRange& range,
                        std::string& error)
{
    std::string::size_type at = 0;
    bool seen_model = false, seen_baud = false;
    while (at < suffix.size()) {
        const char mark = suffix[at];
        std::string::size_type end = suffix.find_first_of("@#", at + 1);
        const std::string number =
            suffix.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        long long value;
        if (mark == '#') {
            if (seen_model || !parse_int(number, 1, 65535, value) ||
                !find_servo_model(static_cast<int>(value))) {
                error = "bad model '#" + number + "' in ids=" + text +
                        " (after # give a model number the kit knows, e.g. 12, 29, 350, 1060)";
                return false;
            }
            seen_model = true;
            range.model = static_cast<int>(value);
        } else {
            if (seen_baud || !parse_int(number, 0, 254, value)) {
                error = "bad baud number in ids=" + text + " (after @ give 0..254)";
                return false;
            }
            seen_baud = true;
            range.baud = static_cast<int>(value);
        }
        at = end == std::string::npos ? suffix.size() : end;
    }
    const ServoModel* model = find_servo_model(range.model);
    if (range.baud >= 0 && model->baud_bps(range.baud) == 0) {
        error = "bad baud number @" + std::to_string(range.baud) + " in ids=" + text + " (model " +
                std::to_string(range.model) + " has no such baud-rate value)";
        return false;
    }
    if (range.baud < 0 && model->protocol == 2)
        range.baud = one_megabit_value(*model);
    return true;
}

bool parse_id_list(const std::string& text, std::vector<PendingRange>& ranges, std::string& error)
{
    for (const std::string& item : split(text, '+')) {
        PendingRange range{0, 0, -1, 12};
        std::string::size_type marks = item.find_first_of("@#");
        std::string span = item.substr(0, marks);
        if (marks != std::string::npos &&
            !parse_range_suffix(item.substr(marks), text, range, error))
            return false;
        std::string::size_type dash = span.find('-');
        long long first, last;
        const int highest = find_servo_model(range.model)->protocol == 2 ? 252 : ID_HIGHEST_SERVO;
        bool ok = dash == std::string::npos
                      ? parse_int(span, 0, highest, first) && (last = first, true)
                      : parse_int(span.substr(0, dash), 0, highest, first) &&
                            parse_int(span.substr(dash + 1), 0, highest, last) && first <= last;
        if (!ok) {
            error = "bad id range '" + span + "' in ids=" + text + " (ids are 0.." +
                    std::to_string(highest) + ", a range is LOW-HIGH)";
            return false;
        }
        range.first = static_cast<int>(first);
        range.last = static_cast<int>(last);
        ranges.push_back(range);
    }
    return true;
}

} // namespace

bool parse_sim_options(const char* text, SimOptions& options, std::string& error)
{
    options = SimOptions();
    std::vector<PendingRange> ranges{{1, 18, -1, 12}};
    int baud = DEFAULT_BAUD;
    std::string list = text ? text : "";
    if (!list.empty()) {
        for (const std::string& option : split(list, ',')) {
            std::string::size_type equals = option.find('=');
            std::string name = option.substr(0, equals);
            std::string value =
                equals == std::string::npos ? std::string() : option.substr(equals + 1);
            bool has_value = equals != std::string::npos;
            long long number = 0;
            if (name == "ids" && has_value) {
                ranges.clear();
                if (!parse_id_list(value, ranges, error))
                    return false;
            } else if (name == "baud" && has_value) {
                if (!parse_int(value, 0, 254, number)) {
                    error = "bad value in baud=" + value + " (a baud number 0..254)";
                    return false;
                }
                baud = static_cast<int>(number);
            } else if (name == "pos" && has_value) {
                if (!parse_int(value, 0, 4095, number)) {
                    error = "bad value in pos=" + value +
                            " (a position in the servos' own steps: 0..1023, or 0..4095)";
                    return false;
                }
                options.start_position = static_cast<int>(number);
            } else if (name == "hand" && has_value &&
                       (value == "wave" || value == "still" || parse_int(value, 1, 1023, number))) {
                // A number is a hand as fast as that present speed reading (1..1023).
                options.hand_wave = value != "still";
                options.hand_speed =
                    value == "wave" || value == "still" ? 0 : static_cast<int>(number);
            } else if (name == "timing" && has_value && (value == "wire" || value == "instant")) {
                options.wire_timing = value == "wire";
            } else if ((name == "drop" || name == "corrupt" || name == "partial" ||
                        name == "noise") &&
                       has_value) {
                double p;
                if (!parse_probability(value, p)) {
                    error = "bad value in " + option + " (a probability from 0 to 1, e.g. 0.25)";
                    return false;
                }
                (name == "drop"      ? options.drop
                 : name == "corrupt" ? options.corrupt
                 : name == "partial" ? options.partial
                                     : options.noise) = p;
            } else if ((name == "flaky" || name == "stall" || name == "hot" || name == "blocked") &&
                       has_value) {
                if (!parse_int(value, 0, ID_HIGHEST_SERVO, number)) {
                    error = "bad value in " + option + " (a servo id 0..253)";
                    return false;
                }
                (name == "flaky"   ? options.flaky_id
                 : name == "stall" ? options.stall_id
                 : name == "hot"   ? options.hot_id
                                   : options.blocked_id) = static_cast<int>(number);
            } else if (name == "volts" && has_value) {
                if (!parse_decivolts(value, options.supply_decivolts)) {
                    error = "bad value in volts=" + value +
                            " (the supply in volts, 0..25.5, one decimal at most: 11.1)";
                    return false;
                }
            } else if (name == "delay" && has_value) {
                if (!parse_int(value, 0, 254, number)) {
                    error = "bad value in delay=" + value +
                            " (every servo's return delay register, 0..254 in 2 us units)";
                    return false;
                }
                options.return_delay = static_cast<int>(number);
            } else if (name == "trace" && !has_value) {
                options.trace = true;
            } else if (name == "seed" && has_value) {
                if (!parse_int(value, 0, 999999999999999999LL, number)) {
                    error = "bad value in seed=" + value + " (a whole number)";
                    return false;
                }
                options.seed = static_cast<std::uint64_t>(number);
            } else if (name == "latency" && has_value) {
                if (!parse_int(value, 0, 255, number)) {
                    error = "bad value in latency=" + value +
                            " (the adapter's latency timer in ms, 1..255; 0 for none)";
                    return false;
                }
                options.usb_latency_ms = static_cast<int>(number);
            } else if (option.empty()) {
                error = "empty option in '" + list + "'";
                return false;
            } else {
                error = "unknown option '" + option +
                        "' (known: ids=LIST baud=N pos=N hand=wave "
                        "timing=wire drop=P corrupt=P partial=P noise=P flaky=ID stall=ID trace "
                        "seed=N latency=MS volts=V hot=ID blocked=ID delay=N)";
                return false;
            }
        }
    }
    for (const PendingRange& range : ranges) {
        const ServoModel* model = find_servo_model(range.model);
        if (options.start_position > model->position_max) {
            error = "bad value in pos=" + std::to_string(options.start_position) + " (model " +
                    std::to_string(range.model) + " has positions 0.." +
                    std::to_string(model->position_max) + ")";
            return false;
        }
        for (int id = range.first; id <= range.last; ++id)
            options.servos.push_back({id, range.baud < 0 ? baud : range.baud, range.model});
    }
    return true;
}

} // namespace sim
