#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <limits>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture/FrameStore.h"
#include "capture/ImageResize.h"
#include "contracts/Image.h"

// Allocation counting for the "no allocation per frame" checks: only allocations made on the
// counting thread while counting is switched on are counted.
namespace {
thread_local bool t_countAllocations = false;
thread_local int t_allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (t_countAllocations) {
        ++t_allocations;
    }
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using Bytes = std::vector<uint8_t>;

Bytes randomFrame(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes f(size_t(w) * h * 3);
    for (auto& b : f) {
        b = uint8_t(rng());
    }
    return f;
}

const uint8_t* px(const Bytes& f, int w, int x, int y) {
    return f.data() + (size_t(y) * w + x) * 3;
}

bool isBlack(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

// The processed frame as the current image holds it, rows packed w * 3 bytes apart.
Bytes currentPixels(FrameStore& store) {
    Image img;
    if (!store.copyCurrentImage(img)) {
        return {};
    }
    const int w = img.GetWidth();
    const int h = img.GetHeight();
    Bytes out(size_t(w) * h * 3);
    for (int r = 0; r < h; ++r) {
        std::memcpy(out.data() + size_t(r) * w * 3, img.GetBits(r), size_t(w) * 3);
    }
    return out;
}

TransformState centred(int w, int h) {
    TransformState t;
    t.m_nCenterX = w / 2;
    t.m_nCenterY = h / 2;
    t.m_nVideoWidth = w;
    t.m_nVideoHeight = h;
    return t;
}

// The frame path done the plain way, one step after the other, each into its own buffer:
// view crop into a black work picture, digital-zoom crop into a padded crop buffer, resize,
// mirror through a whole-frame temporary, flip by swapping rows. The store must give the
// same bytes.
Bytes referenceFrame(const Bytes& in, int w, int h, const TransformState& t) {
    Bytes work(size_t(w) * h * 3, 0);
    int side = int(float(h) / t.m_fViewZoom);
    side = std::min(side, w);
    int64_t x0 = int64_t(t.m_nCenterX) - side / 2;
    int64_t y0 = int64_t(t.m_nCenterY) - side / 2;
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    const int dx = (w - side) / 2;
    const int dy = (h - side) / 2;
    for (int i = 0; i < side && y0 + i < h - 1; ++i) {
        for (int j = 0; j < side && x0 + j < w; ++j) {
            std::memcpy(&work[(size_t(dy + i) * w + dx + j) * 3],
                        px(in, w, int(x0 + j), int(y0 + i)), 3);
        }
    }

    // The region is at least one pixel, also for a video size smaller than the zoom.
    const int cw = std::max(1, std::min(int(float(t.m_nVideoWidth) / t.m_fZoom), w));
    const int ch = std::max(1, std::min(int(float(t.m_nVideoHeight) / t.m_fZoom), h));
    const int stride = ((cw * 24 / 8 + 3) / 4) * 4;
    Bytes crop(size_t(ch) * stride, 0);
    const int ox = std::max((w - cw) / 2, 0);
    const int oy = std::max((h - ch) / 2, 0);
    for (int r = 0; r < ch; ++r) {
        std::memcpy(&crop[size_t(r) * stride], &work[(size_t(oy + r) * w + ox) * 3],
                    size_t(cw) * 3);
    }

    Bytes out(size_t(w) * h * 3);
    BilinearScaler24 scaler(ScalerPath::Portable);
    EXPECT_TRUE(scaler.scale(crop.data(), stride, cw, ch, out.data(), w * 3, w, h));

    if (t.m_bHMirror) {
        const Bytes tmp = out;
        for (int r = 0; r < h; ++r) {
            for (int j = 0; j < w; ++j) {
                std::memcpy(&out[(size_t(r) * w + j) * 3], &tmp[(size_t(r) * w + w - 1 - j) * 3],
                            3);
            }
        }
    }
    if (t.m_bVMirror) {
        Bytes row(size_t(w) * 3);
        for (int k = 0; k < h / 2; ++k) {
            uint8_t* a = &out[size_t(k) * w * 3];
            uint8_t* b = &out[size_t(h - 1 - k) * w * 3];
            std::memcpy(row.data(), a, row.size());
            std::memcpy(a, b, row.size());
            std::memcpy(b, row.data(), row.size());
        }
    }
    return out;
}

// First differing pixel, for readable failures.
std::string firstDifference(const Bytes& a, const Bytes& b, int w) {
    if (a.size() != b.size()) {
        return "sizes differ: " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            const size_t p = i / 3;
            return "pixel (" + std::to_string(p % w) + ", " + std::to_string(p / w) + ") channel " +
                   std::to_string(i % 3) + ": " + std::to_string(a[i]) + " vs " +
                   std::to_string(b[i]);
        }
    }
    return "";
}

// The tests of the scaler and of the frame geometry run once on each scaler path; a path this
// machine cannot run is skipped, saying which.
class OnScalerPath : public ::testing::TestWithParam<ScalerPath> {
protected:
    void SetUp() override {
        if (!canRun(GetParam())) {
            GTEST_SKIP() << "this machine cannot run the " << scalerPathName(GetParam())
                         << " scaler path";
        }
    }
};

std::string pathName(const ::testing::TestParamInfo<ScalerPath>& info) {
    return scalerPathName(info.param);
}

}  // namespace

