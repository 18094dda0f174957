#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>

#include "display/MoveWnd.h"
#include "flashparams/FlashParamsController.h"
#include "mainwnd/CommandBars.h"
#include "mainwnd/CommandTable.h"
#include "mainwnd/WindowTexts.h"
#include "session/CameraLifecycle.h"
#include "session/CameraSession.h"

struct AppSettings;
struct DeviceTable;
class HotPlugMonitor;
class PreviewWidget;
class QAction;
class QMenu;
class QTimer;
enum class FailureFrom;

// The program's one top-level window: menu bar, toolbar of ten buttons, three-pane status bar
// and the preview area. It presents; the session decides. Every command is a row of the command
// table (CommandTable.h) that calls a controller or session operation; each feature keeps its
// state and logic in a controller of the window's camera session, and what happens as cameras
// come and go is the session's CameraLifecycle. The window turns what they report into menu
// states, toolbar pictures and texts, and owns its dialogs.
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
    // A language was chosen (or may have been): the texts, the check mark, the menu bar.
    void ApplyLanguage();
    void UpdateCommandStates();
    // The tool tip of a toolbar command in the current state; empty for no tip.
    QString OnToolTipText(int id) const;
    const WindowTexts& texts() const { return m_texts; }

    void LoadSaveFolder() { m_life.LoadSaveFolder(); }
    const QString& saveFolder() const { return m_session.saveFolder(); }
    // Folder chooser of the Save Folder command (replaceable by tests): parent, caption,
    // instruction line, start folder → the chosen folder, or empty when cancelled.
    using FolderPicker =
        std::function<QString(QWidget*, const QString&, const QString&, const QString&)>;
    void setFolderPicker(FolderPicker picker) { m_folderPicker = std::move(picker); }
    // The Save Folder command: the chooser, and the folder chosen in force.
    void ChooseSaveFolder();

    bool factoryMode() const { return m_bFactoryMode; }
    bool wantPreview() const;
    // Looks for cameras (the Camera menu follows); returns the number of supported cameras.
    int FindSupportedCameras() { return m_life.FindCameras(); }

    CameraSession& session() { return m_session; }
    CameraLifecycle& lifecycle() { return m_life; }
    CaptureController& camera() { return m_session.camera(); }
    const CaptureController& camera() const { return m_session.camera(); }
    RecordingController& recording() { return m_session.recording(); }
    ViewTransform& view() { return m_session.view(); }
    const ViewTransform& view() const { return m_session.view(); }
    CameraSystem& cameraSystem() { return m_session.cameraSystem(); }
    HotPlugMonitor& hotPlug() { return *m_life.hotPlug(); }
    FrameStore& frameStore() { return m_session.frames(); }
    Overlay& overlay() { return m_session.overlay(); }
    DisplayWorker& displayWorker() { return m_session.display(); }
    FlashParamsController& flashParameters() { return m_session.flashParameters(); }
    // Factory mode, with a picture: opens the pan-and-zoom window beside this one, replacing
    // one opened before. Also the way to bring it back after the camera is plugged in again.
    void OpenPanZoomWindow();
    // Set once the pan-and-zoom window has been opened; it stays set for the run.
    bool panWindowOpened() const { return m_life.panWindowWanted(); }
    // The pan-and-zoom window last opened (hidden when closed), or null.
    CMoveWnd* moveWnd() const { return m_pMoveWnd; }
    // Runs for 2 s after a Save or Restore note (one-shot; the note stays afterwards).
    QTimer* noteTimer() const { return m_noteTimer; }
    // The note of a Save (restore false) or Restore in the message pane, and the note timer
    // restarted; nothing for a write that was skipped.
    void ShowFlashNote(FlashWrite result, bool restore);
    // Play paused or resumed the picture: the Play button and menu item show it.
    void ShowPlayState();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ConnectControllers();
    void ConnectLifecycle();
    void SetMenuChecked(int id, bool checked) { m_bars->SetMenuChecked(id, checked); }
    void SetToolbarImage(int slot, int iconId) { m_bars->SetToolbarImage(slot, iconId); }
    void SetStatusText(int pane, const QString& text) { m_bars->SetStatusText(pane, text); }
    // The camera's name in the message pane, unless a note that must stay is there.
    void ShowCameraName();
    bool GuardHolds(Guard guard) const;
    // Greys each command whose guard does not hold.
    void UpdateCommandEnables();
    // Zoom and mirror buttons, the zoom percentage and the exposure picture after the view and
    // the camera as they are.
    void ShowViewState();
    void UpdateZoomButtons();
    void UpdateMirrorButtons();
    void ShowZoomPercentage();
    void FitToVideo();
    void CheckResolutionEntry();
    // The preview's hint: why there is no picture, or none.
    void ShowPictureProblem();
    // The Camera menu after the last search, its check mark on the open camera.
    void ShowCameras();
    // A failure key reported by the camera search or the camera.
    void NoteFailure(const QString& key, FailureFrom from);
    // The picture of the Property button after the camera's exposure mode (normal mode).
    void ShowExposureMode();
    void OnResolutionCommand(int id);
    // The language menu's check mark on the language file in force.
    void CheckLanguageInForce();

    // Teardown in a fixed order; runs once, when the window closes.
    void DestroyWindow();

    AppSettings& m_settings;
    const bool m_bFactoryMode;
    WindowTexts m_texts;

    CameraSession m_session;
    // What happens as cameras come and go; it goes before the session it works on.
    CameraLifecycle m_life;

    CommandBars* m_bars = nullptr;  // child of the window
    PreviewWidget* m_preview = nullptr;
    QTimer* m_noteTimer = nullptr;  // child of the window

    QPointer<CMoveWnd> m_pMoveWnd;  // child of the window

    // A note in the message pane that the camera's name does not replace (the save folder in
    // the settings could not be used), until the user saves, chooses a folder or another note
    // comes.
    bool m_bNoteStays = false;
    bool m_destroyed = false;
    FolderPicker m_folderPicker;
};
