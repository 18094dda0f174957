#include "device/CameraDiscovery.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "capture/CameraSystem.h"
#include "contracts/CameraController.h"
#include "platform/HexId.h"
#include "support/QStringPrinter.h"

namespace {

// A V4L2 capture node; on the USB device at port when vid is given.
CameraId Node(int number, const char* vid = nullptr, const char* pid = nullptr,
              const char* serial = "", const char* port = "1-1") {
    CameraId id;
    id.devNode = QStringLiteral("/dev/video%1").arg(number);
    id.cardName = QStringLiteral("camera %1").arg(number);
    if (vid != nullptr) {
        id.usbVid = QString::fromLatin1(vid);
        id.usbPid = QString::fromLatin1(pid);
        id.usbSerial = QString::fromLatin1(serial);
        id.usbSysPath = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/") +
                        QString::fromLatin1(port);
    }
    return id;
}

// "VID:PID" the controller reports in one pair, or "none".
QString ControllerIds(CameraController& controller) {
    uint16_t vid = 0;
    uint16_t pid = 0;
    controller.ALC_Initialize();
    const bool found = controller.ALC_GetPIDVID(&vid, &pid);
    controller.ALC_UnInitialize();
    return found ? HexId(vid) + u':' + HexId(pid) : QStringLiteral("none");
}

TEST(CameraDiscovery, ControllerAnswersForTheFirstUsbCameraOfTheList) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    std::vector<CameraId> nodes = {Node(0), Node(2, "0C45", "6366", "A1", "1-2"),
                                   Node(4, "1BCF", "2C99", "", "1-3")};
    CameraSystem cameras(false);
    CameraDiscovery discovery(
        cameras, [&nodes] { return nodes; }, root.path());
    EXPECT_EQ(discovery.enumerate(), nodes);

    // A capture card without a USB device comes first in the list; the controller skips it.
    CameraController& controller = discovery.controller();
    EXPECT_EQ(ControllerIds(controller), "0C45:6366");
    const uint8_t byte = 0x5A;
    controller.ALC_WriteFlash(0x10, 1, &byte);
    EXPECT_TRUE(QFile::exists(root.filePath(QStringLiteral("Orvane/flash/0C45-6366-A1.bin"))));

    // That camera unplugged: the next one on the list, with its own flash.
    nodes.erase(nodes.begin() + 1);
    EXPECT_EQ(ControllerIds(controller), "1BCF:2C99");
    uint8_t read = 0;
    ASSERT_NE(controller.ALC_ReadFlash(0x10, 1, &read), 0);
    EXPECT_EQ(read, 0xFF);

    nodes = {Node(0)};
    EXPECT_EQ(ControllerIds(controller), "none");
    EXPECT_EQ(&discovery.controller(), &controller);
}

TEST(CameraDiscovery, ThisMachineWithoutVideoDevicesHasNoCamera) {
    if (!QDir(QStringLiteral("/dev"))
             .entryList({QStringLiteral("video*")}, QDir::System)
             .isEmpty()) {
        GTEST_SKIP() << "this machine has video devices; nothing to assert without knowing them";
    }
    CameraSystem cameras(false);
    CameraDiscovery discovery(cameras);
    EXPECT_TRUE(discovery.enumerate().empty());
    EXPECT_EQ(ControllerIds(discovery.controller()), "none");
}

}  // namespace
