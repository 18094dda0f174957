#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QTemporaryDir>

#include "app/TavrelApp.h"
#include "settings/LanguageText.h"
#include "settings/ProfileFile.h"
#include "settings/TextTable.h"
#include "settings/Texts.h"

#include <sys/resource.h>

#include <csignal>

#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class LanguageTextTest : public ::testing::Test {
protected:
    QString languageFile(const char* name) const {
        return m_dir.filePath("Orvane/Language/") + U(name) + ".lng";
    }

    QTemporaryDir m_dir;
};

QString BuiltIn(const char* name) {
    return ShippedLanguageFile(QString(), U(name));
}

TEST_F(LanguageTextTest, MissingFileIsCreatedFromTheShippedCopy) {
    const QString path = languageFile("Japanese");
    const QString shipped = BuiltIn("Japanese");
    ASSERT_FALSE(QFileInfo::exists(path));

    EXPECT_EQ(GetLanguageTextFrom(path, shipped, "MainWnd", "STOP", U("静止")), U("一時停止"));
    EXPECT_EQ(GetLanguageTextFrom(path, shipped, "Menu", "FILE", U("文件(&F)")), U("ファイル(&F)"));
    EXPECT_EQ(GetLanguageTextFrom(path, shipped, "MENU", "JAPANESE", U("日文")), U("日本語"));

    // The copy is the shipped file itself, and it is writable for later write-backs.
    EXPECT_EQ(ReadBytes(path), ReadBytes(":/lng/Japanese.lng"));
    const QFile::Permissions permissions = QFile::permissions(path);
    EXPECT_TRUE(permissions & QFile::WriteOwner);
    EXPECT_TRUE(permissions & QFile::ReadOwner);

    EXPECT_EQ(GetLanguageTextFrom(path, shipped, "MainWnd", "NEWKEY", U("新")), U("新"));
    EXPECT_EQ(ProfileFile(path).readString("MainWnd", "NEWKEY", "x"), U("新"));
}

TEST_F(LanguageTextTest, OldUserCopyGainsMissingKeysFromTheShippedFileOfItsLanguage) {
    // An installation whose shipped English file has a text the user's older copy lacks.
    const QString shippedFolder = m_dir.filePath("usr/share/tavrel/Language/");
    ASSERT_TRUE(QDir().mkpath(shippedFolder));
    ASSERT_TRUE(WriteBytes(shippedFolder + "English.lng", "[MainWnd]\nSTOP=Pause\nPLAY=Play on\n"));
    const QString path = languageFile("English");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    ASSERT_TRUE(WriteBytes(path, "[MainWnd]\nSTOP=Halt\n"));

    AppLocations locations;
    locations.configRoot = m_dir.path();
    locations.picturesFolder = m_dir.filePath("Pictures");
    locations.shippedDataFolder = m_dir.filePath("usr/share/tavrel");
    CTavrelApp app;
    app.InitSettings(locations, ParseCommandLine({}));
    app.SetLanguageName("English");

    // The user's own value stays; the missing key takes the shipped English value, and only
    // a key the shipped file lacks too falls back to the built-in Chinese text.
    EXPECT_EQ(app.m_texts.text("MainWnd", "STOP", U("静止")), "Halt");
    EXPECT_EQ(app.m_texts.text("MainWnd", "PLAY", U("播放")), "Play on");
    EXPECT_EQ(app.m_texts.text("WndMessage", "NOVIDEO", U("视频创建失败")), U("视频创建失败"));
    EXPECT_EQ(ReadBytes(path),
              "[MainWnd]\nSTOP=Halt\nPLAY=Play on\n[WndMessage]\nNOVIDEO=视频创建失败\n");
    EXPECT_EQ(ReadBytes(shippedFolder + "English.lng"), "[MainWnd]\nSTOP=Pause\nPLAY=Play on\n");

    // A language the installation does not ship in its folder uses the built-in copy.
    app.SetLanguageName("Japanese");
    EXPECT_EQ(app.m_texts.text("MainWnd", "STOP", U("静止")), U("一時停止"));
    EXPECT_EQ(ReadBytes(languageFile("Japanese")), ReadBytes(BuiltIn("Japanese")));
}

