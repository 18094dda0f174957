#include "contracts/Image.h"

#include <turbojpeg.h>

#include <QFile>
#include <QImage>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "contracts/ContractsLog.h"
#include "platform/FileWrite.h"

namespace {

// Largest picture an image holds: the JPEG size limit per side, and 1 GiB of pixels, so that
// a corrupt size from a file or a caller fails cleanly instead of exhausting memory.
constexpr int kMaxSide = 65535;
constexpr size_t kMaxBytes = size_t(1) << 30;
// Largest JPEG file LoadJpeg reads.
constexpr qint64 kMaxJpegFileBytes = qint64(256) << 20;

struct TjHandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjHandleDeleter>;

struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using TjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

bool validGeometry(int width, int height, int bpp) {
    if (bpp != 24 && bpp != 8) {
        return false;
    }
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        return false;
    }
    return size_t(Image::effWidth(width, bpp)) * size_t(height) <= kMaxBytes;
}

}  // namespace

Image::Image(Image&& other) noexcept
    : m_width(std::exchange(other.m_width, 0)),
      m_height(std::exchange(other.m_height, 0)),
      m_bpp(std::exchange(other.m_bpp, 0)),
      m_bits(std::move(other.m_bits)) {
    other.m_bits.clear();
}

Image& Image::operator=(const Image& other) {
    if (this != &other) {
        Copy(other);
    }
    return *this;
}

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        m_width = std::exchange(other.m_width, 0);
        m_height = std::exchange(other.m_height, 0);
        m_bpp = std::exchange(other.m_bpp, 0);
        m_bits = std::move(other.m_bits);
        other.m_bits.clear();
    }
    return *this;
}

bool Image::allocate(int width, int height, int bpp) {
    if (!validGeometry(width, height, bpp)) {
        Destroy();
        return false;
    }
    try {
        m_bits.resize(size_t(effWidth(width, bpp)) * size_t(height));
    } catch (const std::bad_alloc&) {
        qCWarning(lcContracts) << "out of memory for a" << width << "x" << height << "image";
        Destroy();
        return false;
    }
    m_width = width;
    m_height = height;
    m_bpp = bpp;
    return true;
}

bool Image::Create(int width, int height, int bpp) {
    if (!allocate(width, height, bpp)) {
        return false;
    }
    std::fill(m_bits.begin(), m_bits.end(), uint8_t(0));
    return true;
}

void Image::Destroy() {
    m_width = m_height = m_bpp = 0;
    std::vector<uint8_t>().swap(m_bits);
}

void Image::Copy(const Image& src) {
    if (this == &src) {
        return;
    }
    if (!src.IsValid()) {
        Destroy();
        return;
    }
    if (!allocate(src.m_width, src.m_height, src.m_bpp)) {
        return;
    }
    std::memcpy(m_bits.data(), src.m_bits.data(), m_bits.size());
}

bool Image::CreateFromArray(const uint8_t* bytes, int width, int height, int bpp, int srcStride,
                            bool flip) {
    if (bytes == nullptr || !validGeometry(width, height, bpp) || srcStride < width * bpp / 8) {
        Destroy();
        return false;
    }
    if (!allocate(width, height, bpp)) {
        return false;
    }
    const size_t rowBytes = size_t(width) * size_t(bpp / 8);
    const size_t stride = size_t(GetEffWidth());
    for (int y = 0; y < height; ++y) {
        const int srcRow = flip ? height - 1 - y : y;
        uint8_t* dst = m_bits.data() + size_t(y) * stride;
        std::memcpy(dst, bytes + size_t(srcRow) * size_t(srcStride), rowBytes);
        // Reused storage may hold an older picture; keep the padding deterministic.
        std::memset(dst + rowBytes, 0, stride - rowBytes);
    }
    return true;
}

bool Image::SwapPixels(std::vector<uint8_t>& pixels, int width, int height, int bpp) {
    if (!validGeometry(width, height, bpp) ||
        pixels.size() != size_t(effWidth(width, bpp)) * size_t(height)) {
        return false;
    }
    m_bits.swap(pixels);
    m_width = width;
    m_height = height;
    m_bpp = bpp;
    return true;
}

uint8_t* Image::GetBits(int row) {
    if (!IsValid() || row < 0 || row >= m_height) {
        return nullptr;
    }
    return m_bits.data() + size_t(row) * size_t(GetEffWidth());
}

const uint8_t* Image::GetBits(int row) const {
    if (!IsValid() || row < 0 || row >= m_height) {
        return nullptr;
    }
    return m_bits.data() + size_t(row) * size_t(GetEffWidth());
}

void Image::Clear(uint8_t value) {
    std::fill(m_bits.begin(), m_bits.end(), value);
}

