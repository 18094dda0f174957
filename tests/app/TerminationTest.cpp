// SIGTERM ends the program through the window's teardown: a recording running at that moment is
// finished with its trailer and plays to its end.
#include <signal.h>

#include <cmath>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "app/CommandLine.h"
#include "app/TavrelApp.h"
#include "app/TerminationSignals.h"
#include "capture/FrameStore.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"
#include "output/RecordingController.h"
#include "settings/ProfileFile.h"

#include "support/OutputTestSupport.h"
#include "support/TestApp.h"

class TerminationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aRecordingRunningAtSigtermPlaysToItsEnd() {
        // Before the window starts its threads, as main() does.
        QVERIFY(TerminationSignals::Block());
        QTemporaryDir dir;
        const std::unique_ptr<CTavrelApp> started =
            StartTestApp(dir, {QStringLiteral("--virtual-camera")});
        CTavrelApp& app = *started;
        const QString folder = dir.filePath(QStringLiteral("shots")) + QLatin1Char('/');
        QVERIFY(QDir().mkpath(folder));
        ProfileFile(app.m_strSettingFile)
            .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), folder);

        CTavrelDlg dlg(app, app);
        dlg.show();
        TerminationSignals termination(dlg);
        QVERIFY(termination.isActive());
        QVERIFY(QTest::qWaitFor([&] { return dlg.frameStore().hasCurrentImage(); }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return dlg.menuAction(Cmd::Record)->isEnabled(); }, 5000));
        dlg.OnCommand(Cmd::Record);
        Recorder& recorder = dlg.recording().recorder();
        QVERIFY(QTest::qWaitFor([&] { return recorder.state() == RecordState::Running; }, 5000));
        QTest::qWait(1200);

        // Sent to this thread, where it is blocked: it waits in the signalfd for the event loop.
        QCOMPARE(raise(SIGTERM), 0);
        QVERIFY(QTest::qWaitFor([&] { return !dlg.isVisible(); }, 5000));
        QCOMPARE(recorder.state(), RecordState::Idle);

        const int frames = recorder.writtenFrames();
        QVERIFY2(frames >= 24, qPrintable(QString::number(frames)));
        const DecodedFile file = decodeFile(recorder.fileName());
        QVERIFY(file.opened);
        QCOMPARE(int(file.rgb.size()), frames);
        QVERIFY2(std::abs(file.stampedSeconds - frames / 24.0) <= 1.0 / 24 + 1e-6,
                 qPrintable(QString::number(file.stampedSeconds)));
    }
};

QTEST_MAIN(TerminationTest)
#include "TerminationTest.moc"
