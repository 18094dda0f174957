#include "capture/v4l2/V4L2Capability.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

#include "capture/v4l2/V4L2Ioctl.h"
#include "capture/v4l2/V4L2Log.h"
#include "platform/UniqueFd.h"

namespace {

// The driver fills these fixed fields with NUL-terminated text, but nothing forces it to.
template <size_t N>
QString fieldText(const uint8_t (&field)[N]) {
    const char* text = reinterpret_cast<const char*>(field);
    return QString::fromUtf8(text, int(strnlen(text, N)));
}

}  // namespace

bool V4L2Capability::canCapture() const {
    return (deviceCaps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

bool V4L2Capability::canStream() const {
    return (deviceCaps & V4L2_CAP_STREAMING) != 0;
}

std::optional<V4L2Capability> V4L2Capability::query(int fd, const QString& node) {
    v4l2_capability cap{};
    if (V4L2Ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) {
        const int error = errno;
        qCWarning(lcV4L2).noquote() << node << "VIDIOC_QUERYCAP failed:" << std::strerror(error);
        errno = error;  // the caller reports it with its failure
        return std::nullopt;
    }
    V4L2Capability result;
    result.card = fieldText(cap.card);
    result.busInfo = fieldText(cap.bus_info);
    result.driver = fieldText(cap.driver);
    // Drivers that tell the node's own capabilities apart from the whole device's set this flag.
    result.deviceCaps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
    return result;
}

std::optional<V4L2Capability> V4L2Capability::queryNode(const QString& node) {
    const QByteArray path = node.toLocal8Bit();
    UniqueFd fd(::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isValid()) {
        // Ordinary during discovery: a node busy in another program, or not ours to open.
        qCInfo(lcV4L2).noquote() << node << "open failed:" << std::strerror(errno);
        return std::nullopt;
    }
    return query(fd.get(), node);
}