TEST_F(LanguageTextTest, LanguageWithoutShippedCopyFillsItselfWithDefaults) {
    const QString path = languageFile("Klingon");
    const QString shipped = BuiltIn("Klingon");
    ASSERT_TRUE(shipped.isEmpty());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    EXPECT_FALSE(ProvideLanguageFile(path, shipped));
    EXPECT_EQ(GetLanguageTextFrom(path, shipped, "MainWnd", "EXIT", U("退出")), U("退出"));
    EXPECT_EQ(ReadBytes(path), "[MainWnd]\nEXIT=退出\n");
}

TEST_F(LanguageTextTest, LongValueIsShownCutButStaysWholeInTheFile) {
    const QString path = languageFile("Chinese");
    const QString shipped = BuiltIn("Chinese");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QByteArray original = "[MainWnd]\nSTOP=" + QByteArray(100000, 'x') + "\n";
    ASSERT_TRUE(WriteBytes(path, original));

    EXPECT_EQ(GetLanguageTextFrom(path, shipped, "MainWnd", "STOP", U("静止")), QString(259, u'x'));
    EXPECT_EQ(ReadBytes(path), original);
    // A value the file holds is not replaced by a lookup with another default either.
    EXPECT_EQ(GetLanguageTextFrom(path, shipped, "MainWnd", "STOP", U("停")), QString(259, u'x'));
    EXPECT_EQ(ReadBytes(path), original);
}

TEST_F(LanguageTextTest, EnglishFileInAnotherEncodingKeepsEnglishAndIsNeverWritten) {
    AppLocations locations;
    locations.configRoot = m_dir.path();
    locations.picturesFolder = m_dir.filePath("Pictures");
    CTavrelApp app;
    app.InitSettings(locations, ParseCommandLine({}));
    const QString path = languageFile("English");

    // Latin-1 without a byte-order mark: the English texts come from the shipped English file.
    const QByteArray latin1 = "[MainWnd]\nSTOP=Arr\xEAt\n";
    ASSERT_TRUE(WriteBytes(path, latin1));
    app.SetLanguageName("English");
    EXPECT_EQ(app.m_texts.text("MainWnd", "STOP"), "Pause");
    EXPECT_EQ(app.m_texts.text("MainWnd", "PLAY"), "Play");
    EXPECT_EQ(ReadBytes(path), latin1);

    // Lone carriage returns: the user's texts are found, and the missing ones added in English.
    ASSERT_TRUE(WriteBytes(path, "[MainWnd]\rSTOP=Halt\r"));
    app.SetLanguageName("English");  // the file is read again when the language is chosen
    EXPECT_EQ(app.m_texts.text("MainWnd", "STOP"), "Halt");
    EXPECT_EQ(app.m_texts.text("MainWnd", "PLAY"), "Play");
    EXPECT_EQ(ReadBytes(path), "[MainWnd]\nSTOP=Halt\nPLAY=Play\n");
}

TEST_F(LanguageTextTest, LookupsFollowTheLanguageFileInForce) {
    EXPECT_EQ(Texts().text("MainWnd", "STOP", QString(300, u'静')), QString(259, u'静'));

    AppLocations locations;
    locations.configRoot = m_dir.path();
    locations.moduleFolder = m_dir.filePath("bin");
    locations.picturesFolder = m_dir.filePath("Pictures");
    CTavrelApp app;
    app.InitSettings(locations, ParseCommandLine({}));
    ASSERT_FALSE(QFileInfo::exists(app.m_strLanguageFile));

    EXPECT_EQ(app.m_texts.text("MainWnd", "STOP", U("静止")), U("一時停止"));
    EXPECT_TRUE(QFileInfo::exists(languageFile("Japanese")));
    app.SetLanguageName("English");
    EXPECT_EQ(app.m_texts.text("mainwnd", "stop", U("静止")), "Pause");
    app.SetLanguageName("Chinese");
    EXPECT_EQ(app.m_texts.text("MainWnd", "STOP", U("静止")), U("静止"));

    // The English file holds the blank before its note, quoted so that it survives.
    app.SetLanguageName("English");
    EXPECT_EQ(app.m_texts.text("MainWnd", "SNAPFAILED", U("（保存失败）")), " (not saved)");
}

