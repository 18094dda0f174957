#include "UsbCamDaemon.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "UvcDescriptors.h"
#include "VhciPort.h"

namespace {

constexpr auto kWaitLimit = std::chrono::seconds(20);
constexpr auto kWaitCheck = std::chrono::milliseconds(20);

void log(const std::string& text) {
    std::fprintf(stderr, "usbcam-emulator: %s\n", text.c_str());
}

}  // namespace

UsbCamDaemon::UsbCamDaemon(Options options)
    : m_options(std::move(options)),
      m_camera(m_options.serial, [this](const std::vector<uint8_t>& bytes) { sendUsb(bytes); }) {}

UsbCamDaemon::~UsbCamDaemon() {
    if (!m_options.socketPath.empty() && m_listen.isValid()) {
        ::unlink(m_options.socketPath.c_str());
    }
}

bool UsbCamDaemon::listen(std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_options.socketPath.empty() || m_options.socketPath.size() >= sizeof address.sun_path) {
        *error = "bad control socket path '" + m_options.socketPath + "'";
        return false;
    }
    std::memcpy(address.sun_path, m_options.socketPath.c_str(), m_options.socketPath.size() + 1);
    ::unlink(address.sun_path);  // left over from an earlier run
    m_listen.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_listen.isValid() ||
        ::bind(m_listen.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listen.get(), 8) != 0) {
        *error = m_options.socketPath + ": " + std::strerror(errno);
        m_listen.reset();
        return false;
    }
    return true;
}

int UsbCamDaemon::run() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    m_signals.reset(::signalfd(-1, &mask, SFD_CLOEXEC));
    ::signal(SIGPIPE, SIG_IGN);

    std::string error;
    if (!listen(&error)) {
        log(error);
        return 1;
    }
    if (m_options.plugAtStart && !plug({}, &error)) {
        log(error);
        return 1;
    }
    bool running = true;
    while (running) {
        std::vector<pollfd> fds;
        fds.push_back({m_signals.get(), POLLIN, 0});
        fds.push_back({m_listen.get(), POLLIN, 0});
        fds.push_back({m_usb.isValid() ? m_usb.get() : -1, POLLIN, 0});
        for (const auto& client : m_clients) {
            fds.push_back({client->fd.get(), POLLIN, 0});
        }
        const auto now = Clock::now();
        auto wake = m_camera.serve(now);
        if (std::any_of(m_clients.begin(), m_clients.end(),
                        [](const auto& c) { return c->wait != Wait::None; })) {
            wake = std::min(wake, now + kWaitCheck);
        }
        int timeout = -1;
        if (wake != Clock::time_point::max()) {
            timeout = int(std::max<int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(wake - now).count()));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            log(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) {
            running = false;
        }
        if (fds[2].revents) {
            readUsb();
        }
        if (m_usbBroken) {
            // The host closed the link (detached from its side, or the kernel gave up on it).
            log("the USB/IP link closed");
            m_usb.reset();
            m_usbBroken = false;
            m_port = -1;
            m_camera.reset();
        }
        for (size_t i = 0; i < m_clients.size(); ++i) {
            if (fds[3 + i].revents && !readClient(*m_clients[i])) {
                m_clients[i]->fd.reset();
            }
        }
        m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                       [](const auto& c) { return !c->fd.isValid(); }),
                        m_clients.end());
        if (fds[1].revents & POLLIN) {
            acceptClient();
        }
        checkWaits();
    }
    if (m_usb.isValid()) {
        unplug();
    }
    return 0;
}

