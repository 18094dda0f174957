#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

Q_LOGGING_CATEGORY(lcSignals, "tavrel.app.signals")

namespace {

sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

bool TerminationSignals::Block() {
    const sigset_t set = TerminationSet();
    const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (error != 0) {
        qCWarning(lcSignals) << "pthread_sigmask failed:" << std::strerror(error);
        return false;
    }
    return true;
}

TerminationSignals::TerminationSignals(QWidget& window)
    : TerminationSignals([&window] {
          window.close();
          QApplication::quit();
      }) {}

TerminationSignals::TerminationSignals(std::function<void()> stop) : m_stop(std::move(stop)) {
    const sigset_t set = TerminationSet();
    m_fd.reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!m_fd.isValid()) {
        qCWarning(lcSignals) << "signalfd failed:" << std::strerror(errno);
        return;
    }
    m_notifier = new QSocketNotifier(m_fd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::ReadSignals);
}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::ReadSignals() {
    signalfd_siginfo info{};
    while (::read(m_fd.get(), &info, sizeof info) == ssize_t(sizeof info)) {
        qCInfo(lcSignals) << "ending on signal" << info.ssi_signo;
        StartWatchdog(int(info.ssi_signo));
        m_stop();
    }
}

void TerminationSignals::StartWatchdog(int signo) {
    if (m_watchdog) {
        return;
    }
    // Its own descriptor of the signal queue: a second signal reaches it even while the GUI
    // thread is stuck, and after this object is gone.
    UniqueFd queue(::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 3));
    try {
        std::thread([queue = std::move(queue), signo] {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kGraceMs);
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    break;
                }
                pollfd fd{queue.get(), POLLIN, 0};
                const int n = ::poll(&fd, queue.isValid() ? 1 : 0, int(left.count()));
                if (n <= 0) {
                    continue;
                }
                signalfd_siginfo info{};
                errno = 0;
                if (::read(queue.get(), &info, sizeof info) == ssize_t(sizeof info)) {
                    qCWarning(lcSignals)
                        << "a second signal" << info.ssi_signo << "ends the program at once";
                    ::_exit(128 + signo);
                }
                if (errno != EAGAIN) {
                    ::poll(nullptr, 0, int(left.count()));  // no queue to read: just wait
                }
            }
            qCWarning(lcSignals) << "the program did not end within" << kGraceMs
                                 << "ms of the signal; it is ended now";
            ::_exit(128 + signo);
        }).detach();
        m_watchdog = true;
    } catch (const std::system_error& e) {
        qCWarning(lcSignals) << "no watchdog for the teardown:" << e.what();
    }
}
