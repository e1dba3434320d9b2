// servocheck motion: a frame file checked against the robot before it plays. Reads the file
// as PLAY does (its reader, its id range, its start positions for relative files) and finds
// what playback would not do as the file says: listed servos that are absent or in alarm,
// ids listed twice, positions it skips (outside 1..1023, also once a relative offset is
// added to where the servo stands), values that are no numbers, recorded read failures, and
// positions outside a servo's limits. A servo whose first position lies far from where it
// stands is a warning. A file that motiontape recorded (its comment line names the protocol,
// the rate and each column's model) is checked as motiontape plays it: on that line, against
// those models, each servo's own position range and limits; a recorded failure keeps the
// goal before it (a warning). Nothing is written to any servo.
#include <climits>
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
static const int RESULT_CODES = 8;
static const char COMMENT_MARK[] = "// motiontape";
enum { MODELS_MAX = FRAME_TOKENS_MAX };

// What a motiontape comment line says.
struct MotiontapeComment {
    bool present;
    int protocol;
    int bps;
    int models[MODELS_MAX]; // by column of the ID line
    int model_count;
};

static MotiontapeComment comment;
static LineSetting line;

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
    int duplicate_of;        // the entry that lists the same id first; -1 for none
    int low, high;           // position limits; protocol 1.0's angle limits 0 and 0 (wheel mode)
                             // check nothing
    int send_low, send_high; // what the player sends at all
    int model;
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
    if (!servo.present || (line.protocol == 1 && servo.low == 0 && servo.high == 0))
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

// The column of the ID line that id-list entry i comes from.
static int column_of(int entry)
{
    for (int column = 0, kept = 0; column < header.columnCount && column < FRAME_TOKENS_MAX;
         ++column) {
        if (header.columnKept[column] && kept++ == entry)
            return column;
    }
    return -1;
}

// Steps over the servo's whole position range: 4096 or 1024.
static int position_steps(const ServoImage& image)
{
    const kinetron_register* reg = image_register(image, "present_position");
    return reg && reg->scale < 0.1 ? 4096 : POSITION_MAX + 1;
}

// A servo that did not answer, or answered a PING only.
static void report_absent(int id, const ServoImage& image)
{
    if (image.model >= 0 && kinetron_model_protocol(image.model) == 0)
        report(id, "model %d, which the kit's model table does not know", image.model);
    else if (image.model >= 0)
        report(id, "answers, but its control table did not come (code %d)", image.code);
    else if (line.protocol == 1 && line.baudnum >= 0)
        report(id, "absent at baud number %d (code %d)", line.baudnum, image.code);
    else
        report(id, "absent at %s (code %d)", describe_lines(&line, 1), image.code);
}

// Reads one listed servo: absent, its health, its model, its limits and where it stands.
static void read_listed_servo(int i)
{
    const int id = header.idList[i];
    ListedServo& servo = listed[i];
    ServoImage image;
    servo.present = find_servo(line.protocol, id, &image);
    start_positions[i] = -1;
    // PLAY sends 1..1023 whatever the servo; motiontape each servo's own range, unknown for
    // a servo that does not answer.
    servo.send_low = comment.present ? INT_MIN : 1;
    servo.send_high = comment.present ? INT_MAX : POSITION_MAX;
    if (!servo.present) {
        report_absent(id, image);
        return;
    }
    report_servo_health(id, line, image);
    servo.model = image.model;
    servo.low = static_cast<int>(
        image_raw(image, either_name(image, "cw_angle_limit", "min_position_limit")));
    servo.high = static_cast<int>(
        image_raw(image, either_name(image, "ccw_angle_limit", "max_position_limit")));
    start_positions[i] = static_cast<int>(image_raw(image, "present_position"));
    if (comment.present) {
        servo.send_low = 0;
        servo.send_high = position_steps(image) - 1;
    }
    const int column = column_of(i);
    if (comment.present && column >= 0 && column < comment.model_count &&
        comment.models[column] != image.model)
        report(id, "the file was recorded on model %d, but this servo is model %d",
               comment.models[column], image.model);
}

