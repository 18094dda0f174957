#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <limits>

#include "settings/ProfileFile.h"

#include "support/TestFiles.h"

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    QString pathOf(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_dir;
};

TEST_F(ProfileFileTest, SectionsAndKeysCompareWithoutCaseAndTheFirstSectionWins) {
    const QString path = pathOf("lang.lng");
    ASSERT_TRUE(WriteBytes(path, "[Menu]\nFILE=File\n\n[MENU]\nFILE=Second\nLAN=Language\n"));
    ProfileFile file(path);

    EXPECT_EQ(file.readString("MENU", "file", "x"), "File");
    EXPECT_EQ(file.readString("menu", "FILE", "x"), "File");
    // The second "MENU" section is never consulted.
    EXPECT_EQ(file.readString("MENU", "LAN", "default"), "default");

    // A key written to "MENU" lands in the first section, after its last key line.
    ASSERT_TRUE(file.writeString("MENU", "LAN", "Sprache"));
    EXPECT_EQ(ReadBytes(path),
              "[Menu]\nFILE=File\nLAN=Sprache\n\n[MENU]\nFILE=Second\nLAN=Language\n");
    EXPECT_EQ(file.readString("Menu", "lan", "x"), "Sprache");
}

TEST_F(ProfileFileTest, WriteKeepsOrderCommentsAndUnknownLines) {
    const QString path = pathOf("Setting.ini");
    ASSERT_TRUE(WriteBytes(path,
                           "; written by hand\n"
                           "stray line before any section\n"
                           "[LANGUAGESET]\n"
                           "LANGUAGE=English\n"
                           "; keep me\n"
                           "Extra = something\n"
                           "no equals sign here\n"
                           "\n"
                           "[Path]\n"
                           "FileFolder=/home/u/Pictures/\n"));
    ProfileFile file(path);

    ASSERT_TRUE(file.writeString("languageset", "language", "Chinese"));
    ASSERT_TRUE(file.writeString("LANGUAGESET", "INDEX", "0"));
    ASSERT_TRUE(file.writeString("Camera", "Last", "vivid"));
    EXPECT_EQ(ReadBytes(path),
              "; written by hand\n"
              "stray line before any section\n"
              "[LANGUAGESET]\n"
              "LANGUAGE=Chinese\n"
              "; keep me\n"
              "Extra = something\n"
              "INDEX=0\n"
              "no equals sign here\n"
              "\n"
              "[Path]\n"
              "FileFolder=/home/u/Pictures/\n"
              "[Camera]\n"
              "Last=vivid\n");
    EXPECT_EQ(file.readString("LANGUAGESET", "EXTRA", "x"), "something");
}

TEST_F(ProfileFileTest, FileAndSectionComeIntoBeingWithTheFirstWrite) {
    const QString path = pathOf("new.ini");
    ProfileFile file(path);
    EXPECT_EQ(file.readString("LANGUAGESET", "LANGUAGE", "Japanese"), "Japanese");
    EXPECT_EQ(file.readInt("LANGUAGESET", "INDEX", 7), 7);
    EXPECT_FALSE(QFileInfo::exists(path));

    ASSERT_TRUE(file.writeString("LANGUAGESET", "LANGUAGE", "Japanese"));
    EXPECT_EQ(ReadBytes(path), "[LANGUAGESET]\nLANGUAGE=Japanese\n");

    // A key added to a section without keys goes right below its header.
    ASSERT_TRUE(WriteBytes(path, "[Empty]\n\n[Other]\nA=1\n"));
    ASSERT_TRUE(file.writeString("Empty", "B", "2"));
    EXPECT_EQ(ReadBytes(path), "[Empty]\nB=2\n\n[Other]\nA=1\n");
}

