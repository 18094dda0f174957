#include "device/UsbDeviceSource.h"

#include <unistd.h>

#include <cstring>

#include "capture/CameraSystem.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "device/DeviceLog.h"
#include "platform/HexId.h"
#include "platform/Udev.h"

namespace {

// A device unplugged between the scan and the read is no longer present: it is left out
// rather than reported as unreadable.
bool StillPresent(const char* syspath) {
    return ::access(syspath, F_OK) == 0;
}

}  // namespace

UsbDeviceSource::~UsbDeviceSource() = default;

UdevUsbDeviceSource::UdevUsbDeviceSource(const CameraSystem* cameras) : m_cameras(cameras) {}

bool UdevUsbDeviceSource::list(std::vector<UsbDeviceEntry>* out) {
    out->clear();
    UdevPtr context(udev_new());
    if (!context) {
        qCWarning(lcDevice) << "udev_new failed";
        return false;
    }
    UdevEnumeratePtr enumerate(udev_enumerate_new(context.get()));
    if (!enumerate) {
        qCWarning(lcDevice) << "udev_enumerate_new failed";
        return false;
    }
    if (udev_enumerate_add_match_subsystem(enumerate.get(), "usb") < 0 ||
        udev_enumerate_add_match_property(enumerate.get(), "DEVTYPE", "usb_device") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        qCWarning(lcDevice) << "udev scan of the USB devices failed";
        return false;
    }

    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(item, udev_enumerate_get_list_entry(enumerate.get())) {
        const char* syspath = udev_list_entry_get_name(item);
        UsbDeviceEntry entry;
        entry.strSysPath = QString::fromUtf8(syspath);
        UdevDevicePtr device(udev_device_new_from_syspath(context.get(), syspath));
        if (!device) {
            if (StillPresent(syspath)) {
                qCWarning(lcDevice) << "cannot read USB device" << entry.strSysPath;
                out->push_back(entry);
            }
            continue;
        }
        // The scan matches the type already; a device read anew must still be one.
        const char* devtype = udev_device_get_devtype(device.get());
        if (devtype == nullptr || std::strcmp(devtype, "usb_device") != 0) {
            continue;
        }
        if (udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device") ==
            nullptr) {
            continue;  // a root hub
        }
        entry.strVid = UdevAttribute(device.get(), "idVendor").toUpper();
        entry.strPid = UdevAttribute(device.get(), "idProduct").toUpper();
        if (entry.strVid.isEmpty() || entry.strPid.isEmpty()) {
            if (!StillPresent(syspath)) {
                continue;
            }
            qCWarning(lcDevice) << "USB device" << entry.strSysPath << "has no readable ids";
            entry.strVid.clear();
            entry.strPid.clear();
        }
        entry.strFriendlyName = UdevAttribute(device.get(), "product");
        out->push_back(entry);
    }

    if (m_cameras != nullptr) {
        const VirtualCameraDevice* virtualDevice = m_cameras->virtualDevice();
        if (virtualDevice != nullptr && virtualDevice->isPlugged()) {
            UsbDeviceEntry entry;
            entry.strVid = HexId(VirtualCameraDevice::kVendorId);
            entry.strPid = HexId(VirtualCameraDevice::kProductId);
            entry.strFriendlyName = QString::fromLatin1(VirtualCameraDevice::kName);
            out->push_back(entry);  // no place in the device tree: empty sysfs path
        }
    }
    return true;
}
