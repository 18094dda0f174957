#include "device/HotPlugMonitor.h"

#include <QSocketNotifier>
#include <cstring>

#include "capture/CameraSystem.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "device/DeviceLog.h"

HotPlugMonitor::HotPlugMonitor(CameraSystem& cameras, QObject* parent)
    : QObject(parent), m_cameras(cameras) {
    if (VirtualCameraDevice* device = m_cameras.virtualDevice()) {
        const QString node = QString::fromLatin1(VirtualCameraDevice::kDevNode);
        device->onDeviceChange = [this, node](bool arrival) {
            // Posted: the code that unplugged the device may be in the middle of something.
            QMetaObject::invokeMethod(
                this, [this, arrival, node] { emit deviceChanged(arrival, node); },
                Qt::QueuedConnection);
        };
    }

    m_udev.reset(udev_new());
    if (!m_udev) {
        return;
    }
    UdevMonitorPtr monitor(udev_monitor_new_from_netlink(m_udev.get(), "udev"));
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "video4linux", nullptr) <
            0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        qCInfo(lcDevice) << "no udev monitor: cameras plugged in or out are not noticed";
        return;
    }
    const int fd = udev_monitor_get_fd(monitor.get());
    if (fd < 0) {
        return;
    }
    m_monitor = std::move(monitor);
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HotPlugMonitor::OnUdevReadable);
}

HotPlugMonitor::~HotPlugMonitor() {
    if (VirtualCameraDevice* device = m_cameras.virtualDevice()) {
        device->onDeviceChange = nullptr;
    }
}

void HotPlugMonitor::OnUdevReadable() {
    // One readable notice may stand for several events; the monitor's socket is non-blocking,
    // so this ends when they are all read.
    while (UdevDevicePtr device{udev_monitor_receive_device(m_monitor.get())}) {
        const char* action = udev_device_get_action(device.get());
        if (action == nullptr) {
            continue;
        }
        const bool arrival = std::strcmp(action, "add") == 0;
        if (!arrival && std::strcmp(action, "remove") != 0) {
            continue;  // "change", "bind" and the like say nothing about presence
        }
        const char* node = udev_device_get_devnode(device.get());
        const QString devNode = node != nullptr ? QString::fromUtf8(node) : QString();
        qCInfo(lcDevice) << (arrival ? "arrival:" : "removal:") << devNode;
        emit deviceChanged(arrival, devNode);
    }
}
