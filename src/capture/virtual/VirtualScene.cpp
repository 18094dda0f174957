#include "capture/virtual/VirtualScene.h"

#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFrameSeconds = 1.0 / 30.0;

inline uint32_t packArgb(int r, int g, int b) {
    return 0xFF000000u | uint32_t(std::clamp(r, 0, 255)) << 16 |
           uint32_t(std::clamp(g, 0, 255)) << 8 | uint32_t(std::clamp(b, 0, 255));
}
inline int channelR(uint32_t p) {
    return int(p >> 16 & 0xFF);
}
inline int channelG(uint32_t p) {
    return int(p >> 8 & 0xFF);
}
inline int channelB(uint32_t p) {
    return int(p & 0xFF);
}

inline double smoothstep(double edge0, double edge1, double x) {
    double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// A cheap, repeatable per-pixel noise in -1 .. 1.
inline double hashNoise(int x, int y) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return double(h & 0xFFFF) / 32767.5 - 1.0;
}

// A small deterministic generator for the scene's layout, so every run shows the same slide.
struct LayoutRandom {
    uint32_t state = 0x2545F491u;
    double next() {  // 0 .. 1
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return double(state) / 4294967295.0;
    }
    double range(double lo, double hi) { return lo + (hi - lo) * next(); }
};

// Seven-segment layout of the digits 0-9: bits a b c d e f g.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

}  // namespace

VirtualScene::VirtualScene() {
    LayoutRandom random;
    const int cellCount = 12;
    m_cells.reserve(cellCount);
    for (int i = 0; i < cellCount; ++i) {
        Cell cell{};
        // Orbits stay inside 0.7 field radii, so cells never leave the field.
        double orbit = random.range(0.15, 0.62);
        double angle = random.range(0, 2 * kPi);
        cell.orbitX = std::abs(orbit * std::cos(angle)) + 0.05;
        cell.orbitY = std::abs(orbit * std::sin(angle)) + 0.05;
        cell.speedX = random.range(0.05, 0.22) * (random.next() < 0.5 ? -1 : 1);
        cell.speedY = random.range(0.05, 0.22) * (random.next() < 0.5 ? -1 : 1);
        cell.phaseX = random.range(0, 2 * kPi);
        cell.phaseY = random.range(0, 2 * kPi);
        cell.radiusX = random.range(0.05, 0.09);
        cell.radiusY = cell.radiusX * random.range(0.65, 1.0);
        // Stained tissue: pink, violet and pale green cytoplasm.
        static constexpr uint8_t kTints[3][3] = {{235, 170, 200}, {190, 160, 230}, {180, 225, 185}};
        const uint8_t* tint = kTints[i % 3];
        cell.r = tint[0];
        cell.g = tint[1];
        cell.b = tint[2];
        m_cells.push_back(cell);
    }
    buildTables();
}

void VirtualScene::setSize(int width, int height) {
    width = std::max(16, width & ~1);
    height = std::max(16, height);
    if (width == m_width && height == m_height) {
        return;
    }
    m_width = width;
    m_height = height;
    m_frame.assign(size_t(width) * size_t(height), 0);
    buildBase();
    m_backgroundValid = false;
}

void VirtualScene::setPicture(const VirtualPictureSettings& settings) {
    if (settings.sharpness != m_settings.sharpness) {
        m_backgroundValid = false;
    }
    m_settings = settings;
    buildTables();
}

