// Reading a frame file whole for playback.
#include "motion_file.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "arguments.h"
#include "bus_tools.h"
#include "frame_file.h"
#include "kinetron.h"
#include "registers.h"
#include "servo_chain.h"

namespace {

const char* fileName;
int lineNumber;

struct TypeText {
    const char* text;
    bool hasSpeeds;
    bool relative;
};

const TypeText TYPES[] = {
    {"FILETYPE: AbsoluteSpeeds; AbsolutePositions", true, false},
    {"FILETYPE: AbsolutePositions", false, false},
    {"FILETYPE: AbsoluteSpeeds; RelativePositions", true, true},
    {"FILETYPE: RelativePositions", false, true},
};

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
bool refuse(const char* format, ...)
{
    std::fprintf(stderr, "motiontape: '%s' line %d: ", fileName, lineNumber);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return false;
}

// One whole line, of any length, without its line end; false at the end of the file.
bool read_line(std::FILE* in, std::string* line)
{
    line->clear();
    int c;
    while ((c = std::getc(in)) != EOF && c != '\n')
        line->push_back(static_cast<char>(c));
    if (c == EOF && line->empty())
        return false;
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    ++lineNumber;
    return true;
}

std::vector<char*> tokens_of(std::string* line)
{
    std::vector<char*> tokens(line->size() / 2 + 1);
    int count = split_frame_tokens(&(*line)[0], tokens.data(), static_cast<int>(tokens.size()));
    tokens.resize(count);
    return tokens;
}

// The type line as a spreadsheet may wrap it: a leading quote, padding commas, a trailing
// quote.
const TypeText* file_type(std::string line)
{
    if (!line.empty() && line[0] == '"')
        line.erase(0, 1);
    while (!line.empty() && line.back() == ',')
        line.pop_back();
    if (!line.empty() && line.back() == '"')
        line.pop_back();
    for (const TypeText& type : TYPES) {
        if (same_text_ignoring_case(line.c_str(), type.text))
            return &type;
    }
    return nullptr;
}

bool read_head(std::FILE* in, MotionFile* file, const TypeText** type)
{
    std::string line;
    bool first = true;
    for (;;) {
        if (!read_line(in, &line))
            return refuse("the file ends before its type line");
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        first = false;
        if (line.empty() || line[0] != '/')
            break;
        if (is_motion_comment(line.c_str()) && !file->hasComment) {
            if (!parse_motion_comment(line.c_str(), &file->comment))
                return refuse("the motiontape comment line cannot be read");
            file->hasComment = true;
        }
    }
    *type = file_type(line);
    if (!*type)
        return refuse("'%s' is not a frame file type", line.c_str());
    if ((*type)->relative)
        return refuse("relative positions are played by posetape, not motiontape");
    if (!read_line(in, &line))
        return refuse("the file ends before its ID line");
    file->protocol = file->hasComment ? file->comment.protocol : 1;
    int highest = file->protocol == 2 ? 252 : 253;
    for (char* token : tokens_of(&line)) {
        int id = 0;
        if (read_value_token(token, &id) != 1 || !in_range(id, 0, highest))
            return refuse("'%s' is not a servo id", token);
        for (int seen : file->ids) {
            if (seen == id)
                return refuse("servo %d is listed twice", id);
        }
        file->ids.push_back(id);
    }
    if (file->ids.empty())
        return refuse("the ID line lists no servo");
    if (file->ids.size() > CHAIN_SERVOS_MAX)
        return refuse("more servos than one packet can carry");
    return true;
}

bool check_models(MotionFile* file)
{
    if (!file->hasComment)
        return true;
    const MotionComment& comment = file->comment;
    if (comment.modelCount != static_cast<int>(file->ids.size()))
        return refuse("the comment line names %d models for %d servos", comment.modelCount,
                      static_cast<int>(file->ids.size()));
    const char* table = kinetron_model_table(comment.models[0]);
    for (int k = 0; k < comment.modelCount; ++k) {
        int model = comment.models[k];
        if (kinetron_model_protocol(model) != comment.protocol)
            return refuse("model %d is no protocol %d.0 model", model, comment.protocol);
        if (std::strcmp(kinetron_model_table(model), table) != 0)
            return refuse("models %d and %d do not share one control table", comment.models[0],
                          model);
    }
    return true;
}

// Reads the frame lines; true when every one is complete.
bool read_frames(std::FILE* in, MotionFile* file, bool hasSpeeds)
{
    const int servos = static_cast<int>(file->ids.size());
    const int perServo = hasSpeeds ? 2 : 1;
    std::string line;
    int blankLine = 0; // the first of the blank lines read since the last frame
    while (read_line(in, &line)) {
        std::vector<char*> tokens = tokens_of(&line);
        if (tokens.empty()) {
            if (!blankLine)
                blankLine = lineNumber;
            continue;
        }
        if (blankLine) {
            lineNumber = blankLine;
            return refuse("a blank line between frames");
        }
        if (static_cast<int>(tokens.size()) != 1 + servos * perServo)
            return refuse("%d values where the ID line asks for %d",
                          static_cast<int>(tokens.size()) - 1, servos * perServo);
        int delay = 0;
        if (read_value_token(tokens[0], &delay) != 1 || delay < 0)
            return refuse("the delay '%s' is not a number of milliseconds", tokens[0]);
        file->delays.push_back(delay);
        file->lineNumbers.push_back(lineNumber);
        for (int v = 1; v < static_cast<int>(tokens.size()); ++v) {
            int value = 0;
            int kind = read_value_token(tokens[v], &value);
            if (kind < 0)
                return refuse("'%s' is neither a number nor a recorded failure", tokens[v]);
            if (v % perServo == 0 || !hasSpeeds)
                file->positions.push_back(kind == 1 ? value : VALUE_FAILED);
        }
    }
    if (file->delays.empty())
        return refuse("the file holds no frame");
    return true;
}

} // namespace

int read_value_token(const char* token, int* value)
{
    const char* p = token;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    if (*p >= '0' && *p <= '9') {
        long long n = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            n = n * 10 + (*p - '0');
            if (n > INT_MAX)
                return -1;
        }
        if (*p == '.')
            for (++p; *p >= '0' && *p <= '9'; ++p) {
            }
        if (*p != '\0')
            return -1;
        *value = static_cast<int>(negative ? -n : n);
        return 1;
    }
    for (int code = RESULT_SENT; code <= RESULT_RX_CORRUPT; ++code) {
        if (std::strcmp(token, result_code_text(code)) == 0)
            return 0;
    }
    return -1;
}

bool load_motion_file(const char* name, MotionFile* file)
{
    fileName = name;
    lineNumber = 0;
    *file = MotionFile();
    std::FILE* in = std::fopen(name, "rb");
    if (!in) {
        std::fprintf(stderr, "motiontape: cannot read '%s'\n", name);
        return false;
    }
    const TypeText* type = nullptr;
    bool good =
        read_head(in, file, &type) && check_models(file) && read_frames(in, file, type->hasSpeeds);
    if (good && std::ferror(in)) {
        std::fprintf(stderr, "motiontape: cannot read '%s'\n", name);
        good = false;
    }
    std::fclose(in);
    return good;
}
