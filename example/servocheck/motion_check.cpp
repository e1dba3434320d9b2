// servocheck motion: a frame file checked against the robot before it plays. Reads the file
// as PLAY does (its reader, its id range, its start positions for relative files) and finds
// the listed servos that are absent or in alarm, and the frames whose positions, as PLAY
// would send them, lie outside a servo's angle limits. Nothing is written to any servo.
#include <cstdio>

#include "frame_file.h"
#include "kinetron.h"
#include "registers.h"
#include "servo_health.h"

// PLAY drives at most this many servos, with one synchronized write a frame.
static const int PLAY_SERVOS_MAX = 46;

static FrameHeader header;
static FrameLine frame;

struct ListedServo {
    bool present;
    int low, high;   // angle limits; 0 and 0 (wheel mode) check nothing
    int outside;     // frames with a position outside them
    int first_frame; // the first of those, counted from 1
    int first_position;
};

static ListedServo listed[FRAME_IDS_MAX];
static int start_positions[FRAME_IDS_MAX];

static bool outside_limits(const ListedServo& servo, int position)
{
    if (!servo.present || (servo.low == 0 && servo.high == 0))
        return false;
    return position < servo.low || position > servo.high;
}

// Reads each listed servo's table: absent, its health, its limits and where it stands.
static void read_listed_servos(int baudnum, int count)
{
    for (int i = 0; i < count; ++i) {
        const int id = header.idList[i];
        ServoTable table;
        ListedServo& servo = listed[i];
        servo.present = read_servo_table(id, &table);
        start_positions[i] = -1;
        if (!servo.present) {
            report(id, "absent at baud number %d (code %d)", baudnum, table.code);
            continue;
        }
        report_servo_health(id, baudnum, table);
        servo.low = table_word(table, ADDR_CW_LIMIT);
        servo.high = table_word(table, ADDR_CCW_LIMIT);
        start_positions[i] = table_word(table, ADDR_PRESENT_POSITION);
    }
}

// Goes through every frame line; false when playback would refuse one.
static bool check_frames(std::FILE* file, int count)
{
    int number = 0;
    while (next_frame_line(file, header, 1.0f, start_positions, &frame)) {
        ++number;
        if (!frame_line_fits(header, frame))
            return false;
        for (int i = 0; i < count; ++i) {
            const int position = frame.positions[i];
            // PLAY sends only these; a failed read or a relative offset gone out of range
            // stays where it is.
            if (position < 1 || position > POSITION_MAX || !outside_limits(listed[i], position))
                continue;
            if (listed[i].outside++ == 0) {
                listed[i].first_frame = number;
                listed[i].first_position = position;
            }
        }
    }
    return true;
}

int check_motion(const char* fileName, int idStart, int idEnd, int baudnum)
{
    std::FILE* file = open_frame_file(fileName);
    if (!file) {
        report_line("motion: cannot open '%s'", fileName);
        return 1;
    }
    if (read_frame_header(file, idStart, idEnd, fileName, &header) != FRAME_HEADER_OK) {
        std::fclose(file);
        return 1;
    }
    if (header.idListSize > PLAY_SERVOS_MAX) {
        std::fclose(file);
        report_line("motion: %d servos listed; playback drives at most %d", header.idListSize,
                    PLAY_SERVOS_MAX);
        return 1;
    }
    const int count = header.idListSize;
    read_listed_servos(baudnum, count);
    const bool playable = check_frames(file, count);
    std::fclose(file);
    if (!playable) {
        report_line("motion: playback refuses this frame line and stops there");
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const ListedServo& servo = listed[i];
        if (servo.outside > 0)
            report(header.idList[i], "%d frames outside its limits %d..%d (first: frame %d, %d)",
                   servo.outside, servo.low, servo.high, servo.first_frame, servo.first_position);
    }
    if (problems_reported() > 0)
        return 1;
    std::printf("no problem found\n");
    return 0;
}
