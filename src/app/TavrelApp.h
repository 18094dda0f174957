#pragma once

#include <QString>
#include <array>

#include "app/CommandLine.h"
#include "device/DeviceTable.h"
#include "settings/Texts.h"

// Where the application keeps its files. Tests point these at temporary folders.
struct AppLocations {
    QString configRoot;  // $XDG_CONFIG_HOME (…/.config); the per-user folder is <root>/Orvane/
    QString picturesFolder;  // the XDG pictures folder, without trailing '/'
    QString moduleFolder;    // folder of the program file, without trailing '/'

    // The locations of the running user, from QStandardPaths and the program file.
    static AppLocations FromSystem();
};

// The application object: process-wide values that several windows read, the device table the
// support check fills, and the texts in the language in force. Exactly one exists while the
// program runs; CTavrelApp::current() returns it (null when there is none). Nothing below the
// windows reaches it: components get what they need handed in.
class CTavrelApp : public DeviceTable {
public:
    CTavrelApp();
    ~CTavrelApp();
    CTavrelApp(const CTavrelApp&) = delete;
    CTavrelApp& operator=(const CTavrelApp&) = delete;

    static CTavrelApp* current();

    // Start-up steps that need no window: module folder, per-user folder (created when missing,
    // together with the configuration root if a fresh account lacks it), Setting.ini path, the
    // validated language (written back every start), the module and per-user language folders,
    // the language file in force, and the factory switch. Failures to create folders or write
    // the settings file are not errors. An empty configRoot stands for ~/.config.
    void InitSettings(const AppLocations& locations, const CommandLine& commandLine);

    // Switches the language file in force (and the texts) to <language folder>/<name>.lng (the
    // caller writes the settings keys, as the language commands and the About window do).
    void SetLanguageName(const QString& name);

    // A language chosen by the user (language commands, About window): writes
    // "LANGUAGESET"/"LANGUAGE" = name, puts the language file in force, then writes "INDEX".
    // A settings file that cannot be written is not an error.
    void ChooseLanguage(const QString& name, int index);

    QString m_strModuleFolder;  // with trailing '/'
    QString m_strLanguageFile;  // full path of the language file in force; empty at first
    QString m_strSettingFile;     // full path of Setting.ini
    QString m_strLanguageFolder;  // with trailing '/'
    bool m_bFactoryMode = false;

    QString m_strPicturesFolder;    // XDG pictures folder, without trailing '/'
    bool m_bVirtualCamera = false;  // the built-in virtual camera takes part in discovery

    // The texts of the language file in force.
    Texts m_texts;
};

// The three languages, in the order of their index ("INDEX" in Setting.ini).
inline constexpr std::array<const char*, 3> kLanguageNames = {"Chinese", "English", "Japanese"};
