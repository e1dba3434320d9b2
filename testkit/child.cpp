#include "child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

extern char** environ;

namespace harness {

std::vector<std::string> merged_environment(const std::vector<std::string>& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const std::string& change : changes) {
        std::string name = change.substr(0, change.find('='));
        for (auto it = env.begin(); it != env.end();) {
            if (it->compare(0, name.size() + 1, name + "=") == 0)
                it = env.erase(it);
            else
                ++it;
        }
        if (change.find('=') != std::string::npos)
            env.push_back(change);
    }
    return env;
}

void exec_child(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    // The program starts with default signal dispositions and an empty signal mask.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE, SIGTSTP})
        signal(s, SIG_DFL);
    execve(args[0], args.data(), envp.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

bool reap_within(pid_t pid, int timeout_ms, int* status)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG) == pid) {
            if (WIFEXITED(raw))
                *status = WEXITSTATUS(raw);
            else if (WIFSIGNALED(raw))
                *status = 128 + WTERMSIG(raw);
            else
                *status = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace harness
