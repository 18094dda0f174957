#pragma once

#include <QWidget>

#include "contracts/Image.h"
#include "display/OverlaySettings.h"

// The pan-and-zoom window's preview: the unprocessed camera frame stretched to the widget,
// with the pan square drawn on it in frame pixels (a 5-pixel pen, scaled with the picture).
// The frame is drawn straight from the image's rows in one scaled draw, the bottom-up rows
// turned by the painter, so a repaint does no work per pixel of its own. Without a frame the
// area stays dark. GUI thread only.
class PanPreview : public QWidget {
    Q_OBJECT
public:
    explicit PanPreview(QWidget* parent = nullptr);

    // Takes the picture by exchanging storage: `frame` receives the previous one (for reuse).
    void exchangeFrame(Image& frame);
    void clearFrame();
    const Image& frame() const { return m_frame; }

    // The pan square: centre (x, y) with y counted from the top, half side a, all in frame
    // pixels.
    void setSquare(int x, int y, int a, ColorRef colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Image m_frame;
    int m_x = 0;
    int m_y = 0;
    int m_a = 0;
    ColorRef m_colour = 0x0000FF;
};
