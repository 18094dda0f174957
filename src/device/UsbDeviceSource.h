#pragma once

#include <vector>

#include "device/DeviceTable.h"

class CameraSystem;

// Where the support check gets the present USB devices from. The system's implementation reads
// them through udev; tests hand in a table of their own.
class UsbDeviceSource {
public:
    virtual ~UsbDeviceSource();

    // Replaces *out with every present USB device, in the order of the system's device list:
    //  - strVid, strPid: the device's ids as upper-case hexadecimal text; both empty when the
    //    device is present but its identification could not be read;
    //  - strFriendlyName: its product string, empty when it has none;
    //  - strSysPath: where it sits in the device tree (empty for a device without one).
    // Returns false, with *out empty, when the device list itself is unavailable.
    virtual bool list(std::vector<UsbDeviceEntry>* out) = 0;

protected:
    UsbDeviceSource() = default;
    UsbDeviceSource(const UsbDeviceSource&) = default;
    UsbDeviceSource& operator=(const UsbDeviceSource&) = default;
};

// The USB devices of this machine, from udev ("usb" subsystem, "usb_device" devices), followed
// by the built-in virtual camera's USB device when the given camera system has the virtual
// camera enabled and plugged in, so that the virtual camera passes the support check exactly
// as a real one does. Root hubs are left out: they are the host controllers' stand-ins, not
// devices on the bus, and carry no vendor and product of a device.
//
// GUI thread; the camera system is borrowed and must outlive this object.
class UdevUsbDeviceSource final : public UsbDeviceSource {
public:
    explicit UdevUsbDeviceSource(const CameraSystem* cameras = nullptr);

    bool list(std::vector<UsbDeviceEntry>* out) override;

private:
    const CameraSystem* m_cameras;
};
