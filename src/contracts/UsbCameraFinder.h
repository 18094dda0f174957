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

// Finds the camera a controller answers for; nullopt when none is present. Camera discovery
// hands one in that follows its own camera list.
using UsbCameraFinder = std::function<std::optional<UsbCameraIdentity>()>;
