#include "capture/CameraSystem.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "capture/virtual/VirtualCameraDevice.h"
#include "contracts/FileFlashController.h"

namespace {

Q_LOGGING_CATEGORY(lcCameraSystem, "tavrel.capture.system")

// Owners of the udev handles used here. A device returned by
// udev_device_get_parent_with_subsystem_devtype() belongs to its child and is not wrapped.
struct UdevUnref {
    void operator()(udev* p) const { udev_unref(p); }
    void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
    void operator()(udev_device* p) const { udev_device_unref(p); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevUnref>;

// Owns a file descriptor for the duration of a capability query.
class DeviceFd {
public:
    explicit DeviceFd(int fd) : m_fd(fd) {}
    ~DeviceFd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    DeviceFd(const DeviceFd&) = delete;
    DeviceFd& operator=(const DeviceFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QString sysattr(udev_device* device, const char* name) {
    const char* value = udev_device_get_sysattr_value(device, name);
    return value != nullptr ? QString::fromUtf8(value).trimmed() : QString();
}

// A node qualifies when it captures video and can stream; metadata nodes of the same camera
// report only V4L2_CAP_META_CAPTURE and fall out here.
bool queryCaptureNode(const char* node, QString* cardName) {
    DeviceFd fd(::open(node, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        qCInfo(lcCameraSystem) << "open" << node << "failed:" << std::strerror(errno);
        return false;
    }
    v4l2_capability cap{};
    int result;
    do {
        result = ::ioctl(fd.get(), VIDIOC_QUERYCAP, &cap);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        qCInfo(lcCameraSystem) << "VIDIOC_QUERYCAP on" << node << "failed:" << std::strerror(errno);
        return false;
    }
    const uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0) {
        return false;
    }
    *cardName =
        QString::fromUtf8(reinterpret_cast<const char*>(cap.card),
                          int(strnlen(reinterpret_cast<const char*>(cap.card), sizeof(cap.card))));
    return true;
}

std::vector<CameraId> enumerateV4l2() {
    std::vector<std::pair<int, CameraId>> found;
    UdevPtr context(udev_new());
    if (!context) {
        qCWarning(lcCameraSystem) << "udev_new failed";
        return {};
    }
    UdevEnumeratePtr enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "video4linux") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        qCWarning(lcCameraSystem) << "udev enumeration of video4linux failed";
        return {};
    }
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
            continue;  // radio, vbi, subdevices and media controllers are not cameras
        }
        CameraId id;
        id.backend = CameraBackend::V4L2;
        id.devNode = QString::fromUtf8(node);
        if (!queryCaptureNode(node, &id.cardName)) {
            continue;
        }
        if (udev_device* usb =
                udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device")) {
            id.usbVid = sysattr(usb, "idVendor").toUpper();
            id.usbPid = sysattr(usb, "idProduct").toUpper();
            id.usbSerial = sysattr(usb, "serial");
            id.usbSysPath = QString::fromUtf8(udev_device_get_syspath(usb));
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

CameraSystem::CameraSystem(bool withVirtualCamera) {
    if (withVirtualCamera) {
        m_virtual = std::make_unique<VirtualCameraDevice>();
    }
}

CameraSystem::~CameraSystem() = default;

std::vector<CameraId> CameraSystem::enumerate() const {
    std::vector<CameraId> cameras = enumerateV4l2();
    if (m_virtual && m_virtual->isPlugged()) {
        cameras.push_back(m_virtual->cameraId());
    }
    return cameras;
}

std::unique_ptr<Camera> CameraSystem::create(const CameraId& id) {
    if (id.backend == CameraBackend::Virtual) {
        if (!m_virtual || id.devNode != m_virtual->cameraId().devNode) {
            return nullptr;
        }
        return m_virtual->createCamera();
    }
    return CreateCamera(id);
}

CameraController& CameraSystem::controller() {
    if (m_virtual) {
        return m_virtual->controller();
    }
    if (!m_controller) {
        m_controller = std::make_unique<FileFlashController>();
    }
    return *m_controller;
}
