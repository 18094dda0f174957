#include "capture/Camera.h"

// The device node names the device while it is present; the bus info and the USB parent (ids,
// serial and bus path) tell a camera re-enumerated at the same node apart from a different one.
QString CameraId::identity() const {
    return QStringLiteral("%1|%2|%3:%4|%5|%6")
        .arg(devNode, busInfo, usbVid, usbPid, usbSerial, usbSysPath);
}

QString CameraId::identityKey() const {
    if (backend == CameraBackend::Virtual) {
        return QStringLiteral("virtual:") + devNode;
    }
    if (onUsb()) {
        if (!usbSerial.isEmpty()) {
            return QStringLiteral("usb:%1:%2:serial:%3").arg(usbVid, usbPid, usbSerial);
        }
        // The port path ("1-4.2"), the last part of the USB device's sysfs path, stays the same
        // while the camera stays in its socket.
        const QString port = usbSysPath.section(u'/', -1);
        return QStringLiteral("usb:%1:%2:port:%3").arg(usbVid, usbPid, port);
    }
    return QStringLiteral("v4l2:%1:%2").arg(busInfo, cardName);
}
