#pragma once

#include "capture/Camera.h"

// The camera parameter set: one copy of the camera's nine picture values and three automatic
// flags, kept apart from the camera so that the property dialog's Cancel can put the camera
// back, and so that the camera's stored parameter block has one set to read from and write to.
// The capture controller owns the one the program uses; everything starts at 0.
//
// It talks to a camera only through the Camera interface, so the virtual camera and V4L2
// cameras behave the same. A property the camera lacks is skipped: its value stays as it is.
// Values are written with flags 1 (automatic) when their automatic flag is set and 2 (manual)
// otherwise; the six properties without an automatic flag are always written manual. Exposure
// and gain share one automatic state: whenever one of the two flags is set from the camera or
// by the user, the other gets the same value. GUI thread only.
class CameraParameters {
public:
    long m_lBrightness = 0;
    long m_lContrast = 0;
    long m_lHue = 0;
    long m_lSaturation = 0;
    long m_lSharpness = 0;
    long m_lGamma = 0;
    long m_lWhiteBalance = 0;
    long m_lGain = 0;
    long m_lExposure = 0;  // log2 seconds
    bool m_bWhiteBalanceAuto = false;
    bool m_bExposureAuto = false;
    bool m_bGainAuto = false;

    // A property's value in the set (0 for a property outside it), and setting it.
    long value(CameraProperty property) const;
    void setValue(CameraProperty property, long value);
    // The automatic flag of white balance, exposure or gain; false for the others.
    bool isAuto(CameraProperty property) const;
    // Exposure and gain together.
    void SetExposureAuto(bool on);
    // The flags a property is written with: automatic only where it has an automatic flag set.
    long flagsFor(CameraProperty property) const;

    // When the property dialog opens: brightness, contrast, saturation, hue, gamma, gain and
    // white balance with its flag, then exposure with the flag of both exposure and gain.
    // Sharpness is not read: the set keeps the value it had.
    void FillFromCamera(const Camera& camera);
    // The property dialog's Apply: gamma, gain with its flag, sharpness, white balance with its
    // flag, exposure with its flag, then brightness, contrast, saturation and hue.
    void ReadBack(const Camera& camera);

    // Puts the camera back to the set (the property dialog's Cancel): brightness, contrast,
    // saturation, hue, sharpness, gamma, gain, white balance, exposure. A value outside the
    // camera's range (a set from another camera, or never read) is clamped into it first.
    void WriteToCamera(Camera& camera) const;
    // Writes one property with its value from the set (clamped) and its flags.
    bool WriteProperty(Camera& camera, CameraProperty property) const;

    // Switches between automatic and manual exposure: the set's two flags change together, and
    // only exposure is written to the camera, with the set's exposure value. False, changing
    // nothing, when the camera has no exposure control.
    bool ToggleExposureAuto(Camera& camera);

    // `value` clamped into the camera's range of `property`; unchanged when the range cannot be
    // read.
    static long ClampToRange(const Camera& camera, CameraProperty property, long value);

private:
    // The member that holds a property's value; null for a property outside the set.
    static long CameraParameters::*memberOf(CameraProperty property);
    // Reads one value (and, for the three automatic properties, its flag when `withFlag`).
    bool Read(const Camera& camera, CameraProperty property, bool withFlag);
};
