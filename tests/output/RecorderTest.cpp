#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "capture/FrameStore.h"
#include "contracts/Image.h"
#include "display/DisplayWorker.h"
#include "display/Overlay.h"
#include "output/Recorder.h"
#include "output/Snapshot.h"

#include "support/OutputTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QDateTime at(int ms) {
    return QDateTime(QDate(2021, 11, 5), QTime(14, 30, 9, ms));
}

// The picture shown at sample i, as red-green-blue at relative picture coordinates (u, v in
// 0..1, v = 0 at the top), so that every size shows the same scene. It changes steadily with
// i and does not repeat within a recording, so a frame tells which moment it shows.
void shownRgb(int i, double u, double v, uint8_t rgb[3]) {
    constexpr double kTwoPi = 6.283185307179586;
    rgb[0] = uint8_t(128 + 100 * std::sin(kTwoPi * (2 * u + 0.013 * i)));
    rgb[1] = uint8_t(128 + 100 * std::cos(kTwoPi * (1.5 * v + 0.0071 * i)));
    rgb[2] = uint8_t(20 + (i % 200) + 30 * (u + v) / 2);
}

// The composed frame of sample i at width x height: 24-bit, bottom-up, blue-green-red.
Image composedFrame(int i, int width, int height) {
    Image img;
    img.Create(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = img.GetBits(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            uint8_t rgb[3];
            shownRgb(i, (x + 0.5) / width, (y + 0.5) / height, rgb);
            row[3 * x + 0] = rgb[2];
            row[3 * x + 1] = rgb[1];
            row[3 * x + 2] = rgb[0];
        }
    }
    return img;
}

// Sample i as shown at shownWidth x shownHeight, top-down RGB24 rows of `width` pixels
// (the top-left width x height part). Kept once computed: the checks compare many frames.
const std::vector<uint8_t>& expectedRgb(int i, int width, int height, int shownWidth,
                                        int shownHeight) {
    static std::map<std::array<int, 5>, std::vector<uint8_t>> cache;
    std::vector<uint8_t>& rgb = cache[{i, width, height, shownWidth, shownHeight}];
    if (rgb.empty()) {
        rgb.resize(size_t(width) * height * 3);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                shownRgb(i, (x + 0.5) / shownWidth, (y + 0.5) / shownHeight,
                         rgb.data() + (size_t(y) * width + x) * 3);
            }
        }
    }
    return rgb;
}

