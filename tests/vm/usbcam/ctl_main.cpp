// usbcam-ctl <socket> <command...>
// Sends one command to the USB camera emulator and prints its reply. Exit status 0 for an
// "ok" reply, 1 otherwise. Waits up to 10 s for the emulator's socket to appear.
#include <cstdio>
#include <string>

#include "UsbCamClient.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s <socket> plug [serial]|unplug|press|get <control>|frames|status\n",
                     argv[0]);
        return 2;
    }
    std::string line = argv[2];
    for (int i = 3; i < argc; ++i) {
        line += ' ';
        line += argv[i];
    }
    UsbCamClient client(argv[1]);
    if (!client.connect(std::chrono::seconds(10))) {
        std::fprintf(stderr, "%s: cannot connect to %s\n", argv[0], argv[1]);
        return 1;
    }
    const std::string reply = client.command(line);
    std::printf("%s\n", reply.c_str());
    return UsbCamClient::isOk(reply) ? 0 : 1;
}
