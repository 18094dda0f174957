#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// One message of the USB/IP link between the guest kernel's virtual host controller (vhci_hcd)
// and the emulated camera. Every message starts with a 48-byte header in network byte order;
// a submitted OUT transfer carries its data after the header, a returned IN transfer its
// answer. Only what a high-speed device without isochronous endpoints needs is kept.
struct UsbIpMessage {
    static constexpr size_t kHeaderSize = 48;

    static constexpr uint32_t kCmdSubmit = 1;
    static constexpr uint32_t kCmdUnlink = 2;
    static constexpr uint32_t kRetSubmit = 3;
    static constexpr uint32_t kRetUnlink = 4;

    static constexpr uint32_t kDirOut = 0;
    static constexpr uint32_t kDirIn = 1;

    uint32_t command = 0;
    uint32_t seqnum = 0;
    uint32_t devid = 0;
    uint32_t direction = kDirOut;
    uint32_t endpoint = 0;  // endpoint number, without the direction bit

    // kCmdSubmit
    int32_t transferLength = 0;
    std::array<uint8_t, 8> setup{};  // the control request of endpoint 0
    std::vector<uint8_t> outData;    // transferLength bytes of an OUT transfer

    // kCmdUnlink: the submission to cancel.
    uint32_t unlinkSeqnum = 0;

    // Decodes a header; returns false for a command this device does not know. *payload is the
    // number of data bytes that follow it on the link.
    static bool parseHeader(const uint8_t* bytes, UsbIpMessage* message, size_t* payload);

    // The answer to a submission: status is 0 or a negative errno (-EPIPE stalls the endpoint);
    // data is sent only for IN transfers, and its size is the actual length.
    static std::vector<uint8_t> retSubmit(uint32_t seqnum, int32_t status, const uint8_t* data,
                                          size_t size, bool in);
    // The answer to an unlink: -ECONNRESET when the submission was still pending and is now
    // cancelled, 0 when it had already been answered.
    static std::vector<uint8_t> retUnlink(uint32_t seqnum, int32_t status);
};