// PSNR of a decoded frame (width x height of the file) against sample i as shown at
// shownWidth x shownHeight (the file may hold only its top-left part, for odd sizes).
double psnr(const std::vector<uint8_t>& rgb, int width, int height, int i, int shownWidth,
            int shownHeight) {
    const std::vector<uint8_t>& want = expectedRgb(i, width, height, shownWidth, shownHeight);
    if (rgb.size() != want.size()) {
        return 0;
    }
    double sum = 0;
    for (size_t n = 0; n < want.size(); ++n) {
        const double d = double(rgb[n]) - want[n];
        sum += d * d;
    }
    const double mse = sum / double(want.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A recorder on a fake clock, with the callbacks counted.
struct TestRecorder {
    std::atomic<int64_t> now{100000};
    std::atomic<int> started{0};
    std::atomic<int> openFailed{0};
    std::atomic<int> openError{-1};
    std::atomic<int> writeFailed{0};
    Recorder rec{[this] { return now.load(); }};

    TestRecorder() {
        Recorder::Callbacks cb;
        cb.started = [this](uint64_t) { ++started; };
        cb.openFailed = [this](uint64_t, int error) {
            openError = error;
            ++openFailed;
        };
        cb.writeFailed = [this](uint64_t) { ++writeFailed; };
        rec.setCallbacks(cb);
    }

    // The first frame's size after a request; waits until the encoder thread has reported
    // the open's outcome (the frame path itself does not wait).
    void open(int width, int height) {
        const int reports = started + openFailed;
        rec.StartPendingRecording(width, height);
        for (int i = 0; i < 10000 && started + openFailed == reports; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // One tick of the window's 34 ms frame timer: the composed frame of sample i.
    bool tick(int i, int width, int height, bool wait = true) {
        const bool taken = rec.SampleFrame(composedFrame(i, width, height));
        if (wait) {
            EXPECT_TRUE(rec.waitIdle(10000));
        }
        return taken;
    }
};

// Records `samples` ticks of 34 ms at the given shown sizes (sizeOf(i) gives width, height),
// starting 34 ms after the open, and stops at stopAfterMs. Returns the file name.
template <typename SizeOf>
QString record(TestRecorder& t, const QString& folder, int width, int height, int samples,
               int64_t stopAfterMs, SizeOf sizeOf) {
    EXPECT_TRUE(t.rec.Request(folder, at(7)));
    t.open(width, height);
    EXPECT_EQ(t.rec.state(), RecordState::Running);
    const int64_t open = t.now;
    for (int i = 0; i < samples; ++i) {
        t.now = open + 34 * (i + 1);
        const auto [w, h] = sizeOf(i);
        EXPECT_TRUE(t.tick(i, w, h)) << "sample " << i;
    }
    t.now = open + stopAfterMs;
    t.rec.Stop();
    EXPECT_EQ(t.rec.state(), RecordState::Idle);
    return t.rec.fileName();
}

}  // namespace

// ---- States ----

TEST(RecorderState, RequestAndStopBeforeTheFirstFrameOpenNothing) {
    QTemporaryDir dir;
    TestRecorder t;
    EXPECT_EQ(t.rec.state(), RecordState::Idle);
    EXPECT_EQ(t.rec.state(), RecordState::Idle);
    t.rec.StartPendingRecording(320, 240);  // no request: nothing happens
    EXPECT_EQ(t.rec.state(), RecordState::Idle);

    const QString folder = dir.path() + "/";
    ASSERT_TRUE(t.rec.Request(folder, at(42)));
    EXPECT_EQ(t.rec.state(), RecordState::Requested);
    EXPECT_NE(t.rec.state(), RecordState::Idle);
    EXPECT_EQ(t.rec.fileName(), folder + "20211105-143009- 42.mpeg");
    EXPECT_FALSE(t.rec.Request(folder, at(43)));  // already requested
    EXPECT_EQ(t.rec.fileName(), folder + "20211105-143009- 42.mpeg");
    EXPECT_FALSE(t.rec.SampleFrame(composedFrame(0, 320, 240)));  // nothing open to take it

    t.rec.Stop();
    EXPECT_EQ(t.rec.state(), RecordState::Idle);
    EXPECT_EQ(t.rec.state(), RecordState::Idle);
    t.rec.StartPendingRecording(320, 240);  // the withdrawn request opens nothing
    EXPECT_EQ(t.started, 0);
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
    t.rec.Stop();  // stopping while idle does nothing
    EXPECT_EQ(t.rec.state(), RecordState::Idle);
}

TEST(RecorderState, TheFirstFrameAfterARequestOpensTheFileOnce) {
    QTemporaryDir dir;
    TestRecorder t;
    ASSERT_TRUE(t.rec.Request(dir.path() + "/", at(0)));
    t.rec.StartPendingRecording(0, 0);  // no frame size yet
    EXPECT_EQ(t.rec.state(), RecordState::Requested);
    t.open(320, 240);
    EXPECT_EQ(t.rec.state(), RecordState::Running);
    EXPECT_NE(t.rec.state(), RecordState::Idle);
    EXPECT_EQ(t.started, 1);
    t.rec.StartPendingRecording(640, 480);  // later frames change nothing
    EXPECT_EQ(t.started, 1);
    EXPECT_EQ(t.rec.width(), 320);
    EXPECT_EQ(t.rec.height(), 240);
    EXPECT_TRUE(QFileInfo::exists(t.rec.fileName()));
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                    .match(t.rec.startText())
                    .hasMatch())
        << t.rec.startText().toStdString();
    t.rec.Stop();
    EXPECT_EQ(t.rec.state(), RecordState::Idle);
    EXPECT_EQ(t.openFailed, 0);
    EXPECT_EQ(t.writeFailed, 0);
}

// Nice values of this process's threads, from /proc (field 19 of each task's stat line).
std::vector<int> ThreadNiceValues() {
    std::vector<int> values;
    for (const QString& task :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/self/task/" + task + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;  // the thread has just ended
        }
        const QByteArray line = stat.readAll();
        // The name in brackets may hold spaces: count the fields after its closing bracket.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 16) {
            values.push_back(fields[16].toInt());
        }
    }
    return values;
}

