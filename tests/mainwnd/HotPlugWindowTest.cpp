// The main window while the virtual camera is unplugged and plugged in again: what a removal
// closes, greys and keeps, what an arrival brings back, and which events change nothing.
#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/TavrelApp.h"
#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "device/HotPlugMonitor.h"
#include "display/MoveWnd.h"
#include "display/PreviewWidget.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/ResolutionMenu.h"
#include "mainwnd/TavrelDlg.h"
#include "output/RecordingController.h"
#include "settings/ProfileFile.h"

#include "support/OutputTestSupport.h"
#include "support/TestApp.h"

class HotPlugWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTavrelApp> m_app;

    void start(QStringList args) {
        m_dir = std::make_unique<QTemporaryDir>();
        args << QStringLiteral("--virtual-camera");
        m_app = StartTestApp(*m_dir, args);
    }

    // Every entry of the Resolution menu, submenus included.
    static QList<QAction*> resolutionEntries(QMenu* menu) {
        QList<QAction*> entries;
        for (QAction* action : menu->actions()) {
            if (action->menu()) {
                entries << resolutionEntries(action->menu());
            } else {
                entries << action;
            }
        }
        return entries;
    }

    static bool allEnabled(const QList<QAction*>& actions, bool enabled) {
        for (QAction* action : actions) {
            if (action->isEnabled() != enabled) {
                return false;
            }
        }
        return !actions.isEmpty();
    }