// Failure messages name the path rather than its bytes.
void PrintTo(ScalerPath path, std::ostream* os) {
    *os << scalerPathName(path);
}

// ---------------------------------------------------------------- the scaler

class BilinearScaler : public OnScalerPath {};
INSTANTIATE_TEST_SUITE_P(Path, BilinearScaler,
                         ::testing::Values(ScalerPath::Portable, ScalerPath::Ssse3,
                                           ScalerPath::Avx2),
                         pathName);

TEST_P(BilinearScaler, EqualSizeCopiesExactly) {
    const Bytes src = randomFrame(37, 11, 1);
    Bytes dst(src.size());
    BilinearScaler24 s(GetParam());
    ASSERT_TRUE(s.scale(src.data(), 37 * 3, 37, 11, dst.data(), 37 * 3, 37, 11));
    EXPECT_EQ(dst, src);
}

TEST_P(BilinearScaler, UpscaleInterpolatesBetweenNeighbours) {
    // Two pixels, 0 and 200, scaled to eight: pixel centres aligned, so the outer two
    // output pixels on each side hold the source values and the middle ones ramp up.
    const Bytes src = {0, 0, 0, 200, 200, 200};
    Bytes dst(8 * 3);
    BilinearScaler24 s(GetParam());
    ASSERT_TRUE(s.scale(src.data(), 6, 2, 1, dst.data(), 24, 8, 1));
    const int expected[8] = {0, 0, 25, 75, 125, 175, 200, 200};
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(dst[size_t(x) * 3], expected[x]) << "x = " << x;
        EXPECT_EQ(dst[size_t(x) * 3 + 2], expected[x]) << "x = " << x;
    }
    // The same vertically.
    Bytes col(8 * 3);
    ASSERT_TRUE(s.scale(src.data(), 3, 1, 2, col.data(), 3, 1, 8));
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(col[size_t(y) * 3 + 1], expected[y]) << "y = " << y;
    }
}

TEST_P(BilinearScaler, ConstantPictureStaysConstant) {
    const int sw = 13, sh = 7, dw = 64, dh = 45;
    Bytes src(size_t(sw) * sh * 3);
    for (size_t i = 0; i < src.size(); ++i) {
        src[i] = uint8_t(i % 3 == 0 ? 17 : i % 3 == 1 ? 128 : 255);
    }
    Bytes dst(size_t(dw) * dh * 3);
    BilinearScaler24 s(GetParam());
    ASSERT_TRUE(s.scale(src.data(), sw * 3, sw, sh, dst.data(), dw * 3, dw, dh));
    for (size_t i = 0; i < dst.size(); i += 3) {
        ASSERT_EQ(dst[i], 17);
        ASSERT_EQ(dst[i + 1], 128);
        ASSERT_EQ(dst[i + 2], 255);
    }
}

TEST_P(BilinearScaler, MirrorsEqualScalingThenMirroring) {
    const int sw = 19, sh = 9, dw = 50, dh = 31;
    const Bytes src = randomFrame(sw, sh, 7);
    BilinearScaler24 s(GetParam());
    Bytes plain(size_t(dw) * dh * 3);
    ASSERT_TRUE(s.scale(src.data(), sw * 3, sw, sh, plain.data(), dw * 3, dw, dh));
    for (int m = 1; m < 4; ++m) {
        const bool hm = m & 1, vm = m & 2;
        Bytes mirrored(plain.size());
        ASSERT_TRUE(s.scale(src.data(), sw * 3, sw, sh, mirrored.data(), dw * 3, dw, dh, hm, vm));
        for (int y = 0; y < dh; ++y) {
            for (int x = 0; x < dw; ++x) {
                const int sx = hm ? dw - 1 - x : x;
                const int sy = vm ? dh - 1 - y : y;
                ASSERT_EQ(0, std::memcmp(px(mirrored, dw, x, y), px(plain, dw, sx, sy), 3))
                    << "h " << hm << " v " << vm << " at " << x << "," << y;
            }
        }
    }
}

