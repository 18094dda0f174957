#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Turns one camera buffer into the frame store's layout: 24-bit BGR, rows bottom-up, rows of
// width*3 bytes. One decoder per capture thread; it keeps its output buffer (and the TurboJPEG
// handle) from frame to frame, so decoding allocates only when the frame size changes.
class FrameDecoder {
public:
    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    static bool supports(uint32_t pixelFormat);

    // Decodes a frame of pixelFormat at width x height. bytesPerLine is the source row stride of
    // uncompressed formats (0 = packed). Returns false for a corrupt, truncated or unsupported
    // frame; the output then keeps its previous content and must not be delivered.
    bool decode(uint32_t pixelFormat, int width, int height, const uint8_t* data, size_t size,
                size_t bytesPerLine = 0);

    const uint8_t* pixels() const { return m_bgr.data(); }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    void* m_tj = nullptr;  // tjhandle, created on first MJPG frame
    std::vector<uint8_t> m_bgr;
    std::vector<uint8_t> m_scratch;
    int m_width = 0;
    int m_height = 0;
};
