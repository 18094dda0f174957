// The pictures of the zoom and mirror buttons for each state.
#include <gtest/gtest.h>

#include "mainwnd/CommandIds.h"
#include "mainwnd/Icons.h"

TEST(ZoomMirrorButtons, PicturesFollowTheState) {
    EXPECT_EQ(ZoomButtonIcons(1.0f),
              (std::array<int, 3>{Icon::ZoomIn, Icon::ZoomOutDisabled, Icon::ZoomResetDisabled}));
    EXPECT_EQ(ZoomButtonIcons(1.5f),
              (std::array<int, 3>{Icon::ZoomInActive, Icon::ZoomOut, Icon::ZoomReset}));
    EXPECT_EQ(ZoomButtonIcons(4.0f),
              (std::array<int, 3>{Icon::ZoomIn, Icon::ZoomOut, Icon::ZoomReset}));
    EXPECT_EQ(MirrorButtonIcons(false, false), (std::array<int, 3>{150, 151, 152}));
    EXPECT_EQ(MirrorButtonIcons(true, false), (std::array<int, 3>{160, 151, 162}));
    EXPECT_EQ(MirrorButtonIcons(false, true), (std::array<int, 3>{150, 161, 162}));
}
