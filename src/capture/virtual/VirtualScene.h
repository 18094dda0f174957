#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "capture/virtual/VirtualHardware.h"

// Draws the virtual camera's picture: a microscope field of view, i.e. a bright round field
// with a soft edge on a near-black surround, holding a fine grid, a scale bar, drifting cells,
// small particles and a frame counter drawn as blocks. Frames are 32-bit ARGB in libyuv's
// byte order (B, G, R, A in memory), rows top-down, stride width * 4.
//
// Cost per frame is kept to one copy of a precomputed background, a few small moving objects
// and one table lookup per channel: the static part (illumination, vignette, grid, scale bar,
// the sharpness setting) is built once per size and again only when sharpness changes; the
// picture settings that act per pixel go into 256-entry tables (and a colour matrix for hue
// and saturation) rebuilt only when a setting changes. One object per capture thread.
class VirtualScene {
public:
    VirtualScene();

    // Sets the frame size (even width, at least 16 x 16); rebuilds the background.
    void setSize(int width, int height);
    // Takes new picture settings; tables and background are rebuilt only where needed.
    void setPicture(const VirtualPictureSettings& settings);

    // Renders the frame with the given number; the animation advances by 1/30 s per frame.
    // The returned pixels stay valid until the next call of any method.
    const uint8_t* render(uint64_t frameNumber);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int stride() const { return m_width * 4; }

    // Geometry of the field of view, in pixels of the current size.
    double fieldCenterX() const { return m_width * 0.52; }
    double fieldCenterY() const { return m_height * 0.48; }
    double fieldRadius() const { return m_height * 0.42; }

private:
    struct Cell {
        double orbitX, orbitY;  // orbit radii, in field radii
        double speedX, speedY;  // angular speeds, rad/s
        double phaseX, phaseY;
        double radiusX, radiusY;  // in field radii
        uint8_t r, g, b;          // cytoplasm tint
    };

    void buildBase();
    void buildBackground();
    void buildTables();
    void drawCell(const Cell& cell, double seconds);
    void drawParticles(double seconds);
    void drawCounter(uint64_t frameNumber);
    void fillRect(int x0, int y0, int x1, int y1, uint32_t argb);
    void applyBanding(uint64_t frameNumber);

    int m_width = 0;
    int m_height = 0;
    std::vector<uint32_t> m_base;        // static scene at neutral sharpness
    std::vector<uint32_t> m_background;  // m_base with the sharpness setting applied
    std::vector<uint32_t> m_frame;
    std::vector<Cell> m_cells;

    VirtualPictureSettings m_settings;
    bool m_backgroundValid = false;
    std::array<uint8_t, 256 * 4> m_table{};  // per-channel lookup, B G R A per entry
    bool m_tableIsIdentity = false;
    std::array<int8_t, 16> m_matrix{};  // hue and saturation, 64 = 1.0
    bool m_matrixIsIdentity = true;
    double m_edgeSoftness = 1.0;  // anti-aliasing width of moving objects, pixels
};
