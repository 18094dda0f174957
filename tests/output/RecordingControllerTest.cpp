// The recording controller's reports: a recording that cannot be opened is withdrawn, its
// failure text lands in the language file, and the status and frame timers never start.
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "capture/FrameStore.h"
#include "output/RecordingController.h"
#include "settings/Texts.h"

class RecordingControllerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aRecordingThatCannotOpenIsWithdrawnAndItsTextLookedUp() {
        QTemporaryDir dir;
        const QString lng = dir.filePath(QStringLiteral("Test.lng"));
        {
            QFile f(lng);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[MainWnd]\nSTOP=Halt\n");
        }
        const Texts texts(lng);
        FrameStore frames;
        RecordingController recording(frames, texts);
        QSignalSpy changed(&recording, &RecordingController::recordingChanged);

        recording.ToggleRecording(dir.filePath(QStringLiteral("missing")) + QLatin1Char('/'));
        QVERIFY(recording.recording());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), true);

        frames.onRecorderStep(320, 240);  // the first frame after the request opens the file
        QVERIFY(changed.wait(3000));
        QCOMPARE(changed.at(1).at(0).toBool(), false);
        QVERIFY(!recording.recording());
        QVERIFY(!recording.timersActive());
        QFile f(lng);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY2(text.contains(QStringLiteral("[WndMessage]\nNOVIDEO=视频创建失败")),
                 qPrintable(text));
    }
};

QTEST_MAIN(RecordingControllerTest)
#include "RecordingControllerTest.moc"