TEST_F(ProfileFileTest, ValuesAreCutToTheBuffer) {
    const QString path = pathOf("long.ini");
    const QString longValue(300, u'字');
    ProfileFile file(path);
    ASSERT_TRUE(file.writeString("S", "K", longValue));

    EXPECT_EQ(file.readString("S", "K", "x"), QString(259, u'字'));
    EXPECT_EQ(file.readString("S", "K", "x", 10), QString(9, u'字'));
    EXPECT_EQ(file.readString("S", "missing", longValue), QString(259, u'字'));

    // A surrogate pair is never split: the cut falls before it.
    const QString withPair = QString(258, u'a') + QString::fromUtf8("😀");
    ASSERT_TRUE(file.writeString("S", "P", withPair));
    EXPECT_EQ(file.readString("S", "P", "x"), QString(258, u'a'));
}

TEST_F(ProfileFileTest, BlanksAroundNamesAndValuesAndQuotesAreRemovedOnReading) {
    const QString path = pathOf("quotes.ini");
    ASSERT_TRUE(WriteBytes(path,
                           "  [ MainWnd ]  \n"
                           "  STOP  =   Pause now  \n"
                           "DQ=\"  padded  \"\n"
                           "SQ='single'\n"
                           "MIX=\"mismatch'\n"
                           "EMPTY=\n"
                           "WIDE=边缘罩　开启　\n"));
    ProfileFile file(path);
    EXPECT_EQ(file.readString("MainWnd", "STOP", "x"), "Pause now");
    EXPECT_EQ(file.readString("MainWnd", "DQ", "x"), "  padded  ");
    EXPECT_EQ(file.readString("MainWnd", "SQ", "x"), "single");
    EXPECT_EQ(file.readString("MainWnd", "MIX", "x"), "\"mismatch'");
    EXPECT_EQ(file.readString("MainWnd", "EMPTY", "x"), "");
    // The ideographic space is text, not a blank.
    EXPECT_EQ(file.readString("MainWnd", "WIDE", "x"), QString::fromUtf8("边缘罩　开启　"));
}

TEST_F(ProfileFileTest, ValuesThatReadingWouldAlterAreWrittenQuoted) {
    const QString path = pathOf("roundtrip.ini");
    ProfileFile file(path);
    for (const QString& value : {QStringLiteral(" (not saved)"), QStringLiteral("'quoted'"),
                                 QStringLiteral("tab\t"), QStringLiteral("\"x\"")}) {
        ASSERT_TRUE(file.writeString("S", "K", value));
        EXPECT_EQ(file.readString("S", "K", "def"), value);
    }
    ASSERT_TRUE(file.writeString("S", "K", " (not saved)"));
    EXPECT_EQ(ReadBytes(path), "[S]\nK=\" (not saved)\"\n");
}

TEST_F(ProfileFileTest, ReadsUtf16WithByteOrderMarkAndCrLfAndRewritesAsUtf8) {
    const QString text = QStringLiteral("[MainWnd]\r\nSTOP=一時停止\r\nPLAY=再生\r\n");
    QByteArray le("\xFF\xFE");
    QByteArray be("\xFE\xFF");
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        le.append(char(u & 0xFF)).append(char(u >> 8));
        be.append(char(u >> 8)).append(char(u & 0xFF));
    }
    const QByteArray utf8Bom = QByteArray("\xEF\xBB\xBF") + text.toUtf8();

    for (const QByteArray& bytes : {le, be, utf8Bom, text.toUtf8()}) {
        const QString path = pathOf("Japanese.lng");
        ASSERT_TRUE(WriteBytes(path, bytes));
        ProfileFile file(path);
        EXPECT_EQ(file.readString("MAINWND", "STOP", "x"), QString::fromUtf8("一時停止"));
        EXPECT_EQ(file.readString("MainWnd", "PLAY", "x"), QString::fromUtf8("再生"));

        ASSERT_TRUE(file.writeString("MainWnd", "PLAY", "Play"));
        EXPECT_EQ(ReadBytes(path), "[MainWnd]\nSTOP=一時停止\nPLAY=Play\n");
    }
}

