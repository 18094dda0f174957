#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include "contracts/FileFlashController.h"
#include "contracts/MemoryFlashController.h"
#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace {

int readByte(CameraController& c, uint32_t address, uint8_t* out) {
    return c.ALC_ReadFlash(address, 1, out);
}

void writeByte(CameraController& c, uint32_t address, uint8_t value) {
    c.ALC_WriteFlash(address, 1, &value);
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A camera the tests plug in and out, instead of udev.
struct FakeUsb {
    std::optional<CameraIdentity> camera;
    int lookups = 0;
    CameraFinder finder() {
        return [this] {
            ++lookups;
            return camera;
        };
    }
};

}  // namespace

// ---- MemoryFlashController (the virtual camera's controller) ----

TEST(MemoryFlashController, ReportsTheVirtualCameraAndReadsErasedFlash) {
    MemoryFlashController c;
    c.ALC_Initialize();
    uint16_t vid = 0, pid = 0;
    EXPECT_TRUE(c.ALC_GetPIDVID(&vid, &pid));
    EXPECT_EQ(vid, 0x1209);
    EXPECT_EQ(pid, 0x0001);
    uint8_t b = 0;
    EXPECT_NE(readByte(c, 0x1C00, &b), 0);
    EXPECT_EQ(b, 0xFF);
    c.ALC_UnInitialize();

    c.setIds(0x8086, 0xFFFE);
    EXPECT_TRUE(c.ALC_GetPIDVID(&vid, &pid));
    EXPECT_EQ(vid, 0x8086);
    EXPECT_EQ(pid, 0xFFFE);
}

TEST(MemoryFlashController, NestedPairsKeepWorking) {
    MemoryFlashController c;
    c.ALC_Initialize();
    c.ALC_SetFlashSize(CameraController::kFlashSize);
    c.ALC_Initialize();
    writeByte(c, 0x1C17, 0x01);
    writeByte(c, 8192, 0x01);  // outside the flash: ignored
    c.ALC_UnInitialize();
    EXPECT_EQ(c.depth(), 1);
    writeByte(c, 0x1D00, 0x02);
    c.ALC_UnInitialize();
    c.ALC_UnInitialize();  // unmatched: ignored
    EXPECT_EQ(c.depth(), 0);
    uint8_t a = 0, b = 0;
    c.ALC_Initialize();
    EXPECT_NE(readByte(c, 0x1C17, &a), 0);
    EXPECT_NE(readByte(c, 0x1D00, &b), 0);
    c.ALC_UnInitialize();
    EXPECT_EQ(a, 0x01);
    EXPECT_EQ(b, 0x02);
    EXPECT_EQ(readByte(c, 8192, &b), 0);
    // Calls outside any pair work too.
    EXPECT_NE(readByte(c, 0x1C17, &a), 0);
    EXPECT_EQ(c.depth(), 0);
}

TEST(MemoryFlashController, DetachedCameraIsNotFound) {
    MemoryFlashController c;
    writeByte(c, 5, 0x10);
    c.setAttached(false);
    uint16_t vid = 0x1111, pid = 0x2222;
    EXPECT_FALSE(c.ALC_GetPIDVID(&vid, &pid));
    EXPECT_EQ(vid, 0x1111);
    uint8_t b = 0;
    EXPECT_EQ(readByte(c, 5, &b), 0);
    writeByte(c, 5, 0x20);  // ignored
    c.setAttached(true);
    EXPECT_NE(readByte(c, 5, &b), 0);
    EXPECT_EQ(b, 0x10);  // the camera keeps its flash while unplugged
}

// ---- FileFlashController (real cameras) ----

class FileFlashControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        usb.camera = CameraIdentity::usb(0x8086, 0xF00D, QStringLiteral("SN-42"));
    }
    QString flashFolder() const { return root.filePath(QStringLiteral("Orvane/flash")); }
    QString cameraFile() const { return flashFolder() + QStringLiteral("/8086-F00D-SN-42.bin"); }

    QTemporaryDir root;
    FakeUsb usb;
};

