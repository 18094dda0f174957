#include "capture/v4l2/SnapshotButtonInput.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>

#include "platform/Udev.h"

namespace {

// Sysfs path of the USB device (not interface) above dev, or empty.
QString usbParentSysPath(udev_device* dev) {
    // The parent is owned by dev and must not be unreferenced.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
    return usb ? QString::fromUtf8(udev_device_get_syspath(usb)) : QString();
}

bool reportsCameraKey(int fd) {
    std::array<unsigned long, KEY_MAX / (8 * sizeof(unsigned long)) + 1> bits{};
    if (::ioctl(fd, EVIOCGBIT(EV_KEY, sizeof(bits)), bits.data()) < 0) {
        return false;
    }
    constexpr size_t kBitsPerWord = 8 * sizeof(unsigned long);
    return (bits[KEY_CAMERA / kBitsPerWord] >> (KEY_CAMERA % kBitsPerWord)) & 1;
}

}  // namespace

SnapshotButtonInput::SnapshotButtonInput(UniqueFd fd) : m_fd(std::move(fd)) {
    grab();
}

void SnapshotButtonInput::grab() {
    m_grabErrno = 0;
    if (m_fd.isValid() && ::ioctl(m_fd.get(), EVIOCGRAB, 1) < 0) {
        m_grabErrno = errno;
    }
}

void SnapshotButtonInput::close() {
    m_fd.reset();
    m_grabErrno = 0;
}

bool SnapshotButtonInput::open(const QString& videoNode, const QString& usbSysPath,
                               int* openErrno) {
    close();
    if (openErrno) {
        *openErrno = 0;
    }
    UdevPtr u(udev_new());
    if (!u) {
        return false;
    }

    QString cameraUsb;
    struct stat st {};
    if (::stat(videoNode.toLocal8Bit().constData(), &st) == 0 && S_ISCHR(st.st_mode)) {
        UdevDevicePtr video(udev_device_new_from_devnum(u.get(), 'c', st.st_rdev));
        if (video) {
            cameraUsb = usbParentSysPath(video.get());
        }
    }
    if (cameraUsb.isEmpty()) {
        cameraUsb = usbSysPath;
    }
    if (cameraUsb.isEmpty()) {
        return false;
    }

    UdevEnumeratePtr e(udev_enumerate_new(u.get()));
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "input") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0) {
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        UdevDevicePtr dev(udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!dev) {
            continue;
        }
        const char* node = udev_device_get_devnode(dev.get());
        if (!node || !QByteArray(node).startsWith("/dev/input/event")) {
            continue;
        }
        if (usbParentSysPath(dev.get()) != cameraUsb) {
            continue;
        }
        UniqueFd fd(::open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.isValid()) {
            if (openErrno) {
                *openErrno = errno;
            }
            continue;
        }
        if (reportsCameraKey(fd.get())) {
            m_fd = std::move(fd);
            grab();
            return true;
        }
    }
    return false;
}

int SnapshotButtonInput::readPresses() {
    if (!m_fd.isValid()) {
        return -1;
    }
    int presses = 0;
    std::array<input_event, 16> events;
    for (;;) {
        const ssize_t n = ::read(m_fd.get(), events.data(), sizeof(events));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                return presses;
            }
            return -1;  // ENODEV: the camera was unplugged
        }
        if (n == 0) {
            return -1;
        }
        for (size_t i = 0; i < size_t(n) / sizeof(input_event); ++i) {
            const input_event& ev = events[i];
            // Value 1 is the key going down; 2 is auto-repeat while held, 0 the release.
            if (ev.type == EV_KEY && ev.code == KEY_CAMERA && ev.value == 1) {
                ++presses;
            }
        }
    }
}
