#pragma once

// Exposure as Tavrel presents it, in whole log2 seconds (-7 = 1/128 s), over a camera's
// V4L2_CID_EXPOSURE_ABSOLUTE control, which counts in units of 100 us. The parameter blocks in
// a camera's flash keep exposure in log2 seconds, so the conversion must not drift.
//
// The conversions and their rounding:
//   log2 seconds -> units: 10000 * 2^e rounded to the nearest unit (-7 -> 78.125 -> 78).
//   units -> log2 seconds: the nearest power of two on the log scale, round(log2(units / 10000));
//     e and e+1 part at 10000 * 2^(e + 1/2) units (-7 covers 56..110 units). Values below one
//     unit count as one.
// Both stay within -13 (one unit) .. 17 (the largest power of two a 32-bit control holds), and
// every e in it survives the round trip.
//
// A scale is made for one control's range. Its min() and max() are the first and last e whose
// units lie inside that range, so a slider over min()..max() never offers a value the camera
// cannot take; values read back and the default are converted and then clamped into it. A
// control range that holds no power of two shows the one value nearest to its middle.
class ExposureScale {
public:
    ExposureScale(long unitsMin, long unitsMax);

    long min() const { return m_min; }
    long max() const { return m_max; }

    // A value read from the control, or its default, as log2 seconds within min()..max().
    long toLog2(long units) const;
    // log2Seconds clamped into min()..max(), in units. The caller still clamps the result to the
    // control's range and step (it only leaves it for a range that holds no power of two).
    long toUnits(long log2Seconds) const;

    static constexpr long kLowest = -13;
    static constexpr long kHighest = 17;
    static long unitsOf(long log2Seconds);  // log2Seconds limited to kLowest..kHighest
    static long log2Of(long units);

private:
    long m_min = kLowest;
    long m_max = kHighest;
};
