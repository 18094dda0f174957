#include "display/Overlay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

// trunc(fraction * side) in single precision, as the settings are stored. Values that do not
// fit an int (a corrupt parameter block) are held to a range far beyond any frame, so the
// geometry below stays in 64-bit integers and simply clips.
int scaledSide(float fraction, int side) {
    const float v = fraction * float(side);
    constexpr float kLimit = 1 << 24;
    if (std::isnan(v)) {
        return 0;
    }
    return int(std::clamp(v, -kLimit, kLimit));
}

// Largest k >= 0 with k * k <= n (n >= 0).
int64_t isqrt(int64_t n) {
    int64_t k = int64_t(std::sqrt(double(n)));
    while (k > 0 && k * k > n) {
        --k;
    }
    while ((k + 1) * (k + 1) <= n) {
        ++k;
    }
    return k;
}

// Writes marks into a 24-bit canvas, clipping everything to the image.
class Painter {
public:
    Painter(Image& image, ColorRef colour)
        : m_image(image),
          m_width(image.GetWidth()),
          m_height(image.GetHeight()),
          m_b(BlueOf(colour)),
          m_g(GreenOf(colour)),
          m_r(RedOf(colour)) {}

    // Columns x0 .. x1 - 1 of buffer row y.
    void Row(int64_t y, int64_t x0, int64_t x1) {
        if (y < 0 || y >= m_height) {
            return;
        }
        x0 = std::max<int64_t>(x0, 0);
        x1 = std::min<int64_t>(x1, m_width);
        uint8_t* p = m_image.GetBits(int(y));
        for (int64_t x = x0; x < x1; ++x) {
            p[x * 3] = m_b;
            p[x * 3 + 1] = m_g;
            p[x * 3 + 2] = m_r;
        }
    }
    // Rows y0 .. y1 - 1 of column x.
    void Column(int64_t x, int64_t y0, int64_t y1) {
        if (x < 0 || x >= m_width) {
            return;
        }
        y0 = std::max<int64_t>(y0, 0);
        y1 = std::min<int64_t>(y1, m_height);
        for (int64_t y = y0; y < y1; ++y) {
            Row(y, x, x + 1);
        }
    }
    // Every pixel whose distance d from (cx, cy) satisfies |radius - d| < 1. With integer
    // squared distances n this is exact: d < radius + 1 <=> n < (radius + 1)^2, and
    // d > radius - 1 <=> n > (radius - 1)^2 when radius - 1 >= 0 (always true otherwise).
    void Ring(int64_t cx, int64_t cy, int64_t radius) {
        const int64_t outer = radius + 1;
        const int64_t inner = radius - 1;
        if (outer <= 0) {
            return;
        }
        for (int64_t y = std::max<int64_t>(cy - outer, 0);
             y <= std::min<int64_t>(cy + outer, m_height - 1); ++y) {
            for (int64_t x = std::max<int64_t>(cx - outer, 0);
                 x <= std::min<int64_t>(cx + outer, m_width - 1); ++x) {
                const int64_t n = (cx - x) * (cx - x) + (cy - y) * (cy - y);
                if (n < outer * outer && (inner < 0 || n > inner * inner)) {
                    Row(y, x, x + 1);
                }
            }
        }
    }

private:
    Image& m_image;
    int m_width;
    int m_height;
    uint8_t m_b, m_g, m_r;
};

}  // namespace

Image BuildOverlayImage(const OverlaySettings& settings, int width, int height) {
    Image canvas;
    if (!canvas.Create(width, height, 24)) {
        return canvas;
    }
    canvas.Clear(255);

    const int64_t cx = int64_t(width * 0.5);
    const int64_t cy = int64_t(height * 0.5);

    if (settings.m_bMaskEnable) {
        // Paint every pixel at distance >= r. For integer squared distances n and integer r,
        // sqrt(n) >= r <=> n >= r^2, so each row's clear part is one span found by an
        // integer square root instead of a test per pixel.
        Painter mask(canvas, settings.m_clrMask);
        const int64_t r = scaledSide(settings.m_fMaskRadius, height);
        for (int64_t y = 0; y < height; ++y) {
            const int64_t room = r * r - (cy - y) * (cy - y);  // clear while dx^2 < room
            if (r <= 0 || room <= 0) {
                mask.Row(y, 0, width);
                continue;
            }
            const int64_t k = isqrt(room - 1);  // clear columns cx - k .. cx + k
            mask.Row(y, 0, cx - k);
            mask.Row(y, cx + k + 1, width);
        }
    }

    if (settings.m_bCrossEnable) {
        Painter cross(canvas, settings.m_clrCross);
        const int64_t s = scaledSide(settings.m_fCrossSize, height);
        const int64_t t = s / 4;
        const int64_t h2 = s / 2;
        const int64_t X = width / 2;
        const int64_t Y = height / 2;
        cross.Row(Y, cx - s, cx + s);
        if (Y - s > 0) {
            cross.Row(Y - s, cx - t, cx + t);
            cross.Row(Y + s, cx - t, cx + t);
        }
        cross.Column(X - s, cy - t, cy + t);
        cross.Column(X + s, cy - t, cy + t);
        cross.Column(X, std::max<int64_t>(0, cy - s), std::min<int64_t>(height, cy + s));
        cross.Ring(cx, cy, h2);
        cross.Ring(cx, cy, t);
    }
    return canvas;
}

