#include "capture/virtual/VirtualFrameEncoder.h"

#include <libyuv/convert_from_argb.h>
#include <turbojpeg.h>

#include <cstring>
#include <iterator>

#include "capture/Camera.h"
#include "capture/virtual/VirtualCameraLog.h"

namespace {
constexpr int kJpegQuality = 85;
// One MCU of 4:2:2 data: 16 x 8 pixels. Restart intervals hold up to kMaxBlockMcus MCUs.
constexpr int kMcuWidth = 16;
constexpr int kMcuHeight = 8;
constexpr int kMaxBlockMcus = 8;
}  // namespace

VirtualFrameEncoder::~VirtualFrameEncoder() {
    if (m_tj != nullptr) {
        tjDestroy(static_cast<tjhandle>(m_tj));
    }
}

bool VirtualFrameEncoder::supports(uint32_t pixelFormat) {
    return pixelFormat == PixelFormat::YUYV || pixelFormat == PixelFormat::MJPG;
}

bool VirtualFrameEncoder::encode(uint32_t pixelFormat, const uint8_t* argb, int width, int height) {
    m_size = 0;
    if (argb == nullptr || width <= 0 || height <= 0) {
        return false;
    }
    if (pixelFormat == PixelFormat::YUYV) {
        const size_t bytes = size_t(width) * 2 * size_t(height);
        if (m_buffer.size() < bytes) {
            m_buffer.resize(bytes);
        }
        if (libyuv::ARGBToYUY2(argb, width * 4, m_buffer.data(), width * 2, width, height) != 0) {
            qCWarning(lcVirtualCamera) << "ARGBToYUY2 failed for" << width << "x" << height;
            return false;
        }
        m_size = bytes;
        return true;
    }
    if (pixelFormat == PixelFormat::MJPG) {
        if (m_tj == nullptr) {
            m_tj = tjInitCompress();
            if (m_tj == nullptr) {
                qCWarning(lcVirtualCamera) << "tjInitCompress failed:" << tjGetErrorStr();
                return false;
            }
        }
        return encodeMjpg(argb, width, height);
    }
    return false;
}

