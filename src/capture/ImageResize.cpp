#include "capture/ImageResize.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TAVREL_SCALER_X86 1
#endif

namespace {

// a * (256 - f) + b * f, rounded to 8 bits, written with one multiply per channel.
inline uint8_t lerp8(int a, int b, int f) {
    return uint8_t((a * 256 + (b - a) * f + 128) >> 8);
}

}  // namespace

bool canRun(ScalerPath path) {
    switch (path) {
        case ScalerPath::Portable:
            return true;
#if defined(TAVREL_SCALER_X86)
        // The processor's own answer; for AVX2 it also says whether the system saves the
        // wide registers.
        case ScalerPath::Ssse3:
            __builtin_cpu_init();
            return __builtin_cpu_supports("ssse3");
        case ScalerPath::Avx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
#else
        case ScalerPath::Ssse3:
        case ScalerPath::Avx2:
            return false;
#endif
    }
    return false;
}

ScalerPath bestPath() {
    for (ScalerPath path : {ScalerPath::Avx2, ScalerPath::Ssse3}) {
        if (canRun(path)) {
            return path;
        }
    }
    return ScalerPath::Portable;
}

const char* scalerPathName(ScalerPath path) {
    switch (path) {
        case ScalerPath::Portable:
            return "portable";
        case ScalerPath::Ssse3:
            return "ssse3";
        case ScalerPath::Avx2:
            return "avx2";
    }
    return "unknown";
}

BilinearScaler24::BilinearScaler24(ScalerPath path) : m_path(ScalerPath::Portable) {
    // The fastest path at or below the one asked for that this machine runs.
    for (ScalerPath p : {ScalerPath::Avx2, ScalerPath::Ssse3}) {
        if (int(p) <= int(path) && canRun(p)) {
            m_path = p;
            return;
        }
    }
}

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

    // Blocks of four output pixels for the vector paths. When the block's source pixels lie
    // within 16 bytes (always so when scaling up), one load and two byte shuffles gather them.
    // Otherwise (shrinking, or a window that would leave the row) each output pixel's two
    // source pixels are loaded on their own: they are neighbours, six bytes from its first
    // offset, read as eight bytes that start early enough to end inside the row.
    const size_t blocks = size_t(dstWidth) / 4;
    m_blocks.resize(blocks);
    const int rowBytes = srcWidth * 3;
    auto gather = [&](size_t k) {
        ColumnBlock& blk = m_blocks[k];
        std::memset(blk.maskA, 0x80, sizeof blk.maskA);  // 0x80: the lane becomes 0
        std::memset(blk.maskB, 0x80, sizeof blk.maskB);
        std::memset(blk.weight, 0, sizeof blk.weight);
        if (rowBytes < 8) {
            blk.base = kByPixel;
            return;
        }
        blk.base = kGathered;
        for (size_t p = 0; p < 4; ++p) {
            const int off0 = m_colOffset0[4 * k + p];
            const int off1 = m_colOffset1[4 * k + p];
            const int load = std::min(off0, rowBytes - 8);
            blk.load[p] = load;
            // Pixel p's load sits in bytes 0..7 (even p) or 8..15 (odd p) of its register.
            uint8_t* mask = p < 2 ? blk.maskA : blk.maskB;
            const int from = 8 * int(p % 2);
            const int to = 3 * int(p % 2);
            const int weightAt = 3 * int(p % 2) + 8 * int(p / 2);
            for (int c = 0; c < 3; ++c) {
                mask[to + c] = uint8_t(from + off0 - load + c);
                mask[8 + to + c] = uint8_t(from + off1 - load + c);
                blk.weight[weightAt + c] = uint8_t(m_colWeight[4 * k + p]);
            }
        }
    };
    for (size_t k = 0; k < blocks; ++k) {
        int lo = INT32_MAX;
        int hi = 0;
        for (size_t p = 0; p < 4; ++p) {
            lo = std::min(lo, m_colOffset0[4 * k + p]);
            hi = std::max(hi, m_colOffset1[4 * k + p] + 3);
        }
        if (hi - lo > 16 || lo + 16 > rowBytes) {
            gather(k);
            continue;
        }
        ColumnBlock& blk = m_blocks[k];
        std::memset(blk.maskA, 0x80, sizeof blk.maskA);
        std::memset(blk.maskB, 0x80, sizeof blk.maskB);
        std::memset(blk.weight, 0, sizeof blk.weight);
        blk.base = lo;
        for (size_t p = 0; p < 4; ++p) {
            for (int c = 0; c < 3; ++c) {
                blk.maskA[3 * p + c] = uint8_t(m_colOffset0[4 * k + p] - lo + c);
                blk.maskB[3 * p + c] = uint8_t(m_colOffset1[4 * k + p] - lo + c);
                blk.weight[3 * p + c] = uint8_t(m_colWeight[4 * k + p]);
            }
        }
    }
    // The AVX2 path runs two blocks of one kind per step: a window block paired with a
    // gathered one is gathered too (when slightly shrinking, most pairs are such).
    if (m_path == ScalerPath::Avx2) {
        for (size_t k = 0; k + 1 < blocks; k += 2) {
            const bool window0 = m_blocks[k].base >= 0;
            const bool window1 = m_blocks[k + 1].base >= 0;
            if (window0 != window1) {
                gather(window0 ? k : k + 1);
            }
        }
    }
    m_colSrcWidth = srcWidth;
    m_colDstWidth = dstWidth;
    m_colMirror = hMirror;
}

