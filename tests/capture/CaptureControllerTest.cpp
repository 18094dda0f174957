// The camera controller with the built-in virtual camera: what it reports, the watchdog of a
// quiet stream and what its restart keeps, Play after a format chosen while paused, the still
// trigger's reset by a format choice, and which snapshot-button presses reach it; with a fake
// camera, which error a failure is told with.
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "capture/FrameStore.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "support/FakeCamera.h"

namespace {

// The virtual camera behind a capture controller.
struct Rig {
    CameraSystem cameras{true};
    FrameStore frames;
    CaptureController camera{cameras, frames};

    // Opens the virtual camera and waits for its first frame.
    bool open() {
        camera.ChooseDevice(cameras.virtualDevice()->cameraId());
        return QTest::qWaitFor([&] { return camera.hasPicture(); }, 5000);
    }
};

}  // namespace

class CaptureControllerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aCameraThatCannotOpenIsReportedAndNothingRuns() {
        Rig rig;
        CameraSystem& cameras = rig.cameras;
        CaptureController& camera = rig.camera;
        QSignalSpy failures(&camera, &CaptureController::failure);
        const CameraId id = cameras.virtualDevice()->cameraId();
        cameras.virtualDevice()->unplug();
        camera.ChooseDevice(id);
        QCOMPARE(failures.count(), 1);
        QCOMPARE(failures.at(0).at(0).toString(), QStringLiteral("NOOPENSOURCE"));
        QCOMPARE(camera.problem(), PictureProblem::NoCamera);
        QVERIFY(!camera.hasSource());
        QCOMPARE(camera.captureGraph().state(), CaptureGraph::State::None);
        QVERIFY(!camera.TogglePreview());  // Play has nothing to start
    }

    void theFirstFrameIsReportedOncePerRequest() {
        Rig rig;
        CameraSystem& cameras = rig.cameras;
        CaptureController& camera = rig.camera;
        QSignalSpy first(&camera, &CaptureController::firstFrame);
        QSignalSpy sizes(&camera, &CaptureController::videoSizeChanged);
        camera.ChooseDevice(cameras.virtualDevice()->cameraId());
        QCOMPARE(camera.captureGraph().state(), CaptureGraph::State::Running);
        QVERIFY(!sizes.isEmpty());
        QVERIFY(first.wait(5000));
        QTest::qWait(300);  // more frames arrive: no more reports
        QCOMPARE(first.count(), 1);
        camera.RequestFrameNotice();
        QVERIFY(first.wait(5000));
        QCOMPARE(first.count(), 2);
    }

    void aQuietStreamIsStartedOverOnceThenReported() {
        Rig rig;
        CameraSystem& cameras = rig.cameras;
        CaptureController& camera = rig.camera;
        // Long enough that a slow (sanitizer) build still sees frames in time.
        camera.setFrameTimeout(std::chrono::milliseconds(1500));
        QSignalSpy starts(&camera, &CaptureController::previewStarted);
        QVERIFY(rig.open());
        QCOMPARE(starts.count(), 1);

        cameras.virtualDevice()->stall(true);
        QVERIFY(
            QTest::qWaitFor([&] { return camera.problem() == PictureProblem::NoFrames; }, 10000));
        QCOMPARE(starts.count(), 2);  // one restart of its own, not more
        QTest::qWait(1000);
        QCOMPARE(starts.count(), 2);
        QCOMPARE(camera.captureGraph().state(), CaptureGraph::State::Running);

        QSignalSpy told(&camera, &CaptureController::problemChanged);
        cameras.virtualDevice()->stall(false);
        QVERIFY(QTest::qWaitFor([&] { return camera.problem() == PictureProblem::None; }, 10000));
        QVERIFY(!told.isEmpty());
        // Quiet again later: it gets its one restart again.
        cameras.virtualDevice()->stall(true);
        QVERIFY(QTest::qWaitFor([&] { return starts.count() == 3; }, 10000));
    }

    // The watchdog's restart keeps what is in force; Play's start-over reads the stored choice.
    void aQuietStreamReopenedByItselfKeepsTheStreamInForce() {
        Rig rig;
        CaptureController& camera = rig.camera;
        int loads = 0;
        camera.loadParameters = [&](Camera&) {
            ++loads;
            camera.streamFormats().m_nResolutionIndex = 0;  // the stream choice kept in flash
        };
        camera.setFrameTimeout(std::chrono::milliseconds(1500));
        QSignalSpy starts(&camera, &CaptureController::previewStarted);
        QVERIFY(rig.open());
        QVERIFY(camera.ChooseResolution(false, 1));
        const CameraFormat chosen = camera.currentFormat();
        QCOMPARE(starts.count(), 2);

        rig.cameras.virtualDevice()->stall(true);
        QVERIFY(QTest::qWaitFor([&] { return starts.count() == 3; }, 10000));
        QCOMPARE(loads, 1);
        QCOMPARE(camera.currentFormat(), chosen);
        QCOMPARE(camera.streamFormats().m_nResolutionIndex, 1);

        rig.cameras.virtualDevice()->stall(false);
        camera.StartOver();
        QCOMPARE(loads, 2);
        QCOMPARE(camera.currentFormat(), camera.streamFormats().capabilities().front());
    }

    // A failure is told by the error of its own call: an earlier refusal as busy does not make
    // a camera that is gone "busy".
    void aFailureIsToldByTheErrorOfItsOwnCall() {
        CameraSystem cameras{false};
        FrameStore frames;
        CaptureController camera{cameras, frames};
        std::optional<int> openFails;
        cameras.setCameraFactory([&](const CameraId&) {
            auto fake = std::make_unique<FakeCamera>();
            fake->offered = {{PixelFormat::YUYV, 640, 480, 30}};
            fake->setFormatFails = EBUSY;
            fake->openFails = openFails;
            return fake;
        });
        CameraId id;
        id.devNode = QStringLiteral("/dev/video-fake");
        camera.ChooseDevice(id);
        QCOMPARE(camera.problem(), PictureProblem::Busy);

        openFails = ENOENT;
        camera.StartOver();
        QCOMPARE(camera.problem(), PictureProblem::NoCamera);
    }

    void aFormatChosenWhilePausedStartsWithPlay() {
        Rig rig;
        CaptureController& camera = rig.camera;
        QVERIFY(rig.open());
        QSignalSpy sizes(&camera, &CaptureController::videoSizeChanged);
        QVERIFY(camera.TogglePreview());  // pause
        QVERIFY(camera.ChooseResolution(false, 1));
        QVERIFY(!camera.hasPicture());  // no picture until it runs again
        QCOMPARE(camera.captureGraph().state(), CaptureGraph::State::Built);
        QCOMPARE(sizes.count(), 1);
        QCOMPARE(sizes.at(0).at(0).toInt(), camera.currentFormat().width);
        QVERIFY(camera.TogglePreview());
        QVERIFY(camera.wantPreview());
        QCOMPARE(camera.captureGraph().state(), CaptureGraph::State::Running);
        QVERIFY(QTest::qWaitFor([&] { return camera.hasPicture(); }, 5000));
        QCOMPARE(camera.streamFormats().m_nResolutionIndex, 1);
        QVERIFY(!camera.ChooseResolution(false, 99));  // past the list: nothing changes
        QCOMPARE(camera.streamFormats().m_nResolutionIndex, 1);
    }

    void aFormatChoiceResetsTheStillTrigger() {
        Rig rig;
        CameraSystem& cameras = rig.cameras;
        CaptureController& camera = rig.camera;
        std::atomic<int> snapshots{0};
        camera.frameIntake().takeSnapshot = [&] { ++snapshots; };
        QVERIFY(rig.open());
        QVERIFY(camera.ChooseResolution(false, 1));
        VirtualCameraDevice* device = cameras.virtualDevice();
        device->pressSnapshotButton();  // only arms the trigger
        QVERIFY(QTest::qWaitFor([&] { return bool(camera.frameIntake().m_bStillArmed); }, 3000));
        QCOMPARE(snapshots.load(), 0);
        device->pressSnapshotButton();
        QVERIFY(QTest::qWaitFor([&] { return snapshots.load() == 1; }, 3000));
    }

    // The camera's input device could not be grabbed: the desktop delivers the press to the
    // window as a key as well. Either report may come first; the pair takes one snapshot.
    void aPressReportedByTheCameraAndAsAKeyTakesOneSnapshot() {
        Rig rig;
        CameraSystem& cameras = rig.cameras;
        CaptureController& camera = rig.camera;
        std::atomic<int> snapshots{0};
        FrameIntake& intake = camera.frameIntake();
        intake.takeSnapshot = [&] { ++snapshots; };
        QVERIFY(rig.open());
        cameras.virtualDevice()->pressSnapshotButton();  // through the camera: only arms
        QVERIFY(QTest::qWaitFor([&] { return bool(intake.m_bStillArmed); }, 3000));
        QTest::qWait(int(FrameIntake::kSamePress.count()) + 50);

        auto cameraReport = [&] {
            std::thread([&] { intake.cameraButton().OnStillButton(); }).join();
        };
        cameraReport();
        intake.OnStillButton();
        QCOMPARE(snapshots.load(), 1);
        intake.OnStillButton();  // the key first this time
        cameraReport();
        QCOMPARE(snapshots.load(), 2);
        // Presses in quick succession from one source are separate presses.
        cameraReport();
        cameraReport();
        QCOMPARE(snapshots.load(), 4);
        // A report from the other source long after the last press is a press of its own.
        QTest::qWait(int(FrameIntake::kSamePress.count()) + 50);
        intake.OnStillButton();
        QCOMPARE(snapshots.load(), 5);
    }

    void pressesWhilePausedTakeNoSnapshotAfterResuming() {
        Rig rig;
        CameraSystem& cameras = rig.cameras;
        CaptureController& camera = rig.camera;
        std::atomic<int> snapshots{0};
        FrameIntake& intake = camera.frameIntake();
        intake.takeSnapshot = [&] { ++snapshots; };
        VirtualCameraDevice* device = cameras.virtualDevice();
        QVERIFY(rig.open());
        device->pressSnapshotButton();
        QVERIFY(QTest::qWaitFor([&] { return bool(intake.m_bStillArmed); }, 3000));

        QVERIFY(camera.TogglePreview());  // pause
        device->pressSnapshotButton();
        intake.OnStillButton();
        intake.cameraButton().OnStillButton();
        QSignalSpy first(&camera, &CaptureController::firstFrame);
        camera.RequestFrameNotice();
        QVERIFY(camera.TogglePreview());  // resume
        QVERIFY(first.wait(5000));
        QTest::qWait(300);  // several frames: a press left over would have arrived by now
        QCOMPARE(snapshots.load(), 0);
        QVERIFY(intake.m_bStillArmed);

        device->pressSnapshotButton();  // running again: this one counts
        QVERIFY(QTest::qWaitFor([&] { return snapshots.load() == 1; }, 3000));
    }
};

QTEST_MAIN(CaptureControllerTest)
#include "CaptureControllerTest.moc"
