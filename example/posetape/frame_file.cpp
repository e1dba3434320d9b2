// Reading and writing frame files.
#include "frame_file.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "arguments.h"
#include "registers.h"

namespace {

struct FileType {
    const char* text;
    bool hasSpeeds;
    bool relativePositions;
};

const FileType FILE_TYPES[] = {
    {"FILETYPE: AbsoluteSpeeds; AbsolutePositions", true, false},
    {"FILETYPE: AbsolutePositions", false, false},
    {"FILETYPE: AbsoluteSpeeds; RelativePositions", true, true},
    {"FILETYPE: RelativePositions", false, true},
};

const char RECORDED_TYPE_LINE[] = "FILETYPE: AbsoluteSpeeds; AbsolutePositions\n";

// Large enough for the longest recorded line (256 servos of two seven-character texts).
const size_t WRITE_BUFFER_SIZE = 1 << 16;

bool is_separator(char c)
{
    return c == ' ' || c == ',' || c == '[' || c == ']' || c == '"' || c == '\t' || c == '\n';
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void drop_last_if(char* text, char c)
{
    size_t length = std::strlen(text);
    if (length > 0 && text[length - 1] == c)
        text[length - 1] = '\0';
}

// Strips what a spreadsheet or another platform may have wrapped around the type text:
// a leading quote, then the line end, the commas that pad the row to the widest row of
// the sheet, and a trailing quote.
void normalise_type_line(char* line)
{
    if (line[0] == '"')
        std::memmove(line, line + 1, std::strlen(line));
    drop_last_if(line, '\n');
    drop_last_if(line, '\r');
    drop_last_if(line, '\n');
    for (size_t length = std::strlen(line); length > 0 && line[length - 1] == ',';)
        line[--length] = '\0';
    drop_last_if(line, '"');
}

int clamp_to_int(long long value)
{
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

int scale_speed(int value, float speedScale)
{
    float product = static_cast<float>(value) * speedScale;
    int scaled;
    if (!(product < 2147483648.0f))
        scaled = INT_MAX; // also catches a product that is not a number
    else if (!(product > -2147483648.0f))
        scaled = INT_MIN;
    else
        scaled = static_cast<int>(product);
    if (scaled >= 0 && scaled < FRAME_SPEED_FLOOR)
        scaled = FRAME_SPEED_FLOOR;
    return scaled;
}

} // namespace

bool convert_frame_token(const char* token, int* value)
{
    const char* p = token;
    while (is_blank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    if (*p < '0' || *p > '9')
        return false;
    long long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= static_cast<long long>(INT_MAX) + 1)
            magnitude = magnitude * 10 + (*p - '0');
    }
    // A spreadsheet writes 512 as "512.0" or "512."; the fraction is cut off. Anything else
    // after the digits is a typo ("5OO", "2x", "5e2") that must not pass for its first digits.
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9';)
            ++p;
    }
    if (*p != '\0')
        return false;
    *value = clamp_to_int(negative ? -magnitude : magnitude);
    return true;
}

int split_frame_tokens(char* text, char** tokens, int maxTokens)
{
    int count = 0;
    char* p = text;
    while (*p) {
        while (*p && is_separator(*p))
            *p++ = '\0';
        if (!*p)
            break;
        if (count < maxTokens)
            tokens[count++] = p;
        while (*p && !is_separator(*p))
            ++p;
    }
    return count;
}

std::FILE* open_frame_file(const char* fileName)
{
    std::FILE* file = std::fopen(fileName, "r");
    if (!file)
        return nullptr;
    // Reading the first character tells whether the stream can be read; it is put back.
    int c = std::getc(file);
    if (c == EOF && std::ferror(file)) {
        std::fclose(file);
        return nullptr;
    }
    if (c != EOF)
        std::ungetc(c, file);
    return file;
}

int stored_ids(const FrameHeader& header)
{
    return header.idListSize < FRAME_IDS_MAX ? header.idListSize : FRAME_IDS_MAX;
}

namespace {

// Reads at most `limit` characters of one line into `line`; returns how many it stored.
int read_line_part(std::FILE* file, char* line, int limit)
{
    int length = 0;
    while (length < limit) {
        int c = std::getc(file);
        if (c == EOF)
            break;
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n') {
                line[length++] = '\n';
                break;
            }
            if (next != EOF)
                std::ungetc(next, file);
        }
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    line[length] = '\0';
    return length;
}

const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

// Reads the file's first line. A spreadsheet may begin the file with the UTF-8 byte order
// mark: it belongs to no line and does not count toward the line's length.
bool read_first_line(std::FILE* file, FrameText line)
{
    int length = read_line_part(file, line, FRAME_LINE_CHARS_MAX);
    const int markLength = static_cast<int>(sizeof BYTE_ORDER_MARK) - 1;
    if (length >= markLength && std::memcmp(line, BYTE_ORDER_MARK, markLength) == 0) {
        length -= markLength;
        std::memmove(line, line + markLength, static_cast<size_t>(length) + 1);
        if (length > 0 && line[length - 1] != '\n') // cut at the limit, or the file ended
            length += read_line_part(file, line + length, markLength);
    }
    return length > 0;
}

