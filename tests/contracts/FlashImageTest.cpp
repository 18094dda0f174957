#include "contracts/FlashImage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

uint8_t byteAt(const FlashImage& flash, uint32_t address) {
    uint8_t b = 0;
    EXPECT_TRUE(flash.read(address, 1, &b));
    return b;
}

}  // namespace

TEST(FlashImage, ErasedReadsFFAndWritesReadBack) {
    FlashImage flash;
    EXPECT_EQ(byteAt(flash, 0), 0xFF);
    EXPECT_EQ(byteAt(flash, 0x1C17), 0xFF);
    EXPECT_EQ(byteAt(flash, 8191), 0xFF);

    const uint8_t block[3] = {1, 2, 3};
    EXPECT_TRUE(flash.write(0x1D00, 3, block));
    uint8_t back[3] = {};
    EXPECT_TRUE(flash.read(0x1D00, 3, back));
    EXPECT_EQ(back[0], 1);
    EXPECT_EQ(back[2], 3);
    EXPECT_EQ(byteAt(flash, 0x1D03), 0xFF);

    flash.erase();
    EXPECT_EQ(byteAt(flash, 0x1D00), 0xFF);
}

TEST(FlashImage, RangesOutsideTheFlashAreRefused) {
    FlashImage flash;
    uint8_t b = 0x55;
    EXPECT_FALSE(flash.read(8192, 1, &b));
    EXPECT_FALSE(flash.read(8191, 2, &b));
    EXPECT_FALSE(flash.read(0xFFFFFFFFu, 2, &b));  // address + length wraps around
    EXPECT_FALSE(flash.read(0, 1, nullptr));
    EXPECT_EQ(b, 0x55);

    const uint8_t two[2] = {0x11, 0x22};
    EXPECT_FALSE(flash.write(8191, 2, two));  // ignored as a whole, not written partly
    EXPECT_FALSE(flash.write(0xFFFFFFFFu, 2, two));
    EXPECT_EQ(byteAt(flash, 8191), 0xFF);
    EXPECT_EQ(flash, FlashImage());
}

TEST(FlashImage, SavesAndLoadsAtomically) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("a/b/cam.bin"));
    FlashImage flash;
    const uint8_t v = 0x42;
    flash.write(0x1C17, 1, &v);
    ASSERT_TRUE(flash.save(path).ok());  // creates the folders
    const QByteArray bytes = fileBytes(path);
    ASSERT_EQ(bytes.size(), 8192);
    EXPECT_EQ(uint8_t(bytes[0x1C17]), 0x42);
    EXPECT_EQ(uint8_t(bytes[0]), 0xFF);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("a/b")))
                  .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("cam.bin")});

    FlashImage loaded;
    EXPECT_EQ(loaded.load(path).state, FlashImage::FileState::Loaded);
    EXPECT_EQ(loaded, flash);
}

TEST(FlashImage, BytesBeyondAFilesValidPartAreTheBlankImages) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FlashImage blank;  // a camera prepared with a byte of its own
    const uint8_t prepared = 0x5A;
    blank.write(0x1C04, 1, &prepared);

    const QString shortFile = dir.filePath(QStringLiteral("short.bin"));
    writeFile(shortFile, QByteArray(100, '\0'));
    FlashImage flash;
    EXPECT_EQ(flash.load(shortFile, blank).state, FlashImage::FileState::WrongSize);
    EXPECT_EQ(byteAt(flash, 99), 0x00);
    EXPECT_EQ(byteAt(flash, 100), 0xFF);
    EXPECT_EQ(byteAt(flash, 0x1C04), 0x5A);

    const QString longFile = dir.filePath(QStringLiteral("long.bin"));
    writeFile(longFile, QByteArray(8193, '\x11'));
    EXPECT_EQ(flash.load(longFile, blank).state, FlashImage::FileState::WrongSize);
    EXPECT_EQ(byteAt(flash, 8191), 0x11);
    EXPECT_EQ(byteAt(flash, 0x1C04), 0x11);

    // Missing, or a folder where the file should be: the blank image, nothing created.
    EXPECT_EQ(flash.load(dir.filePath(QStringLiteral("absent.bin")), blank).state,
              FlashImage::FileState::Missing);
    EXPECT_EQ(flash, blank);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("absent.bin"))));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.bin")));
    EXPECT_EQ(flash.load(dir.filePath(QStringLiteral("folder.bin"))).state,
              FlashImage::FileState::Unreadable);
    EXPECT_EQ(flash, FlashImage());
}
