#include "hardening_common.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "child.h"

namespace hardening {

std::string faulty_sim(const std::string& more, int seed)
{
    // Options given later override earlier ones.
    return "KINETRON_DEVICE=sim:drop=0.3,corrupt=0.1,partial=0.1,noise=0.2,seed=" +
           std::to_string(seed) + (more.empty() ? std::string() : "," + more);
}

namespace {

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (std::string& t : texts)
        result.push_back(&t[0]);
    result.push_back(nullptr);
    return result;
}

int decode(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

long resident_kb()
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

} // namespace

Measured run_measured(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      int timeout_ms)
{
    Measured m;
    // Everything the child needs is made before fork: after it, only exec-safe calls.
    std::vector<std::string> argTexts(argv), envTexts = harness::merged_environment(env);
    std::vector<char*> args = pointers(argTexts), envs = pointers(envTexts);
    int out[2];
    if (pipe(out) != 0)
        return m;
    m.parent_rss_kb = resident_kb();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execve(args[0], args.data(), envs.data());
        _exit(127);
    }
    close(out[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool killed = false;
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        struct pollfd p = {out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        m.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    m.status = killed ? -1 : decode(status);
    m.max_rss_kb = usage.ru_maxrss;
    m.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                    usage.ru_stime.tv_usec / 1e6;
    return m;
}

double cpu_seconds_of(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text))
        return -1;
    // The command name may hold spaces; the fields after it are plain.
    std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15) {
            stime = std::strtoull(field.c_str(), nullptr, 10);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

namespace {

bool is_code(const std::string& text)
{
    static const char* const CODES[] = {"txF", "rxF", "txE", "rxW", "rxT", "rxC", "UNK"};
    for (const char* code : CODES)
        if (text == code)
            return true;
    return false;
}

// A value text: a number right-aligned in three columns (wider ones unpadded), or a code.
bool is_value_text(const std::string& text)
{
    if (is_code(text))
        return true;
    std::size_t digits = text.find_first_not_of(' ');
    if (digits == std::string::npos ||
        text.find_first_not_of("0123456789", digits) != std::string::npos)
        return false;
    return text.size() == 3 || (digits == 0 && text.size() > 3);
}

} // namespace

std::vector<std::string> checked_recording(const std::string& path, int servos)
{
    std::string text = read_file(path);
    EXPECT_FALSE(text.empty());
    if (text.empty())
        return {};
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> lines = lines_of(text);
    EXPECT_GE(lines.size(), 32u);
    if (lines.size() < 2)
        return {};
    EXPECT_EQ(lines[0], "FILETYPE: AbsoluteSpeeds; AbsolutePositions");
    for (std::size_t i = 2; i < lines.size(); ++i)
        EXPECT_TRUE(is_recorded_line(lines[i], servos)) << i << ": " << lines[i];
    return lines;
}

bool is_recorded_line(const std::string& line, int servos)
{
    std::size_t comma = line.find(", ");
    if (comma == std::string::npos || comma < 4)
        return false;
    std::string delay = line.substr(0, comma);
    std::size_t digit = delay.find_first_not_of(' ');
    if (digit == std::string::npos ||
        delay.find_first_not_of("0123456789", digit) != std::string::npos)
        return false;
    std::size_t p = comma + 2;
    int columns = 0;
    while (p < line.size()) {
        std::size_t close = line.find(']', p);
        std::size_t end = line.find(',', p);
        if (line[p] != '[' || close == std::string::npos || end == std::string::npos || end < close)
            return false;
        if (!is_value_text(line.substr(p + 1, close - p - 1)) ||
            !is_value_text(line.substr(close + 1, end - close - 1)))
            return false;
        ++columns;
        p = end + 1;
    }
    return columns == servos;
}

bool only_code_warnings(const std::string& output, const std::string& fileName)
{
    const std::string head = "Warning: Found a bad Motor value of '";
    const std::string tail = "' in file '" + fileName + "'!";
    for (const std::string& line : lines_of(output)) {
        if (line.find("Warning") == std::string::npos && line.find("ERROR") == std::string::npos)
            continue;
        if (line.compare(0, head.size(), head) != 0 ||
            line.size() != head.size() + 3 + tail.size() ||
            line.compare(head.size() + 3, std::string::npos, tail) != 0 ||
            !is_code(line.substr(head.size(), 3)))
            return false;
    }
    return true;
}

} // namespace hardening