bool VirtualFrameEncoder::encodeWholeJpeg(const uint8_t* argb, int width, int height) {
    const unsigned long capacity = tjBufSize(width, height, TJSAMP_422);
    if (m_buffer.size() < capacity) {
        m_buffer.resize(capacity);
    }
    unsigned char* out = m_buffer.data();
    unsigned long outSize = capacity;
    // TJFLAG_NOREALLOC: TurboJPEG writes into our buffer, sized for the worst case.
    if (tjCompress2(static_cast<tjhandle>(m_tj), argb, width, width * 4, height, TJPF_BGRX, &out,
                    &outSize, TJSAMP_422, kJpegQuality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0) {
        qCWarning(lcVirtualCamera)
            << "tjCompress2 failed:" << tjGetErrorStr2(static_cast<tjhandle>(m_tj));
        return false;
    }
    m_size = outSize;
    return true;
}

size_t VirtualFrameEncoder::encodeBlock(const uint8_t* argb, int stride, int blockWidth) {
    unsigned char* out = m_scratch.data();
    unsigned long outSize = static_cast<unsigned long>(m_scratch.size());
    if (tjCompress2(static_cast<tjhandle>(m_tj), argb, blockWidth, stride, kMcuHeight, TJPF_BGRX,
                    &out, &outSize, TJSAMP_422, kJpegQuality,
                    TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0) {
        qCWarning(lcVirtualCamera)
            << "tjCompress2 failed:" << tjGetErrorStr2(static_cast<tjhandle>(m_tj));
        return 0;
    }
    return outSize;
}

bool VirtualFrameEncoder::prepareBlocks(int width, int height) {
    if (width == m_codedWidth && height == m_codedHeight) {
        return true;
    }
    m_codedWidth = width;
    m_codedHeight = height;
    m_blockWidth = 0;
    m_header.clear();
    if (width % kMcuWidth != 0 || height % kMcuHeight != 0) {
        return true;  // encoded in one piece
    }
    // The largest block of at most kMaxBlockMcus MCUs that divides the row, so that every
    // restart interval is a rectangle of one MCU row.
    const int mcusPerRow = width / kMcuWidth;
    int blockMcus = kMaxBlockMcus;
    while (mcusPerRow % blockMcus != 0) {
        --blockMcus;
    }
    const int blockWidth = blockMcus * kMcuWidth;
    m_blocksPerRow = width / blockWidth;
    const size_t blocks = size_t(m_blocksPerRow) * size_t(height / kMcuHeight);
    m_segments.assign(blocks, {});
    m_lastArgb.assign(size_t(width) * 4 * size_t(height), 0);
    m_scratch.resize(tjBufSize(blockWidth, kMcuHeight, TJSAMP_422));

    // The frame's markers are those of a block with the frame's size and a restart interval:
    // quantisation and Huffman tables depend only on the quality.
    const std::vector<uint8_t> grey(size_t(blockWidth) * 4 * kMcuHeight, 0x80);
    const size_t size = encodeBlock(grey.data(), blockWidth * 4, blockWidth);
    size_t pos = 2;  // after SOI
    while (size >= 4 && pos + 4 <= size && m_scratch[pos] == 0xFF) {
        const uint8_t marker = m_scratch[pos + 1];
        const size_t length = size_t(m_scratch[pos + 2]) << 8 | m_scratch[pos + 3];
        if (pos + 2 + length > size) {
            break;
        }
        if (marker == 0xDA) {  // start of scan: the restart interval goes in before it
            const uint8_t dri[] = {
                0xFF, 0xDD, 0x00, 0x04, uint8_t(blockMcus >> 8), uint8_t(blockMcus)};
            m_header.insert(m_header.end(), m_scratch.begin(), m_scratch.begin() + pos);
            m_header.insert(m_header.end(), std::begin(dri), std::end(dri));
            m_header.insert(m_header.end(), m_scratch.begin() + pos,
                            m_scratch.begin() + pos + 2 + length);
            m_blockWidth = blockWidth;
            return true;
        }
        if (marker == 0xC0 && length >= 7) {  // frame header: the block's size becomes the frame's
            m_scratch[pos + 5] = uint8_t(height >> 8);
            m_scratch[pos + 6] = uint8_t(height);
            m_scratch[pos + 7] = uint8_t(width >> 8);
            m_scratch[pos + 8] = uint8_t(width);
        }
        pos += 2 + length;
    }
    qCWarning(lcVirtualCamera) << "no scan in TurboJPEG's output; encoding whole frames";
    m_header.clear();
    return true;
}

bool VirtualFrameEncoder::encodeMjpg(const uint8_t* argb, int width, int height) {
    if (!prepareBlocks(width, height) || m_blockWidth == 0) {
        return encodeWholeJpeg(argb, width, height);
    }
    const size_t stride = size_t(width) * 4;
    const size_t blockBytes = size_t(m_blockWidth) * 4;
    const int blockRows = height / kMcuHeight;
    for (int r = 0; r < blockRows; ++r) {
        for (int c = 0; c < m_blocksPerRow; ++c) {
            std::vector<uint8_t>& segment =
                m_segments[size_t(r) * size_t(m_blocksPerRow) + size_t(c)];
            const size_t offset = size_t(r) * kMcuHeight * stride + size_t(c) * blockBytes;
            bool changed = segment.empty();
            for (int y = 0; y < kMcuHeight && !changed; ++y) {
                changed =
                    std::memcmp(argb + offset + size_t(y) * stride,
                                m_lastArgb.data() + offset + size_t(y) * stride, blockBytes) != 0;
            }
            if (!changed) {
                continue;
            }
            const size_t size = encodeBlock(argb + offset, int(stride), m_blockWidth);
            // The block's scan data: after its scan header, up to its end-of-image marker.
            size_t pos = 2;
            size_t dataStart = 0;
            while (size >= 4 && pos + 4 <= size && m_scratch[pos] == 0xFF) {
                const size_t length = size_t(m_scratch[pos + 2]) << 8 | m_scratch[pos + 3];
                if (m_scratch[pos + 1] == 0xDA) {
                    dataStart = pos + 2 + length;
                    break;
                }
                pos += 2 + length;
            }
            if (dataStart == 0 || size < dataStart + 2 || m_scratch[size - 2] != 0xFF ||
                m_scratch[size - 1] != 0xD9) {
                segment.clear();  // coded again next frame
                return false;
            }
            segment.assign(m_scratch.begin() + dataStart, m_scratch.begin() + size - 2);
            for (int y = 0; y < kMcuHeight; ++y) {
                std::memcpy(m_lastArgb.data() + offset + size_t(y) * stride,
                            argb + offset + size_t(y) * stride, blockBytes);
            }
        }
    }

    size_t total = m_header.size() + 2;
    for (const auto& segment : m_segments) {
        total += segment.size() + 2;
    }
    if (m_buffer.size() < total) {
        m_buffer.resize(total + total / 4);
    }
    uint8_t* out = m_buffer.data();
    std::memcpy(out, m_header.data(), m_header.size());
    out += m_header.size();
    for (size_t i = 0; i < m_segments.size(); ++i) {
        std::memcpy(out, m_segments[i].data(), m_segments[i].size());
        out += m_segments[i].size();
        if (i + 1 < m_segments.size()) {
            *out++ = 0xFF;
            *out++ = uint8_t(0xD0 + i % 8);  // RST0 .. RST7 in turn
        }
    }
    *out++ = 0xFF;
    *out++ = 0xD9;
    m_size = size_t(out - m_buffer.data());
    return true;
}
