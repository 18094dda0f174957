// The main window with the emulated USB camera, driven by the kernel's own USB video driver
// inside the QEMU guest of tests/vm/run-in-vm (TAVREL_VM_USBCAM=1): the camera's button takes
// snapshots through the window, and an unplug while streaming and recording leaves a playable
// recording, grey commands and a window that opens the same camera again when it comes back.
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "UsbCamClient.h"
#include "app/TavrelApp.h"
#include "capture/CaptureController.h"
#include "display/DisplayWorker.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"
#include "output/RecordingController.h"
#include "settings/ProfileFile.h"
#include "support/OutputTestSupport.h"
#include "support/TestApp.h"

namespace {

// The emulated camera's identity (vhci's ports are not "removable", so vivid, which the guest
// has too, would be opened without the user's choice).
const QString kCameraKey = QStringLiteral("usb:1209:0002:serial:TUC-0001");

}  // namespace

class UsbCameraWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UsbCamClient> m_client;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTavrelApp> m_app;
    QString m_folder;

    // An application whose Setting.ini chooses the emulated camera and a save folder.
    void start() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_app = StartTestApp(*m_dir);
        m_folder = m_dir->filePath(QStringLiteral("shots")) + QLatin1Char('/');
        QVERIFY(QDir().mkpath(m_folder));
        ProfileFile settings(m_app->m_strSettingFile);
        settings.writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), m_folder);
        settings.writeString(QStringLiteral("Camera"), QStringLiteral("Choice"), kCameraKey);
    }

    static bool streaming(CTavrelDlg& dlg, int timeoutMs) {
        const auto before = dlg.displayWorker().composedCount();
        return QTest::qWaitFor(
            [&] {
                return dlg.camera().captureGraph().state() == CaptureGraph::State::Running &&
                       dlg.displayWorker().composedCount() > before + 3 &&
                       dlg.menuAction(Cmd::Snap)->isEnabled();
            },
            timeoutMs);
    }

    int files(const QString& pattern) const {
        return int(QDir(m_folder).entryList({pattern}).size());
    }

private Q_SLOTS:
    void initTestCase() {
        const char* socket = std::getenv("TAVREL_USBCAM_SOCKET");
        if (socket == nullptr) {
            QSKIP(
                "no emulated USB camera: run this test through tests/vm/run-in-vm "
                "with TAVREL_VM_USBCAM=1");
        }
        m_client = std::make_unique<UsbCamClient>(socket);
        QVERIFY(m_client->connect());
    }

    void cleanup() {
        m_app.reset();
        m_dir.reset();
    }

    void theButtonArmsThenSnapsOncePerPress() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(dlg.camera().camera().identityKey(), kCameraKey);
        QVERIFY(streaming(dlg, 10000));

        // The first press arms the trigger; every later one takes one snapshot.
        for (int press = 1; press <= 3; ++press) {
            const std::string reply = m_client->command("press");
            QVERIFY2(UsbCamClient::isOk(reply), reply.c_str());
            const int expected = press - 1;
            (void)QTest::qWaitFor([&] { return files(QStringLiteral("*.jpg")) > expected; }, 1500);
            QCOMPARE(files(QStringLiteral("*.jpg")), expected);
        }
    }

    void unplugWhileRecordingThenTheSameCameraComesBack() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(streaming(dlg, 10000));
        const QString node = dlg.camera().camera().devNode;

        dlg.OnCommand(Cmd::Record);
        QVERIFY(QTest::qWaitFor(
            [&] { return dlg.recording().recorder().state() == RecordState::Running; }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return dlg.recording().recorder().writtenFrames() >= 24; },
                                10000));

        QVERIFY(UsbCamClient::isOk(m_client->command("unplug")));
        QVERIFY(QTest::qWaitFor([&] { return !dlg.camera().hasSource(); }, 5000));
        QCOMPARE(dlg.camera().problem(), PictureProblem::Removed);
        QVERIFY(!dlg.recording().recording());
        const QStringList movies = QDir(m_folder).entryList({QStringLiteral("*.mpeg")});
        QCOMPARE(movies.size(), 1);
        const DecodedFile movie = decodeFile(m_folder + movies[0]);
        QVERIFY(movie.opened);
        QVERIFY2(movie.rgb.size() >= 24, qPrintable(QString::number(movie.rgb.size())));
        QVERIFY(!dlg.menuAction(Cmd::Freq50Hz)->isEnabled());
        QVERIFY(!dlg.menuAction(Cmd::Snap)->isEnabled());
        for (QAction* entry : dlg.resolutionMenu()->actions()) {
            QVERIFY(!entry->isEnabled());
        }

        QElapsedTimer back;
        back.start();
        const std::string plugged = m_client->command("plug");
        QVERIFY2(UsbCamClient::isOk(plugged), plugged.c_str());
        QVERIFY(streaming(dlg, 5000));
        qInfo("streaming again %lld ms after the plug (node %s, before %s)", back.elapsed(),
              UsbCamClient::value(plugged).c_str(), qPrintable(node));
        QCOMPARE(dlg.camera().camera().identityKey(), kCameraKey);
        QCOMPARE(dlg.camera().problem(), PictureProblem::None);
        QVERIFY(dlg.menuAction(Cmd::Freq50Hz)->isEnabled());
    }
};

QTEST_MAIN(UsbCameraWindowTest)
#include "UsbCameraWindowTest.moc"
