#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

// A video camera as the camera controller knows it: what the controller reports for it and what
// names its flash image. A USB camera is known by its vendor and product id and its serial
// number, or, when it has none, by the USB port it is plugged into (two identical cameras
// without serial numbers keep apart that way); a camera without a USB device (a capture card, a
// loopback device, the kernel's vivid) by where its driver says it sits and its name, and reports
// the ids 0000:0000.
struct CameraIdentity {
    uint16_t vid = 0;  // USB vendor id (0 without a USB device)
    uint16_t pid = 0;  // USB product id (0 without a USB device)
    QString serial;    // USB serial number; empty when the camera has none
    QString port;      // without a serial: the USB port path, e.g. "1-4.2" (the last part of
                       // the USB device's sysfs path); empty when unknown
    QString busInfo;   // without a USB device: the V4L2 bus info, e.g. "platform:vivid-000"
    QString cardName;  // without a USB device: the V4L2 card name
    bool onUsb = true;

    static CameraIdentity usb(uint16_t vid, uint16_t pid, QString serial, QString port = {}) {
        CameraIdentity camera;
        camera.vid = vid;
        camera.pid = pid;
        camera.serial = std::move(serial);
        if (camera.serial.isEmpty()) {
            camera.port = std::move(port);
        }
        return camera;
    }
    static CameraIdentity withoutUsb(QString busInfo, QString cardName) {
        CameraIdentity camera;
        camera.busInfo = std::move(busInfo);
        camera.cardName = std::move(cardName);
        camera.onUsb = false;
        return camera;
    }

    bool operator==(const CameraIdentity&) const = default;
};

// Finds the camera a controller answers for; nullopt when there is none. Camera discovery hands
// one in that follows the open camera.
using CameraFinder = std::function<std::optional<CameraIdentity>()>;
