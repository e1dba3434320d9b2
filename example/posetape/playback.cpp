// PLAY: hold every listed servo where it stands, then drive all of them frame by frame
// with one synchronized write per register, pausing after each frame. ESC at the terminal
// stops it after the frame being sent.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bus_tools.h"
#include "comment_line.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"
#include "run_settings.h"

// One synchronized-write packet carries at most this many servos.
enum { SYNC_WRITE_SERVOS_MAX = 46, SETTLE_MS = 1000 };
// While keys are read, a pause looks for ESC at least this often.
enum { KEY_POLL_MS = 10 };

typedef std::chrono::steady_clock Clock;

static FrameHeader header;
static FrameLine frame;
static int startPositions[SYNC_WRITE_SERVOS_MAX];
// Keys are read only from a terminal: a script that feeds standard input to a loop of
// playbacks keeps its input.
static bool readKeys;

// Sends one packet that writes a word at startAddress in each listed servo.
static void send_sync_write(int startAddress, const int* ids, const int* values, int count)
{
    bus_packet_set_id(ID_BROADCAST);
    bus_packet_set_instruction(SYNC_WRITE);
    bus_packet_set_param(0, startAddress);
    bus_packet_set_param(1, 2);
    for (int n = 0; n < count; ++n) {
        bus_packet_set_param(2 + 3 * n, ids[n]);
        bus_packet_set_param(3 + 3 * n, bus_low_byte(values[n]));
        bus_packet_set_param(4 + 3 * n, bus_high_byte(values[n]));
    }
    bus_packet_set_length(3 * count + 4);
    bus_packet_transfer();
    exit_if_line_gone();
}

// Sends the entries of the id list whose value lies from lo to hi; the others keep what
// they had. With announce, prints each position as it is added.
static void send_included(int startAddress, const int* values, int lo, int hi, bool announce)
{
    int ids[SYNC_WRITE_SERVOS_MAX];
    int included[SYNC_WRITE_SERVOS_MAX];
    int count = 0;
    for (int i = 0; i < header.idListSize; ++i) {
        if (values[i] < lo || values[i] > hi)
            continue;
        if (announce)
            std::printf("\nSet motor [%d] position to %d.", header.idList[i], values[i]);
        ids[count] = header.idList[i];
        included[count] = values[i];
        ++count;
    }
    send_sync_write(startAddress, ids, included, count);
}

// Writes one speed to every listed servo.
static void send_common_speed(int speed)
{
    int speeds[SYNC_WRITE_SERVOS_MAX];
    for (int i = 0; i < header.idListSize; ++i)
        speeds[i] = speed;
    send_sync_write(ADDR_MOVING_SPEED, header.idList, speeds, header.idListSize);
}

static void print_list(const int* values, int count, const char* separator)
{
    for (int i = 0; i < count; ++i)
        std::printf(i == 0 ? "%d" : separator, values[i]);
}

// True when ESC was pressed at the terminal; other keys are read and dropped.
static bool esc_pressed() { return readKeys && esc_among_waiting_keys(); }

// Pauses for `ms` milliseconds; true when ESC ended the pause early. While keys are read it
// sleeps in slices up to one deadline, so the pause keeps its length whatever each slice
// overslept.
static bool pause_ms(unsigned long ms)
{
    if (!readKeys) {
        Sleep(ms);
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(KEY_POLL_MS)));
        if (esc_pressed())
            return true;
    }
    return false;
}

// Reads every frame line once before anything moves, so that a file that would stop partway
// through the motion is refused whole; then goes back to the first frame line. A file that
// cannot go back (a pipe or a FIFO: it has no position) is played as it comes.
static bool frames_playable(std::FILE* file)
{
    std::fpos_t position;
    if (std::fgetpos(file, &position) != 0)
        return true;
    if (!frame_lines_fit(file, header))
        return false;
    if (!rewind_to_first_frame(file)) {
        std::fprintf(stderr, "posetape: cannot go back to the first frame of '%s'\n",
                     header.fileName);
        return false;
    }
    return true;
}

// Plays the open frame file from its header on; returns the exit status.
// A motiontape file of protocol 2.0 or of models outside model 12's family holds positions
// and speeds in other units: refused before anything is sent. A file that cannot go back (a
// pipe) is played as it comes.
static bool positions_mean_what_play_sends(const RunSettings& settings, std::FILE* file)
{
    static MotionComment comment;
    int line = 0;
    int found = find_motion_comment(file, &comment, &line);
    bool foreign = found < 0 || (found > 0 && comment.protocol != 1);
    for (int k = 0; found > 0 && k < comment.modelCount; ++k) {
        const char* table = kinetron_model_table(comment.models[k]);
        foreign = foreign || !table || std::strcmp(table, "protocol1_1024") != 0;
    }
    if (found < 0)
        std::fprintf(stderr,
                     "posetape: '%s' line %d: a motiontape comment line that does not say what "
                     "the positions mean; nothing was sent\n",
                     settings.frameFileName, line);
    else if (foreign)
        std::fprintf(stderr,
                     "posetape: '%s' line %d: motiontape recorded it on servos whose positions "
                     "mean something else here (protocol 2 or models outside model 12's "
                     "family); play it with motiontape\n",
                     settings.frameFileName, line);
    return !foreign;
}

