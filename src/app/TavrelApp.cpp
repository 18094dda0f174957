#include "app/TavrelApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "settings/ProfileFile.h"
#include "settings/SettingsLog.h"

namespace {

CTavrelApp* g_currentApp = nullptr;

QString WithoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(u'/')) {
        path.chop(1);
    }
    return path;
}

QString WithTrailingSlash(const QString& path) {
    return path.endsWith(u'/') ? path : path + u'/';
}

// The home folder of the account running the program, from the password database, or empty.
QString AccountHome() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return QString();
    }
    const QString home = QString::fromLocal8Bit(found->pw_dir);
    return QDir::isAbsolutePath(home) ? home : QString();
}

// $name when it is set to an absolute path, else accountHome + below, else empty. A relative
// value is ignored, as the XDG rules say (QStandardPaths would take it relative to the working
// folder).
QString XdgFolder(const char* name, const QString& accountHome, const char* below) {
    const QString value = qEnvironmentVariable(name);
    if (QDir::isAbsolutePath(value)) {
        return value;
    }
    return accountHome.isEmpty() ? QString() : accountHome + QLatin1String(below);
}

void EnsureDirectory(const QString& path) {
    if (!QFileInfo(path).isDir()) {
        QDir().mkpath(path);  // failure is no error: later reads give defaults
    }
}

}  // namespace

AppLocations AppLocations::FromSystem() {
    return FromEnvironment(qEnvironmentVariableIsEmpty("HOME") ? AccountHome() : QString());
}

AppLocations AppLocations::FromEnvironment(const QString& accountHome) {
    AppLocations locations;
    if (qEnvironmentVariableIsEmpty("HOME")) {
        // Qt would take the root of the file system for the home folder.
        locations.configRoot = XdgFolder("XDG_CONFIG_HOME", accountHome, "/.config");
        locations.dataRoot = XdgFolder("XDG_DATA_HOME", accountHome, "/.local/share");
        if (!accountHome.isEmpty()) {
            locations.picturesFolder = accountHome + QStringLiteral("/Pictures");
        }
    } else {
        const QString home = QDir::homePath();
        locations.configRoot = XdgFolder("XDG_CONFIG_HOME", home, "/.config");
        locations.picturesFolder =
            QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        locations.dataRoot = XdgFolder("XDG_DATA_HOME", home, "/.local/share");
    }
    locations.configRoot = WithoutTrailingSlash(locations.configRoot);
    locations.picturesFolder = WithoutTrailingSlash(locations.picturesFolder);
    locations.dataRoot = WithoutTrailingSlash(locations.dataRoot);
    if (QCoreApplication::instance() != nullptr) {
        locations.moduleFolder = QCoreApplication::applicationDirPath();
    } else {
        locations.moduleFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    }
    locations.moduleFolder = WithoutTrailingSlash(locations.moduleFolder);
    const QString installed =
        QDir::cleanPath(locations.moduleFolder + QStringLiteral("/" TAVREL_DATA_FROM_BIN));
    if (QFileInfo(installed).isDir()) {
        locations.shippedDataFolder = installed;
    }
    return locations;
}

CTavrelApp::CTavrelApp() {
    g_currentApp = this;
}

CTavrelApp::~CTavrelApp() {
    if (g_currentApp == this) {
        g_currentApp = nullptr;
    }
}

CTavrelApp* CTavrelApp::current() {
    return g_currentApp;
}

void CTavrelApp::InitSettings(const AppLocations& locations, const CommandLine& commandLine) {
    m_strModuleFolder = WithTrailingSlash(locations.moduleFolder);
    m_strDataRoot = WithoutTrailingSlash(locations.dataRoot);

    const QString configRoot = WithoutTrailingSlash(locations.configRoot);
    // Without a configuration root (no home folder at all) there is no per-user folder: the
    // settings take their defaults and nothing is written.
    const QString userFolder =
        configRoot.isEmpty() ? QString() : configRoot + QStringLiteral("/Orvane/");
    m_strSettingFile.clear();
    m_strLanguageFolder.clear();
    if (!userFolder.isEmpty()) {
        // The XDG configuration folder itself may not exist yet on a fresh account, so the
        // whole path is created.
        EnsureDirectory(userFolder);
        m_strSettingFile = userFolder + QStringLiteral("Setting.ini");
    }
    ProfileFile settings(m_strSettingFile);
    if (settings.state() == ProfileFile::State::Undecodable) {
        qCWarning(lcSettings).noquote()
            << "settings file" << m_strSettingFile
            << "is neither UTF-8 nor has it a byte-order mark; it is left as it is and the "
               "settings take their defaults";
    }
    QString language = settings.readString(QStringLiteral("LANGUAGESET"),
                                           QStringLiteral("LANGUAGE"), QStringLiteral("Japanese"));
    bool known = false;
    for (const char* name : kLanguageNames) {
        known = known || language == QLatin1String(name);  // exact, case-sensitive
    }
    if (!known) {
        language = QStringLiteral("Japanese");
    }

    // The window writes the language in force back; the command line changes no setting.
    if (commandLine.capture.mode == CaptureMode::Window) {
        settings.writeString(QStringLiteral("LANGUAGESET"), QStringLiteral("LANGUAGE"), language);
    }

    m_strShippedLanguageFolder =
        locations.shippedDataFolder.isEmpty()
            ? QString()
            : WithoutTrailingSlash(locations.shippedDataFolder) + QStringLiteral("/Language/");
    if (!userFolder.isEmpty()) {
        m_strLanguageFolder = userFolder + QStringLiteral("Language/");
        EnsureDirectory(m_strLanguageFolder);
    }
    SetLanguageName(language);

    m_bFactoryMode = commandLine.factoryMode();
    m_bVirtualCamera = commandLine.virtualCamera;
    m_strPicturesFolder = WithoutTrailingSlash(locations.picturesFolder);
}
