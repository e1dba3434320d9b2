// What the pseudo-terminal session and the plain process share: the child's environment,
// its start, and collecting its exit status.
#ifndef HARNESS_CHILD_H
#define HARNESS_CHILD_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace harness {

// The inherited environment with `changes` applied: "NAME=value" adds or replaces,
// "NAME" alone removes.
std::vector<std::string> merged_environment(const std::vector<std::string>& changes);

// In the child: default signal handling, then execve. Never returns.
[[noreturn]] void exec_child(const std::vector<std::string>& argv,
                             const std::vector<std::string>& env);

// Waits up to timeout_ms for the child to end. True with its status (exit status, or
// 128 + the signal) when it did.
bool reap_within(pid_t pid, int timeout_ms, int* status);

} // namespace harness

#endif
