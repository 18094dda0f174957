#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The code a scaler runs: plain C++, which every machine runs, or one of the x86 vector forms
// (SSSE3: four pixels or 16 bytes per step; AVX2: twice that). All three compute the same sums
// and give the same bytes; they differ only in speed.
enum class ScalerPath { Portable, Ssse3, Avx2 };

// Whether this build and this processor can run `path` (Portable: always).
bool canRun(ScalerPath path);
// The fastest path this machine can run.
ScalerPath bestPath();
// "portable", "ssse3" or "avx2", for test and benchmark names.
const char* scalerPathName(ScalerPath path);

// Bilinear scaling of 24-bit pictures (3 bytes per pixel, any channel order; rows in any
// order, the scaler never looks at their meaning). The digital zoom uses it on every frame.
//
// Sampling: output pixel x samples the source at (x + 0.5) * srcWidth / dstWidth - 0.5,
// clamped to the picture (pixel centres aligned), with weights in steps of 1/256; rows are
// filtered horizontally first (rounded to 8 bits), then blended vertically (rounded). Equal
// sizes copy the picture unchanged, bit for bit.
//
// The scaler keeps its column tables and two filtered source rows between calls, so scaling
// frame after frame at one output width allocates nothing; a change of the source size, the
// output size or the mirror only recomputes the tables in place. One scaler serves one thread.
class BilinearScaler24 {
public:
    // The scaler runs `path`. A path the machine cannot run is not refused: the scaler takes
    // the fastest path below it that it can run (Avx2 falls back to Ssse3, Ssse3 to Portable),
    // so the result is the same; path() tells which one it took.
    explicit BilinearScaler24(ScalerPath path = bestPath());

    ScalerPath path() const { return m_path; }

    // Scales src (srcWidth x srcHeight pixels, rows srcStride bytes apart) into dst (dstWidth x
    // dstHeight pixels, rows dstStride bytes apart). hMirror writes every row reversed and
    // vMirror writes the rows in reverse order: the result is exactly the scaled picture
    // mirrored afterwards, without a second pass. src and dst must not overlap. Returns false,
    // dst untouched, for null pointers or a size below 1.
    bool scale(const uint8_t* src, int srcStride, int srcWidth, int srcHeight, uint8_t* dst,
               int dstStride, int dstWidth, int dstHeight, bool hMirror = false,
               bool vMirror = false);

private:
    void prepareColumns(int srcWidth, int dstWidth, bool hMirror);
    // Filters one source row horizontally into out (dstWidth * 3 bytes, plus kRowSlack
    // bytes the vector path may scribble on).
    void filterRow(const uint8_t* srcRow, uint8_t* out) const;
    void filterPixels(const uint8_t* srcRow, uint8_t* out, int from, int to) const;
    void filterBlocksSsse3(const uint8_t* srcRow, uint8_t* out) const;
    void filterBlockSsse3(const uint8_t* srcRow, uint8_t* out, int k) const;
    void filterBlocksAvx2(const uint8_t* srcRow, uint8_t* out) const;

    static constexpr size_t kRowSlack = 16;

    ScalerPath m_path;  // one the machine can run

    // Per output column: byte offsets of the two source pixels and the weight of the second
    // (0..255 of 256). Built for m_colSrcWidth -> m_colDstWidth with m_colMirror.
    std::vector<int32_t> m_colOffset0;
    std::vector<int32_t> m_colOffset1;
    std::vector<uint16_t> m_colWeight;
    // The same table in blocks of four output pixels for the vector paths, each block of one
    // of three kinds (see prepareColumns):
    //  - window (base >= 0): the block's source pixels lie within the 16 bytes from base on;
    //    maskA and maskB shuffle them into the first and second pixels' channels, weight holds
    //    the second pixel's weight per output byte.
    //  - gathered (base == kGathered): each output pixel's two source pixels are loaded on
    //    their own, eight bytes from load[p]; maskA arranges pixels 0 and 1 of those loads as
    //    first pixels' channels in bytes 0..5 and second pixels' in bytes 8..13, maskB pixels
    //    2 and 3 alike; weight holds pixels 0 and 1's weights in bytes 0..5, 2 and 3's in 8..13.
    //  - by pixel (base == kByPixel): rows too short for an eight-byte load.
    static constexpr int32_t kGathered = -1;
    static constexpr int32_t kByPixel = -2;
    struct ColumnBlock {
        uint8_t maskA[16];
        uint8_t maskB[16];
        uint8_t weight[16];
        int32_t base;
        int32_t load[4];
    };
    std::vector<ColumnBlock> m_blocks;
    int m_colSrcWidth = -1;
    int m_colDstWidth = -1;
    bool m_colMirror = false;

    // Two horizontally filtered source rows.
    std::vector<uint8_t> m_rowBuf[2];
};

// Where an output position samples the source: source index i0, its neighbour i1 (equal to
// i0 at the last pixel) and the weight of i1 in 1/256 steps. Shared by the scaler's rows and
// columns; exposed for the tests.
struct BilinearTap {
    int i0 = 0;
    int i1 = 0;
    int weight = 0;
};
BilinearTap bilinearTap(int dstIndex, int srcSize, int dstSize);