// The documented formula, pixel by pixel: horizontal taps rounded to 8 bits, then the
// vertical blend rounded. Sizes cover scaling up, down, odd widths and mirrors.
TEST_P(BilinearScaler, FollowsTheDocumentedFormula) {
    struct Case {
        int sw, sh, dw, dh;
    };
    const Case cases[] = {{320, 240, 640, 480}, {581, 436, 641, 479}, {97, 31, 301, 77},
                          {640, 480, 320, 240}, {7, 5, 640, 3},       {1, 1, 17, 9},
                          {640, 1, 641, 2}};
    auto lerp = [](int a, int b, int f) { return (a * (256 - f) + b * f + 128) >> 8; };
    BilinearScaler24 s(GetParam());
    int seed = 0;
    for (const Case& c : cases) {
        const Bytes src = randomFrame(c.sw, c.sh, uint32_t(++seed));
        for (int m = 0; m < 4; ++m) {
            const bool hm = m & 1, vm = m & 2;
            Bytes dst(size_t(c.dw) * c.dh * 3);
            ASSERT_TRUE(s.scale(src.data(), c.sw * 3, c.sw, c.sh, dst.data(), c.dw * 3, c.dw, c.dh,
                                hm, vm));
            for (int y = 0; y < c.dh; ++y) {
                const BilinearTap ty = bilinearTap(y, c.sh, c.dh);
                for (int x = 0; x < c.dw; ++x) {
                    const BilinearTap tx = bilinearTap(x, c.sw, c.dw);
                    const int ox = hm ? c.dw - 1 - x : x;
                    const int oy = vm ? c.dh - 1 - y : y;
                    for (int ch = 0; ch < 3; ++ch) {
                        auto row = [&](int r) {
                            return lerp(px(src, c.sw, tx.i0, r)[ch], px(src, c.sw, tx.i1, r)[ch],
                                        tx.weight);
                        };
                        const int top = row(ty.i0);
                        const int expected =
                            ty.weight == 0 ? top : lerp(top, row(ty.i1), ty.weight);
                        ASSERT_EQ(px(dst, c.dw, ox, oy)[ch], expected)
                            << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " mirrors "
                            << hm << vm << " at " << x << "," << y;
                    }
                }
            }
        }
    }
}

// Each vector path against the portable one on random pictures: every pair of widths up to 40
// (whole and partial four-pixel blocks, rows shorter than one vector step or one eight-byte
// load, scaling down too far for a block's 16-byte window), widths around the vector steps,
// camera widths scaled by near and far ratios and shrunk to preview widths, each with both
// mirrors, through one scaler per path so that its tables are rebuilt in place from size to
// size. Every source ends where its allocation ends (a read past it shows under the address
// sanitizer) and every output row is followed by padding that must stay as it was.
class ScalerVectorPath : public OnScalerPath {};
INSTANTIATE_TEST_SUITE_P(Path, ScalerVectorPath,
                         ::testing::Values(ScalerPath::Ssse3, ScalerPath::Avx2), pathName);

