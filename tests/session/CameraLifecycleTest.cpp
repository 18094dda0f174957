// The session's camera sequences without a window, on the built-in virtual camera: what an
// unplug ends and reports, how the camera comes back, how often the system's cameras are looked
// at, Restore without a picture, and the texts the states and keys stand for.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/TavrelApp.h"
#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "device/CameraDiscovery.h"
#include "output/RecordingController.h"
#include "session/CameraLifecycle.h"
#include "session/CameraSession.h"
#include "session/ProblemTexts.h"
#include "support/QStringPrinter.h"
#include "support/TestApp.h"

namespace {

QGuiApplication& App() {
    static int argc = 1;
    static char name[] = "session_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return app;
}

// A session and its lifecycle over the virtual camera, with files in a temporary folder.
struct Rig {
    explicit Rig(const QStringList& args = {}) {
        App();
        app = StartTestApp(dir, QStringList(args) << QStringLiteral("--virtual-camera"));
        session = std::make_unique<CameraSession>(*app, *app);
        session->StartDisplay(nullptr);
        life = std::make_unique<CameraLifecycle>(*session, *app);
    }
    ~Rig() {
        life.reset();
        session->Close();
    }
    VirtualCameraDevice& device() { return *session->cameraSystem().virtualDevice(); }
    bool waitForPicture() {
        return QTest::qWaitFor([this] { return session->camera().hasPicture(); }, 5000);
    }

    QTemporaryDir dir;
    std::unique_ptr<CTavrelApp> app;
    std::unique_ptr<CameraSession> session;
    std::unique_ptr<CameraLifecycle> life;
};

}  // namespace

TEST(CameraLifecycleTest, AnUnplugKeepsTheRecordingAndThePausedCameraComesBackPaused) {
    Rig rig;
    CaptureController& camera = rig.session->camera();
    ASSERT_TRUE(rig.life->OpenFirst());
    ASSERT_TRUE(rig.waitForPicture());
    RecordingController& recording = rig.session->recording();
    const QString file = rig.dir.filePath(QStringLiteral("unplugged.mpeg"));
    ASSERT_TRUE(recording.RecordTo(file));
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording.recorder().writtenFrames() > 2; }, 5000));
    ASSERT_TRUE(rig.life->Play());  // paused: the recording keeps what it has
    ASSERT_FALSE(camera.wantPreview());
    rig.life->setPanWindowWanted();

    QSignalSpy unplugged(rig.life.get(), &CameraLifecycle::cameraUnplugged);
    const CameraId id = camera.camera();
    rig.device().unplug();
    const int scans = rig.session->discovery().scanCount();
    rig.life->OnDeviceChange(false, id.devNode);
    EXPECT_EQ(rig.session->discovery().scanCount(), scans + 1);  // one look per event
    ASSERT_EQ(unplugged.count(), 1);
    EXPECT_TRUE(unplugged.at(0).at(0).toBool());
    EXPECT_EQ(unplugged.at(0).at(1).toString(), file);
    EXPECT_FALSE(recording.recording());
    EXPECT_GT(QFileInfo(file).size(), 0);
    EXPECT_TRUE(rig.life->cameraRemoved());
    EXPECT_FALSE(camera.hasSource());
    EXPECT_EQ(camera.problem(), PictureProblem::Removed);

    // Another device's arrival opens nothing while the unplugged camera is away.
    rig.life->OnDeviceChange(true, QStringLiteral("/dev/video9"));
    EXPECT_FALSE(camera.hasSource());

    QSignalSpy reopen(rig.life.get(), &CameraLifecycle::panWindowReopen);
    rig.device().plug();
    const int before = rig.session->discovery().scanCount();
    rig.life->OnDeviceChange(true, id.devNode);
    EXPECT_EQ(rig.session->discovery().scanCount(), before + 1);
    ASSERT_TRUE(camera.hasSource());
    EXPECT_EQ(camera.camera(), id);
    EXPECT_FALSE(camera.wantPreview());  // as the user left it
    EXPECT_NE(camera.captureGraph().state(), CaptureGraph::State::Running);
    EXPECT_FALSE(rig.life->cameraRemoved());
    EXPECT_EQ(reopen.count(), 1);
    EXPECT_EQ(rig.life->openCamera(), id);
}

