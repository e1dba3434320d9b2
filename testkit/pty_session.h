// Runs a built program under a pseudo-terminal the way a person at a terminal would:
// start it, wait for text, type keys, read what it printed, collect its exit status.
#ifndef PTY_SESSION_H
#define PTY_SESSION_H

#include <sys/types.h>
#include <termios.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace harness {

// Path of a program built into the build tree's bin/ directory.
std::string bin_path(const std::string& program);
// Path of a file in the source tree, e.g. source_path("samples/walk.csv").
std::string source_path(const std::string& relative);
// A fresh, empty directory under the system's temporary directory for a test's files;
// removed, with what it holds, when the process ends.
std::string temp_dir();

// Arrow keys and the like as a terminal sends them.
extern const char* const KEY_UP;     // ESC [ A
extern const char* const KEY_DOWN;   // ESC [ B
extern const char* const KEY_UP_SS3; // ESC O A
extern const char* const KEY_DOWN_SS3;
extern const char* const KEY_ESC; // a lone ESC

class PtySession {
public:
    PtySession() = default;
    ~PtySession(); // ends a child that still runs (SIGKILL) and reaps it
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    // Starts argv[0] (a path) with argv under a new pseudo-terminal as its controlling
    // terminal (standard input, output and error all on it). `env` adds or replaces
    // "NAME=value" entries of the inherited environment; "NAME" alone removes NAME.
    // The terminal starts in the usual cooked mode with echo, 200 columns wide.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

    // Waits until `text` appears in the output at or after `from` (an offset into
    // output()); true when it did within the time-out.
    bool wait_for(const std::string& text, int timeout_ms = 10000, std::size_t from = 0);
    // Waits until `text` has appeared `count` times after `from`.
    bool wait_for_count(const std::string& text, int count, int timeout_ms = 10000,
                        std::size_t from = 0);

    // Everything the program printed so far, with the terminal's "\r\n" folded to "\n".
    std::string output();
    // Current length of output(): a mark for output_since().
    std::size_t mark();
    std::string output_since(std::size_t mark);

    // Types bytes at the terminal.
    void send(const std::string& keys);
    // Sends a signal to the program.
    void signal(int signal_number);

    // Waits for the program to end and for its last output; returns its exit status,
    // 128 + the signal number when a signal ended it, or -1 at the time-out.
    int wait_exit(int timeout_ms = 10000);
    bool running();
    pid_t pid() const { return pid_; }

    // The terminal's attributes now (to check that a program gave the terminal back
    // as it found it) and as they were when the program started.
    termios attributes();
    const termios& initial_attributes() const { return initial_; }
    // True when the line discipline flags a program may change are as at the start.
    bool terminal_restored();

private:
    void reader();
    int master_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
    bool exited_ = false;
    termios initial_{};
    std::thread reader_thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string raw_; // bytes as read from the terminal
    bool eof_ = false;
};

// A program run with plain pipes (no terminal): the simulator, or a tool whose standard
// input should not be a terminal.
class Process {
public:
    Process() = default;
    ~Process(); // SIGTERM, then SIGKILL after a second, and reap
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts argv with standard input from `input` (then closed), standard output and
    // standard error collected separately.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               const std::string& input = std::string());
    bool wait_for_stdout(const std::string& text, int timeout_ms = 10000);
    bool wait_for_stderr(const std::string& text, int timeout_ms = 10000);
    std::string stdout_text();
    std::string stderr_text();
    void signal(int signal_number);
    int wait_exit(int timeout_ms = 10000);
    pid_t pid() const { return pid_; }

private:
    void pump(int fd, std::string* sink);
    pid_t pid_ = -1;
    int status_ = -1;
    bool exited_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_;
    int open_streams_ = 0;
    std::thread out_thread_, err_thread_;
};

// The simulated chain behind a pseudo-terminal, for runs that must share servo state.
// Starts bin/servosim with the options and, with trace, its decoded packet trace on
// standard error.
class Servosim {
public:
    explicit Servosim(const std::string& options = std::string(), bool trace = false);
    // The slave side's path: KINETRON_DEVICE for the tools. Empty if it failed to start.
    const std::string& device() const { return device_; }
    std::string env() const { return "KINETRON_DEVICE=" + device_; }
    std::string trace() { return process_.stderr_text(); }
    Process& process() { return process_; }

private:
    Process process_;
    std::string device_;
};

// Runs a program to its end under a pseudo-terminal, typing nothing; returns the exit
// status and the output.
struct RunResult {
    int status;
    std::string output;
};
RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
              int timeout_ms = 20000);

} // namespace harness

#endif