void BilinearScaler24::filterPixels(const uint8_t* srcRow, uint8_t* out, int from, int to) const {
    for (int x = from; x < to; ++x) {
        const uint8_t* a = srcRow + m_colOffset0[size_t(x)];
        const uint8_t* b = srcRow + m_colOffset1[size_t(x)];
        const int f = m_colWeight[size_t(x)];
        uint8_t* o = out + size_t(x) * 3;
        o[0] = lerp8(a[0], b[0], f);
        o[1] = lerp8(a[1], b[1], f);
        o[2] = lerp8(a[2], b[2], f);
    }
}

#if defined(TAVREL_SCALER_X86)
namespace {

// The sums of filterPixels on 16-bit lanes: a * (256 - f) + b * f + 128 is at most 65408,
// so it fits the lanes unsigned. a, b and f are unsigned 16-bit values; the result is
// shifted down to 8 bits (still in 16-bit lanes).
__attribute__((target("ssse3"))) inline __m128i lerp16(__m128i a, __m128i b, __m128i f) {
    const __m128i full = _mm_set1_epi16(256);
    const __m128i round = _mm_set1_epi16(128);
    const __m128i sum =
        _mm_add_epi16(_mm_mullo_epi16(a, _mm_sub_epi16(full, f)), _mm_mullo_epi16(b, f));
    return _mm_srli_epi16(_mm_add_epi16(sum, round), 8);
}

__attribute__((target("avx2"))) inline __m256i lerp16(__m256i a, __m256i b, __m256i f) {
    const __m256i full = _mm256_set1_epi16(256);
    const __m256i round = _mm256_set1_epi16(128);
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, _mm256_sub_epi16(full, f)),
                                         _mm256_mullo_epi16(b, f));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, round), 8);
}

__attribute__((target("ssse3"))) inline __m128i load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Eight bytes from lo in bytes 0..7 and eight from hi in bytes 8..15.
__attribute__((target("ssse3"))) inline __m128i loadTwo8(const uint8_t* lo, const uint8_t* hi) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(lo)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(hi)));
}

// Sixteen bytes from lo in the low lane and sixteen from hi in the high lane.
__attribute__((target("avx2"))) inline __m256i pair(const uint8_t* lo, const uint8_t* hi) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load16(lo)), load16(hi), 1);
}

__attribute__((target("avx2"))) inline __m256i pair(__m128i lo, __m128i hi) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// Bytes 0..5 and 8..13 of the gathered results side by side in bytes 0..11.
alignas(16) constexpr uint8_t kCloseGap[16] = {0,  1,  2,  3,  4,    5,    8,    9,
                                               10, 11, 12, 13, 0x80, 0x80, 0x80, 0x80};

// One window block: four output pixels from the 16 source bytes at win; 16 bytes stored at
// out, 12 meant (the next block, or the row buffer's slack, takes the rest).
__attribute__((target("ssse3"))) inline void windowBlock(const uint8_t* win, const uint8_t* maskA,
                                                         const uint8_t* maskB,
                                                         const uint8_t* weight, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i src = load16(win);
    const __m128i a = _mm_shuffle_epi8(src, load16(maskA));
    const __m128i b = _mm_shuffle_epi8(src, load16(maskB));
    const __m128i w = load16(weight);
    const __m128i lo =
        lerp16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(w, zero));
    const __m128i hi =
        lerp16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(w, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(lo, hi));
}

// One gathered block: four output pixels from eight source bytes each at srcRow + load[p];
// 16 bytes stored at out, 12 meant.
__attribute__((target("ssse3"))) inline void gatheredBlock(const uint8_t* srcRow,
                                                           const int32_t* load,
                                                           const uint8_t* maskA,
                                                           const uint8_t* maskB,
                                                           const uint8_t* weight, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    // Pixels 0 and 1: first pixels' channels in bytes 0..5, second pixels' in 8..13.
    const __m128i p01 =
        _mm_shuffle_epi8(loadTwo8(srcRow + load[0], srcRow + load[1]), load16(maskA));
    const __m128i p23 =
        _mm_shuffle_epi8(loadTwo8(srcRow + load[2], srcRow + load[3]), load16(maskB));
    const __m128i w = load16(weight);
    const __m128i r01 = lerp16(_mm_unpacklo_epi8(p01, zero), _mm_unpackhi_epi8(p01, zero),
                               _mm_unpacklo_epi8(w, zero));
    const __m128i r23 = lerp16(_mm_unpacklo_epi8(p23, zero), _mm_unpackhi_epi8(p23, zero),
                               _mm_unpackhi_epi8(w, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi8(_mm_packus_epi16(r01, r23), load16(kCloseGap)));
}

}  // namespace

