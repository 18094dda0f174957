#include "capture/FrameDecoder.h"

#include <libyuv.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "capture/Camera.h"

namespace {

// Frames larger than this on either side are rejected before any size arithmetic, so that a
// bogus header can never overflow the buffer-size computations below.
constexpr int kMaxDimension = 16384;

// Packed formats are converted through a small ARGB band that stays in the cache: converting a
// whole 1080p frame to ARGB first and then to BGR costs about 40% more because the 8 MB
// intermediate goes through main memory twice.
constexpr int kBandRows = 2;

// The uncompressed formats, best picture first: full-resolution colour before subsampled
// colour, the formats most cameras send before the rarer ones, monochrome last.
constexpr uint32_t kUncompressedByRank[] = {
    PixelFormat::YUYV, PixelFormat::NV12, PixelFormat::YU12, PixelFormat::BGR3, PixelFormat::RGB3,
    PixelFormat::UYVY, PixelFormat::NV21, PixelFormat::YV12, PixelFormat::RGBP, PixelFormat::GREY,
};

// libyuv's converters of one packed format to ARGB share this signature: source, its stride,
// destination, its stride, width, height.
using ToArgbFn = int (*)(const uint8_t*, int, uint8_t*, int, int, int);

bool validSize(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension;
}

// Bytes a plane of `rows` rows needs when its rows are `stride` apart and each holds
// `rowBytes` bytes: the last row need not be padded.
size_t planeSpan(size_t stride, size_t rowBytes, int rows) {
    return stride * size_t(rows - 1) + rowBytes;
}

// Whether a JPEG frame ends with its end-of-image marker (FF D9) once the padding some cameras
// put after it is skipped: zero bytes and 0xFF fill. A frame the camera or the USB transfer cut
// short ends in entropy-coded data instead, where FF D9 cannot occur.
bool endsWithEndOfImage(const uint8_t* data, size_t size) {
    while (size > 0 && (data[size - 1] == 0x00 || data[size - 1] == 0xFF)) {
        --size;
    }
    return size >= 2 && data[size - 2] == 0xFF && data[size - 1] == 0xD9;
}

}  // namespace

FrameDecoder::FrameDecoder() = default;

FrameDecoder::~FrameDecoder() {
    if (m_tj) {
        tjDestroy(static_cast<tjhandle>(m_tj));
    }
}

int FrameDecoder::uncompressedRank(uint32_t pixelFormat) {
    const auto* found =
        std::find(std::begin(kUncompressedByRank), std::end(kUncompressedByRank), pixelFormat);
    return found == std::end(kUncompressedByRank)
               ? -1
               : int(std::distance(std::begin(kUncompressedByRank), found));
}

bool FrameDecoder::supports(uint32_t pixelFormat) {
    return pixelFormat == PixelFormat::MJPG || uncompressedRank(pixelFormat) >= 0;
}

bool FrameDecoder::fail(std::string reason) {
    m_failure = std::move(reason);
    return false;
}

