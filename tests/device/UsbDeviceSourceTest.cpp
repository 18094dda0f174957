#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <map>

#include "capture/CameraSystem.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "device/UsbDeviceSource.h"

#include "support/QStringPrinter.h"

namespace {

QString ReadAttribute(const QString& folder, const char* name) {
    QFile file(folder + u'/' + QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return QString::fromUtf8(file.readAll()).trimmed();
}

// "vid:pid product" of every USB device (not interface, not root hub) as sysfs shows it,
// by device path: what the udev source must report for this machine.
std::map<QString, QString> UsbDevicesFromSysfs() {
    std::map<QString, QString> devices;
    const QDir bus(QStringLiteral("/sys/bus/usb/devices"));
    for (const QString& name : bus.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (name.contains(u':') || name.startsWith(QStringLiteral("usb"))) {
            continue;
        }
        const QString path = QFileInfo(bus.filePath(name)).canonicalFilePath();
        devices[path] = ReadAttribute(path, "idVendor").toUpper() + u':' +
                        ReadAttribute(path, "idProduct").toUpper() + u' ' +
                        ReadAttribute(path, "product");
    }
    return devices;
}

std::map<QString, QString> ByPath(const std::vector<UsbDeviceEntry>& entries) {
    std::map<QString, QString> devices;
    for (const UsbDeviceEntry& entry : entries) {
        EXPECT_EQ(devices.count(entry.strSysPath), 0u) << entry.strSysPath.toStdString();
        devices[entry.strSysPath] =
            entry.strVid + u':' + entry.strPid + u' ' + entry.strFriendlyName;
    }
    return devices;
}

TEST(UdevUsbDeviceSourceTest, ListsThisMachinesUsbDevicesAsSysfsShowsThem) {
    if (!QFileInfo(QStringLiteral("/sys/bus/usb/devices")).isDir()) {
        GTEST_SKIP() << "this machine has no USB bus in /sys (run it in the VM to test udev)";
    }
    const std::map<QString, QString> expected = UsbDevicesFromSysfs();

    UdevUsbDeviceSource source;
    std::vector<UsbDeviceEntry> listed;
    ASSERT_TRUE(source.list(&listed));
    EXPECT_EQ(ByPath(listed), expected);
}

TEST(UdevUsbDeviceSourceTest, AddsThePluggedVirtualCameraAfterTheRealDevices) {
    CameraSystem system(true);
    VirtualCameraDevice* device = system.virtualDevice();
    ASSERT_NE(device, nullptr);
    UdevUsbDeviceSource source(&system);
    std::vector<UsbDeviceEntry> listed;
    ASSERT_TRUE(source.list(&listed));
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(
        listed.back().strVid + u':' + listed.back().strPid + u' ' + listed.back().strFriendlyName,
        "1209:0001 Tavrel Virtual Microscope");
    EXPECT_TRUE(listed.back().strSysPath.isEmpty());
    const size_t withVirtual = listed.size();

    device->unplug();
    ASSERT_TRUE(source.list(&listed));
    EXPECT_EQ(listed.size(), withVirtual - 1);
    ASSERT_TRUE(UdevUsbDeviceSource(nullptr).list(&listed));
    EXPECT_EQ(listed.size(), withVirtual - 1);
}

}  // namespace
