// The main window with the built-in virtual camera, end to end: discovery at start, frames
// through the whole path, resolution menus in both layouts, Play/Stop, the power-line
// frequency, the Camera menu, zoom and mirror, the exposure button, keys, snapshots and
// recordings.
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>

#include "app/CommandLine.h"
#include "app/TavrelApp.h"
#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "capture/virtual/VirtualHardware.h"
#include "contracts/Image.h"
#include "display/DisplayWorker.h"
#include "display/MoveWnd.h"
#include "display/PanPreview.h"
#include "display/PreviewWidget.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"
#include "output/RecordingController.h"
#include "settings/LanguageText.h"
#include "settings/ProfileFile.h"

#include "support/TestApp.h"

class CameraWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTavrelApp> m_app;

    void start(QStringList args) {
        m_dir = std::make_unique<QTemporaryDir>();
        args << QStringLiteral("--virtual-camera");
        m_app = StartTestApp(*m_dir, args);
    }

    static QStringList texts(QMenu* menu) {
        QStringList list;
        for (QAction* action : menu->actions()) {
            list << action->text();
        }
        return list;
    }

private Q_SLOTS:
    void cleanup() {
        m_app.reset();
        m_dir.reset();
    }

    void opensTheCameraAtStartAndShowsFrames() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(m_app->m_nCameraCount, 1);
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Running);
        QVERIFY(WaitForPicture(dlg));
        QCOMPARE(dlg.statusText(0), QStringLiteral("640 X 480"));
        QCOMPARE(dlg.statusText(1), QStringLiteral("100%"));
        QCOMPARE(dlg.statusText(2), QStringLiteral("Tavrel Virtual Microscope"));
        QVERIFY(QTest::qWaitFor([&] { return !dlg.preview()->image().isNull(); }, 5000));
        QCOMPARE(dlg.preview()->image().size(), QSize(640, 480));
        // Now that a frame exists, the Play tool tip offers to stop.
        QCOMPARE(dlg.OnToolTipText(Cmd::Play), dlg.texts().m_strStop);
    }

    void normalModeListsOneFlatList() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(texts(dlg.resolutionMenu()), QStringList({"640 X 480", "800 X 600", "1280 X 720",
                                                           "1920 X 1080", "2560 X 1440"}));
        QVERIFY(dlg.menuAction(40018)->isChecked());
        QVERIFY(!dlg.menuAction(40019)->isChecked());
        QVERIFY(!dlg.menuAction(40056));
    }

    void factoryModePickOfAnMjpgEntryChangesTheStream() {
        start({QStringLiteral("-FACTORYMODE=1")});
        CTavrelDlg dlg(*m_app, *m_app);
        QMenu* resolution = dlg.resolutionMenu();
        QCOMPARE(texts(resolution), QStringList({"YUV", "MJPG"}));
        QVERIFY(resolution->actions()[0]->isChecked());
        QVERIFY(WaitForPicture(dlg));

        dlg.OnCommand(40056 + 2);  // MJPG 1280 X 720
        QCOMPARE(dlg.camera().streamFormats().m_nResolutionIndex, 2);
        QVERIFY(dlg.camera().streamFormats().m_bMjpgSelected);
        QVERIFY(dlg.menuAction(40058)->isChecked());
        QVERIFY(!dlg.menuAction(40018)->isChecked());
        QVERIFY(resolution->actions()[1]->isChecked());
        QVERIFY(!resolution->actions()[0]->isChecked());
        QCOMPARE(dlg.view().videoWidth(), 1280);
        QCOMPARE(dlg.statusText(0), QStringLiteral("1280 X 720"));
        QVERIFY(QTest::qWaitFor([&] { return dlg.frameStore().frameSizes().width == 1280; }, 5000));

        dlg.OnCommand(Cmd::Resolution640x480);
        QCOMPARE(dlg.view().videoWidth(), 640);
        QVERIFY(!dlg.camera().streamFormats().m_bMjpgSelected);
        QVERIFY(dlg.menuAction(40018)->isChecked());
    }

    void videoLargerThanTheScreenOpensAWindowThatFits() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        dlg.show();
        QVERIFY(WaitForPicture(dlg));
        dlg.OnCommand(Cmd::YuvFirst + 3);  // 1920 X 1080
        QVERIFY(QTest::qWaitFor([&] { return dlg.frameStore().frameSizes().width == 1920; }, 5000));
        QApplication::processEvents();
        // The test screen is smaller than the video: the whole window stays on it, the
        // preview keeps the video's shape, and the picture itself keeps every pixel.
        const QRect screen = dlg.screen()->availableGeometry();
        QVERIFY2(screen.contains(dlg.geometry()), qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                                                 .arg(dlg.width())
                                                                 .arg(dlg.height())
                                                                 .arg(screen.width())
                                                                 .arg(screen.height())));
        const QSize area = dlg.preview()->sizeHint();
        QVERIFY(area.width() < 1920);
        QVERIFY(std::abs(area.width() * 1080 - area.height() * 1920) <= 1920);
        const QRect picture = PreviewWidget::PictureRect(QSize(1920, 1080), dlg.preview()->size());
        QVERIFY(std::abs(picture.width() * 1080 - picture.height() * 1920) <= 1920);
    }

    void playStopTwiceReturnsToRunning() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        dlg.OnCommand(Cmd::Play);
        QVERIFY(!dlg.wantPreview());
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Rendered);
        QCOMPARE(dlg.toolbarImage(ToolSlot::Play), Icon::Paused);
        QVERIFY(dlg.menuAction(Cmd::Play)->isChecked());
        QCOMPARE(dlg.OnToolTipText(Cmd::Play), dlg.texts().m_strPlay);
        dlg.OnCommand(Cmd::Play);
        QVERIFY(dlg.wantPreview());
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Running);
        QCOMPARE(dlg.toolbarImage(ToolSlot::Play), Icon::Playing);
        QVERIFY(!dlg.menuAction(Cmd::Play)->isChecked());
    }

    void aCameraThatSendsNothingSaysSoAndPlayStartsItOver() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        QVERIFY(dlg.preview()->hint().isEmpty());
        dlg.camera().setFrameTimeout(std::chrono::milliseconds(1500));
        VirtualCameraDevice* device = dlg.cameraSystem().virtualDevice();
        device->stall(true);
        dlg.OnCommand(40019);  // the picture goes with the old format; the new one sends nothing
        QVERIFY(!dlg.frameStore().hasCurrentImage());
        const QString hint = dlg.texts().m_strNoFramesHint.arg(
            QStringLiteral("Tavrel Virtual Microscope (virtual:0)"));
        QVERIFY(QTest::qWaitFor([&] { return dlg.preview()->hint() == hint; }, 10000));

        QSignalSpy starts(&dlg.camera(), &CaptureController::previewStarted);
        dlg.OnCommand(Cmd::Play);  // no picture: the camera is started over, not paused
        QCOMPARE(starts.count(), 1);
        QVERIFY(dlg.wantPreview());
        device->stall(false);
        QVERIFY(WaitForPicture(dlg));
        QVERIFY(QTest::qWaitFor([&] { return dlg.preview()->hint().isEmpty(); }, 5000));
    }

    void playWithoutCameraFindsOnePluggedInMeanwhile() {
        start({});
        m_app->m_bVirtualCamera = true;
        CTavrelDlg dlg(*m_app, *m_app);
        dlg.cameraSystem().virtualDevice()->unplug();
        dlg.camera().FreeCaptureFilters();
        dlg.frameStore().DeleteCurrentImage();
        QVERIFY(!dlg.camera().captureGraph().source());
        dlg.cameraSystem().virtualDevice()->plug();
        dlg.OnCommand(Cmd::Play);
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Running);
        QVERIFY(WaitForPicture(dlg));
    }

    void powerLineFrequencyNeedsAFrame() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        // Without a saved parameter block the camera's own frequency (50 Hz) is shown; a
        // command before the first frame is not sent.
        QVERIFY(dlg.menuAction(Cmd::Freq50Hz)->isChecked());
        QVERIFY(!dlg.camera().SetPowerLineFrequency(2));
        QVERIFY(WaitForPicture(dlg));
        dlg.OnCommand(Cmd::Freq60Hz);
        QCOMPARE(dlg.camera().streamFormats().m_nPowerLineFreq, 2);
        QVERIFY(dlg.menuAction(Cmd::Freq60Hz)->isChecked());
        QVERIFY(!dlg.menuAction(Cmd::Freq50Hz)->isChecked());
        long value = 0;
        QVERIFY(dlg.camera().captureGraph().source()->getPowerLineFrequency(&value));
        QCOMPARE(value, 2L);
    }

    void zoomAndMirrorSequences() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        QVERIFY(!dlg.toolAction(Cmd::ZoomOut)->isEnabled());
        for (int i = 0; i < 12; ++i) {
            dlg.OnCommand(Cmd::ZoomIn);
        }
        QCOMPARE(dlg.statusText(1), QStringLiteral("200%"));
        QVERIFY(dlg.toolAction(Cmd::ZoomOut)->isEnabled());
        QCOMPARE(dlg.toolbarImage(ToolSlot::ZoomIn), Icon::ZoomInActive);
        dlg.OnCommand(Cmd::ZoomReset);
        QCOMPARE(dlg.statusText(1), QStringLiteral("100%"));
        QVERIFY(!dlg.toolAction(Cmd::ZoomOut)->isEnabled());
        QCOMPARE(dlg.toolbarImage(ToolSlot::ZoomOut), Icon::ZoomOutDisabled);
        dlg.OnCommand(Cmd::ZoomIn);
        dlg.OnCommand(Cmd::ZoomOut);
        QCOMPARE(dlg.frameStore().transform().m_fZoom, 1.0f);
        QVERIFY(!dlg.toolAction(Cmd::ZoomOut)->isEnabled());

        dlg.OnCommand(Cmd::HMirror);
        QVERIFY(dlg.frameStore().transform().m_bHMirror);
        QVERIFY(dlg.menuAction(Cmd::HMirror)->isChecked());
        QVERIFY(dlg.toolAction(Cmd::HMirror)->isChecked());
        QCOMPARE(dlg.toolbarImage(ToolSlot::HMirror), Icon::HMirrorOn);
        QCOMPARE(dlg.toolbarImage(ToolSlot::MirrorReset), Icon::MirrorReset);
        dlg.toolAction(Cmd::HMirror)->trigger();  // the toolbar button runs the same handler
        QVERIFY(!dlg.frameStore().transform().m_bHMirror);
        QVERIFY(!dlg.toolAction(Cmd::HMirror)->isChecked());
        QCOMPARE(dlg.toolbarImage(ToolSlot::HMirror), Icon::HMirrorOff);
        dlg.OnCommand(Cmd::VMirror);
        dlg.OnCommand(Cmd::HMirror);
        dlg.OnCommand(Cmd::MirrorReset);
        QVERIFY(!dlg.frameStore().transform().m_bHMirror);
        QVERIFY(!dlg.frameStore().transform().m_bVMirror);
        QVERIFY(!dlg.menuAction(Cmd::VMirror)->isChecked());
        QCOMPARE(dlg.toolbarImage(ToolSlot::MirrorReset), Icon::MirrorResetDisabled);
    }

    void panZoomWindowCentresTheViewOnTheMicroscopeField() {
        start({QStringLiteral("-FACTORYMODE=1")});
        CTavrelDlg dlg(*m_app, *m_app);
        dlg.show();
        QVERIFY(WaitForPicture(dlg));
        QVERIFY(dlg.menuAction(Cmd::PanZoomWindow)->isEnabled());
        dlg.OnCommand(Cmd::PanZoomWindow);
        QPointer<CMoveWnd> first = dlg.moveWnd();
        QVERIFY(first && first->isVisible() && !first->isModal());
        QVERIFY(dlg.panWindowOpened());
        // Beside the main window, moved left as far as the screen needs.
        const QRect screen = dlg.screen()->availableGeometry();
        QCOMPARE(first->frameGeometry().left(),
                 std::min(dlg.frameGeometry().right() + 1,
                          screen.right() + 1 - first->frameGeometry().width()));
        QVERIFY(screen.contains(first->frameGeometry()));
        auto* preview = first->findChild<PanPreview*>(QStringLiteral("preview"));
        QVERIFY(QTest::qWaitFor([&] { return preview->frame().IsValid(); }, 3000));

        // The field's lower edge lies above the bottom of the centred square: row 435 from the
        // top, in the middle column, is dark before and inside the field afterwards.
        const auto brightAt = [&](int x, int top) {
            Image shown;
            dlg.frameStore().copyCurrentImage(shown);
            return shown.GetBits(shown.GetHeight() - 1 - top)[3 * x + 1] > 120;
        };
        QVERIFY(!brightAt(320, 435));
        QTest::mouseDClick(preview, Qt::LeftButton);
        const TransformState t = dlg.frameStore().transform();
        QVERIFY2(t.m_fViewZoom > 1.1f && t.m_fViewZoom < 1.3f,
                 qPrintable(QString::number(t.m_fViewZoom)));
        QVERIFY(QTest::qWaitFor([&] { return brightAt(320, 435) && brightAt(320, 45); }, 3000));
        QVERIFY(!brightAt(320 - 215, 240));  // beside the field's square: no picture

        // Closing hides it; the next Move replaces it.
        first->close();
        QVERIFY(!first->isVisible());
        dlg.OnCommand(Cmd::PanZoomWindow);
        QVERIFY(dlg.moveWnd() != first.data() && dlg.moveWnd()->isVisible());
        QVERIFY(QTest::qWaitFor([&] { return first.isNull(); }, 2000));
    }

    void commandsAreGreyedUntilAFrameArrives() {
        start({});
        m_app->m_bVirtualCamera = false;  // no camera at all
        CTavrelDlg dlg(*m_app, *m_app);
        for (int id : {Cmd::Snap, Cmd::Record, Cmd::ZoomIn, Cmd::ZoomOut, Cmd::HMirror,
                       Cmd::MirrorReset, Cmd::ChooseFolder}) {
            QVERIFY2(!dlg.menuAction(id)->isEnabled(), qPrintable(QString::number(id)));
        }
        QVERIFY(!dlg.toolAction(Cmd::Property)->isEnabled());
        QVERIFY(dlg.menuAction(Cmd::Play)->isEnabled());  // Play looks for a camera
        QVERIFY(dlg.cameraMenu()->actions().isEmpty());
        QVERIFY(!dlg.cameraMenu()->menuAction()->isEnabled());
    }

    void propertyButtonSwitchesExposureAndBackInNormalMode() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        const auto hardware = dlg.cameraSystem().virtualDevice()->hardware();
        // The camera starts in automatic exposure, and the button says so.
        QVERIFY(hardware->settings().exposureAuto);
        QCOMPARE(dlg.toolbarImage(ToolSlot::Property), Icon::ExposureAuto);
        QCOMPARE(dlg.OnToolTipText(Cmd::Property), dlg.texts().m_strManualExposure);
        const VirtualPictureSettings before = hardware->settings();

        dlg.OnCommand(Cmd::Property);
        QVERIFY(!hardware->settings().exposureAuto);
        QCOMPARE(hardware->settings().exposure, before.exposure);
        QCOMPARE(hardware->settings().gain, before.gain);
        QCOMPARE(dlg.toolbarImage(ToolSlot::Property), Icon::ExposureManual);
        QCOMPARE(dlg.OnToolTipText(Cmd::Property), dlg.texts().m_strAutoExposure);

        dlg.OnCommand(Cmd::Property);
        QCOMPARE(hardware->settings(), before);
        QCOMPARE(dlg.toolbarImage(ToolSlot::Property), Icon::ExposureAuto);
        QCOMPARE(dlg.OnToolTipText(Cmd::Property), dlg.texts().m_strManualExposure);
    }

    void aCameraWithoutExposureControlKeepsItsButton() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        const auto hardware = dlg.cameraSystem().virtualDevice()->hardware();
        hardware->setOffered(CameraProperty::Exposure, false);
        const VirtualPictureSettings before = hardware->settings();
        QVERIFY(dlg.toolAction(Cmd::Property)->isEnabled());
        // Only the texts change: they are looked up again (from the file as now chosen).
        ProfileFile(m_app->m_strLanguageFile)
            .writeString(QStringLiteral("MainWnd"), QStringLiteral("MANUALEXPOSURE"),
                         QStringLiteral("Hands on"));
        m_app->SetLanguageName(QFileInfo(m_app->m_strLanguageFile).completeBaseName());
        dlg.OnCommand(Cmd::Property);
        QCOMPARE(hardware->settings(), before);
        QVERIFY(dlg.camera().parameters().m_bExposureAuto);
        QVERIFY(dlg.camera().parameters().m_bGainAuto);
        QCOMPARE(dlg.toolbarImage(ToolSlot::Property), Icon::ExposureAuto);
        QCOMPARE(dlg.OnToolTipText(Cmd::Property), QStringLiteral("Hands on"));
    }

    void cameraMenuOpensTheChosenCameraAndRemembersIt() {
        start({});
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(dlg.cameraMenu()->title(), m_app->m_texts.text("MainWnd", "CAMERA"));
        QCOMPARE(texts(dlg.cameraMenu()), QStringList({"Tavrel Virtual Microscope"}));
        QAction* entry = dlg.menuAction(Cmd::CameraFirst);
        QVERIFY(entry && entry->isChecked());
        QCOMPARE(m_app->m_strCameraVid + ":" + m_app->m_strCameraPid, QStringLiteral("1209:0001"));
        QVERIFY(WaitForPicture(dlg));

        // Choosing the open camera keeps its stream and remembers the choice.
        entry->trigger();
        QVERIFY(entry->isChecked());
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Running);
        QVERIFY(dlg.frameStore().hasCurrentImage());
        QCOMPARE(ProfileFile(m_app->m_strSettingFile)
                     .readString(QStringLiteral("Camera"), QStringLiteral("Choice"), QString()),
                 QStringLiteral("virtual:virtual:0"));

        // Gone: the next check empties the menu. Back: listed, but not open until Play.
        dlg.cameraSystem().virtualDevice()->unplug();
        dlg.camera().FreeCaptureFilters();
        dlg.frameStore().DeleteCurrentImage();
        QCOMPARE(dlg.FindSupportedCameras(), 0);
        QVERIFY(dlg.cameraMenu()->actions().isEmpty());
        QVERIFY(!dlg.cameraMenu()->menuAction()->isEnabled());
        dlg.cameraSystem().virtualDevice()->plug();
        QCOMPARE(dlg.FindSupportedCameras(), 1);
        QCOMPARE(texts(dlg.cameraMenu()), QStringList({"Tavrel Virtual Microscope"}));
        QVERIFY(!dlg.menuAction(Cmd::CameraFirst)->isChecked());
        dlg.OnCommand(Cmd::Play);
        QVERIFY(dlg.cameraMenu()->menuAction()->isEnabled());
        QVERIFY(dlg.menuAction(Cmd::CameraFirst)->isChecked());
        QCOMPARE(dlg.camera().captureGraph().state(), CaptureGraph::State::Running);
    }

    void keysRunTheSameHandlersAsTheToolbar() {
        start({});
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"),
                         m_dir->filePath(QStringLiteral("keys")) + QLatin1Char('/'));
        CTavrelDlg dlg(*m_app, *m_app);
        std::atomic<int> snapshots{0};
        dlg.camera().frameIntake().takeSnapshot = [&] { ++snapshots; };
        dlg.show();
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QVERIFY(WaitForPicture(dlg));
        QTest::keyClick(&dlg, Qt::Key_H);
        QVERIFY(dlg.frameStore().transform().m_bHMirror);
        QTest::keyClick(&dlg, Qt::Key_V);
        QVERIFY(dlg.frameStore().transform().m_bVMirror);
        QTest::keyClick(&dlg, Qt::Key_Plus);
        QCOMPARE(dlg.statusText(1), QStringLiteral("110%"));
        QTest::keyClick(&dlg, Qt::Key_0);
        QCOMPARE(dlg.statusText(1), QStringLiteral("100%"));
        QTest::keyClick(&dlg, Qt::Key_P);
        QVERIFY(!dlg.wantPreview());
        QTest::keyClick(&dlg, Qt::Key_P);
        QVERIFY(dlg.wantPreview());
        // The camera key of the keyboard map feeds the still trigger: the first press arms it.
        auto pressCameraKey = [&] {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Camera, Qt::NoModifier);
            QApplication::sendEvent(&dlg, &press);
        };
        pressCameraKey();
        QCOMPARE(snapshots.load(), 0);
        pressCameraKey();
        QCOMPARE(snapshots.load(), 1);
        // Space takes a snapshot, R starts and stops a recording.
        QVERIFY(QTest::qWaitFor([&] { return dlg.displayWorker().composedCount() > 0; }, 5000));
        QTest::keyClick(&dlg, Qt::Key_Space);
        QVERIFY(dlg.statusText(2).endsWith(QLatin1String(".jpg")));
        QVERIFY(QFileInfo::exists(dlg.statusText(2)));
        QTest::keyClick(&dlg, Qt::Key_R);
        QVERIFY(dlg.recording().recorder().state() != RecordState::Idle);
        QVERIFY(QTest::qWaitFor(
            [&] { return dlg.recording().recorder().state() == RecordState::Running; }, 5000));
        // A recording that holds no frame is removed, so wait for one (slow under sanitizers).
        QVERIFY(
            QTest::qWaitFor([&] { return dlg.recording().recorder().writtenFrames() > 0; }, 10000));
        QTest::keyClick(&dlg, Qt::Key_R);
        QVERIFY(dlg.recording().recorder().state() == RecordState::Idle);
        QVERIFY(dlg.statusText(2).endsWith(QLatin1String(".mpeg")));
        QVERIFY(QFileInfo::exists(dlg.statusText(2)));
        QTest::keyClick(&dlg, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!dlg.isVisible());
    }

    void snapshotAndRecordingLandInTheSaveFolder() {
        start({});
        const QString folder = m_dir->filePath(QStringLiteral("shots")) + QLatin1Char('/');
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), folder);
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        QVERIFY(QTest::qWaitFor([&] { return dlg.displayWorker().composedCount() > 0; }, 5000));

        dlg.OnCommand(Cmd::Snap);
        const QString shot = dlg.statusText(2);
        QVERIFY2(shot.startsWith(folder) && shot.endsWith(QLatin1String(".jpg")), qPrintable(shot));
        Image saved;
        QVERIFY(saved.LoadJpeg(shot));
        QCOMPARE(saved.GetWidth(), 640);

        dlg.OnCommand(Cmd::Record);
        QCOMPARE(dlg.toolbarImage(ToolSlot::Record), Icon::Recording);
        QVERIFY(dlg.menuAction(Cmd::Record)->isChecked());
        QVERIFY(QTest::qWaitFor(
            [&] { return dlg.recording().recorder().state() == RecordState::Running; }, 5000));
        QTest::qWait(1500);
        QVERIFY(dlg.statusText(2).contains(dlg.recording().m_strTimeLen));  // the status timer runs
        dlg.OnCommand(Cmd::Record);
        QCOMPARE(dlg.toolbarImage(ToolSlot::Record), Icon::Record);
        QVERIFY(!dlg.menuAction(Cmd::Record)->isChecked());
        const QString movie = dlg.statusText(2);
        QVERIFY2(movie.endsWith(QLatin1String(".mpeg")), qPrintable(movie));
        QVERIFY(QFileInfo(movie).size() > 10000);
        QVERIFY(dlg.recording().recorder().writtenFrames() >= 24);
    }

    void aSnapshotThatCannotBeWrittenSaysSo() {
        start({});
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"),
                         m_dir->filePath(QStringLiteral("no/such/folder/")));
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        QVERIFY(QTest::qWaitFor([&] { return dlg.displayWorker().composedCount() > 0; }, 5000));
        dlg.OnCommand(Cmd::Snap);
        QVERIFY(dlg.statusText(2).endsWith(m_app->m_texts.text("MainWnd", "SNAPFAILED")));
    }
};

QTEST_MAIN(CameraWindowTest)
#include "CameraWindowTest.moc"