// The static part of the slide: illumination with a vignette and soft field edge, a faint
// mottle and noise, the eyepiece grid and a scale bar.
void VirtualScene::buildBase() {
    const int w = m_width;
    const int h = m_height;
    m_base.assign(size_t(w) * size_t(h), 0);
    const double cx = fieldCenterX();
    const double cy = fieldCenterY();
    const double radius = fieldRadius();
    const double edge = std::max(1.5, h * 0.012);
    const double gridStep = radius / 4.0;
    const double gridLine = std::max(1.0, h / 600.0);

    for (int y = 0; y < h; ++y) {
        const double dy = y + 0.5 - cy;
        uint32_t* row = &m_base[size_t(y) * size_t(w)];
        for (int x = 0; x < w; ++x) {
            const double dx = x + 0.5 - cx;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double noise = hashNoise(x, y);
            const double surround = 9.0 + 2.0 * noise;
            const double inside = 1.0 - smoothstep(radius - edge, radius + edge, r);
            if (inside <= 0.0) {
                const int v = int(std::lround(surround));
                row[x] = packArgb(v, v, v);
                continue;
            }
            const double rr = r / radius;
            double light = (1.0 - 0.22 * rr * rr) *
                           (1.0 + 0.03 * std::sin(x * 0.021 + 1.3) * std::sin(y * 0.017 + 0.4));
            // Grid lines through the field centre.
            const double gx = std::fmod(std::abs(dx), gridStep);
            const double gy = std::fmod(std::abs(dy), gridStep);
            if (gx < gridLine || gy < gridLine) {
                light *= 0.86;
            }
            const double n = 3.0 * noise;
            const double fr = 240.0 * light + n;
            const double fg = 234.0 * light + n;
            const double fb = 222.0 * light + n;
            row[x] = packArgb(int(std::lround(surround + inside * (fr - surround))),
                              int(std::lround(surround + inside * (fg - surround))),
                              int(std::lround(surround + inside * (fb - surround))));
        }
    }

    // Scale bar in the lower right of the field: a bar with raised end ticks.
    const int barX0 = int(cx + 0.25 * radius);
    const int barX1 = int(cx + 0.6 * radius);
    const int barY = int(cy + 0.6 * radius);
    const int thick = std::max(2, h / 160);
    const uint32_t dark = packArgb(40, 40, 46);
    for (int y = barY; y < barY + thick && y < h; ++y) {
        for (int x = barX0; x < barX1 && x < w; ++x) {
            m_base[size_t(y) * size_t(w) + x] = dark;
        }
    }
    for (int y = std::max(0, barY - 3 * thick); y < barY && y < h; ++y) {
        for (int t = 0; t < thick; ++t) {
            if (barX0 + t < w) {
                m_base[size_t(y) * size_t(w) + barX0 + t] = dark;
            }
            if (barX1 - 1 - t >= 0 && barX1 - 1 - t < w) {
                m_base[size_t(y) * size_t(w) + barX1 - 1 - t] = dark;
            }
        }
    }
}

// The background is the base with the sharpness setting applied as an unsharp mask: below
// the middle setting it blends towards a blurred copy, above it adds the difference.
void VirtualScene::buildBackground() {
    m_backgroundValid = true;
    const double k = (m_settings.sharpness - 3) / 3.0;
    m_edgeSoftness = (0.6 + (6 - m_settings.sharpness) * 0.35) * std::max(1.0, m_height / 720.0);
    if (k == 0.0) {
        m_background = m_base;
        return;
    }
    const int w = m_width;
    const int h = m_height;
    const int radius = std::max(1, int(std::lround(h / 400.0)));
    const int span = 2 * radius + 1;

    // Separable box blur, horizontal then vertical, with edges clamped.
    std::vector<uint32_t> horizontal(m_base.size());
    for (int y = 0; y < h; ++y) {
        const uint32_t* src = &m_base[size_t(y) * size_t(w)];
        uint32_t* dst = &horizontal[size_t(y) * size_t(w)];
        for (int x = 0; x < w; ++x) {
            int sr = 0, sg = 0, sb = 0;
            for (int i = -radius; i <= radius; ++i) {
                const uint32_t p = src[std::clamp(x + i, 0, w - 1)];
                sr += channelR(p);
                sg += channelG(p);
                sb += channelB(p);
            }
            dst[x] = packArgb(sr / span, sg / span, sb / span);
        }
    }
    m_background.resize(m_base.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int sr = 0, sg = 0, sb = 0;
            for (int i = -radius; i <= radius; ++i) {
                const uint32_t p = horizontal[size_t(std::clamp(y + i, 0, h - 1)) * size_t(w) + x];
                sr += channelR(p);
                sg += channelG(p);
                sb += channelB(p);
            }
            const uint32_t o = m_base[size_t(y) * size_t(w) + x];
            auto mix = [k, span](int original, int sum) {
                const double blurred = double(sum) / span;
                return int(std::lround(original + k * (original - blurred)));
            };
            m_background[size_t(y) * size_t(w) + x] =
                packArgb(mix(channelR(o), sr), mix(channelG(o), sg), mix(channelB(o), sb));
        }
    }
}

