#include "EmulatedUvcCamera.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr size_t kProbeSize = 34;  // UVC 1.1 probe and commit structure
constexpr uint8_t kProbeControl = 0x01;
constexpr uint8_t kCommitControl = 0x02;
constexpr uint8_t kPayloadHeaderSize = 2;
constexpr uint8_t kHeaderFid = 0x01;
constexpr uint8_t kHeaderEof = 0x02;
constexpr uint8_t kHeaderEoh = 0x80;

uint32_t le32(const std::vector<uint8_t>& v, size_t at) {
    return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 |
           uint32_t(v[at + 3]) << 24;
}

void putLe(std::vector<uint8_t>& v, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        v[at + i] = uint8_t(value >> (8 * i));
    }
}

}  // namespace

EmulatedUvcCamera::EmulatedUvcCamera(std::string serial, Send send)
    : m_send(std::move(send)), m_descriptors(std::move(serial)) {
    reset();
}

void EmulatedUvcCamera::reset() {
    m_controls.reset();
    m_configuration = 0;
    m_probe = StreamParameters{};
    m_probe.interval = UvcDescriptors::intervals().front();
    m_commit.reset();
    m_videoUrbs.clear();
    m_statusUrbs.clear();
    m_statusPackets.clear();
    m_statusPolled = false;
    stopStream();
}

std::string EmulatedUvcCamera::streamDescription() const {
    if (!m_commit) {
        return {};
    }
    const UvcDescriptors::Frame* f =
        UvcDescriptors::findFrame(m_commit->formatIndex, m_commit->frameIndex);
    return std::string(m_commit->formatIndex == UvcDescriptors::kFormatYuyv ? "YUYV" : "MJPG") +
           " " + std::to_string(f->width) + "x" + std::to_string(f->height) + " " +
           std::to_string((10000000 + m_commit->interval / 2) / m_commit->interval) + "fps";
}

void EmulatedUvcCamera::complete(const Pending& urb, const uint8_t* data, size_t size) {
    m_send(UsbIpMessage::retSubmit(urb.seqnum, 0, data, std::min(size, urb.length), true));
}

void EmulatedUvcCamera::handle(const UsbIpMessage& message) {
    if (message.command == UsbIpMessage::kCmdUnlink) {
        for (auto* queue : {&m_videoUrbs, &m_statusUrbs}) {
            const auto it = std::find_if(queue->begin(), queue->end(), [&](const Pending& p) {
                return p.seqnum == message.unlinkSeqnum;
            });
            if (it != queue->end()) {
                queue->erase(it);
                // The host cancels its status transfer when it stops polling (the node closed).
                m_statusPolled = m_statusPolled && queue != &m_statusUrbs;
                m_send(UsbIpMessage::retUnlink(message.seqnum, -ECONNRESET));
                return;
            }
        }
        m_send(UsbIpMessage::retUnlink(message.seqnum, 0));  // already answered
        return;
    }
    const bool in = message.direction == UsbIpMessage::kDirIn;
    const Pending urb{message.seqnum, size_t(message.transferLength)};
    if (message.endpoint == 0) {
        handleControl(message);
    } else if (in && message.endpoint == (UvcDescriptors::kStatusEndpoint & 0x0f)) {
        m_statusUrbs.push_back(urb);
        m_statusPolled = true;
        flushStatus();
    } else if (in && message.endpoint == (UvcDescriptors::kVideoEndpoint & 0x0f)) {
        m_videoUrbs.push_back(urb);
        serve(Clock::now());
    } else {
        m_send(UsbIpMessage::retSubmit(message.seqnum, -EPIPE, nullptr, 0, in));
    }
}

void EmulatedUvcCamera::handleControl(const UsbIpMessage& message) {
    const auto& s = message.setup;
    const uint8_t type = s[0];
    const uint8_t request = s[1];
    const uint16_t value = uint16_t(s[2] | s[3] << 8);
    const uint16_t index = uint16_t(s[4] | s[5] << 8);
    const uint16_t length = uint16_t(s[6] | s[7] << 8);
    const bool in = type & 0x80;
    std::vector<uint8_t> answer;
    bool ok = false;
    switch (type & 0x60) {
        case 0x00:
            ok = standardRequest(type, request, value, index, &answer);
            break;
        case 0x20:
            ok = classRequest(request, value, index, message.outData, &answer);
            break;
        default:
            break;
    }
    if (!ok) {
        m_send(UsbIpMessage::retSubmit(message.seqnum, -EPIPE, nullptr, 0, in));
    } else if (in) {
        const size_t n = std::min<size_t>({answer.size(), length, size_t(message.transferLength)});
        m_send(UsbIpMessage::retSubmit(message.seqnum, 0, answer.data(), n, true));
    } else {
        m_send(UsbIpMessage::retSubmit(message.seqnum, 0, nullptr, message.outData.size(), false));
    }
}

