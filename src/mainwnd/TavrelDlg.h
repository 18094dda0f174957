#pragma once

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <span>

#include "display/MoveWnd.h"
#include "mainwnd/CommandBars.h"
#include "mainwnd/CommandTable.h"
#include "mainwnd/WindowTexts.h"
#include "session/CameraSession.h"

struct AppSettings;
struct DeviceTable;
class HotPlugMonitor;
class PreviewWidget;
class QAction;
class QMenu;
class QTimer;

// The program's one top-level window: menu bar, toolbar of ten buttons, three-pane status bar
// and the preview area. It is a router: every command is a row of the command table
// (CommandTable.h), and each feature keeps its state and logic in a controller of the window's
// camera session (the open camera in CaptureController, the view in ViewTransform, snapshots and
// recordings in RecordingController, the display worker and the overlay). The window turns what
// they report into menu states, toolbar pictures and texts.
//
// A menu item and the toolbar button of one command are separate actions, because their states
// differ (the toolbar shows pictures and pressed states, the menu shows check marks, and factory
// mode removes menu items whose buttons stay). GUI thread only.
class CTavrelDlg : public QMainWindow {
    Q_OBJECT
public:
    // The settings and the device table (the application object's) must outlive the window.
    CTavrelDlg(AppSettings& settings, DeviceTable& devices, QWidget* parent = nullptr);
    ~CTavrelDlg() override;

    // Runs a command as its menu item, toolbar button or shortcut would: nothing when its guard
    // does not hold. The command states are brought up to date afterwards.
    void OnCommand(int id);

    // The menu item of a command, or null when the menu does not hold it.
    QAction* menuAction(int id) const { return m_bars->menuAction(id); }
    // The toolbar button of a command, or null when the toolbar has none.
    QAction* toolAction(int id) const { return m_bars->toolAction(id); }
    // The icon number shown by a toolbar slot (ToolSlot).
    int toolbarImage(int slot) const { return m_bars->toolbarImage(slot); }
    QString statusText(int pane) const { return m_bars->statusText(pane); }
    QMenu* topMenu(int position) const { return m_bars->topMenu(position); }
    QMenu* resolutionMenu() const { return m_bars->resolutionMenu(); }
    QMenu* cameraMenu() const { return m_bars->cameraMenu(); }
    PreviewWidget* preview() const { return m_preview; }

    void ApplyLanguageTexts();
    void UpdateCommandStates();
    // The tool tip of a toolbar command in the current state; empty for no tip.
    QString OnToolTipText(int id) const;
    const WindowTexts& texts() const { return m_texts; }

    void LoadSaveFolder();
    const QString& saveFolder() const { return m_strSaveFolder; }
    // Folder chooser of the Save Folder command (replaceable by tests): parent, caption,
    // instruction line, start folder → the chosen folder, or empty when cancelled.
    using FolderPicker =
        std::function<QString(QWidget*, const QString&, const QString&, const QString&)>;
    void setFolderPicker(FolderPicker picker) { m_folderPicker = std::move(picker); }

    bool factoryMode() const { return m_bFactoryMode; }
    bool wantPreview() const;
    // Support check; returns the number of supported cameras found. Refills the Camera menu.
    int FindSupportedCameras();

    // A device arrived or left (udev's video4linux events, the virtual camera's plug and
    // unplug). A removal counts only when the camera controller no longer answers for the open
    // camera: then the camera is closed (a recording is finished first), its frequency and
    // resolution choices are greyed and the preview says it was removed. An arrival while no
    // camera is open opens one again, the one that was removed when it is back, in the state
    // the user wanted (running or paused), with the pan-and-zoom window if it was ever opened;
    // while the removed camera is not back, only a camera that itself arrived (devNode) is
    // opened. Anything else changes nothing.
    void OnDeviceChange(bool arrival, const QString& devNode = QString());

