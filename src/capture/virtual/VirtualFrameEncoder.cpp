#include "capture/virtual/VirtualFrameEncoder.h"

#include <libyuv/convert_from_argb.h>
#include <turbojpeg.h>

#include "capture/Camera.h"
#include "capture/virtual/VirtualCameraLog.h"

namespace {
constexpr int kJpegQuality = 85;
}

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
        const unsigned long capacity = tjBufSize(width, height, TJSAMP_422);
        if (m_buffer.size() < capacity) {
            m_buffer.resize(capacity);
        }
        unsigned char* out = m_buffer.data();
        unsigned long outSize = capacity;
        // TJFLAG_NOREALLOC: TurboJPEG writes into our buffer, sized for the worst case.
        if (tjCompress2(static_cast<tjhandle>(m_tj), argb, width, width * 4, height, TJPF_BGRX,
                        &out, &outSize, TJSAMP_422, kJpegQuality,
                        TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0) {
            qCWarning(lcVirtualCamera)
                << "tjCompress2 failed:" << tjGetErrorStr2(static_cast<tjhandle>(m_tj));
            return false;
        }
        m_size = outSize;
        return true;
    }
    return false;
}