bool EmulatedUvcCamera::standardRequest(uint8_t type, uint8_t request, uint16_t value,
                                        uint16_t index, std::vector<uint8_t>* answer) {
    const uint8_t recipient = type & 0x1f;
    switch (request) {
        case 0x00:  // GET_STATUS: self-powered and remote wake-up off, no endpoint halted
            *answer = {0, 0};
            return true;
        case 0x01:  // CLEAR_FEATURE
            // uvcvideo ends a bulk stream with ENDPOINT_HALT cleared on the video endpoint.
            if (recipient == 2 && value == 0 && (index & 0xff) == UvcDescriptors::kVideoEndpoint) {
                stopStream();
            }
            return true;
        case 0x03:  // SET_FEATURE
            return true;
        case 0x06: {  // GET_DESCRIPTOR
            switch (value >> 8) {
                case 1:
                    *answer = m_descriptors.device();
                    return true;
                case 2:
                    *answer = m_descriptors.configuration();
                    return (value & 0xff) == 0;
                case 3:
                    *answer = m_descriptors.string(uint8_t(value & 0xff));
                    return !answer->empty();
                default:
                    return false;  // no qualifier, BOS or other descriptors: stall
            }
        }
        case 0x08:  // GET_CONFIGURATION
            *answer = {m_configuration};
            return true;
        case 0x09:  // SET_CONFIGURATION
            if (value > 1) {
                return false;
            }
            m_configuration = uint8_t(value);
            stopStream();
            return true;
        case 0x0a:  // GET_INTERFACE
            *answer = {0};
            return true;
        case 0x0b:  // SET_INTERFACE: every interface has alternate setting 0 only
            if (value != 0 || index > UvcDescriptors::kStreamingInterface) {
                return false;
            }
            if (index == UvcDescriptors::kStreamingInterface) {
                stopStream();
            }
            return true;
        default:
            return false;
    }
}

bool EmulatedUvcCamera::classRequest(uint8_t request, uint16_t value, uint16_t index,
                                     const std::vector<uint8_t>& data,
                                     std::vector<uint8_t>* answer) {
    const uint8_t interface = uint8_t(index & 0xff);
    const uint8_t entity = uint8_t(index >> 8);
    const uint8_t selector = uint8_t(value >> 8);
    if (interface == UvcDescriptors::kControlInterface) {
        return m_controls.request(entity, selector, request, data, answer);
    }
    if (interface == UvcDescriptors::kStreamingInterface && entity == 0) {
        return streamingRequest(request, selector, data, answer);
    }
    return false;
}

EmulatedUvcCamera::StreamParameters EmulatedUvcCamera::negotiate(const std::vector<uint8_t>& data) {
    StreamParameters p;
    const UvcDescriptors::Frame* frame = UvcDescriptors::findFrame(data[2], data[3]);
    if (!frame) {
        frame = UvcDescriptors::findFrame(data[2], 1);
    }
    if (frame) {
        p.formatIndex = frame->formatIndex;
        p.frameIndex = frame->frameIndex;
    }
    // The offered interval nearest to the one asked for; 0 asks for the default.
    const uint32_t asked = le32(data, 4);
    p.interval = UvcDescriptors::intervals().front();
    if (asked != 0) {
        for (uint32_t interval : UvcDescriptors::intervals()) {
            if (std::llabs(int64_t(interval) - asked) < std::llabs(int64_t(p.interval) - asked)) {
                p.interval = interval;
            }
        }
    }
    return p;
}

std::vector<uint8_t> EmulatedUvcCamera::encode(const StreamParameters& p) {
    std::vector<uint8_t> out(kProbeSize, 0);
    const UvcDescriptors::Frame* frame = UvcDescriptors::findFrame(p.formatIndex, p.frameIndex);
    const uint32_t frameBytes = UvcDescriptors::maxFrameBytes(*frame);
    out[2] = p.formatIndex;
    out[3] = p.frameIndex;
    putLe(out, 4, p.interval, 4);
    putLe(out, 18, frameBytes, 4);                       // dwMaxVideoFrameSize
    putLe(out, 22, frameBytes + kPayloadHeaderSize, 4);  // dwMaxPayloadTransferSize: a frame
    putLe(out, 26, 48000000, 4);                         // dwClockFrequency
    out[30] = 0x03;  // bmFramingInfo: frame id and end of frame are used
    out[31] = 1;     // bPreferedVersion..bMaxVersion: payload format version 1
    out[32] = 1;
    out[33] = 1;
    return out;
}

