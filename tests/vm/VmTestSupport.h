#pragma once

// Small helpers of the tests that run inside the VM of tests/vm/run-in-vm.

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace vmtest {

// A mean colour.
struct Rgb {
    double r = 0, g = 0, b = 0;
};

inline double luma(const Rgb& c) {
    return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
}

// Writes text into a sysfs file (a driver's bind or unbind); false when it cannot.
inline bool writeSysfs(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

// Threads of this process.
inline int threadCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++n;
    }
    return n;
}

// CPU time this process has used, in seconds.
inline double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Polls every 10 ms until done() holds or timeout has passed; returns done().
inline bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// Runs f on another thread and waits at most timeout for it. A call that hangs ends the
// whole run at once with a message: the hung call still uses the test's objects, so the test
// cannot go on (and the guest must not wait for its time limit).
inline void mustReturnWithin(std::chrono::milliseconds timeout, const char* what,
                             std::function<void()> f) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([f = std::move(f), done] {
        f();
        done->set_value();
    }).detach();
    if (finished.wait_for(timeout) != std::future_status::ready) {
        std::printf("FAILED: %s did not return within %lld ms\n", what,
                    static_cast<long long>(timeout.count()));
        std::fflush(stdout);
        std::_Exit(1);
    }
}

}  // namespace vmtest
