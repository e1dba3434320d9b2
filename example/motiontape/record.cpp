// motiontape record: release the listed servos, wait for the start key, then read every
// servo's present speed and position with one group read a frame and write the frame file
// line by line until ESC.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bus_tools.h"
#include "comment_line.h"
#include "console.h"
#include "frame_file.h"
#include "motiontape.h"
#include "registers.h"
#include "status_line.h"

namespace {

enum { KEY_ENTER = 13, KEY_LINE_FEED = 10, KEY_SPACE = 32 };
// A value text: a 32-bit number (a 4096-step position may be far outside one turn) or a
// three-letter failure code.
enum { VALUE_TEXT_SIZE = 16 };

int speeds[CHAIN_SERVOS_MAX];
int positions[CHAIN_SERVOS_MAX];
int results[CHAIN_SERVOS_MAX];
char speedTexts[CHAIN_SERVOS_MAX][VALUE_TEXT_SIZE];
char positionTexts[CHAIN_SERVOS_MAX][VALUE_TEXT_SIZE];
const char* speedRow[CHAIN_SERVOS_MAX];
const char* positionRow[CHAIN_SERVOS_MAX];

// Opened before anything is sent, to learn that it can be written; it keeps what it holds
// until the first frame.
std::FILE* recordFile;

void value_text(char* text, int value, int code)
{
    if (value == VALUE_FAILED)
        std::snprintf(text, VALUE_TEXT_SIZE, "%s", result_code_text(code));
    else
        std::snprintf(text, VALUE_TEXT_SIZE, "%3d", value);
}

// Waits for Enter or space (true) or ESC (false); other keys are passed over.
bool start_key()
{
    for (;;) {
        int key = _getch();
        if (key == KEY_ESC)
            return false;
        if (key == KEY_ENTER || key == KEY_LINE_FEED || key == KEY_SPACE)
            return true;
    }
}

std::FILE* start_file(const MotionSettings& settings, int bps)
{
    std::FILE* file = start_recorded_file(recordFile, settings.fileName);
    recordFile = nullptr;
    if (!file)
        return nullptr;
    static MotionComment comment;
    comment.protocol = chain.protocol;
    comment.bps = bps;
    comment.modelCount = chain.count;
    for (int k = 0; k < chain.count; ++k)
        comment.models[k] = chain.servos[k].model;
    write_motion_comment(file, comment);
    int ids[CHAIN_SERVOS_MAX];
    for (int k = 0; k < chain.count; ++k)
        ids[k] = chain.servos[k].id;
    write_frame_header(file, ids, chain.count);
    return file;
}

void show_status(unsigned long frames, double seconds, unsigned long failed, bool end)
{
    char text[160];
    std::snprintf(text, sizeof text, "frames %lu  %.1f frames/s  %.1f s  failed reads %lu", frames,
                  seconds > 0.0 ? frames / seconds : 0.0, seconds, failed);
    if (end)
        status_end(text);
    else
        status_show(text, false);
}

// Records until ESC; returns the exit status.
int record(const MotionSettings& settings, int bps)
{
    for (int k = 0; k < chain.count; ++k) {
        speedRow[k] = speedTexts[k];
        positionRow[k] = positionTexts[k];
    }
    std::FILE* file = nullptr;
    unsigned long frames = 0, failed = 0;
    status_begin();
    std::uint32_t started = GetTickCount();
    std::uint32_t lastStamp = started;
    for (;;) {
        std::uint32_t now = GetTickCount();
        int delay = static_cast<int>(now - lastStamp);
        lastStamp = now;
        chain_read_motion(speeds, positions, results);
        for (int k = 0; k < chain.count; ++k) {
            value_text(speedTexts[k], speeds[k], results[k]);
            value_text(positionTexts[k], positions[k], results[k]);
            if (results[k] != RESULT_SUCCESS)
                ++failed;
        }
        if (!file && !(file = start_file(settings, bps))) {
            status_clear();
            std::fprintf(stderr, "motiontape: cannot write '%s': %s\n", settings.fileName,
                         std::strerror(errno));
            return 1;
        }
        write_frame_line(file, delay, speedRow, positionRow, chain.count);
        if (std::ferror(file)) {
            status_clear();
            std::fprintf(stderr, "motiontape: cannot write to '%s': %s\n", settings.fileName,
                         std::strerror(errno));
            std::fclose(file);
            return 1;
        }
        ++frames;
        double seconds = static_cast<std::uint32_t>(GetTickCount() - started) / 1000.0;
        show_status(frames, seconds, failed, false);
        if (_kbhit() > 0 && esc_among_waiting_keys()) {
            show_status(frames, seconds, failed, true);
            break;
        }
    }
    std::fclose(file);
    std::printf("Recorded %lu frames into '%s'.\n", frames, settings.fileName);
    return 0;
}

int record_when_ready(const MotionSettings& settings)
{
    int bps = settings.bps ? settings.bps : DEFAULT_BPS;
    if (!open_line(bps))
        return 1;

    int missing[CHAIN_SERVOS_MAX];
    int missingCount = 0;
    chain_ping(settings.ids, settings.idCount, settings.protocol, missing, &missingCount);
    if (missingCount > 0) {
        std::fprintf(stderr, "motiontape: no answer at %d bps from servo", bps);
        for (int i = 0; i < missingCount; ++i)
            std::fprintf(stderr, "%s %d", i ? "," : "", missing[i]);
        std::fprintf(stderr, "\n");
        return 1;
    }
    if (!chain_learn_registers("motiontape"))
        return 1;

    std::printf("Servos at %d bps, protocol %s:\n", bps, protocol_name(chain.protocol));
    for (int k = 0; k < chain.count; ++k)
        std::printf("  id %3d  model %d  firmware %d\n", chain.servos[k].id, chain.servos[k].model,
                    chain.servos[k].firmware);
    std::printf("Each frame: %s of %s and %s.\n", chain_read_name(), chain.presentSpeed->name,
                chain.presentPosition->name);
    // Only the listed servos go limp: others on the bus keep holding.
    chain_write_each(chain.torqueEnable, 0);
    std::printf("Torque is off: pose the servos by hand.\n");
    std::printf("Press Enter or space to record, ESC to stop.\n");
    std::fflush(stdout);
    if (!start_key()) {
        std::printf("Nothing recorded; '%s' is as it was.\n", settings.fileName);
        return 0;
    }
    std::printf("Recording ...\n");
    std::fflush(stdout);
    return record(settings, bps);
}

} // namespace

int run_record(const MotionSettings& settings)
{
    recordFile = open_frame_file_to_record(settings.fileName);
    if (!recordFile) {
        std::fprintf(stderr, "motiontape: cannot write '%s': %s\n", settings.fileName,
                     std::strerror(errno));
        return 1;
    }
    int status = record_when_ready(settings);
    if (recordFile)
        std::fclose(recordFile); // nothing recorded: the file is as it was
    return status;
}