bool FrameDecoder::decode(uint32_t pixelFormat, int width, int height, const uint8_t* data,
                          size_t size, size_t bytesPerLine) {
    if (!data || !validSize(width, height)) {
        return fail("no data or an impossible frame size");
    }
    if (pixelFormat == PixelFormat::MJPG) {
        return decodeMjpg(width, height, data, size);
    }

    // Uncompressed formats: check the whole frame fits in the buffer before writing anything.
    const size_t w = size_t(width);
    const size_t outStride = w * 3;
    const size_t outSize = outStride * size_t(height);
    const uint8_t* src = data;
    switch (pixelFormat) {
        case PixelFormat::YUYV:
        case PixelFormat::UYVY:
        case PixelFormat::RGBP:
        case PixelFormat::GREY: {
            ToArgbFn toArgb = nullptr;
            size_t rowBytes = 0;
            if (pixelFormat == PixelFormat::YUYV || pixelFormat == PixelFormat::UYVY) {
                toArgb = pixelFormat == PixelFormat::YUYV ? libyuv::YUY2ToARGB : libyuv::UYVYToARGB;
                rowBytes = ((w + 1) / 2) * 4;
            } else if (pixelFormat == PixelFormat::RGBP) {
                // V4L2's RGB565 is a little-endian word with blue in the low bits, as libyuv's.
                toArgb = libyuv::RGB565ToARGB;
                rowBytes = w * 2;
            } else {
                // Monochrome cameras send the full range 0..255: shown as it is (J400), not
                // stretched as video luma would be, which would clip the darkest and
                // brightest detail.
                toArgb = libyuv::J400ToARGB;
                rowBytes = w;
            }
            const size_t stride = bytesPerLine ? bytesPerLine : rowBytes;
            if (stride < rowBytes || size < planeSpan(stride, rowBytes, height)) {
                return fail("buffer shorter than the frame");
            }
            m_bgr.resize(outSize);
            m_scratch.resize(w * 4 * kBandRows);
            for (int y = 0; y < height; y += kBandRows) {
                const int rows = std::min(kBandRows, height - y);
                toArgb(src + size_t(y) * stride, int(stride), m_scratch.data(), width * 4, width,
                       rows);
                // Source row y becomes output row height-1-y: write the band upwards.
                libyuv::ARGBToRGB24(m_scratch.data(), width * 4,
                                    m_bgr.data() + size_t(height - 1 - y) * outStride,
                                    -int(outStride), width, rows);
            }
            break;
        }
        case PixelFormat::NV12:
        case PixelFormat::NV21: {
            const size_t stride = bytesPerLine ? bytesPerLine : w;
            const size_t uvRowBytes = ((w + 1) / 2) * 2;
            const int uvRows = (height + 1) / 2;
            if (stride < uvRowBytes ||
                size < stride * size_t(height) + planeSpan(stride, uvRowBytes, uvRows)) {
                return fail("buffer shorter than the frame");
            }
            m_bgr.resize(outSize);
            // A negative height makes libyuv write the rows bottom-up.
            const auto convert =
                pixelFormat == PixelFormat::NV12 ? libyuv::NV12ToRGB24 : libyuv::NV21ToRGB24;
            convert(src, int(stride), src + stride * size_t(height), int(stride), m_bgr.data(),
                    int(outStride), width, -height);
            break;
        }
        case PixelFormat::YU12:
        case PixelFormat::YV12: {
            const size_t stride = bytesPerLine ? bytesPerLine : w;
            const size_t chromaStride = (stride + 1) / 2;
            const size_t chromaRowBytes = (w + 1) / 2;
            const int chromaRows = (height + 1) / 2;
            const size_t ySize = stride * size_t(height);
            const size_t chromaSize = chromaStride * size_t(chromaRows);
            if (stride < w ||
                size < ySize + chromaSize + planeSpan(chromaStride, chromaRowBytes, chromaRows)) {
                return fail("buffer shorter than the frame");
            }
            m_bgr.resize(outSize);
            // YU12 sends the U plane first, YV12 the V plane.
            const uint8_t* first = src + ySize;
            const uint8_t* second = first + chromaSize;
            const bool uFirst = pixelFormat == PixelFormat::YU12;
            libyuv::I420ToRGB24(src, int(stride), uFirst ? first : second, int(chromaStride),
                                uFirst ? second : first, int(chromaStride), m_bgr.data(),
                                int(outStride), width, -height);
            break;
        }
        case PixelFormat::RGB3:
        case PixelFormat::BGR3: {
            const size_t stride = bytesPerLine ? bytesPerLine : outStride;
            if (stride < outStride || size < planeSpan(stride, outStride, height)) {
                return fail("buffer shorter than the frame");
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
            return fail("pixel format not supported");
    }
    m_width = width;
    m_height = height;
    return true;
}

bool FrameDecoder::decodeMjpg(int width, int height, const uint8_t* data, size_t size) {
    if (!endsWithEndOfImage(data, size)) {
        return fail("no end-of-image marker: the frame was cut short");
    }
    if (!m_tj) {
        m_tj = tjInitDecompress();
        if (!m_tj) {
            return fail("TurboJPEG cannot start a decoder");
        }
    }
    tjhandle tj = static_cast<tjhandle>(m_tj);
    // A warning (TJERR_WARNING) still leaves the whole picture decoded: stray bytes before a
    // marker, which many webcams send in every frame, are only warned about. TurboJPEG also
    // reports a fatal error that follows a warning as a warning; in the headers such an error
    // leaves the size unset, which the size check catches, and past the headers libjpeg turns
    // damaged data into warnings and decodes what it can.
    const auto succeeded = [tj](int result) {
        return result == 0 || tjGetErrorCode(tj) == TJERR_WARNING;
    };
    int jpegWidth = 0;
    int jpegHeight = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (!succeeded(tjDecompressHeader3(tj, data, static_cast<unsigned long>(size), &jpegWidth,
                                       &jpegHeight, &subsampling, &colorspace))) {
        return fail(std::string("libjpeg: ") + tjGetErrorStr2(tj));
    }
    if (jpegWidth != width || jpegHeight != height) {
        return fail("JPEG of another size than the stream's format");
    }
    // Decode into the spare buffer so that a frame that fails half-way leaves the last good
    // picture untouched; the buffers then trade places, which costs nothing.
    // FASTDCT saves about 8% at 1080p with no visible loss. FASTUPSAMPLE would save another
    // 10% but replicates chroma, which shows as colour steps on sharp edges under a
    // microscope, and decoding stays well inside the frame budget without it.
    const size_t outStride = size_t(width) * 3;
    m_scratch.resize(outStride * size_t(height));
    const int flags = TJFLAG_BOTTOMUP | TJFLAG_FASTDCT;
    if (!succeeded(tjDecompress2(tj, data, static_cast<unsigned long>(size), m_scratch.data(),
                                 width, int(outStride), height, TJPF_BGR, flags))) {
        return fail(std::string("libjpeg: ") + tjGetErrorStr2(tj));
    }
    m_bgr.swap(m_scratch);
    m_width = width;
    m_height = height;
    return true;
}
