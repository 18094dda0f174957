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

// The support check: which of the listed video capture devices are cameras this program
// drives. The camera controller reports the vendor and product id of the camera it
// reaches; a video device is supported when the USB device it sits on is present, has a
// product name and carries exactly those ids. A video device is tied to its USB device through
// the device tree (the USB device's sysfs path), never through names, so cameras with long or
// identical names are found alike.
//
// The results go into the device table (USB devices, controller ids, camera names and count)
// and into cameras(): entry 0 is the camera the program opens. At most 20 USB devices are
// tabled (devices after the 20th are not looked at) and at most 2 cameras are stored (further
// supported cameras are ignored); both limits are the sizes of the table. A check that finds no
// camera names why in failureKey() (the key of the text in the language files' "WndMessage"
// section); the window looks it up.
//
// GUI thread only. Every collaborator is borrowed and must outlive this object.
class SupportCheck {
public:
    static constexpr int kMaxUsbDevices = DeviceTable::kMaxUsbDevices;
    static constexpr int kMaxCameras = DeviceTable::kMaxCameras;

    using CameraList = std::function<std::vector<CameraId>()>;
    using MessageBoxHook = std::function<void(const QString& text)>;

    // The system's cameras and controller: CameraDiscovery::enumerate() and controller().
    SupportCheck(DeviceTable& table, CameraDiscovery& discovery, UsbDeviceSource& usbDevices);
    // Any camera list and controller (tests hand in fakes).
    SupportCheck(DeviceTable& table, UsbDeviceSource& usbDevices, CameraController& controller,
                 CameraList cameraList);

    // Refills the table's USB devices. A device list that cannot be had, or a
    // present device whose identification cannot be read, is reported in a message box (the
    // table then stays empty, or ends before that device).
    void FindUsbDevices();

    // Whether camera sits on a tabled USB device whose ids are those the controller reported.
    // False while the controller's ids are unknown.
    bool IsSupportedDevice(const CameraId& camera) const;

    // The whole check: USB table, controller ids, supported cameras in the camera list's
    // order. Returns the number of cameras stored (0 to 2). Does not open any camera.
    int FindSupportedCameras();

    // The supported cameras found by the last check; entries from m_nCameraCount on are empty.
    const std::array<CameraId, kMaxCameras>& cameras() const { return m_cameras; }
    // Why the last check found no camera: "NOHARDWARE" (no video device at all) or "NOSUPPORT"
    // (none is supported); empty when it found one.
    const QString& failureKey() const { return m_failureKey; }

    // Shows the two fixed failure texts of FindUsbDevices. Defaults to a warning box over the
    // active window; replaceable so that tests can see the texts.
    MessageBoxHook messageBox;

private:
    DeviceTable& m_table;
    UsbDeviceSource& m_usbDevices;
    CameraController& m_controller;
    CameraList m_cameraList;
    std::array<CameraId, kMaxCameras> m_cameras;
    QString m_failureKey;
};