TEST_F(ProfileFileTest, WritingTheValueTheFileHoldsLeavesTheFileUntouched) {
    const QString path = pathOf("same.lng");
    const QByteArray original = "[MainWnd]\r\nSTOP = \"静止\"  \r\n; comment\r\n";
    ASSERT_TRUE(WriteBytes(path, original));
    const QDateTime past = QDateTime::currentDateTime().addDays(-3);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(past, QFileDevice::FileModificationTime));
    }

    ProfileFile file(path);
    EXPECT_TRUE(file.writeString("mainwnd", "stop", QString::fromUtf8("静止")));
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(QFileInfo(path).lastModified().toSecsSinceEpoch(), past.toSecsSinceEpoch());

    EXPECT_TRUE(file.writeString("MainWnd", "STOP", "Pause"));
    EXPECT_EQ(ReadBytes(path), "[MainWnd]\nSTOP=Pause\n; comment\n");
}

TEST_F(ProfileFileTest, UnwritableLocationMakesWritesFailWhileReadsWork) {
    // A settings path below a regular file can never be created, whoever runs the test.
    ASSERT_TRUE(WriteBytes(pathOf("plainfile"), "x"));
    ProfileFile below(pathOf("plainfile") + "/Setting.ini");
    EXPECT_FALSE(below.writeString("S", "K", "v"));
    EXPECT_EQ(below.readString("S", "K", "def"), "def");

    if (RunningAsRoot()) {
        GTEST_SKIP() << "folder permissions do not bind the superuser";
    }
    const QString folder = pathOf("readonly");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString path = folder + "/Setting.ini";
    ASSERT_TRUE(WriteBytes(path, "[LANGUAGESET]\nLANGUAGE=English\n"));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    ProfileFile file(path);
    EXPECT_FALSE(file.writeString("LANGUAGESET", "LANGUAGE", "Chinese"));
    EXPECT_FALSE(file.writeString("LANGUAGESET", "INDEX", "0"));
    EXPECT_EQ(file.readString("LANGUAGESET", "LANGUAGE", "x"), "English");
    EXPECT_EQ(ReadBytes(path), "[LANGUAGESET]\nLANGUAGE=English\n");
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(ProfileFileTest, BadContentYieldsDefaultsWithoutCrashing) {
    const QString path = pathOf("bad.ini");
    ProfileFile file(path);

    // Binary garbage with NUL bytes.
    QByteArray garbage;
    quint32 seed = 12345;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        garbage.append(char(seed >> 24));
    }
    ASSERT_TRUE(WriteBytes(path, garbage));
    EXPECT_EQ(file.readString("LANGUAGESET", "LANGUAGE", "Japanese"), "Japanese");
    EXPECT_FALSE(file.writeString("LANGUAGESET", "LANGUAGE", "Japanese"));
    EXPECT_EQ(ReadBytes(path), garbage);

    // A line of several megabytes, then a normal section.
    ASSERT_TRUE(WriteBytes(path, QByteArray(6 * 1024 * 1024, 'a') +
                                     "\n[S]\nK=v\nL=" + QByteArray(3 * 1024 * 1024, 'b') + "\n"));
    EXPECT_EQ(file.readString("S", "K", "def"), "v");
    EXPECT_EQ(file.readString("S", "L", "def"), QString(259, u'b'));
    EXPECT_EQ(file.readString("S", "missing", "def"), "def");

    // Millions of empty lines before the section.
    ASSERT_TRUE(WriteBytes(path, QByteArray(4 * 1024 * 1024, '\n') + "[S]\r\nK=v\r\n"));
    EXPECT_EQ(file.readString("S", "K", "def"), "v");
    ASSERT_TRUE(file.writeString("S", "L", "w"));
    EXPECT_EQ(ReadBytes(path), QByteArray(4 * 1024 * 1024, '\n') + "[S]\nK=v\nL=w\n");

    // Behind a UTF-8 byte-order mark invalid bytes read as replacement characters, and a line
    // nobody writes keeps its bytes; the mark stays, so that the file is still read as UTF-8.
    const QByteArray invalidLine = "J=\xFF\xFE\xC3(\xED\xA0\x80";
    ASSERT_TRUE(WriteBytes(path, "\xEF\xBB\xBF[S]\n" + invalidLine + "\nK=\xC3\n"));
    EXPECT_EQ(file.readString("S", "K", "def"), QString(QChar::ReplacementCharacter));
    ASSERT_TRUE(file.writeString("S", "K", "ok"));
    EXPECT_EQ(ReadBytes(path), "\xEF\xBB\xBF[S]\n" + invalidLine + "\nK=ok\n");
    EXPECT_EQ(file.readString("S", "K", "def"), "ok");
}