PreparedOverlay::PreparedOverlay(Image canvas, const OverlaySettings& settings)
    : m_canvas(std::move(canvas)), m_settings(settings) {
    if (!m_canvas.IsValid() || m_canvas.GetBpp() != 24) {
        m_canvas.Destroy();
        m_rowStart.assign(1, 0);
        return;
    }
    const int w = m_canvas.GetWidth();
    const int h = m_canvas.GetHeight();
    std::vector<uint32_t> colours;  // 0xRRGGBB of each colour row
    auto colourIndex = [&](uint32_t rgb) {
        for (size_t i = 0; i < colours.size(); ++i) {
            if (colours[i] == rgb) {
                return uint32_t(i);
            }
        }
        colours.push_back(rgb);
        std::vector<uint8_t> row(size_t(w) * 3);
        for (int x = 0; x < w; ++x) {
            row[size_t(x) * 3] = uint8_t(rgb);
            row[size_t(x) * 3 + 1] = uint8_t(rgb >> 8);
            row[size_t(x) * 3 + 2] = uint8_t(rgb >> 16);
        }
        m_colourRows.push_back(std::move(row));
        return uint32_t(colours.size() - 1);
    };

    m_rowStart.reserve(size_t(h) + 1);
    for (int y = 0; y < h; ++y) {
        m_rowStart.push_back(uint32_t(m_runs.size()));
        const uint8_t* p = m_canvas.GetBits(y);
        int x = 0;
        while (x < w) {
            // Byte order in memory is blue, green, red; keep it as 0xRRGGBB packed.
            const uint32_t rgb =
                uint32_t(p[x * 3]) | (uint32_t(p[x * 3 + 1]) << 8) | (uint32_t(p[x * 3 + 2]) << 16);
            if (rgb == 0xFFFFFF) {
                ++x;
                continue;
            }
            int end = x + 1;
            while (end < w && std::memcmp(p + end * 3, p + x * 3, 3) == 0) {
                ++end;
            }
            m_runs.push_back(Run{x, end - x, colourIndex(rgb)});
            x = end;
        }
    }
    m_rowStart.push_back(uint32_t(m_runs.size()));
}

std::shared_ptr<const PreparedOverlay> PreparedOverlay::Build(const OverlaySettings& settings,
                                                              int width, int height) {
    return std::make_shared<const PreparedOverlay>(BuildOverlayImage(settings, width, height),
                                                   settings);
}

bool PreparedOverlay::BlendInto(Image& frame) const {
    if (!valid() || !frame.IsValid() || frame.GetBpp() != 24 || frame.GetWidth() != width() ||
        frame.GetHeight() != height()) {
        return false;
    }
    const int h = height();
    for (int y = 0; y < h; ++y) {
        uint8_t* dst = frame.GetBits(y);
        for (uint32_t i = m_rowStart[size_t(y)]; i < m_rowStart[size_t(y) + 1]; ++i) {
            const Run& run = m_runs[i];
            std::memcpy(dst + size_t(run.x0) * 3, m_colourRows[run.colour].data(),
                        size_t(run.count) * 3);
        }
    }
    return true;
}

bool PreparedOverlay::ComposeInto(const Image& frame, Image& out, bool outHasMarks) const {
    if (!valid() || !frame.IsValid() || frame.GetBpp() != 24 || frame.GetWidth() != width() ||
        frame.GetHeight() != height() || &frame == &out) {
        return false;
    }
    const int h = height();
    if (!out.IsValid() || out.GetBpp() != 24 || out.GetWidth() != width() || out.GetHeight() != h) {
        if (!out.Create(width(), h, 24)) {
            return false;
        }
        outHasMarks = false;
    }
    const size_t stride = size_t(frame.GetEffWidth());
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = frame.GetBits(y);
        uint8_t* dst = out.GetBits(y);
        size_t done = 0;  // bytes of the row written so far
        for (uint32_t i = m_rowStart[size_t(y)]; i < m_rowStart[size_t(y) + 1]; ++i) {
            const Run& run = m_runs[i];
            const size_t start = size_t(run.x0) * 3;
            const size_t bytes = size_t(run.count) * 3;
            std::memcpy(dst + done, src + done, start - done);
            if (!outHasMarks) {
                std::memcpy(dst + start, m_colourRows[run.colour].data(), bytes);
            }
            done = start + bytes;
        }
        std::memcpy(dst + done, src + done, stride - done);  // padding included, as Copy does
    }
    return true;
}

void Overlay::setSettings(const OverlaySettings& settings) {
    m_settings = settings;
    std::lock_guard guard(m_lock);
    m_blend = settings.blendWanted();
}

bool Overlay::BuildOverlay(int width, int height) {
    std::shared_ptr<const PreparedOverlay> made = PreparedOverlay::Build(m_settings, width, height);
    if (!made->valid()) {
        return false;
    }
    m_lastWidth = width;
    m_lastHeight = height;
    {
        std::lock_guard guard(m_lock);
        made.swap(m_prepared);
        m_blend = m_settings.blendWanted();
    }
    return true;  // the replaced overlay is freed here, outside the lock
}

void Overlay::Rebuild() {
    if (m_lastWidth > 0 && m_lastHeight > 0) {
        BuildOverlay(m_lastWidth, m_lastHeight);
    }
}

Overlay::View Overlay::current() const {
    std::lock_guard guard(m_lock);
    return View{m_prepared, m_blend};
}