bool Image::GrayScale() {
    if (!IsValid()) {
        return false;
    }
    if (m_bpp == 8) {
        return true;
    }
    std::vector<uint8_t> grey;
    try {
        grey.assign(size_t(effWidth(m_width, 8)) * size_t(m_height), 0);
    } catch (const std::bad_alloc&) {
        qCWarning(lcContracts) << "out of memory converting an image to grey";
        return false;
    }
    const size_t srcStride = size_t(GetEffWidth());
    const size_t dstStride = size_t(effWidth(m_width, 8));
    for (int y = 0; y < m_height; ++y) {
        const uint8_t* src = m_bits.data() + size_t(y) * srcStride;
        uint8_t* dst = grey.data() + size_t(y) * dstStride;
        for (int x = 0; x < m_width; ++x, src += 3) {
            // Pixels are stored blue, green, red.
            dst[x] = uint8_t((77u * src[2] + 150u * src[1] + 29u * src[0]) >> 8);
        }
    }
    m_bits.swap(grey);
    m_bpp = 8;
    return true;
}

bool Image::EncodeJpeg(int quality, std::vector<uint8_t>& jpegBytes) const {
    jpegBytes.clear();
    if (!IsValid()) {
        qCWarning(lcContracts) << "not encoding an empty image";
        return false;
    }
    TjHandle handle(tjInitCompress());
    if (!handle) {
        qCWarning(lcContracts) << "tjInitCompress failed:" << tjGetErrorStr2(nullptr);
        return false;
    }
    const bool grey = m_bpp == 8;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const int rc =
        tjCompress2(handle.get(), m_bits.data(), m_width, GetEffWidth(), m_height,
                    grey ? TJPF_GRAY : TJPF_BGR, &out, &outSize, grey ? TJSAMP_GRAY : TJSAMP_420,
                    std::clamp(quality, 1, 100), TJFLAG_BOTTOMUP);
    TjBuffer jpeg(out);
    if (rc != 0 || !jpeg) {
        qCWarning(lcContracts) << "tjCompress2 failed:" << tjGetErrorStr2(handle.get());
        return false;
    }
    jpegBytes.assign(jpeg.get(), jpeg.get() + outSize);
    return true;
}

bool Image::SaveJpeg(const QString& path, int quality) const {
    std::vector<uint8_t> jpeg;
    if (!EncodeJpeg(quality, jpeg)) {
        qCWarning(lcContracts) << "nothing saved to" << path;
        return false;
    }
    const FileResult result = WriteWholeFile(
        path, QByteArrayView(reinterpret_cast<const char*>(jpeg.data()), qsizetype(jpeg.size())),
        FilePolicy::OwnFile);
    if (!result.ok()) {
        qCWarning(lcContracts).noquote() << "saving" << path << "failed:" << result.describe();
    }
    return result.ok();
}

bool Image::LoadJpeg(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcContracts) << "cannot open" << path << ":" << file.errorString();
        return false;
    }
    if (file.size() > kMaxJpegFileBytes) {
        qCWarning(lcContracts) << path << "is too large for a JPEG picture";
        return false;
    }
    const QByteArray data = file.readAll();
    if (data.isEmpty()) {
        return false;
    }
    TjHandle handle(tjInitDecompress());
    if (!handle) {
        qCWarning(lcContracts) << "tjInitDecompress failed:" << tjGetErrorStr2(nullptr);
        return false;
    }
    const auto* src = reinterpret_cast<const unsigned char*>(data.constData());
    const auto srcSize = static_cast<unsigned long>(data.size());
    int width = 0, height = 0, subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), src, srcSize, &width, &height, &subsamp, &colorspace) !=
        0) {
        qCWarning(lcContracts) << "not a JPEG file:" << path << tjGetErrorStr2(handle.get());
        return false;
    }
    Image decoded;
    if (!decoded.allocate(width, height, 24)) {
        return false;
    }
    if (tjDecompress2(handle.get(), src, srcSize, decoded.m_bits.data(), width,
                      decoded.GetEffWidth(), height, TJPF_BGR, TJFLAG_BOTTOMUP) != 0 &&
        tjGetErrorCode(handle.get()) != TJERR_WARNING) {
        qCWarning(lcContracts) << "decoding" << path << "failed:" << tjGetErrorStr2(handle.get());
        return false;
    }
    *this = std::move(decoded);
    return true;
}

QImage Image::ToQImage() const {
    if (!IsValid()) {
        return {};
    }
    QImage out(m_width, m_height, m_bpp == 8 ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
    if (out.isNull()) {
        return {};
    }
    const size_t rowBytes = size_t(m_width) * size_t(m_bpp / 8);
    for (int y = 0; y < m_height; ++y) {
        // QImage rows run top-down, ours bottom-up.
        std::memcpy(out.scanLine(y), GetBits(m_height - 1 - y), rowBytes);
    }
    return out;
}

bool Image::FromQImage(const QImage& image) {
    if (image.isNull()) {
        Destroy();
        return false;
    }
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    if (bgr.isNull() || !allocate(bgr.width(), bgr.height(), 24)) {
        Destroy();
        return false;
    }
    const size_t rowBytes = size_t(m_width) * 3;
    const size_t stride = size_t(GetEffWidth());
    for (int y = 0; y < m_height; ++y) {
        uint8_t* dst = GetBits(m_height - 1 - y);
        std::memcpy(dst, bgr.constScanLine(y), rowBytes);
        std::memset(dst + rowBytes, 0, stride - rowBytes);
    }
    return true;
}
