// Finding a bright circular field: the circle fit on points of known circles, and the analysis
// of synthetic frames.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "contracts/Image.h"
#include "display/CircleFit.h"

namespace {

std::vector<EdgePoint> OnCircle(double cx, double cy, double r, int n, double noise, uint32_t seed,
                                double from = 0.0, double to = 2 * std::numbers::pi) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> jitter(0.0, noise);
    std::vector<EdgePoint> points;
    for (int i = 0; i < n; ++i) {
        const double t = from + (to - from) * i / n;
        const double rr = r + (noise > 0 ? jitter(rng) : 0.0);
        points.push_back(
            {int(std::lround(cx + rr * std::cos(t))), int(std::lround(cy + rr * std::sin(t)))});
    }
    return points;
}

// A w x h frame, dark grey with a faint texture, and a textured bright disc at (cx, cy) counted
// from the top of the picture.
Image DiscFrame(int w, int h, double cx, double cy, double r) {
    Image img;
    img.Create(w, h, 24);
    std::mt19937 rng(7);
    for (int row = 0; row < h; ++row) {
        uint8_t* p = img.GetBits(row);
        const int top = h - 1 - row;
        for (int x = 0; x < w; ++x) {
            const bool inside = (x - cx) * (x - cx) + (top - cy) * (top - cy) <= r * r;
            const uint8_t v = uint8_t(inside ? 200 + rng() % 16 : 25 + rng() % 4);
            p[3 * x] = v;
            p[3 * x + 1] = uint8_t(v + 10);
            p[3 * x + 2] = v;
        }
    }
    return img;
}

}  // namespace

TEST(FitCircle, FindsKnownCirclesExactlyAndWithNoise) {
    const auto exact = FitCircle(OnCircle(300, 260, 120, 40, 0.0, 1));
    ASSERT_TRUE(exact);
    EXPECT_NEAR(exact->cx, 300, 1);
    EXPECT_NEAR(exact->cy, 260, 1);
    EXPECT_NEAR(exact->r, 120, 0.5);

    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const auto noisy = FitCircle(OnCircle(812, 455, 301, 40, 1.5, seed));
        ASSERT_TRUE(noisy);
        EXPECT_NEAR(noisy->cx, 812, 2) << seed;
        EXPECT_NEAR(noisy->cy, 455, 2) << seed;
        EXPECT_NEAR(noisy->r, 301, 1.5) << seed;
    }

    // Only an arc of a third of the circle, as the scans find near a frame's edge.
    const auto arc = FitCircle(OnCircle(500, 300, 200, 20, 0.0, 1, 0.2, 2.3));
    ASSERT_TRUE(arc);
    EXPECT_NEAR(arc->cx, 500, 2);
    EXPECT_NEAR(arc->cy, 300, 2);
    EXPECT_NEAR(arc->r, 200, 2);

    // A centre left of or above the frame is raised to 0.
    const auto left = FitCircle(OnCircle(-30, 100, 80, 30, 0.0, 1));
    ASSERT_TRUE(left);
    EXPECT_EQ(left->cx, 0);
    EXPECT_NEAR(left->r, 80, 0.5);
}

TEST(FitCircle, RejectsTooFewAndCollinearPoints) {
    const std::vector<EdgePoint> two{{0, 0}, {10, 10}};
    EXPECT_FALSE(FitCircle(two));
    const std::vector<EdgePoint> diagonal{{1, 2}, {3, 6}, {5, 10}, {400, 800}, {9000, 18000}};
    EXPECT_FALSE(FitCircle(diagonal));
    std::vector<EdgePoint> row;
    for (int x = 0; x < 40; ++x) {
        row.push_back({x * 37, 200});
    }
    EXPECT_FALSE(FitCircle(row));
    std::vector<EdgePoint> column;
    for (int y = 0; y < 40; ++y) {
        column.push_back({1, 1 + 24 * y});
    }
    EXPECT_FALSE(FitCircle(column));
}

TEST(AutoCenterOnCircle, CentresAndCropsOnABrightDisc) {
    const AutoCenterResult res = AutoCenterOnCircle(DiscFrame(640, 480, 300, 260, 120), 640, 480);
    ASSERT_EQ(res.outcome, AutoCenterResult::Outcome::Centred);
    EXPECT_NEAR(res.viewZoom, 2.0f, 0.03f);
    EXPECT_NEAR(res.cx, 300, 2);
    EXPECT_NEAR(res.cy, 260, 2);
    EXPECT_GE(res.edgePoints, 16);
    EXPECT_LE(res.edgePoints, 42);
}

TEST(AutoCenterOnCircle, RejectsWhatIsNoUsableCircle) {
    using O = AutoCenterResult::Outcome;
    // Radius 50 needs a scale of 4.8.
    EXPECT_EQ(AutoCenterOnCircle(DiscFrame(640, 480, 300, 260, 50), 640, 480).outcome,
              O::OutOfRange);
    // Nothing is brighter than the mean of a uniform frame.
    Image flat;
    flat.Create(640, 480, 24);
    flat.Clear(128);
    const AutoCenterResult uniform = AutoCenterOnCircle(flat, 640, 480);
    EXPECT_EQ(uniform.outcome, O::NoCircle);
    EXPECT_EQ(uniform.edgePoints, 0);
    // Wider than the frame is tall.
    EXPECT_EQ(AutoCenterOnCircle(DiscFrame(640, 480, 320, 240, 300), 640, 480).outcome,
              O::NoCircle);
    // A frame of 10 rows has no row step: not analysed at all, not scanned for ever.
    EXPECT_EQ(AutoCenterOnCircle(DiscFrame(640, 10, 320, 5, 4), 640, 10).outcome, O::NotAnalysed);
    EXPECT_EQ(AutoCenterOnCircle(Image(), 640, 480).outcome, O::NotAnalysed);
}

TEST(AutoCenterOnCircle, KeepsACircleAcrossAnEdgeInsideTheFrame) {
    // The field reaches past the left edge: the centre moves right to trunc(r), so the pan
    // square starts at the frame's first column.
    const AutoCenterResult left = AutoCenterOnCircle(DiscFrame(640, 480, 70, 240, 110), 640, 480);
    ASSERT_EQ(left.outcome, AutoCenterResult::Outcome::Centred);
    ASSERT_TRUE(left.fitted);
    EXPECT_LT(left.fitted->cx, left.fitted->r);
    EXPECT_EQ(left.cx, int(left.fitted->r));
    EXPECT_EQ(left.cy, left.fitted->cy);

    // And past the bottom edge of a frame analysed at another size than the stream's.
    const AutoCenterResult low = AutoCenterOnCircle(DiscFrame(640, 480, 320, 420, 100), 640, 480);
    ASSERT_EQ(low.outcome, AutoCenterResult::Outcome::Centred);
    EXPECT_EQ(low.cy, int(480 - low.fitted->r));
    EXPECT_LE(low.cy + low.fitted->r, 480.0);
}
