#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The emulated camera's USB descriptors: a high-speed UVC 1.1 device with one configuration
// holding an interface association of a VideoControl interface (camera terminal 1 with
// automatic and absolute exposure, processing unit 2 with the picture controls, output
// terminal 3, a status interrupt endpoint 0x81) and a VideoStreaming interface with a single
// bulk endpoint 0x82 offering YUYV and MJPG at 640x480 and 320x240, 30 and 15 frames per second.
class UvcDescriptors {
public:
    static constexpr uint16_t kVendorId = 0x1209;
    static constexpr uint16_t kProductId = 0x0002;
    static constexpr const char* kManufacturer = "Tavrel test devices";
    static constexpr const char* kProduct = "Tavrel USB Test Camera";

    static constexpr uint8_t kControlInterface = 0;
    static constexpr uint8_t kStreamingInterface = 1;
    static constexpr uint8_t kStatusEndpoint = 0x81;
    static constexpr uint8_t kVideoEndpoint = 0x82;
    static constexpr uint8_t kCameraTerminalId = 1;
    static constexpr uint8_t kProcessingUnitId = 2;
    static constexpr uint8_t kOutputTerminalId = 3;

    static constexpr uint8_t kFormatYuyv = 1;
    static constexpr uint8_t kFormatMjpg = 2;

    // One frame descriptor: format and frame index as the host names them in probe/commit.
    struct Frame {
        uint8_t formatIndex;
        uint8_t frameIndex;
        uint16_t width;
        uint16_t height;
    };
    static const std::vector<Frame>& frames();
    // The frame with these indexes; null when there is none.
    static const Frame* findFrame(uint8_t formatIndex, uint8_t frameIndex);
    // Frame intervals in 100 ns units, the default first.
    static const std::vector<uint32_t>& intervals();
    // The largest frame of this size and format, payload header included.
    static uint32_t maxFrameBytes(const Frame& frame);

    explicit UvcDescriptors(std::string serial);

    const std::vector<uint8_t>& device() const { return m_device; }
    const std::vector<uint8_t>& configuration() const { return m_configuration; }
    // String descriptor by index (0: the language list); empty when there is none.
    std::vector<uint8_t> string(uint8_t index) const;
    const std::string& serial() const { return m_serial; }

private:
    std::string m_serial;
    std::vector<uint8_t> m_device;
    std::vector<uint8_t> m_configuration;
};
