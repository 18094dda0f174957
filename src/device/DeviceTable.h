#pragma once

#include <QString>
#include <array>

#include "capture/Camera.h"

// One present USB device with a product name: its ids and name, and where the device sits in
// the device tree so that video devices can be matched to it.
struct UsbDeviceEntry {
    QString strPid;           // four upper-case hex digits
    QString strVid;           // four upper-case hex digits
    QString strFriendlyName;  // the device's product name
    QString strSysPath;       // sysfs path of the USB device (empty for virtual devices)
};

// What the last support check found: the present USB devices, the ids the camera controller
// reported (0000:0000 for a camera without a USB device) and the supported cameras. The
// application object holds one (the windows read it); the support check fills it.
struct DeviceTable {
    static constexpr int kMaxUsbDevices = 20;
    static constexpr int kMaxCameras = 2;

    std::array<UsbDeviceEntry, kMaxUsbDevices> m_UsbDevices;
    int m_nUsbDeviceCount = 0;
    QString m_strCameraVid;  // four upper-case hex digits, or empty
    QString m_strCameraPid;  // four upper-case hex digits, or empty
    std::array<QString, kMaxCameras> m_strCameraName;
    // The supported cameras; entry 0 is the one to open (at start, and by Play without a camera):
    // the user's last choice, else the first on a removable USB port, else the first found.
    std::array<CameraId, kMaxCameras> m_pCameraMoniker;
    int m_nCameraCount = 0;
};
