#include "device/CameraDiscovery.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "capture/CameraSystem.h"
#include "capture/v4l2/V4L2Capability.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "contracts/FileFlashController.h"
#include "device/DeviceLog.h"
#include "device/OpenCameraController.h"
#include "platform/Udev.h"

namespace {

UsbPort PortOf(const QString& removable) {
    if (removable == QLatin1String("removable")) {
        return UsbPort::Removable;
    }
    if (removable == QLatin1String("fixed")) {
        return UsbPort::Fixed;
    }
    return UsbPort::Unknown;
}

// What the file-backed controller reports for camera, and what names its flash file.
std::optional<CameraIdentity> IdentityOf(const CameraId& camera) {
    if (!camera.onUsb()) {
        return CameraIdentity::withoutUsb(camera.busInfo, camera.cardName);
    }
    bool vidOk = false;
    bool pidOk = false;
    const uint16_t vid = camera.usbVid.toUShort(&vidOk, 16);
    const uint16_t pid = camera.usbPid.toUShort(&pidOk, 16);
    if (!vidOk || !pidOk) {
        qCInfo(lcDevice) << "USB camera" << camera.devNode << "has no readable ids";
        return std::nullopt;
    }
    // Without a serial number the USB port tells two cameras of one model apart: the last part
    // of the USB device's sysfs path ("1-4.2").
    return CameraIdentity::usb(vid, pid, camera.usbSerial, camera.usbSysPath.section(u'/', -1));
}

// The "video4linux" devices that capture video and can stream, by device number. Radio, VBI,
// sub-device and media-controller nodes are not cameras; a UVC camera's metadata node is not
// one either and falls out at the capability check.
std::vector<CameraId> ScanCaptureNodes() {
    UdevPtr context(udev_new());
    if (!context) {
        qCWarning(lcDevice) << "udev_new failed";
        return {};
    }
    UdevEnumeratePtr enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "video4linux") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        qCWarning(lcDevice) << "udev enumeration of video4linux failed";
        return {};
    }
    std::vector<std::pair<int, CameraId>> found;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const char* path = udev_list_entry_get_name(entry);
        UdevDevicePtr device(udev_device_new_from_syspath(context.get(), path));
        if (!device) {
            continue;
        }
        const char* node = udev_device_get_devnode(device.get());
        const char* sysname = udev_device_get_sysname(device.get());
        if (node == nullptr || sysname == nullptr || std::strncmp(sysname, "video", 5) != 0) {
            continue;
        }
        CameraId id;
        id.backend = CameraBackend::V4L2;
        id.devNode = QString::fromUtf8(node);
        const std::optional<V4L2Capability> cap = V4L2Capability::queryNode(id.devNode);
        if (!cap || !cap->canCapture() || !cap->canStream()) {
            continue;
        }
        id.cardName = cap->card;
        id.busInfo = cap->busInfo;
        if (udev_device* usb =
                udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device")) {
            id.usbVid = UdevAttribute(usb, "idVendor").toUpper();
            id.usbPid = UdevAttribute(usb, "idProduct").toUpper();
            id.usbSerial = UdevAttribute(usb, "serial");
            id.usbSysPath = QString::fromUtf8(udev_device_get_syspath(usb));
            id.usbPort = PortOf(UdevAttribute(usb, "removable"));
        }
        const char* sysnum = udev_device_get_sysnum(device.get());
        const int number = sysnum != nullptr ? std::atoi(sysnum) : 0;
        found.emplace_back(number, std::move(id));
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<CameraId> result;
    result.reserve(found.size());
    for (auto& item : found) {
        result.push_back(std::move(item.second));
    }
    return result;
}

}  // namespace

CameraDiscovery::CameraDiscovery(CameraSystem& cameras, QString settingFile, QString flashDataRoot)
    : CameraDiscovery(cameras, ScanCaptureNodes, std::move(flashDataRoot), std::move(settingFile)) {
}

CameraDiscovery::CameraDiscovery(CameraSystem& cameras, CaptureNodeScan scan, QString flashDataRoot,
                                 QString settingFile)
    : m_cameras(cameras),
      m_scan(std::move(scan)),
      m_preference(std::move(settingFile)),
      m_fileController(std::make_unique<FileFlashController>(
          std::move(flashDataRoot),
          [this]() -> std::optional<CameraIdentity> {
              return m_answering ? IdentityOf(*m_answering) : std::nullopt;
          })),
      m_controller(std::make_unique<OpenCameraController>(
          [this]() -> CameraController& { return chooseController(); })) {}

CameraDiscovery::~CameraDiscovery() = default;

CameraDiscovery::ScanHold::ScanHold(CameraDiscovery& discovery) : m_discovery(discovery) {
    if (m_discovery.m_holds++ == 0) {
        ++m_discovery.m_scans;
        m_discovery.m_heldScan = m_discovery.m_scan ? m_discovery.m_scan() : std::vector<CameraId>();
    }
}

CameraDiscovery::ScanHold::~ScanHold() {
    if (--m_discovery.m_holds == 0) {
        m_discovery.m_heldScan.reset();
    }
}

std::vector<CameraId> CameraDiscovery::enumerate() const {
    std::vector<CameraId> cameras;
    if (m_heldScan) {
        cameras = *m_heldScan;
    } else if (m_scan) {
        ++m_scans;
        cameras = m_scan();
    }
    const VirtualCameraDevice* virtualDevice = m_cameras.virtualDevice();
    if (virtualDevice != nullptr && virtualDevice->isPlugged()) {
        cameras.push_back(virtualDevice->cameraId());
    }
    return cameras;
}

std::optional<CameraId> CameraDiscovery::answeringCamera() const {
    const std::vector<CameraId> cameras = enumerate();
    if (m_openCamera.isValid()) {
        for (const CameraId& camera : cameras) {
            if (camera == m_openCamera) {
                return camera;
            }
        }
        return std::nullopt;  // the open camera is gone; no other camera stands in for it
    }
    const int index = m_preference.pick(cameras);
    if (index < 0) {
        return std::nullopt;
    }
    return cameras[size_t(index)];
}

CameraController& CameraDiscovery::controller() {
    return *m_controller;
}

CameraController& CameraDiscovery::chooseController() {
    m_answering = answeringCamera();
    VirtualCameraDevice* virtualDevice = m_cameras.virtualDevice();
    if (virtualDevice != nullptr && m_answering && m_answering->backend == CameraBackend::Virtual) {
        return virtualDevice->controller();
    }
    return *m_fileController;
}