TEST_F(ProfileFileTest, ByteOrderMarkIsTakenOffOnceAndWritesReadBackTheSame) {
    const QString path = pathOf("bom.ini");
    ProfileFile file(path);

    // Text behind a UTF-8 mark that begins with the bytes of a UTF-16 mark stays UTF-8 after a
    // write: every key is still there.
    ASSERT_TRUE(WriteBytes(path, "\xEF\xBB\xBF\xFF\xFE\n[S]\nK=v\n"));
    EXPECT_EQ(file.readString("S", "K", "def"), "v");
    ASSERT_TRUE(file.writeString("S", "L", "w"));
    EXPECT_EQ(file.readString("S", "K", "def"), "v");
    EXPECT_EQ(file.readString("S", "L", "def"), "w");
    EXPECT_EQ(file.state(), ProfileFile::State::Loaded);

    // Bytes behind a UTF-8 mark that are no valid UTF-8 keep the file readable after a write.
    ASSERT_TRUE(WriteBytes(path, "\xEF\xBB\xBF\xFF\xBF[w]\n\x8B\xC2\n[S]\nK=v\n"));
    ASSERT_TRUE(file.writeString("S", "L", "w"));
    EXPECT_EQ(file.readString("S", "K", "def"), "v");
    EXPECT_EQ(file.readString("S", "L", "def"), "w");

    // U+FEFF inside a value, at its start too, is text.
    const QString marked = QChar(0xFEFF) + QStringLiteral("x") + QChar(0xFEFF);
    ASSERT_TRUE(file.writeString("S", "K", marked));
    EXPECT_EQ(file.readString("S", "K", "def"), marked);

    // A second mark is the first character of the text; it survives a rewrite of the file, in
    // UTF-8 and in UTF-16.
    const QString text = QChar(0xFEFF) + QStringLiteral("[A]\nK=a\n[S]\nK=v\n");
    QByteArray le("\xFF\xFE");
    for (const QChar c : text) {
        le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    }
    for (const QByteArray& bytes : {QByteArray("\xEF\xBB\xBF") + text.toUtf8(), le}) {
        ASSERT_TRUE(WriteBytes(path, bytes));
        EXPECT_EQ(file.readString("A", "K", "def"), "def");  // "\uFEFF[A]" is no section
        ASSERT_TRUE(file.writeString("S", "K", "w"));
        EXPECT_EQ(file.readString("A", "K", "def"), "def");
        EXPECT_EQ(file.readString("S", "K", "def"), "w");
    }
}

TEST_F(ProfileFileTest, UndecodableFileIsReadOnlyAndLoneCarriageReturnsEndLines) {
    const QString path = pathOf("English.lng");
    ProfileFile file(path);

    // UTF-16 without a byte-order mark, and a legacy 8-bit encoding: defaults, never written.
    QByteArray utf16;
    for (const char c : QByteArray("[LANGUAGESET]\r\nLANGUAGE=English\r\n")) {
        utf16.append(c).append('\0');
    }
    for (const QByteArray& bytes : {utf16, QByteArray("[MainWnd]\nSTOP=Arr\xEAt\n")}) {
        ASSERT_TRUE(WriteBytes(path, bytes));
        EXPECT_EQ(file.state(), ProfileFile::State::Undecodable);
        EXPECT_EQ(file.readString("LANGUAGESET", "LANGUAGE", "Japanese"), "Japanese");
        EXPECT_FALSE(file.writeString("LANGUAGESET", "INDEX", "1"));
        EXPECT_FALSE(file.writeString("MainWnd", "STOP", "Stop"));
        EXPECT_EQ(ReadBytes(path), bytes);
    }

    // Lines ended by a lone carriage return read like any other; a write ends them with "\n".
    ASSERT_TRUE(WriteBytes(path, "[MainWnd]\rSTOP=Stop\rPLAY=Play\r\r[Menu]\rFILE=File"));
    EXPECT_EQ(file.readString("MainWnd", "PLAY", "x"), "Play");
    EXPECT_EQ(file.readString("Menu", "FILE", "x"), "File");
    ASSERT_TRUE(file.writeString("MainWnd", "SNAP", "Snapshot"));
    EXPECT_EQ(ReadBytes(path),
              "[MainWnd]\nSTOP=Stop\nPLAY=Play\nSNAP=Snapshot\n\n[Menu]\nFILE=File\n");
}

