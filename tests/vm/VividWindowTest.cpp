// The main window with vivid, the kernel's virtual video driver, inside the QEMU guest that
// tests/vm/run-in-vm boots: a camera that another program holds says so in the preview, and
// Play brings the picture once that program has let go; a brightness saved in the camera's
// parameter memory is put back into the driver at the next start, but not by a command line
// that finds the camera held by another program; unbinding the driver (as an
// unplug) closes the camera and binding it again opens it again.

#include <fcntl.h>
#include <linux/videodev2.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

#include "app/CommandLine.h"
#include "app/TavrelApp.h"
#include "capture/CaptureController.h"
#include "capture/FrameStore.h"
#include "contracts/Image.h"
#include "display/DisplayWorker.h"
#include "display/PreviewWidget.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"

#include "support/TestApp.h"

namespace {

// The first vivid capture node.
QString VividNode() {
    for (int i = 0; i < 64; ++i) {
        const QString node = QStringLiteral("/dev/video%1").arg(i);
        const int fd = ::open(node.toLocal8Bit().constData(), O_RDWR);
        if (fd < 0) {
            continue;
        }
        v4l2_capability cap{};
        const bool vivid = ::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0 &&
                           std::strcmp(reinterpret_cast<const char*>(cap.driver), "vivid") == 0 &&
                           (cap.device_caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
        ::close(fd);
        if (vivid) {
            return node;
        }
    }
    return {};
}

// The driver's brightness on `node`, read or written as another program would; -1 on failure.
int DriverBrightness(const QString& node, int set = -1) {
    const int fd = ::open(node.toLocal8Bit().constData(), O_RDWR);
    if (fd < 0) {
        return -1;
    }
    v4l2_control control{};
    control.id = V4L2_CID_BRIGHTNESS;
    control.value = set;
    const bool ok = ::ioctl(fd, set >= 0 ? VIDIOC_S_CTRL : VIDIOC_G_CTRL, &control) == 0;
    ::close(fd);
    return ok ? control.value : -1;
}

// A second program that streams from `node` until it is killed; returns its pid once it holds
// the device, or -1.
pid_t StreamInAnotherProcess(const QString& node) {
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    const QByteArray path = node.toLocal8Bit();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        const int fd = ::open(path.constData(), O_RDWR);
        v4l2_requestbuffers req{};
        req.count = 2;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        bool ok = fd >= 0 && ::ioctl(fd, VIDIOC_REQBUFS, &req) == 0;
        for (unsigned i = 0; ok && i < req.count; ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            ok = ::ioctl(fd, VIDIOC_QBUF, &buf) == 0;
        }
        ok = ok && ::ioctl(fd, VIDIOC_STREAMON, &type) == 0;
        const char answer = ok ? 'y' : 'n';
        (void)!::write(ready[1], &answer, 1);
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char answer = 'n';
    const bool holding = pid > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
    if (!holding && pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

}  // namespace

class VividWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aCameraHeldByAnotherProgramSaysSoAndPlayStartsItAfterwards() {
        const QString node = VividNode();
        if (node.isEmpty()) {
            QSKIP("no vivid device: run this test through tests/vm/run-in-vm");
        }
        const pid_t other = StreamInAnotherProcess(node);
        QVERIFY(other > 0);

        QTemporaryDir dir;
        const std::unique_ptr<CTavrelApp> started = StartTestApp(dir);
        CTavrelApp& app = *started;
        CTavrelDlg dlg(app, app);

        QCOMPARE(dlg.camera().camera().devNode, node);
        QCOMPARE(dlg.camera().problem(), PictureProblem::Busy);
        const QString device =
            QStringLiteral("%1 (%2)").arg(dlg.camera().camera().cardName.trimmed(), node);
        QCOMPARE(dlg.preview()->hint(), app.m_texts.text("MainWnd", "CAMERABUSYHINT").arg(device));
        QTest::qWait(500);
        QVERIFY(!dlg.frameStore().hasCurrentImage());

        ::kill(other, SIGKILL);
        ::waitpid(other, nullptr, 0);
        dlg.OnCommand(Cmd::Play);
        QVERIFY(QTest::qWaitFor([&] { return dlg.frameStore().hasCurrentImage(); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return dlg.preview()->hint().isEmpty(); }, 5000));
    }

    // The program from the command line, without a window, on the real driver: a snapshot
    // from the node named, and status 1 with the reason while another program holds it.
    void theCommandLineTakesASnapshotAndSaysWhenTheCameraIsHeld() {
        const QString node = VividNode();
        if (node.isEmpty()) {
            QSKIP("no vivid device: run this test through tests/vm/run-in-vm");
        }
        QTemporaryDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        auto snapshot = [&](const QString& file, QString* err) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.start(QStringLiteral(TAVREL_PROGRAM),
                          {QStringLiteral("--snapshot"), file, QStringLiteral("--camera"), node});
            if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
                return -1;
            }
            *err = QString::fromUtf8(process.readAllStandardError());
            return process.exitCode();
        };
        QString err;
        const QString file = dir.filePath(QStringLiteral("vivid.jpg"));
        QCOMPARE(snapshot(file, &err), 0);
        Image shot;
        QVERIFY(shot.LoadJpeg(file));
        QVERIFY(shot.GetWidth() > 0 && shot.GetHeight() > 0);

        const pid_t other = StreamInAnotherProcess(node);
        QVERIFY(other > 0);
        const int held = snapshot(dir.filePath(QStringLiteral("held.jpg")), &err);
        ::kill(other, SIGKILL);
        ::waitpid(other, nullptr, 0);
        QCOMPARE(held, 1);
        QVERIFY2(err.contains(node), qPrintable(err));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("held.jpg"))));
    }

    void aSavedBrightnessIsPutBackIntoTheDriverAtTheNextStart() {
        const QString node = VividNode();
        if (node.isEmpty()) {
            QSKIP("no vivid device: run this test through tests/vm/run-in-vm");
        }
        QTemporaryDir dir;
        const QStringList factory{QStringLiteral("-FACTORYMODE=1")};
        QString flashFile;
        {
            const std::unique_ptr<CTavrelApp> app = StartTestApp(dir, factory);
            CTavrelDlg dlg(*app, *app);
            QVERIFY(QTest::qWaitFor([&] { return dlg.frameStore().hasCurrentImage(); }, 10000));
            QVERIFY(QTest::qWaitFor([&] { return dlg.menuAction(Cmd::Snap)->isEnabled(); }, 5000));
            const CameraId& camera = dlg.camera().camera();
            QCOMPARE(camera.devNode, node);
            // A camera without a USB device keeps its flash under its bus info and card name.
            auto safe = [](QString text) {
                for (QChar& c : text) {
                    if (!c.isLetterOrNumber() && c != u'-' && c != u'_' && c != u'.') {
                        c = u'_';
                    }
                }
                return text;
            };
            flashFile = dir.filePath(QStringLiteral("data/Orvane/flash/v4l2-%1-%2.bin")
                                         .arg(safe(camera.busInfo), safe(camera.cardName)));
            QVERIFY(dlg.camera().captureGraph().source()->setProperty(CameraProperty::Brightness,
                                                                      100, kPropertyFlagsManual));
            QCOMPARE(DriverBrightness(node), 100);
            dlg.OnCommand(Cmd::SaveParameters);
            QCOMPARE(dlg.statusText(2), dlg.texts().m_strStoreInfo);
        }
        QVERIFY2(QFile::exists(flashFile), qPrintable(flashFile));
        // Meanwhile another program changes the driver's brightness.
        QCOMPARE(DriverBrightness(node, 40), 40);
        {
            // The command line pushes nothing into a camera that another program streams.
            const pid_t other = StreamInAnotherProcess(node);
            QVERIFY(other > 0);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
            env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
            QProcess process;
            process.setProcessEnvironment(env);
            process.start(QStringLiteral(TAVREL_PROGRAM),
                          {QStringLiteral("--snapshot"), dir.filePath(QStringLiteral("held.jpg")),
                           QStringLiteral("--camera"), node});
            const bool ended = process.waitForFinished(60000);
            ::kill(other, SIGKILL);
            ::waitpid(other, nullptr, 0);
            QVERIFY(ended);
            QCOMPARE(process.exitCode(), 1);
            QCOMPARE(DriverBrightness(node), 40);
        }

        const std::unique_ptr<CTavrelApp> app = StartTestApp(dir, factory);
        CTavrelDlg dlg(*app, *app);
        QVERIFY(QTest::qWaitFor([&] { return dlg.frameStore().hasCurrentImage(); }, 10000));
        QCOMPARE(DriverBrightness(node), 100);
        QCOMPARE(dlg.camera().parameters().m_lBrightness, 100L);
    }

    // Last: vivid's nodes may come back under other numbers.
    void unbindingTheDriverClosesTheCameraAndBindingItOpensItAgain() {
        const QString node = VividNode();
        if (node.isEmpty()) {
            QSKIP("no vivid device: run this test through tests/vm/run-in-vm");
        }
        QTemporaryDir dir;
        const std::unique_ptr<CTavrelApp> app = StartTestApp(dir);
        CTavrelDlg dlg(*app, *app);
        QVERIFY(QTest::qWaitFor([&] { return dlg.menuAction(Cmd::Snap)->isEnabled(); }, 10000));
        const QString identity = dlg.camera().camera().identityKey();

        auto writeSysfs = [](const char* path) {
            QFile file(QString::fromLatin1(path));
            return file.open(QIODevice::WriteOnly) && file.write("vivid.0") == 7;
        };
        QVERIFY(writeSysfs("/sys/bus/platform/drivers/vivid/unbind"));
        QVERIFY(QTest::qWaitFor([&] { return !dlg.camera().hasSource(); }, 10000));
        QCOMPARE(dlg.camera().problem(), PictureProblem::Removed);
        QVERIFY(!dlg.menuAction(Cmd::Freq50Hz)->isEnabled());

        QVERIFY(writeSysfs("/sys/bus/platform/drivers/vivid/bind"));
        QVERIFY(QTest::qWaitFor(
            [&] { return dlg.camera().captureGraph().state() == CaptureGraph::State::Running; },
            10000));
        QCOMPARE(dlg.camera().camera().identityKey(), identity);
        const auto before = dlg.displayWorker().composedCount();
        QVERIFY(QTest::qWaitFor([&] { return dlg.displayWorker().composedCount() > before + 5; },
                                10000));
        QVERIFY(dlg.menuAction(Cmd::Freq50Hz)->isEnabled());
    }
};

QTEST_MAIN(VividWindowTest)
#include "VividWindowTest.moc"
