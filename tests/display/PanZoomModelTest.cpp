// The pan-and-zoom window's rules on a 640 x 480 stream: which scroll and scale requests are
// taken, what the read-outs show and what reaches the frames.
#include <gtest/gtest.h>

#include "capture/FrameStore.h"
#include "display/PanZoomModel.h"
#include "display/ViewTransform.h"

namespace {

struct Rig {
    FrameStore frames;
    ViewTransform view{frames};
    Rig() {
        view.SetVideoSize(640, 480);
        view.SetPan(0.0f, 0.0f);
    }
    int centerX() const { return frames.transform().m_nCenterX; }
    int centerY() const { return frames.transform().m_nCenterY; }
};

}  // namespace

TEST(PanZoomModel, LineStepsMoveTheCentreAndShowEvenPositions) {
    Rig rig;
    PanZoomModel m(rig.view);
    EXPECT_EQ(m.halfSide(), 240);
    EXPECT_EQ(m.offsetXReadout(), QStringLiteral("   0.0%"));

    // One step left: the bar and the frames' centre at 319, the read-out still at the even 320.
    EXPECT_TRUE(m.Scroll(true, ScrollRequest::LineBack));
    EXPECT_EQ(m.barX(), 319);
    EXPECT_EQ(rig.centerX(), 319);
    EXPECT_EQ(m.posX(), 320);
    EXPECT_EQ(m.offsetX(), 0.0f);
    EXPECT_EQ(rig.view.panX(), 0.0f);

    EXPECT_TRUE(m.Scroll(true, ScrollRequest::LineBack));
    EXPECT_EQ(rig.centerX(), 318);
    EXPECT_FLOAT_EQ(m.offsetX(), -0.00625f);
    EXPECT_FLOAT_EQ(rig.view.panX(), -0.00625f);
    EXPECT_EQ(m.offsetXReadout(), QStringLiteral("  -0.6%"));

    // Left down to the square's half side, then no further: a rejection changes nothing.
    while (m.Scroll(true, ScrollRequest::LineBack)) {
    }
    EXPECT_EQ(m.barX(), 240);
    EXPECT_EQ(rig.centerX(), 240);
    EXPECT_FALSE(m.Scroll(true, ScrollRequest::LineBack));
    EXPECT_EQ(rig.centerX(), 240);
    EXPECT_EQ(m.offsetXReadout(), QStringLiteral(" -25.0%"));

    // The thumb takes neither the half side itself nor a square past the right edge.
    EXPECT_FALSE(m.Scroll(true, ScrollRequest::Thumb, 240));
    EXPECT_FALSE(m.Scroll(true, ScrollRequest::Thumb, 400));
    EXPECT_EQ(rig.centerX(), 240);
    EXPECT_TRUE(m.Scroll(true, ScrollRequest::Thumb, 399));
    EXPECT_EQ(rig.centerX(), 399);
    EXPECT_FALSE(m.Scroll(true, ScrollRequest::LineForward));

    // At full height the square cannot move up or down.
    EXPECT_FALSE(m.Scroll(false, ScrollRequest::LineBack));
    EXPECT_FALSE(m.Scroll(false, ScrollRequest::LineForward));
    EXPECT_EQ(rig.centerY(), 240);
}

TEST(PanZoomModel, ScaleStepsAndResets) {
    Rig rig;
    PanZoomModel m(rig.view);
    EXPECT_EQ(m.zoomReadout(), QStringLiteral(" 100.0%"));
    for (int i = 0; i < 599; ++i) {
        m.ScaleUp();
    }
    EXPECT_LT(m.viewZoom(), 4.0f);
    m.ScaleUp();  // the 600th step passes 4.0 and is held there
    EXPECT_EQ(rig.view.viewZoom(), 4.0f);
    EXPECT_EQ(m.zoomReadout(), QStringLiteral(" 400.0%"));
    m.ScaleUp();
    EXPECT_EQ(rig.view.viewZoom(), 4.0f);

    // A smaller square can move vertically now; off centre, the scale does not reset.
    EXPECT_TRUE(m.Scroll(false, ScrollRequest::Thumb, 100));
    EXPECT_EQ(rig.centerY(), 380);
    EXPECT_FALSE(m.ResetScale());
    EXPECT_EQ(rig.view.viewZoom(), 4.0f);
    m.ResetPan();
    EXPECT_EQ(rig.centerX(), 320);
    EXPECT_EQ(rig.centerY(), 240);
    EXPECT_EQ(m.offsetYReadout(), QStringLiteral("   0.0%"));
    EXPECT_TRUE(m.ResetScale());
    EXPECT_EQ(rig.view.viewZoom(), 1.0f);
}

TEST(PanZoomModel, ScalingDownAtAnEdgeKeepsTheSquareInsideTheFrame) {
    Rig rig;
    PanZoomModel m(rig.view);
    // A field found against the left edge: the square touches the first column.
    m.CentreOn(120, 260, 2.0f);
    EXPECT_EQ(rig.centerX(), 120);
    EXPECT_EQ(rig.centerY(), 220);
    EXPECT_EQ(rig.view.viewZoom(), 2.0f);
    EXPECT_FLOAT_EQ(rig.view.panY(), 20.0f / 240.0f);

    int steps = 0;
    while (m.ScaleDown()) {
        ++steps;
        const TransformState t = rig.frames.transform();
        const int side = int(480.0f / t.m_fViewZoom);
        ASSERT_GE(t.m_nCenterX - side / 2, 0) << "zoom " << t.m_fViewZoom;
        ASSERT_GE(480 - t.m_nCenterY - side / 2, 0) << "zoom " << t.m_fViewZoom;
        ASSERT_LE(480 - t.m_nCenterY + side / 2, 480) << "zoom " << t.m_fViewZoom;
        ASSERT_GE(m.posX() - m.halfSide(), 0);
        if (rig.view.viewZoom() == 1.0f) {
            break;
        }
    }
    EXPECT_EQ(rig.view.viewZoom(), 1.0f);
    EXPECT_GT(steps, 150);
    // At full height the square is the frame's left 480 columns, fully inside.
    EXPECT_EQ(rig.centerX(), 240);
    EXPECT_EQ(m.posX(), 240);
    EXPECT_EQ(rig.centerY(), 240);
}
