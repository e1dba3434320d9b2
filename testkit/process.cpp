#include "pty_session.h"

#include "child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace harness {

Process::~Process()
{
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGTERM);
        if (wait_exit(1000) < 0) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            exited_ = true;
        }
    }
    if (out_thread_.joinable())
        out_thread_.join();
    if (err_thread_.joinable())
        err_thread_.join();
}

bool Process::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& input)
{
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
        return false;

    std::vector<std::string> environment = merged_environment(env);
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        setpgid(0, 0); // keeps the terminal's Ctrl-C away from it
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        exec_child(argv, environment);
    }
    pid_ = pid;
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    // The input is small: write it, then close so the program sees the end.
    std::size_t done = 0;
    ::signal(SIGPIPE, SIG_IGN);
    while (done < input.size()) {
        ssize_t n = write(in_pipe[1], input.data() + done, input.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    close(in_pipe[1]);
    open_streams_ = 2;
    out_thread_ = std::thread(&Process::pump, this, out_pipe[0], &out_);
    err_thread_ = std::thread(&Process::pump, this, err_pipe[0], &err_);
    return true;
}

void Process::pump(int fd, std::string* sink)
{
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            sink->append(buffer, static_cast<std::size_t>(n));
            changed_.notify_all();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    --open_streams_;
    changed_.notify_all();
}

bool Process::wait_for_stdout(const std::string& text, int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        return out_.find(text) != std::string::npos || open_streams_ == 0;
    }) && out_.find(text) != std::string::npos;
}

bool Process::wait_for_stderr(const std::string& text, int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        return err_.find(text) != std::string::npos || open_streams_ == 0;
    }) && err_.find(text) != std::string::npos;
}

std::string Process::stdout_text()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string Process::stderr_text()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

void Process::signal(int signal_number)
{
    if (pid_ > 0 && !exited_)
        kill(pid_, signal_number);
}

int Process::wait_exit(int timeout_ms)
{
    if (!exited_) {
        if (!reap_within(pid_, timeout_ms, &status_))
            return -1;
        exited_ = true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(2000), [this] { return open_streams_ == 0; });
    return status_;
}

Servosim::Servosim(const std::string& options, bool trace)
{
    std::vector<std::string> argv{bin_path("servosim")};
    if (!options.empty())
        argv.push_back(options);
    if (trace)
        argv.push_back("--trace");
    if (!process_.start(argv))
        return;
    if (!process_.wait_for_stdout("\n", 10000))
        return;
    std::string out = process_.stdout_text();
    device_ = out.substr(0, out.find('\n'));
}

} // namespace harness
