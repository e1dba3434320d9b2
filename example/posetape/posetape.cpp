// posetape: records the servos' speeds and positions into a frame file while a person
// poses the robot by hand (REC), and plays such a file back with synchronized writes (PLAY).
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adapter.h"
#include "arguments.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"
#include "run_settings.h"

static const char USAGE[] =
    "usage: posetape REC [<frameFileName> [<idStart> <idEnd> [<baudnum> [<waitToRecord> "
    "[<idStart2> <idEnd2>]]]]]\n"
    "usage: posetape PLAY [<frameFileName> [<idStart> <idEnd> [<baudnum> [<delayFactor> "
    "[<motorSpeed> [<useRecordedSpeeds>]]]]\n";

static RunSettings settings;
// False once an argument that is read as a number is none.
static bool numbers = true;

static void set_defaults()
{
    settings.mode = MODE_NONE;
    std::snprintf(settings.frameFileName, sizeof settings.frameFileName, "%s", "frames.csv");
    settings.idStart = 0;
    settings.idEnd = 31;
    settings.baudnum = 35;
    settings.waitToRecord = true;
    settings.idStart2 = -1;
    settings.idEnd2 = -1;
    settings.delayFactor = 1.0f;
    settings.speedScale = 1.0f;
    settings.motorSpeed = 50;
    settings.useRecordedSpeeds = true;
}

// atof, kept within float: a value beyond float's range becomes an infinity (then refused).
// The text must be a number that strtod reads whole: "2x" or an empty factor is refused.
static float to_factor(const char* text)
{
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0')
        numbers = false;
    if (value > FLT_MAX)
        return HUGE_VALF;
    if (value < -FLT_MAX)
        return -HUGE_VALF;
    return static_cast<float>(value);
}

static bool settings_valid(bool nameTooLong)
{
    if (!numbers || !in_range(settings.idStart, 0, ID_ARGUMENT_MAX) ||
        !in_range(settings.idEnd, 0, ID_ARGUMENT_MAX) ||
        !in_range(settings.baudnum, 0, BAUDNUM_MAX))
        return false;
    if (settings.mode == MODE_NONE)
        return false;
    // Written so that a factor that is not a number fails too.
    if (!(settings.delayFactor >= 0.0f && settings.delayFactor <= 1000.0f))
        return false;
    if (!in_range(settings.motorSpeed, 0, 1000))
        return false;
    return settings.frameFileName[0] != '\0' && !nameTooLong;
}

// Each mode closes the frame file it opened before it returns.
static int closing(int status)
{
    bus_close();
    return status;
}

int main(int argc, char** argv)
{
    if (argc > 1 && arg_answer_help(argv[1], "posetape", USAGE))
        return 0;
    std::printf("%s", USAGE);
    set_defaults();

    // A name longer than the field is refused; until then it is shown as given.
    const char* shownName = settings.frameFileName;
    bool nameTooLong = false;
    if (argc > 2) {
        shownName = argv[2];
        nameTooLong = std::strlen(argv[2]) > FRAME_FILE_NAME_MAX;
        if (!nameTooLong)
            std::snprintf(settings.frameFileName, sizeof settings.frameFileName, "%s", argv[2]);
    }

    if (argc > 1) {
        if (same_text_ignoring_case(argv[1], "REC")) {
            settings.mode = MODE_REC;
            std::printf("Recording to '%s'.\n", shownName);
        } else if (same_text_ignoring_case(argv[1], "PLAY")) {
            settings.mode = MODE_PLAY;
            std::printf("Playing '%s'.\n", shownName);
        } else {
            std::printf("ERROR: Unknown program mode '%s'. Choose either REC or PLAY!\n", argv[1]);
            return 1;
        }
    }

    settings.idStart = arg_number(argc, argv, 3, settings.idStart, &numbers);
    settings.idEnd = arg_number(argc, argv, 4, settings.idEnd, &numbers);
    settings.baudnum = arg_number(argc, argv, 5, settings.baudnum, &numbers);
    if (settings.mode == MODE_PLAY) {
        if (argc > 6) {
            settings.delayFactor = to_factor(argv[6]);
            if (settings.delayFactor > 0.0f)
                settings.speedScale = 1.0f / settings.delayFactor;
        }
        settings.motorSpeed = arg_number(argc, argv, 7, settings.motorSpeed, &numbers);
        if (argc > 8)
            settings.useRecordedSpeeds = arg_is_yes(argv[8]);
    } else {
        if (argc > 6)
            settings.waitToRecord = arg_is_yes(argv[6]);
        settings.idStart2 = arg_number(argc, argv, 7, settings.idStart2, &numbers);
        settings.idEnd2 = arg_number(argc, argv, 8, settings.idEnd2, &numbers);
    }

    std::printf("current: posetape <frameFileName='%s'> <idStart=%d> <idStop=%d> <baudnum=%d> "
                "<factor%.2f> <waitToRecord=%d>\n",
                shownName, settings.idStart, settings.idEnd, settings.baudnum,
                static_cast<double>(settings.delayFactor), settings.waitToRecord ? 1 : 0);
    if (!settings_valid(nameTooLong)) {
        std::printf("bad args!\n");
        return 1;
    }

    if (!open_adapter())
        return closing(1);
    bus_change_baud(settings.baudnum);
    std::printf("Press ESC key to Quit!\n\n");
    std::fflush(stdout);
    _beginthread(watchdog_thread, 0, nullptr);

    int status = settings.mode == MODE_REC ? run_recording(settings) : run_playback(settings);
    return closing(status);
}