TEST_P(ScalerVectorPath, MatchesThePortablePathByteForByte) {
    BilinearScaler24 vectorised(GetParam());
    ASSERT_EQ(vectorised.path(), GetParam()) << "the test would compare the wrong code";
    BilinearScaler24 portable(ScalerPath::Portable);
    struct Widths {
        int src, dst;
    };
    std::vector<Widths> widths;
    for (int sw = 1; sw <= 40; ++sw) {
        for (int dw = 1; dw <= 40; ++dw) {
            widths.push_back({sw, dw});
        }
    }
    for (int a : {47, 48, 49, 63, 64, 65, 127, 128, 129, 255, 256, 257, 641, 1919, 1920, 1921}) {
        for (int b : {1, 7, a - 1, a + 1, a * 4 / 5, a * 5 / 4, a / 2, a * 2 + 1}) {
            widths.push_back({a, b});
            widths.push_back({b, a});
        }
    }
    // Frames shrunk to the preview: ratios 1.1, 1.5, 2, 2.2, 3 and 4, where a block's source
    // pixels no longer fit one window.
    widths.insert(widths.end(), {{1920, 1728},
                                 {1920, 1280},
                                 {1920, 960},
                                 {1920, 873},
                                 {1920, 640},
                                 {1921, 480},
                                 {3840, 1728},
                                 {3840, 1280},
                                 {3840, 960},
                                 {1280, 1163}});
    constexpr uint8_t kPad = 0xA5;
    constexpr int kPadBytes = 7;
    std::mt19937 rng(2024);
    int compared = 0;
    for (const Widths& wd : widths) {
        const int sh = 1 + int(rng() % 5);
        const int dh = 1 + int(rng() % 7);
        const Bytes src = randomFrame(wd.src, sh, uint32_t(rng()));
        const int dstStride = wd.dst * 3 + kPadBytes;
        for (int m = 0; m < 4; ++m) {
            const bool hm = m & 1, vm = m & 2;
            Bytes expected(size_t(dstStride) * dh, kPad);
            Bytes got(expected.size(), kPad);
            ASSERT_TRUE(portable.scale(src.data(), wd.src * 3, wd.src, sh, expected.data(),
                                       dstStride, wd.dst, dh, hm, vm));
            ASSERT_TRUE(vectorised.scale(src.data(), wd.src * 3, wd.src, sh, got.data(), dstStride,
                                         wd.dst, dh, hm, vm));
            for (size_t i = 0; i < got.size(); ++i) {
                const int row = int(i / size_t(dstStride));
                const int col = int(i % size_t(dstStride));
                if (col >= wd.dst * 3) {
                    ASSERT_EQ(got[i], kPad)
                        << "written past the end of row " << row << ", " << wd.src << "x" << sh
                        << " -> " << wd.dst << "x" << dh << " mirrors " << hm << vm;
                }
                ASSERT_EQ(got[i], expected[i])
                    << "row " << row << " byte " << col << ", " << wd.src << "x" << sh << " -> "
                    << wd.dst << "x" << dh << " mirrors " << hm << vm;
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 6000);
}

TEST(BilinearScalerArguments, RejectsEmptySizes) {
    Bytes buf(12, 9);
    BilinearScaler24 s;
    EXPECT_FALSE(s.scale(buf.data(), 6, 0, 2, buf.data(), 6, 2, 2));
    EXPECT_FALSE(s.scale(buf.data(), 6, 2, 2, buf.data(), 6, 2, 0));
    EXPECT_FALSE(s.scale(nullptr, 6, 2, 2, buf.data(), 6, 2, 2));
    EXPECT_EQ(buf, Bytes(12, 9));
}

// ---------------------------------------------------------------- frame geometry

class FrameStoreGeometry : public OnScalerPath {};
INSTANTIATE_TEST_SUITE_P(Path, FrameStoreGeometry,
                         ::testing::Values(ScalerPath::Portable, ScalerPath::Ssse3,
                                           ScalerPath::Avx2),
                         pathName);

TEST_P(FrameStoreGeometry, ZoomOneKeepsMiddleSquareInPlaceAndNeverCopiesLastRow) {
    const int w = 640, h = 480;
    Bytes in = randomFrame(w, h, 42);
    // A marker in the frame's last row, which is never a source row.
    for (int x = 0; x < w; ++x) {
        std::memset(&in[(size_t(h - 1) * w + x) * 3], 0xAB, 3);
    }
    FrameStore store(GetParam());
    store.setTransform(centred(w, h));
    store.OnFrame(in.data(), w, h, 24);
    const Bytes out = currentPixels(store);
    ASSERT_EQ(out.size(), in.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* o = px(out, w, x, y);
            if (x >= 80 && x < 560 && y < h - 1) {
                ASSERT_EQ(0, std::memcmp(o, px(in, w, x, y), 3)) << x << "," << y;
            } else {
                ASSERT_TRUE(isBlack(o)) << "outside the square or last row at " << x << "," << y;
            }
        }
    }
}

TEST_P(FrameStoreGeometry, ZoomTwoShowsTheCentralRegionScaledToTheFrame) {
    const int w = 640, h = 480;
    // A smooth picture, so that bilinear samples can be predicted.
    Bytes in(size_t(w) * h * 3);
    auto value = [](double x, double y, int c) {
        return c == 0 ? x * 0.375 : c == 1 ? y * 0.5 : (x + y) * 0.2;
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                in[(size_t(y) * w + x) * 3 + c] = uint8_t(std::lround(value(x, y, c)));
            }
        }
    }
    FrameStore store(GetParam());
    TransformState t = centred(w, h);
    t.m_fZoom = 2.0f;
    store.setTransform(t);
    store.OnFrame(in.data(), w, h, 24);
    EXPECT_EQ(store.frameSizes().cropWidth, 320);
    EXPECT_EQ(store.frameSizes().cropHeight, 240);
    const Bytes out = currentPixels(store);
    ASSERT_EQ(out.size(), in.size());
    // Corners of the output are the corners of the central 320 x 240 region.
    EXPECT_EQ(0, std::memcmp(px(out, w, 0, 0), px(in, w, 160, 120), 3));
    EXPECT_EQ(0, std::memcmp(px(out, w, w - 1, 0), px(in, w, 479, 120), 3));
    EXPECT_EQ(0, std::memcmp(px(out, w, 0, h - 1), px(in, w, 160, 359), 3));
    EXPECT_EQ(0, std::memcmp(px(out, w, w - 1, h - 1), px(in, w, 479, 359), 3));
    // Every pixel is the region's picture at (x + 0.5) / 2 - 0.5, within rounding.
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double sx = 160 + std::clamp((x + 0.5) / 2 - 0.5, 0.0, 319.0);
            const double sy = 120 + std::clamp((y + 0.5) / 2 - 0.5, 0.0, 239.0);
            for (int c = 0; c < 3; ++c) {
                ASSERT_NEAR(px(out, w, x, y)[c], value(sx, sy, c), 1.01)
                    << x << "," << y << " channel " << c;
            }
        }
    }
}

