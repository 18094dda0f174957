#include "app/TavrelApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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

void EnsureDirectory(const QString& path) {
    if (!QFileInfo(path).isDir()) {
        QDir().mkpath(path);  // failure is no error: later reads give defaults
    }
}

}  // namespace

AppLocations AppLocations::FromSystem() {
    AppLocations locations;
    locations.configRoot = WithoutTrailingSlash(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    if (locations.configRoot.isEmpty()) {
        locations.configRoot = QDir::homePath() + QStringLiteral("/.config");
    }
    locations.picturesFolder =
        WithoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    if (QCoreApplication::instance() != nullptr) {
        locations.moduleFolder = QCoreApplication::applicationDirPath();
    } else {
        locations.moduleFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    }
    locations.moduleFolder = WithoutTrailingSlash(locations.moduleFolder);
    locations.dataRoot =
        WithoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
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

    QString configRoot = WithoutTrailingSlash(locations.configRoot);
    if (configRoot.isEmpty()) {
        configRoot = QDir::homePath() + QStringLiteral("/.config");
    }
    // The XDG configuration folder itself may not exist yet on a fresh account, so the whole
    // path is created.
    const QString userFolder = configRoot + QStringLiteral("/Orvane/");
    EnsureDirectory(userFolder);

    m_strSettingFile = userFolder + QStringLiteral("Setting.ini");
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

    settings.writeString(QStringLiteral("LANGUAGESET"), QStringLiteral("LANGUAGE"), language);

    m_strShippedLanguageFolder =
        locations.shippedDataFolder.isEmpty()
            ? QString()
            : WithoutTrailingSlash(locations.shippedDataFolder) + QStringLiteral("/Language/");
    m_strLanguageFolder = userFolder + QStringLiteral("Language/");
    EnsureDirectory(m_strLanguageFolder);
    SetLanguageName(language);

    m_bFactoryMode = commandLine.factoryMode();
    m_bVirtualCamera = commandLine.virtualCamera;
    m_strPicturesFolder = WithoutTrailingSlash(locations.picturesFolder);
}