TEST_F(FileFlashControllerTest, ReportsIdsOfThePresentCameraExactly) {
    FileFlashController c(root.path(), usb.finder());
    c.ALC_Initialize();
    uint16_t vid = 0, pid = 0;
    EXPECT_TRUE(c.ALC_GetPIDVID(&vid, &pid));
    c.ALC_UnInitialize();
    EXPECT_EQ(vid, 0x8086);
    EXPECT_EQ(pid, 0xF00D);
    EXPECT_EQ(c.flashFilePath(*usb.camera), cameraFile());
    EXPECT_EQ(c.flashFilePath(CameraIdentity::usb(0x0c45, 0x6366, QString())),
              flashFolder() + QStringLiteral("/0C45-6366-noserial.bin"));
    EXPECT_EQ(c.flashFilePath(CameraIdentity::usb(1, 2, QStringLiteral("../a b"))),
              flashFolder() + QStringLiteral("/0001-0002-.._a_b.bin"));
    // A camera without a USB device is named after where it sits and its name.
    EXPECT_EQ(c.flashFilePath(CameraIdentity::withoutUsb(QStringLiteral("platform:vivid-000"),
                                                         QStringLiteral("vivid"))),
              flashFolder() + QStringLiteral("/v4l2-platform_vivid-000-vivid.bin"));
}

TEST_F(FileFlashControllerTest, NoCameraMeansNotFoundAndNoFlash) {
    usb.camera.reset();
    FileFlashController c(root.path(), usb.finder());
    c.ALC_Initialize();
    uint16_t vid = 0, pid = 0;
    EXPECT_FALSE(c.ALC_GetPIDVID(&vid, &pid));
    uint8_t b = 0;
    EXPECT_EQ(readByte(c, 0, &b), 0);
    writeByte(c, 0, 1);
    c.ALC_UnInitialize();
    EXPECT_FALSE(QFileInfo::exists(flashFolder()));

    // Plugged in later: the next pair finds it.
    usb.camera = CameraIdentity::usb(0x1234, 0x5678, QString());
    EXPECT_TRUE(c.ALC_GetPIDVID(&vid, &pid));
    EXPECT_EQ(vid, 0x1234);
}

TEST_F(FileFlashControllerTest, ErasedFlashAndNoFileUntilSomethingChanges) {
    FileFlashController c(root.path(), usb.finder());
    c.ALC_Initialize();
    uint8_t b = 0;
    EXPECT_NE(readByte(c, 0x1C00, &b), 0);
    EXPECT_EQ(b, 0xFF);
    EXPECT_EQ(readByte(c, 8192, &b), 0);
    writeByte(c, 0x10, 0xFF);  // same as erased: nothing changes
    writeByte(c, 8192, 0x00);  // outside: ignored
    c.ALC_UnInitialize();
    EXPECT_FALSE(QFileInfo::exists(cameraFile()));
}

TEST_F(FileFlashControllerTest, NestedPairsPersistAtTheOutermostClose) {
    {
        FileFlashController c(root.path(), usb.finder());
        c.ALC_Initialize();
        c.ALC_SetFlashSize(CameraController::kFlashSize);
        writeByte(c, 0x1C17, 0x01);
        c.ALC_Initialize();  // the block writer's own pair
        writeByte(c, 0x1D00, 0x02);
        c.ALC_UnInitialize();
        EXPECT_FALSE(QFileInfo::exists(cameraFile())) << "saved before the outermost close";
        writeByte(c, 0x1D01, 0x03);
        c.ALC_UnInitialize();
        EXPECT_EQ(usb.lookups, 1);  // only the outermost pair looks for the camera
        ASSERT_TRUE(QFileInfo::exists(cameraFile()));
        EXPECT_EQ(filesIn(flashFolder()), QStringList{QStringLiteral("8086-F00D-SN-42.bin")});
    }
    QFile file(cameraFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 8192);
    EXPECT_EQ(uint8_t(bytes[0x1C17]), 0x01);
    EXPECT_EQ(uint8_t(bytes[0x1D00]), 0x02);
    EXPECT_EQ(uint8_t(bytes[0x1D01]), 0x03);
    EXPECT_EQ(uint8_t(bytes[0x1D02]), 0xFF);

    // A later run reads them back.
    FileFlashController next(root.path(), usb.finder());
    next.ALC_Initialize();
    uint8_t a = 0, b = 0, c3 = 0;
    EXPECT_NE(readByte(next, 0x1C17, &a), 0);
    EXPECT_NE(readByte(next, 0x1D00, &b), 0);
    EXPECT_NE(readByte(next, 0x1D01, &c3), 0);
    next.ALC_UnInitialize();
    EXPECT_EQ(a, 0x01);
    EXPECT_EQ(b, 0x02);
    EXPECT_EQ(c3, 0x03);
}