TEST_F(ProfileFileTest, FolderOrOversizedFileIsUnreadableAndNeverOverwritten) {
    const QString folder = pathOf("Setting.ini");
    ASSERT_TRUE(QDir().mkdir(folder));
    ProfileFile dirFile(folder);
    EXPECT_EQ(dirFile.readString("S", "K", "def"), "def");
    EXPECT_FALSE(dirFile.writeString("S", "K", "v"));
    EXPECT_TRUE(QFileInfo(folder).isDir());

    const QString path = pathOf("huge.ini");
    const QByteArray huge = "[S]\nK=v\n" + QByteArray(17 * 1024 * 1024, 'z');
    ASSERT_TRUE(WriteBytes(path, huge));
    ProfileFile file(path);
    EXPECT_EQ(file.readString("S", "K", "def"), "def");
    EXPECT_FALSE(file.writeString("S", "K", "w"));
    EXPECT_EQ(QFileInfo(path).size(), huge.size());

    ProfileFile noPath{QString()};
    EXPECT_EQ(noPath.readString("S", "K", "def"), "def");
    EXPECT_FALSE(noPath.writeString("S", "K", "v"));
}

TEST_F(ProfileFileTest, NamesAndValuesThatWouldBreakTheFileAreRefused) {
    const QString path = pathOf("safe.ini");
    ASSERT_TRUE(WriteBytes(path, "[S]\nK=v\n"));
    ProfileFile file(path);
    EXPECT_FALSE(file.writeString("S", "K", "two\nlines"));
    EXPECT_FALSE(file.writeString("S", "K", "cr\rhere"));
    EXPECT_FALSE(file.writeString("S", "A=B", "v"));
    EXPECT_FALSE(file.writeString("S]x", "K", "v"));
    EXPECT_FALSE(file.writeString("", "K", "v"));
    EXPECT_FALSE(file.writeString("S", "", "v"));
    EXPECT_EQ(ReadBytes(path), "[S]\nK=v\n");
}

TEST_F(ProfileFileTest, ReadIntTakesTheLeadingNumber) {
    const QString path = pathOf("int.ini");
    ASSERT_TRUE(WriteBytes(path,
                           "[LANGUAGESET]\nINDEX=2\nA=12abc\nB=-7\nC=abc\nD=\nE=99999999999\n"
                           "F=-99999999999\n"));
    ProfileFile file(path);
    EXPECT_EQ(file.readInt("languageset", "index", 0), 2);
    EXPECT_EQ(file.readInt("LANGUAGESET", "A", 5), 12);
    EXPECT_EQ(file.readInt("LANGUAGESET", "B", 5), -7);
    EXPECT_EQ(file.readInt("LANGUAGESET", "C", 5), 0);
    EXPECT_EQ(file.readInt("LANGUAGESET", "D", 5), 0);
    EXPECT_EQ(file.readInt("LANGUAGESET", "E", 5), std::numeric_limits<int>::max());
    EXPECT_EQ(file.readInt("LANGUAGESET", "F", 5), std::numeric_limits<int>::min());
    EXPECT_EQ(file.readInt("LANGUAGESET", "missing", 5), 5);
}

}  // namespace
