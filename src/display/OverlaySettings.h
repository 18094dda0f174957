#pragma once

#include <array>
#include <cstdint>

// A colour as the camera parameter block and the colour choosers store it: 0x00BBGGRR
// (red in the low byte).
using ColorRef = uint32_t;

constexpr ColorRef MakeColorRef(uint8_t red, uint8_t green, uint8_t blue) {
    return ColorRef(red) | (ColorRef(green) << 8) | (ColorRef(blue) << 16);
}
constexpr uint8_t RedOf(ColorRef c) {
    return uint8_t(c & 0xFF);
}
constexpr uint8_t GreenOf(ColorRef c) {
    return uint8_t((c >> 8) & 0xFF);
}
constexpr uint8_t BlueOf(ColorRef c) {
    return uint8_t((c >> 16) & 0xFF);
}

// Pure white is the transparent colour of the blend: a mark in white is invisible.
constexpr ColorRef kTransparentColor = 0xFFFFFF;

// The preset colours every colour chooser offers, in this order: red, yellow, green, black,
// blue, white. The preset index is what the camera parameter block keeps.
constexpr std::array<ColorRef, 6> kPresetColors = {0x0000FF, 0x00FFFF, 0x00FF00,
                                                   0x000000, 0xFF0000, 0xFFFFFF};
// Key of each preset's name in the "ColorNames" language section.
constexpr std::array<const char*, 6> kPresetColorKeys = {"RED",   "YELLOW", "GREEN",
                                                         "BLACK", "BLUE",   "WHITE"};

// The colour of preset `index`; any index outside the table (no selection) gives blue
// (0xFF0000), the colour a colour box without selection stands for.
constexpr ColorRef PresetColors(int index) {
    return index >= 0 && index < int(kPresetColors.size()) ? kPresetColors[size_t(index)]
                                                           : ColorRef(0xFF0000);
}

// The edge mask and crosshair settings. The window owns one set (through Overlay); the mask
// window and the pan-and-zoom window edit copies and hand them back; the camera parameter
// block sets them when a camera is opened.
//
// m_fMaskRadius: radius of the clear disc as a fraction of the frame height.
// m_fCrossSize: half-length of the crosshair as a fraction of the frame height.
// m_nMaskColorIndex / m_nCrossColorIndex: preset last chosen, -1 before any choice.
struct OverlaySettings {
    uint8_t m_bMaskEnable = 1;
    uint8_t m_bCrossEnable = 1;
    ColorRef m_clrMask = 0x000000;   // black
    ColorRef m_clrCross = 0x0000FF;  // red
    float m_fMaskRadius = 0.5f;
    float m_fCrossSize = 0.25f;
    int m_nMaskColorIndex = -1;
    int m_nCrossColorIndex = -1;

    // Whether anything is laid over the frames at all.
    bool blendWanted() const { return m_bMaskEnable != 0 || m_bCrossEnable != 0; }

    bool operator==(const OverlaySettings&) const = default;
};
