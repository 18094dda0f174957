#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "capture/CameraSystem.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "contracts/FileFlashController.h"
#include "contracts/MemoryFlashController.h"
#include "device/CameraDiscovery.h"
#include "device/SupportCheck.h"
#include "device/UsbDeviceSource.h"
#include "settings/ProfileFile.h"

#include "support/QStringPrinter.h"

namespace {

const QString kHub = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/");

// A device table handed in by the test instead of the system's.
class FakeUsbDevices final : public UsbDeviceSource {
public:
    bool list(std::vector<UsbDeviceEntry>* out) override {
        *out = available ? devices : std::vector<UsbDeviceEntry>();
        return available;
    }
    bool available = true;
    std::vector<UsbDeviceEntry> devices;
};

UsbDeviceEntry Usb(const char* vid, const char* pid, const QString& name, const char* port) {
    return UsbDeviceEntry{QString::fromLatin1(pid), QString::fromLatin1(vid), name,
                          kHub + QString::fromLatin1(port)};
}

// A video capture device on the USB device at port (no port: not on USB).
CameraId Video(int number, const QString& card, const char* vid, const char* pid,
               const char* port) {
    CameraId id;
    id.devNode = QStringLiteral("/dev/video%1").arg(number);
    id.cardName = card;
    if (port != nullptr) {
        id.usbVid = QString::fromLatin1(vid);
        id.usbPid = QString::fromLatin1(pid);
        id.usbSysPath = kHub + QString::fromLatin1(port);
    }
    return id;
}

class SupportCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_check =
            std::make_unique<SupportCheck>(m_app, m_usb, m_controller, [this] { return m_video; });
    }

    // The shape of a successful check: pairs opened and closed, no box, no failure.
    void ExpectQuietCheck() {
        EXPECT_EQ(m_controller.depth(), 0);
        EXPECT_TRUE(m_check->usbFailureKey().isEmpty());
        EXPECT_TRUE(m_check->failureKey().isEmpty());
    }

    DeviceTable m_app;
    FakeUsbDevices m_usb;
    MemoryFlashController m_controller{0x1BCF, 0x2C99};
    std::vector<CameraId> m_video;
    std::unique_ptr<SupportCheck> m_check;
};

TEST_F(SupportCheckTest, TwoIdenticalCamerasAreStoredInTheCameraListsOrder) {
    const QString model = QStringLiteral("USB Microscope");
    m_usb.devices = {Usb("046d", "c52b", QStringLiteral("USB Receiver"), "1-1"),
                     Usb("1bcf", "2c99", model, "1-2"), Usb("1bcf", "2c99", model, "1-3")};
    m_video = {Video(0, model, "1BCF", "2C99", "1-3"), Video(2, model, "1BCF", "2C99", "1-2")};

    EXPECT_EQ(m_check->FindSupportedCameras(), 2);
    EXPECT_EQ(m_app.m_nCameraCount, 2);
    EXPECT_EQ(m_app.m_strCameraVid, "1BCF");
    EXPECT_EQ(m_app.m_strCameraPid, "2C99");
    EXPECT_EQ(m_app.m_strCameraName[0], model);
    EXPECT_EQ(m_app.m_strCameraName[1], model);
    EXPECT_EQ(m_check->cameras()[0], m_video[0]);  // the one on 1-3, listed first
    EXPECT_EQ(m_check->cameras()[1], m_video[1]);
    ASSERT_EQ(m_app.m_nUsbDeviceCount, 3);
    EXPECT_EQ(m_app.m_UsbDevices[0].strVid, "046D");  // upper-cased
    EXPECT_EQ(m_app.m_UsbDevices[0].strPid, "C52B");
    EXPECT_EQ(m_app.m_UsbDevices[2].strSysPath, kHub + "1-3");
    ExpectQuietCheck();
}

