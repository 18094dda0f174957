#include "capture/ImageResize.h"

#include <algorithm>
#include <utility>

BilinearTap bilinearTap(int dstIndex, int srcSize, int dstSize) {
    // Position in 1/256 source pixels: ((2x + 1) * src - dst) * 256 / (2 * dst), floored and
    // clamped to [0, (src - 1) * 256]. Integer arithmetic keeps the result the same on every
    // machine and compiler.
    const int64_t num = (2 * int64_t(dstIndex) + 1) * srcSize * 256 - int64_t(dstSize) * 256;
    int64_t pos = num >= 0 ? num / (2 * int64_t(dstSize)) : 0;
    pos = std::min<int64_t>(pos, int64_t(srcSize - 1) * 256);
    BilinearTap tap;
    tap.i0 = int(pos >> 8);
    tap.weight = int(pos & 255);
    tap.i1 = std::min(tap.i0 + 1, srcSize - 1);
    return tap;
}

void BilinearScaler24::prepareColumns(int srcWidth, int dstWidth, bool hMirror) {
    if (srcWidth == m_colSrcWidth && dstWidth == m_colDstWidth && hMirror == m_colMirror) {
        return;
    }
    m_colOffset0.resize(size_t(dstWidth));
    m_colOffset1.resize(size_t(dstWidth));
    m_colWeight.resize(size_t(dstWidth));
    for (int x = 0; x < dstWidth; ++x) {
        // The left-right mirror is folded into the table: output column x takes what
        // column dstWidth - 1 - x of the unmirrored picture would hold.
        const BilinearTap tap = bilinearTap(hMirror ? dstWidth - 1 - x : x, srcWidth, dstWidth);
        m_colOffset0[size_t(x)] = tap.i0 * 3;
        m_colOffset1[size_t(x)] = tap.i1 * 3;
        m_colWeight[size_t(x)] = uint16_t(tap.weight);
    }
    m_colSrcWidth = srcWidth;
    m_colDstWidth = dstWidth;
    m_colMirror = hMirror;
}

void BilinearScaler24::filterRow(const uint8_t* srcRow, uint16_t* out) const {
    const int n = m_colDstWidth;
    const int32_t* off0 = m_colOffset0.data();
    const int32_t* off1 = m_colOffset1.data();
    const uint16_t* weight = m_colWeight.data();
    for (int x = 0; x < n; ++x) {
        const uint8_t* a = srcRow + off0[x];
        const uint8_t* b = srcRow + off1[x];
        const unsigned wb = weight[x];
        const unsigned wa = 256 - wb;
        out[0] = uint16_t(a[0] * wa + b[0] * wb);
        out[1] = uint16_t(a[1] * wa + b[1] * wb);
        out[2] = uint16_t(a[2] * wa + b[2] * wb);
        out += 3;
    }
}

namespace {

// One output row from two filtered rows (values scaled by 256): weights in 1/256, rounded.
void blendRows(const uint16_t* a, const uint16_t* b, unsigned wb, uint8_t* dst, int count) {
    const unsigned wa = 256 - wb;
    for (int i = 0; i < count; ++i) {
        dst[i] = uint8_t((a[i] * wa + b[i] * wb + 32768u) >> 16);
    }
}

}  // namespace

bool BilinearScaler24::scale(const uint8_t* src, int srcStride, int srcWidth, int srcHeight,
                             uint8_t* dst, int dstStride, int dstWidth, int dstHeight, bool hMirror,
                             bool vMirror) {
    if (!src || !dst || srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1) {
        return false;
    }
    prepareColumns(srcWidth, dstWidth, hMirror);
    const size_t rowValues = size_t(dstWidth) * 3;
    for (auto& row : m_rowBuf) {
        if (row.size() < rowValues) {
            row.resize(rowValues);
        }
    }

    // Output rows walk the source downwards, so each source row is filtered horizontally
    // once and kept while the output rows that need it are blended (two rows cached).
    uint16_t* rowA = m_rowBuf[0].data();
    uint16_t* rowB = m_rowBuf[1].data();
    int srcRowA = -1;
    int srcRowB = -1;
    const int count = int(rowValues);
    for (int y = 0; y < dstHeight; ++y) {
        const BilinearTap tap = bilinearTap(y, srcHeight, dstHeight);
        if (srcRowA != tap.i0) {
            if (srcRowB == tap.i0) {
                std::swap(rowA, rowB);
                std::swap(srcRowA, srcRowB);
            } else {
                filterRow(src + int64_t(tap.i0) * srcStride, rowA);
                srcRowA = tap.i0;
            }
        }
        const uint16_t* second = rowA;
        if (tap.weight != 0 && tap.i1 != tap.i0) {
            if (srcRowB != tap.i1) {
                filterRow(src + int64_t(tap.i1) * srcStride, rowB);
                srcRowB = tap.i1;
            }
            second = rowB;
        }
        const int outRow = vMirror ? dstHeight - 1 - y : y;
        blendRows(rowA, second, unsigned(tap.weight), dst + int64_t(outRow) * dstStride, count);
    }
    return true;
}