TEST_P(FrameStoreGeometry, MirrorsTurnThePicture) {
    const int w = 320, h = 240;
    const Bytes in = randomFrame(w, h, 3);
    for (float zoom : {1.0f, 1.5f}) {
        Bytes results[4];
        for (int m = 0; m < 4; ++m) {
            FrameStore store(GetParam());
            TransformState t = centred(w, h);
            t.m_fZoom = zoom;
            t.m_bHMirror = m & 1;
            t.m_bVMirror = m & 2;
            store.setTransform(t);
            store.OnFrame(in.data(), w, h, 24);
            results[m] = currentPixels(store);
            ASSERT_EQ(results[m].size(), in.size());
        }
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint8_t* plain = px(results[0], w, x, y);
                ASSERT_EQ(0, std::memcmp(px(results[1], w, w - 1 - x, y), plain, 3));
                ASSERT_EQ(0, std::memcmp(px(results[2], w, x, h - 1 - y), plain, 3));
                ASSERT_EQ(0, std::memcmp(px(results[3], w, w - 1 - x, h - 1 - y), plain, 3))
                    << "both mirrors are a 180 degree turn, zoom " << zoom;
            }
        }
    }
}

TEST_P(FrameStoreGeometry, SquareBeyondTheRightEdgeIsClippedNotWrapped) {
    const int w = 640, h = 480;
    const Bytes in = randomFrame(w, h, 5);
    FrameStore store(GetParam());
    TransformState t = centred(w, h);
    t.m_fViewZoom = 2.0f;  // side 240
    t.m_nCenterX = 600;    // x0 = 480: only 160 columns lie inside the frame
    store.setTransform(t);
    store.OnFrame(in.data(), w, h, 24);
    const Bytes out = currentPixels(store);
    const int dx = 200, dy = 120;  // (640 - 240) / 2, (480 - 240) / 2; y0 = 240 - 120 = 120
    for (int i = 0; i < 240; ++i) {
        for (int j = 0; j < 240; ++j) {
            const uint8_t* o = px(out, w, dx + j, dy + i);
            if (j < 160) {
                ASSERT_EQ(0, std::memcmp(o, px(in, w, 480 + j, 120 + i), 3));
            } else {
                ASSERT_TRUE(isBlack(o)) << "beyond the frame's edge at column " << j;
            }
        }
    }
}

TEST_P(FrameStoreGeometry, TallFrameGetsASquareClippedToTheFrame) {
    const int w = 480, h = 640;
    const Bytes in = randomFrame(w, h, 9);
    FrameStore store(GetParam());
    store.setTransform(centred(w, h));  // side = min(640, 480) = 480, x0 = 0, y0 = 80
    store.OnFrame(in.data(), w, h, 24);
    const Bytes out = currentPixels(store);
    ASSERT_EQ(out.size(), in.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (y >= 80 && y < 560) {
                ASSERT_EQ(0, std::memcmp(px(out, w, x, y), px(in, w, x, y), 3)) << x << "," << y;
            } else {
                ASSERT_TRUE(isBlack(px(out, w, x, y))) << x << "," << y;
            }
        }
    }
}

TEST_P(FrameStoreGeometry, OddWidthKeepsItsRows) {
    const int w = 641, h = 479;
    const Bytes in = randomFrame(w, h, 11);
    FrameStore store(GetParam());
    store.setTransform(centred(w, h));  // side 479 at x0 = 81, dx = 81
    store.OnFrame(in.data(), w, h, 24);
    const Bytes out = currentPixels(store);
    ASSERT_EQ(out.size(), in.size());
    for (int y = 0; y < h - 1; ++y) {
        ASSERT_EQ(0, std::memcmp(px(out, w, 81, y), px(in, w, 81, y), size_t(479) * 3)) << y;
        ASSERT_TRUE(isBlack(px(out, w, 80, y)));
        ASSERT_TRUE(isBlack(px(out, w, 560, y)));
    }
    Image img;
    ASSERT_TRUE(store.copyCurrentImage(img));
    EXPECT_EQ(img.GetWidth(), w);
    EXPECT_EQ(img.GetHeight(), h);
}

TEST_P(FrameStoreGeometry, PanMovesLeaveNoStalePixels) {
    const int w = 320, h = 240;
    FrameStore store(GetParam());
    TransformState t = centred(w, h);
    t.m_fViewZoom = 3.0f;  // side 80
    t.m_nCenterX = 50;
    t.m_nCenterY = 50;
    store.setTransform(t);
    const Bytes a = randomFrame(w, h, 21);
    store.OnFrame(a.data(), w, h, 24);
    // The pan moves so far right that nothing of the frame lies in the square.
    t.m_nCenterX = 10000;
    store.setTransform(t);
    const Bytes b = randomFrame(w, h, 22);
    store.OnFrame(b.data(), w, h, 24);
    const Bytes out = currentPixels(store);
    ASSERT_EQ(out.size(), b.size());
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0) << "stale pixel at byte " << i;
    }
}

