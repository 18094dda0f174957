#include "contracts/UsbCameraFinder.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "contracts/ContractsLog.h"

namespace {

struct UdevDeleter {
    void operator()(udev* handle) const { udev_unref(handle); }
};
struct UdevEnumerateDeleter {
    void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
};
struct UdevDeviceDeleter {
    void operator()(udev_device* handle) const { udev_device_unref(handle); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevEnumerateDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeviceDeleter>;

// Owns one file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Whether the V4L2 node can capture video. udev's v4l_id records the capabilities as a
// property; where no udev daemon filled it in, ask the driver.
bool canCapture(udev_device* dev) {
    if (const char* caps = udev_device_get_property_value(dev, "ID_V4L_CAPABILITIES")) {
        return std::strstr(caps, ":capture:") != nullptr;
    }
    const char* node = udev_device_get_devnode(dev);
    if (node == nullptr)
        return false;
    UniqueFd fd(::open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        qCDebug(lcContracts) << "open" << node << "failed:" << std::strerror(errno);
        return false;
    }
    v4l2_capability cap{};
    if (::ioctl(fd.get(), VIDIOC_QUERYCAP, &cap) < 0) {
        qCDebug(lcContracts) << "VIDIOC_QUERYCAP on" << node << "failed:" << std::strerror(errno);
        return false;
    }
    const uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

std::optional<uint16_t> hexAttribute(udev_device* dev, const char* name) {
    const char* text = udev_device_get_sysattr_value(dev, name);
    if (text == nullptr)
        return std::nullopt;
    bool ok = false;
    const uint16_t value = QString::fromLatin1(text).trimmed().toUShort(&ok, 16);
    if (!ok)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<UsbCameraIdentity> findFirstUsbCamera() {
    UdevPtr context(udev_new());
    if (!context) {
        qCWarning(lcContracts) << "udev_new failed:" << std::strerror(errno);
        return std::nullopt;
    }
    UdevEnumeratePtr enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "video4linux") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        qCWarning(lcContracts) << "udev enumeration of video4linux devices failed";
        return std::nullopt;
    }

    std::optional<UsbCameraIdentity> best;
    long bestNumber = 0;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        UdevDevicePtr dev(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!dev)
            continue;
        const char* sysnum = udev_device_get_sysnum(dev.get());
        const char* sysname = udev_device_get_sysname(dev.get());
        if (sysnum == nullptr || sysname == nullptr || std::strncmp(sysname, "video", 5) != 0) {
            continue;  // radio, vbi, v4l-subdev nodes
        }
        // A UVC camera has a second node (index 1) for metadata; only the first one captures.
        const char* index = udev_device_get_sysattr_value(dev.get(), "index");
        if (index != nullptr && std::strtol(index, nullptr, 10) != 0)
            continue;
        const long number = std::strtol(sysnum, nullptr, 10);
        if (best && number >= bestNumber)
            continue;
        // The parent belongs to dev and is released with it.
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(dev.get(), "usb", "usb_device");
        if (usb == nullptr)
            continue;
        const auto vid = hexAttribute(usb, "idVendor");
        const auto pid = hexAttribute(usb, "idProduct");
        if (!vid || !pid || !canCapture(dev.get()))
            continue;
        const char* serial = udev_device_get_sysattr_value(usb, "serial");
        best =
            UsbCameraIdentity{*vid, *pid, serial ? QString::fromUtf8(serial).trimmed() : QString()};
        bestNumber = number;
    }
    return best;
}