TEST_F(FileFlashControllerTest, EachCameraKeepsItsOwnFlash) {
    FileFlashController c(root.path(), usb.finder());
    writeByte(c, 7, 0x11);  // outside a pair: its own pair, saved at once
    ASSERT_TRUE(QFileInfo::exists(cameraFile()));

    const auto first = usb.camera;
    usb.camera = CameraIdentity::usb(0x8086, 0xF00D, QStringLiteral("SN-43"));
    uint8_t b = 0;
    EXPECT_NE(readByte(c, 7, &b), 0);
    EXPECT_EQ(b, 0xFF);
    writeByte(c, 7, 0x22);

    usb.camera = first;
    EXPECT_NE(readByte(c, 7, &b), 0);
    EXPECT_EQ(b, 0x11);
    EXPECT_EQ(filesIn(flashFolder()).size(), 2);
}

TEST_F(FileFlashControllerTest, AShortFileIsErasedFlashBeyondItsEndAndKeptAside) {
    ASSERT_TRUE(QDir().mkpath(flashFolder()));
    ASSERT_TRUE(WriteBytes(cameraFile(), QByteArray(4096, '\0')));
    static int warnings = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            warnings += text.contains(QStringLiteral("instead of")) ? 1 : 0;
        });
    FileFlashController c(root.path(), usb.finder());
    uint8_t b = 0xAA;
    EXPECT_NE(readByte(c, 100, &b), 0);  // each call its own pair, each pair reads the file
    EXPECT_EQ(b, 0x00);
    EXPECT_NE(readByte(c, 4096, &b), 0);
    EXPECT_EQ(b, 0xFF);
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, 1) << "said once, not at every pair";
    writeByte(c, 100, 0x07);
    EXPECT_EQ(QFileInfo(cameraFile()).size(), 8192);
    // The damaged file is kept aside before the first write, and the user is told once.
    EXPECT_EQ(ReadBytes(cameraFile() + ".bak"), QByteArray(4096, '\0'));
    EXPECT_EQ(filesIn(flashFolder()).size(), 2);
    const FlashNotice notice = c.takeFlashNotice();
    EXPECT_STREQ(notice.key, "FLASHSETASIDE");
    EXPECT_EQ(notice.file, cameraFile() + ".bak");
    EXPECT_FALSE(c.takeFlashNotice());
}

// The parameter memory is only ever a regular file in the flash folder: anything else in its
// place, and a file that cannot be read, is neither read nor written, and never blocks the start.
TEST_F(FileFlashControllerTest, AFileThatCannotBeReadIsNeverWritten) {
    const QString outside = root.filePath("victim.bin");
    const QByteArray saved(8192, '\x01');  // what a user's file holds
    const std::string file = cameraFile().toStdString();
    const std::function<bool()> rows[] = {
        [&] { return QFile::link(outside, cameraFile()); },
        [&] { return QFile::link(root.filePath("nowhere.bin"), cameraFile()); },
        [&] { return ::mkfifo(file.c_str(), 0600) == 0; },
        [&] { return QDir().mkdir(cameraFile()); },
        [&] { return WriteBytes(cameraFile(), saved) && ::chmod(file.c_str(), 0) == 0; },
    };
    // An ordinary user runs the controller, with the flash folder and the file outside it its
    // own to write: only the rule keeps them unwritten.
    ::chmod(root.path().toStdString().c_str(), 0755);
    for (const auto& make : rows) {
        SCOPED_TRACE(&make - rows);
        QDir(flashFolder()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(flashFolder()) && WriteBytes(outside, saved) && make());
        ::chmod(outside.toStdString().c_str(), 0666);
        if (RunningAsRoot()) {
            ASSERT_EQ(::chown(flashFolder().toStdString().c_str(), 65534, 65534), 0);
        }
        const FileKind before = InspectPath(cameraFile()).kind;
        EXPECT_EQ(RunInChild([&] {
                      BecomeNobody();
                      FileFlashController c(root.path(), usb.finder());
                      uint8_t b = 0;
                      EXPECT_NE(readByte(c, 0x1C17, &b), 0);
                      EXPECT_EQ(b, 0xFF) << "read as erased flash";
                      writeByte(c, 0x1C17, 0x01);
                      EXPECT_FALSE(c.flashKept());
                      EXPECT_STREQ(c.takeFlashNotice().key, "FLASHUNREADABLE");
                      EXPECT_FALSE(c.takeFlashNotice()) << "told once";
                  }),
                  ChildOutcome::Passed);
        EXPECT_EQ(InspectPath(cameraFile()).kind, before);
        EXPECT_EQ(ReadBytes(outside), saved);
        EXPECT_FALSE(QFile::exists(root.filePath("nowhere.bin")));
    }
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(ReadBytes(cameraFile()), saved);
}

