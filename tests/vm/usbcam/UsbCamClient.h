#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/UniqueFd.h"

// Talks to the USB camera emulator over its control socket: one line out, one line back.
// Commands: plug [serial], unplug, press, get <control>, frames, status (see UsbCamDaemon.h).
// Replies start with "ok" or "error". Header-only so that test binaries need no library.
class UsbCamClient {
public:
    using Ms = std::chrono::milliseconds;

    explicit UsbCamClient(std::string socketPath) : m_path(std::move(socketPath)) {}

    // Connects, trying again until the daemon listens or timeout has passed.
    bool connect(Ms timeout = Ms(5000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (m_path.size() >= sizeof address.sun_path) {
            return false;
        }
        std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
        for (;;) {
            m_fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (m_fd.isValid() &&
                ::connect(m_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                return true;
            }
            m_fd.reset();
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(Ms(50));
        }
    }

    // Sends one command and returns its reply line (without the newline); a reply of
    // "error client: ..." when the daemon cannot be reached or does not answer in time.
    std::string command(const std::string& line, Ms timeout = Ms(30000)) {
        if (!m_fd.isValid() && !connect()) {
            return "error client: cannot connect to " + m_path;
        }
        const std::string out = line + "\n";
        if (::send(m_fd.get(), out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size())) {
            m_fd.reset();
            return "error client: cannot send to " + m_path;
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const size_t end = m_pending.find('\n');
            if (end != std::string::npos) {
                std::string reply = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                return reply;
            }
            const auto left =
                std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
            pollfd p{m_fd.get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) {
                m_fd.reset();  // a late reply must not be taken for the next command's
                m_pending.clear();
                return "error client: no reply to '" + line + "'";
            }
            char buffer[256];
            const ssize_t n = ::recv(m_fd.get(), buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_fd.reset();
                m_pending.clear();
                return "error client: the emulator closed the connection";
            }
            m_pending.append(buffer, size_t(n));
        }
    }

    static bool isOk(const std::string& reply) { return reply.rfind("ok", 0) == 0; }
    // The text after "ok " (empty for a bare "ok").
    static std::string value(const std::string& reply) {
        return reply.size() > 3 ? reply.substr(3) : std::string();
    }

private:
    std::string m_path;
    UniqueFd m_fd;
    std::string m_pending;
};
