#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "capture/FrameStore.h"
#include "display/Overlay.h"
#include "display/ViewTransform.h"

struct AppSettings;
struct DeviceTable;
class Camera;
class CameraDiscovery;
class CameraSystem;
class CaptureController;
class DisplayWorker;
class FlashParamsController;
class PreviewWidget;
class RecordingController;
class SupportCheck;
class UsbDeviceSource;

// The controllers behind one open camera, shared by the main window and the command-line
// capture: the frame store, the overlay and the view, snapshots and recordings, the display
// worker, camera discovery and the support check, the capture controller and the camera's
// parameter memory. It wires what every owner needs alike (each camera start reads the
// camera's parameter memory, the view follows the video size, the overlay is rebuilt at that
// size when the preview starts) and tears them down in the one safe order. It also holds the
// save folder that snapshots and recordings go to. What happens when cameras are chosen, come
// and go is CameraLifecycle's; the owner keeps what is its own: menus, texts, timers.
//
// GUI thread only. The settings and the device table must outlive the session.
class CameraSession {
public:
    CameraSession(const AppSettings& settings, DeviceTable& devices);
    // Close() when the owner has not called it.
    ~CameraSession();
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // Starts the display worker that composes every frame with the overlay and shows it in
    // `widget` (null: composed, not shown). Once, before the first camera is opened; a preview
    // widget must outlive the session's Close().
    void StartDisplay(PreviewWidget* widget);
    bool hasDisplay() const { return m_display != nullptr; }

    // Rebuilds the overlay at the video size and shows it alone until the next frame.
    void ShowPlaceholder();

    // Runs after every camera start has read the camera's parameter memory, before the capture
    // graph chooses its stream: an owner's own choices go over the stored ones here.
    std::function<void(Camera& source)> afterParametersLoaded;

    // Stops and frees the camera, finishes a running recording with its trailer, stops the
    // display worker and frees the frame store. Idempotent; the controllers stay for reading.
    // An owner that handles the controllers' signals calls it in its own destructor at the
    // latest, while its handlers can still run (the recording's end is reported).
    void Close();
    bool closed() const { return m_closed; }

    // The save folder in force ("Path"/"FileFolder" of Setting.ini, ending with '/').
    const QString& saveFolder() const { return m_saveFolder; }
    // Reads it from Setting.ini; true the first time in this session that the stored value
    // could not be used and the default stands in (the owner tells the user once).
    bool LoadSaveFolder();
    // A folder the user chose: in force and written to Setting.ini.
    void ChooseSaveFolder(const QString& folder);
    // Back at the Pictures folder, written to Setting.ini.
    void ResetSaveFolder();

    const AppSettings& settings() const { return m_settings; }

    CaptureController& camera() { return *m_camera; }
    const CaptureController& camera() const { return *m_camera; }
    FrameStore& frames() { return m_frameStore; }
    ViewTransform& view() { return m_view; }
    const ViewTransform& view() const { return m_view; }
    Overlay& overlay() { return m_overlay; }
    RecordingController& recording() { return *m_recording; }
    DisplayWorker& display() { return *m_display; }
    CameraDiscovery& discovery() { return *m_discovery; }
    SupportCheck& support() { return *m_support; }
    FlashParamsController& flashParameters() { return *m_flashParams; }
    CameraSystem& cameraSystem() { return *m_cameras; }

private:
    const AppSettings& m_settings;
    QString m_saveFolder;
    bool m_saveFolderNoted = false;
    // Declaration order is teardown order in reverse: the frame store (and its lock) outlives
    // everything that delivers frames into it or reads its pictures; the camera goes first.
    FrameStore m_frameStore;
    Overlay m_overlay;
    ViewTransform m_view{m_frameStore};
    std::unique_ptr<RecordingController> m_recording;
    std::unique_ptr<DisplayWorker> m_display;
    std::unique_ptr<CameraSystem> m_cameras;
    std::unique_ptr<CameraDiscovery> m_discovery;
    std::unique_ptr<UsbDeviceSource> m_usbSource;
    std::unique_ptr<SupportCheck> m_support;
    std::unique_ptr<CaptureController> m_camera;
    std::unique_ptr<FlashParamsController> m_flashParams;
    bool m_closed = false;
};