TEST_F(SupportCheckTest, IdsAreAlwaysFourUpperCaseDigits) {
    struct Case {
        uint16_t vid, pid;
        const char *vidText, *pidText;
    };
    for (const Case& c :
         {Case{0xABCD, 0x9F01, "ABCD", "9F01"}, Case{0x8000, 0xFFFF, "8000", "FFFF"},
          Case{0x0001, 0x00A0, "0001", "00A0"}}) {
        SCOPED_TRACE(c.vidText);
        m_controller.setIds(c.vid, c.pid);
        m_usb.devices = {Usb(c.vidText, c.pidText, QStringLiteral("Microscope"), "2-1")};
        m_usb.devices[0].strVid = m_usb.devices[0].strVid.toLower();
        m_video = {Video(0, QStringLiteral("Microscope"), c.vidText, c.pidText, "2-1")};

        EXPECT_EQ(m_check->FindSupportedCameras(), 1);
        EXPECT_EQ(m_app.m_strCameraVid, c.vidText);
        EXPECT_EQ(m_app.m_strCameraPid, c.pidText);
        ExpectQuietCheck();
    }
}

TEST_F(SupportCheckTest, LongNamesAreFoundAndKeptWhole) {
    const QString card = QStringLiteral("Orvane Digital Microscope HD 5MP (UVC 1)");  // 40
    const QString product = QStringLiteral("Orvane Digital Microscope HD 5MP Camera Bridge");
    ASSERT_EQ(card.size(), 40);
    m_usb.devices = {Usb("1BCF", "2C99", product, "1-4")};
    m_video = {Video(0, card, "1BCF", "2C99", "1-4")};

    EXPECT_EQ(m_check->FindSupportedCameras(), 1);
    EXPECT_EQ(m_app.m_strCameraName[0], card);
    EXPECT_EQ(m_app.m_UsbDevices[0].strFriendlyName, product);
    ExpectQuietCheck();
}

TEST_F(SupportCheckTest, EveryListedCameraIsSupportedOnUsbOrNot) {
    const QString model = QStringLiteral("USB Microscope");
    m_usb.devices = {Usb("1BCF", "2C99", model, "1-2"),
                     Usb("0C45", "6366", QStringLiteral("Webcam"), "1-3"),
                     Usb("1BCF", "2C99", QString(), "1-4")};  // no product name: not tabled
    m_video = {Video(0, QStringLiteral("Capture Card"), nullptr, nullptr, nullptr),
               Video(1, model, "1BCF", "2C99", "1-4"),
               Video(2, model, "1BCF", "2C99", "1-5")};  // its USB device is not listed at all
    // The controller's silence leaves its ids empty and keeps no camera out.
    m_controller.setAttached(false);

    EXPECT_EQ(m_check->FindSupportedCameras(), 2);
    EXPECT_EQ(m_check->found(), m_video);
    EXPECT_EQ(m_check->cameras()[0].devNode, "/dev/video0");
    EXPECT_EQ(m_check->cameras()[1].devNode, "/dev/video1");
    EXPECT_EQ(m_app.m_strCameraName[0], "Capture Card");
    EXPECT_TRUE(m_app.m_strCameraVid.isEmpty());
    EXPECT_TRUE(m_app.m_strCameraPid.isEmpty());
    EXPECT_EQ(m_app.m_nUsbDeviceCount, 2);
    ExpectQuietCheck();
}