private Q_SLOTS:
    void cleanup() {
        m_app.reset();
        m_dir.reset();
    }

    // Unplugged while streaming and recording: the recording is a playable file, the camera is
    // closed, its choices are grey, the last picture stays under the hint. Plugged in again:
    // the same camera streams as before, without the user doing anything.
    void unplugWhileRecordingThenPlugBackIn() {
        start({QStringLiteral("-FACTORYMODE=1")});
        const QString folder = m_dir->filePath(QStringLiteral("shots")) + QLatin1Char('/');
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), folder);
        QVERIFY(QDir().mkpath(folder));
        CTavrelDlg dlg(*m_app, *m_app);
        VirtualCameraDevice& device = *dlg.cameraSystem().virtualDevice();
        QVERIFY(WaitForPicture(dlg));
        dlg.OnCommand(ResolutionMenu::commandId(true, 1));  // MJPG 800 X 600
        QVERIFY(WaitForPicture(dlg));

        // The pan-and-zoom window, opened once and closed, comes back with the camera.
        dlg.OnCommand(Cmd::PanZoomWindow);
        QVERIFY(dlg.moveWnd() && dlg.moveWnd()->isVisible());
        dlg.moveWnd()->close();

        dlg.OnCommand(Cmd::Record);
        QVERIFY(QTest::qWaitFor(
            [&] { return dlg.recording().recorder().state() == RecordState::Running; }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return dlg.recording().recorder().writtenFrames() >= 20; },
                                10000));

        device.unplug();
        QVERIFY(QTest::qWaitFor([&] { return !dlg.camera().hasSource(); }, 3000));
        QVERIFY(!dlg.recording().recording());
        QCOMPARE(dlg.toolbarImage(ToolSlot::Record), Icon::Record);
        const QStringList movies = QDir(folder).entryList({QStringLiteral("*.mpeg")});
        QCOMPARE(movies.size(), 1);
        const DecodedFile movie = decodeFile(folder + movies[0]);
        QVERIFY(movie.opened);
        QCOMPARE(movie.width, 800);
        QVERIFY2(movie.rgb.size() >= 20, qPrintable(QString::number(movie.rgb.size())));

        QCOMPARE(dlg.statusText(2),
                 dlg.texts().m_strCameraRemoved + QStringLiteral(": ") + folder + movies[0]);
        QCOMPARE(dlg.camera().problem(), PictureProblem::Removed);
        QVERIFY(dlg.preview()->hint().contains(QLatin1String("Tavrel Virtual Microscope")));
        QVERIFY(!dlg.preview()->image().isNull());  // the last picture stays
        QVERIFY(!dlg.menuAction(Cmd::Freq50Hz)->isEnabled());
        QVERIFY(!dlg.menuAction(Cmd::Freq60Hz)->isEnabled());
        QVERIFY(!dlg.menuAction(Cmd::Resolution640x480)->isEnabled());
        QVERIFY(allEnabled(resolutionEntries(dlg.resolutionMenu()), false));
        QVERIFY(!dlg.menuAction(Cmd::Snap)->isEnabled());
        QVERIFY(dlg.cameraMenu()->actions().size() <= 1);  // no camera (or a placeholder) left

        device.plug();
        QVERIFY(QTest::qWaitFor(
            [&] { return dlg.camera().captureGraph().state() == CaptureGraph::State::Running; },
            5000));
        QVERIFY(WaitForPicture(dlg));
        QCOMPARE(dlg.camera().problem(), PictureProblem::None);
        QVERIFY(dlg.preview()->hint().isEmpty());
        QVERIFY(dlg.moveWnd() && dlg.moveWnd()->isVisible());
        QVERIFY(dlg.menuAction(Cmd::Freq50Hz)->isEnabled());
        QVERIFY(dlg.menuAction(Cmd::Resolution640x480)->isEnabled());
        QVERIFY(allEnabled(resolutionEntries(dlg.resolutionMenu()), true));
    }

    // A paused camera comes back paused. Removals while the open camera still answers, and
    // arrivals while a camera is open, change nothing.
    void otherDevicesChangeNothingAndPausedStaysPaused() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        VirtualCameraDevice& device = *dlg.cameraSystem().virtualDevice();
        QVERIFY(WaitForPicture(dlg));
        dlg.OnCommand(Cmd::Play);
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Rendered);

        emit dlg.hotPlug().deviceChanged(false, QStringLiteral("/dev/video7"));
        emit dlg.hotPlug().deviceChanged(true, QStringLiteral("/dev/video7"));
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Rendered);
        QVERIFY(dlg.menuAction(Cmd::Freq50Hz)->isEnabled());
        QVERIFY(allEnabled(resolutionEntries(dlg.resolutionMenu()), true));
        QCOMPARE(dlg.camera().problem(), PictureProblem::None);

        device.unplug();
        QVERIFY(QTest::qWaitFor([&] { return !dlg.camera().hasSource(); }, 3000));
        // Normal mode's flat list is greyed as well.
        QVERIFY(allEnabled(resolutionEntries(dlg.resolutionMenu()), false));
        // An arrival that brings no camera leaves everything as it is.
        emit dlg.hotPlug().deviceChanged(true, QStringLiteral("/dev/video7"));
        QVERIFY(!dlg.camera().hasSource());
        QCOMPARE(dlg.camera().problem(), PictureProblem::Removed);

        device.plug();
        QVERIFY(QTest::qWaitFor([&] { return dlg.camera().hasSource(); }, 5000));
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Built);
        QVERIFY(!dlg.wantPreview());
        QVERIFY(allEnabled(resolutionEntries(dlg.resolutionMenu()), true));
        dlg.OnCommand(Cmd::Play);
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Running);
    }

    // Without device events (no udev daemon), a stream whose device went away still closes the
    // camera and says so; Play opens it again once it is back.
    void withoutDeviceEventsALostStreamStillClosesTheCamera() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        VirtualCameraDevice& device = *dlg.cameraSystem().virtualDevice();
        QVERIFY(WaitForPicture(dlg));
        device.onDeviceChange = nullptr;
        device.unplug();
        QVERIFY(QTest::qWaitFor([&] { return !dlg.camera().hasSource(); }, 3000));
        QCOMPARE(dlg.camera().problem(), PictureProblem::Removed);
        QCOMPARE(dlg.statusText(2), dlg.texts().m_strCameraRemoved);

        device.plug();
        QTest::qWait(300);
        QVERIFY(!dlg.camera().hasSource());  // nobody told the window
        dlg.OnCommand(Cmd::Play);
        QVERIFY(WaitForPicture(dlg));
        QCOMPARE(dlg.camera().problem(), PictureProblem::None);
    }
};

QTEST_MAIN(HotPlugWindowTest)
#include "HotPlugWindowTest.moc"
