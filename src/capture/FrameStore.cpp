#include "capture/FrameStore.h"

#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "contracts/Image.h"

namespace {

// Side of the digital-zoom region along one axis: trunc(video / zoom) in single precision,
// at most the frame's side and at least one pixel.
int zoomRegionSide(int videoSide, float zoom, int frameSide) {
    const float q = float(videoSide) / zoom;
    if (!(q < float(frameSide))) {
        return frameSide;
    }
    return std::max(1, int(q));
}

float sanitizedFactor(float f) {
    return f >= 1.0f ? f : 1.0f;  // also catches NaN
}

// Whether the current image can take a processed frame's rows by exchanging storage: its rows
// are padded to 4 bytes, so only widths whose rows need no padding (every common camera size)
// have the same layout as the frame buffers. Other widths are copied.
bool imageTakesRows(int w) {
    return Image::effWidth(w, 24) == w * 3;
}

}  // namespace

FrameStore::Rect FrameStore::intersect(const Rect& a, const Rect& b) {
    const int x0 = std::max(a.x, b.x);
    const int y0 = std::max(a.y, b.y);
    const int x1 = std::min(a.x + a.w, b.x + b.w);
    const int y1 = std::min(a.y + a.h, b.y + b.h);
    if (x1 <= x0 || y1 <= y0) {
        return Rect{};
    }
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

FrameStore::FrameStore(ScalerPath scalerPath) : m_scaler(scalerPath) {}
FrameStore::~FrameStore() = default;

TransformState FrameStore::transform() const {
    std::lock_guard guard(m_transformLock);
    return m_transform;
}

void FrameStore::setTransform(const TransformState& state) {
    std::lock_guard guard(m_transformLock);
    m_transform = state;
}

void FrameStore::updateTransform(const std::function<void(TransformState&)>& change) {
    std::lock_guard guard(m_transformLock);
    change(m_transform);
}

void FrameStore::setVideoSize(int width, int height) {
    std::lock_guard guard(m_transformLock);
    m_transform.m_nVideoWidth = width;
    m_transform.m_nVideoHeight = height;
}

bool FrameStore::videoSizeLatched() const {
    std::lock_guard guard(m_transformLock);
    return m_bVideoSizeLatched;
}

FrameStore::FrameSizes FrameStore::frameSizes() const {
    std::lock_guard guard(m_csFrame);
    return FrameSizes{m_nLastWidth, m_nLastHeight, m_nLastBpp, m_nLastCropWidth, m_nLastCropHeight};
}

bool FrameStore::hasCurrentImage() const {
    std::lock_guard guard(m_csFrame);
    return m_pCurImage != nullptr;
}

int FrameStore::reallocationCount() const {
    std::lock_guard guard(m_csFrame);
    return m_nReallocations;
}

bool FrameStore::readCurrentImage(const std::function<void(const Image&)>& reader) const {
    std::lock_guard guard(m_csFrame);
    if (!m_pCurImage || !m_pCurImage->IsValid()) {
        return false;
    }
    reader(*m_pCurImage);
    return true;
}

bool FrameStore::copyCurrentImage(Image& out) const {
    std::lock_guard guard(m_csFrame);
    if (!m_pCurImage) {
        out.Destroy();
        return false;
    }
    out.Copy(*m_pCurImage);
    return out.IsValid();
}

bool FrameStore::copyRawImage(Image& out) const {
    std::lock_guard guard(m_csFrame);
    if (!m_pRawImage) {
        out.Destroy();
        return false;
    }
    out.Copy(*m_pRawImage);
    return out.IsValid();
}

bool FrameStore::readComposedImage(const std::function<void(const Image&)>& reader) const {
    std::lock_guard guard(m_csFrame);
    if (!m_imgComposed.IsValid()) {
        return false;
    }
    reader(m_imgComposed);
    return true;
}

bool FrameStore::copyComposedImage(Image& out) const {
    std::lock_guard guard(m_csFrame);
    if (!m_pCurImage) {
        out.Destroy();
        return false;
    }
    out.Copy(m_imgComposed);
    return out.IsValid();
}

void FrameStore::exchangeComposedImage(Image& work) {
    std::lock_guard guard(m_csFrame);
    std::swap(work, m_imgComposed);
}

void FrameStore::DeleteCurrentImage() {
    std::lock_guard guard(m_csFrame);
    m_pCurImage.reset();
}

void FrameStore::Free() {
    std::lock_guard guard(m_csFrame);
    std::vector<uint8_t>().swap(m_pWorkBuf);
    std::vector<uint8_t>().swap(m_pOutBuf);
    std::vector<uint8_t>().swap(m_pPrevOutBuf);
    m_workPlacement = Placement{};
    m_outPlacement = Placement{};
    m_prevPlacement = Placement{};
    m_nLastWidth = m_nLastHeight = m_nLastBpp = 0;
    m_nLastCropWidth = m_nLastCropHeight = 0;
    m_pCurImage.reset();
    m_pRawImage.reset();
}

FrameStore::ViewCrop FrameStore::computeViewCrop(int w, int h, const TransformState& t) {
    // The square's side is trunc(h / view zoom), clipped to the frame so that frames taller
    // than wide get a square that fits.
    int side = int(float(h) / sanitizedFactor(t.m_fViewZoom));
    side = std::clamp(side, 0, std::min(w, h));
    const int64_t x0 = std::max<int64_t>(0, int64_t(t.m_nCenterX) - side / 2);
    const int64_t y0 = std::max<int64_t>(0, int64_t(t.m_nCenterY) - side / 2);
    // Rows stop before the frame's last row (it is never a source row); columns stop at the
    // frame's right edge. What is not copied stays black.
    const int64_t rows = std::clamp<int64_t>(int64_t(h) - 1 - y0, 0, side);
    const int64_t cols = std::clamp<int64_t>(int64_t(w) - x0, 0, side);
    ViewCrop crop;
    if (rows == 0 || cols == 0) {
        return crop;
    }
    crop.srcX = int(x0);
    crop.srcY = int(y0);
    crop.dst = Rect{(w - side) / 2, (h - side) / 2, int(cols), int(rows)};
    return crop;
}

void FrameStore::preparePlacement(std::vector<uint8_t>& buf, int w, Placement& placement,
                                  const Rect& next) {
    if (placement.known && placement.rect == next) {
        return;  // everything outside `next` is black already and `next` is rewritten
    }
    if (placement.known) {
        const Rect& old = placement.rect;
        for (int r = old.y; r < old.y + old.h; ++r) {
            std::memset(buf.data() + (size_t(r) * w + old.x) * 3, 0, size_t(old.w) * 3);
        }
    } else {
        std::memset(buf.data(), 0, buf.size());
    }
    placement.known = true;
    placement.rect = next;
}

int FrameStore::OnFrame(const uint8_t* pixels, int w, int h, int bpp) {
    if (!pixels || bpp != 24 || w <= 0 || h <= 0 || w > kMaxFrameSide || h > kMaxFrameSide) {
        return 0;
    }

    TransformState t;
    {
        std::lock_guard guard(m_transformLock);
        if (!m_bVideoSizeLatched) {
            m_transform.m_nVideoWidth = w;
            m_transform.m_nVideoHeight = h;
            m_bVideoSizeLatched = true;
        }
        t = m_transform;
    }

    {
        std::lock_guard guard(m_csFrame);
        const size_t stride = size_t(w) * 3;
        const size_t bytes = stride * size_t(h);
        if (m_pOutBuf.size() != bytes || w != m_nLastWidth || h != m_nLastHeight ||
            bpp != m_nLastBpp) {
            // Fresh zeroed buffers: black everywhere, which the placements record.
            std::vector<uint8_t>(bytes).swap(m_pWorkBuf);
            std::vector<uint8_t>(bytes).swap(m_pOutBuf);
            std::vector<uint8_t>(imageTakesRows(w) ? 0 : bytes).swap(m_pPrevOutBuf);
            m_workPlacement = Placement{};
            m_outPlacement = Placement{};
            m_prevPlacement = Placement{};
            ++m_nReallocations;
        }
        m_nLastWidth = w;
        m_nLastHeight = h;
        m_nLastBpp = bpp;

        const ViewCrop crop = computeViewCrop(w, h, t);
        const Rect& sq = crop.dst;
        const uint8_t* src = pixels + size_t(crop.srcY) * stride + size_t(crop.srcX) * 3;
        const float zoom = sanitizedFactor(t.m_fZoom);
        const int cw = zoomRegionSide(t.m_nVideoWidth, zoom, w);
        const int ch = zoomRegionSide(t.m_nVideoHeight, zoom, h);
        const bool hm = t.m_bHMirror;
        const bool vm = t.m_bVMirror;

        if (cw == w && ch == h) {
            // The zoom region is the whole frame, so the resize is the identity: the pan
            // square goes straight into the output, mirrored as it is written.
            Rect placed = sq;
            if (sq.w > 0) {
                if (hm) {
                    placed.x = w - sq.x - sq.w;
                }
                if (vm) {
                    placed.y = h - sq.y - sq.h;
                }
            }
            preparePlacement(m_pOutBuf, w, m_outPlacement, placed);
            if (sq.w > 0) {
                const int firstRow = vm ? h - 1 - sq.y : sq.y;
                uint8_t* dst = m_pOutBuf.data() + size_t(firstRow) * stride + size_t(placed.x) * 3;
                const int dstStride = vm ? -int(stride) : int(stride);
                if (hm) {
                    libyuv::RGB24Mirror(src, int(stride), dst, dstStride, sq.w, sq.h);
                } else {
                    for (int i = 0; i < sq.h; ++i) {
                        std::memcpy(dst + ptrdiff_t(i) * dstStride, src + size_t(i) * stride,
                                    size_t(sq.w) * 3);
                    }
                }
            }
        } else {
            // Only the zoom region of the work picture is ever read, so only the part of the
            // pan square inside it is needed.
            const int ox = (w - cw) / 2;
            const int oy = (h - ch) / 2;
            const Rect region{ox, oy, cw, ch};
            const Rect used = intersect(sq, region);
            const uint8_t* zoomSrc;
            if (used == region) {
                // The region lies wholly in the copied square: read it straight from the
                // frame, the work picture would hold the same bytes.
                zoomSrc = src + size_t(oy - sq.y) * stride + size_t(ox - sq.x) * 3;
            } else {
                preparePlacement(m_pWorkBuf, w, m_workPlacement, used);
                uint8_t* work = m_pWorkBuf.data();
                for (int i = 0; i < used.h; ++i) {
                    std::memcpy(
                        work + size_t(used.y + i) * stride + size_t(used.x) * 3,
                        src + size_t(used.y - sq.y + i) * stride + size_t(used.x - sq.x) * 3,
                        size_t(used.w) * 3);
                }
                zoomSrc = work + size_t(oy) * stride + size_t(ox) * 3;
            }
            m_scaler.scale(zoomSrc, int(stride), cw, ch, m_pOutBuf.data(), int(stride), w, h, hm,
                           vm);
            m_outPlacement.known = false;
        }
        m_nLastCropWidth = cw;
        m_nLastCropHeight = ch;

        if (!imageTakesRows(w)) {
            // The previous-output buffer takes the finished frame by exchanging the two
            // buffers rather than copying it: the next frame is built in the older one, whose
            // placement travels with it. (Otherwise PublishFrame hands the frame on.)
            m_pOutBuf.swap(m_pPrevOutBuf);
            std::swap(m_outPlacement, m_prevPlacement);
        }
    }

    PublishFrame(w, h, bpp);

    if (t.factoryMode) {
        std::lock_guard guard(m_csFrame);
        if (!m_pRawImage) {
            m_pRawImage = std::make_unique<Image>();
        }
        m_pRawImage->CreateFromArray(pixels, w, h, bpp, w * 3, false);
    }
    return 0;
}

void FrameStore::PublishFrame(int w, int h, int bpp) {
    std::lock_guard guard(m_csFrame);
    const bool handOver = imageTakesRows(w);
    const std::vector<uint8_t>& finished = handOver ? m_pOutBuf : m_pPrevOutBuf;
    // Free() may have run between the two lock holds: only publish the frame just made.
    if (w != m_nLastWidth || h != m_nLastHeight || finished.size() != size_t(w) * h * 3) {
        return;
    }
    if (!m_pCurImage) {
        m_pCurImage = std::make_unique<Image>();
    }
    if (handOver) {
        // The current image takes the finished rows by exchanging storage, a copy saved on
        // every frame; the next frame is built in the storage it gives back, whose placement
        // travels with it. A new image (first frame, after DeleteCurrentImage, a new size)
        // starts black.
        if (!m_pCurImage->IsValid() || m_pCurImage->GetWidth() != w ||
            m_pCurImage->GetHeight() != h || m_pCurImage->GetBpp() != bpp) {
            m_pCurImage->Create(w, h, bpp);
            m_prevPlacement = Placement{};
        }
        if (m_pCurImage->SwapPixels(m_pOutBuf, w, h, bpp)) {
            std::swap(m_outPlacement, m_prevPlacement);
        } else {
            m_pCurImage->CreateFromArray(m_pOutBuf.data(), w, h, bpp, w * 3, false);
        }
    } else {
        m_pCurImage->CreateFromArray(m_pPrevOutBuf.data(), w, h, bpp, w * 3, false);
    }
    if (onRecorderStep) {
        onRecorderStep(w, h);
    }
    if (onFramePublished) {
        onFramePublished();
    }
}
