#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "contracts/Image.h"
#include "display/OverlaySettings.h"

// Renders the overlay canvas: a width x height 24-bit image, white everywhere except the marks
// that `settings` enables.
//
// Geometry (x counts columns, y counts buffer rows, y = 0 is the bottom row): the centre is
// cx = trunc(width / 2), cy = trunc(height / 2). The edge mask paints every pixel whose distance
// from the centre is at least r = trunc(m_fMaskRadius * height). The crosshair, painted over
// the mask, with s = trunc(m_fCrossSize * height), t = s / 4 and h2 = s / 2, is made of the
// line on row cy over columns cx - s .. cx + s - 1, horizontal ticks on rows cy - s and cy + s
// (only while cy - s > 0) over columns cx - t .. cx + t - 1, vertical ticks on columns cx - s
// and cx + s over rows cy - t .. cy + t - 1, the vertical line on column cx over rows
// max(0, cy - s) .. min(height, cy + s) - 1, and two rings: the pixels whose distance d
// satisfies |h2 - d| < 1 and |t - d| < 1. Whatever would fall outside the image (a portrait
// frame, an oversized cross from a camera's parameter block) is clipped, never written.
//
// An empty (invalid) image for sizes below 1 or too large to hold.
Image BuildOverlayImage(const OverlaySettings& settings, int width, int height);

// The overlay in the form the per-frame blend uses: for every row, the horizontal runs of
// non-white pixels with their colour. Blending a frame is then copying those runs from
// prepared colour rows, a cost proportional to the marked area instead of a test of every
// pixel. Immutable once made, so threads can share it freely.
class PreparedOverlay {
public:
    // Prepares the canvas made by BuildOverlayImage (any 24-bit image works; white pixels
    // are transparent). `settings` are kept for callers that need the same marks at another
    // size.
    PreparedOverlay(Image canvas, const OverlaySettings& settings);

    // Renders and prepares in one step.
    static std::shared_ptr<const PreparedOverlay> Build(const OverlaySettings& settings, int width,
                                                        int height);

    int width() const { return m_canvas.GetWidth(); }
    int height() const { return m_canvas.GetHeight(); }
    bool valid() const { return m_canvas.IsValid(); }
    // The white canvas with the marks: what the preview shows while there is no frame.
    const Image& canvas() const { return m_canvas; }
    const OverlaySettings& settings() const { return m_settings; }
    // Number of runs of non-white pixels (0: the overlay changes nothing).
    size_t runCount() const { return m_runs.size(); }

    // Paints the marks into `frame`, which must be a 24-bit image of the overlay's size.
    // Returns false (frame untouched) otherwise.
    bool BlendInto(Image& frame) const;

    // The same result as copying `frame` into `out` and blending, in one pass: the frame's
    // bytes between the runs and the run colours are written, so the pixels under the marks
    // are never read. `frame` must be a 24-bit image of the overlay's size (false, out
    // untouched, otherwise) and must not be `out`; out's storage is reused while its size stays.
    // outHasMarks: out already holds this overlay's marks (it was composed with this overlay
    // before and nothing has written to it since), so only the bytes between the runs are
    // copied; ignored when out has another size.
    bool ComposeInto(const Image& frame, Image& out, bool outHasMarks = false) const;

private:
    struct Run {
        int32_t x0;       // first column
        int32_t count;    // pixels
        uint32_t colour;  // index into m_colourRows
    };

    Image m_canvas;
    OverlaySettings m_settings;
    std::vector<Run> m_runs;
    std::vector<uint32_t> m_rowStart;  // runs of row y: m_runs[m_rowStart[y] .. m_rowStart[y+1])
    // One row of width pixels per distinct colour, the source of the run copies.
    std::vector<std::vector<uint8_t>> m_colourRows;
};

// The window's overlay: the settings (GUI thread) and the prepared overlay the display worker
// blends into every frame (any thread).
//
// A rebuild makes a new PreparedOverlay and swaps it in under a small lock; readers take a
// shared reference and keep using the overlay they got, so a rebuild never changes an overlay
// while a frame is being blended with it, and a blend never sees a half-built one.
class Overlay {
public:
    // What a reader needs for one frame.
    struct View {
        std::shared_ptr<const PreparedOverlay> prepared;  // null before the first build
        bool blend = false;                               // mask or crosshair on: blend at all
    };

    // --- GUI thread ---
    const OverlaySettings& settings() const { return m_settings; }
    // Takes new settings. The enable flags act at once (they decide whether frames are
    // blended); the marks change at the next BuildOverlay or Rebuild.
    void setSettings(const OverlaySettings& settings);
    // Renders the overlay at width x height from the current settings and installs it.
    // False (the previous overlay kept) when the size cannot be rendered.
    bool BuildOverlay(int width, int height);
    // BuildOverlay at the size of the last build; nothing before the first build.
    void Rebuild();

    // --- any thread ---
    View current() const;

private:
    OverlaySettings m_settings;  // GUI thread only
    int m_lastWidth = 0;         // GUI thread only
    int m_lastHeight = 0;

    // Guards m_prepared and m_blend. Held only to copy or swap them, never while rendering
    // or blending, and never together with the frame lock.
    mutable std::mutex m_lock;
    std::shared_ptr<const PreparedOverlay> m_prepared;
    bool m_blend = true;
};
