// The overlay canvas geometry (edge mask and crosshair) and the prepared blend, checked pixel by
// pixel against the geometry as a user measures it on screen.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "contracts/Image.h"
#include "display/Overlay.h"

namespace {

bool IsWhite(const Image& img, int x, int y) {
    const uint8_t* p = img.GetBits(y) + x * 3;
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

ColorRef PixelColour(const Image& img, int x, int y) {
    const uint8_t* p = img.GetBits(y) + x * 3;
    return MakeColorRef(p[2], p[1], p[0]);
}

OverlaySettings MaskOnly(float radius, ColorRef colour = 0x000000) {
    OverlaySettings s;
    s.m_bMaskEnable = 1;
    s.m_bCrossEnable = 0;
    s.m_fMaskRadius = radius;
    s.m_clrMask = colour;
    return s;
}

OverlaySettings CrossOnly(float size, ColorRef colour = 0x0000FF) {
    OverlaySettings s;
    s.m_bMaskEnable = 0;
    s.m_bCrossEnable = 1;
    s.m_fCrossSize = size;
    s.m_clrCross = colour;
    return s;
}

// A frame with a different colour in every pixel.
Image Pattern(int w, int h, unsigned seed) {
    Image img;
    img.Create(w, h, 24);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = img.GetBits(y);
        for (int x = 0; x < w * 3; ++x) {
            p[x] = uint8_t(rng());
        }
    }
    return img;
}

// The blend as a user sees it: every non-white overlay pixel replaces the frame pixel.
Image ReferenceBlend(const Image& frame, const Image& canvas) {
    Image out(frame);
    for (int y = 0; y < frame.GetHeight(); ++y) {
        for (int x = 0; x < frame.GetWidth(); ++x) {
            if (!IsWhite(canvas, x, y)) {
                std::memcpy(out.GetBits(y) + x * 3, canvas.GetBits(y) + x * 3, 3);
            }
        }
    }
    return out;
}

bool SamePixels(const Image& a, const Image& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) {
        return false;
    }
    for (int y = 0; y < a.GetHeight(); ++y) {
        if (std::memcmp(a.GetBits(y), b.GetBits(y), size_t(a.GetWidth()) * 3) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(OverlayGeometry, MaskRadiusHalfOn640x480LeavesDiscOfRadius240) {
    const Image canvas = BuildOverlayImage(MaskOnly(0.5f, 0x123456), 640, 480);
    ASSERT_TRUE(canvas.IsValid());
    EXPECT_EQ(canvas.GetWidth(), 640);
    EXPECT_EQ(canvas.GetHeight(), 480);
    // Column 320: the clear disc spans buffer rows 1 to 479.
    EXPECT_EQ(PixelColour(canvas, 320, 0), 0x123456u);
    for (int y = 1; y < 480; ++y) {
        ASSERT_TRUE(IsWhite(canvas, 320, y)) << "row " << y;
    }
    // Every pixel at distance 240 or more is masked, every closer one is clear.
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const double d = std::sqrt(double((320 - x) * (320 - x) + (240 - y) * (240 - y)));
            ASSERT_EQ(!IsWhite(canvas, x, y), d >= 240.0) << x << "," << y;
        }
    }
    // The corners are masked in the chosen colour: 0x123456 is red 0x56, green 0x34, blue
    // 0x12, stored blue, green, red.
    const uint8_t* corner = canvas.GetBits(479) + 639 * 3;
    EXPECT_EQ(corner[0], 0x12);
    EXPECT_EQ(corner[1], 0x34);
    EXPECT_EQ(corner[2], 0x56);
}

TEST(OverlayGeometry, CrossQuarterOn640x480) {
    const Image c = BuildOverlayImage(CrossOnly(0.25f), 640, 480);
    // s = 120, t = 30: horizontal line on row 240, columns 200 .. 439.
    for (int x = 200; x <= 439; ++x) {
        ASSERT_EQ(PixelColour(c, x, 240), 0x0000FFu) << x;
    }
    EXPECT_TRUE(IsWhite(c, 199, 240));
    EXPECT_FALSE(IsWhite(c, 440, 240));  // the right vertical tick crosses row 240
    EXPECT_TRUE(IsWhite(c, 441, 240));
    // Horizontal ticks on rows 120 and 360, columns 290 .. 349.
    for (int row : {120, 360}) {
        EXPECT_TRUE(IsWhite(c, 289, row)) << row;
        for (int x = 290; x <= 349; ++x) {
            ASSERT_FALSE(IsWhite(c, x, row)) << x << "," << row;
        }
        EXPECT_TRUE(IsWhite(c, 350, row)) << row;
    }
    // Vertical ticks on columns 200 and 440, rows 210 .. 269.
    for (int col : {200, 440}) {
        EXPECT_TRUE(IsWhite(c, col, 209)) << col;
        for (int y = 210; y <= 269; ++y) {
            ASSERT_FALSE(IsWhite(c, col, y)) << col << "," << y;
        }
        EXPECT_TRUE(IsWhite(c, col, 270)) << col;
    }
    // Vertical line on column 320, rows 120 .. 359 (row 360 is the lower tick).
    for (int y = 120; y <= 360; ++y) {
        ASSERT_FALSE(IsWhite(c, 320, y)) << y;
    }
    EXPECT_TRUE(IsWhite(c, 320, 119));
    EXPECT_TRUE(IsWhite(c, 320, 361));
    // Rings of radius 60 and 30: pixels at distance within 1 of the radius, nothing between.
    EXPECT_FALSE(IsWhite(c, 320 + 36, 240 + 48));  // d = 60
    EXPECT_FALSE(IsWhite(c, 320 + 35, 240 + 48));  // d = 59.41
    EXPECT_TRUE(IsWhite(c, 320 + 34, 240 + 47));   // d = 58.0
    EXPECT_FALSE(IsWhite(c, 320 - 18, 240 - 24));  // d = 30
    EXPECT_TRUE(IsWhite(c, 320 - 27, 240 - 36));   // d = 45
    EXPECT_TRUE(IsWhite(c, 320 - 10, 240 - 10));   // d = 14.1, inside the inner ring
}

TEST(OverlayGeometry, CrossHalfOn640x480DropsHorizontalTicksKeepsVertical) {
    const Image c = BuildOverlayImage(CrossOnly(0.5f), 640, 480);
    // s = 240, t = 60: Y - s = 0, so no tick on row 0 (columns 260 .. 379 stay white).
    for (int x = 260; x <= 379; ++x) {
        if (x != 320) {  // the vertical line starts at row 0
            ASSERT_TRUE(IsWhite(c, x, 0)) << x;
        }
    }
    // Vertical ticks on columns 80 and 560, rows 180 .. 299.
    for (int col : {80, 560}) {
        for (int y = 180; y <= 299; ++y) {
            ASSERT_FALSE(IsWhite(c, col, y)) << col << "," << y;
        }
        EXPECT_TRUE(IsWhite(c, col, 179));
        EXPECT_TRUE(IsWhite(c, col, 300));
    }
    // The line spans the picture: columns 80 .. 559, and column 320 from row 0 to 479.
    EXPECT_FALSE(IsWhite(c, 80, 240));
    EXPECT_FALSE(IsWhite(c, 559, 240));
    EXPECT_TRUE(IsWhite(c, 79, 240));
    EXPECT_FALSE(IsWhite(c, 320, 0));
    EXPECT_FALSE(IsWhite(c, 320, 479));
}

TEST(OverlayGeometry, ZeroCrossMarksOnlyTheCentre) {
    const Image c = BuildOverlayImage(CrossOnly(0.0f), 64, 48);
    int marked = 0;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            marked += IsWhite(c, x, y) ? 0 : 1;
        }
    }
    EXPECT_EQ(marked, 1);
    EXPECT_FALSE(IsWhite(c, 32, 24));
}

