#pragma once

#include <optional>
#include <span>

class Image;

// Finding a bright circular field (a microscope's field of view) in a frame, so that the view
// can be centred and cropped on it. Pure functions over an image: no widget, no lock, any
// thread.

// A point of the field's edge; y counts rows from the top of the picture.
struct EdgePoint {
    int x = 0;
    int y = 0;
};

// A fitted circle: the centre in whole pixels (y from the top) and the radius.
struct Circle {
    int cx = 0;
    int cy = 0;
    double r = 0.0;
};

// The algebraic least-squares circle (Kåsa fit) through the points: it fits
// x² + y² + a x + b y + c = 0, all sums in double precision. The centre is (−a/2, −b/2), each
// coordinate raised to 0 when negative and truncated to a whole pixel. Nothing for fewer than
// three points, for points on one line (no finite centre) or when no real radius results.
std::optional<Circle> FitCircle(std::span<const EdgePoint> points);

// What one analysis of a frame found and what the view should do.
struct AutoCenterResult {
    enum class Outcome {
        NotAnalysed,  // empty frame or fewer than 20 rows: nothing is scanned
        NoCircle,     // under three edge points, a line, a centre off the frame, a circle
                      // taller than the frame: the view stays centred at scale 1
        OutOfRange,   // the circle would need a scale outside 1 … 4: the view is reset again
        Centred,      // centre the view on (cx, cy) at viewZoom
    };
    Outcome outcome = Outcome::NotAnalysed;
    int cx = 0;  // pan centre column
    int cy = 0;  // pan centre row, counted from the top of the picture
    float viewZoom = 1.0f;
    std::optional<Circle> fitted;  // the circle as fitted, before it is kept inside the frame
    int edgePoints = 0;
};

// Looks for the brightest region's edge on both sides of `frame` (24-bit or grey) and fits a
// circle to it. Every pixel brighter than the frame's mean grey level counts as bright; about
// twenty rows spread over the height are scanned from the left and from the right for their
// first bright pixel (never the outermost column). When a circle is found, the view scale
// frame height / diameter and the centre (moved so that the circle lies wholly inside the
// videoWidth × videoHeight frame) are returned.
AutoCenterResult AutoCenterOnCircle(const Image& frame, int videoWidth, int videoHeight);
