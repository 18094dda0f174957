#include "capture/FrameDecoder.h"

#include <libyuv.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

#include "capture/Camera.h"

namespace {

// Frames larger than this on either side are rejected before any size arithmetic, so that a
// bogus header can never overflow the buffer-size computations below.
constexpr int kMaxDimension = 16384;

// YUYV is converted through a small ARGB band that stays in the cache: converting a whole
// 1080p frame to ARGB first and then to BGR costs about 40% more because the 8 MB
// intermediate goes through main memory twice.
constexpr int kBandRows = 2;

bool validSize(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension;
}

// Bytes a plane of `rows` rows needs when its rows are `stride` apart and each holds
// `rowBytes` bytes: the last row need not be padded.
size_t planeSpan(size_t stride, size_t rowBytes, int rows) {
    return stride * size_t(rows - 1) + rowBytes;
}

}  // namespace

FrameDecoder::FrameDecoder() = default;

FrameDecoder::~FrameDecoder() {
    if (m_tj) {
        tjDestroy(static_cast<tjhandle>(m_tj));
    }
}

bool FrameDecoder::supports(uint32_t pixelFormat) {
    switch (pixelFormat) {
        case PixelFormat::YUYV:
        case PixelFormat::MJPG:
        case PixelFormat::NV12:
        case PixelFormat::YU12:
        case PixelFormat::RGB3:
        case PixelFormat::BGR3:
            return true;
        default:
            return false;
    }
}

bool FrameDecoder::decode(uint32_t pixelFormat, int width, int height, const uint8_t* data,
                          size_t size, size_t bytesPerLine) {
    if (!data || !validSize(width, height)) {
        return false;
    }
    const size_t w = size_t(width);
    const size_t outStride = w * 3;
    const size_t outSize = outStride * size_t(height);

    if (pixelFormat == PixelFormat::MJPG) {
        if (!m_tj) {
            m_tj = tjInitDecompress();
            if (!m_tj) {
                return false;
            }
        }
        tjhandle tj = static_cast<tjhandle>(m_tj);
        int jpegWidth = 0;
        int jpegHeight = 0;
        int subsampling = 0;
        int colorspace = 0;
        if (tjDecompressHeader3(tj, data, static_cast<unsigned long>(size), &jpegWidth, &jpegHeight,
                                &subsampling, &colorspace) != 0) {
            return false;
        }
        if (jpegWidth != width || jpegHeight != height) {
            return false;
        }
        // Decode into the spare buffer so that a frame that fails half-way leaves the last good
        // picture untouched; the buffers then trade places, which costs nothing.
        // FASTDCT saves about 8% at 1080p with no visible loss. FASTUPSAMPLE would save another
        // 10% but replicates chroma, which shows as colour steps on sharp edges under a
        // microscope, and decoding stays well inside the frame budget without it.
        // STOPONWARNING: a truncated or damaged frame ends at the first warning instead of
        // decoding grey garbage we would throw away anyway.
        m_scratch.resize(outSize);
        const int flags = TJFLAG_BOTTOMUP | TJFLAG_FASTDCT | TJFLAG_STOPONWARNING;
        if (tjDecompress2(tj, data, static_cast<unsigned long>(size), m_scratch.data(), width,
                          int(outStride), height, TJPF_BGR, flags) != 0) {
            // Warnings (TJERR_WARNING) on truncated data count as corrupt as well.
            return false;
        }
        m_bgr.swap(m_scratch);
        m_width = width;
        m_height = height;
        return true;
    }

    // Uncompressed formats: check the whole frame fits in the buffer before writing anything.
    const uint8_t* src = data;
    switch (pixelFormat) {
        case PixelFormat::YUYV: {
            const size_t rowBytes = ((w + 1) / 2) * 4;
            const size_t stride = bytesPerLine ? bytesPerLine : rowBytes;
            if (stride < rowBytes || size < planeSpan(stride, rowBytes, height)) {
                return false;
            }
            m_bgr.resize(outSize);
            m_scratch.resize(w * 4 * kBandRows);
            for (int y = 0; y < height; y += kBandRows) {
                const int rows = std::min(kBandRows, height - y);
                libyuv::YUY2ToARGB(src + size_t(y) * stride, int(stride), m_scratch.data(),
                                   width * 4, width, rows);
                // Source row y becomes output row height-1-y: write the band upwards.
                libyuv::ARGBToRGB24(m_scratch.data(), width * 4,
                                    m_bgr.data() + size_t(height - 1 - y) * outStride,
                                    -int(outStride), width, rows);
            }
            break;
        }
        case PixelFormat::NV12: {
            const size_t stride = bytesPerLine ? bytesPerLine : w;
            const size_t uvRowBytes = ((w + 1) / 2) * 2;
            const int uvRows = (height + 1) / 2;
            if (stride < uvRowBytes ||
                size < stride * size_t(height) + planeSpan(stride, uvRowBytes, uvRows)) {
                return false;
            }
            m_bgr.resize(outSize);
            // A negative height makes libyuv write the rows bottom-up.
            libyuv::NV12ToRGB24(src, int(stride), src + stride * size_t(height), int(stride),
                                m_bgr.data(), int(outStride), width, -height);
            break;
        }
        case PixelFormat::YU12: {
            const size_t stride = bytesPerLine ? bytesPerLine : w;
            const size_t chromaStride = (stride + 1) / 2;
            const size_t chromaRowBytes = (w + 1) / 2;
            const int chromaRows = (height + 1) / 2;
            const size_t ySize = stride * size_t(height);
            const size_t chromaSize = chromaStride * size_t(chromaRows);
            if (stride < w ||
                size < ySize + chromaSize + planeSpan(chromaStride, chromaRowBytes, chromaRows)) {
                return false;
            }
            m_bgr.resize(outSize);
            libyuv::I420ToRGB24(src, int(stride), src + ySize, int(chromaStride),
                                src + ySize + chromaSize, int(chromaStride), m_bgr.data(),
                                int(outStride), width, -height);
            break;
        }
        case PixelFormat::RGB3:
        case PixelFormat::BGR3: {
            const size_t stride = bytesPerLine ? bytesPerLine : outStride;
            if (stride < outStride || size < planeSpan(stride, outStride, height)) {
                return false;
            }
            m_bgr.resize(outSize);
            // libyuv's "RAW" is R,G,B in memory (V4L2 RGB3) and its "RGB24" is B,G,R (BGR3).
            if (pixelFormat == PixelFormat::RGB3) {
                libyuv::RAWToRGB24(src, int(stride), m_bgr.data(), int(outStride), width, -height);
            } else {
                libyuv::CopyPlane(src, int(stride), m_bgr.data(), int(outStride), int(outStride),
                                  -height);
            }
            break;
        }
        default:
            return false;
    }
    m_width = width;
    m_height = height;
    return true;
}
