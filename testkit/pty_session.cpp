#include "pty_session.h"

#include "child.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace harness {

const char* const KEY_UP = "\x1b[A";
const char* const KEY_DOWN = "\x1b[B";
const char* const KEY_UP_SS3 = "\x1bOA";
const char* const KEY_DOWN_SS3 = "\x1bOB";
const char* const KEY_ESC = "\x1b";

std::string bin_path(const std::string& program)
{
    return std::string(KINETRON_BIN_DIR) + "/" + program;
}

std::string source_path(const std::string& relative)
{
    return std::string(KINETRON_SOURCE_DIR) + "/" + relative;
}

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*)
{
    std::remove(path);
    return 0;
}

// The directories temp_dir() made, each removed with all it holds when the process that
// made it ends, also after a failed test; a forked child leaves its parent's alone.
struct MadeDirs {
    std::vector<std::pair<pid_t, std::string>> dirs;
    ~MadeDirs()
    {
        for (const auto& [maker, path] : dirs)
            if (maker == getpid())
                nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    }
};

} // namespace

std::string temp_dir()
{
    static MadeDirs made;
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kinetron-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        return std::string();
    made.dirs.emplace_back(getpid(), buffer.data());
    return std::string(buffer.data());
}

namespace {

std::string fold_line_ends(const std::string& raw)
{
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        out += raw[i];
    }
    return out;
}

using Clock = std::chrono::steady_clock;

} // namespace

PtySession::~PtySession()
{
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
    }
    if (master_ >= 0) {
        // Unblocks the reader: it sees the hang-up once the child is gone.
        if (reader_thread_.joinable()) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait_for(lock, std::chrono::seconds(2), [this] { return eof_; });
        }
    }
    if (reader_thread_.joinable()) {
        if (eof_)
            reader_thread_.join();
        else
            reader_thread_.detach();
    }
    if (master_ >= 0 && eof_)
        close(master_);
}

bool PtySession::start(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    termios mode{};
    cfmakeraw(&mode);
    mode.c_iflag = ICRNL | IXON | BRKINT | IMAXBEL;
    mode.c_oflag = OPOST | ONLCR;
    mode.c_cflag = CS8 | CREAD | HUPCL;
    mode.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN | ECHOCTL | ECHOKE;
    mode.c_cc[VINTR] = 3;
    mode.c_cc[VQUIT] = 28;
    mode.c_cc[VERASE] = 127;
    mode.c_cc[VKILL] = 21;
    mode.c_cc[VEOF] = 4;
    mode.c_cc[VSUSP] = 26;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    cfsetispeed(&mode, B38400);
    cfsetospeed(&mode, B38400);
    winsize size{};
    size.ws_row = 50;
    size.ws_col = 200;
    initial_ = mode;

    std::vector<std::string> environment = merged_environment(env);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, &mode, &size);
    if (pid < 0)
        return false;
    if (pid == 0)
        exec_child(argv, environment);
    master_ = master;
    pid_ = pid;
    reader_thread_ = std::thread(&PtySession::reader, this);
    return true;
}

void PtySession::reader()
{
    char buffer[4096];
    for (;;) {
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            raw_.append(buffer, static_cast<std::size_t>(n));
            changed_.notify_all();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EIO: every slave descriptor is closed
    }
    std::lock_guard<std::mutex> lock(mutex_);
    eof_ = true;
    changed_.notify_all();
}

bool PtySession::wait_for(const std::string& text, int timeout_ms, std::size_t from)
{
    return wait_for_count(text, 1, timeout_ms, from);
}

bool PtySession::wait_for_count(const std::string& text, int count, int timeout_ms,
                                std::size_t from)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        std::string folded = fold_line_ends(raw_);
        int seen = 0;
        if (from <= folded.size()) {
            for (std::size_t at = folded.find(text, from); at != std::string::npos;
                 at = folded.find(text, at + (text.empty() ? 1 : text.size()))) {
                if (++seen >= count)
                    return true;
            }
        }
        if (eof_)
            return false;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look at what arrived right at the deadline.
            folded = fold_line_ends(raw_);
            seen = 0;
            if (from <= folded.size())
                for (std::size_t at = folded.find(text, from); at != std::string::npos;
                     at = folded.find(text, at + (text.empty() ? 1 : text.size())))
                    if (++seen >= count)
                        return true;
            return false;
        }
    }
}

std::string PtySession::output()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fold_line_ends(raw_);
}

std::size_t PtySession::mark() { return output().size(); }

std::string PtySession::output_since(std::size_t mark)
{
    std::string all = output();
    return mark <= all.size() ? all.substr(mark) : std::string();
}

void PtySession::send(const std::string& keys)
{
    std::size_t done = 0;
    while (done < keys.size()) {
        ssize_t n = write(master_, keys.data() + done, keys.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void PtySession::signal(int signal_number)
{
    if (pid_ > 0 && !exited_)
        kill(pid_, signal_number);
}

bool PtySession::running()
{
    if (pid_ <= 0 || exited_)
        return false;
    if (reap_within(pid_, 0, &status_))
        exited_ = true;
    return !exited_;
}

int PtySession::wait_exit(int timeout_ms)
{
    if (!exited_) {
        if (!reap_within(pid_, timeout_ms, &status_))
            return -1;
        exited_ = true;
    }
    // The child is gone: collect what it wrote last (the reader stops at the hang-up,
    // unless a process it started still holds the terminal).
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(2000), [this] { return eof_; });
    return status_;
}

termios PtySession::attributes()
{
    termios now{};
    tcgetattr(master_, &now);
    return now;
}

bool PtySession::terminal_restored()
{
    termios now = attributes();
    const tcflag_t lflags = ICANON | ECHO | ISIG | IEXTEN;
    const tcflag_t iflags = ICRNL | IXON;
    const tcflag_t oflags = OPOST | ONLCR;
    return (now.c_lflag & lflags) == (initial_.c_lflag & lflags) &&
           (now.c_iflag & iflags) == (initial_.c_iflag & iflags) &&
           (now.c_oflag & oflags) == (initial_.c_oflag & oflags);
}

RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              int timeout_ms)
{
    PtySession session;
    if (!session.start(argv, env))
        return {-1, std::string()};
    int status = session.wait_exit(timeout_ms);
    return {status, session.output()};
}

} // namespace harness
