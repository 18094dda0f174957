// The zoom steps.
#include <gtest/gtest.h>

#include <vector>

#include "display/ViewTransform.h"

TEST(ZoomSteps, TenStepsFromOneReachTheTopLevelAndStayThere) {
    float zoom = 1.0f;
    std::vector<int> percents{ZoomPercent(zoom)};
    for (int i = 0; i < 10; ++i) {
        zoom = ZoomInStep(zoom);
        percents.push_back(ZoomPercent(zoom));
    }
    EXPECT_EQ(percents, (std::vector<int>{100, 110, 120, 130, 140, 150, 160, 170, 180, 190, 200}));
    EXPECT_GT(zoom, 2.0f);  // 2.0000002: the float steps overshoot by one ulp
    EXPECT_EQ(ZoomInStep(zoom), zoom);
}

TEST(ZoomSteps, ZoomOutLandsExactlyOnOneAndNeverBelow) {
    EXPECT_EQ(ZoomOutStep(ZoomInStep(1.0f)), 1.0f);
    EXPECT_EQ(ZoomOutStep(1.0f), 1.0f);
    float zoom = 1.0f;
    for (int i = 0; i < 10; ++i) {
        zoom = ZoomInStep(zoom);
    }
    for (int i = 0; i < 10; ++i) {
        zoom = ZoomOutStep(zoom);
    }
    EXPECT_EQ(zoom, 1.0f);
}

TEST(ZoomSteps, AStoredZoomAboveTheCommandRangeOnlyStepsDown) {
    EXPECT_EQ(ZoomInStep(3.0f), 3.0f);
    EXPECT_EQ(ZoomPercent(ZoomOutStep(3.0f)), 290);
}
