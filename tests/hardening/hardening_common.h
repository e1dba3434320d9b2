// What the hardening tests share: a child run with its resource use, the CPU time of a
// running child, and frame file checks.
#ifndef HARDENING_COMMON_H
#define HARDENING_COMMON_H

#include <string>
#include <vector>

namespace hardening {

// The fault mix every bus tool has to live with; each test picks its own seed. `more`
// comes last, so it can also override one of the rates.
std::string faulty_sim(const std::string& more, int seed);

// A program run with standard input from /dev/null and standard output collected, reaped
// with wait4 so that its resource use is known.
struct Measured {
    int status = -1;        // exit status, 128 + signal, or -1 when it was killed at the time-out
    std::string output;     // standard output
    long max_rss_kb = 0;    // peak resident size; on Linux never below parent_rss_kb, since
                            // the size of the forked copy before exec counts too
    long parent_rss_kb = 0; // resident size of this process when the child was forked
    double cpu_seconds = 0; // user and system time
};
Measured run_measured(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      int timeout_ms = 20000);

// User and system time a running process has used so far, in seconds; negative when it
// cannot be read (no /proc).
double cpu_seconds_of(int pid);

std::string read_file(const std::string& path);
std::vector<std::string> lines_of(const std::string& text);

// A frame line as a recording writes it: "  16, [  0]512,[rxT]rxT," with `servos` columns,
// each value a number or a three-letter failure code.
bool is_recorded_line(const std::string& line, int servos);

// Checks a recording stopped after at least 30 frames: it ends with a line feed, starts with
// the recorded type line, and every frame line is complete for `servos` servos. Returns the
// file's lines (empty after a failed check).
std::vector<std::string> checked_recording(const std::string& path, int servos);

// The reader's messages are the only lines of PLAY output that may name a bad token.
bool only_code_warnings(const std::string& output, const std::string& fileName);

} // namespace hardening

#endif