TEST(OverlayGeometry, PaddedWidthUsesTheRealRowStride) {
    // 641 * 3 = 1923 bytes of pixels, rows 1924 bytes apart.
    OverlaySettings s;
    s.m_fMaskRadius = 0.5f;
    s.m_fCrossSize = 0.25f;
    s.m_clrMask = 0x00FF00;
    const Image c = BuildOverlayImage(s, 641, 481);
    ASSERT_EQ(c.GetEffWidth(), 1924);
    // r = trunc(0.5 * 481) = 240 around (320, 240): the mask follows the circle on every row,
    // which a stride of 1923 bytes would skew by a pixel every three rows.
    for (int y = 0; y < 481; ++y) {
        for (int x = 0; x < 641; ++x) {
            const double d = std::sqrt(double((320 - x) * (320 - x) + (240 - y) * (240 - y)));
            if (d >= 240.0) {
                ASSERT_EQ(PixelColour(c, x, y), 0x00FF00u) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(PixelColour(c, 320, 240), 0x0000FFu);  // crosshair centre
    EXPECT_TRUE(IsWhite(c, 320 + 50, 240 + 50));
    // Padding bytes stay out of the picture.
    const Image frame = Pattern(641, 481, 7);
    Image blended(frame);
    PreparedOverlay prepared(Image(c), s);
    ASSERT_TRUE(prepared.BlendInto(blended));
    EXPECT_TRUE(SamePixels(blended, ReferenceBlend(frame, c)));
}

TEST(OverlayGeometry, OversizedMarksOnPortraitFramesAreClipped) {
    OverlaySettings s;
    s.m_fMaskRadius = 3.0f;
    s.m_fCrossSize = 2.0f;  // far beyond the frame: clipped, never written outside
    Image c = BuildOverlayImage(s, 120, 400);
    ASSERT_TRUE(c.IsValid());
    EXPECT_FALSE(IsWhite(c, 0, 200));  // the horizontal line reaches both edges
    EXPECT_FALSE(IsWhite(c, 119, 200));
    s.m_fMaskRadius = -1.0f;  // negative radius: everything masked
    s.m_fCrossSize = std::numeric_limits<float>::quiet_NaN();
    s.m_bCrossEnable = 0;
    c = BuildOverlayImage(s, 10, 10);
    EXPECT_EQ(PixelColour(c, 5, 5), 0u);
}

TEST(OverlayBlend, WhiteMarksAreInvisible) {
    OverlaySettings s;
    s.m_clrMask = 0xFFFFFF;
    s.m_clrCross = 0xFFFFFF;
    PreparedOverlay prepared(BuildOverlayImage(s, 320, 240), s);
    EXPECT_EQ(prepared.runCount(), 0u);
    const Image frame = Pattern(320, 240, 3);
    Image blended(frame);
    ASSERT_TRUE(prepared.BlendInto(blended));
    EXPECT_TRUE(SamePixels(blended, frame));

    s.m_clrMask = 0x000000;  // only the crosshair white: the mask still shows
    PreparedOverlay maskOnly(BuildOverlayImage(s, 320, 240), s);
    blended = frame;
    maskOnly.BlendInto(blended);
    EXPECT_EQ(PixelColour(blended, 0, 0), 0u);
    EXPECT_EQ(PixelColour(blended, 160, 120), PixelColour(frame, 160, 120));
}

TEST(OverlayBlend, PreparedRunsEqualPerPixelBlendForRandomSettings) {
    // ComposeInto (copy and blend in one pass) must give the same bytes, padding included,
    // into an image reused across sizes.
    Image composed;
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> fraction(-0.1f, 0.7f);
    const int sizes[][2] = {{640, 480}, {641, 481}, {333, 177}, {1, 1}, {200, 600}, {7, 3}};
    for (int round = 0; round < 40; ++round) {
        OverlaySettings s;
        s.m_bMaskEnable = uint8_t(rng() % 2);
        s.m_bCrossEnable = uint8_t(rng() % 2);
        s.m_fMaskRadius = fraction(rng);
        s.m_fCrossSize = fraction(rng);
        s.m_clrMask = PresetColors(int(rng() % 7));
        s.m_clrCross = rng() & 0xFFFFFF;
        const auto& size = sizes[round % 6];
        const Image canvas = BuildOverlayImage(s, size[0], size[1]);
        const PreparedOverlay prepared(Image(canvas), s);
        const Image frame = Pattern(size[0], size[1], unsigned(round));
        Image blended(frame);
        ASSERT_TRUE(prepared.BlendInto(blended));
        ASSERT_TRUE(SamePixels(blended, ReferenceBlend(frame, canvas))) << "round " << round;
        ASSERT_TRUE(prepared.ComposeInto(frame, composed));
        ASSERT_EQ(composed.GetSize(), blended.GetSize());
        ASSERT_EQ(std::memcmp(composed.GetBits(), blended.GetBits(), blended.GetSize()), 0)
            << "round " << round;
        // The next frame into the same image, which already holds the marks.
        const Image next = Pattern(size[0], size[1], unsigned(round) + 1000);
        Image nextBlended(next);
        ASSERT_TRUE(prepared.BlendInto(nextBlended));
        ASSERT_TRUE(prepared.ComposeInto(next, composed, true));
        ASSERT_EQ(std::memcmp(composed.GetBits(), nextBlended.GetBits(), nextBlended.GetSize()), 0)
            << "round " << round << " with the marks in place";
    }
}

TEST(OverlayBlend, RefusesFramesOfAnotherSize) {
    const auto prepared = PreparedOverlay::Build(OverlaySettings{}, 64, 48);
    Image frame = Pattern(32, 24, 1);
    const Image before(frame);
    EXPECT_FALSE(prepared->BlendInto(frame));
    EXPECT_TRUE(SamePixels(frame, before));
    Image out = Pattern(8, 8, 2);
    const Image outBefore(out);
    EXPECT_FALSE(prepared->ComposeInto(frame, out));
    EXPECT_TRUE(SamePixels(out, outBefore));
}

TEST(OverlayState, RebuildLeavesOverlaysInUseUntouched) {
    Overlay overlay;
    EXPECT_EQ(overlay.current().prepared, nullptr);
    ASSERT_TRUE(overlay.BuildOverlay(160, 120));
    const Overlay::View before = overlay.current();
    ASSERT_TRUE(before.prepared);
    EXPECT_TRUE(before.blend);
    const Image canvasBefore = before.prepared->canvas();

    OverlaySettings s = overlay.settings();
    s.m_clrMask = 0x00FF00;
    overlay.setSettings(s);
    overlay.Rebuild();
    const Overlay::View after = overlay.current();
    EXPECT_NE(after.prepared, before.prepared);
    EXPECT_EQ(after.prepared->width(), 160);
    EXPECT_EQ(PixelColour(after.prepared->canvas(), 0, 0), 0x00FF00u);
    // The reader that took the old overlay still sees it whole.
    EXPECT_TRUE(SamePixels(before.prepared->canvas(), canvasBefore));
    EXPECT_EQ(PixelColour(before.prepared->canvas(), 0, 0), 0u);
}

TEST(OverlayState, BothFlagsOffStopsBlendingAtOnce) {
    Overlay overlay;
    overlay.BuildOverlay(160, 120);
    OverlaySettings s = overlay.settings();
    s.m_bMaskEnable = 0;
    s.m_bCrossEnable = 0;
    overlay.setSettings(s);  // no rebuild: the old marks are still in the overlay
    EXPECT_FALSE(overlay.current().blend);
    EXPECT_GT(overlay.current().prepared->runCount(), 0u);
    s.m_bCrossEnable = 1;
    overlay.setSettings(s);
    EXPECT_TRUE(overlay.current().blend);
    EXPECT_FALSE(overlay.BuildOverlay(0, 120));  // impossible size: the old overlay stays
    EXPECT_EQ(overlay.current().prepared->width(), 160);
}

TEST(OverlayState, PresetColours) {
    EXPECT_EQ(PresetColors(0), 0x0000FFu);
    EXPECT_EQ(PresetColors(1), 0x00FFFFu);
    EXPECT_EQ(PresetColors(2), 0x00FF00u);
    EXPECT_EQ(PresetColors(3), 0x000000u);
    EXPECT_EQ(PresetColors(4), 0xFF0000u);
    EXPECT_EQ(PresetColors(5), 0xFFFFFFu);
    EXPECT_EQ(PresetColors(-1), 0xFF0000u);
    EXPECT_EQ(PresetColors(6), 0xFF0000u);
}