// Reads the type line: the first line that does not begin with '/'. False for an empty file.
bool read_type_line(std::FILE* file, FrameText line)
{
    if (!read_first_line(file, line))
        return false;
    while (line[0] == '/') {
        FrameText next;
        if (!read_text_line(file, next))
            break; // the last comment line stands as the type line
        std::memcpy(line, next, sizeof(FrameText));
    }
    return true;
}

} // namespace

bool read_text_line(std::FILE* file, FrameText line)
{
    return read_line_part(file, line, FRAME_LINE_CHARS_MAX) > 0;
}

FrameHeaderResult read_frame_header(std::FILE* file, int idStart, int idEnd, const char* fileName,
                                    FrameHeader* header)
{
    std::memset(header, 0, sizeof *header);
    std::snprintf(header->fileName, sizeof header->fileName, "%s", fileName);

    FrameText line;
    if (!read_type_line(file, line)) {
        std::printf("ERROR: Motors ID's weren't found in frame file '%s'!\n", fileName);
        return FRAME_HEADER_NO_IDS;
    }
    normalise_type_line(line);
    const FileType* type = nullptr;
    for (const FileType& candidate : FILE_TYPES) {
        if (same_text_ignoring_case(line, candidate.text)) {
            type = &candidate;
            break;
        }
    }
    if (!type) {
        std::printf("Got unknown file type '%s' on 1st line of '%s'.\n", line, fileName);
        return FRAME_HEADER_UNKNOWN_TYPE;
    }
    std::printf("%s\n", line);
    header->hasSpeeds = type->hasSpeeds;
    header->relativePositions = type->relativePositions;

    // Without an ID line the type line is read as one, and fails at its first word.
    FrameText idLine;
    if (!read_text_line(file, idLine))
        std::memcpy(idLine, line, sizeof idLine);

    char* tokens[FRAME_TOKENS_MAX];
    int count = split_frame_tokens(idLine, tokens, FRAME_TOKENS_MAX);
    for (int i = 0; i < count; ++i) {
        int id = 0;
        if (!convert_frame_token(tokens[i], &id) || !in_range(id, 0, ID_BROADCAST)) {
            std::printf("ERROR: Found a bad Motor ID of '%s' in file '%s'!\n", tokens[i], fileName);
            return FRAME_HEADER_BAD_ID;
        }
        bool kept = id >= idStart && id <= idEnd;
        header->columnKept[i] = kept;
        if (kept) {
            if (header->idListSize < FRAME_IDS_MAX)
                header->idList[header->idListSize] = id;
            ++header->idListSize;
        }
    }
    header->columnCount = count;
    return FRAME_HEADER_OK;
}

namespace {

// Parses one frame line; with `warn`, prints a warning for each bad token.
void parse_frame_line(const char* line, const FrameHeader& header, float speedScale,
                      const int* startPositions, FrameLine* frame, bool warn)
{
    frame->delay = FRAME_BLANK_DELAY;
    frame->posListSize = 0;

    FrameText text;
    std::snprintf(text, sizeof text, "%s", line);
    char* tokens[FRAME_TOKENS_MAX];
    int count = split_frame_tokens(text, tokens, FRAME_TOKENS_MAX);
    if (count == 0)
        return;

    int delay = 0;
    if (convert_frame_token(tokens[0], &delay) && delay >= 0) {
        frame->delay = delay;
    } else {
        if (warn)
            std::printf("Warning: Found a bad movement delay value of '%s' in file '%s'!\n",
                        tokens[0], header.fileName);
        frame->delay = FRAME_BAD_DELAY;
    }

    int valuesPerColumn = header.hasSpeeds ? 2 : 1;
    int storedEntries = stored_ids(header);
    int entry = 0; // id-list entry of the current column, when it is kept
    for (int v = 0; v + 1 < count; ++v) {
        const char* token = tokens[v + 1];
        int value = 0;
        bool converted = convert_frame_token(token, &value);
        if (!converted) {
            if (warn)
                std::printf("Warning: Found a bad Motor value of '%s' in file '%s'!\n", token,
                            header.fileName);
            value = FRAME_BAD_VALUE;
        }
        int column = v / valuesPerColumn;
        bool isSpeed = header.hasSpeeds && v % 2 == 0;

        if (column >= header.columnCount) {
            // Past the last column: belongs to no servo, but a position still counts.
            if (!isSpeed) {
                if (frame->posListSize < FRAME_TOKENS_MAX)
                    frame->positions[frame->posListSize] = value;
                ++frame->posListSize;
            }
            continue;
        }
        if (!header.columnKept[column])
            continue;

        if (isSpeed) {
            frame->speeds[entry] = converted ? scale_speed(value, speedScale) : FRAME_BAD_VALUE;
            continue;
        }
        int position = value;
        if (header.relativePositions && converted) {
            // A servo whose start position is unknown has no base to add the offset to.
            if (startPositions && entry < storedEntries && startPositions[entry] != -1)
                position = clamp_to_int(static_cast<long long>(startPositions[entry]) + value);
            else
                position = FRAME_BAD_VALUE;
        }
        frame->positions[entry] = position;
        ++frame->posListSize;
        ++entry;
    }
}

bool is_blank_line(const char* line)
{
    FrameText text;
    std::snprintf(text, sizeof text, "%s", line);
    char* token;
    return split_frame_tokens(text, &token, 1) == 0;
}

// Reads on past a blank line; true when only blank lines were left.
bool only_blank_lines_left(std::FILE* file)
{
    FrameText line;
    while (read_text_line(file, line)) {
        if (!is_blank_line(line))
            return false;
    }
    return true;
}

bool next_line(std::FILE* file, const FrameHeader& header, float speedScale,
               const int* startPositions, FrameLine* frame, bool warn)
{
    FrameText line;
    if (!read_text_line(file, line))
        return false;
    // A blank line before more frames is handed out as it stands: it holds no position, so
    // it does not fit the id list and the file is played no further; the lines read past it
    // are not needed.
    if (header.idListSize > 0 && is_blank_line(line) && only_blank_lines_left(file))
        return false;
    parse_frame_line(line, header, speedScale, startPositions, frame, warn);
    return true;
}

} // namespace

