// What the posetape end-to-end tests share: the fixed texts, frame files on disk, and
// masking of the measured times.
#ifndef POSETAPE_COMMON_H
#define POSETAPE_COMMON_H

#include <fstream>
#include <regex>
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

// The measured times between two move packets, "[  47ms]", as "[####ms]".
inline std::string mask_times(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"(\[ *-?[0-9]+ms\])"), "[####ms]");
}

// Every measured time between move packets, in order.
inline std::vector<int> move_times(const std::string& text)
{
    std::vector<int> times;
    std::regex pattern(R"(\[ *(-?[0-9]+)ms\])");
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
        times.push_back(std::stoi((*it)[1]));
    return times;
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
