#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EmulatedUvcCamera.h"
#include "platform/UniqueFd.h"

// The USB camera emulator's process: serves one EmulatedUvcCamera to the guest kernel's
// virtual host controller over a socket pair, and takes commands on a Unix control socket,
// one line each, answered by one line starting with "ok" or "error":
//   plug [serial]   attach the camera as a new USB device; with a serial number other than
//                   the one given at start (a different camera of the same model) until the
//                   next plug; answers "ok /dev/videoN" once the video node exists (or an
//                   error after 20 s)
//   unplug          detach it; answers "ok" once its video node is gone (or an error after 20 s)
//   press           press and release the snapshot button (an error when the host does not
//                   poll the status endpoint, i.e. nobody has the video node open)
//   get <control>   the control's value as the host last set it (UVC units)
//   frames          frames served since the emulator started
//   status          "ok plugged=1 port=0 serial=TUC-0001 node=/dev/video2 streaming=1
//                   stream=YUYV 640x480 30fps frames=12"
// Single-threaded: one poll loop serves the USB link, the control clients and the frame clock,
// so a command that waits for the kernel never stops the device from answering it.
class UsbCamDaemon {
public:
    struct Options {
        std::string socketPath;
        std::string serial = "TUC-0001";
        bool plugAtStart = false;
    };

    explicit UsbCamDaemon(Options options);
    ~UsbCamDaemon();
    UsbCamDaemon(const UsbCamDaemon&) = delete;
    UsbCamDaemon& operator=(const UsbCamDaemon&) = delete;

    // Runs until SIGTERM or SIGINT; unplugs the camera before it returns. The exit status.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    enum class Wait { None, Node, NodeGone };
    struct Client {
        UniqueFd fd;
        std::string input;
        Wait wait = Wait::None;
        Clock::time_point deadline;
        std::string node;  // the node whose removal an unplug waits for
    };

    bool listen(std::string* error);
    void acceptClient();
    // Reads a client's input and runs its complete lines; false when it went away.
    bool readClient(Client& client);
    // Runs the client's complete lines until one has to wait.
    void runLines(Client& client);
    void runCommand(Client& client, const std::string& line);
    void checkWaits();
    void reply(Client& client, const std::string& text);

    bool plug(const std::string& serial, std::string* error);
    void unplug();
    void readUsb();
    void sendUsb(const std::vector<uint8_t>& bytes);
    std::string videoNode() const;

    Options m_options;
    UniqueFd m_listen;
    UniqueFd m_signals;
    std::vector<std::unique_ptr<Client>> m_clients;

    EmulatedUvcCamera m_camera;
    UniqueFd m_usb;  // our end of the link; invalid while unplugged
    bool m_usbBroken = false;
    int m_port = -1;
    uint32_t m_nextDevid = 0x00010002;
    std::vector<uint8_t> m_usbInput;
};
