// servocheck motion: a frame file checked against the robot before it plays. Reads the file
// as PLAY does (its reader, its id range, its start positions for relative files) and finds
// what playback would not do as the file says: listed servos that are absent or in alarm,
// ids listed twice, positions it skips (outside 1..1023, also once a relative offset is
// added to where the servo stands), values that are no numbers, recorded read failures, and
// positions outside a servo's angle limits. A servo whose first position lies far from
// where it stands is a warning. Nothing is written to any servo.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bus_tools.h"
#include "frame_file.h"
#include "kinetron.h"
#include "registers.h"
#include "servo_health.h"

// PLAY drives at most this many servos, with one synchronized write a frame.
static const int PLAY_SERVOS_MAX = 46;
// A first position farther than this from where the servo stands is a sudden jump.
static const int FAR_START_STEPS = (POSITION_MAX + 1) / 4;
static const int RESULT_CODES = 8;

static FrameHeader header;
static FrameLine frame;

// How often one kind of trouble occurs for a servo, and where first.
struct Occurrence {
    int count;
    int first_frame; // counted from 1
    int first_value;
    char first_token[16];
};

struct ListedServo {
    bool present;
    int duplicate_of; // the entry that lists the same id first; -1 for none
    int low, high;    // angle limits; 0 and 0 (wheel mode) check nothing
    Occurrence outside, skipped, not_number, failed;
    int first_frame; // of its first position that playback sends; 0 before one
    int first_position;
};

static ListedServo listed[FRAME_IDS_MAX];
static int start_positions[FRAME_IDS_MAX];

static void note(Occurrence* occurrence, int frame_number, int value, const char* token)
{
    if (occurrence->count++ > 0)
        return;
    occurrence->first_frame = frame_number;
    occurrence->first_value = value;
    std::snprintf(occurrence->first_token, sizeof occurrence->first_token, "%s", token);
}

static bool outside_limits(const ListedServo& servo, int position)
{
    if (!servo.present || (servo.low == 0 && servo.high == 0))
        return false;
    return position < servo.low || position > servo.high;
}

// A value the recorder wrote for a read that failed ("rxT" and the like).
static bool is_recorded_failure(const char* token)
{
    for (int code = 0; code < RESULT_CODES; ++code) {
        if (std::strcmp(token, result_code_text(code)) == 0)
            return true;
    }
    return false;
}

// Reads each listed servo's table: absent, its health, its limits and where it stands. An id
// listed again is read once.
static void read_listed_servos(int baudnum, int count)
{
    for (int i = 0; i < count; ++i) {
        const int id = header.idList[i];
        ListedServo& servo = listed[i];
        servo.duplicate_of = -1;
        for (int j = 0; j < i && servo.duplicate_of < 0; ++j) {
            if (header.idList[j] == id)
                servo.duplicate_of = j;
        }
        if (servo.duplicate_of >= 0) {
            servo.present = listed[servo.duplicate_of].present;
            servo.low = listed[servo.duplicate_of].low;
            servo.high = listed[servo.duplicate_of].high;
            start_positions[i] = start_positions[servo.duplicate_of];
            continue;
        }
        ServoTable table;
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

static bool is_blank(const char* line)
{
    FrameText text;
    std::snprintf(text, sizeof text, "%s", line);
    char* token;
    return split_frame_tokens(text, &token, 1) == 0;
}

// The position token of each id-list entry in one frame line, as the reader assigns them.
static void position_tokens(const char* line, char* text, const char** tokens_out)
{
    std::snprintf(text, sizeof(FrameText), "%s", line);
    char* tokens[FRAME_TOKENS_MAX];
    const int count = split_frame_tokens(text, tokens, FRAME_TOKENS_MAX);
    const int per_column = header.hasSpeeds ? 2 : 1;
    int entry = 0;
    for (int v = 0; v + 1 < count && entry < FRAME_IDS_MAX; ++v) {
        const int column = v / per_column;
        const bool speed = header.hasSpeeds && v % 2 == 0;
        if (column < header.columnCount && header.columnKept[column] && !speed)
            tokens_out[entry++] = tokens[v + 1];
    }
    for (; entry < FRAME_IDS_MAX; ++entry)
        tokens_out[entry] = "";
}

// What playback does with entry i's value in frame number.
static void check_position(int i, int number, const char* token)
{
    ListedServo& servo = listed[i];
    const int position = frame.positions[i];
    int ignored = 0;
    if (!convert_frame_token(token, &ignored)) {
        note(is_recorded_failure(token) ? &servo.failed : &servo.not_number, number, 0, token);
        return;
    }
    if (header.relativePositions && start_positions[i] == -1)
        return; // an offset for a servo that did not answer: reported as absent
    if (position < 1 || position > POSITION_MAX) {
        note(&servo.skipped, number, position, token);
        return;
    }
    if (servo.first_frame == 0) {
        servo.first_frame = number;
        servo.first_position = position;
    }
    if (outside_limits(servo, position))
        note(&servo.outside, number, position, token);
}

// Goes through every frame line as playback reads them; false when playback would refuse
// one. A blank line followed only by blank lines ends the file; one before more frames
// stops playback.
static bool check_frames(std::FILE* file, int count)
{
    int number = 0;
    FrameText line, text;
    const char* tokens[FRAME_IDS_MAX];
    while (read_text_line(file, line)) {
        if (count > 0 && is_blank(line)) {
            bool more = false;
            FrameText rest;
            while (!more && read_text_line(file, rest))
                more = !is_blank(rest);
            if (!more)
                break;
        }
        ++number;
        read_frame_line(line, header, 1.0f, start_positions, &frame);
        if (!frame_line_fits(header, frame))
            return false;
        position_tokens(line, text, tokens);
        for (int i = 0; i < count; ++i)
            check_position(i, number, tokens[i]);
    }
    return true;
}

static void report_listed_servo(int i)
{
    const ListedServo& servo = listed[i];
    const int id = header.idList[i];
    if (servo.duplicate_of >= 0) {
        report(id,
               "listed twice in the ID line (entries %d and %d): playback sends it two goals "
               "a frame",
               servo.duplicate_of + 1, i + 1);
        return;
    }
    if (servo.skipped.count > 0)
        report(id, "%d positions playback skips, outside 1..%d (first: frame %d, %d)",
               servo.skipped.count, POSITION_MAX, servo.skipped.first_frame,
               servo.skipped.first_value);
    if (servo.not_number.count > 0)
        report(id, "%d values that are not numbers, never sent (first: frame %d, '%s')",
               servo.not_number.count, servo.not_number.first_frame, servo.not_number.first_token);
    if (servo.failed.count > 0)
        report(id, "%d recorded read failures, never sent (first: frame %d, %s)",
               servo.failed.count, servo.failed.first_frame, servo.failed.first_token);
    if (servo.outside.count > 0)
        report(id, "%d frames outside its limits %d..%d (first: frame %d, %d)", servo.outside.count,
               servo.low, servo.high, servo.outside.first_frame, servo.outside.first_value);
    if (servo.present && servo.first_frame > 0 && start_positions[i] >= 0) {
        const int distance = std::abs(servo.first_position - start_positions[i]);
        if (distance > FAR_START_STEPS)
            std::printf("servo %d: starts %d steps away from frame %d (stands at %d, frame %d "
                        "has %d): a warning\n",
                        id, distance, servo.first_frame, start_positions[i], servo.first_frame,
                        servo.first_position);
    }
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
    for (int i = 0; i < count; ++i)
        report_listed_servo(i);
    if (problems_reported() > 0)
        return 1;
    std::printf("no problem found\n");
    return 0;
}
