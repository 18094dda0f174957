#include "device/SupportCheck.h"

#include <algorithm>
#include <iterator>

#include "contracts/CameraController.h"
#include "device/CameraDiscovery.h"
#include "device/DeviceLog.h"
#include "device/UsbDeviceSource.h"
#include "platform/HexId.h"

namespace {

bool IsUsbId(const QString& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
           });
}

// Whether camera sits on the USB device of entry (ids upper-case). The virtual camera's device
// has no place in the device tree: the empty path and the ids tie them.
bool SitsOn(const CameraId& camera, const UsbDeviceEntry& entry) {
    return camera.onUsb() && entry.strSysPath == camera.usbSysPath &&
           entry.strVid == camera.usbVid && entry.strPid == camera.usbPid;
}

}  // namespace

SupportCheck::SupportCheck(DeviceTable& table, CameraDiscovery& discovery,
                           UsbDeviceSource& usbDevices)
    : SupportCheck(
          table, usbDevices, discovery.controller(), [&discovery] { return discovery.enumerate(); },
          [&discovery](const std::vector<CameraId>& cameras) {
              return discovery.preference().pick(cameras);
          }) {}

SupportCheck::SupportCheck(DeviceTable& table, UsbDeviceSource& usbDevices,
                           CameraController& controller, CameraList cameraList, CameraPick pick)
    : m_table(table),
      m_usbDevices(usbDevices),
      m_controller(controller),
      m_cameraList(std::move(cameraList)),
      m_pick(std::move(pick)) {}

void SupportCheck::FindUsbDevices(const std::vector<CameraId>& cameras) {
    m_table.m_nUsbDeviceCount = 0;
    m_table.m_UsbDevices.fill(UsbDeviceEntry());
    m_usbFailureKey.clear();

    std::vector<UsbDeviceEntry> devices;
    if (!m_usbDevices.list(&devices)) {
        qCWarning(lcDevice) << "the USB device list cannot be read";
        m_usbFailureKey = QStringLiteral("DEVICELIST");
        return;
    }

    // The devices that qualify, in the list's order, and which of them carry a camera.
    std::vector<UsbDeviceEntry> qualified;
    std::vector<bool> carriesCamera;
    for (const UsbDeviceEntry& device : devices) {
        if (device.strVid.isEmpty() || device.strPid.isEmpty()) {
            qCWarning(lcDevice) << "USB device" << device.strSysPath << "has unreadable ids";
            m_usbFailureKey = QStringLiteral("DEVICEID");
            break;
        }
        if (device.strFriendlyName.isEmpty()) {
            continue;
        }
        const UsbDeviceEntry entry{device.strPid.toUpper(), device.strVid.toUpper(),
                                   device.strFriendlyName, device.strSysPath};
        if (!IsUsbId(entry.strVid) || !IsUsbId(entry.strPid)) {
            qCInfo(lcDevice) << "USB device" << entry.strSysPath << "with ids" << entry.strVid
                             << entry.strPid << "left out";
            continue;
        }
        qualified.push_back(entry);
        carriesCamera.push_back(std::any_of(cameras.begin(), cameras.end(),
                                            [&](const CameraId& c) { return SitsOn(c, entry); }));
    }

    const int cameraDevices = int(std::count(carriesCamera.begin(), carriesCamera.end(), true));
    const int roomForOthers = std::max(0, kMaxUsbDevices - cameraDevices);
    int others = 0;
    int count = 0;
    for (size_t i = 0; i < qualified.size() && count < kMaxUsbDevices; ++i) {
        if (!carriesCamera[i]) {
            if (others == roomForOthers) {
                continue;
            }
            ++others;
        }
        m_table.m_UsbDevices[count++] = qualified[i];
    }
    if (size_t(count) < qualified.size()) {
        qCWarning(lcDevice) << "USB device table full:" << qualified.size() - size_t(count)
                            << "devices not tabled (the cameras' devices are kept first)";
    }
    m_table.m_nUsbDeviceCount = count;
}

int SupportCheck::FindSupportedCameras() {
    m_table.m_nCameraCount = 0;
    m_table.m_strCameraName.fill(QString());
    m_table.m_strCameraVid.clear();
    m_table.m_strCameraPid.clear();
    m_cameras.fill(CameraId());
    m_found.clear();
    m_failureKey.clear();

    const std::vector<CameraId> listed = m_cameraList ? m_cameraList() : std::vector<CameraId>();
    FindUsbDevices(listed);
    m_controller.ALC_Initialize();
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

    std::copy_if(listed.begin(), listed.end(), std::back_inserter(m_found),
                 [](const CameraId& camera) { return camera.isValid(); });
    int opened = m_pick ? m_pick(m_found) : 0;
    if (opened < 0 || opened >= int(m_found.size())) {
        opened = 0;
    }
    int stored = 0;
    auto store = [&](const CameraId& camera) {
        m_table.m_strCameraName[stored] = camera.cardName;
        m_cameras[stored] = camera;
        ++stored;
    };
    if (!m_found.empty()) {
        store(m_found[size_t(opened)]);
    }
    for (int i = 0; i < int(m_found.size()) && stored < kMaxCameras; ++i) {
        if (i != opened) {
            store(m_found[size_t(i)]);
        }
    }
    m_table.m_nCameraCount = stored;
    if (stored < 1) {
        m_failureKey = QStringLiteral("NOSUPPORT");
    }

    m_controller.ALC_UnInitialize();
    return m_table.m_nCameraCount;
}