// Random combinations of size, zoom, pan and mirror, frame after frame through one store,
// against the plain step-by-step order.
TEST_P(FrameStoreGeometry, MatchesTheStepByStepOrderBitForBit) {
    struct Size {
        int w, h;
    };
    // 110: an odd number of four-pixel blocks and a row that is no multiple of 16 bytes.
    const Size sizes[] = {{640, 480}, {641, 479}, {480, 640}, {320, 240}, {33, 17},
                          {17, 33},   {1, 1},     {2, 3},     {160, 90},  {110, 62}};
    const float zooms[] = {1.0f, 1.1f, 1.5f, 2.0000002f, 3.0f, 4.0f};
    const float viewZooms[] = {1.0f, 1.3f, 2.0f, 4.0f};
    std::mt19937 rng(1234);
    FrameStore store(GetParam());
    ASSERT_EQ(store.scalerPath(), GetParam());
    int frames = 0;
    for (const Size& sz : sizes) {
        // Video sizes: the frame's own, a larger and a smaller one.
        const Size videos[] = {sz, {sz.w * 5 / 4, sz.h * 5 / 4}, {sz.w / 2 + 1, sz.h / 2 + 1}};
        const int combos = sz.w * sz.h > 100000 ? 30 : 90;
        for (int k = 0; k < combos; ++k) {
            TransformState t;
            t.m_fZoom = zooms[rng() % 6];
            t.m_fViewZoom = viewZooms[rng() % 4];
            const Size video = videos[rng() % 3];
            t.m_nVideoWidth = video.w;
            t.m_nVideoHeight = video.h;
            switch (rng() % 5) {
                case 0:
                    t.m_nCenterX = sz.w / 2;
                    t.m_nCenterY = sz.h / 2;
                    break;
                case 1:
                    t.m_nCenterX = int(rng() % uint32_t(sz.w));
                    t.m_nCenterY = int(rng() % uint32_t(sz.h));
                    break;
                case 2:
                    t.m_nCenterX = -int(rng() % 1000);
                    t.m_nCenterY = sz.h + int(rng() % 1000);
                    break;
                case 3:
                    t.m_nCenterX = sz.w + int(rng() % 50);
                    t.m_nCenterY = -int(rng() % 50);
                    break;
                default:
                    t.m_nCenterX = sz.w - 1;
                    t.m_nCenterY = sz.h - 1;
                    break;
            }
            t.m_bHMirror = rng() & 1;
            t.m_bVMirror = rng() & 1;
            store.setTransform(t);
            const Bytes in = randomFrame(sz.w, sz.h, uint32_t(rng()));
            store.OnFrame(in.data(), sz.w, sz.h, 24);
            const Bytes expected = referenceFrame(in, sz.w, sz.h, store.transform());
            const Bytes got = currentPixels(store);
            ASSERT_EQ(firstDifference(got, expected, sz.w), "")
                << sz.w << "x" << sz.h << " zoom " << t.m_fZoom << " view " << t.m_fViewZoom
                << " centre " << t.m_nCenterX << "," << t.m_nCenterY << " video " << t.m_nVideoWidth
                << "x" << t.m_nVideoHeight << " mirrors " << t.m_bHMirror << t.m_bVMirror
                << " frame " << frames;
            ++frames;
        }
    }
    EXPECT_GT(frames, 500);
}