TEST_F(LanguageTextTest, TextsAreReadOnceAndHoldUntilTheLanguageIsChosenAgain) {
    const QString path = languageFile("English");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    ASSERT_TRUE(WriteBytes(path, "[MainWnd]\nSTOP=Halt\n"));
    Texts texts;
    texts.setLanguageFile(path, BuiltIn("English"));
    EXPECT_EQ(texts.text("MainWnd", "STOP"), "Halt");
    EXPECT_EQ(texts.text("MainWnd", "PLAY"), "Play");  // added to the file from the shipped one
    EXPECT_EQ(ReadBytes(path), "[MainWnd]\nSTOP=Halt\nPLAY=Play\n");

    // Changed behind its back, the file is neither read nor written by later lookups.
    ASSERT_TRUE(WriteBytes(path, "[MainWnd]\nSTOP=Freeze\n"));
    EXPECT_EQ(texts.text("MainWnd", "STOP"), "Halt");
    EXPECT_EQ(texts.text("MainWnd", "PLAY"), "Play");
    EXPECT_EQ(ReadBytes(path), "[MainWnd]\nSTOP=Freeze\n");
    texts.setLanguageFile(path, BuiltIn("English"));
    EXPECT_EQ(texts.text("MainWnd", "STOP"), "Freeze");
}

// The copy in memory finds what ProfileFile finds in the file, in files written every way.
TEST_F(LanguageTextTest, TextsInMemoryReadAsTheFileReads) {
    const QString path = languageFile("English");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QByteArray body =
        "ORPHAN=before any section\r\n[ MainWnd ]\r\n; STOP=comment\r\n STOP = \"  Halt \" \r"
        "stop=second\n[broken\nPLAY='Go'\n[Menu]\nFILE=\uFEFFDatei\nEMPTY=\n"
        "[mainwnd]\nEXIT=later section\n[\u00C4rger]\n\u00E4=\u2003x\u3000\n";
    const QString utf16 = QString::fromUtf8(body);
    const QByteArray encodings[] = {
        body, "\xEF\xBB\xBF" + body,
        "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2)};
    const std::pair<const char*, const char*> keys[] = {
        {"MainWnd", "STOP"}, {"MAINWND", "play"}, {"Menu", "FILE"}, {"Menu", "EMPTY"},
        {"MainWnd", "EXIT"}, {"", "ORPHAN"},      {"Ärger", "Ä"},   {" Menu ", " FILE"}};
    for (const QByteArray& bytes : encodings) {
        ASSERT_TRUE(WriteBytes(path, bytes));
        LanguageTexts texts(path, QString());
        for (const auto& [section, key] : keys) {
            const QString want = ProfileFile(path).readString(U(section), U(key), U("default"));
            EXPECT_EQ(texts.text(U(section), U(key), U("default")), want)
                << section << "/" << key << " in " << bytes.left(3).toHex().toStdString();
        }
    }
}

TEST_F(LanguageTextTest, UnwritableLanguageFolderStillYieldsTexts) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "folder permissions do not bind the superuser";
    }
    const QString folder = m_dir.filePath("locked");
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const QString path = folder + "/Japanese.lng";
    const QString shipped;
    EXPECT_FALSE(ProvideLanguageFile(path, shipped));
    EXPECT_EQ(GetLanguageTextFrom(path, shipped, "MainWnd", "STOP", U("静止")), U("静止"));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Keys of one shipped file as "SECTION/KEY" (upper case: sections and keys compare without
// regard to case), checking on the way that the file is plain UTF-8.
QSet<QString> ShippedKeys(const QString& resource) {
    const QByteArray bytes = ReadBytes(resource);
    EXPECT_FALSE(bytes.isEmpty()) << resource.toStdString();
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF")) << resource.toStdString();
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString text = decoder.decode(bytes);
    EXPECT_FALSE(decoder.hasError()) << resource.toStdString();

    QSet<QString> keys;
    QString section;
    for (const QString& rawLine : text.split(u'\n')) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(u'[')) {
            section = line.mid(1, line.indexOf(u']') - 1).toUpper();
        } else if (!line.isEmpty() && !line.startsWith(u';')) {
            const QString key = section + u'/' + line.section(u'=', 0, 0).trimmed().toUpper();
            EXPECT_FALSE(keys.contains(key)) << "twice: " << key.toStdString();
            keys.insert(key);
        }
    }
    return keys;
}

