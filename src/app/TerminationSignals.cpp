#include "app/TerminationSignals.h"

#include <signal.h>
#include <sys/signalfd.h>

#include <QApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <cstring>
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
        m_stop();
    }
}