// Blocks of four pixels in turn; the four bytes block k scribbles past its end are
// overwritten by block k + 1.
__attribute__((target("ssse3"))) void BilinearScaler24::filterBlocksSsse3(const uint8_t* srcRow,
                                                                          uint8_t* out) const {
    const int blocks = int(m_blocks.size());
    for (int k = 0; k < blocks; ++k) {
        filterBlockSsse3(srcRow, out, k);
    }
    filterPixels(srcRow, out, 4 * blocks, m_colDstWidth);
}

// Block k on its own, whatever its kind.
__attribute__((target("ssse3"))) void BilinearScaler24::filterBlockSsse3(const uint8_t* srcRow,
                                                                         uint8_t* out,
                                                                         int k) const {
    const ColumnBlock& blk = m_blocks[size_t(k)];
    uint8_t* o = out + size_t(k) * 12;
    if (blk.base >= 0) {
        windowBlock(srcRow + blk.base, blk.maskA, blk.maskB, blk.weight, o);
    } else if (blk.base == kGathered) {
        gatheredBlock(srcRow, blk.load, blk.maskA, blk.maskB, blk.weight, o);
    } else {
        filterPixels(srcRow, out, 4 * k, 4 * k + 4);
    }
}

// Two blocks of the same kind per step, one in each 128-bit lane (the byte shuffles and the
// unpacks work within lanes); two blocks of different kinds go one by one as in the SSSE3
// path. Lane 0 is stored before lane 1, so the bytes each block scribbles past its end are
// overwritten by the next one. An odd last block goes on its own.
__attribute__((target("avx2"))) void BilinearScaler24::filterBlocksAvx2(const uint8_t* srcRow,
                                                                        uint8_t* out) const {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i closeGap = _mm256_broadcastsi128_si256(load16(kCloseGap));
    const int blocks = int(m_blocks.size());
    int k = 0;
    for (; k < blocks; k += 2) {
        const ColumnBlock& b0 = m_blocks[size_t(k)];
        uint8_t* o = out + size_t(k) * 12;
        const bool twoWindows = k + 1 < blocks && b0.base >= 0 && m_blocks[size_t(k) + 1].base >= 0;
        const bool twoGathered =
            k + 1 < blocks && b0.base == kGathered && m_blocks[size_t(k) + 1].base == kGathered;
        if (twoWindows) {
            const ColumnBlock& b1 = m_blocks[size_t(k) + 1];
            const __m256i win = pair(srcRow + b0.base, srcRow + b1.base);
            const __m256i a = _mm256_shuffle_epi8(win, pair(b0.maskA, b1.maskA));
            const __m256i b = _mm256_shuffle_epi8(win, pair(b0.maskB, b1.maskB));
            const __m256i w = pair(b0.weight, b1.weight);
            const __m256i lo = lerp16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero),
                                      _mm256_unpacklo_epi8(w, zero));
            const __m256i hi = lerp16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero),
                                      _mm256_unpackhi_epi8(w, zero));
            const __m256i packed = _mm256_packus_epi16(lo, hi);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(packed));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12),
                             _mm256_extracti128_si256(packed, 1));
        } else if (twoGathered) {
            const ColumnBlock& b1 = m_blocks[size_t(k) + 1];
            // Pixels 0 and 1 of each block in one register, 2 and 3 in the other.
            const __m256i p01 =
                _mm256_shuffle_epi8(pair(loadTwo8(srcRow + b0.load[0], srcRow + b0.load[1]),
                                         loadTwo8(srcRow + b1.load[0], srcRow + b1.load[1])),
                                    pair(b0.maskA, b1.maskA));
            const __m256i p23 =
                _mm256_shuffle_epi8(pair(loadTwo8(srcRow + b0.load[2], srcRow + b0.load[3]),
                                         loadTwo8(srcRow + b1.load[2], srcRow + b1.load[3])),
                                    pair(b0.maskB, b1.maskB));
            const __m256i w = pair(b0.weight, b1.weight);
            const __m256i r01 =
                lerp16(_mm256_unpacklo_epi8(p01, zero), _mm256_unpackhi_epi8(p01, zero),
                       _mm256_unpacklo_epi8(w, zero));
            const __m256i r23 =
                lerp16(_mm256_unpacklo_epi8(p23, zero), _mm256_unpackhi_epi8(p23, zero),
                       _mm256_unpackhi_epi8(w, zero));
            const __m256i packed = _mm256_shuffle_epi8(_mm256_packus_epi16(r01, r23), closeGap);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(packed));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12),
                             _mm256_extracti128_si256(packed, 1));
        } else {
            for (int j = k; j < std::min(k + 2, blocks); ++j) {
                filterBlockSsse3(srcRow, out, j);
            }
        }
    }
    filterPixels(srcRow, out, 4 * blocks, m_colDstWidth);
}
#endif

