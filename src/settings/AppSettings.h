#pragma once

#include <QString>
#include <array>

#include "settings/QtTranslations.h"
#include "settings/Texts.h"

// The three languages, in the order of their index ("INDEX" in Setting.ini).
inline constexpr std::array<const char*, 3> kLanguageNames = {"Chinese", "English", "Japanese"};

// Where the program keeps its files, the language in force and its texts, and the switches of
// the command line: what the windows read. Start-up fills it (CTavrelApp::InitSettings); the
// language commands and the About window change the language through ChooseLanguage(). GUI
// thread only.
struct AppSettings {
    // Switches the language file in force (and the texts) to <language folder>/<name>.lng, with
    // the shipped file of that language behind it, and Qt's own texts to the same language
    // (the caller writes the settings keys, as ChooseLanguage does).
    void SetLanguageName(const QString& name);

    // A language chosen by the user (language commands, About window): writes
    // "LANGUAGESET"/"LANGUAGE" = name, puts the language file in force, then writes "INDEX".
    // A settings file that cannot be written is not an error.
    void ChooseLanguage(const QString& name, int index);

    QString m_strModuleFolder;    // with trailing '/'
    QString m_strLanguageFile;    // full path of the language file in force; empty at first
    QString m_strSettingFile;     // full path of Setting.ini; empty without a per-user folder
    QString m_strLanguageFolder;  // with trailing '/'
    // The language files shipped with the program (<prefix>/share/tavrel/Language/), with
    // trailing '/'; empty or missing files: the copies built into the program.
    QString m_strShippedLanguageFolder;
    QString m_strPicturesFolder;  // XDG pictures folder, without trailing '/'
    QString m_strDataRoot;        // XDG data folder (flash files); empty: the user's own
    bool m_bFactoryMode = false;
    bool m_bVirtualCamera = false;  // the built-in virtual camera takes part in discovery

    // The texts of the language file in force.
    Texts m_texts;
    // Qt's own texts in the same language.
    QtTranslations m_qtTranslations;
};
