#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <vector>

#include "capture/ImageResize.h"

class Image;

// Turns a composed frame (24-bit, rows bottom-up) into the picture the preview paints: rows
// top-down, 32 bits per pixel (the screen's own format, so that painting it is a plain copy),
// and already at the size it takes on the screen when the frame has to shrink to fit, so that
// the GUI thread never scales a large frame down. A frame that fits keeps its size; the preview
// enlarges it.
//
// One object per thread: it keeps its scaler and scratch picture, so that drawing frame after
// frame at one size allocates nothing.
class ScreenPicture {
public:
    // The picture's size for a frame of frameSize in a preview area of areaSize device pixels:
    // the frame fitted into the area at its aspect ratio when it is larger than that, its own
    // size otherwise. An empty area (a hidden preview) keeps the frame's size.
    static QSize PictureSize(const QSize& frameSize, const QSize& areaSize);

    // Draws `frame` into `out`, which has the size PictureSize() gave and Format_RGB32. False,
    // `out` untouched, for a frame that is not 24-bit or an `out` it cannot fill.
    bool Draw(const Image& frame, QImage& out);

private:
    BilinearScaler24 m_scaler;
    std::vector<uint8_t> m_scaled;  // the scaled frame, 24-bit, top-down
};