bool EmulatedUvcCamera::streamingRequest(uint8_t request, uint8_t selector,
                                         const std::vector<uint8_t>& data,
                                         std::vector<uint8_t>* answer) {
    if (selector != kProbeControl && selector != kCommitControl) {
        return false;
    }
    const bool probe = selector == kProbeControl;
    switch (request) {
        case UvcControlTable::kSetCur: {
            if (data.size() != kProbeSize && data.size() != 26) {
                return false;
            }
            const StreamParameters p = negotiate(data);
            if (probe) {
                m_probe = p;
            } else {
                m_commit = p;
                m_probe = p;
                m_streaming = true;
                m_payload.clear();
                m_sent = 0;
                m_zlpOwed = false;
                m_nextFrame = Clock::now();
            }
            return true;
        }
        case UvcControlTable::kGetCur:
            *answer = encode(probe || !m_commit ? m_probe : *m_commit);
            return true;
        case UvcControlTable::kGetMin:
        case UvcControlTable::kGetMax: {
            StreamParameters p = m_probe;
            const auto& intervals = UvcDescriptors::intervals();
            p.interval = request == UvcControlTable::kGetMin
                             ? *std::min_element(intervals.begin(), intervals.end())
                             : *std::max_element(intervals.begin(), intervals.end());
            *answer = encode(p);
            return true;
        }
        case UvcControlTable::kGetDef: {
            StreamParameters p;
            p.interval = UvcDescriptors::intervals().front();
            *answer = encode(p);
            return true;
        }
        case UvcControlTable::kGetLen:
            *answer = {uint8_t(kProbeSize), 0};
            return true;
        case UvcControlTable::kGetInfo:
            *answer = {0x03};
            return true;
        default:
            return false;
    }
}

void EmulatedUvcCamera::stopStream() {
    m_streaming = false;
    m_payload.clear();
    m_sent = 0;
    m_zlpOwed = false;
}

void EmulatedUvcCamera::renderFrame() {
    const UvcDescriptors::Frame* frame =
        UvcDescriptors::findFrame(m_commit->formatIndex, m_commit->frameIndex);
    const int brightness = m_controls.value("brightness").value_or(0);
    std::vector<uint8_t> data =
        m_commit->formatIndex == UvcDescriptors::kFormatYuyv
            ? TestPicture::yuyv(frame->width, frame->height, m_frameNumber, brightness)
            : m_picture.jpeg(frame->width, frame->height, m_frameNumber, brightness);
    ++m_frameNumber;
    m_fid ^= kHeaderFid;
    m_payload.assign({kPayloadHeaderSize, uint8_t(kHeaderEoh | kHeaderEof | m_fid)});
    m_payload.insert(m_payload.end(), data.begin(), data.end());
    m_sent = 0;
}

EmulatedUvcCamera::Clock::time_point EmulatedUvcCamera::serve(Clock::time_point now) {
    if (!m_streaming || !m_commit) {
        return Clock::time_point::max();
    }
    const auto interval = std::chrono::microseconds(m_commit->interval / 10);
    while (!m_videoUrbs.empty()) {
        if (m_zlpOwed) {
            m_zlpOwed = false;
            complete(m_videoUrbs.front(), nullptr, 0);
            m_videoUrbs.pop_front();
            continue;
        }
        if (m_sent >= m_payload.size()) {
            if (now < m_nextFrame) {
                break;
            }
            renderFrame();
            // Keep the pace, but never make up for frames the host did not ask for in time.
            m_nextFrame = std::max(m_nextFrame + interval, now);
        }
        const Pending urb = m_videoUrbs.front();
        m_videoUrbs.pop_front();
        const size_t n = std::min(urb.length, m_payload.size() - m_sent);
        complete(urb, m_payload.data() + m_sent, n);
        m_sent += n;
        if (m_sent == m_payload.size()) {
            ++m_framesServed;
            m_zlpOwed = n == urb.length;
        }
    }
    // With a frame in flight, or nothing to put one in, the next bulk transfer wakes it.
    if (m_videoUrbs.empty() || m_sent < m_payload.size()) {
        return Clock::time_point::max();
    }
    return m_nextFrame;
}

bool EmulatedUvcCamera::press() {
    if (!m_statusPolled) {
        return false;
    }
    // VideoStreaming interface status: button event, pressed then released.
    m_statusPackets.push_back({0x02, UvcDescriptors::kStreamingInterface, 0x00, 0x01});
    m_statusPackets.push_back({0x02, UvcDescriptors::kStreamingInterface, 0x00, 0x00});
    flushStatus();
    return true;
}

void EmulatedUvcCamera::flushStatus() {
    while (!m_statusUrbs.empty() && !m_statusPackets.empty()) {
        complete(m_statusUrbs.front(), m_statusPackets.front().data(), 4);
        m_statusUrbs.pop_front();
        m_statusPackets.pop_front();
    }
}