TEST(RecorderState, TheEncoderAndTheCodecsThreadsGiveWayToTheLivePicture) {
    // The encoder (and the two slice threads the codec starts from it) run at a lower priority
    // than the threads that show the picture, which keep the process's own.
    QTemporaryDir dir;
    TestRecorder t;
    const int own = ::getpriority(PRIO_PROCESS, 0);
    if (own > 14) {
        GTEST_SKIP() << "the tests already run at nice " << own << ": no room below";
    }
    ASSERT_TRUE(t.rec.Request(dir.path() + "/", at(0)));
    t.open(320, 240);
    ASSERT_EQ(t.rec.state(), RecordState::Running);
    const std::vector<int> nice = ThreadNiceValues();
    t.rec.Stop();
    const auto lower = std::count_if(nice.begin(), nice.end(), [&](int n) { return n > own; });
    EXPECT_GE(lower, 2) << "encoder and codec threads at a lower priority";
    EXPECT_GE(std::count(nice.begin(), nice.end(), own), 1) << "this thread keeps its own";
}

TEST(RecorderState, AMissingSaveFolderIsMadeAsForSnapshotsAndOneBeyondFailsTheOpen) {
    QTemporaryDir dir;
    TestRecorder t;
    // A fresh account without its Pictures folder: made, one level, as a snapshot makes it.
    ASSERT_TRUE(t.rec.Request(dir.filePath("Pictures") + "/", at(4)));
    t.open(320, 240);
    EXPECT_EQ(t.rec.state(), RecordState::Running);
    t.rec.Stop();
    EXPECT_TRUE(QFileInfo(dir.filePath("Pictures")).isDir());

    const QString folder = dir.filePath("missing/deeper") + "/";
    ASSERT_TRUE(t.rec.Request(folder, at(5)));
    t.open(320, 240);
    EXPECT_EQ(t.rec.state(), RecordState::Idle);
    EXPECT_EQ(t.openFailed, 1);
    EXPECT_EQ(t.openError, ENOENT);  // the reason travels with the report
    EXPECT_EQ(t.started, 1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("missing")));

    // The next Record starts a new request with a new name.
    ASSERT_TRUE(t.rec.Request(folder, at(6)));
    EXPECT_EQ(t.rec.fileName(), folder + "20211105-143009-  6.mpeg");
    t.rec.Stop();
}

TEST(RecorderState, NoEmptyRecordingIsLeftBehind) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const auto files = [&] { return QDir(folder).entryList(QDir::Files | QDir::Hidden); };

    // Record pressed twice quickly: the file was opened by the first frame, but no sample
    // reached it before the stop.
    {
        TestRecorder t;
        ASSERT_TRUE(t.rec.Request(folder, at(1)));
        t.open(320, 240);
        ASSERT_EQ(t.rec.state(), RecordState::Running);
        EXPECT_TRUE(QFileInfo::exists(t.rec.fileName()));
        t.rec.Stop();
        EXPECT_EQ(t.rec.writtenFrames(), 0);
        EXPECT_TRUE(files().isEmpty()) << files().join(' ').toStdString();
    }

    // A disk that is full at once: not one byte of the recording reaches it.
    const int status = RunWithFileSizeLimit(0, [&] {
        TestRecorder t;
        if (!t.rec.Request(folder, at(2))) {
            return 11;
        }
        t.open(640, 480);
        for (int i = 0; i < 200 && t.rec.state() == RecordState::Running; ++i) {
            t.now += 34;
            t.tick(i, 640, 480);
        }
        t.rec.Stop();  // joins the encoder: its report has been made
        return t.writeFailed == 1 ? 0 : 12;
    });
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(files().isEmpty()) << files().join(' ').toStdString();

    // An open that fails after the name was claimed (a size the encoder refuses).
    TestRecorder t;
    ASSERT_TRUE(t.rec.Request(folder, at(3)));
    t.open(8192, 8192);
    EXPECT_EQ(t.openFailed, 1);
    EXPECT_EQ(t.openError, 0);  // no errno: the encoder refused
    EXPECT_TRUE(files().isEmpty()) << files().join(' ').toStdString();
}

TEST(RecorderState, ARecordingNeverReplacesAFileOfItsName) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QString taken = folder + "20211105-143009-  4.mpeg";
    {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an older file");
    }
    TestRecorder t;
    ASSERT_TRUE(t.rec.Request(folder, at(4)));
    t.open(320, 240);
    ASSERT_EQ(t.rec.state(), RecordState::Running);
    EXPECT_EQ(t.rec.fileName(), folder + "20211105-143009-  4-2.mpeg");
    t.now += 34;
    t.tick(0, 320, 240);
    t.rec.Stop();
    EXPECT_GT(QFileInfo(t.rec.fileName()).size(), 0);
    QFile f(taken);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("an older file"));
}

