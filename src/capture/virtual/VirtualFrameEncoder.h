#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Turns a rendered ARGB picture into the bytes a USB camera would send for a format: packed
// YUYV (through libyuv) or a real baseline JPEG for MJPG (through TurboJPEG, 4:2:2 like most
// UVC cameras). One encoder per capture thread; it keeps its buffer and TurboJPEG handle.
//
// MJPG frames are coded with a restart marker after every few MCUs, so that each restart
// interval (a block 8 rows high) is coded independently of the others. A block whose pixels
// are the same as in the previous frame keeps its coded bytes from then; only the blocks that
// changed are encoded again. The result is the same file as one encode of the whole frame with
// that restart interval would give, and it decodes to exactly the same pixels as an encode
// without restart markers (tested): the camera still sends real JPEG data, it only avoids
// encoding the unchanged background of the slide 30 times a second. Frame sizes that are not
// whole MCUs (16 x 8) are encoded in one piece.
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
    // Hands the last frame over without copying it: `other` receives the buffer holding it
    // (its first size() bytes; the vector may be longer) and the encoder keeps other's storage
    // for the next frame. data() is not valid afterwards until the next encode().
    void swapBuffer(std::vector<uint8_t>& other) { m_buffer.swap(other); }

private:
    bool encodeMjpg(const uint8_t* argb, int width, int height);
    bool encodeWholeJpeg(const uint8_t* argb, int width, int height);
    // Encodes one block as its own small JPEG into m_scratch; returns its size (0 on failure).
    size_t encodeBlock(const uint8_t* argb, int stride, int blockWidth);
    bool prepareBlocks(int width, int height);

    void* m_tj = nullptr;  // tjhandle for compression, created on the first MJPG frame
    std::vector<uint8_t> m_buffer;
    size_t m_size = 0;

    // MJPG blocks of the current size: the pixels they were coded from, their coded bytes, and
    // the frame's markers up to the start of the scan (restart interval included).
    int m_blockWidth = 0;  // pixels; 0: the size is encoded in one piece
    int m_blocksPerRow = 0;
    int m_codedWidth = 0;
    int m_codedHeight = 0;
    std::vector<uint8_t> m_lastArgb;
    std::vector<std::vector<uint8_t>> m_segments;
    std::vector<uint8_t> m_header;
    std::vector<uint8_t> m_scratch;
};
