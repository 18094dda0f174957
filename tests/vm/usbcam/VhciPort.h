#pragma once

#include <cstdint>
#include <string>

// The guest kernel's USB/IP virtual host controller (vhci_hcd) seen from sysfs: plugging a
// connection in as a high-speed device, pulling it out, and finding the video node uvcvideo
// made for it. Needs root and the vhci_hcd module.
class VhciPort {
public:
    static constexpr const char* kControllerDir = "/sys/devices/platform/vhci_hcd.0";

    // Hands kernelFd (a connected stream socket; the kernel keeps its own reference) to a free
    // high-speed port as device devid. Returns the port, or -1 with *error saying why.
    static int attach(int kernelFd, uint32_t devid, std::string* error);
    // Unplugs the device on port. The kernel has shut its end of the connection on return.
    static bool detach(int port, std::string* error);

    // The video capture node ("/dev/video3") of the device with these ids and serial behind the
    // virtual host controller; empty while there is none.
    static std::string findVideoNode(uint16_t vendorId, uint16_t productId,
                                     const std::string& serial);
};
