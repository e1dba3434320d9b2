// Helpers the register-tool tests share: run a tool to its end and compose the lines
// every run of it starts with.
#ifndef REGTOOLS_COMMON_H
#define REGTOOLS_COMMON_H

#include <string>
#include <vector>

#include "pty_session.h"

namespace regtools {

// Pieces of the simulator's decoded packet trace, one instruction packet a line:
// "-> 55555 bps  WRITE id 2  address 32  values 2C 01 (word 300)  [FF FF ...]".
inline const char* const TRACE_PACKET = "-> ";
inline const char* const TRACE_AT_35 = "-> 55555 bps  ";
inline const char* const TRACE_AT_1 = "-> 1000000 bps  ";
inline const char* const TRACE_BROADCAST_TORQUE_OFF =
    "WRITE id 254 (broadcast)  address 24  values 00  [";

// Runs bin/<tool> with args under a terminal against the given device.
inline harness::RunResult run_tool(const std::string& tool, const std::vector<std::string>& args,
                                   const std::string& device = "sim")
{
    std::vector<std::string> argv{harness::bin_path(tool)};
    argv.insert(argv.end(), args.begin(), args.end());
    return harness::run(argv, {"KINETRON_DEVICE=" + device});
}

inline std::string repeat(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// Lines that contain `needle` in a trace.
inline int count_lines_with(const std::string& trace, const std::string& needle)
{
    int count = 0;
    std::size_t start = 0;
    while (start < trace.size()) {
        std::size_t end = trace.find('\n', start);
        if (end == std::string::npos)
            end = trace.size();
        if (trace.substr(start, end - start).find(needle) != std::string::npos)
            ++count;
        start = end + 1;
    }
    return count;
}

// The "Now: " line of a read-only regbyte run. servosim answers over a pseudo-terminal,
// where a busy machine can make every try of a read miss its deadline now and then, so a
// reading that shows failure texts is taken again, up to three runs.
inline std::string settled_reading(const harness::Servosim& sim, const std::string& id,
                                   const std::string& baudnum, const std::string& addr)
{
    std::string line;
    for (int run = 0; run < 3; ++run) {
        std::string out = run_tool("regbyte", {id, baudnum, addr}, sim.device()).output;
        std::size_t at = out.find("Now: ");
        line = at == std::string::npos ? out : out.substr(at);
        if (line.find("rx") == std::string::npos && line.find("tx") == std::string::npos)
            break;
    }
    return line;
}

inline std::string now_line(const std::string& reading, int count)
{
    return "Now: " + repeat(reading, count) + "\n";
}

} // namespace regtools

#endif
