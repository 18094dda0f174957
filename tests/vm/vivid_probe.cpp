// Proves that the VM harness works: opens the first video device the guest's vivid driver
// created, asks for its capabilities and lists its capture formats and frame sizes. Uses only
// the kernel's V4L2 interface, nothing of Tavrel, so a failure here points at the harness.

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

std::string fourccText(uint32_t f) {
    std::string s;
    for (int shift = 0; shift < 32; shift += 8) {
        s += char((f >> shift) & 0x7f);
    }
    if (f & (1u << 31)) {
        s += "-BE";  // the big-endian variant of the format
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const char* node = argc > 1 ? argv[1] : "/dev/video0";
    int fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "vivid_probe: open %s: %s\n", node, std::strerror(errno));
        return 1;
    }

    v4l2_capability cap{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) {
        std::fprintf(stderr, "vivid_probe: VIDIOC_QUERYCAP: %s\n", std::strerror(errno));
        close(fd);
        return 1;
    }
    uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    std::printf("%s: driver '%s', card '%s', bus '%s', caps 0x%08x\n", node,
                reinterpret_cast<const char*>(cap.driver), reinterpret_cast<const char*>(cap.card),
                reinterpret_cast<const char*>(cap.bus_info), caps);
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
        std::fprintf(stderr, "vivid_probe: %s is not a streaming capture device\n", node);
        close(fd);
        return 1;
    }

    int formats = 0;
    bool yuyv = false;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (; xioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0; ++desc.index) {
        ++formats;
        yuyv = yuyv || desc.pixelformat == V4L2_PIX_FMT_YUYV;
        std::printf("  %s (%s):", fourccText(desc.pixelformat).c_str(),
                    reinterpret_cast<const char*>(desc.description));
        v4l2_frmsizeenum size{};
        size.pixel_format = desc.pixelformat;
        for (; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                std::printf(" %ux%u", size.discrete.width, size.discrete.height);
            } else {
                std::printf(" %ux%u..%ux%u", size.stepwise.min_width, size.stepwise.min_height,
                            size.stepwise.max_width, size.stepwise.max_height);
                break;
            }
        }
        std::printf("\n");
    }
    close(fd);

    if (formats == 0 || !yuyv) {
        std::fprintf(stderr, "vivid_probe: %d capture formats, YUYV %s\n", formats,
                     yuyv ? "present" : "missing");
        return 1;
    }
    std::printf("vivid_probe: %d capture formats, YUYV present\n", formats);
    return 0;
}
