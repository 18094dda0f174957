#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>
#include <thread>
#include <vector>

#include <unistd.h>

#include "capture/FrameStore.h"
#include "contracts/Image.h"
#include "output/Snapshot.h"
#include "platform/NativePath.h"
#include "support/TestFiles.h"

namespace {

QDateTime at(int ms) {
    return QDateTime(QDate(2021, 11, 5), QTime(14, 30, 9, ms));
}

// A smooth colour picture whose top and bottom, left and right differ, as blue-green-red at
// picture coordinates (y = 0 is the top row).
void shownPixel(int x, int y, uint8_t bgr[3]) {
    bgr[0] = uint8_t(40 + (x * 3) % 180);
    bgr[1] = uint8_t(30 + y * 2);
    bgr[2] = uint8_t(128 + 100 * std::sin((x + y) / 25.0));
}

Image shownPicture(int width, int height) {
    Image img;
    img.Create(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = img.GetBits(height - 1 - y);  // rows are stored bottom-up
        for (int x = 0; x < width; ++x) {
            shownPixel(x, y, row + 3 * x);
        }
    }
    return img;
}

double psnrAgainstShown(const Image& img) {
    double sum = 0;
    const int w = img.GetWidth();
    const int h = img.GetHeight();
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = img.GetBits(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            uint8_t want[3];
            shownPixel(x, y, want);
            for (int c = 0; c < 3; ++c) {
                const double d = double(row[3 * x + c]) - want[c];
                sum += d * d;
            }
        }
    }
    const double mse = sum / (double(w) * h * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The window's frame store: a frame has arrived (a current image exists), and `show` hands in
// a composed picture as the display worker does.
struct ShownFrame {
    FrameStore store;

    ShownFrame() {
        const std::vector<uint8_t> frame(size_t(16) * 12 * 3);
        store.OnFrame(frame.data(), 16, 12, 24);
    }

    void show(Image picture) { store.exchangeComposedImage(picture); }

    SnapshotResult snap(const QString& folder, const QDateTime& now) {
        return TakeSnapshot(folder, now, store);
    }
};

}  // namespace

// ---- File names ----

TEST(SnapshotName, MillisecondsArePaddedWithSpacesToThreePlaces) {
    EXPECT_EQ(SnapshotBaseName("/p/", at(0)), "/p/20211105-143009-  0");
    EXPECT_EQ(SnapshotBaseName("/p/", at(5)), "/p/20211105-143009-  5");
    EXPECT_EQ(SnapshotBaseName("/p/", at(42)), "/p/20211105-143009- 42");
    EXPECT_EQ(SnapshotBaseName("/p/", at(999)), "/p/20211105-143009-999");
    // 24-hour clock, zero-padded date and time fields.
    EXPECT_EQ(SnapshotBaseName("/p/", QDateTime(QDate(987, 1, 2), QTime(3, 4, 5, 7))),
              "/p/09870102-030405-  7");
    EXPECT_EQ(SnapshotBaseName("/p/", QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 100))),
              "/p/20261231-235959-100");
}

TEST(SnapshotName, AFolderWithoutItsSlashPutsTheFileBesideIt) {
    EXPECT_EQ(SnapshotBaseName("/home/u/Pictures", at(7)), "/home/u/Pictures20211105-143009-  7");
}

// ---- Files ----

TEST(SnapshotFile, HoldsTheComposedPictureUpright) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ShownFrame frame;
    frame.show(shownPicture(320, 240));
    const QString folder = dir.path() + "/";
    const SnapshotResult r = frame.snap(folder, at(42));
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.fileName, folder + "20211105-143009- 42.jpg");
    // The snapshot copies: the store still holds the picture, and its lock is free again.
    Image still;
    EXPECT_TRUE(frame.store.copyComposedImage(still));
    EXPECT_EQ(still.GetWidth(), 320);

    Image saved;
    ASSERT_TRUE(saved.LoadJpeg(r.fileName));
    EXPECT_EQ(saved.GetWidth(), 320);
    EXPECT_EQ(saved.GetHeight(), 240);
    EXPECT_GT(psnrAgainstShown(saved), 30.0);
    // A picture turned upside down would not match.
    Image flipped = shownPicture(320, 240);
    Image upsideDown;
    upsideDown.CreateFromArray(flipped.GetBits(), 320, 240, 24, flipped.GetEffWidth(), true);
    EXPECT_LT(psnrAgainstShown(upsideDown), 20.0);
}

