#include "VhciPort.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/UniqueFd.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSpeedHigh = 3;  // enum usb_device_speed
constexpr int kPortFree = 4;   // VDEV_ST_NULL in the status table

bool writeAttribute(const std::string& name, const std::string& text, std::string* error) {
    const std::string path = std::string(VhciPort::kControllerDir) + "/" + name;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd.isValid() || ::write(fd.get(), text.data(), text.size()) != ssize_t(text.size())) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string readAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string value;
    std::getline(in, value);
    return value;
}

}  // namespace

int VhciPort::attach(int kernelFd, uint32_t devid, std::string* error) {
    // "hub port sta spd dev sockfd local_busid": the high-speed ports ("hs") come first.
    std::ifstream status(std::string(kControllerDir) + "/status");
    if (!status) {
        *error = std::string(kControllerDir) + "/status cannot be read (is vhci_hcd loaded?)";
        return -1;
    }
    std::string line;
    std::getline(status, line);  // heading
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string hub;
        int port = -1, state = -1;
        fields >> hub >> port >> state;
        if (hub != "hs" || state != kPortFree) {
            continue;
        }
        std::ostringstream command;
        command << port << ' ' << kernelFd << ' ' << devid << ' ' << kSpeedHigh;
        if (writeAttribute("attach", command.str(), error)) {
            return port;
        }
    }
    if (error->empty()) {
        *error = "no free high-speed port on the virtual host controller";
    }
    return -1;
}

bool VhciPort::detach(int port, std::string* error) {
    return writeAttribute("detach", std::to_string(port), error);
}

std::string VhciPort::findVideoNode(uint16_t vendorId, uint16_t productId,
                                    const std::string& serial) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", vendorId, productId);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/video4linux", ec)) {
        // uvcvideo adds a metadata node next to the capture node; the capture node is index 0.
        if (readAttribute(entry.path() / "index") != "0") {
            continue;
        }
        const fs::path interface = fs::canonical(entry.path() / "device", ec);
        if (ec || interface.string().find("/vhci_hcd.") == std::string::npos) {
            continue;
        }
        const fs::path usb = interface.parent_path();
        const std::string found =
            readAttribute(usb / "idVendor") + ":" + readAttribute(usb / "idProduct");
        if (found != ids || readAttribute(usb / "serial") != serial) {
            continue;
        }
        const std::string node = "/dev/" + entry.path().filename().string();
        struct stat st {};
        if (::stat(node.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
            return node;
        }
    }
    return {};
}
