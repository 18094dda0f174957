#pragma once

#include <QIcon>
#include <QString>
#include <array>

// The program's pictures, drawn from the SVG files compiled into the resources.
// Returns a null icon for an unknown number.
QIcon IconById(int iconId);
QString IconResourcePath(int iconId);

// Icon numbers of the zoom in, zoom out and zoom reset buttons for a zoom.
std::array<int, 3> ZoomButtonIcons(float zoom);
// Icon numbers of the horizontal mirror, vertical mirror and mirror reset buttons.
std::array<int, 3> MirrorButtonIcons(bool hMirror, bool vMirror);
