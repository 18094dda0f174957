#include "display/CircleFit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "contracts/Image.h"

std::optional<Circle> FitCircle(std::span<const EdgePoint> points) {
    const double n = double(points.size());
    if (points.size() < 3) {
        return std::nullopt;
    }
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, sxxx = 0, syyy = 0, sxyy = 0, sxxy = 0;
    for (const EdgePoint& p : points) {
        const double x = p.x;
        const double y = p.y;
        sx += x;
        sy += y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
        sxxx += x * x * x;
        syyy += y * y * y;
        sxyy += x * y * y;
        sxxy += x * x * y;
    }
    const double a1 = n * sxx - sx * sx;
    const double b1 = n * syy - sy * sy;
    const double c1 = n * sxy - sx * sy;
    const double d1 = n * sxyy + n * sxxx - sx * (sxx + syy);
    const double e1 = n * sxxy + n * syyy - sy * (sxx + syy);
    // A·B ≥ C² always; equality means the points lie on one line. The products are large
    // enough to carry rounding, so "equal" is judged relative to their size.
    const double det = a1 * b1 - c1 * c1;
    if (!(det > 1e-12 * a1 * b1) || !(det > 0.0)) {
        return std::nullopt;
    }
    const double a = (c1 * e1 - b1 * d1) / det;
    const double b = (a1 * e1 - c1 * d1) / -det;
    const double radicand = a * a + b * b + 4.0 * (sxx + syy + a * sx + b * sy) / n;
    if (!(radicand >= 0.0) || !std::isfinite(a) || !std::isfinite(b)) {
        return std::nullopt;
    }
    const double cx = std::max(0.0, -a / 2.0);
    const double cy = std::max(0.0, -b / 2.0);
    // A centre beyond the int range is no centre on any frame.
    if (cx > 1e9 || cy > 1e9) {
        return std::nullopt;
    }
    return Circle{int(cx), int(cy), 0.5 * std::sqrt(radicand)};
}

AutoCenterResult AutoCenterOnCircle(const Image& frame, int videoWidth, int videoHeight) {
    AutoCenterResult result;
    const int w = frame.GetWidth();
    const int h = frame.GetHeight();
    // Fewer than 20 rows leave no row step to scan with.
    if (!frame.IsValid() || w < 3 || h < 20) {
        return result;
    }
    Image grey(frame);
    if (!grey.GrayScale()) {
        return result;
    }
    const int stride = grey.GetEffWidth();
    const uint8_t* bits = grey.GetBits(0);

    uint64_t sum = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = bits + size_t(y) * size_t(stride);
        for (int x = 0; x < w; ++x) {
            sum += row[x];
        }
    }
    const unsigned mean = unsigned(sum / (uint64_t(w) * uint64_t(h)));
    const auto bright = [&](int x, int y) { return bits[size_t(y) * size_t(stride) + x] > mean; };

    // Rows are buffer rows (0 is the bottom line); points count rows from the top.
    const int step = h / 20;
    std::vector<EdgePoint> points;
    points.reserve(48);
    for (int y = 1; y < h; y += step) {
        for (int x = 1; x < w; ++x) {
            if (bright(x, y)) {
                points.push_back({x, h - y});
                break;
            }
        }
    }
    for (int y = h - 1; y > 1; y -= step) {
        for (int x = w - 1; x >= 2; --x) {
            if (bright(x, y)) {
                points.push_back({x, h - y});
                break;
            }
        }
    }
    result.edgePoints = int(points.size());
    result.outcome = AutoCenterResult::Outcome::NoCircle;
    result.fitted = FitCircle(points);
    if (!result.fitted) {
        return result;
    }
    int cx = result.fitted->cx;
    int cy = result.fitted->cy;
    const double r = result.fitted->r;
    if (cx < 0 || cx > videoWidth || cy < 0 || cy > videoHeight || r > videoHeight / 2) {
        return result;
    }
    const double z = double(h) / (2.0 * r);
    if (!(z >= 1.0 && z <= 4.0)) {
        result.outcome = AutoCenterResult::Outcome::OutOfRange;
        return result;
    }
    // The circle, and so the pan square around it, stays inside the frame.
    if (cx - r < 0) {
        cx = int(r);
    }
    if (cx + r > videoWidth) {
        cx = int(videoWidth - r);
    }
    if (cy - r < 0) {
        cy = int(r);
    }
    if (cy + r > videoHeight) {
        cy = int(videoHeight - r);
    }
    result.outcome = AutoCenterResult::Outcome::Centred;
    result.cx = cx;
    result.cy = cy;
    result.viewZoom = float(z);
    return result;
}