// A laptop's built-in webcam (a USB device on a fixed port, /dev/video0) and the microscope
// plugged in (/dev/video2), through camera discovery as the window uses it.
TEST_F(SupportCheckTest, TheMicroscopeOpensRatherThanTheBuiltInWebcamUnlessTheUserChoseIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString settings = dir.filePath(QStringLiteral("Setting.ini"));
    CameraId webcam = Video(0, QStringLiteral("Integrated Camera"), "04F2", "B6D9", "1-5");
    webcam.usbPort = UsbPort::Fixed;
    CameraId microscope = Video(2, QStringLiteral("USB Microscope"), "1BCF", "2C99", "1-2");
    microscope.usbPort = UsbPort::Removable;
    microscope.usbSerial = QStringLiteral("M-01");
    const CameraId card = Video(4, QStringLiteral("Capture Card"), nullptr, nullptr, nullptr);
    m_usb.devices = {Usb("1BCF", "2C99", QStringLiteral("USB Microscope"), "1-2"),
                     Usb("04F2", "B6D9", QStringLiteral("Integrated Camera"), "1-5")};
    m_video = {webcam, microscope};
    CameraSystem system(false);
    CameraDiscovery discovery(
        system, [this] { return m_video; }, dir.path(), settings);
    SupportCheck check(m_app, discovery, m_usb);

    ASSERT_EQ(check.FindSupportedCameras(), 2);
    EXPECT_EQ(check.cameras()[0], microscope);
    EXPECT_EQ(check.cameras()[1], webcam);
    EXPECT_EQ(m_app.m_strCameraName[0], "USB Microscope");
    EXPECT_EQ(check.found(), m_video);  // the list keeps its order
    EXPECT_EQ(m_app.m_strCameraVid + ":" + m_app.m_strCameraPid, "1BCF:2C99");

    // The user's choice wins, and is found again at another device number.
    discovery.preference().remember(webcam);
    EXPECT_EQ(ProfileFile(settings).readString(QStringLiteral("Camera"), QStringLiteral("Choice"),
                                               QString()),
              "usb:04F2:B6D9:port:1-5");
    webcam.devNode = QStringLiteral("/dev/video6");
    m_video = {microscope, webcam};
    ASSERT_EQ(check.FindSupportedCameras(), 2);
    EXPECT_EQ(check.cameras()[0], webcam);
    EXPECT_EQ(m_app.m_strCameraName[0], "Integrated Camera");
    EXPECT_EQ(m_app.m_strCameraVid + ":" + m_app.m_strCameraPid, "04F2:B6D9");

    // The chosen camera is not there: the rule holds again.
    m_video = {card, microscope};
    ASSERT_EQ(check.FindSupportedCameras(), 2);
    EXPECT_EQ(check.cameras()[0], microscope);
    EXPECT_EQ(check.cameras()[1], card);

    // No camera on a removable port: the first found.
    microscope.usbPort = UsbPort::Unknown;
    m_video = {card, microscope};
    ASSERT_EQ(check.FindSupportedCameras(), 2);
    EXPECT_EQ(check.cameras()[0], card);
    EXPECT_EQ(m_app.m_strCameraVid + ":" + m_app.m_strCameraPid, "0000:0000");
    ExpectQuietCheck();
}

TEST_F(SupportCheckTest, TablesKeepTheirLimitsButNeverCutACamerasDevice) {
    for (int i = 0; i < 25; ++i) {
        const QByteArray port = "3-" + QByteArray::number(i + 1);
        m_usb.devices.push_back(
            Usb("046D", "C52B", QStringLiteral("Receiver %1").arg(i), port.constData()));
    }
    m_usb.devices.insert(m_usb.devices.begin() + 3, Usb("1BCF", "2C99", QString(), "3-99"));
    m_usb.devices.insert(m_usb.devices.begin() + 1,
                         Usb("0C45", "6366", QStringLiteral("Webcam"), "1-1"));
    m_usb.devices.push_back(Usb("1BCF", "2C99", QStringLiteral("Scope A"), "4-1"));
    m_usb.devices.push_back(Usb("1BCF", "2C99", QStringLiteral("Scope B"), "4-2"));
    m_video = {Video(0, QStringLiteral("Webcam"), "0C45", "6366", "1-1"),
               Video(2, QStringLiteral("Scope A"), "1BCF", "2C99", "4-1"),
               Video(4, QStringLiteral("Scope B"), "1BCF", "2C99", "4-2")};

    // Two cameras stored; the third is still found.
    EXPECT_EQ(m_check->FindSupportedCameras(), 2);
    EXPECT_EQ(m_check->cameras()[0].devNode, "/dev/video0");
    EXPECT_EQ(m_check->cameras()[1].devNode, "/dev/video2");
    ASSERT_EQ(m_check->found().size(), 3u);
    EXPECT_EQ(m_check->found()[2].devNode, "/dev/video4");

    // Twenty devices in the list's order: the cameras' three and the first 17 others.
    ASSERT_EQ(m_app.m_nUsbDeviceCount, 20);
    QStringList names;
    for (int i = 0; i < 20; ++i) {
        names << m_app.m_UsbDevices[i].strFriendlyName;
    }
    EXPECT_EQ(names.first(), "Receiver 0");
    EXPECT_EQ(names[1], "Webcam");
    EXPECT_EQ(names[17], "Receiver 16");
    EXPECT_EQ(names.mid(18), QStringList({"Scope A", "Scope B"}));
    ExpectQuietCheck();
}

