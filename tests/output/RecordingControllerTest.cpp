// The recording controller's reports: a recording that cannot be opened is withdrawn, says why
// in the status bar, its failure text lands in the language file, and the status and frame
// timers never start; a
// report that arrives after the recording was stopped changes nothing; a recording whose folder
// is removed ends as a failed write.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "capture/FrameStore.h"
#include "contracts/Image.h"
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
        QSignalSpy status(&recording, &RecordingController::statusText);

        // A save folder whose parent is gone (one missing level would be made).
        const QString folder = dir.filePath(QStringLiteral("missing/deeper"));
        recording.ToggleRecording(folder + QLatin1Char('/'));
        QVERIFY(recording.recording());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), true);

        frames.onRecorderStep(320, 240);  // the first frame after the request opens the file
        QVERIFY(changed.wait(3000));
        QCOMPARE(changed.at(1).at(0).toBool(), false);
        QVERIFY(!recording.recording());
        QVERIFY(!recording.timersActive());
        const QString said = texts.text("MainWnd", "RECORDNOTSTARTED")
                                 .arg(texts.text("MainWnd", "RECNOFOLDER").arg(folder));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), said);
        QCOMPARE(recording.failureText(), said);
        QFile f(lng);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY2(text.contains(QStringLiteral("[WndMessage]\nNOVIDEO=视频创建失败")),
                 qPrintable(text));
    }

    // Record pressed twice quickly: the first frame opened the file on the capture thread, and
    // its "started" report reaches the window only after the second press stopped it.
    void aLateStartedReportDoesNotRestartAStoppedRecording() {
        QTemporaryDir dir;
        const Texts texts(dir.filePath(QStringLiteral("Test.lng")));
        FrameStore frames;
        RecordingController recording(frames, texts);
        QSignalSpy changed(&recording, &RecordingController::recordingChanged);
        const QString folder = dir.path() + QLatin1Char('/');

        recording.ToggleRecording(folder);
        frames.onRecorderStep(320, 240);  // opens; "started" is posted, not yet delivered
        while (recording.recorder().state() == RecordState::Requested) {
            QThread::msleep(1);  // no events: the report stays queued
        }
        QCOMPARE(recording.recorder().state(), RecordState::Running);
        recording.ToggleRecording(folder);
        QVERIFY(!recording.recording());
        QTest::qWait(50);  // the late report is delivered now

        QVERIFY(!recording.timersActive());
        QVERIFY(!recording.recording());
        QVERIFY(!changed.isEmpty());
        QCOMPARE(changed.last().at(0).toBool(), false);  // the Record button shows no recording
        // A new recording afterwards starts its timers as usual.
        recording.ToggleRecording(folder);
        frames.onRecorderStep(320, 240);
        QTRY_VERIFY(recording.timersActive());
        QCOMPARE(changed.last().at(0).toBool(), true);
        recording.Finish();
    }

    void aRecordingWhoseFolderIsRemovedEndsAsAFailedWrite() {
        QTemporaryDir dir;
        const Texts texts(dir.filePath(QStringLiteral("Test.lng")));
        FrameStore frames;
        const std::vector<uint8_t> frame(size_t(320) * 240 * 3);
        frames.OnFrame(frame.data(), 320, 240, 24);
        Image composed;
        composed.Create(320, 240, 24);
        composed.Clear(90);
        frames.exchangeComposedImage(composed);
        RecordingController recording(frames, texts);
        QSignalSpy changed(&recording, &RecordingController::recordingChanged);
        QSignalSpy status(&recording, &RecordingController::statusText);
        const QString folder = dir.filePath(QStringLiteral("Videos")) + QLatin1Char('/');
        QVERIFY(QDir().mkdir(folder));

        recording.ToggleRecording(folder);
        frames.onRecorderStep(320, 240);
        QTRY_VERIFY(recording.timersActive());
        QTRY_VERIFY(recording.recorder().writtenFrames() > 0);
        QVERIFY(QDir(folder).removeRecursively());

        const QString failed = texts.text("MainWnd", "RECORDFAILED");
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0).toString() == failed,
                                 5000);
        QVERIFY(!recording.recording());
        QVERIFY(!recording.timersActive());
        QCOMPARE(changed.last().at(0).toBool(), false);
    }
};

QTEST_MAIN(RecordingControllerTest)
#include "RecordingControllerTest.moc"
