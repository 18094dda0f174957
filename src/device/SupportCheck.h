#pragma once

#include <QString>
#include <array>
#include <functional>
#include <vector>

#include "capture/Camera.h"
#include "device/DeviceTable.h"

class CameraController;
class CameraDiscovery;
class UsbDeviceSource;

// The support check: which video capture devices this program drives, and which of them it
// opens. Every camera the camera list reports is supported (V4L2 capture nodes that stream, on
// USB or not, and the virtual camera when enabled); the camera controller reports the ids of the
// camera it answers for.
//
// The results go into the device table (USB devices, controller ids, camera names and count),
// into cameras() and into found(): cameras() entry 0 is the camera the program opens (the one
// `pick` chooses), the others follow in the camera list's order. At most 20 USB devices are
// tabled and at most 2 cameras are stored, the sizes of the table; found() holds every camera.
// The USB device a listed camera sits on (tied to it through the device tree, never through
// names) always has its place in the table: other devices give way to it. A check that finds no
// camera names why in failureKey() (the key of the text in the language files' "WndMessage"
// section), and a USB device list that could not be read names why in usbFailureKey(); the
// owner turns either into text. Nothing here shows anything.
//
// GUI thread only. Every collaborator is borrowed and must outlive this object.
class SupportCheck {
public:
    static constexpr int kMaxUsbDevices = DeviceTable::kMaxUsbDevices;
    static constexpr int kMaxCameras = DeviceTable::kMaxCameras;

    using CameraList = std::function<std::vector<CameraId>()>;
    // The place in the list of the camera to open (-1: none).
    using CameraPick = std::function<int(const std::vector<CameraId>& cameras)>;

    // The system's cameras, choice and controller: CameraDiscovery::enumerate(), preference()
    // and controller().
    SupportCheck(DeviceTable& table, CameraDiscovery& discovery, UsbDeviceSource& usbDevices);
    // Any camera list and controller (tests hand in fakes); without `pick` the first camera of
    // the list is opened.
    SupportCheck(DeviceTable& table, UsbDeviceSource& usbDevices, CameraController& controller,
                 CameraList cameraList, CameraPick pick = {});

    // Refills the table's USB devices: those of the device list in its order, the devices the
    // given cameras sit on among them; when more than 20 qualify, others give way to the
    // cameras' devices. A device list that cannot be had ("DEVICELIST"), or a present device
    // whose identification cannot be read ("DEVICEID"), is reported in usbFailureKey() (the
    // table then stays empty, or ends before that device).
    void FindUsbDevices(const std::vector<CameraId>& cameras = {});

    // The whole check: camera list, USB table, controller ids, the cameras to store. Returns the
    // number of cameras stored (0 to 2). Does not open any camera.
    int FindSupportedCameras();

    // The cameras stored by the last check, entry 0 the one to open; entries from m_nCameraCount
    // on are empty.
    const std::array<CameraId, kMaxCameras>& cameras() const { return m_cameras; }
    // Every camera the last check found, in the camera list's order.
    const std::vector<CameraId>& found() const { return m_found; }
    // Why the last check found no camera: "NOHARDWARE" (no video device at all) or "NOSUPPORT"
    // (none is supported); empty when it found one.
    const QString& failureKey() const { return m_failureKey; }
    // Why the last FindUsbDevices could not fill the USB table: "DEVICELIST" or "DEVICEID";
    // empty when it could.
    const QString& usbFailureKey() const { return m_usbFailureKey; }

private:
    DeviceTable& m_table;
    UsbDeviceSource& m_usbDevices;
    CameraController& m_controller;
    CameraList m_cameraList;
    CameraPick m_pick;
    std::array<CameraId, kMaxCameras> m_cameras;
    std::vector<CameraId> m_found;
    QString m_failureKey;
    QString m_usbFailureKey;
};
