#include "device/SupportCheck.h"

#include <QApplication>
#include <QMessageBox>
#include <algorithm>

#include "app/LanguageText.h"
#include "app/TavrelApp.h"
#include "app/TextTable.h"
#include "contracts/CameraController.h"
#include "device/CameraDiscovery.h"
#include "device/DeviceLog.h"
#include "device/UsbDeviceSource.h"
#include "platform/HexId.h"

static_assert(SupportCheck::kMaxUsbDevices ==
              int(std::tuple_size_v<decltype(CTavrelApp::m_UsbDevices)>));
static_assert(SupportCheck::kMaxCameras ==
              int(std::tuple_size_v<decltype(CTavrelApp::m_strCameraName)>));

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

// Looks a message up so that it lands in the language file; it is not shown.
void LookUpMessage(const char* key) {
    const QString section = QStringLiteral("WndMessage");
    const QString name = QString::fromLatin1(key);
    GetLanguageText(section, name, BuiltInDefault(section, name));
}

}  // namespace

SupportCheck::SupportCheck(CTavrelApp& app, CameraDiscovery& discovery, UsbDeviceSource& usbDevices)
    : SupportCheck(app, usbDevices, discovery.controller(),
                   [&discovery] { return discovery.enumerate(); }) {}

SupportCheck::SupportCheck(CTavrelApp& app, UsbDeviceSource& usbDevices,
                           CameraController& controller, CameraList cameraList)
    : messageBox(ShowWarningBox),
      m_app(app),
      m_usbDevices(usbDevices),
      m_controller(controller),
      m_cameraList(std::move(cameraList)) {}

void SupportCheck::FindUsbDevices() {
    m_app.m_nUsbDeviceCount = 0;
    m_app.m_UsbDevices.fill(UsbDeviceEntry());

    std::vector<UsbDeviceEntry> devices;
    if (!m_usbDevices.list(&devices)) {
        if (messageBox)
            messageBox(QString::fromUtf16(kDeviceListFailed));
        return;
    }

    int count = 0;
    for (const UsbDeviceEntry& device : devices) {
        if (device.strVid.isEmpty() || device.strPid.isEmpty()) {
            if (messageBox)
                messageBox(QString::fromUtf16(kDeviceIdUnreadable));
            break;
        }
        if (device.strFriendlyName.isEmpty())
            continue;
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
        m_app.m_UsbDevices[count++] =
            UsbDeviceEntry{pid, vid, device.strFriendlyName, device.strSysPath};
    }
    m_app.m_nUsbDeviceCount = count;
}

bool SupportCheck::IsSupportedDevice(const CameraId& camera) const {
    if (m_app.m_strCameraPid.isEmpty() || m_app.m_strCameraVid.isEmpty())
        return false;
    const int count = std::clamp(m_app.m_nUsbDeviceCount, 0, kMaxUsbDevices);
    for (int i = 0; i < count; ++i) {
        const UsbDeviceEntry& entry = m_app.m_UsbDevices[i];
        if (entry.strVid == m_app.m_strCameraVid && entry.strPid == m_app.m_strCameraPid &&
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

    m_app.m_nCameraCount = 0;
    m_app.m_strCameraName.fill(QString());
    m_app.m_strCameraVid.clear();
    m_app.m_strCameraPid.clear();
    m_cameras.fill(CameraId());

    const std::vector<CameraId> listed = m_cameraList ? m_cameraList() : std::vector<CameraId>();
    if (listed.empty()) {
        LookUpMessage("NOHARDWARE");
        m_controller.ALC_UnInitialize();
        return 0;
    }

    uint16_t vid = 0;
    uint16_t pid = 0;
    if (m_controller.ALC_GetPIDVID(&vid, &pid)) {
        m_app.m_strCameraVid = HexId(vid);
        m_app.m_strCameraPid = HexId(pid);
    } else {
        qCInfo(lcDevice) << "the camera controller reports no camera";
    }

    int found = 0;
    for (const CameraId& camera : listed) {
        if (found == kMaxCameras)
            break;
        if (!IsSupportedDevice(camera))
            continue;
        m_app.m_strCameraName[found] = camera.cardName;
        m_cameras[found] = camera;
        ++found;
    }
    m_app.m_nCameraCount = found;
    if (found < 1)
        LookUpMessage("NOSUPPORT");

    m_controller.ALC_UnInitialize();
    return m_app.m_nCameraCount;
}