TEST(RecorderState, TheFramePathNeverWaitsForTheFileToOpen) {
    // The recording goes into a FIFO whose reader comes a second late, so the open takes that
    // long, while the camera keeps delivering and the frame timer keeps sampling.
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath("live.mpeg"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    using Clock = std::chrono::steady_clock;
    Recorder rec;  // the real clock: the open's second is real time
    std::atomic<int> failures{0};
    Recorder::Callbacks cb;
    cb.openFailed = [&](uint64_t, int) { ++failures; };
    cb.writeFailed = [&](uint64_t) { ++failures; };
    rec.setCallbacks(cb);

    std::atomic<Clock::rep> readerOpened{0};
    QFile copy(dir.filePath("copy.mpeg"));  // what the reader gets
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        QFile in(QFile::decodeName(fifo));
        in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        readerOpened = Clock::now().time_since_epoch().count();
        copy.write(in.readAll());  // up to the recording's end
        copy.close();
    });

    std::vector<Image> pictures;
    for (int i = 0; i < 8; ++i) {
        pictures.push_back(composedFrame(i * 20, 320, 240));
    }
    ASSERT_TRUE(rec.RequestFile(dir.filePath("live.mpeg")));
    std::vector<Clock::rep> taken;  // when each sample was taken (0: not taken)
    Clock::duration longest{};
    std::thread delivering([&] {
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(1600);
        for (int i = 0; Clock::now() < end; ++i) {
            const Clock::time_point before = Clock::now();
            rec.StartPendingRecording(320, 240);  // every camera frame
            const bool took = rec.SampleFrame(pictures[i % 8]);
            longest = std::max(longest, Clock::now() - before);
            taken.push_back(took ? before.time_since_epoch().count() : 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    delivering.join();
    rec.Stop();
    reader.join();

    EXPECT_LT(longest, std::chrono::milliseconds(200));
    EXPECT_EQ(failures, 0);
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is still a FIFO, not a file";

    // Nothing before the open was taken; the file begins with the first picture after it.
    const auto first = std::find_if(taken.begin(), taken.end(), [](Clock::rep t) { return t; });
    ASSERT_NE(first, taken.end());
    EXPECT_GE(*first, readerOpened.load());
    const DecodedFile file = decodeFile(copy.fileName());
    ASSERT_TRUE(file.opened);
    ASSERT_FALSE(file.rgb.empty());
    const int index = int(first - taken.begin());
    EXPECT_GT(psnr(file.rgb[0], 320, 240, (index % 8) * 20, 320, 240), 30.0);
    EXPECT_LT(psnr(file.rgb[0], 320, 240, ((index + 7) % 8) * 20, 320, 240), 25.0);
}

// ---- Files read back ----

TEST(RecorderFile, TenSecondsOfTicksPlayForTenSeconds) {
    QTemporaryDir dir;
    TestRecorder t;
    // 294 ticks of 34 ms: the last one 9996 ms after the open; Record is pressed at 10 s.
    const QString path = record(t, dir.path() + "/", 320, 240, 294, 10000, [](int) {
        return std::pair{320, 240};
    });
    EXPECT_EQ(t.rec.droppedFrames(), 0);

    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.codec, AV_CODEC_ID_MPEG1VIDEO);
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 240);
    EXPECT_EQ(av_cmp_q(f.frameRate, AVRational{24, 1}), 0);
    EXPECT_NEAR(double(f.rgb.size()), 240.0, 2.0);
    EXPECT_NEAR(f.durationSeconds, 10.0, 2.0 / 24);
    EXPECT_NEAR(f.stampedSeconds, 10.0, 2.0 / 24);
    EXPECT_EQ(t.rec.writtenFrames(), int(f.rgb.size()));
    // A picture group of 18: an intra frame every 18 frames.
    ASSERT_GE(f.keyFrames.size(), 13u);
    for (size_t g = 0; g < f.keyFrames.size(); ++g) {
        EXPECT_EQ(f.keyFrames[g], int(18 * g));
    }

    // Frame k plays at k/24 s and shows what the window showed then (within one frame).
    for (size_t k = 0; k < f.rgb.size(); ++k) {
        const double frameMs = 1000.0 * double(k) / 24;
        double best = 0;
        int bestSample = -1;
        for (int i = 0; i < 294; ++i) {
            const double sampleMs = 34.0 * (i + 1);
            if (std::abs(sampleMs - frameMs) > 1000.0 / 24 + 34) {
                continue;
            }
            const double p = psnr(f.rgb[k], 320, 240, i, 320, 240);
            if (p > best) {
                best = p;
                bestSample = i;
            }
        }
        EXPECT_GT(best, 30.0) << "frame " << k << " (best sample " << bestSample << ")";
    }
    // The last frames show the last sample until the stop.
    EXPECT_GT(psnr(f.rgb.back(), 320, 240, 293, 320, 240), 30.0);
}

TEST(RecorderFile, ALateTimerTickRepeatsThePreviousPicture) {
    QTemporaryDir dir;
    TestRecorder t;
    ASSERT_TRUE(t.rec.Request(dir.path() + "/", at(1)));
    t.open(160, 120);
    const int64_t open = t.now;
    t.now = open + 10;
    t.tick(0, 160, 120);
    t.now = open + 500;  // the window was busy for half a second
    t.tick(1, 160, 120);
    t.now = open + 1000;
    t.rec.Stop();
    const DecodedFile f = decodeFile(t.rec.fileName());
    ASSERT_EQ(f.rgb.size(), 24u);
    for (int k = 0; k < 24; ++k) {
        const int shown = k < 12 ? 0 : 1;  // the second sample belongs to 500 ms = frame 12
        EXPECT_GT(psnr(f.rgb[k], 160, 120, shown, 160, 120), 30.0) << "frame " << k;
    }
}

TEST(RecorderFile, AnEncoderThatFallsBehindDropsSamplesButKeepsTheLength) {
    QTemporaryDir dir;
    TestRecorder t;
    ASSERT_TRUE(t.rec.Request(dir.path() + "/", at(2)));
    t.open(640, 480);
    const int64_t open = t.now;
    // Three seconds of ticks arrive without waiting for the encoder: the hand-off fills up,
    // samples are dropped, and the encoder soon works on samples taken long ago.
    std::vector<Image> frames;
    for (int i = 0; i < 8; ++i) {
        frames.push_back(composedFrame(i * 11, 640, 480));
    }
    int taken = 0;
    for (int i = 0; i < 90; ++i) {
        t.now = open + 34 * (i + 1);
        taken += t.rec.SampleFrame(frames[i % 8]) ? 1 : 0;
    }
    EXPECT_GT(t.rec.droppedFrames(), 0);
    EXPECT_EQ(taken + t.rec.droppedFrames(), 90);
    t.now = open + 3070;
    t.rec.Stop();
    const DecodedFile f = decodeFile(t.rec.fileName());
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(t.rec.writtenFrames(), int(f.rgb.size()));
    // 3.07 s at 24 frames per second: every frame written, or fewer frames held longer by
    // their time stamps when the encoder fell too far behind; the recording's length stays.
    EXPECT_LE(f.rgb.size(), 74u);
    EXPECT_GE(f.rgb.size(), size_t(taken) / 2);
    EXPECT_NEAR(f.stampedSeconds, 3.07, 2.0 / 24);
    for (size_t k = 0; k < f.rgb.size(); ++k) {
        double best = 0;
        for (int i = 0; i < 8; ++i) {
            best = std::max(best, psnr(f.rgb[k], 640, 480, i * 11, 640, 480));
        }
        EXPECT_GT(best, 30.0) << "frame " << k;
    }
}

TEST(RecorderFile, FramesOfAnotherSizeAreScaledToTheRecording) {
    QTemporaryDir dir;
    TestRecorder t;
    // The resolution changes to 640 x 480 and then to 160 x 120 while recording at 320 x 240.
    auto sizeOf = [](int i) {
        if (i < 12) {
            return std::pair{320, 240};
        }
        return i < 24 ? std::pair{640, 480} : std::pair{160, 120};
    };
    const QString path = record(t, dir.path() + "/", 320, 240, 36, 36 * 34 + 20, sizeOf);
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 240);
    ASSERT_GE(f.rgb.size(), 28u);
    // Frame k holds the sample taken in its interval (samples every 34 ms from 34 ms on).
    for (int k = 1; k < 28; ++k) {
        const int i = int(std::ceil(1000.0 * k / 24 / 34)) - 1;
        EXPECT_GT(psnr(f.rgb[k], 320, 240, i, 320, 240), 28.0)
            << "frame " << k << " sample " << i << " shown at " << sizeOf(i).first;
    }
}