// Exposure, gain, white balance, contrast, brightness and gamma act per channel and are
// folded into one table; hue and saturation mix channels and go into a colour matrix.
void VirtualScene::buildTables() {
    const VirtualPictureSettings& s = m_settings;
    // Automatic exposure holds the picture at the level of the default manual setting, whatever
    // the gain; automatic gain on its own leaves the sensor at its base gain.
    const double gain = s.gainAuto ? 1.0 : 1.0 + s.gain / 25.0;
    const double level = s.exposureAuto ? 1.0 : std::pow(2.0, double(s.exposure + 6)) * gain;
    // A higher colour temperature setting warms the picture, a lower one cools it.
    const double tint =
        s.whiteBalanceAuto ? 0.0 : std::clamp((s.whiteBalance - 4600) / 1900.0, -1.0, 1.0);
    const double channelGain[3] = {1.0 - 0.3 * tint, 1.0, 1.0 + 0.3 * tint};  // B, G, R
    const double contrast = s.contrast / 32.0;
    const double brightness = s.brightness / 256.0;
    const double gammaExponent = 100.0 / double(std::max(1L, s.gamma));
    for (int v = 0; v < 256; ++v) {
        for (int c = 0; c < 3; ++c) {
            double x = v / 255.0 * level * channelGain[c];
            x = (x - 0.5) * contrast + 0.5 + brightness;
            x = std::pow(std::clamp(x, 0.0, 1.0), gammaExponent);
            m_table[size_t(v) * 4 + size_t(c)] = uint8_t(std::lround(x * 255.0));
        }
        m_table[size_t(v) * 4 + 3] = uint8_t(v);
    }
    m_tableIsIdentity = true;
    for (size_t i = 0; i < m_table.size(); ++i) {
        if (m_table[i] != uint8_t(i / 4)) {
            m_tableIsIdentity = false;
        }
    }

    // Hue rotation and saturation act on the colour difference signals (B-Y, R-Y) and leave
    // the luma alone; the matrix is that operation expressed in B, G, R.
    const double sat = s.saturation / 64.0;
    const double angle = s.hue * kPi / 180.0;
    m_matrixIsIdentity = (s.saturation == 64 && s.hue == 0);
    const double wr = 0.299, wg = 0.587, wb = 0.114;
    const double cs = std::cos(angle) * sat, sn = std::sin(angle) * sat;
    double m[3][3];  // m[out][in], index 0 = B, 1 = G, 2 = R
    for (int in = 0; in < 3; ++in) {
        const double b = in == 0, g = in == 1, r = in == 2;
        const double luma = wr * r + wg * g + wb * b;
        const double u = b - luma, v = r - luma;
        const double u2 = u * cs - v * sn;
        const double v2 = u * sn + v * cs;
        m[0][in] = luma + u2;
        m[2][in] = luma + v2;
        m[1][in] = luma - (wr * v2 + wb * u2) / wg;
    }
    m_matrix.fill(0);
    for (int out = 0; out < 3; ++out) {
        for (int in = 0; in < 3; ++in) {
            m_matrix[size_t(out) * 4 + size_t(in)] =
                int8_t(std::clamp(std::lround(m[out][in] * 64.0), -128L, 127L));
        }
    }
    m_matrix[15] = 64;
}

