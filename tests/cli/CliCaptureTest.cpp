// The program run from the command line without a window, as a script runs it: the real
// binary, its exit status, its standard output and the files it writes.

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "capture/FrameStore.h"
#include "contracts/Image.h"
#include "display/DisplayWorker.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"
#include "support/OutputTestSupport.h"
#include "support/TestApp.h"

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// PSNR of two 24-bit images of one size, in dB; -1 when they cannot be compared.
double Psnr(const Image& a, const Image& b) {
    if (!a.IsValid() || !b.IsValid() || a.GetWidth() != b.GetWidth() ||
        a.GetHeight() != b.GetHeight() || a.GetBpp() != 24 || b.GetBpp() != 24) {
        return -1;
    }
    double sum = 0;
    for (int y = 0; y < a.GetHeight(); ++y) {
        const uint8_t* p = a.GetBits(y);
        const uint8_t* q = b.GetBits(y);
        for (int i = 0; i < a.GetWidth() * 3; ++i) {
            const double d = double(p[i]) - double(q[i]);
            sum += d * d;
        }
    }
    const double mse = sum / (double(a.GetWidth()) * a.GetHeight() * 3);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

class CliCaptureTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The program with its files where the window tests keep theirs (TestLocations).
    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return env;
    }

    void Start(QProcess& process, const QStringList& args) const {
        process.setProcessEnvironment(Environment());
        process.start(QStringLiteral(TAVREL_PROGRAM), args);
    }

    Run Tavrel(const QStringList& args) const {
        QProcess process;
        Start(process, args);
        Run run;
        if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit) {
            run.status = process.exitCode();
        }
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QString File(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

    // The program has blocked SIGINT, to take it in its event loop (it is past its start).
    static bool SignalsBlocked(pid_t pid) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly)) {
            return false;
        }
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("SigBlk:")) {
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGINT - 1)) & 1;
            }
        }
        return false;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // The messages checked below are the English ones.
        QVERIFY(QDir().mkpath(File("config/Orvane")));
        QFile settings(File("config/Orvane/Setting.ini"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[LANGUAGESET]\nLANGUAGE=English\n");
    }

    // What a script relies on: the camera list, and a status for every way it can go wrong.
    void listsTheCameraAndReportsEachFailureByItsStatus() {
        const Run list = Tavrel({"--list-cameras", "--verbose", "--virtual-camera"});
        QCOMPARE(list.status, 0);
        QVERIFY2(list.out.startsWith(QStringLiteral("virtual:0\t1209:0001\tTVM-0001\t")),
                 qPrintable(list.out));
        QVERIFY2(list.out.contains(QStringLiteral("\tMJPG ")) &&
                     list.out.contains(QStringLiteral("1920x1080")),
                 qPrintable(list.out));

        // A size that is no size, and one the camera does not offer: usage errors, no file.
        const Run malformed =
            Tavrel({"--snapshot", File("bad.jpg"), "--virtual-camera", "--size", "1920by1080"});
        QCOMPARE(malformed.status, 2);
        QVERIFY(malformed.err.contains(QStringLiteral("--size")));
        const Run unoffered = Tavrel({"--snapshot", File("bad.jpg"), "--virtual-camera", "--format",
                                      "MJPG", "--size", "1000x1000"});
        QCOMPARE(unoffered.status, 2);
        QVERIFY2(unoffered.err.contains(QStringLiteral("MJPG 1920x1080")),
                 qPrintable(unoffered.err));
        QVERIFY(!QFile::exists(File("bad.jpg")));

        // A camera that is not there; a file that cannot be written (under a plain file).
        QCOMPARE(
            Tavrel({"--snapshot", File("none.jpg"), "--camera", "dead:beef", "--virtual-camera"})
                .status,
            1);
        QFile plain(File("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const Run unwritable = Tavrel({"--snapshot", File("plain/x.jpg"), "--virtual-camera"});
        QCOMPARE(unwritable.status, 3);
        QVERIFY(unwritable.out.isEmpty());
        QCOMPARE(Tavrel({"--record", "1", File("plain/x.mpeg"), "--virtual-camera"}).status, 3);
    }

    // The snapshot holds what the window shows with the same stored settings: here a zoom
    // kept in the camera's parameter memory.
    void theSnapshotIsThePictureTheWindowShows() {
        Image plain;
        Image reference;
        {
            // Factory mode keeps a saved block (with its crosshair on), so that the zoom a
            // user leaves at the next close counts at every later start.
            auto app = StartTestApp(m_dir, {"--virtual-camera", "-FACTORYMODE=1"});
            CTavrelDlg dlg(*app, *app);
            QVERIFY(WaitForPicture(dlg));
            QTest::qWait(300);
            QVERIFY(dlg.frameStore().copyComposedImage(plain));
            dlg.OnCommand(Cmd::SaveParameters);
        }
        {
            auto app = StartTestApp(m_dir, {"--virtual-camera"});
            CTavrelDlg dlg(*app, *app);
            QVERIFY(WaitForPicture(dlg));
            for (int i = 0; i < 3; ++i) {
                dlg.OnCommand(Cmd::ZoomIn);
            }
        }
        {
            auto app = StartTestApp(m_dir, {"--virtual-camera"});
            CTavrelDlg dlg(*app, *app);
            // The virtual camera's field drifts and counts its frames: the picture is taken
            // at the frame the command line takes it at.
            QVERIFY(QTest::qWaitFor([&] { return dlg.displayWorker().composedCount() >= 10; }));
            QVERIFY(dlg.frameStore().copyComposedImage(reference));
        }
        const Run run =
            Tavrel({"--snapshot", File("shot.jpg"), "--virtual-camera", "--warmup", "10"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, File("shot.jpg") + u'\n');
        Image shot;
        QVERIFY(shot.LoadJpeg(File("shot.jpg")));
        const double same = Psnr(shot, reference);
        const double other = Psnr(shot, plain);
        QVERIFY2(same > 30.0, qPrintable(QStringLiteral("%1 dB").arg(same)));
        // The comparison tells the stored zoom from none.
        QVERIFY2(other < same - 6.0, qPrintable(QStringLiteral("%1 / %2 dB").arg(other).arg(same)));

        // A series at another size, without the overlay: numbered files of that size.
        const Run series = Tavrel({"--snapshot", File("s.jpg"), "--count", "2", "--interval", "0.2",
                                   "--virtual-camera", "--format", "yuyv", "--size", "800x600",
                                   "--no-overlay", "-FACTORYMODE=1"});
        QCOMPARE(series.status, 0);
        QCOMPARE(series.out, File("s-1.jpg") + u'\n' + File("s-2.jpg") + u'\n');
        Image second;
        QVERIFY(second.LoadJpeg(File("s-2.jpg")));
        QCOMPARE(second.GetWidth(), 800);
        // Without the overlay the centre shows the field, not the factory's crosshair.
        const uint8_t* cross = plain.GetBits(plain.GetHeight() / 2) + plain.GetWidth() / 2 * 3;
        const uint8_t* field = second.GetBits(second.GetHeight() / 2) + second.GetWidth() / 2 * 3;
        int distance = 0;
        for (int i = 0; i < 3; ++i) {
            distance += std::abs(int(cross[i]) - int(field[i]));
        }
        QVERIFY2(distance > 90, qPrintable(QString::number(distance)));
    }

    // A recording lasts as long as asked; a signal ends it early with a complete file.
    void recordsForTheSecondsAskedAndEndsEarlyOnASignal() {
        const Run run = Tavrel({"--record", "3", File("r.mpeg"), "--virtual-camera"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, File("r.mpeg") + u'\n');
        const DecodedFile file = decodeFile(File("r.mpeg"));
        QVERIFY(file.opened);
        QCOMPARE(file.codec, AV_CODEC_ID_MPEG1VIDEO);
        QCOMPARE(file.frameRate.num, 24 * file.frameRate.den);
        QVERIFY2(std::abs(file.stampedSeconds - 3.0) <= 0.1,
                 qPrintable(QString::number(file.stampedSeconds)));

        QProcess process;
        Start(process, {"--record", "60", File("i.mpeg"), "--virtual-camera"});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(File("i.mpeg")), 10000);
        QTest::qWait(1000);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), File("i.mpeg") + u'\n');
        const DecodedFile early = decodeFile(File("i.mpeg"));
        QVERIFY(early.opened);
        QVERIFY2(early.stampedSeconds > 0.8 && early.stampedSeconds < 3.0,
                 qPrintable(QString::number(early.stampedSeconds)));
        QCOMPARE(int(early.rgb.size()), int(std::lround(early.stampedSeconds * 24)));
    }

    // A recording into a pipe ends with a failed write when its reader goes away, and a
    // SIGTERM ends one whose reader takes nothing, within a bounded time.
    void aRecordingIntoAPipeEndsWhenItsReaderGoesAndOnSigtermWhenItIsStuck() {
        const QStringList record = {"--record", "60", "/dev/stdout", "--virtual-camera"};
        // Its standard output into `reader`'s standard input.
        auto piped = [&](QProcess& process, QProcess& reader, const QStringList& command) {
            process.setStandardOutputProcess(&reader);
            reader.start(command.first(), command.mid(1));
            Start(process, record);
            return process.waitForStarted() && reader.waitForStarted();
        };
        {
            QProcess tavrel;
            QProcess head;
            QVERIFY(piped(tavrel, head, {"head", "-c", "1000"}));
            QVERIFY(head.waitForFinished(10000));
            QVERIFY(head.readAllStandardOutput().startsWith(QByteArray("\x00\x00\x01\xba", 4)));
            QVERIFY(tavrel.waitForFinished(5000));
            QCOMPARE(tavrel.exitCode(), 3);
        }
        for (const int sent : {1, 2}) {
            QProcess tavrel;
            QProcess sleeper;
            QVERIFY(piped(tavrel, sleeper, {"sleep", "60"}));
            // Until the pipe is full (seen through the reader's end) and the encoder waits on it.
            const int pipe =
                ::open(qPrintable(QStringLiteral("/proc/%1/fd/0").arg(sleeper.processId())),
                       O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            QVERIFY(pipe >= 0);
            int queued = 0;
            QVERIFY(QTest::qWaitFor(
                [&] { return ::ioctl(pipe, FIONREAD, &queued) == 0 && queued >= 60000; }, 10000));
            ::close(pipe);
            QTest::qWait(500);
            QElapsedTimer clock;
            clock.start();
            for (int n = 0; n < sent; ++n) {
                QTest::qWait(n * 300);
                ::kill(pid_t(tavrel.processId()), SIGTERM);
            }
            QVERIFY(tavrel.waitForFinished(12000));
            sleeper.kill();
            sleeper.waitForFinished();
            if (sent == 1) {
                // Cut off after a grace for the rest of the file: incomplete, so no success.
                QCOMPARE(tavrel.exitCode(), 3);
                QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
            } else {
                // A second signal does not wait for the grace.
                QCOMPARE(tavrel.exitCode(), 128 + SIGTERM);
                QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
            }
        }
    }

    // Files the program cannot create say why; devices, existing files and standard output are
    // written into or replaced as they should be, never removed or clobbered.
    void recordingTargetsAreWrittenAsTheyAreOrRefusedWithAReason() {
        // A folder that cannot be made, and one in which nothing can be created (even by root).
        const Run missing =
            Tavrel({"--record", "1", File("gone/deeper/x.mpeg"), "--virtual-camera"});
        QCOMPARE(missing.status, 3);
        QVERIFY2(
            missing.err.contains(QStringLiteral("Recording could not be started: the folder ") +
                                 File("gone/deeper") + QStringLiteral(" does not exist")),
            qPrintable(missing.err));
        QVERIFY(missing.out.isEmpty());
        QVERIFY(!QFileInfo::exists(File("gone")));
        const Run proc = Tavrel({"--record", "1", "/proc/tavrel-test.mpeg", "--virtual-camera"});
        QCOMPARE(proc.status, 3);
        QVERIFY2(proc.err.contains(QStringLiteral("Recording could not be started: ")),
                 qPrintable(proc.err));

        // Usage errors touch nothing: another container, a second FILE.
        QFile kept(File("kept.mpeg"));
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.write("keep me");
        kept.close();
        const Run mp4 = Tavrel({"--record", "1", File("x.mp4"), "--virtual-camera"});
        QCOMPARE(mp4.status, 2);
        QVERIFY(mp4.err.contains(QStringLiteral(".mpeg or .mpg")));
        QCOMPARE(
            Tavrel({"--record", "1", File("kept.mpeg"), File("b.mpeg"), "--virtual-camera"}).status,
            2);
        // A signal before the first picture: said, and the existing FILE untouched.
        QProcess early;
        Start(early, {"--record", "5", File("kept.mpeg"), "--virtual-camera", "--warmup", "1000"});
        QVERIFY(early.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return SignalsBlocked(pid_t(early.processId())); }, 5000));
        ::kill(pid_t(early.processId()), SIGINT);
        QVERIFY(early.waitForFinished(10000));
        QCOMPARE(early.exitCode(), 1);
        QVERIFY2(early.readAllStandardError().contains("Stopped before the first picture"),
                 "no message");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("keep me"));
        kept.close();
        // The shortest recording still holds a picture, and replaces the file.
        const Run shortest = Tavrel({"--record", "0.001", File("kept.mpeg"), "--virtual-camera"});
        QCOMPARE(shortest.status, 0);
        QCOMPARE(shortest.out, File("kept.mpeg") + u'\n');
        QCOMPARE(int(decodeFile(File("kept.mpeg")).rgb.size()), 1);

        // Standard output redirected into a file: the recording alone, no name in it.
        QProcess redirected;
        redirected.setStandardOutputFile(File("out.mpeg"));
        Start(redirected, {"--record", "1", "/dev/stdout", "--virtual-camera"});
        QVERIFY(redirected.waitForFinished(30000));
        QCOMPARE(redirected.exitCode(), 0);
        const DecodedFile out = decodeFile(File("out.mpeg"));
        QVERIFY(out.opened);
        QVERIFY2(std::abs(out.stampedSeconds - 1.0) <= 0.1,
                 qPrintable(QString::number(out.stampedSeconds)));

        // A device that is full: written into, refused with status 3, and still a device.
        const QByteArray full = QFile::encodeName(File("full"));
        if (::mknod(full.constData(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
            QSKIP("no private character device can be made here (needs CAP_MKNOD)");
        }
        const Run device = Tavrel({"--record", "2", File("full"), "--virtual-camera"});
        struct stat st {};
        QCOMPARE(::lstat(full.constData(), &st), 0);
        QVERIFY2(S_ISCHR(st.st_mode), "the device is still a device");
        if (device.err.contains(QStringLiteral("Permission denied"))) {
            QSKIP("devices cannot be opened in this folder (mounted nodev)");
        }
        QCOMPARE(device.status, 3);
        QVERIFY2(device.err.contains(QStringLiteral("Could not write")), qPrintable(device.err));
    }
};

QTEST_MAIN(CliCaptureTest)
#include "CliCaptureTest.moc"