void BilinearScaler24::filterRow(const uint8_t* srcRow, uint8_t* out) const {
    switch (m_path) {
#if defined(TAVREL_SCALER_X86)
        case ScalerPath::Avx2:
            filterBlocksAvx2(srcRow, out);
            return;
        case ScalerPath::Ssse3:
            filterBlocksSsse3(srcRow, out);
            return;
#endif
        default:
            filterPixels(srcRow, out, 0, m_colDstWidth);
            return;
    }
}

namespace {

#if defined(TAVREL_SCALER_X86)
// blendRows on 32 bytes per step; returns how many bytes it did (a multiple of 32).
__attribute__((target("avx2"))) int blendRowsAvx2(const uint8_t* a, const uint8_t* b, unsigned wb,
                                                  uint8_t* dst, int count) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i wa16 = _mm256_set1_epi16(short(256 - wb));
    const __m256i wb16 = _mm256_set1_epi16(short(wb));
    const __m256i round = _mm256_set1_epi16(128);
    int i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(va, zero), wa16),
                                      _mm256_mullo_epi16(_mm256_unpacklo_epi8(vb, zero), wb16));
        __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(va, zero), wa16),
                                      _mm256_mullo_epi16(_mm256_unpackhi_epi8(vb, zero), wb16));
        lo = _mm256_srli_epi16(_mm256_add_epi16(lo, round), 8);
        hi = _mm256_srli_epi16(_mm256_add_epi16(hi, round), 8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_packus_epi16(lo, hi));
    }
    return i;
}

// blendRows on 16 bytes per step from byte i on; returns where it stopped.
__attribute__((target("sse2"))) int blendRowsSse2(const uint8_t* a, const uint8_t* b, unsigned wb,
                                                  uint8_t* dst, int i, int count) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i wa16 = _mm_set1_epi16(short(256 - wb));
    const __m128i wb16 = _mm_set1_epi16(short(wb));
    const __m128i round = _mm_set1_epi16(128);
    for (; i + 16 <= count; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), wa16),
                                   _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), wb16));
        __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), wa16),
                                   _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), wb16));
        lo = _mm_srli_epi16(_mm_add_epi16(lo, round), 8);
        hi = _mm_srli_epi16(_mm_add_epi16(hi, round), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
    }
    return i;
}
#endif

// One output row from two filtered rows: weight wb (1..255) of row b in 1/256, rounded.
// a * (256 - wb) + b * wb + 128 never exceeds 65408, so 16-bit lanes suffice; the vector
// loops and the scalar tail compute the same formula. The AVX2 path hands what is left of the
// row (under 32 bytes) to the 16-byte loop, which its processors run; the portable path is
// plain C++ throughout.
void blendRows(const uint8_t* a, const uint8_t* b, unsigned wb, uint8_t* dst, int count,
               ScalerPath path) {
    int i = 0;
#if defined(TAVREL_SCALER_X86)
    if (path == ScalerPath::Avx2) {
        i = blendRowsAvx2(a, b, wb, dst, count);
    }
    if (path != ScalerPath::Portable) {
        i = blendRowsSse2(a, b, wb, dst, i, count);
    }
#else
    (void)path;
#endif
    const unsigned wa = 256 - wb;
    for (; i < count; ++i) {
        dst[i] = uint8_t((a[i] * wa + b[i] * wb + 128) >> 8);
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
        if (row.size() < rowValues + kRowSlack) {
            row.resize(rowValues + kRowSlack);
        }
    }

    // Output rows walk the source downwards, so each source row is filtered horizontally
    // once and kept while the output rows that need it are blended (two rows cached).
    uint8_t* rowA = m_rowBuf[0].data();
    uint8_t* rowB = m_rowBuf[1].data();
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
        uint8_t* out = dst + int64_t(vMirror ? dstHeight - 1 - y : y) * dstStride;
        if (tap.weight == 0) {
            std::memcpy(out, rowA, rowValues);
            continue;
        }
        if (srcRowB != tap.i1) {
            filterRow(src + int64_t(tap.i1) * srcStride, rowB);
            srcRowB = tap.i1;
        }
        blendRows(rowA, rowB, unsigned(tap.weight), out, count, m_path);
    }
    return true;
}