TEST_P(FrameStoreGeometry, ExtremeTransformsStayInsideTheBuffers) {
    const int w = 64, h = 48;
    const Bytes in = randomFrame(w, h, 77);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const int centres[][2] = {
        {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {-100000, 24}, {32, 100000}, {w, h}, {w - 1, 0}};
    const float factors[] = {1.0f, 4.0f, 1000.0f, inf, nan, 0.0f, -2.0f, 0.5f};
    FrameStore store(GetParam());
    for (const auto& c : centres) {
        for (float f : factors) {
            for (float z : factors) {
                TransformState t;
                t.m_nCenterX = c[0];
                t.m_nCenterY = c[1];
                t.m_fViewZoom = f;
                t.m_fZoom = z;
                t.m_bHMirror = (c[0] & 1) != 0;
                t.m_bVMirror = f > 2;
                store.setTransform(t);
                store.OnFrame(in.data(), w, h, 24);
                ASSERT_EQ(currentPixels(store).size(), in.size());
            }
        }
    }
    // Video sizes that make the zoom region empty or huge.
    for (int video : {0, -5, 1, INT_MAX}) {
        store.setVideoSize(video, video);
        store.OnFrame(in.data(), w, h, 24);
        ASSERT_EQ(currentPixels(store).size(), in.size());
    }
    // A centre far outside the frame copies nothing: the picture is black.
    TransformState t;
    t.m_nCenterX = INT_MAX;
    t.m_nVideoWidth = w;
    t.m_nVideoHeight = h;
    store.setTransform(t);
    store.OnFrame(in.data(), w, h, 24);
    for (uint8_t b : currentPixels(store)) {
        ASSERT_EQ(b, 0);
    }
}

// ---------------------------------------------------------------- store life cycle

TEST(FrameStoreLifecycle, BuffersAreReallocatedOnlyWhenTheSizeChanges) {
    FrameStore store;
    EXPECT_EQ(store.reallocationCount(), 0);
    const Bytes big = randomFrame(640, 480, 1);
    const Bytes small = randomFrame(320, 240, 2);
    TransformState t = centred(640, 480);
    store.setTransform(t);
    for (int i = 0; i < 3; ++i) {
        store.OnFrame(big.data(), 640, 480, 24);
    }
    EXPECT_EQ(store.reallocationCount(), 1);
    store.OnFrame(small.data(), 320, 240, 24);
    EXPECT_EQ(store.reallocationCount(), 2);
    for (int i = 0; i < 5; ++i) {
        t.m_fZoom = 1.0f + 0.25f * float(i);
        t.m_bHMirror = i & 1;
        t.m_nCenterX = 100 + 10 * i;
        store.setTransform(t);
        store.OnFrame(small.data(), 320, 240, 24);
    }
    EXPECT_EQ(store.reallocationCount(), 2) << "zoom, pan and mirror reuse the buffers";
    store.OnFrame(big.data(), 640, 480, 24);
    EXPECT_EQ(store.reallocationCount(), 3);
    const FrameStore::FrameSizes sizes = store.frameSizes();
    EXPECT_EQ(sizes.width, 640);
    EXPECT_EQ(sizes.height, 480);
    EXPECT_EQ(sizes.bpp, 24);
}

TEST(FrameStoreLifecycle, FramesOfAFixedSizeAllocateNothing) {
    const int w = 320, h = 240;
    const Bytes in = randomFrame(w, h, 8);
    FrameStore store;
    int published = 0;
    store.onFramePublished = [&published] { ++published; };
    TransformState t = centred(w, h);
    t.factoryMode = true;
    store.setTransform(t);
    // Warm up: the first frame sizes the buffers, the first zoomed one the scaler.
    store.OnFrame(in.data(), w, h, 24);
    t.m_fZoom = 2.0f;
    store.setTransform(t);
    store.OnFrame(in.data(), w, h, 24);

    std::mt19937 rng(5);
    t_allocations = 0;
    t_countAllocations = true;
    for (int i = 0; i < 40; ++i) {
        t.m_fZoom = 1.0f + float(rng() % 30) / 10.0f;
        t.m_fViewZoom = 1.0f + float(rng() % 30) / 10.0f;
        t.m_nCenterX = int(rng() % 400) - 40;
        t.m_nCenterY = int(rng() % 300) - 30;
        t.m_bHMirror = rng() & 1;
        t.m_bVMirror = rng() & 1;
        store.setTransform(t);
        store.OnFrame(in.data(), w, h, 24);
    }
    t_countAllocations = false;
    EXPECT_EQ(t_allocations, 0);
    EXPECT_EQ(published, 42);
}

TEST(FrameStoreLifecycle, HooksRunOncePerFrameInsideTheLock) {
    const int w = 64, h = 48;
    const Bytes in = randomFrame(w, h, 4);
    FrameStore store;
    std::vector<char> calls;
    bool lockedDuringRecorder = true;
    bool sizeForRecorder = true;
    std::vector<std::future<bool>> readers;
    store.onRecorderStep = [&](int width, int height) {
        calls.push_back('r');
        // Another thread cannot read the store while the hook runs: its read waits for the
        // frame lock until the frame is published.
        std::promise<void> started;
        readers.push_back(std::async(std::launch::async, [&store, &started] {
            started.set_value();
            return store.hasCurrentImage();
        }));
        started.get_future().wait();
        lockedDuringRecorder =
            lockedDuringRecorder &&
            readers.back().wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout;
        sizeForRecorder = sizeForRecorder && width == w && height == h;
    };
    store.onFramePublished = [&] { calls.push_back('p'); };
    store.setTransform(centred(w, h));
    for (int i = 0; i < 3; ++i) {
        store.OnFrame(in.data(), w, h, 24);
    }
    EXPECT_EQ(std::string(calls.begin(), calls.end()), "rprprp");
    EXPECT_TRUE(lockedDuringRecorder);
    EXPECT_TRUE(sizeForRecorder);
    for (std::future<bool>& reader : readers) {
        EXPECT_TRUE(reader.get()) << "the frame was published when the lock was released";
    }
}

TEST(FrameStoreLifecycle, UnusableFramesAreIgnored) {
    FrameStore store;
    int published = 0;
    store.onFramePublished = [&published] { ++published; };
    const Bytes in = randomFrame(8, 8, 1);
    EXPECT_EQ(store.OnFrame(nullptr, 8, 8, 24), 0);
    EXPECT_EQ(store.OnFrame(in.data(), 0, 8, 24), 0);
    EXPECT_EQ(store.OnFrame(in.data(), 8, -1, 24), 0);
    EXPECT_EQ(store.OnFrame(in.data(), 2, 8, 32), 0);
    EXPECT_EQ(store.OnFrame(in.data(), 8, 8, 8), 0);
    EXPECT_EQ(store.OnFrame(in.data(), FrameStore::kMaxFrameSide + 1, 1, 24), 0);
    EXPECT_EQ(published, 0);
    EXPECT_FALSE(store.hasCurrentImage());
    EXPECT_FALSE(store.videoSizeLatched());
    EXPECT_EQ(store.reallocationCount(), 0);
    EXPECT_EQ(store.transform().m_nVideoWidth, 640);
}

TEST(FrameStoreLifecycle, FirstFrameLatchesTheVideoSizeOnce) {
    FrameStore store;
    EXPECT_EQ(store.transform().m_nVideoWidth, 640);
    EXPECT_EQ(store.transform().m_nVideoHeight, 480);
    const Bytes a = randomFrame(160, 120, 1);
    store.OnFrame(a.data(), 160, 120, 24);
    EXPECT_TRUE(store.videoSizeLatched());
    EXPECT_EQ(store.transform().m_nVideoWidth, 160);
    EXPECT_EQ(store.transform().m_nVideoHeight, 120);
    // Later frames do not change it; a format choice does.
    const Bytes b = randomFrame(80, 60, 2);
    store.OnFrame(b.data(), 80, 60, 24);
    EXPECT_EQ(store.transform().m_nVideoWidth, 160);
    store.setVideoSize(80, 60);
    EXPECT_EQ(store.transform().m_nVideoWidth, 80);
    EXPECT_EQ(store.transform().m_nVideoHeight, 60);
}

TEST(FrameStoreLifecycle, FactoryModeKeepsTheRawFrame) {
    const int w = 100, h = 60;
    const Bytes in = randomFrame(w, h, 31);
    for (bool factory : {false, true}) {
        FrameStore store;
        TransformState t = centred(w, h);
        t.factoryMode = factory;
        t.m_fZoom = 2.0f;
        t.m_bHMirror = true;
        store.setTransform(t);
        store.OnFrame(in.data(), w, h, 24);
        ASSERT_TRUE(store.hasCurrentImage());
        Image raw;
        if (!factory) {
            EXPECT_FALSE(store.copyRawImage(raw));
            continue;
        }
        ASSERT_TRUE(store.copyRawImage(raw));
        ASSERT_EQ(raw.GetWidth(), w);
        ASSERT_EQ(raw.GetHeight(), h);
        for (int r = 0; r < h; ++r) {
            ASSERT_EQ(0, std::memcmp(raw.GetBits(r), px(in, w, 0, r), size_t(w) * 3)) << r;
        }
    }
}

TEST(FrameStoreLifecycle, DeleteAndFreeStartOverWithTheNextFrame) {
    const Bytes in = randomFrame(64, 48, 6);
    FrameStore store;
    TransformState t = centred(64, 48);
    t.factoryMode = true;
    store.setTransform(t);
    store.OnFrame(in.data(), 64, 48, 24);
    EXPECT_TRUE(store.hasCurrentImage());
    store.DeleteCurrentImage();
    EXPECT_FALSE(store.hasCurrentImage());
    store.OnFrame(in.data(), 64, 48, 24);
    EXPECT_TRUE(store.hasCurrentImage());
    EXPECT_EQ(store.reallocationCount(), 1);

    store.Free();
    EXPECT_FALSE(store.hasCurrentImage());
    Image img;
    EXPECT_FALSE(store.copyRawImage(img));
    EXPECT_FALSE(store.copyCurrentImage(img));
    EXPECT_EQ(store.frameSizes().width, 0);
    store.OnFrame(in.data(), 64, 48, 24);
    EXPECT_TRUE(store.hasCurrentImage());
    EXPECT_EQ(store.reallocationCount(), 2);
    EXPECT_EQ(currentPixels(store), referenceFrame(in, 64, 48, store.transform()));
}

// The GUI thread flips between two whole transforms while frames arrive and a reader copies
// the picture: every frame shows one of the two, never a mix.
TEST(FrameStoreThreads, EachFrameSeesOneWholeTransform) {
    const int w = 96, h = 64;
    const Bytes in = randomFrame(w, h, 99);
    TransformState a = centred(w, h);
    TransformState b = a;
    b.m_fZoom = 2.0f;
    b.m_nCenterX = 20;
    b.m_nCenterY = 50;
    b.m_bHMirror = true;
    b.m_bVMirror = true;
    const Bytes expectA = referenceFrame(in, w, h, a);
    const Bytes expectB = referenceFrame(in, w, h, b);
    ASSERT_NE(expectA, expectB);

    FrameStore store;
    store.setTransform(a);
    std::atomic<bool> stop{false};
    std::thread gui([&] {
        bool useB = false;
        while (!stop.load()) {
            store.setTransform(useB ? b : a);
            useB = !useB;
            std::this_thread::yield();
        }
    });
    std::thread reader([&] {
        Image copy;
        while (!stop.load()) {
            store.copyCurrentImage(copy);
        }
    });
    int mixed = 0;
    for (int i = 0; i < 200; ++i) {
        store.OnFrame(in.data(), w, h, 24);
        const Bytes got = currentPixels(store);
        if (got != expectA && got != expectB) {
            ++mixed;
        }
    }
    stop = true;
    gui.join();
    reader.join();
    EXPECT_EQ(mixed, 0);
}
