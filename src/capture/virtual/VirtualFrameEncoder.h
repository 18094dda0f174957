#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Turns a rendered ARGB picture into the bytes a USB camera would send for a format: packed
// YUYV (through libyuv) or a real baseline JPEG for MJPG (through TurboJPEG, 4:2:2 like most
// UVC cameras). One encoder per capture thread; it keeps its buffer and TurboJPEG handle.
class VirtualFrameEncoder {
public:
    VirtualFrameEncoder() = default;
    ~VirtualFrameEncoder();
    VirtualFrameEncoder(const VirtualFrameEncoder&) = delete;
    VirtualFrameEncoder& operator=(const VirtualFrameEncoder&) = delete;

    static bool supports(uint32_t pixelFormat);

    // argb: B, G, R, A bytes per pixel, rows top-down with stride width * 4. False for an
    // unsupported format or an encoder failure (logged).
    bool encode(uint32_t pixelFormat, const uint8_t* argb, int width, int height);

    const uint8_t* data() const { return m_buffer.data(); }
    size_t size() const { return m_size; }

private:
    void* m_tj = nullptr;  // tjhandle for compression, created on the first MJPG frame
    std::vector<uint8_t> m_buffer;
    size_t m_size = 0;
};
