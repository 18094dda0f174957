#include "UvcDescriptors.h"

#include <initializer_list>

namespace {

constexpr uint8_t kStringManufacturer = 1;
constexpr uint8_t kStringProduct = 2;
constexpr uint8_t kStringSerial = 3;

constexpr uint8_t kCsInterface = 0x24;
constexpr uint8_t kCsEndpoint = 0x25;

// Appends little-endian values of a descriptor field by field.
class Bytes {
public:
    explicit Bytes(std::vector<uint8_t>& out) : m_out(out) {}
    Bytes& u8(unsigned v) {
        m_out.push_back(uint8_t(v));
        return *this;
    }
    Bytes& u16(unsigned v) { return u8(v & 0xff).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v & 0xffff).u16(v >> 16); }
    Bytes& raw(std::initializer_list<uint8_t> bytes) {
        m_out.insert(m_out.end(), bytes);
        return *this;
    }

private:
    std::vector<uint8_t>& m_out;
};

void putLe16(std::vector<uint8_t>& v, size_t at, size_t value) {
    v[at] = uint8_t(value & 0xff);
    v[at + 1] = uint8_t(value >> 8);
}

}  // namespace

const std::vector<UvcDescriptors::Frame>& UvcDescriptors::frames() {
    static const std::vector<Frame> kFrames = {
        {kFormatYuyv, 1, 640, 480},
        {kFormatYuyv, 2, 320, 240},
        {kFormatMjpg, 1, 640, 480},
        {kFormatMjpg, 2, 320, 240},
    };
    return kFrames;
}

const UvcDescriptors::Frame* UvcDescriptors::findFrame(uint8_t formatIndex, uint8_t frameIndex) {
    for (const Frame& f : frames()) {
        if (f.formatIndex == formatIndex && f.frameIndex == frameIndex) {
            return &f;
        }
    }
    return nullptr;
}

const std::vector<uint32_t>& UvcDescriptors::intervals() {
    static const std::vector<uint32_t> kIntervals = {333333, 666666};
    return kIntervals;
}

uint32_t UvcDescriptors::maxFrameBytes(const Frame& frame) {
    // Both formats: two bytes a pixel at most (a JPEG of these pictures is far smaller).
    return uint32_t(frame.width) * frame.height * 2;
}

