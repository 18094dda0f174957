// usbcam-emulator --socket <path> [--serial <text>] [--plug]
// Serves an emulated UVC camera to this machine's kernel over USB/IP (the vhci_hcd module must
// be loaded, and the process must be root). The camera is plugged in by the control socket's
// "plug" command, or at once with --plug. SIGTERM or SIGINT unplug it and end the process.
#include <cstdio>
#include <cstring>
#include <string>

#include "UsbCamDaemon.h"

int main(int argc, char** argv) {
    UsbCamDaemon::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--socket" && i + 1 < argc) {
            options.socketPath = argv[++i];
        } else if (arg == "--serial" && i + 1 < argc) {
            options.serial = argv[++i];
        } else if (arg == "--plug") {
            options.plugAtStart = true;
        } else {
            std::fprintf(stderr, "usage: %s --socket <path> [--serial <text>] [--plug]\n", argv[0]);
            return 2;
        }
    }
    if (options.socketPath.empty()) {
        std::fprintf(stderr, "%s: --socket is required\n", argv[0]);
        return 2;
    }
    UsbCamDaemon daemon(options);
    return daemon.run();
}
