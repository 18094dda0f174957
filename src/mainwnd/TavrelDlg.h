#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>

#include "capture/CaptureGraph.h"
#include "capture/FrameIntake.h"
#include "capture/FrameStore.h"
#include "capture/StreamFormats.h"
#include "display/DisplayWorker.h"
#include "display/Overlay.h"
#include "output/Recorder.h"

class CTavrelApp;
class CameraDiscovery;
class CameraSystem;
class PreviewWidget;
class SupportCheck;
class UsbDeviceSource;
class QAction;
class QLabel;
class QMenu;
class QTimer;
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

    // --- camera (capture graph, stream formats, frame intake) ---
    void ChooseDevice(const CameraId& camera);
    bool BuildCaptureGraph();
    bool RenderPreview();
    bool StartPreview();
    bool StopPreview();
    void TearDownGraph();
    void FreeCaptureFilters();
    void ApplyResolution(const CameraFormat& format);
    void OnResolutionCommand(int id);
    void On640x480();
    void OnPowerLineFrequency(int value);  // 1 = 50 Hz, 2 = 60 Hz
    // Support check; returns the number of supported cameras found.
    int FindSupportedCameras();

    CameraSystem& cameraSystem() { return *m_cameras; }
    CameraDiscovery& cameraDiscovery() { return *m_discovery; }
    CaptureGraph& captureGraph() { return m_graph; }
    FrameStore& frameStore() { return m_frameStore; }
    Recorder& recorder() { return m_recorder; }
    Overlay& overlay() { return m_overlay; }
    DisplayWorker& displayWorker() { return *m_display; }
    FrameIntake& frameIntake() { return m_intake; }
    StreamFormats& streamFormats() { return m_formats; }
    QMenu* resolutionMenu() const { return m_menuResolution; }
    int videoWidth() const { return m_frameStore.transform().m_nVideoWidth; }
    int videoHeight() const { return m_frameStore.transform().m_nVideoHeight; }

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
    void OnZoomIn();
    void OnZoomOut();
    void OnZoomReset();
    void OnMirror(int id);
    void OnMirrorReset();
    void UpdateZoomButtons();
    void UpdateMirrorButtons();
    // Greys what cannot act yet: the commands that need a camera picture, zoom out at 1.0.
    void UpdateCommandEnables();
    void SetCommandEnabled(int id, bool enabled);
    void OnLanguage(int id);

    // Whether a camera picture exists: a frame has arrived.
    bool HaveCameraPicture() const;
    // Whether a camera is open (the graph's source exists).
    bool HaveSourceFilter() const;
    // Looks a failure text up so that its key lands in the language file; it is not shown.
    static void NoteFailure(const QString& key);
    void EnumerateResolutions();
    void RebuildResolutionMenus();
    void CheckResolutionEntry();
    void FitWindowToVideo();
    void RecomputePanCentre();
    void ShowZoomPercentage();
    void OpenMaskWindow();
    // Snapshot of the picture as shown; `when` is the moment of the command or button press.
    void OnSnap(const QDateTime& when);
    void OnRecord();
    void OnRecordStatusTimer();  // timer 1
    void OnRecordFrameTimer();   // timer 2
    void StopRecordingTimers();
    // Called on the GUI thread whenever a frame has been shown: the first frame (again) lets
    // the commands act.
    void OnFrameShown();

    // Teardown in a fixed order; runs once, when the window closes.
    void DestroyWindow();

    CTavrelApp& m_app;

    // Declaration order is teardown order in reverse: the recorder and the frame store (and its
    // lock) outlive everything that delivers frames into them.
    Recorder m_recorder;
    FrameStore m_frameStore;
    Overlay m_overlay;
    std::unique_ptr<DisplayWorker> m_display;
    FrameIntake m_intake{m_frameStore};
    std::unique_ptr<CameraSystem> m_cameras;
    std::unique_ptr<CameraDiscovery> m_discovery;
    std::unique_ptr<UsbDeviceSource> m_usbSource;
    std::unique_ptr<SupportCheck> m_support;
    CaptureGraph m_graph;
    StreamFormats m_formats;
    CameraId m_pVideoMoniker;
    float m_fPanX = 0.0f;
    float m_fPanY = 0.0f;
    std::atomic<bool> m_frameShownPending{false};
    QTimer* m_timerRecordStatus = nullptr;  // timer 1: status text every second
    QTimer* m_timerRecordFrame = nullptr;   // timer 2: one sample every 34 ms
    QString m_strRecordElapsed;
    // What UpdateCommandEnables last applied; read by the capture thread's frame hook.
    std::atomic<bool> m_enablesShowPicture{true};

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

    // Camera state shown by the toolbar; owned here until the property features land.
    bool m_bExposureAuto = false;

    FolderPicker m_folderPicker;
};
