#pragma once

class FrameStore;

// The digital zoom moves in steps of the 32-bit float 0.1 between 1.0 and 2.0: from 1.0 the
// tenth step gives 2.0000002, which ends zooming in, so there are eleven levels (100% … 200%).
// Values up to 4.0 may come from a camera's stored parameters; zooming in does nothing there
// and zooming out steps down by 0.1.

// The next zoom after a zoom-in command (unchanged at 2.0 and above).
float ZoomInStep(float zoom);
// The next zoom after a zoom-out command (never below 1.0).
float ZoomOutStep(float zoom);
// The status-bar percentage of a zoom: trunc(zoom × 100).
int ZoomPercent(float zoom);

// The view the user has chosen: digital zoom, pan and mirrors. The frame store keeps the values
// that frame intake reads with every frame; this class is the one that changes them, in the
// steps the commands take. A change takes effect with the next frame. GUI thread only; the frame
// store is borrowed and must outlive this object.
class ViewTransform {
public:
    explicit ViewTransform(FrameStore& frames) : m_frames(frames) {}

    float zoom() const;
    // One step in; false, with nothing changed, at 2.0 and above.
    bool ZoomIn();
    void ZoomOut();
    void ResetZoom();
    // A zoom from the camera's stored parameters (1.0 ... 4.0).
    void SetZoom(float zoom);

    // The pan-and-zoom window's scale of the view square (1.0 ... 4.0).
    float viewZoom() const;
    void SetViewZoom(float viewZoom);

    bool hMirror() const;
    bool vMirror() const;
    // Turns the left-right (horizontal) or the upside-down mirror over; returns its new state.
    bool ToggleMirror(bool horizontal);
    void ResetMirrors();

    // The stream's size, against which the zoom region and the pan centre are measured.
    int videoWidth() const;
    int videoHeight() const;
    // A new stream size (a format choice): the pan centre follows it.
    void SetVideoSize(int width, int height);

    // Pan offsets: -1 … 1 across the frame, 0 is the middle; m_fPanY is -1 at the top edge
    // and +1 at the bottom edge.
    float panX() const { return m_fPanX; }
    float panY() const { return m_fPanY; }
    // New pan offsets; the pan centre follows.
    void SetPan(float panX, float panY);

    // Everything the pan-and-zoom window sets: the offsets, the pan centre in frame pixels (the
    // row counted from the bottom line) and the scale of the view square. The window keeps the
    // centre and the offsets apart (it rounds the offsets to even positions), so they are set
    // as they are, not derived from each other.
    struct PanState {
        float panX = 0.0f;
        float panY = 0.0f;
        int centerX = 0;
        int centerY = 0;
        float viewZoom = 1.0f;
    };
    PanState panState() const;
    // Frames take the new centre and scale together, never one without the other.
    void SetPanState(const PanState& state);
    // Turns the pan offsets into the pan centre in frame pixels (rows counted from the bottom
    // line, as the frames are stored).
    void RecomputePanCentre();

    // Factory mode keeps the unprocessed frame too (for the pan-and-zoom window).
    void SetFactoryMode(bool factoryMode);

private:
    FrameStore& m_frames;
    float m_fPanX = 0.0f;
    float m_fPanY = 0.0f;
};
