#include "capture/Camera.h"

// The device node names the device while it is present; the USB parent (ids, serial and bus
// path) tells a camera re-enumerated at the same node apart from a different one.
QString CameraId::identity() const {
    return QStringLiteral("%1|%2:%3|%4|%5").arg(devNode, usbVid, usbPid, usbSerial, usbSysPath);
}
