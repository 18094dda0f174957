#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

// The USB identity of a video camera: what the camera-controller contract reports for it and
// what names its flash image.
struct UsbCameraIdentity {
    uint16_t vid = 0;
    uint16_t pid = 0;
    QString serial;  // USB serial number; empty when the camera has none

    bool operator==(const UsbCameraIdentity&) const = default;
};

// Finds the camera a controller answers for; nullopt when none is present.
using UsbCameraFinder = std::function<std::optional<UsbCameraIdentity>()>;

// The first present USB video capture camera, through udev: among the "video4linux" devices
// that are the first node of their device (sysfs index 0) and can capture video, the one with
// the lowest device number (/dev/videoN); its ids and serial come from the USB device above it.
// nullopt when there is none or udev cannot be reached.
std::optional<UsbCameraIdentity> findFirstUsbCamera();
