#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Turns one camera buffer into the frame store's layout: 24-bit BGR, rows bottom-up, rows of
// width*3 bytes. One decoder per capture thread; it keeps its output buffer (and the TurboJPEG
// handle) from frame to frame, so decoding allocates only when the frame size changes.
//
// MJPG frames are shown when their data is complete even if libjpeg warns about them (many
// webcams put stray bytes before a marker in every frame); a frame is rejected when it cannot
// be decoded or does not end with its end-of-image marker, which is how a frame cut short
// shows.
class FrameDecoder {
public:
    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    static bool supports(uint32_t pixelFormat);
    // The place of an uncompressed format among those this decoder reads, 0 for the best
    // picture; -1 for MJPG and for formats it cannot decode. Of the uncompressed formats a
    // camera offers at one size, the one with the lowest rank is used.
    static int uncompressedRank(uint32_t pixelFormat);

    // Decodes a frame of pixelFormat at width x height. bytesPerLine is the source row stride of
    // uncompressed formats (0 = packed). Returns false for a corrupt, truncated or unsupported
    // frame; the output then keeps its previous content and must not be delivered, and
    // failure() says why.
    bool decode(uint32_t pixelFormat, int width, int height, const uint8_t* data, size_t size,
                size_t bytesPerLine = 0);

    const uint8_t* pixels() const { return m_bgr.data(); }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Why the last decode() returned false, for the log.
    const std::string& failure() const { return m_failure; }

private:
    bool decodeMjpg(int width, int height, const uint8_t* data, size_t size);
    bool fail(std::string reason);

    void* m_tj = nullptr;  // tjhandle, created on first MJPG frame
    std::vector<uint8_t> m_bgr;
    std::vector<uint8_t> m_scratch;
    int m_width = 0;
    int m_height = 0;
    std::string m_failure;
};