// Two identical cameras without serial numbers keep separate memories, told apart by their
// USB ports; the memory they shared before goes to the first of them found.
TEST_F(FileFlashControllerTest, SerialLessCamerasKeepSeparateMemories) {
    ASSERT_TRUE(QDir().mkpath(flashFolder()));
    QByteArray old(8192, '\xFF');
    old[0x10] = 0x11;
    ASSERT_TRUE(WriteBytes(flashFolder() + "/0C45-6366-noserial.bin", old));
    FileFlashController c(root.path(), usb.finder());
    uint8_t b = 0;
    for (const auto& [port, expected] : {std::pair{"1-1", 0x11}, std::pair{"1-2", 0xFF}}) {
        usb.camera = CameraIdentity::usb(0x0C45, 0x6366, QString(), QString::fromLatin1(port));
        EXPECT_NE(readByte(c, 0x10, &b), 0);
        EXPECT_EQ(b, expected) << port;
        writeByte(c, 0x20, uint8_t(port[2]));
    }
    EXPECT_EQ(filesIn(flashFolder()),
              (QStringList{"0C45-6366-port-1-1.bin", "0C45-6366-port-1-2.bin"}));
    usb.camera = CameraIdentity::usb(0x0C45, 0x6366, QString(), "1-1");
    EXPECT_NE(readByte(c, 0x20, &b), 0);
    EXPECT_EQ(b, '1');
}

TEST_F(FileFlashControllerTest, FailedSaveIsRetriedLater) {
    // A file where the flash folder belongs makes the save fail.
    ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("Orvane"))));
    {
        QFile blocker(flashFolder());
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    FileFlashController c(root.path(), usb.finder());
    c.ALC_Initialize();
    writeByte(c, 0x1C17, 0x01);
    c.ALC_UnInitialize();
    EXPECT_FALSE(c.flashKept());
    ASSERT_TRUE(QFile::remove(flashFolder()));

    // The write was not lost: it is still read back, and the next pair saves it.
    c.ALC_Initialize();
    uint8_t b = 0;
    EXPECT_NE(readByte(c, 0x1C17, &b), 0);
    EXPECT_EQ(b, 0x01);
    c.ALC_UnInitialize();
    EXPECT_TRUE(c.flashKept());
    FlashImage saved;
    ASSERT_EQ(saved.load(cameraFile()).state, FlashImage::FileState::Loaded);
    EXPECT_EQ(saved.bytes()[0x1C17], 0x01);
}

// Without a home folder (and no data folder named), nothing is written anywhere: the flash
// lives in memory and every save says it was not kept.
TEST_F(FileFlashControllerTest, WithoutAHomeFolderNothingIsWritten) {
    const QByteArray home = qgetenv("HOME");
    qunsetenv("HOME");
    {
        FileFlashController c(QString(), usb.finder());
        EXPECT_TRUE(c.flashFilePath(*usb.camera).isEmpty());
        c.ALC_Initialize();
        writeByte(c, 0x1C17, 0x01);
        c.ALC_UnInitialize();
        EXPECT_FALSE(c.flashKept());
        uint8_t b = 0;
        EXPECT_NE(readByte(c, 0x1C17, &b), 0);  // still read back from memory
        EXPECT_EQ(b, 0x01);
    }
    qputenv("HOME", home);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/.local/share/Orvane")));
}

TEST_F(FileFlashControllerTest, PendingWritesAreSavedOnDestruction) {
    {
        FileFlashController c(root.path(), usb.finder());
        c.ALC_Initialize();
        writeByte(c, 3, 0x33);
        // Pair left open.
    }
    FlashImage saved;
    ASSERT_EQ(saved.load(cameraFile()).state, FlashImage::FileState::Loaded);
    EXPECT_EQ(saved.bytes()[3], 0x33);
}
