#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "capture/Camera.h"
#include "contracts/UsbCameraFinder.h"

class CameraController;
class CameraSystem;

// Which cameras are present, and which camera the camera-controller contract answers for; one
// list decides both.
//  - enumerate(): the V4L2 capture nodes that can stream, by device number (found through
//    udev), then the virtual camera when it is enabled and plugged in.
//  - controller(): the virtual camera's own controller when the virtual camera is enabled;
//    otherwise a file-backed controller that answers for the first camera of enumerate() that
//    sits on a USB device (its ids and serial name its flash file). That camera is looked up
//    again at each outermost ALC_Initialize, so the controller follows cameras coming and going.
//
// GUI thread only. The camera system is borrowed and must outlive this object.
class CameraDiscovery {
public:
    // Lists the V4L2 capture cameras, in device-number order.
    using CaptureNodeScan = std::function<std::vector<CameraId>()>;

    // This machine's cameras through udev; flash files in the user's data folder.
    explicit CameraDiscovery(CameraSystem& cameras);
    // The V4L2 cameras scan lists (tests hand in their own); flash files under flashDataRoot
    // (empty: the user's data folder).
    CameraDiscovery(CameraSystem& cameras, CaptureNodeScan scan, QString flashDataRoot);
    ~CameraDiscovery();
    CameraDiscovery(const CameraDiscovery&) = delete;
    CameraDiscovery& operator=(const CameraDiscovery&) = delete;

    std::vector<CameraId> enumerate() const;

    // The same object for the life of this one.
    CameraController& controller();

private:
    std::optional<UsbCameraIdentity> firstUsbCamera() const;

    CameraSystem& m_cameras;
    CaptureNodeScan m_scan;
    QString m_flashDataRoot;
    std::unique_ptr<CameraController> m_fileController;  // made on first use
};
