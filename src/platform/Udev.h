#pragma once

#include <libudev.h>

#include <QString>
#include <memory>

// Owners of udev handles: each drops its reference when destroyed; move-only, like any
// std::unique_ptr. A device returned by udev_device_get_parent_with_subsystem_devtype() belongs
// to its child and is never wrapped.
struct UdevUnref {
    void operator()(udev* handle) const { udev_unref(handle); }
    void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
    void operator()(udev_device* handle) const { udev_device_unref(handle); }
    void operator()(udev_monitor* handle) const { udev_monitor_unref(handle); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevUnref>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevUnref>;

// A sysfs attribute of device as text without surrounding white space; empty when it is missing.
inline QString UdevAttribute(udev_device* device, const char* name) {
    const char* value = udev_device_get_sysattr_value(device, name);
    return value != nullptr ? QString::fromUtf8(value).trimmed() : QString();
}
