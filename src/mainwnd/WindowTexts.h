#pragma once

#include <QString>

class Texts;

// The main window's texts in the language in force, kept after they are looked up: menu items
// and titles, tool tips, notes. Load() looks every one up again (a language change).
struct WindowTexts {
    void Load(const Texts& texts);

    QString m_strCaption;
    QString m_strFilePath, m_strExit, m_strOpen, m_strPlay, m_strStop, m_strSnap, m_strRecord;
    QString m_strHMirror, m_strVMirror, m_strReMirror, m_strZoomIn, m_strZoomOut, m_strReZoom;
    QString m_strResolution, m_strFrequency, m_strCamera, m_strProperty, m_strAutoExposure,
        m_strManualExposure, m_strFolder, m_strSaveParam, m_strRestore, m_strMove, m_strVersion;
    QString m_strStoreInfo, m_strRestoreInfo, m_strFlashFailed, m_strCameraRemoved;
    QString m_strMenuFile, m_strMenuSetting, m_strMenuControl, m_strMenuZoom, m_strMenuMirror,
        m_strMenuAbout, m_strMenuLanguage;
    QString m_strChinese, m_strEnglish, m_strJapanese;
};
