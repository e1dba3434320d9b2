// motiontape: records a motion into a frame file and plays it back, on servos of every
// model: one group read a frame while recording, one SYNC_WRITE a frame while playing, and
// a safe start that brings every servo gently to the first frame before it plays.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arguments.h"
#include "kinetron.h"
#include "model_options.h"
#include "motiontape.h"
#include "registers.h"

static const char USAGE[] = "usage: motiontape record FILE IDS [--bps N] [--protocol 1|2]\n"
                            "usage: motiontape play FILE [--speed F] [--loop N] [--bps N]\n";

static MotionSettings settings;

static bool bad(const char* why, const char* what)
{
    std::fprintf(stderr, "motiontape: %s: '%s'\n", why, what);
    return false;
}

// "1-6,9": single ids and ranges, in the order given, the columns of the recording.
static bool parse_ids(const char* text)
{
    bool repeated = false;
    settings.idCount =
        arg_id_list(text, ID_HIGHEST_SERVO, settings.ids, CHAIN_SERVOS_MAX, &repeated);
    switch (settings.idCount) {
    case ID_LIST_MALFORMED:
        return bad("IDS is a list such as 1-6,9", text);
    case ID_LIST_OUT_OF_RANGE:
        return bad("ids lie from 0 to 253, a range from low to high", text);
    case ID_LIST_TOO_LONG:
        return bad("one group read takes at most 253 servos", text);
    }
    return !repeated || bad("an id is listed twice", text);
}

static bool whole_number(const char* text, int lo, int hi, int* value)
{
    if (!arg_is_number(text))
        return false;
    *value = arg_to_int(text);
    return in_range(*value, lo, hi);
}

// The options after the positional arguments: play's --speed and --loop.
static bool parse_options(int argc, char** argv, int k, bool record)
{
    for (; k < argc; k += 2) {
        const char* option = argv[k];
        if (k + 1 >= argc)
            return bad("an option needs a value", option);
        const char* value = argv[k + 1];
        if (!record && std::strcmp(option, "--speed") == 0) {
            char* end = nullptr;
            settings.speed = std::strtod(value, &end);
            if (end == value || *end != '\0' || !(settings.speed > 0.0) ||
                !(settings.speed <= 100.0))
                return bad("--speed takes a factor above 0, up to 100", value);
        } else if (!record && std::strcmp(option, "--loop") == 0) {
            if (!whole_number(value, 1, 1000000, &settings.loops))
                return bad("--loop takes a number of times, 1 or more", value);
        } else {
            return bad("unknown option", option);
        }
    }
    return true;
}

// The command line; --bps and --protocol may stand anywhere and are taken out first, so that
// main finds the mode at argv[1].
static bool parse_arguments(int* argc, char** argv)
{
    ModelOptions options;
    if (!take_model_options(argc, argv, TAKES_BPS | TAKES_PROTOCOL, "motiontape", &options))
        return false;
    if (*argc < 3) {
        std::fprintf(stderr, "motiontape: record or play, and a file, are needed\n");
        return false;
    }
    settings.fileName = argv[2];
    settings.speed = 1.0;
    settings.loops = 1;
    settings.bps = options.bps_count > 0 ? options.bps[0] : 0;
    settings.protocol = options.protocol;
    if (std::strcmp(argv[1], "record") == 0) {
        if (*argc < 4 || std::strncmp(argv[3], "--", 2) == 0)
            return bad("record needs the servos' ids", argv[2]);
        return parse_ids(argv[3]) && parse_options(*argc, argv, 4, true);
    }
    if (std::strcmp(argv[1], "play") == 0) {
        // Play takes the protocol from the file's comment line.
        if (options.protocol != 0)
            return bad("unknown option", "--protocol");
        return parse_options(*argc, argv, 3, false);
    }
    return bad("the mode is record or play", argv[1]);
}

bool open_line(int bps)
{
    if (!bus_open())
        return false;
    if (!bus_set_bps(bps)) {
        bus_close();
        return false;
    }
    return true;
}

int main(int argc, char** argv)
{
    if (argc > 1 && arg_answer_help(argv[1], "motiontape", USAGE))
        return 0;
    std::printf("%s", USAGE);
    std::fflush(stdout);
    if (!parse_arguments(&argc, argv))
        return 1;
    int status = std::strcmp(argv[1], "record") == 0 ? run_record(settings) : run_play(settings);
    bus_close();
    return status;
}