TEST(ShippedLanguageFiles, HoldEveryBuiltInTextAndNothingElse) {
    QSet<QString> tableKeys;
    for (const TextEntry& entry : BuiltInTexts()) {
        const QString key = U(entry.section).toUpper() + u'/' + U(entry.key).toUpper();
        EXPECT_FALSE(tableKeys.contains(key)) << "table lists twice: " << key.toStdString();
        tableKeys.insert(key);
        EXPECT_EQ(BuiltInDefault(U(entry.section), U(entry.key)), U(entry.chineseDefault));
    }
    EXPECT_TRUE(BuiltInDefault(u"MainWnd", u"NOSUCHKEY").isEmpty());
    EXPECT_EQ(BuiltInDefault(u"WndMessage", u"NOSUPPORT"), U("没有找到支持的硬件设备"));

    for (const char* language : kLanguageNames) {
        SCOPED_TRACE(language);
        const QString resource = ":/lng/" + U(language) + ".lng";
        EXPECT_EQ(ShippedKeys(resource), tableKeys);

        const ProfileFile file(resource);
        const QString missing = QStringLiteral("\x01missing");
        for (const TextEntry& entry : BuiltInTexts()) {
            SCOPED_TRACE(std::string(entry.section) + "/" + entry.key);
            const QString value = file.readString(U(entry.section), U(entry.key), missing);
            EXPECT_NE(value, missing);
            EXPECT_FALSE(value.trimmed().isEmpty());
            if (QLatin1String(language) == QLatin1String("Chinese")) {
                EXPECT_EQ(value, U(entry.chineseDefault));
            }
        }
    }
}

TEST(ShippedLanguageFiles, TranslationsAreNotLeftInChinese) {
    const ProfileFile english(":/lng/English.lng");
    const ProfileFile japanese(":/lng/Japanese.lng");
    EXPECT_EQ(english.readString("Menu", "FILE", ""), "&File");
    EXPECT_EQ(japanese.readString("Menu", "FILE", ""), U("ファイル(&F)"));
    EXPECT_EQ(japanese.readString("MainWnd", "ZOOMIN", ""), U("ズームイン"));
    EXPECT_EQ(english.readString("AboutWnd", "CPYRIGHT", ""),
              "Copyright (C) 2019-2026 Orvane Optics. All rights reserved.");
    // No English value contains Han characters (a value forgotten in Chinese).
    for (const TextEntry& entry : BuiltInTexts()) {
        const QString value = english.readString(U(entry.section), U(entry.key), "");
        for (const QChar c : value) {
            EXPECT_FALSE(c.script() == QChar::Script_Han)
                << entry.section << "/" << entry.key << " = " << value.toStdString();
        }
    }
}

// A copy of the shipped file that does not fit (a full disk, a file-size limit) is not left in
// place half written.
TEST_F(LanguageTextTest, ACopyCutShortIsNotLeftInPlace) {
    const QString path = languageFile("English");
    const QString shipped = BuiltIn("English");
    EXPECT_EQ(RunInChild([&] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{512, 512};
                  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
                  EXPECT_FALSE(ProvideLanguageFile(path, shipped));
              }),
              ChildOutcome::Passed);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

}  // namespace
