#pragma once

#include <QObject>
#include <functional>

#include "platform/UniqueFd.h"

class QSocketNotifier;
class QWidget;

// Ends the program through its normal teardown when it is asked to stop. SIGTERM, SIGINT and
// SIGHUP do not kill the process: they wait in a signalfd that the GUI thread's event loop
// reads, which then closes the main window like the Exit command (its teardown finishes a
// running recording with its trailer) and ends the event loop; a capture without a window is
// told to stop instead.
//
// The teardown gets a bounded time: from the first signal on, a watchdog thread ends the
// process with status 128 + the signal's number when it is still there after kGraceMs (a
// teardown stuck on a file that takes no bytes, a hung network file system), or at once at a
// second signal. It outlives this object on purpose: nothing that runs after the signal, the
// destructors included, may keep the process from ending.
//
// Block() must run in main() before any other thread exists: threads inherit the signal mask,
// and a signal that one thread leaves unblocked would still kill the process. GUI thread only.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // How long the program may take to end after a termination signal.
    static constexpr int kGraceMs = 10000;

    // Blocks the three signals in the calling thread (and so in every thread it starts later).
    static bool Block();

    // `window` must outlive this object.
    explicit TerminationSignals(QWidget& window);
    // `stop` runs on the GUI thread for every signal that arrives.
    explicit TerminationSignals(std::function<void()> stop);
    ~TerminationSignals() override;

    // False when the signalfd could not be made (the signals then keep their default action).
    bool isActive() const { return m_fd.isValid(); }

private:
    void ReadSignals();
    // Starts the watchdog (once) for the signal `signo`.
    void StartWatchdog(int signo);

    std::function<void()> m_stop;
    UniqueFd m_fd;
    QSocketNotifier* m_notifier = nullptr;
    bool m_watchdog = false;
};