TEST(RecorderFile, AnOddFrameSizeGivesAPlayableFileOfTheEvenSizeBelow) {
    QTemporaryDir dir;
    TestRecorder t;
    const QString path = record(t, dir.path() + "/", 321, 241, 30, 30 * 34 + 20, [](int) {
        return std::pair{321, 241};
    });
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 240);
    EXPECT_NEAR(double(f.rgb.size()), 25.0, 2.0);
    // The file holds the top-left part of the shown picture, upright.
    EXPECT_GT(psnr(f.rgb[0], 320, 240, 0, 321, 241), 30.0);
    EXPECT_GT(psnr(f.rgb[12], 320, 240, 14, 321, 241), 30.0);
}

TEST(RecorderFile, ARecordingLeftRunningIsFinishedWhenTheRecorderGoes) {
    QTemporaryDir dir;
    QString path;
    {
        TestRecorder t;
        ASSERT_TRUE(t.rec.Request(dir.path() + "/", at(3)));
        t.open(320, 240);
        const int64_t open = t.now;
        for (int i = 0; i < 30; ++i) {
            t.now = open + 34 * (i + 1);
            t.tick(i, 320, 240);
        }
        t.now = open + 1050;
        path = t.rec.fileName();
    }  // the window closes while recording
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    // Every frame up to the moment of closing is there: nothing stayed in the encoder.
    EXPECT_EQ(f.rgb.size(), 25u);
    EXPECT_NEAR(f.durationSeconds, 25.0 / 24, 1e-3);
    EXPECT_GT(psnr(f.rgb.back(), 320, 240, 29, 320, 240), 30.0);
}