TEST_F(SupportCheckTest, AnUnavailableDeviceListIsReportedAndEmptiesTheTables) {
    m_usb.devices = {Usb("1BCF", "2C99", QStringLiteral("Microscope"), "1-2")};
    m_video = {Video(0, QStringLiteral("Microscope"), "1BCF", "2C99", "1-2")};
    ASSERT_EQ(m_check->FindSupportedCameras(), 1);

    m_usb.available = false;
    m_video.push_back(Video(1, QStringLiteral("Second"), "1BCF", "2C99", "1-3"));
    ASSERT_EQ(m_check->FindSupportedCameras(), 2);
    EXPECT_EQ(m_check->usbFailureKey(), QStringLiteral("DEVICELIST"));
    m_video.pop_back();
    EXPECT_EQ(m_check->FindSupportedCameras(), 1);  // the cameras do not need the table
    EXPECT_EQ(m_check->usbFailureKey(), QStringLiteral("DEVICELIST"));
    EXPECT_EQ(m_app.m_nUsbDeviceCount, 0);
    EXPECT_TRUE(m_app.m_UsbDevices[0].strFriendlyName.isEmpty());
    EXPECT_EQ(m_app.m_nCameraCount, 1);
    EXPECT_TRUE(m_app.m_strCameraName[1].isEmpty());
    EXPECT_FALSE(m_check->cameras()[1].isValid());
    EXPECT_TRUE(m_check->failureKey().isEmpty());
    EXPECT_EQ(m_controller.depth(), 0);
}

TEST_F(SupportCheckTest, AnUnreadableDeviceEndsTheTable) {
    m_usb.devices = {Usb("1BCF", "2C99", QStringLiteral("Microscope A"), "1-2"),
                     Usb("", "", QString(), "1-3"),
                     Usb("1BCF", "2C99", QStringLiteral("Microscope B"), "1-4")};
    m_video = {Video(0, QStringLiteral("B"), "1BCF", "2C99", "1-4"),
               Video(1, QStringLiteral("A"), "1BCF", "2C99", "1-2")};

    EXPECT_EQ(m_check->FindSupportedCameras(), 2);
    EXPECT_EQ(m_check->usbFailureKey(), QStringLiteral("DEVICEID"));
    EXPECT_EQ(m_app.m_nUsbDeviceCount, 1);
    EXPECT_EQ(m_app.m_UsbDevices[0].strFriendlyName, "Microscope A");
    EXPECT_EQ(m_app.m_strCameraName[0], "B");
}

TEST_F(SupportCheckTest, NoVideoDeviceReportsNoHardware) {
    m_usb.devices = {Usb("1BCF", "2C99", QStringLiteral("Microscope"), "1-2")};
    EXPECT_EQ(m_check->FindSupportedCameras(), 0);
    EXPECT_EQ(m_check->failureKey(), QStringLiteral("NOHARDWARE"));
    EXPECT_EQ(m_app.m_nUsbDeviceCount, 1);
    EXPECT_TRUE(m_check->usbFailureKey().isEmpty());
    EXPECT_EQ(m_controller.depth(), 0);
}

TEST_F(SupportCheckTest, VirtualCameraPassesTheCheckLikeARealOne) {
    CameraSystem system(true);
    VirtualCameraDevice* device = system.virtualDevice();
    if (device == nullptr) {
        GTEST_SKIP() << "the camera system offers no virtual camera yet";
    }
    UdevUsbDeviceSource usb(&system);
    CameraDiscovery discovery(system);
    SupportCheck check(m_app, discovery, usb);

    ASSERT_EQ(check.FindSupportedCameras(), 1);
    EXPECT_EQ(check.cameras()[0], device->cameraId());
    EXPECT_EQ(m_app.m_strCameraName[0], "Tavrel Virtual Microscope");
    EXPECT_EQ(m_app.m_strCameraVid, "1209");
    EXPECT_EQ(m_app.m_strCameraPid, "0001");
    const UsbDeviceEntry& last = m_app.m_UsbDevices[m_app.m_nUsbDeviceCount - 1];
    EXPECT_EQ(last.strVid + ":" + last.strPid + " " + last.strFriendlyName,
              "1209:0001 Tavrel Virtual Microscope");
    EXPECT_TRUE(last.strSysPath.isEmpty());

    device->unplug();
    EXPECT_EQ(check.FindSupportedCameras(), 0);
    device->plug();
    EXPECT_EQ(check.FindSupportedCameras(), 1);
    EXPECT_TRUE(check.usbFailureKey().isEmpty());
    EXPECT_EQ(device->flashController().depth(), 0);
}

}  // namespace
