// What the posetape end-to-end tests share: the fixed texts, frame files on disk, and
// masking of the measured times.
#ifndef POSETAPE_COMMON_H
#define POSETAPE_COMMON_H

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pty_session.h"

namespace posetape_test {

const std::string USAGE =
    "usage: posetape REC [<frameFileName> [<idStart> <idEnd> [<baudnum> [<waitToRecord> "
    "[<idStart2> <idEnd2>]]]]]\n"
    "usage: posetape PLAY [<frameFileName> [<idStart> <idEnd> [<baudnum> [<delayFactor> "
    "[<motorSpeed> [<useRecordedSpeeds>]]]]\n";
const std::string OPENED = "Succeed to open USB2Kinetron!\nPress ESC key to Quit!\n\n";
const std::string DASHES = "|" + std::string(66, '-') + "\n";

inline std::string echo(const std::string& name, int idStart = 0, int idEnd = 31, int baudnum = 35,
                        const char* factor = "1.00", int wait = 1)
{
    return "current: posetape <frameFileName='" + name + "'> <idStart=" + std::to_string(idStart) +
           "> <idStop=" + std::to_string(idEnd) + "> <baudnum=" + std::to_string(baudnum) +
           "> <factor" + factor + "> <waitToRecord=" + std::to_string(wait) + ">\n";
}

inline std::vector<std::string> posetape_args(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{harness::bin_path("posetape")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

inline std::string sim_env(const std::string& options = std::string())
{
    return "KINETRON_DEVICE=sim" + (options.empty() ? std::string() : ":" + options);
}

inline std::string write_file(const std::string& name, const std::string& text)
{
    std::string path = harness::temp_dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Finds the next measured time "[  47ms]" at or after `from`; its value goes to *ms.
inline std::size_t find_time(const std::string& text, std::size_t from, std::size_t* end, int* ms)
{
    for (std::size_t at = text.find('[', from); at != std::string::npos;
         at = text.find('[', at + 1)) {
        std::size_t p = at + 1;
        while (p < text.size() && text[p] == ' ')
            ++p;
        std::size_t digits = p + (p < text.size() && text[p] == '-');
        std::size_t q = digits;
        while (q < text.size() && std::isdigit(static_cast<unsigned char>(text[q])))
            ++q;
        if (q > digits && text.compare(q, 3, "ms]") == 0) {
            *end = q + 3;
            *ms = std::stoi(text.substr(p, q - p));
            return at;
        }
    }
    return std::string::npos;
}

// The measured times between two move packets, "[  47ms]", as "[####ms]".
inline std::string mask_times(const std::string& text)
{
    std::string masked;
    std::size_t from = 0, end = 0;
    int ms = 0;
    for (std::size_t at; (at = find_time(text, from, &end, &ms)) != std::string::npos; from = end)
        masked += text.substr(from, at - from) + "[####ms]";
    return masked + text.substr(from);
}

// Every measured time between move packets, in order.
inline std::vector<int> move_times(const std::string& text)
{
    std::vector<int> times;
    std::size_t from = 0;
    int ms = 0;
    while (find_time(text, from, &from, &ms) != std::string::npos)
        times.push_back(ms);
    return times;
}

// One value text as the recorder writes it: a number right-aligned in `width` columns
// (wider ones unpadded), or a three-letter failure code.
inline bool is_value_text(const std::string& text, std::size_t width = 3)
{
    std::size_t p = text.find_first_not_of(' ');
    if (text.size() < width || p == std::string::npos)
        return false;
    std::string v = text.substr(p);
    bool digits = v.find_first_not_of("0123456789") == std::string::npos;
    bool code = v.size() == 3 && std::isalpha(static_cast<unsigned char>(v[0])) &&
                std::isalpha(static_cast<unsigned char>(v[1])) &&
                std::isalpha(static_cast<unsigned char>(v[2]));
    return (digits && (text.size() == width || p == 0)) || (code && p == 0 && width == 3);
}

// Splits a recorded frame line "  16, [  0]512,[ 12]498," into its speed and position
// texts; false when the line is not in the recorder's format.
inline bool split_recorded_line(const std::string& line, std::vector<std::string>* speeds,
                                std::vector<std::string>* positions)
{
    std::size_t comma = line.find(", ");
    if (comma == std::string::npos || !is_value_text(line.substr(0, comma), 4) ||
        line.substr(0, comma).find_first_not_of(" 0123456789") != std::string::npos)
        return false;
    std::size_t p = comma + 2;
    speeds->clear();
    positions->clear();
    while (p < line.size()) {
        std::size_t close = line.find(']', p);
        std::size_t end = line.find(',', p);
        if (line[p] != '[' || close == std::string::npos || end == std::string::npos || end < close)
            return false;
        speeds->push_back(line.substr(p + 1, close - p - 1));
        positions->push_back(line.substr(close + 1, end - close - 1));
        if (!is_value_text(speeds->back()) || !is_value_text(positions->back()))
            return false;
        p = end + 1;
    }
    return !speeds->empty();
}

// Runs posetape with pipes, so that standard error (where the bus library explains a
// failed open) stays apart from the exact standard output.
inline harness::RunResult run_piped(const std::vector<std::string>& args,
                                    const std::vector<std::string>& env)
{
    harness::Process p;
    if (!p.start(posetape_args(args), env))
        return {-1, std::string()};
    int status = p.wait_exit(20000);
    return {status, p.stdout_text()};
}

// "1, 2, ... last\n"
inline std::string id_line(int first, int last)
{
    std::string line;
    for (int id = first; id <= last; ++id)
        line += std::to_string(id) + (id < last ? ", " : "\n");
    return line;
}

} // namespace posetape_test

#endif