TEST(RecorderFile, AFullDiskEndsTheRecordingWithAPlayableFile) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    constexpr rlim_t kLimit = 300 * 1024;
    const int status = RunWithFileSizeLimit(kLimit, [&] {
        int result = 0;
        TestRecorder t;
        if (!t.rec.Request(folder, at(9))) {
            return 11;
        }
        t.open(640, 480);
        if (t.rec.state() != RecordState::Running) {
            return 12;
        }
        const int64_t open = t.now;
        int i = 0;
        for (; i < 2000 && t.writeFailed == 0; ++i) {
            t.now = open + 34 * (i + 1);
            t.rec.SampleFrame(composedFrame(i, 640, 480));
            t.rec.waitIdle(10000);
        }
        if (t.writeFailed != 1) {
            result = 13;  // the limit was never hit, or reported twice
        } else if (t.rec.state() != RecordState::Idle) {
            result = 14;
        } else if (t.rec.SampleFrame(composedFrame(0, 640, 480))) {
            result = 15;  // samples are still taken
        } else if (t.rec.writtenFrames() < 1) {
            result = 16;
        }
        t.rec.Stop();
        // A new recording can be asked for afterwards.
        if (result == 0 && !t.rec.Request(folder, at(10))) {
            result = 17;
        }
        t.rec.Stop();
        return result;
    });
    ASSERT_EQ(status, 0);

    const QString path = folder + "20211105-143009-  9.mpeg";
    EXPECT_LE(QFileInfo(path).size(), qint64(kLimit));
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.codec, AV_CODEC_ID_MPEG1VIDEO);
    ASSERT_GE(f.rgb.size(), 1u);
    EXPECT_GT(psnr(f.rgb[0], 640, 480, 0, 640, 480), 30.0);
}

// ---- Status texts ----

TEST(RecorderText, DurationCountsFromTheRecordCommand) {
    EXPECT_EQ(ElapsedText(0), "00:00:00");
    EXPECT_EQ(ElapsedText(999), "00:00:00");
    EXPECT_EQ(ElapsedText(59000), "00:00:59");
    EXPECT_EQ(ElapsedText(83000), "00:01:23");
    EXPECT_EQ(ElapsedText(3600000), "01:00:00");
    EXPECT_EQ(ElapsedText(int64_t(100) * 3600000 + 61000), "100:01:01");
    // Longer than 2^31 ms (24.8 days) still counts on.
    EXPECT_EQ(ElapsedText(int64_t(600) * 3600000), "600:00:00");

    QTemporaryDir dir;
    TestRecorder t;
    ASSERT_TRUE(t.rec.Request(dir.path() + "/", at(0)));
    t.now += 400;  // the first frame comes a little later
    t.open(160, 120);
    t.now += 83000;
    EXPECT_EQ(ElapsedText(t.rec.elapsedMs()), "00:01:23");
    t.now += 600;
    EXPECT_EQ(ElapsedText(t.rec.elapsedMs()), "00:01:24");
    t.rec.Stop();
}