    CaptureController& camera() { return m_session.camera(); }
    const CaptureController& camera() const { return m_session.camera(); }
    RecordingController& recording() { return m_session.recording(); }
    ViewTransform& view() { return m_session.view(); }
    const ViewTransform& view() const { return m_session.view(); }
    CameraSystem& cameraSystem() { return m_session.cameraSystem(); }
    CameraDiscovery& cameraDiscovery() { return m_session.discovery(); }
    HotPlugMonitor& hotPlug() { return *m_hotPlug; }
    FrameStore& frameStore() { return m_session.frames(); }
    Overlay& overlay() { return m_session.overlay(); }
    DisplayWorker& displayWorker() { return m_session.display(); }
    FlashParamsController& flashParameters() { return m_session.flashParameters(); }
    // Factory mode, with a picture: opens the pan-and-zoom window beside this one, replacing
    // one opened before. Also the way to bring it back after the camera is plugged in again.
    void OpenPanZoomWindow();
    // Set once the pan-and-zoom window has been opened; it stays set for the run.
    bool panWindowOpened() const { return m_bPanWindowOpened; }
    // The pan-and-zoom window last opened (hidden when closed), or null.
    CMoveWnd* moveWnd() const { return m_pMoveWnd; }
    // Runs for 2 s after a Save or Restore note (one-shot; the note stays afterwards).
    QTimer* noteTimer() const { return m_noteTimer; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend std::span<const CommandRow> MainCommands();

    void ConnectControllers();
    void SetMenuChecked(int id, bool checked) { m_bars->SetMenuChecked(id, checked); }
    void SetToolbarImage(int slot, int iconId) { m_bars->SetToolbarImage(slot, iconId); }
    void SetStatusText(int pane, const QString& text) { m_bars->SetStatusText(pane, text); }
    bool GuardHolds(Guard guard) const;
    // Greys each command whose guard does not hold (and each whose feature is not built).
    void UpdateCommandEnables();
    void UpdateZoomButtons();
    void UpdateMirrorButtons();
    void ShowZoomPercentage();
    void FitWindowToVideo();
    // The window at the size its content asks for, within the screen's available area and
    // moved onto it (nothing while maximised or full screen).
    void ResizeToContent();
    QSize FrameSize() const;
    void CheckResolutionEntry();
    // The preview's hint: why there is no picture, or none.
    void ShowPictureProblem();
    // Rebuilds the overlay and shows it alone until the next frame.
    void ShowPlaceholder();
    // ChooseDevice with camera; discovery's controller answers for it from now on.
    void OpenCamera(const CameraId& chosen);
    void OnCameraArrival(const QString& devNode);
    void OnCameraRemoval();
    // Looks a failure text up so that its key lands in the language file; it is not shown.
    void NoteFailure(const QString& key);
    void NoteCameraFailure(const QString& key);

    // Command handlers (the rows of MainCommands()).
    void OnChooseFolder();
    void OnExit();
    void OnFreq50Hz();
    void OnFreq60Hz();
    // Factory mode: the camera's parameter memory. Save keeps the settings in force for every
    // later start; Restore returns to the camera's default block at once, with the save folder
    // back at the Pictures folder and 50 Hz.
    void OnSaveParameters();
    void OnRestoreParameters();
    // The note of a Save or Restore in the message pane, and the note timer restarted.
    void ShowFlashNote(bool written, const QString& note);
    // Factory mode: the camera property dialog. Otherwise: automatic or manual exposure.
    void OnProperty();
    // The Property button's picture after the camera's exposure mode (normal mode).
    void ShowExposureMode();
    void On640x480();
    void OnResolutionCommand(int id);
    // An entry of the Camera menu: opens that camera and remembers it as the user's choice.
    void OnCameraCommand(int id);
    void OnPlay();
    void OnSnap();
    void OnSnapAt(const QDateTime& when);
    void OnRecord();
    void OnZoomIn();
    void OnZoomOut();
    void OnZoomReset();
    void OnHMirror();
    void OnVMirror();
    void OnMirrorReset();
    void OpenMaskWindow();
    void OnAbout();
    void OnChinese();
    void OnEnglish();
    void OnJapanese();
    void OnLanguage(int index);
    // The language menu's check mark on the language file in force.
    void CheckLanguageInForce();

    // Teardown in a fixed order; runs once, when the window closes.
    void DestroyWindow();

    AppSettings& m_settings;
    DeviceTable& m_devices;
    const bool m_bFactoryMode;
    WindowTexts m_texts;

    CameraSession m_session;
    // Watches the session's camera system: it goes before the session.
    std::unique_ptr<HotPlugMonitor> m_hotPlug;

    CommandBars* m_bars = nullptr;  // child of the window
    PreviewWidget* m_preview = nullptr;
    QTimer* m_noteTimer = nullptr;  // child of the window

    QPointer<CMoveWnd> m_pMoveWnd;  // child of the window
    bool m_bPanWindowOpened = false;

    QString m_strSaveFolder;
    bool m_bSaveFolderNoted = false;  // the note on an unusable stored folder has been shown
    // Set when the open camera was unplugged, until a camera is open again.
    bool m_bCameraRemoved = false;
    // The camera that was unplugged, opened again when it comes back.
    CameraId m_lostCamera;
    bool m_destroyed = false;
    FolderPicker m_folderPicker;
};
