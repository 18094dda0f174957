#include "device/SupportCheck.h"

#include <QApplication>
#include <QMessageBox>
#include <algorithm>

#include "contracts/CameraController.h"
#include "device/CameraDiscovery.h"
#include "device/DeviceLog.h"
#include "device/UsbDeviceSource.h"
#include "platform/HexId.h"

namespace {

// The two failure texts are fixed in the program, not taken from the language files.
const char16_t kDeviceListFailed[] = u"获取系统设备列表失败";
const char16_t kDeviceIdUnreadable[] = u"获取设备识别字符串失败";

void ShowWarningBox(const QString& text) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        qCWarning(lcDevice) << text;  // no widgets to show it with
        return;
    }
    QMessageBox::warning(QApplication::activeWindow(), QGuiApplication::applicationDisplayName(),
                         text);
}

bool IsUsbId(const QString& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
           });
}

}  // namespace

SupportCheck::SupportCheck(DeviceTable& table, CameraDiscovery& discovery,
                           UsbDeviceSource& usbDevices)
    : SupportCheck(table, usbDevices, discovery.controller(),
                   [&discovery] { return discovery.enumerate(); }) {}

SupportCheck::SupportCheck(DeviceTable& table, UsbDeviceSource& usbDevices,
                           CameraController& controller, CameraList cameraList)
    : messageBox(ShowWarningBox),
      m_table(table),
      m_usbDevices(usbDevices),
      m_controller(controller),
      m_cameraList(std::move(cameraList)) {}

void SupportCheck::FindUsbDevices() {
    m_table.m_nUsbDeviceCount = 0;
    m_table.m_UsbDevices.fill(UsbDeviceEntry());

    std::vector<UsbDeviceEntry> devices;
    if (!m_usbDevices.list(&devices)) {
        if (messageBox) {
            messageBox(QString::fromUtf16(kDeviceListFailed));
        }
        return;
    }

    int count = 0;
    for (const UsbDeviceEntry& device : devices) {
        if (device.strVid.isEmpty() || device.strPid.isEmpty()) {
            if (messageBox) {
                messageBox(QString::fromUtf16(kDeviceIdUnreadable));
            }
            break;
        }
        if (device.strFriendlyName.isEmpty()) {
            continue;
        }
        const QString vid = device.strVid.toUpper();
        const QString pid = device.strPid.toUpper();
        if (!IsUsbId(vid) || !IsUsbId(pid)) {
            qCInfo(lcDevice) << "USB device" << device.strSysPath << "with ids" << vid << pid
                             << "left out";
            continue;
        }
        if (count == kMaxUsbDevices) {
            qCWarning(lcDevice) << "USB device table full: devices from" << device.strSysPath
                                << "on are not tabled";
            break;
        }
        m_table.m_UsbDevices[count++] =
            UsbDeviceEntry{pid, vid, device.strFriendlyName, device.strSysPath};
    }
    m_table.m_nUsbDeviceCount = count;
}

bool SupportCheck::IsSupportedDevice(const CameraId& camera) const {
    if (m_table.m_strCameraPid.isEmpty() || m_table.m_strCameraVid.isEmpty()) {
        return false;
    }
    const int count = std::clamp(m_table.m_nUsbDeviceCount, 0, kMaxUsbDevices);
    for (int i = 0; i < count; ++i) {
        const UsbDeviceEntry& entry = m_table.m_UsbDevices[i];
        if (entry.strVid == m_table.m_strCameraVid && entry.strPid == m_table.m_strCameraPid &&
            entry.strSysPath == camera.usbSysPath && entry.strVid == camera.usbVid &&
            entry.strPid == camera.usbPid) {
            return true;
        }
    }
    return false;
}

int SupportCheck::FindSupportedCameras() {
    FindUsbDevices();
    m_controller.ALC_Initialize();

    m_table.m_nCameraCount = 0;
    m_table.m_strCameraName.fill(QString());
    m_table.m_strCameraVid.clear();
    m_table.m_strCameraPid.clear();
    m_cameras.fill(CameraId());
    m_failureKey.clear();

    const std::vector<CameraId> listed = m_cameraList ? m_cameraList() : std::vector<CameraId>();
    if (listed.empty()) {
        m_failureKey = QStringLiteral("NOHARDWARE");
        m_controller.ALC_UnInitialize();
        return 0;
    }

    uint16_t vid = 0;
    uint16_t pid = 0;
    if (m_controller.ALC_GetPIDVID(&vid, &pid)) {
        m_table.m_strCameraVid = HexId(vid);
        m_table.m_strCameraPid = HexId(pid);
    } else {
        qCInfo(lcDevice) << "the camera controller reports no camera";
    }

    int found = 0;
    for (const CameraId& camera : listed) {
        if (found == kMaxCameras) {
            break;
        }
        if (!IsSupportedDevice(camera)) {
            continue;
        }
        m_table.m_strCameraName[found] = camera.cardName;
        m_cameras[found] = camera;
        ++found;
    }
    m_table.m_nCameraCount = found;
    if (found < 1) {
        m_failureKey = QStringLiteral("NOSUPPORT");
    }

    m_controller.ALC_UnInitialize();
    return m_table.m_nCameraCount;
}