// Reads each listed servo's table. An id listed again is read once.
static void read_listed_servos(int count)
{
    for (int i = 0; i < count; ++i) {
        ListedServo& servo = listed[i];
        servo.duplicate_of = -1;
        for (int j = 0; j < i && servo.duplicate_of < 0; ++j) {
            if (header.idList[j] == header.idList[i])
                servo.duplicate_of = j;
        }
        if (servo.duplicate_of < 0) {
            read_listed_servo(i);
            continue;
        }
        const int first = servo.duplicate_of;
        servo = listed[first];
        servo.duplicate_of = first;
        start_positions[i] = start_positions[first];
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
    if (position < servo.send_low || position > servo.send_high) {
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
    // PLAY skips a position it cannot send; motiontape refuses the whole file for one.
    if (servo.skipped.count > 0 && comment.present)
        report(id,
               "%d positions outside its range %d..%d: motiontape play refuses the file (first: "
               "frame %d, %d)",
               servo.skipped.count, servo.send_low, servo.send_high, servo.skipped.first_frame,
               servo.skipped.first_value);
    else if (servo.skipped.count > 0)
        report(id, "%d positions playback skips, outside %d..%d (first: frame %d, %d)",
               servo.skipped.count, servo.send_low, servo.send_high, servo.skipped.first_frame,
               servo.skipped.first_value);
    if (servo.not_number.count > 0 && comment.present)
        report(id,
               "%d values that are not numbers: motiontape play refuses the file (first: frame "
               "%d, '%s')",
               servo.not_number.count, servo.not_number.first_frame, servo.not_number.first_token);
    else if (servo.not_number.count > 0)
        report(id, "%d values that are not numbers, never sent (first: frame %d, '%s')",
               servo.not_number.count, servo.not_number.first_frame, servo.not_number.first_token);
    if (servo.failed.count > 0 && comment.present)
        advise(id,
               "%d recorded read failures (first: frame %d, %s): its goal stays as in the "
               "frame before, a warning",
               servo.failed.count, servo.failed.first_frame, servo.failed.first_token);
    else if (servo.failed.count > 0)
        report(id, "%d recorded read failures, never sent (first: frame %d, %s)",
               servo.failed.count, servo.failed.first_frame, servo.failed.first_token);
    if (servo.outside.count > 0)
        report(id, "%d frames outside its limits %d..%d%s (first: frame %d, %d)",
               servo.outside.count, servo.low, servo.high,
               comment.present ? ": motiontape play refuses the file" : "",
               servo.outside.first_frame, servo.outside.first_value);
    // motiontape starts with a gentle move to the first frame; PLAY jumps there. Far: more
    // than a quarter of the servo's range.
    if (!comment.present && servo.present && servo.first_frame > 0 && start_positions[i] >= 0) {
        const long long distance =
            std::llabs(static_cast<long long>(servo.first_position) - start_positions[i]);
        if (distance > (POSITION_MAX + 1) / 4)
            advise(id,
                   "starts %lld steps away from frame %d (stands at %d, frame %d has %d): a "
                   "warning",
                   distance, servo.first_frame, start_positions[i], servo.first_frame,
                   servo.first_position);
    }
}

// The first line that begins with "// motiontape", among the lines before the type line:
// "// motiontape protocol 2 bps 1000000 models 1060 1060 1020". False for a comment line
// that says none of it in that form.
static bool read_comment(std::FILE* file)
{
    comment.present = false;
    FrameText text;
    bool first = true;
    while (read_text_line(file, text)) {
        const char* at = text;
        if (first && std::strncmp(at, "\xEF\xBB\xBF", 3) == 0)
            at += 3; // a byte order mark
        first = false;
        if (at[0] != '/')
            return true;
        if (std::strncmp(at, COMMENT_MARK, sizeof COMMENT_MARK - 1) != 0)
            continue;
        at += sizeof COMMENT_MARK - 1;
        int used = 0;
        if (std::sscanf(at, " protocol %d bps %d models%n", &comment.protocol, &comment.bps,
                        &used) != 2 ||
            used == 0 || (comment.protocol != 1 && comment.protocol != 2) || comment.bps <= 0)
            return false;
        at += used;
        comment.model_count = 0;
        int model = 0;
        while (comment.model_count < MODELS_MAX && std::sscanf(at, "%d%n", &model, &used) == 1) {
            comment.models[comment.model_count++] = model;
            at += used;
        }
        comment.present = true;
        return true;
    }
    return true;
}

// The comment line's protocol and rate where the command line gave none.
static void take_line_from_comment(unsigned given)
{
    if (!comment.present)
        return;
    if (!(given & GIVEN_PROTOCOL))
        line.protocol = comment.protocol;
    if (!(given & GIVEN_BPS)) {
        line.bps = comment.bps;
        line.baudnum = line.protocol == 1 ? baudnum_of(line.bps) : -1;
    }
}

int check_motion(const char* fileName, int idStart, int idEnd, LineSetting given_line,
                 unsigned given)
{
    line = given_line;
    std::FILE* file = open_frame_file(fileName);
    if (!file) {
        report_line("motion: cannot open '%s'", fileName);
        return 1;
    }
    if (!read_comment(file)) {
        std::fclose(file);
        report_line("motion: its motiontape comment line does not read as "
                    "'// motiontape protocol P bps N models M ...'");
        return 1;
    }
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        report_line("motion: cannot read '%s' from its start again", fileName);
        return 1;
    }
    take_line_from_comment(given);
    if (read_frame_header(file, idStart, idEnd, fileName, &header) != FRAME_HEADER_OK) {
        std::fclose(file);
        return 1;
    }
    if (comment.present && header.relativePositions) {
        std::fclose(file);
        report_line("motion: motiontape plays absolute files only (posetape PLAY plays a "
                    "relative one)");
        return 1;
    }
    if (!comment.present && header.idListSize > PLAY_SERVOS_MAX) {
        std::fclose(file);
        report_line("motion: %d servos listed; playback drives at most %d", header.idListSize,
                    PLAY_SERVOS_MAX);
        return 1;
    }
    if (comment.present && comment.model_count != header.columnCount)
        report_line("motion: the comment line names %d models for %d columns", comment.model_count,
                    header.columnCount);
    if (!set_line(line)) {
        std::fclose(file);
        return 1;
    }
    const int count = header.idListSize < FRAME_IDS_MAX ? header.idListSize : FRAME_IDS_MAX;
    read_listed_servos(count);
    advise_return_delays();
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
