#include "device/CameraDiscovery.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "capture/CameraSystem.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "contracts/CameraController.h"
#include "contracts/FileFlashController.h"
#include "contracts/MemoryFlashController.h"
#include "platform/HexId.h"
#include "support/QStringPrinter.h"

namespace {

// A V4L2 capture node; on the USB device at port when vid is given, else a capture card.
CameraId Node(int number, const char* vid = nullptr, const char* pid = nullptr,
              const char* serial = "", const char* port = "1-1", UsbPort kind = UsbPort::Unknown) {
    CameraId id;
    id.devNode = QStringLiteral("/dev/video%1").arg(number);
    id.cardName = QStringLiteral("camera %1").arg(number);
    if (vid != nullptr) {
        id.usbVid = QString::fromLatin1(vid);
        id.usbPid = QString::fromLatin1(pid);
        id.usbSerial = QString::fromLatin1(serial);
        id.usbSysPath = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/") +
                        QString::fromLatin1(port);
        id.usbPort = kind;
        id.busInfo = QStringLiteral("usb-0000:00:14.0-") + QString::fromLatin1(port).mid(2);
    } else {
        id.busInfo = QStringLiteral("PCI:0000:03:00.0");
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

uint8_t ReadByte(CameraController& controller, uint32_t address) {
    uint8_t value = 0;
    EXPECT_NE(controller.ALC_ReadFlash(address, 1, &value), 0);
    return value;
}

void WriteByte(CameraController& controller, uint32_t address, uint8_t value) {
    controller.ALC_Initialize();
    controller.ALC_SetFlashSize(CameraController::kFlashSize);
    controller.ALC_WriteFlash(address, 1, &value);
    controller.ALC_UnInitialize();
}

// A laptop's built-in webcam on a fixed port and a microscope plugged in beside it.
class CameraDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_root.isValid()); }

    QString flashFile(const char* name) const {
        return m_root.filePath(QStringLiteral("Orvane/flash/") + QString::fromLatin1(name));
    }

    QTemporaryDir m_root;
    CameraId m_webcam = Node(0, "04F2", "B6D9", "", "1-5", UsbPort::Fixed);
    CameraId m_microscope = Node(2, "1BCF", "2C99", "M-01", "1-2", UsbPort::Removable);
    CameraId m_card = Node(4);
    std::vector<CameraId> m_nodes = {m_webcam, m_microscope, m_card};
};

TEST_F(CameraDiscoveryTest, ControllerAnswersForTheOpenCameraAndItsFlashFollowsIt) {
    CameraSystem cameras(false);
    CameraDiscovery discovery(
        cameras, [this] { return m_nodes; }, m_root.path(), QString());
    EXPECT_EQ(discovery.enumerate(), m_nodes);
    CameraController& controller = discovery.controller();

    // Nothing open yet: the camera that would be opened, the microscope.
    EXPECT_EQ(ControllerIds(controller), "1BCF:2C99");
    WriteByte(controller, 0x10, 0x5A);
    EXPECT_TRUE(QFile::exists(flashFile("1BCF-2C99-M-01.bin")));

    // The webcam opened: its own flash, in its own file.
    discovery.setOpenCamera(m_webcam);
    EXPECT_EQ(ControllerIds(controller), "04F2:B6D9");
    EXPECT_EQ(ReadByte(controller, 0x10), 0xFF);
    WriteByte(controller, 0x10, 0x33);
    // Without a serial number its USB port names the file.
    EXPECT_TRUE(QFile::exists(flashFile("04F2-B6D9-port-1-5.bin")));

    // A pair opened before the switch keeps its camera until it closes.
    discovery.setOpenCamera(m_microscope);
    controller.ALC_Initialize();
    discovery.setOpenCamera(m_webcam);
    EXPECT_EQ(ReadByte(controller, 0x10), 0x5A);
    controller.ALC_UnInitialize();
    EXPECT_EQ(ReadByte(controller, 0x10), 0x33);

    // The capture card: no USB ids, a flash file named after where it sits.
    discovery.setOpenCamera(m_card);
    EXPECT_EQ(ControllerIds(controller), "0000:0000");
    WriteByte(controller, 0x20, 0x01);
    EXPECT_TRUE(QFile::exists(flashFile("v4l2-PCI_0000_03_00.0-camera_4.bin")));

    // The open camera unplugged: no camera answers, though the others are there.
    discovery.setOpenCamera(m_webcam);
    m_nodes.erase(m_nodes.begin());
    EXPECT_EQ(ControllerIds(controller), "none");
    uint8_t unread = 0;
    EXPECT_EQ(controller.ALC_ReadFlash(0, 1, &unread), 0);
    discovery.setOpenCamera(CameraId());
    EXPECT_EQ(ControllerIds(controller), "1BCF:2C99");
    EXPECT_EQ(ReadByte(controller, 0x10), 0x5A);
    EXPECT_EQ(&discovery.controller(), &controller);
}

TEST_F(CameraDiscoveryTest, TheVirtualCamerasControllerAnswersOnlyForTheVirtualCamera) {
    CameraSystem cameras(true, m_root.path());
    VirtualCameraDevice* device = cameras.virtualDevice();
    ASSERT_NE(device, nullptr);
    m_nodes = {m_webcam};
    CameraDiscovery discovery(
        cameras, [this] { return m_nodes; }, m_root.path(), QString());
    ASSERT_EQ(discovery.enumerate().size(), 2u);
    EXPECT_EQ(discovery.enumerate().back(), device->cameraId());
    CameraController& controller = discovery.controller();

    // Plugged in like a microscope, it is preferred to the built-in webcam.
    EXPECT_EQ(ControllerIds(controller), "1209:0001");
    WriteByte(controller, 0x40, 0x77);
    uint8_t inVirtualFlash = 0;
    ASSERT_TRUE(device->flashController().flash().read(0x40, 1, &inVirtualFlash));
    EXPECT_EQ(inVirtualFlash, 0x77);

    discovery.setOpenCamera(m_webcam);
    EXPECT_EQ(ControllerIds(controller), "04F2:B6D9");
    EXPECT_EQ(ReadByte(controller, 0x40), 0xFF);
    EXPECT_EQ(device->flashController().depth(), 0);

    device->unplug();
    discovery.setOpenCamera(CameraId());
    EXPECT_EQ(ControllerIds(controller), "04F2:B6D9");
    discovery.setOpenCamera(device->cameraId());
    EXPECT_EQ(ControllerIds(controller), "none");
}

TEST_F(CameraDiscoveryTest, IdentityKeysNameACameraAcrossDeviceNumbers) {
    CameraId moved = m_webcam;
    moved.devNode = QStringLiteral("/dev/video7");
    EXPECT_EQ(moved.identityKey(), m_webcam.identityKey());
    EXPECT_FALSE(moved == m_webcam);  // not the same device now

    // Two cameras of one model without serial numbers: their ports tell them apart.
    CameraId twin = Node(6, "04F2", "B6D9", "", "1-6");
    EXPECT_NE(twin.identityKey(), m_webcam.identityKey());
    // With serial numbers, the port does not matter.
    CameraId replugged = Node(8, "1BCF", "2C99", "M-01", "2-1");
    EXPECT_EQ(replugged.identityKey(), m_microscope.identityKey());
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