TEST(RecorderText, StatusShowsStartAndDuration) {
    EXPECT_EQ(StartText(QDateTime(QDate(2021, 11, 5), QTime(14, 30, 9, 999))),
              "2021-11-05 14:30:09");
    EXPECT_EQ(StartText(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))), "2026-01-02 03:04:05");
    EXPECT_EQ(RecordingStatus(U("开始时间"), "2021-11-05 14:30:09", U("时长"), ElapsedText(83000)),
              U("开始时间:2021-11-05 14:30:09  时长:00:01:23"));
    EXPECT_EQ(RecordingStatus("Start time", "2021-11-05 14:30:09", "Duration", "00:00:59"),
              "Start time:2021-11-05 14:30:09  Duration:00:00:59");
}

// ---- Wired to the frame path ----

TEST(RecorderWiring, FramesFromTheFrameStoreAreRecordedAndSnappedAsComposed) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    FrameStore frames;
    Overlay overlay;
    DisplayWorker display(frames, overlay, nullptr);
    TestRecorder t;
    // As the window wires them: the recorder's step runs inside the frame lock on the capture
    // thread, the display is told after it.
    frames.onRecorderStep = [&](int width, int height) {
        t.rec.StartPendingRecording(width, height);
    };
    frames.onFramePublished = [&] { display.notifyFrame(); };

    auto deliver = [&](int i) {
        // A camera frame: rows of width * 3 bytes, bottom-up, blue-green-red.
        const Image img = composedFrame(i, 320, 240);
        std::vector<uint8_t> rows;
        for (int y = 0; y < 240; ++y) {
            rows.insert(rows.end(), img.GetBits(y), img.GetBits(y) + 320 * 3);
        }
        std::thread capture([&] { frames.OnFrame(rows.data(), 320, 240, 24); });
        capture.join();
        ASSERT_TRUE(display.waitIdle(std::chrono::milliseconds(5000)));
    };

    ASSERT_TRUE(t.rec.Request(folder, at(8)));
    deliver(0);
    for (int i = 0; i < 10000 && t.started == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(t.rec.state(), RecordState::Running);
    EXPECT_EQ(t.started, 1);
    const int64_t open = t.now;
    std::vector<Image> shown;
    for (int i = 0; i < 24; ++i) {
        deliver(i);
        t.now = open + 42 * i + 1;
        // The window's frame timer: sample the composed frame under the frame lock.
        EXPECT_TRUE(frames.readComposedImage([&](const Image& composed) {
            shown.push_back(composed);
            EXPECT_TRUE(t.rec.SampleFrame(composed));
        }));
        EXPECT_TRUE(t.rec.waitIdle(10000));
    }
    const SnapshotResult snap = TakeSnapshot(folder, at(9), frames);
    EXPECT_TRUE(snap.written);
    t.now = open + 1000;
    t.rec.Stop();
    display.stop();

    const DecodedFile f = decodeFile(t.rec.fileName());
    ASSERT_TRUE(f.opened);
    ASSERT_EQ(f.rgb.size(), 24u);
    for (int k = 0; k < 24; ++k) {
        // Against what the window showed, not against what the test meant to show.
        const Image& s = shown[k];
        std::vector<uint8_t> want;
        for (int y = 0; y < 240; ++y) {
            const uint8_t* row = s.GetBits(239 - y);
            for (int x = 0; x < 320; ++x) {
                want.push_back(row[3 * x + 2]);
                want.push_back(row[3 * x + 1]);
                want.push_back(row[3 * x + 0]);
            }
        }
        double sum = 0;
        for (size_t n = 0; n < want.size(); ++n) {
            sum += (double(f.rgb[k][n]) - want[n]) * (double(f.rgb[k][n]) - want[n]);
        }
        EXPECT_GT(10 * std::log10(255.0 * 255.0 * double(want.size()) / sum), 30.0)
            << "frame " << k;
    }
    Image snapped;
    ASSERT_TRUE(snapped.LoadJpeg(snap.fileName));
    EXPECT_EQ(snapped.GetWidth(), 320);
}