void UsbCamDaemon::acceptClient() {
    UniqueFd fd(::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (fd.isValid()) {
        auto client = std::make_unique<Client>();
        client->fd = std::move(fd);
        m_clients.push_back(std::move(client));
    }
}

bool UsbCamDaemon::readClient(Client& client) {
    char buffer[512];
    const ssize_t n = ::recv(client.fd.get(), buffer, sizeof buffer, 0);
    if (n <= 0) {
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
    client.input.append(buffer, size_t(n));
    runLines(client);
    if (client.input.size() > 4096) {
        reply(client, "error command too long");
        return false;
    }
    return client.fd.isValid();
}

void UsbCamDaemon::runLines(Client& client) {
    size_t end;
    // A command that waits holds back the client's next ones until it is answered.
    while (client.fd.isValid() && client.wait == Wait::None &&
           (end = client.input.find('\n')) != std::string::npos) {
        std::string line = client.input.substr(0, end);
        client.input.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        runCommand(client, line);
    }
}

void UsbCamDaemon::reply(Client& client, const std::string& text) {
    const std::string line = text + "\n";
    if (::send(client.fd.get(), line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) {
        client.fd.reset();
    }
}

void UsbCamDaemon::runCommand(Client& client, const std::string& line) {
    std::istringstream words(line);
    std::string command, argument;
    words >> command >> argument;
    std::string error;
    if (command == "plug") {
        if (m_usb.isValid()) {
            reply(client, "error already plugged in");
        } else if (!plug(argument, &error)) {
            reply(client, "error " + error);
        } else {
            client.wait = Wait::Node;
            client.deadline = Clock::now() + kWaitLimit;
        }
    } else if (command == "unplug") {
        if (!m_usb.isValid()) {
            reply(client, "error not plugged in");
        } else {
            client.node = videoNode();
            unplug();
            client.wait = Wait::NodeGone;
            client.deadline = Clock::now() + kWaitLimit;
        }
    } else if (command == "press") {
        reply(client, m_camera.press() ? "ok"
                                       : "error the status endpoint is not polled (is the video "
                                         "node open?)");
    } else if (command == "get") {
        const std::optional<int32_t> value = m_camera.control(argument);
        reply(client, value ? "ok " + std::to_string(*value)
                            : "error unknown control '" + argument +
                                  "' (controls: " + m_camera.controlNames() + ")");
    } else if (command == "frames") {
        reply(client, "ok " + std::to_string(m_camera.framesServed()));
    } else if (command == "status") {
        const std::string node = videoNode();
        reply(client,
              "ok plugged=" + std::to_string(m_usb.isValid()) + " port=" + std::to_string(m_port) +
                  " serial=" + m_camera.descriptors().serial() +
                  " node=" + (node.empty() ? "-" : node) +
                  " streaming=" + std::to_string(m_camera.isStreaming()) + " stream=" +
                  (m_camera.streamDescription().empty() ? "-" : m_camera.streamDescription()) +
                  " frames=" + std::to_string(m_camera.framesServed()));
    } else if (!command.empty()) {
        reply(client, "error unknown command '" + command +
                          "' (commands: plug [serial], unplug, press, get <control>, frames, "
                          "status)");
    }
}

void UsbCamDaemon::checkWaits() {
    const auto now = Clock::now();
    for (const auto& client : m_clients) {
        const Wait before = client->wait;
        if (client->wait == Wait::Node) {
            const std::string node = videoNode();
            if (!node.empty()) {
                client->wait = Wait::None;
                reply(*client, "ok " + node);
            } else if (now >= client->deadline) {
                client->wait = Wait::None;
                reply(*client, "error no video node appeared for the camera");
            }
        } else if (client->wait == Wait::NodeGone) {
            if (videoNode().empty() &&
                (client->node.empty() || ::access(client->node.c_str(), F_OK) != 0)) {
                client->wait = Wait::None;
                reply(*client, "ok");
            } else if (now >= client->deadline) {
                client->wait = Wait::None;
                reply(*client, "error the video node is still there");
            }
        }
        if (before != Wait::None && client->wait == Wait::None) {
            runLines(*client);
        }
    }
}

std::string UsbCamDaemon::videoNode() const {
    return VhciPort::findVideoNode(UvcDescriptors::kVendorId, UvcDescriptors::kProductId,
                                   m_camera.descriptors().serial());
}

bool UsbCamDaemon::plug(const std::string& serial, std::string* error) {
    m_camera.setSerial(serial.empty() ? m_options.serial : serial);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        *error = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    UniqueFd ours(pair[0]);
    UniqueFd kernels(pair[1]);  // the kernel takes its own reference in attach
    m_camera.reset();
    m_usbInput.clear();
    const int port = VhciPort::attach(kernels.get(), m_nextDevid, error);
    if (port < 0) {
        return false;
    }
    ++m_nextDevid;
    m_port = port;
    m_usb = std::move(ours);
    m_usbBroken = false;
    return true;
}

void UsbCamDaemon::unplug() {
    std::string error;
    if (m_port >= 0 && !VhciPort::detach(m_port, &error)) {
        log(error);
    }
    m_usb.reset();
    m_port = -1;
    m_camera.reset();
}

void UsbCamDaemon::sendUsb(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (m_usb.isValid() && !m_usbBroken && done < bytes.size()) {
        const ssize_t n =
            ::send(m_usb.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_usbBroken = true;
            return;
        }
        done += size_t(n);
    }
}

void UsbCamDaemon::readUsb() {
    uint8_t buffer[65536];
    const ssize_t n = ::recv(m_usb.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        m_usbBroken = true;
        return;
    }
    if (n < 0) {
        return;
    }
    m_usbInput.insert(m_usbInput.end(), buffer, buffer + n);
    size_t used = 0;
    while (!m_usbBroken && m_usbInput.size() - used >= UsbIpMessage::kHeaderSize) {
        UsbIpMessage message;
        size_t payload = 0;
        if (!UsbIpMessage::parseHeader(m_usbInput.data() + used, &message, &payload)) {
            log("unknown USB/IP command; dropping the link");
            m_usbBroken = true;
            break;
        }
        if (m_usbInput.size() - used < UsbIpMessage::kHeaderSize + payload) {
            break;
        }
        const uint8_t* data = m_usbInput.data() + used + UsbIpMessage::kHeaderSize;
        message.outData.assign(data, data + payload);
        used += UsbIpMessage::kHeaderSize + payload;
        m_camera.handle(message);
    }
    m_usbInput.erase(m_usbInput.begin(), m_usbInput.begin() + ptrdiff_t(used));
}
