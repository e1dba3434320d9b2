// The comment line of a motiontape frame file.
#include "comment_line.h"

#include <cstdlib>
#include <cstring>

#include "kinetron.h"

namespace {

const char MARK[] = "// motiontape";
const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
// Lines before the type line are read up to this length; the comment line of 256 models
// fits with room to spare.
enum { HEAD_LINE_MAX = 4096 };

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next word of *text (NUL-terminated in place); null at the end.
char* next_word(char** text)
{
    char* p = *text;
    while (*p && is_space(*p))
        ++p;
    if (!*p)
        return nullptr;
    char* word = p;
    while (*p && !is_space(*p))
        ++p;
    if (*p)
        *p++ = '\0';
    *text = p;
    return word;
}

// A whole decimal number from 1 to max; false otherwise.
bool positive_number(const char* word, int max, int* value)
{
    if (!word || !*word)
        return false;
    long long n = 0;
    for (const char* p = word; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        n = n * 10 + (*p - '0');
        if (n > max)
            return false;
    }
    if (n < 1)
        return false;
    *value = static_cast<int>(n);
    return true;
}

bool word_is(const char* word, const char* expected)
{
    return word && std::strcmp(word, expected) == 0;
}

// Reads one line of up to HEAD_LINE_MAX - 1 characters; the rest of a longer line is
// dropped. False at the end of the file.
bool read_head_line(std::FILE* file, char* line)
{
    if (!std::fgets(line, HEAD_LINE_MAX, file))
        return false;
    size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] != '\n') {
        for (int c = std::getc(file); c != EOF && c != '\n'; c = std::getc(file)) {
        }
    }
    return true;
}

} // namespace

bool is_motion_comment(const char* line)
{
    size_t n = sizeof MARK - 1;
    return std::strncmp(line, MARK, n) == 0 && (line[n] == '\0' || is_space(line[n]));
}

bool parse_motion_comment(const char* line, MotionComment* comment)
{
    static char text[HEAD_LINE_MAX];
    std::memset(comment, 0, sizeof *comment);
    if (!is_motion_comment(line))
        return false;
    std::snprintf(text, sizeof text, "%s", line + sizeof MARK - 1);
    char* rest = text;
    if (!word_is(next_word(&rest), "protocol"))
        return false;
    const char* protocol = next_word(&rest);
    if (!word_is(protocol, "1") && !word_is(protocol, "2"))
        return false;
    comment->protocol = protocol[0] - '0';
    if (!word_is(next_word(&rest), "bps") ||
        !positive_number(next_word(&rest), 100000000, &comment->bps))
        return false;
    if (!word_is(next_word(&rest), "models"))
        return false;
    for (const char* word = next_word(&rest); word; word = next_word(&rest)) {
        if (comment->modelCount == MOTION_COMMENT_MODELS_MAX ||
            !positive_number(word, 65535, &comment->models[comment->modelCount]))
            return false;
        ++comment->modelCount;
    }
    return comment->modelCount > 0;
}

void write_motion_comment(std::FILE* file, const MotionComment& comment)
{
    std::fprintf(file, "%s protocol %d bps %d models", MARK, comment.protocol, comment.bps);
    for (int i = 0; i < comment.modelCount; ++i)
        std::fprintf(file, " %d", comment.models[i]);
    std::fputc('\n', file);
}

int find_motion_comment(std::FILE* file, MotionComment* comment, int* lineNumber)
{
    static char line[HEAD_LINE_MAX];
    std::fpos_t start;
    if (std::fgetpos(file, &start) != 0)
        return 0; // a pipe: what is read cannot be read again
    int found = 0;
    for (int number = 1; read_head_line(file, line); ++number) {
        const char* text = line;
        if (number == 1 && std::strncmp(text, BYTE_ORDER_MARK, 3) == 0)
            text += 3;
        if (text[0] != '/')
            break;
        if (is_motion_comment(text)) {
            found = parse_motion_comment(text, comment) ? 1 : -1;
            *lineNumber = number;
            break;
        }
    }
    std::rewind(file);
    return found;
}

double model_degrees_per_step(int model)
{
    const kinetron_register* goal = kinetron_model_register(model, "goal_position");
    if (!goal || std::strcmp(goal->unit, "deg") != 0)
        return 0.0;
    return goal->scale;
}