const uint8_t* VirtualScene::render(uint64_t frameNumber) {
    if (m_width == 0) {
        return nullptr;
    }
    if (!m_backgroundValid) {
        buildBackground();
    }
    std::memcpy(m_frame.data(), m_background.data(), m_frame.size() * sizeof(uint32_t));

    const double seconds = double(frameNumber) * kFrameSeconds;
    for (const Cell& cell : m_cells) {
        drawCell(cell, seconds);
    }
    drawParticles(seconds);
    drawCounter(frameNumber);

    uint8_t* bytes = reinterpret_cast<uint8_t*>(m_frame.data());
    // The default settings give an identity table; skipping it saves the largest per-pixel pass.
    if (!m_tableIsIdentity) {
        libyuv::ARGBColorTable(bytes, stride(), m_table.data(), 0, 0, m_width, m_height);
    }
    if (!m_matrixIsIdentity) {
        libyuv::ARGBColorMatrix(bytes, stride(), bytes, stride(), m_matrix.data(), m_width,
                                m_height);
    }
    if (m_settings.powerLineFrequency != 1) {
        applyBanding(frameNumber);
    }
    return bytes;
}

// Cells absorb light: each channel is multiplied by the cell's transmittance, with a darker
// membrane and nucleus, and anti-aliased edges whose width follows the sharpness setting.
void VirtualScene::drawCell(const Cell& cell, double seconds) {
    const double radius = fieldRadius();
    const double cx =
        fieldCenterX() + radius * cell.orbitX * std::sin(cell.speedX * seconds + cell.phaseX);
    const double cy =
        fieldCenterY() + radius * cell.orbitY * std::sin(cell.speedY * seconds + cell.phaseY);
    const double rx = std::max(2.0, cell.radiusX * radius);
    const double ry = std::max(2.0, cell.radiusY * radius);
    const double turn = 0.3 * seconds + cell.phaseX;
    const double ca = std::cos(turn), sa = std::sin(turn);
    const double rmin = std::min(rx, ry);
    const double soft = m_edgeSoftness;
    const double reach = std::max(rx, ry) + soft + 1.0;

    const int x0 = std::max(0, int(cx - reach));
    const int x1 = std::min(m_width - 1, int(cx + reach));
    const int y0 = std::max(0, int(cy - reach));
    const int y1 = std::min(m_height - 1, int(cy + reach));
    const double tr = cell.r / 255.0, tg = cell.g / 255.0, tb = cell.b / 255.0;

    for (int y = y0; y <= y1; ++y) {
        uint32_t* row = &m_frame[size_t(y) * size_t(m_width)];
        const double dy = y + 0.5 - cy;
        for (int x = x0; x <= x1; ++x) {
            const double dx = x + 0.5 - cx;
            const double u = (dx * ca + dy * sa) / rx;
            const double v = (-dx * sa + dy * ca) / ry;
            const double d = std::sqrt(u * u + v * v);
            const double coverage = std::clamp((1.0 - d) * rmin / soft + 0.5, 0.0, 1.0);
            if (coverage <= 0.0) {
                continue;
            }
            // Membrane near the rim, nucleus off-centre.
            const double membrane = smoothstep(0.70, 0.86, d);
            const double nu = u - 0.25, nv = v + 0.1;
            const double nucleus =
                std::clamp((0.32 - std::sqrt(nu * nu + nv * nv)) * rmin / soft + 0.5, 0.0, 1.0);
            double ar = tr + membrane * (0.45 - tr);
            double ag = tg + membrane * (0.40 - tg);
            double ab = tb + membrane * (0.50 - tb);
            ar += nucleus * (0.50 - ar);
            ag += nucleus * (0.35 - ag);
            ab += nucleus * (0.62 - ab);
            const uint32_t p = row[x];
            row[x] = packArgb(int(channelR(p) * (1.0 - coverage * (1.0 - ar))),
                              int(channelG(p) * (1.0 - coverage * (1.0 - ag))),
                              int(channelB(p) * (1.0 - coverage * (1.0 - ab))));
        }
    }
}