void read_frame_line(const char* line, const FrameHeader& header, float speedScale,
                     const int* startPositions, FrameLine* frame)
{
    parse_frame_line(line, header, speedScale, startPositions, frame, true);
}

bool next_frame_line(std::FILE* file, const FrameHeader& header, float speedScale,
                     const int* startPositions, FrameLine* frame)
{
    return next_line(file, header, speedScale, startPositions, frame, true);
}

bool rewind_to_first_frame(std::FILE* file)
{
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return false;
    FrameText line;
    read_type_line(file, line);
    read_text_line(file, line); // the ID line
    return true;
}

bool frame_lines_fit(std::FILE* file, const FrameHeader& header)
{
    static FrameLine frame;
    while (next_line(file, header, 1.0f, nullptr, &frame, false)) {
        if (!frame_line_fits(header, frame))
            return false;
    }
    return true;
}

bool frame_line_fits(const FrameHeader& header, const FrameLine& frame)
{
    if (frame.posListSize == header.idListSize)
        return true;
    std::printf("ERROR: idListSize %d != posListSize %d\n", header.idListSize, frame.posListSize);
    return false;
}

std::FILE* open_frame_file_to_record(const char* fileName)
{
    // Opening to append tells whether the file can be written, and empties nothing.
    return std::fopen(fileName, "a");
}

namespace {

// False for a file with nothing to empty (an empty file), and for a FIFO or a device: opened
// a second time, it would wait for a reader again, or lose the one it had.
bool needs_emptying(const char* fileName)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error))
        return static_cast<bool>(error);
    return std::filesystem::file_size(fileName, error) != 0 || error;
}

} // namespace

std::FILE* start_recorded_file(std::FILE* file, const char* fileName)
{
    if (needs_emptying(fileName))
        file = std::freopen(fileName, "w", file);
    if (file)
        std::setvbuf(file, nullptr, _IOFBF, WRITE_BUFFER_SIZE);
    return file;
}

void write_frame_header(std::FILE* file, const int* ids, int count)
{
    std::fputs(RECORDED_TYPE_LINE, file);
    std::fputs("      ", file);
    for (int i = 0; i < count; ++i)
        std::fprintf(file, "%3d,", ids[i]);
    std::fputc('\n', file);
    std::fflush(file);
}

void write_frame_line(std::FILE* file, int delay, const char* const* speedTexts,
                      const char* const* positionTexts, int count)
{
    std::fprintf(file, "%4d, ", delay);
    for (int i = 0; i < count; ++i)
        std::fprintf(file, "[%s]%s,", speedTexts[i], positionTexts[i]);
    std::fputc('\n', file);
    std::fflush(file);
}

int recorded_speed(int presentSpeed) { return presentSpeed & 0x3FF; }

unsigned long frame_pause_ms(int delay, float delayFactor)
{
    // In double, 10 x 0.7f comes out as 6.99999... and is cut to 6 ms.
    float product = static_cast<float>(delay) * delayFactor;
    if (!(product > 0.0f))
        return 0;
    if (product >= 2147483648.0f)
        return INT_MAX;
    return static_cast<unsigned long>(product);
}
