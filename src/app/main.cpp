#include <QApplication>
#include <QIcon>
#include <QTextStream>
#include <csignal>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/TavrelApp.h"
#include "app/TerminationSignals.h"
#include "cli/HeadlessCapture.h"
#include "mainwnd/TavrelDlg.h"
#include "platform/NativePath.h"

namespace {

// --list-cameras, --snapshot, --record: no window and no display; the settings and the
// camera's parameter memory are those the window would use.
int RunWithoutWindow(int argc, char** argv, const CommandLine& commandLine) {
    TerminationSignals::Block();
    QCoreApplication qapp(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tavrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVREL_VERSION));

    CTavrelApp app;
    app.InitSettings(AppLocations::FromSystem(), commandLine);
    QTextStream out(stdout);
    QTextStream err(stderr);
    HeadlessCapture capture(app, commandLine.capture, out, err);
    // SIGTERM, SIGINT and SIGHUP end a recording early, with its trailer.
    TerminationSignals termination([&capture] { capture.Stop(); });
    return capture.Run();
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit (ulimit -f) and a reader that went away show as EFBIG and EPIPE from
    // the write, which every writer reports as a failure, instead of ending the program with a
    // cut file. Set before any thread starts, so that all of them share it.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        // Losslessly: a FILE whose name is not UTF-8 names that very file.
        args << PathFromNative(argv[i]);
    }
    const CommandLine commandLine = ParseCommandLine(args);
    if (!commandLine.unknownOption.isEmpty()) {
        std::fprintf(stderr, "tavrel: unknown option '%s'\n\n%s",
                     commandLine.unknownOption.toLocal8Bit().constData(),
                     UsageText().toLocal8Bit().constData());
        return 2;
    }
    if (commandLine.showHelp) {
        std::fputs(UsageText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (commandLine.showVersion) {
        std::printf("Tavrel %s\n", TAVREL_VERSION);
        return 0;
    }
    if (!commandLine.usageError.isEmpty()) {
        std::fprintf(stderr, "tavrel: %s\n\n%s", commandLine.usageError.toLocal8Bit().constData(),
                     UsageText().toLocal8Bit().constData());
        return 2;
    }
    if (commandLine.capture.mode != CaptureMode::Window) {
        return RunWithoutWindow(argc, argv, commandLine);
    }

    // Before QApplication starts any thread: they all inherit the blocked termination signals.
    TerminationSignals::Block();
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrel"));
    QApplication::setApplicationVersion(QStringLiteral(TAVREL_VERSION));
    // The installed icon and launcher (data/) carry this id; the built-in icon stands in when
    // the program runs from its build folder.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.orvane.Tavrel"),
                                                 QIcon(QStringLiteral(":/icons/app.svg"))));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.orvane.Tavrel"));

    CTavrelApp app;
    app.InitSettings(AppLocations::FromSystem(), commandLine);

    // The main window runs until it is closed; then the process ends.
    CTavrelDlg window(app, app);
    window.show();
    // SIGTERM, SIGINT and SIGHUP end the program like Exit: the window's teardown runs.
    TerminationSignals termination(window);
    QApplication::exec();
    return 0;
}
