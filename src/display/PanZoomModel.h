#pragma once

#include <QString>

class ViewTransform;

// A request of one of the pan-and-zoom window's scroll bars. Back is left or up, forward is
// right or down; Thumb is the thumb let go at a position; Other is anything else (page steps,
// dragging, end of scroll), which moves nothing.
enum class ScrollRequest { LineBack, LineForward, Thumb, Other };

// The "%6.1f%%" read-out of a fraction: 1.0 shows as " 100.0%".
QString PercentReadout(float fraction);

// The rules of the pan-and-zoom window without its widgets: where the pan square is, which
// scroll and scale requests it accepts, and what they change in the view.
//
// The view transform owns the pan state (offsets, pan centre, square scale); this model keeps
// only what the window shows: the square's centre in frame pixels with the row counted from
// the top (posX, posY), the two scroll bar positions and the two offset read-outs. Every
// accepted request writes the view at once. The square's half side is
// a = trunc(videoHeight / viewZoom × 0.5), for both directions.
//
// The read-outs show even positions: after every change an odd posX or posY is raised by one
// and the offsets, (pos − c) / c with c = trunc(size × 0.5), become the view's pan offsets,
// while the pan centre the frames use keeps the unrounded position. A bar can therefore stand
// one pixel left of or above posX.
//
// GUI thread only; the view must outlive the model.
class PanZoomModel {
public:
    // The window opening: the square's centre from the view's pan offsets, the bars at it.
    explicit PanZoomModel(ViewTransform& view);

    int posX() const { return m_nPosX; }
    int posY() const { return m_nPosY; }
    int barX() const { return m_nBarX; }
    int barY() const { return m_nBarY; }
    float offsetX() const { return m_fOffsetX; }
    float offsetY() const { return m_fOffsetY; }
    float viewZoom() const;
    int videoWidth() const;
    int videoHeight() const;
    // Half the side of the pan square, in frame pixels.
    int halfSide() const;

    // A scroll bar request. Line steps and the thumb are accepted only while the square stays
    // inside the frame (the exact bounds differ by direction, see the source); false, with
    // nothing changed, when rejected. An accepted request, and any Other request, sets the
    // view's pan centre on that axis to the square's position and refreshes the read-outs.
    bool Scroll(bool horizontal, ScrollRequest request, int thumbPosition = 0);

    // The square back to the middle of the frame.
    void ResetPan();
    // The square's scale up by 0.005, at most 4.0 (a smaller square).
    void ScaleUp();
    // The square's scale down by 0.005, at least 1.0 (a larger square), taken only while the
    // current square lies inside the frame; the square then moves in where the larger one
    // would pass an edge. False when not taken.
    bool ScaleDown();
    // The scale back to 1.0, taken only while the square is centred. False when not taken.
    bool ResetScale();
    // Centre the square on (x, y), the row counted from the top, at `viewZoom`, all at once
    // (the auto-centring's result).
    void CentreOn(int x, int y, float viewZoom);

    QString zoomReadout() const { return PercentReadout(viewZoom()); }
    QString offsetXReadout() const { return PercentReadout(m_fOffsetX); }
    QString offsetYReadout() const { return PercentReadout(m_fOffsetY); }

private:
    // Rounds the positions to even, computes the offsets and writes them into the view
    // together with the given pan centre (row from the bottom) and scale.
    void UpdatePanReadouts(int centerX, int centerY, float viewZoom);

    ViewTransform& m_view;
    int m_nPosX = 0;
    int m_nPosY = 0;
    int m_nBarX = 0;
    int m_nBarY = 0;
    float m_fOffsetX = 0.0f;
    float m_fOffsetY = 0.0f;
};
