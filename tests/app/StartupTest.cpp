#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>

#include "app/CommandLine.h"
#include "app/TavrelApp.h"
#include "settings/ProfileFile.h"

#include "support/TestFiles.h"

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath("config")));
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath("bin")));
        m_locations.configRoot = m_dir.filePath("config");
        m_locations.picturesFolder = m_dir.filePath("Pictures/");
        m_locations.moduleFolder = m_dir.filePath("bin");
    }

    QString userFolder() const { return m_dir.filePath("config/Orvane/"); }

    QTemporaryDir m_dir;
    AppLocations m_locations;
};

TEST_F(StartupTest, FirstStartCreatesTheUserFolderSettingsAndLanguageFolder) {
    ASSERT_FALSE(QFileInfo::exists(userFolder()));
    CTavrelApp app;
    EXPECT_EQ(CTavrelApp::current(), &app);
    app.InitSettings(m_locations, ParseCommandLine({}));

    EXPECT_TRUE(QFileInfo(userFolder()).isDir());
    EXPECT_EQ(app.m_strSettingFile, userFolder() + "Setting.ini");
    EXPECT_EQ(ReadBytes(app.m_strSettingFile), "[LANGUAGESET]\nLANGUAGE=Japanese\n");
    EXPECT_EQ(app.m_strLanguageFolder, userFolder() + "Language/");
    EXPECT_TRUE(QFileInfo(app.m_strLanguageFolder).isDir());
    EXPECT_EQ(app.m_strLanguageFile, userFolder() + "Language/Japanese.lng");
    EXPECT_EQ(app.m_strModuleFolder, m_dir.filePath("bin") + "/");
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("bin/Language")));  // nothing beside the program
    EXPECT_EQ(app.m_strPicturesFolder, m_dir.filePath("Pictures"));
    EXPECT_FALSE(app.m_bFactoryMode);
    EXPECT_FALSE(app.m_bVirtualCamera);
}

TEST_F(StartupTest, MissingConfigurationRootIsCreatedToo) {
    m_locations.configRoot = m_dir.filePath("fresh/.config");
    CTavrelApp app;
    app.InitSettings(m_locations, ParseCommandLine({}));
    EXPECT_EQ(ReadBytes(m_dir.filePath("fresh/.config/Orvane/Setting.ini")),
              "[LANGUAGESET]\nLANGUAGE=Japanese\n");
}

TEST_F(StartupTest, StoredLanguageIsValidatedExactlyAndWrittenBack) {
    struct Case {
        const char* stored;
        const char* expected;
    };
    for (const Case& c :
         {Case{"english", "Japanese"}, Case{"English", "English"}, Case{"Chinese", "Chinese"},
          Case{"Klingon", "Japanese"}, Case{"", "Japanese"}}) {
        SCOPED_TRACE(c.stored);
        QDir(userFolder()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(userFolder()));
        ASSERT_TRUE(WriteBytes(userFolder() + "Setting.ini",
                               QByteArray("[LANGUAGESET]\nLANGUAGE=") + c.stored +
                                   "\nINDEX=1\n[Path]\nFileFolder=/data/\n"));
        CTavrelApp app;
        app.InitSettings(m_locations, ParseCommandLine({}));
        EXPECT_EQ(app.m_strLanguageFile,
                  userFolder() + "Language/" + QString::fromUtf8(c.expected) + ".lng");
        EXPECT_EQ(ReadBytes(userFolder() + "Setting.ini"),
                  QByteArray("[LANGUAGESET]\nLANGUAGE=") + c.expected +
                      "\nINDEX=1\n[Path]\nFileFolder=/data/\n");
    }
}

TEST_F(StartupTest, SetLanguageNameSwitchesTheLanguageFile) {
    CTavrelApp app;
    app.InitSettings(m_locations, ParseCommandLine({}));
    app.SetLanguageName("English");
    EXPECT_EQ(app.m_strLanguageFile, userFolder() + "Language/English.lng");
}

TEST_F(StartupTest, FactorySwitchMustBeTheWholeRemainingCommandLine) {
    struct Case {
        QStringList args;
        bool factory;
    };
    const Case cases[] = {
        {{"-FACTORYMODE=1"}, true},
        {{"-factorymode=1"}, false},
        {{"-FACTORYMODE=1 "}, false},
        {{"-FACTORYMODE=1", ""}, false},
        {{"-FACTORYMODE=0"}, false},
        {{"-FACTORYMODE=1", "extra"}, false},
        {{"extra", "-FACTORYMODE=1"}, false},
        {{}, false},
        {{"--virtual-camera", "-FACTORYMODE=1"}, true},
        {{"-FACTORYMODE=1", "--virtual-camera"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u'|').toStdString());
        const CommandLine commandLine = ParseCommandLine(c.args);
        EXPECT_EQ(commandLine.factoryMode(), c.factory);
        CTavrelApp app;
        app.InitSettings(m_locations, commandLine);
        EXPECT_EQ(app.m_bFactoryMode, c.factory);
    }
}

