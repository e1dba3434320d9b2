// REC: release the servos, find the ones that answer, and sample their present speed and
// position into the frame file, frame after frame, until ESC.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adapter.h"
#include "bus_tools.h"
#include "console.h"
#include "kinetron.h"
#include "registers.h"
#include "run_settings.h"

enum { TABLE_HEAD_EVERY = 60 };

static const char DASH_LINE[] =
    "|------------------------------------------------------------------\n";

static int found_ids[FRAME_IDS_MAX];
static int found_stored; // entries of found_ids in use
static int found_count;  // every servo found, also those past the list's end

// Reads each id's own id register; a servo is there when it answers with that id.
// A key press ends the range early.
static void search_range(int first, int last)
{
    for (int id = first; id <= last; ++id) {
        int value = read_byte_retry(id, ADDR_ID);
        exit_if_line_gone();
        if (value == id && bus_result() == RESULT_SUCCESS) {
            if (found_stored < FRAME_IDS_MAX)
                found_ids[found_stored++] = id;
            ++found_count;
            std::printf("X");
        } else {
            std::printf(".");
        }
        std::fflush(stdout);
        if (_kbhit() > 0) {
            _getch();
            break;
        }
        if (id == last)
            break; // keeps id from stepping past INT_MAX
    }
    std::printf("\n");
}

static void print_table_head()
{
    std::printf("%s|", DASH_LINE);
    for (int i = 0; i < found_stored; ++i)
        std::printf("%3d ", found_ids[i]);
    std::printf("\n%s", DASH_LINE);
    std::fflush(stdout);
}

// Releases the servos, finds them and records into the open frame file until ESC; returns
// the exit status. The file is emptied only when the recording starts; `file` becomes the
// stream written then (null when that failed).
static int record(const RunSettings& settings, std::FILE*& file)
{
    std::printf("Disabling Torque on all motors at baudrate %d.\n", settings.baudnum);
    std::fflush(stdout);
    for (int pass = 0; pass < TORQUE_OFF_PASSES; ++pass) {
        broadcast_torque_off(settings.baudnum);
        exit_if_line_gone();
    }

    std::printf("Searching for available motors at baudrate %d:\n", settings.baudnum);
    found_stored = 0;
    found_count = 0;
    search_range(settings.idStart, settings.idEnd);
    if (settings.idEnd2 >= 0)
        search_range(settings.idStart2, settings.idEnd2);
    std::printf("Found %d Kinetron motors at baudrate %d.\n\n", found_count, settings.baudnum);
    if (found_count == 0)
        return 1; // nothing to record is a failed recording

    if (settings.waitToRecord) {
        std::printf(
            "\n    Press any key when you are ready to record movements, and ESC when done.\n");
        if (_getch() == KEY_ESC) {
            std::printf("Exiting program early because you hit ESC before starting!\n");
            return 0;
        }
    }

    static char speedTexts[FRAME_IDS_MAX][RESULT_TEXT_SIZE];
    static char positionTexts[FRAME_IDS_MAX][RESULT_TEXT_SIZE];
    static const char* speedRow[FRAME_IDS_MAX];
    static const char* positionRow[FRAME_IDS_MAX];
    for (int i = 0; i < FRAME_IDS_MAX; ++i) {
        speedRow[i] = speedTexts[i];
        positionRow[i] = positionTexts[i];
    }

    // Up to here an existing file is as it was: nothing recorded, nothing lost.
    file = start_recorded_file(file, settings.frameFileName);
    if (!file) {
        std::fprintf(stderr, "posetape: cannot write to '%s': %s\n", settings.frameFileName,
                     std::strerror(errno));
        return 1;
    }
    bool headerWritten = false;
    std::uint32_t lastStamp = GetTickCount();
    for (unsigned long frame = 0;; ++frame) {
        if (frame % TABLE_HEAD_EVERY == 0) {
            print_table_head();
            if (!headerWritten)
                write_frame_header(file, found_ids, found_stored);
            headerWritten = true;
        }
        std::printf("|");
        std::uint32_t now = GetTickCount();
        int delay = static_cast<int>(now - lastStamp);
        lastStamp = now;
        for (int i = 0; i < found_stored; ++i) {
            int speed = read_word_retry(found_ids[i], ADDR_PRESENT_SPEED);
            // The rows already written are on disk; this one is dropped with the line.
            exit_if_line_gone();
            std::printf("[");
            std::snprintf(speedTexts[i], sizeof speedTexts[i], "%s",
                          print_result(recorded_speed(speed)));
            std::printf("]");
            int position = read_word_retry(found_ids[i], ADDR_PRESENT_POSITION);
            exit_if_line_gone();
            std::snprintf(positionTexts[i], sizeof positionTexts[i], "%s", print_result(position));
        }
        // The file line is on disk before the row ends on the screen, so a recording cut
        // off at any moment keeps every row it showed.
        write_frame_line(file, delay, speedRow, positionRow, found_stored);
        if (std::ferror(file)) {
            // A full disk or a vanished drive: the frames would be lost without a word.
            std::fprintf(stderr, "posetape: cannot write to '%s': %s\n", settings.frameFileName,
                         std::strerror(errno));
            std::printf("\n");
            return 1;
        }
        std::printf("\n");
        std::fflush(stdout);
        Sleep(0);
        if (_kbhit() > 0 && _getch() == KEY_ESC) {
            std::printf("\n");
            return 0;
        }
    }
}

int run_recording(const RunSettings& settings)
{
    std::FILE* file = open_frame_file_to_record(settings.frameFileName);
    if (!file) {
        std::printf("ERROR: Couldn't open file '%s' for storing the recorded positions!\n",
                    settings.frameFileName);
        return 1;
    }
    std::printf("Opened file '%s' for storing the recorded positions.\n", settings.frameFileName);
    int status = record(settings, file);
    if (file)
        std::fclose(file);
    return status;
}
