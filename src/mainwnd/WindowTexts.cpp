#include "mainwnd/WindowTexts.h"

#include "session/ProblemTexts.h"
#include "settings/LanguageText.h"
#include "settings/Texts.h"

void WindowTexts::Load(const Texts& texts) {
    // Looked up in the order of the language file, so that keys missing from an edited file
    // are written back in that order.
    auto main = [&](const char* key) { return texts.text("MainWnd", key); };
    auto menu = [&](const char* key) { return texts.text("Menu", key); };
    m_strCaption = main("MainCaption");
    m_strMenuFile = menu("FILE");
    m_strMenuSetting = menu("SETTING");
    m_strMenuControl = menu("CONTROL");
    m_strMenuZoom = menu("ZOOM");
    m_strMenuMirror = menu("MIRROR");
    m_strMenuAbout = menu("ABOUT");
    m_strFilePath = main("FILEPATH");
    m_strExit = main("EXIT");
    m_strOpen = main("OPEN");
    m_strPlay = main("PLAY");
    m_strStop = main("STOP");
    m_strSnap = main("SNAP");
    m_strRecord = main("RECORD");
    m_strHMirror = main("HMIRROR");
    m_strVMirror = main("VMIRROR");
    m_strReMirror = main("REMIRROR");
    m_strZoomIn = main("ZOOMIN");
    m_strZoomOut = main("ZOOMOUT");
    m_strReZoom = main("REZOOM");
    m_strResolution = main("RESOLUTION");
    m_strFrequency = main("FREQUENCY");
    m_strCamera = main("CAMERA");
    m_strProperty = main("PERPROTY");
    m_strAutoExposure = main("AUTOEXPOSURE");
    m_strManualExposure = main("MANUALEXPOSURE");
    g_strFolderTips = main("FOLDERTIPS");
    m_strFolder = main("FOLDER");
    m_strSaveParam = main("SAVEPARAM");
    m_strRestore = main("RESTORE");
    m_strMove = main("MOVE");
    m_strVersion = main("VERSION");
    m_strChinese = texts.text("MENU", "CHINESE");
    m_strEnglish = texts.text("MENU", "ENGLISH");
    m_strJapanese = texts.text("MENU", "JAPANESE");
    m_strMenuLanguage = texts.text("MENU", "LAN");
    m_strStoreInfo = main("STOREINFO");
    m_strRestoreInfo = main("RESTOREINFO");
    m_strFlashFailed = main("FLASHFAILED");
    // The preview's hints are the problem table's; looked up here too, so that an edited file
    // gets them back in this order.
    for (const ProblemTextRow& row : ProblemTextRows()) {
        main(row.windowKey);
    }
    m_strCameraRemoved = main("CAMERAREMOVED");
}
