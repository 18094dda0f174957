#include "UsbIpMessage.h"

#include <algorithm>

namespace {

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void putBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// The header of an answer, with room for `payload` data bytes after it (zero-filled): the answer
// is sized once, so its data is copied into place rather than appended.
std::vector<uint8_t> header(uint32_t command, uint32_t seqnum, int32_t status,
                            size_t payload = 0) {
    std::vector<uint8_t> out(UsbIpMessage::kHeaderSize + payload, 0);
    putBe32(&out[0], command);
    putBe32(&out[4], seqnum);
    // devid, direction and endpoint stay zero in answers: the host matches them by seqnum.
    putBe32(&out[20], uint32_t(status));
    return out;
}

}  // namespace

bool UsbIpMessage::parseHeader(const uint8_t* bytes, UsbIpMessage* message, size_t* payload) {
    UsbIpMessage m;
    m.command = be32(bytes);
    m.seqnum = be32(bytes + 4);
    m.devid = be32(bytes + 8);
    m.direction = be32(bytes + 12);
    m.endpoint = be32(bytes + 16);
    *payload = 0;
    if (m.command == kCmdSubmit) {
        m.transferLength = int32_t(be32(bytes + 24));
        const int32_t packets = int32_t(be32(bytes + 32));
        // Isochronous transfers would carry packet descriptors; this device has none.
        if (m.transferLength < 0 || (packets > 0 && packets != -1)) {
            return false;
        }
        for (size_t i = 0; i < m.setup.size(); ++i) {
            m.setup[i] = bytes[40 + i];
        }
        if (m.direction == kDirOut) {
            *payload = size_t(m.transferLength);
        }
    } else if (m.command == kCmdUnlink) {
        m.unlinkSeqnum = be32(bytes + 20);
    } else {
        return false;
    }
    *message = std::move(m);
    return true;
}

std::vector<uint8_t> UsbIpMessage::retSubmit(uint32_t seqnum, int32_t status, const uint8_t* data,
                                             size_t size, bool in) {
    const bool withData = in && size > 0 && data != nullptr;
    std::vector<uint8_t> out = header(kRetSubmit, seqnum, status, withData ? size : 0);
    putBe32(&out[24], uint32_t(size));  // actual_length
    if (withData) {
        std::copy(data, data + size, out.begin() + kHeaderSize);
    }
    return out;
}

std::vector<uint8_t> UsbIpMessage::retUnlink(uint32_t seqnum, int32_t status) {
    return header(kRetUnlink, seqnum, status);
}
