#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <functional>
#include <map>

class CTavrelApp;
class PreviewWidget;
class QAction;
class QLabel;
class QMenu;
class QToolBar;

// The program's one top-level window: menu bar, toolbar of ten buttons, three-pane status bar
// and the preview area. It routes every command to its handler and keeps the window-wide state
// the features share (preview wanted, factory mode, texts, save folder). Each feature keeps its
// own state and logic in its own class that the window owns; the window stays a router.
//
// Commands are addressed by their numeric ids (mainwnd/CommandIds.h): a menu item and the
// toolbar button of one command are separate actions, because their states differ (the toolbar
// shows pictures and pressed states, the menu shows check marks, and factory mode removes menu
// items whose buttons stay).
class CTavrelDlg : public QMainWindow {
    Q_OBJECT
public:
    explicit CTavrelDlg(CTavrelApp& app, QWidget* parent = nullptr);
    ~CTavrelDlg() override;

    // Runs the handler of a command, as a menu item, a toolbar button or a shortcut would.
    void OnCommand(int id);

    // The menu item of a command, or null when the menu does not hold it (never created, or
    // removed outside factory mode).
    QAction* menuAction(int id) const;
    // The toolbar button of a command, or null when the toolbar has none.
    QAction* toolAction(int id) const;
    // The icon number shown by a toolbar slot (ToolSlot).
    int toolbarImage(int slot) const { return m_toolbarImages.at(slot); }
    QString statusText(int pane) const;
    QMenu* topMenu(int position) const;
    PreviewWidget* preview() const { return m_preview; }

    void ApplyLanguageTexts();
    void UpdateCommandStates();
    // The tool tip of a toolbar command in the current state; empty for no tip.
    QString OnToolTipText(int id) const;

    void LoadSaveFolder();
    void OnChooseFolder();
    const QString& saveFolder() const { return m_strSaveFolder; }

    // Folder chooser used by OnChooseFolder (replaceable by tests): parent, caption, start
    // folder → the chosen folder, or empty when cancelled.
    using FolderPicker = std::function<QString(QWidget*, const QString&, const QString&)>;
    void setFolderPicker(FolderPicker picker) { m_folderPicker = std::move(picker); }

    // Opens the About window modally; exposed so tests can reach it without the menu.
    void OpenAboutWindow();

    bool wantPreview() const { return m_bWantPreview; }
    bool factoryMode() const { return m_bFactoryMode; }

    // Texts kept after they are applied.
    QString m_strFilePath, m_strExit, m_strOpen, m_strPlay, m_strStop, m_strSnap, m_strRecord;
    QString m_strHMirror, m_strVMirror, m_strReMirror, m_strZoomIn, m_strZoomOut, m_strReZoom;
    QString m_strResolution, m_strFrequency, m_strProperty, m_strAutoExposure, m_strManualExposure,
        m_strFolder, m_strSaveParam, m_strRestore, m_strMove;
    QString m_strStartTime, m_strStoreInfo, m_strRestoreInfo, m_strTimeLen;
    QString m_strMenuFile, m_strMenuSetting, m_strMenuControl, m_strMenuZoom, m_strMenuMirror,
        m_strMenuAbout, m_strMenuLanguage;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    QAction* AddMenuCommand(QMenu* menu, int id, const QString& resourceText,
                            bool checkable = false);
    void SetMenuText(int id, const QString& text);
    void SetMenuChecked(int id, bool checked);
    void SetToolbarImage(int slot, int iconId);
    void SetStatusText(int pane, const QString& text);

    void OnExit();
    void OnPlay();
    void OnLanguage(int id);

    // Whether a camera picture exists: the camera is open and a frame has arrived.
    bool HaveCameraPicture() const;
    bool HaveSourceFilter() const;

    // Teardown in a fixed order; runs once, when the window closes.
    void DestroyWindow();

    CTavrelApp& m_app;

    QMenu* m_menuFile = nullptr;
    QMenu* m_menuSetting = nullptr;
    QMenu* m_menuResolution = nullptr;
    QMenu* m_menuYuv = nullptr;
    QMenu* m_menuMjpg = nullptr;
    QMenu* m_menuFrequency = nullptr;
    QMenu* m_menuControl = nullptr;
    QMenu* m_menuZoom = nullptr;
    QMenu* m_menuMirror = nullptr;
    QMenu* m_menuAbout = nullptr;
    QMenu* m_menuLanguage = nullptr;
    std::map<int, QAction*> m_menuActions;
    std::map<int, QAction*> m_toolActions;
    std::array<QAction*, 10> m_toolSlots{};
    std::array<int, 10> m_toolbarImages{};
    QToolBar* m_wndToolBar = nullptr;
    std::array<QLabel*, 3> m_statusPanes{};
    PreviewWidget* m_preview = nullptr;

    bool m_bWantPreview = true;
    bool m_bFactoryMode = false;
    QString m_strSaveFolder;
    bool m_destroyed = false;

    // Transform and camera state shown by the toolbar; owned here until their features land.
    float m_fZoom = 1.0f;
    bool m_bHMirror = false;
    bool m_bVMirror = false;
    bool m_bExposureAuto = false;

    FolderPicker m_folderPicker;
};
