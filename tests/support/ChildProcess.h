#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

// Runs body in a forked child, for set-ups that must not reach the test process (a mount
// namespace, a file-size limit, another user id). The child prints its failed expectations;
// they fail the test here. A body that cannot set itself up calls SkipChild().
enum class ChildOutcome { Passed, Failed, Skipped };

[[noreturn]] inline void SkipChild() {
    std::fflush(nullptr);
    _exit(77);
}

inline ChildOutcome RunInChild(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return ChildOutcome::Failed;
    }
    const int code = WEXITSTATUS(status);
    return code == 0    ? ChildOutcome::Passed
           : code == 77 ? ChildOutcome::Skipped
                        : ChildOutcome::Failed;
}

// In a child: drops from root to the account "nobody", so that permissions count.
inline void BecomeNobody() {
    if (geteuid() == 0 &&
        (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)) {
        SkipChild();
    }
}