// Small dark particles in jittery motion, confined to the field.
void VirtualScene::drawParticles(double seconds) {
    const double radius = fieldRadius();
    const int size = std::max(1, m_height / 300);
    LayoutRandom random;
    random.state = 0x9E3779B9u;
    for (int i = 0; i < 40; ++i) {
        const double baseR = 0.8 * std::sqrt(random.next());
        const double baseA = random.range(0, 2 * kPi);
        const double f1 = random.range(0.7, 2.3), f2 = random.range(0.7, 2.3);
        const double p1 = random.range(0, 2 * kPi), p2 = random.range(0, 2 * kPi);
        const double jitter = 0.04;
        const double px = baseR * std::cos(baseA) + jitter * (std::sin(f1 * seconds + p1) +
                                                              0.5 * std::sin(3.1 * f2 * seconds));
        const double py = baseR * std::sin(baseA) + jitter * (std::sin(f2 * seconds + p2) +
                                                              0.5 * std::sin(2.7 * f1 * seconds));
        const int x = int(fieldCenterX() + px * radius);
        const int y = int(fieldCenterY() + py * radius);
        for (int yy = std::max(0, y - size); yy <= std::min(m_height - 1, y + size); ++yy) {
            uint32_t* row = &m_frame[size_t(yy) * size_t(m_width)];
            for (int xx = std::max(0, x - size); xx <= std::min(m_width - 1, x + size); ++xx) {
                const uint32_t p = row[xx];
                row[xx] = packArgb(channelR(p) / 2, channelG(p) / 2, channelB(p) * 5 / 8);
            }
        }
    }
}

void VirtualScene::fillRect(int x0, int y0, int x1, int y1, uint32_t argb) {
    x0 = std::max(0, x0);
    y0 = std::max(0, y0);
    x1 = std::min(m_width, x1);
    y1 = std::min(m_height, y1);
    for (int y = y0; y < y1; ++y) {
        std::fill(&m_frame[size_t(y) * size_t(m_width) + size_t(x0)],
                  &m_frame[size_t(y) * size_t(m_width) + size_t(x1)], argb);
    }
}

// The frame number as six seven-segment digits in the lower left of the field.
void VirtualScene::drawCounter(uint64_t frameNumber) {
    const double radius = fieldRadius();
    const int dh = std::max(10, int(m_height * 0.045));
    const int dw = dh * 11 / 20;
    const int t = std::max(2, dh / 7);
    const int gap = std::max(3, dw / 3);
    const int left = int(fieldCenterX() - 0.55 * radius);
    const int top = int(fieldCenterY() + 0.55 * radius);
    const uint32_t ink = packArgb(30, 36, 48);
    uint64_t value = frameNumber % 1000000;
    for (int digit = 5; digit >= 0; --digit) {
        const uint8_t seg = kSegments[value % 10];
        value /= 10;
        const int x = left + digit * (dw + gap);
        const int mid = top + dh / 2 - t / 2;
        if (seg & 0x01) {
            fillRect(x, top, x + dw, top + t, ink);  // a
        }
        if (seg & 0x02) {
            fillRect(x + dw - t, top, x + dw, mid + t, ink);  // b
        }
        if (seg & 0x04) {
            fillRect(x + dw - t, mid, x + dw, top + dh, ink);  // c
        }
        if (seg & 0x08) {
            fillRect(x, top + dh - t, x + dw, top + dh, ink);  // d
        }
        if (seg & 0x10) {
            fillRect(x, mid, x + t, top + dh, ink);  // e
        }
        if (seg & 0x20) {
            fillRect(x, top, x + t, mid + t, ink);  // f
        }
        if (seg & 0x40) {
            fillRect(x, mid, x + dw, mid + t, ink);  // g
        }
    }
}

// A sensor whose anti-flicker setting does not match the mains (50 Hz here) shows slowly
// rolling horizontal bands.
void VirtualScene::applyBanding(uint64_t frameNumber) {
    const double period = m_height / 5.0;
    const double phase = double(frameNumber) * 0.35;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(m_frame.data());
    for (int y = 0; y < m_height; ++y) {
        const double f = 1.0 - 0.10 * (0.5 + 0.5 * std::sin(2 * kPi * y / period + phase));
        const uint32_t m = uint32_t(std::lround(255.0 * f));
        const uint32_t shade = 0xFF000000u | m << 16 | m << 8 | m;
        uint8_t* row = bytes + size_t(y) * size_t(stride());
        libyuv::ARGBShade(row, stride(), row, stride(), m_width, 1, shade);
    }
}
