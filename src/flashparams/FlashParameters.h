#pragma once

#include "capture/CameraParameters.h"
#include "display/OverlaySettings.h"

// Everything the camera's flash parameter block holds: the stream choice, the view (digital
// zoom, pan, view zoom), the edge mask and crosshair, the power-line frequency and the camera's
// picture values. The values start as the program starts without a camera; reading a block
// overwrites the fields the block holds.
struct FlashParameters {
    int m_nResolutionIndex = 0;
    bool m_bMjpgSelected = false;
    float m_fZoom = 1.0f;
    float m_fPanX = 0.0f;
    float m_fPanY = 0.0f;
    float m_fViewZoom = 1.0f;
    int m_nPowerLineFreq = 0;  // 1 = 50 Hz, 2 = 60 Hz, 0 = not chosen (applied as 60 Hz)
    OverlaySettings overlay;
    CameraParameters camera;
};
