#pragma once

#include <array>

// The digital zoom steps and the toolbar pictures of the zoom and mirror buttons.
//
// The zoom moves in steps of the 32-bit float 0.1 between 1.0 and 2.0: from 1.0 the tenth
// step gives 2.0000002, which ends zooming in, so there are eleven levels (100% … 200%).
// Values up to 4.0 may come from a camera's stored parameters; zooming in does nothing there
// and zooming out steps down by 0.1.

// The next zoom after a zoom-in command (unchanged at 2.0 and above).
float ZoomInStep(float zoom);
// The next zoom after a zoom-out command (never below 1.0).
float ZoomOutStep(float zoom);
// The status-bar percentage of a zoom: trunc(zoom × 100).
int ZoomPercent(float zoom);

// Icon numbers of the zoom in, zoom out and zoom reset buttons for a zoom.
std::array<int, 3> ZoomButtonIcons(float zoom);
// Icon numbers of the horizontal mirror, vertical mirror and mirror reset buttons.
std::array<int, 3> MirrorButtonIcons(bool hMirror, bool vMirror);
