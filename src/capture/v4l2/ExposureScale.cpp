#include "capture/v4l2/ExposureScale.h"

#include <algorithm>
#include <cmath>

ExposureScale::ExposureScale(long unitsMin, long unitsMax) {
    // Found by walking the whole (short) scale, so that the limits agree exactly with unitsOf().
    long first = kHighest + 1;
    long last = kLowest - 1;
    for (long e = kLowest; e <= kHighest; ++e) {
        const long units = unitsOf(e);
        if (units >= unitsMin && units <= unitsMax) {
            first = std::min(first, e);
            last = std::max(last, e);
        }
    }
    if (first > last) {
        first = last = log2Of(unitsMin + (std::max(unitsMin, unitsMax) - unitsMin) / 2);
    }
    m_min = first;
    m_max = last;
}

long ExposureScale::toLog2(long units) const {
    return std::clamp(log2Of(units), m_min, m_max);
}

long ExposureScale::toUnits(long log2Seconds) const {
    return unitsOf(std::clamp(log2Seconds, m_min, m_max));
}

long ExposureScale::unitsOf(long log2Seconds) {
    return std::lround(std::ldexp(10000.0, int(std::clamp(log2Seconds, kLowest, kHighest))));
}

long ExposureScale::log2Of(long units) {
    const long e = std::lround(std::log2(double(std::max(units, 1L)) / 10000.0));
    return std::clamp(e, kLowest, kHighest);
}