static int play(const RunSettings& settings, std::FILE* file)
{
    if (!positions_mean_what_play_sends(settings, file))
        return 1;
    if (read_frame_header(file, settings.idStart, settings.idEnd, settings.frameFileName,
                          &header) != FRAME_HEADER_OK)
        return 1;
    std::printf("Found IDs: ");
    print_list(header.idList, stored_ids(header), ", %d");
    std::printf(".\n");
    if (header.idListSize > SYNC_WRITE_SERVOS_MAX) {
        std::printf(
            "WARNING!!! You have %d Kinetron motors at baud rate %d. Max number of Kinetrons "
            "that can be controlled by a single SYNC_WRITE packet is 46! Please modify the "
            "code to use multiple SYNC_WRITE packets.\n",
            header.idListSize, settings.baudnum);
        std::exit(1);
    }
    if (!frames_playable(file))
        return 1;

    std::printf("Reseting initial motor positions");
    std::fflush(stdout);
    bool anyAnswered = header.idListSize == 0; // nobody to answer: plays as it always did
    for (int i = 0; i < header.idListSize; ++i) {
        startPositions[i] = read_word_retry(header.idList[i], ADDR_PRESENT_POSITION);
        exit_if_line_gone();
        anyAnswered = anyAnswered || startPositions[i] != READ_FAILED;
    }
    if (!anyAnswered) {
        // A wrong baud number or the power off: playing would only print moves nobody made.
        // The message starts on a line of its own, as the watchdog's does.
        std::fflush(stdout);
        std::fprintf(stderr,
                     "\nposetape: no servo of '%s' answered at baud number %d; nothing was sent "
                     "(servoscan finds the servos and their baud numbers)\n",
                     settings.frameFileName, settings.baudnum);
        return 1;
    }
    send_included(ADDR_GOAL_POSITION, startPositions, 1, POSITION_MAX, false);
    std::printf(".\n");

    std::printf("Setting the desired motor speeds to %d", settings.motorSpeed);
    send_common_speed(settings.motorSpeed);
    std::printf(".\n");
    std::fflush(stdout);

    bool stopped = pause_ms(SETTLE_MS);
    std::uint32_t lastMove = GetTickCount();

    bool sendSpeeds = settings.useRecordedSpeeds && header.hasSpeeds;
    while (!stopped && next_frame_line(file, header, settings.speedScale, startPositions, &frame)) {
        std::printf("Found Delay of %d for Positions: ", frame.delay);
        int taken = frame.posListSize < FRAME_TOKENS_MAX ? frame.posListSize : FRAME_TOKENS_MAX;
        print_list(frame.positions, taken, ",%d");
        std::printf(".\n");
        if (!frame_line_fits(header, frame))
            return 1;
        if (sendSpeeds) {
            std::printf("Setting the motor speeds");
            send_included(ADDR_MOVING_SPEED, frame.speeds, 0, 1023, false);
            std::printf(".  ");
        }
        std::printf("Moving the motors");
        send_included(ADDR_GOAL_POSITION, frame.positions, 1, POSITION_MAX, true);
        std::uint32_t now = GetTickCount();
        std::printf("[%4dms]", static_cast<int>(now - lastMove));
        lastMove = now;
        std::printf(".\n");
        std::fflush(stdout);
        stopped = esc_pressed() || pause_ms(frame_pause_ms(frame.delay, settings.delayFactor));
    }
    // ESC ends the playback as the end of the file does; the servos stay at the last frame.
    if (stopped)
        std::printf("\n");

    // A moving speed of 0 would leave the servos at full, uncontrolled speed.
    std::printf("Resetting the desired motor speeds to %d", settings.motorSpeed);
    send_common_speed(settings.motorSpeed);
    std::printf(".\n");
    return 0;
}

int run_playback(const RunSettings& settings)
{
    std::FILE* file = open_frame_file(settings.frameFileName);
    if (!file) {
        std::printf("ERROR: Couldn't open file '%s' for reading positions!\n",
                    settings.frameFileName);
        return 1;
    }
    std::printf("Opened file '%s' for reading positions.\n", settings.frameFileName);
    readKeys = keys_from_terminal() != 0;
    int status = play(settings, file);
    std::fclose(file);
    return status;
}