TEST_F(StartupTest, OwnOptionsAreTakenOutAndUnknownOnesReported) {
    unsetenv("TAVREL_VIRTUAL_CAMERA");
    CommandLine both = ParseCommandLine({"--virtual-camera", "-FACTORYMODE=1"});
    EXPECT_TRUE(both.virtualCamera);
    EXPECT_TRUE(both.factoryMode());
    EXPECT_TRUE(both.unknownOption.isEmpty());
    CTavrelApp app;
    app.InitSettings(m_locations, both);
    EXPECT_TRUE(app.m_bFactoryMode);
    EXPECT_TRUE(app.m_bVirtualCamera);

    const CommandLine unknown = ParseCommandLine({"--foo", "-FACTORYMODE=1", "--bar"});
    EXPECT_EQ(unknown.unknownOption, "--foo");
    EXPECT_EQ(unknown.rest, "-FACTORYMODE=1");
    EXPECT_FALSE(unknown.virtualCamera);

    const CommandLine info = ParseCommandLine({"--help", "--version", "a", "b"});
    EXPECT_TRUE(info.showHelp);
    EXPECT_TRUE(info.showVersion);
    EXPECT_EQ(info.rest, "a b");
    for (const char* word : {"--help", "--version", "--virtual-camera", "-FACTORYMODE=1"}) {
        EXPECT_TRUE(UsageText().contains(QLatin1String(word))) << word;
    }

    setenv("TAVREL_VIRTUAL_CAMERA", "1", 1);
    EXPECT_TRUE(ParseCommandLine({}).virtualCamera);
    setenv("TAVREL_VIRTUAL_CAMERA", "0", 1);
    EXPECT_FALSE(ParseCommandLine({}).virtualCamera);
    unsetenv("TAVREL_VIRTUAL_CAMERA");
}

TEST_F(StartupTest, CurrentFollowsTheLifetimeOfTheApplicationObject) {
    EXPECT_EQ(CTavrelApp::current(), nullptr);
    {
        CTavrelApp app;
        EXPECT_EQ(CTavrelApp::current(), &app);
    }
    EXPECT_EQ(CTavrelApp::current(), nullptr);
}

TEST_F(StartupTest, WithoutHomeFoldersComeFromTheAccountOrNothingIsWritten) {
    // The environment of a service started without HOME or XDG variables.
    const char* names[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};
    QByteArray saved[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = qgetenv(names[i]);
        qunsetenv(names[i]);
    }
    const AppLocations account = AppLocations::FromEnvironment("/home/ada");
    const AppLocations system = AppLocations::FromSystem();
    const AppLocations none = AppLocations::FromEnvironment(QString());
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    CTavrelApp app;
    app.InitSettings(none, ParseCommandLine({}));
    const QString stop = app.m_texts.text("MainWnd", "STOP");
    QDir::setCurrent(cwd);
    for (int i = 0; i < 3; ++i) {
        if (!saved[i].isNull()) {
            qputenv(names[i], saved[i]);
        }
    }

    EXPECT_EQ(account.configRoot, "/home/ada/.config");
    EXPECT_EQ(account.dataRoot, "/home/ada/.local/share");
    EXPECT_EQ(account.picturesFolder, "/home/ada/Pictures");
    EXPECT_NE(system.configRoot, "/.config");
    EXPECT_NE(system.picturesFolder, "/Pictures");
    EXPECT_TRUE(none.configRoot.isEmpty() && none.picturesFolder.isEmpty() &&
                none.dataRoot.isEmpty());

    // No home at all: defaults, and not one file written, not even in the current folder.
    EXPECT_TRUE(app.m_strSettingFile.isEmpty());
    EXPECT_TRUE(app.m_strLanguageFile.isEmpty());
    EXPECT_EQ(stop, QString::fromUtf8("一時停止"));  // the shipped Japanese text
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList({"bin", "config"}));
}

TEST_F(StartupTest, SystemLocationsAreAbsolute) {
    const AppLocations locations = AppLocations::FromSystem();
    EXPECT_TRUE(QDir::isAbsolutePath(locations.configRoot)) << locations.configRoot.toStdString();
    EXPECT_TRUE(QDir::isAbsolutePath(locations.moduleFolder))
        << locations.moduleFolder.toStdString();
    EXPECT_FALSE(locations.configRoot.endsWith(u'/'));
}

// The command line reads the settings but writes none: not even the language the window would
// write back. A relative XDG folder is ignored, as the XDG rules say.
TEST_F(StartupTest, TheCommandLineWritesNoSettingsAndRelativeXdgFoldersAreIgnored) {
    const QString settingFile = userFolder() + "Setting.ini";
    CTavrelApp app;
    app.InitSettings(m_locations, ParseCommandLine({"--snapshot"}));
    EXPECT_FALSE(QFileInfo::exists(settingFile));
    ASSERT_TRUE(WriteBytes(settingFile, "[LANGUAGESET]\nLANGUAGE=Klingon\n"));
    app.InitSettings(m_locations, ParseCommandLine({"--list-cameras"}));
    EXPECT_EQ(ReadBytes(settingFile), "[LANGUAGESET]\nLANGUAGE=Klingon\n");

    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qputenv("XDG_CONFIG_HOME", "relative/config");
    const AppLocations relative = AppLocations::FromSystem();
    qputenv("HOME", home);
    config.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", config);
    EXPECT_EQ(relative.configRoot, m_dir.path() + "/.config");
}

}  // namespace