// Restore needs an open camera, not a picture: a factory user whose camera shows nothing can
// still go back to the default block.
TEST(CameraLifecycleTest, RestoreWorksOnACameraThatShowsNothing) {
    Rig rig({QStringLiteral("-FACTORYMODE=1")});
    rig.device().stall(true);
    ASSERT_TRUE(rig.life->OpenFirst());
    QTest::qWait(200);
    ASSERT_FALSE(rig.session->camera().hasPicture());
    rig.session->ChooseSaveFolder(rig.dir.filePath(QStringLiteral("elsewhere")));

    QSignalSpy opened(&rig.session->camera(), &CaptureController::previewStarted);
    EXPECT_EQ(rig.life->RestoreParameters(), FlashWrite::Written);
    EXPECT_EQ(rig.session->saveFolder(), rig.app->m_strPicturesFolder + QLatin1Char('/'));
    EXPECT_EQ(opened.count(), 1);  // opened anew for the default block
    rig.device().stall(false);
    EXPECT_TRUE(rig.waitForPicture());

    rig.session->Close();
    EXPECT_EQ(rig.life->RestoreParameters(), FlashWrite::Skipped);  // no camera open
}

// A parameter memory file of the wrong size: the user is told once, when it is read.
TEST(CameraLifecycleTest, AFlashFileSetAsideIsToldOnce) {
    Rig rig;
    const QString folder = rig.app->m_strDataRoot + QStringLiteral("/Orvane/flash/");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile shortFile(folder + QStringLiteral("1209-0001-TVM-0001.bin"));
    ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly) && shortFile.write("short") == 5);
    shortFile.close();

    QSignalSpy notices(rig.life.get(), &CameraLifecycle::flashNotice);
    ASSERT_TRUE(rig.life->OpenFirst());
    ASSERT_EQ(notices.count(), 1);
    EXPECT_EQ(notices.at(0).at(0).toString(), QStringLiteral("FLASHWRONGSIZE"));
    EXPECT_EQ(notices.at(0).at(1).toString(), shortFile.fileName());
    ASSERT_TRUE(rig.waitForPicture());
    rig.life->Play();
    rig.life->Play();
    EXPECT_EQ(notices.count(), 1);
}

TEST(ProblemTextsTest, OneTableGivesTheWindowAndTheCommandLineTheirTexts) {
    App();
    QTemporaryDir dir;
    const auto app = StartTestApp(dir, {});
    CameraId camera;
    camera.devNode = QStringLiteral("/dev/video3");
    camera.cardName = QStringLiteral("Scope ");
    const Texts& texts = app->m_texts;

    EXPECT_EQ(PictureProblemText(texts, TextPlace::Window, PictureProblem::Busy, true, camera),
              texts.text("MainWnd", "CAMERABUSYHINT").arg(QStringLiteral("Scope (/dev/video3)")));
    EXPECT_EQ(
        PictureProblemText(texts, TextPlace::CommandLine, PictureProblem::Busy, true, camera),
        texts.text("CommandLine", "CAMERABUSY").arg(QStringLiteral("Scope (/dev/video3)")));
    // An open camera without a problem: no hint in the window, no picture in time on the
    // command line; no camera at all: the no-camera texts.
    EXPECT_TRUE(
        PictureProblemText(texts, TextPlace::Window, PictureProblem::None, true, camera).isEmpty());
    EXPECT_EQ(PictureProblemText(texts, TextPlace::CommandLine, PictureProblem::None, true, camera),
              texts.text("CommandLine", "NOFRAMES").arg(QStringLiteral("Scope (/dev/video3)")));
    EXPECT_EQ(PictureProblemText(texts, TextPlace::Window, PictureProblem::None, false, camera),
              texts.text("MainWnd", "NOCAMERAHINT"));

    // The USB device list's failures are fixed texts, shown at once; the others are looked up.
    EXPECT_EQ(FailureText(texts, QStringLiteral("DEVICELIST"), FailureFrom::Search),
              QStringLiteral("获取系统设备列表失败"));
    EXPECT_TRUE(FailureIsShown(QStringLiteral("DEVICEID")));
    EXPECT_FALSE(FailureIsShown(QStringLiteral("NOHARDWARE")));
    EXPECT_EQ(FailureText(texts, QStringLiteral("NOHARDWARE"), FailureFrom::Search),
              texts.text("WndMessage", "NOHARDWARE"));
}