TEST(SnapshotFile, AMissingSaveFolderIsCreatedOneLevelDeep) {
    QTemporaryDir dir;
    ShownFrame frame;
    frame.show(shownPicture(64, 48));
    const QString folder = dir.filePath("Snaps") + "/";
    const SnapshotResult r = frame.snap(folder, at(5));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_TRUE(r.written);
    EXPECT_TRUE(QFileInfo::exists(folder + "20211105-143009-  5.jpg"));

    // Two levels cannot be made: no file, but the name is still given for the status bar.
    const QString deep = dir.filePath("gone/Snaps") + "/";
    const SnapshotResult d = frame.snap(deep, at(5));
    EXPECT_FALSE(d.written);
    EXPECT_EQ(d.fileName, deep + "20211105-143009-  5.jpg");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("gone")));
}

TEST(SnapshotFile, NothingIsWrittenBeforeAPictureIsDrawn) {
    QTemporaryDir dir;
    ShownFrame frame;  // a frame has arrived but the display has not composed it yet
    const QString folder = dir.path() + "/";
    SnapshotResult r = frame.snap(folder, at(0));
    EXPECT_FALSE(r.written);
    EXPECT_EQ(r.fileName, folder + "20211105-143009-  0.jpg");
    EXPECT_FALSE(QFileInfo::exists(r.fileName));

    // The current image went away between the command and the lock (resolution change).
    frame.show(shownPicture(64, 48));
    frame.store.DeleteCurrentImage();
    r = frame.snap(folder, at(1));
    EXPECT_FALSE(r.written);
    EXPECT_FALSE(QFileInfo::exists(r.fileName));
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
}

TEST(SnapshotFile, SnapshotsInTheSameMillisecondNeverReplaceEachOther) {
    QTemporaryDir dir;
    ShownFrame frame;
    frame.show(shownPicture(64, 48));
    const QString folder = dir.path() + "/";
    const SnapshotResult first = frame.snap(folder, at(999));
    ASSERT_TRUE(first.written);
    EXPECT_EQ(first.fileName, folder + "20211105-143009-999.jpg");
    frame.show(shownPicture(128, 96));
    const SnapshotResult second = frame.snap(folder, at(999));
    ASSERT_TRUE(second.written);
    EXPECT_EQ(second.fileName, folder + "20211105-143009-999-2.jpg");
    Image saved;
    ASSERT_TRUE(saved.LoadJpeg(first.fileName));
    EXPECT_EQ(saved.GetWidth(), 64);  // the first picture is still there
    ASSERT_TRUE(saved.LoadJpeg(second.fileName));
    EXPECT_EQ(saved.GetWidth(), 128);

    // The Snap command and the camera's button at once, many times within one millisecond:
    // every snapshot gets a file of its own, under the name it reports.
    constexpr int kThreads = 4;
    constexpr int kEach = 15;
    std::vector<SnapshotResult> results(kThreads * kEach);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                results[size_t(t * kEach + i)] = TakeSnapshot(folder, at(5), frame.store);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    QSet<QString> names;
    for (const SnapshotResult& r : results) {
        EXPECT_TRUE(r.written);
        EXPECT_TRUE(r.fileName.startsWith(folder + "20211105-143009-  5"))
            << qPrintable(r.fileName);
        EXPECT_TRUE(r.fileName.endsWith(".jpg")) << qPrintable(r.fileName);
        EXPECT_TRUE(saved.LoadJpeg(r.fileName)) << qPrintable(r.fileName);
        names.insert(r.fileName);
    }
    EXPECT_EQ(names.size(), kThreads * kEach);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2 + kThreads * kEach);
}

TEST(SnapshotFile, ASaveFolderThatIsAFileGivesNoSnapshot) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath("Snaps"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.write("not a folder");
    blocker.close();
    ShownFrame frame;
    frame.show(shownPicture(64, 48));
    const QString folder = dir.filePath("Snaps") + "/";
    const SnapshotResult r = frame.snap(folder, at(7));
    EXPECT_FALSE(r.written);
    EXPECT_EQ(r.fileName, folder + "20211105-143009-  7.jpg");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// The command line's FILE is named as the kernel names it: a name that is not UTF-8 names that
// very file. A link under a time-stamped name is passed over like any taken name, never followed.
TEST(SnapshotFile, NamesAreTheKernelsAndLinksAreNeverFollowed) {
    QTemporaryDir dir;
    ShownFrame frame;
    frame.show(shownPicture(64, 48));
    const QString victim = dir.filePath("victim.jpg");
    ASSERT_TRUE(WriteBytes(victim, "someone else's file"));

    const QByteArray native = NativePath(dir.path()) + "/caf\xE9-\xFF.jpg";
    EXPECT_TRUE(WriteSnapshot(PathFromNative(native), frame.store).written);
    EXPECT_EQ(::access(native.constData(), F_OK), 0);

    const QString folder = dir.path() + "/";
    ASSERT_TRUE(QFile::link(victim, folder + "20211105-143009-  7.jpg"));
    const SnapshotResult r = frame.snap(folder, at(7));
    EXPECT_EQ(r.fileName, folder + "20211105-143009-  7-2.jpg");
    EXPECT_EQ(ReadBytes(victim), "someone else's file");
}
