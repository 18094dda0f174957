#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "capture/Camera.h"
#include "flashparams/FlashParamsController.h"

struct DeviceTable;
class CameraSession;
class HotPlugMonitor;

// What happens to the session's camera as cameras are chosen, come and go: which camera is
// opened (the user's remembered choice, else one on a removable USB port, else the first found),
// what an unplug ends (a running recording is finished, the camera closed, what was kept is
// reported), how the camera comes back when it is plugged in again (in the state the user wanted,
// running or paused, with the pan-and-zoom window if it had one), Play's start-over, and the
// sequences of the parameter memory's Save and Restore. The window and the command line call
// these operations alike; this class reports what happened through its signals and accessors
// and shows nothing.
//
// Each operation looks at the system's cameras once (CameraDiscovery::holdScan), however many
// controllers take part in it.
//
// GUI thread only. The session and the device table are borrowed and must outlive this object.
class CameraLifecycle : public QObject {
    Q_OBJECT
public:
    CameraLifecycle(CameraSession& session, DeviceTable& devices, QObject* parent = nullptr);
    ~CameraLifecycle() override;

    // Looks for cameras: refills the device table and found(). Returns how many it stored (0 to
    // 2); cameraToOpen() is then the one the program would open.
    int FindCameras();
    // Every camera the last search found, in discovery's order.
    const std::vector<CameraId>& found() const;
    // The camera the last search put first (invalid when it found none).
    CameraId cameraToOpen() const;
    // The camera the session has open (invalid when none is).
    const CameraId& openCamera() const;

    // At start: looks for cameras and opens the one to open. False when there is none.
    bool OpenFirst();
    // Opens `camera` (the camera already open stays as it is, running or not).
    void Open(const CameraId& camera);
    // The user picks entry `index` of found(): it is remembered and opened. False for no such
    // entry.
    bool ChooseCamera(int index);
    // Play: pauses or resumes the open camera's picture (true). Without a picture, looks for
    // cameras again and starts the camera to open over (it is opened anew when it is the one
    // open) and returns false.
    bool Play();

    // A device arrived or left (hot-plug events, or a stream whose device is gone). A removal
    // counts only when discovery's controller no longer answers for the open camera. An
    // arrival while no camera is open opens one again: the one that was unplugged, whatever
    // node it has now, in the state the user wanted; while it is not back, only a camera that
    // itself arrived (devNode) is opened. Anything else changes nothing but the camera list.
    void OnDeviceChange(bool arrival, const QString& devNode = QString());
    // Starts watching the system's video devices (udev and the virtual camera); the events go
    // to OnDeviceChange. The window does this; the command line does not.
    void WatchHotPlug();
    HotPlugMonitor* hotPlug() const { return m_hotPlug.get(); }

    // The camera last open was unplugged; cleared when a camera is open again.
    bool cameraRemoved() const { return m_cameraRemoved; }
    // The pan-and-zoom window has been opened: it comes back whenever the unplugged camera does.
    void setPanWindowWanted() { m_panWindowWanted = true; }
    bool panWindowWanted() const { return m_panWindowWanted; }

    // Factory mode's Save: the settings in force into the camera's parameter memory, for every
    // later start.
    FlashWrite SaveParameters();
    // Factory mode's Restore, with a camera open (a picture is not needed): the save folder back
    // at Pictures, the parameter memory's saved block given up, 50 Hz, and the camera opened
    // anew, so that the default block takes effect at once. Skipped without an open camera.
    FlashWrite RestoreParameters();

    // Reads the save folder from Setting.ini (saveFolderFellBack the first time its value
    // cannot be used).
    void LoadSaveFolder();

signals:
    // A search refilled the camera list (found()).
    void camerasFound();
    // Another camera is open now, or none (openCamera()).
    void openCameraChanged();
    // The open camera is gone (wasOpen: a camera was open; keptRecording: the file of the
    // recording it ended, empty when there was none or it held no frame and was removed).
    void cameraUnplugged(bool wasOpen, const QString& keptRecording);
    // The unplugged camera is back and had a pan-and-zoom window: the window reopens it.
    void panWindowReopen();
    // A search failed: the key of its text ("NOHARDWARE", "NOSUPPORT", "DEVICELIST",
    // "DEVICEID"; see FailureText).
    void searchFailed(const QString& key);
    // The camera's parameter memory file had something to tell, once: `key` names the text
    // ("FLASHSETASIDE", "FLASHUNREADABLE" in "MainWnd"), %1 in it is `file`.
    void flashNotice(const QString& key, const QString& file);
    // OnDeviceChange has done what the event asked for (the commands may have changed).
    void deviceChangeHandled();
    // The stored save folder could not be used (said once a session).
    void saveFolderFellBack(const QString& folder);

private:
    // Passes on what the parameter memory has to tell after it was read or written.
    void TellFlashNotice();
    void OnArrival(const QString& devNode);
    void OnRemoval();
    // Opens the camera to open, or starts it over when it is the one open.
    void StartOverFirst();

    CameraSession& m_session;
    DeviceTable& m_devices;
    std::unique_ptr<HotPlugMonitor> m_hotPlug;
    bool m_cameraRemoved = false;
    // The camera that was unplugged, opened again when it comes back.
    CameraId m_lostCamera;
    bool m_panWindowWanted = false;
};