UvcDescriptors::UvcDescriptors(std::string serial) : m_serial(std::move(serial)) {
    Bytes(m_device)
        .u8(18)
        .u8(1)        // DEVICE
        .u16(0x0200)  // USB 2.0
        .u8(0xef)     // miscellaneous class with an interface association
        .u8(0x02)
        .u8(0x01)
        .u8(64)
        .u16(kVendorId)
        .u16(kProductId)
        .u16(0x0100)
        .u8(kStringManufacturer)
        .u8(kStringProduct)
        .u8(kStringSerial)
        .u8(1);

    std::vector<uint8_t>& c = m_configuration;
    Bytes b(c);
    b.u8(9).u8(2).u16(0).u8(2).u8(1).u8(0).u8(0x80).u8(250);  // bus powered, 500 mA
    // Interface association: the two video interfaces are one function.
    b.u8(8).u8(11).u8(kControlInterface).u8(2).u8(0x0e).u8(0x03).u8(0).u8(kStringProduct);

    // VideoControl interface with the status endpoint.
    b.u8(9).u8(4).u8(kControlInterface).u8(0).u8(1).u8(0x0e).u8(0x01).u8(0).u8(kStringProduct);
    const size_t vcHeader = c.size();
    b.u8(13)
        .u8(kCsInterface)
        .u8(0x01)
        .u16(0x0110)
        .u16(0)
        .u32(48000000)
        .u8(1)
        .u8(kStreamingInterface);
    // Camera terminal: auto-exposure mode (D1) and exposure time, absolute (D3).
    b.u8(18).u8(kCsInterface).u8(0x02).u8(kCameraTerminalId).u16(0x0201).u8(0).u8(0);
    b.u16(0).u16(0).u16(0).u8(3).raw({0x0a, 0x00, 0x00});
    // Processing unit: brightness, contrast, hue, saturation, sharpness, gamma, white balance
    // temperature (D0..D6), gain (D9), power line frequency (D10), white balance temperature
    // auto (D12).
    b.u8(12).u8(kCsInterface).u8(0x05).u8(kProcessingUnitId).u8(kCameraTerminalId).u16(0);
    b.u8(2).raw({0x7f, 0x16}).u8(0).u8(0);
    // Output terminal: USB streaming, fed by the processing unit.
    b.u8(9).u8(kCsInterface).u8(0x03).u8(kOutputTerminalId).u16(0x0101).u8(0).u8(kProcessingUnitId);
    b.u8(0);
    putLe16(c, vcHeader + 5, c.size() - vcHeader);
    // Status interrupt endpoint, 16 bytes every 16 ms.
    b.u8(7).u8(5).u8(kStatusEndpoint).u8(0x03).u16(16).u8(8);
    b.u8(5).u8(kCsEndpoint).u8(0x03).u16(16);

    // VideoStreaming interface: one alternate setting with the bulk endpoint.
    b.u8(9).u8(4).u8(kStreamingInterface).u8(0).u8(1).u8(0x0e).u8(0x02).u8(0).u8(0);
    const size_t vsHeader = c.size();
    // Input header: two formats; the still-image button is a hardware trigger (general purpose
    // button event).
    b.u8(15).u8(kCsInterface).u8(0x01).u8(2).u16(0).u8(kVideoEndpoint).u8(0).u8(kOutputTerminalId);
    b.u8(0).u8(1).u8(1).u8(1).u8(0).u8(0);
    const auto framesOf = [&](uint8_t format, uint8_t subtype) {
        for (const Frame& f : frames()) {
            if (f.formatIndex != format) {
                continue;
            }
            const uint32_t bytes = maxFrameBytes(f);
            const uint32_t rate = bytes * 8 * 30;
            b.u8(uint8_t(26 + 4 * intervals().size())).u8(kCsInterface).u8(subtype);
            b.u8(f.frameIndex).u8(0).u16(f.width).u16(f.height);
            b.u32(rate / 2).u32(rate).u32(bytes).u32(intervals().front());
            b.u8(uint8_t(intervals().size()));
            for (uint32_t interval : intervals()) {
                b.u32(interval);
            }
        }
        // Colour matching: BT.709 primaries and transfer, BT.601 matrix.
        b.u8(6).u8(kCsInterface).u8(0x0d).u8(1).u8(1).u8(4);
    };
    // Uncompressed YUY2.
    b.u8(27).u8(kCsInterface).u8(0x04).u8(kFormatYuyv).u8(2);
    b.raw({'Y', 'U', 'Y', '2', 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b,
           0x71});
    b.u8(16).u8(1).u8(0).u8(0).u8(0).u8(0);
    framesOf(kFormatYuyv, 0x05);
    // Motion JPEG, fixed-size samples.
    b.u8(11).u8(kCsInterface).u8(0x06).u8(kFormatMjpg).u8(2).u8(1).u8(1).u8(0).u8(0).u8(0).u8(0);
    framesOf(kFormatMjpg, 0x07);
    putLe16(c, vsHeader + 4, c.size() - vsHeader);
    b.u8(7).u8(5).u8(kVideoEndpoint).u8(0x02).u16(512).u8(0);

    putLe16(c, 2, c.size());
}

std::vector<uint8_t> UvcDescriptors::string(uint8_t index) const {
    std::string text;
    switch (index) {
        case 0:
            return {4, 3, 0x09, 0x04};  // English (United States)
        case kStringManufacturer:
            text = kManufacturer;
            break;
        case kStringProduct:
            text = kProduct;
            break;
        case kStringSerial:
            text = m_serial;
            break;
        default:
            return {};
    }
    std::vector<uint8_t> out = {uint8_t(2 + 2 * text.size()), 3};
    for (char ch : text) {
        out.push_back(uint8_t(ch));
        out.push_back(0);
    }
    return out;
}
