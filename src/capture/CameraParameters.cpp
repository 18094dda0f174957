#include "capture/CameraParameters.h"

#include <algorithm>

long CameraParameters::*CameraParameters::memberOf(CameraProperty property) {
    switch (property) {
        case CameraProperty::Brightness:
            return &CameraParameters::m_lBrightness;
        case CameraProperty::Contrast:
            return &CameraParameters::m_lContrast;
        case CameraProperty::Hue:
            return &CameraParameters::m_lHue;
        case CameraProperty::Saturation:
            return &CameraParameters::m_lSaturation;
        case CameraProperty::Sharpness:
            return &CameraParameters::m_lSharpness;
        case CameraProperty::Gamma:
            return &CameraParameters::m_lGamma;
        case CameraProperty::WhiteBalance:
            return &CameraParameters::m_lWhiteBalance;
        case CameraProperty::Gain:
            return &CameraParameters::m_lGain;
        case CameraProperty::Exposure:
            return &CameraParameters::m_lExposure;
    }
    return nullptr;
}

long CameraParameters::value(CameraProperty property) const {
    long CameraParameters::*member = memberOf(property);
    return member ? this->*member : 0;
}

void CameraParameters::setValue(CameraProperty property, long v) {
    if (long CameraParameters::*member = memberOf(property)) {
        this->*member = v;
    }
}

bool CameraParameters::isAuto(CameraProperty property) const {
    switch (property) {
        case CameraProperty::WhiteBalance:
            return m_bWhiteBalanceAuto;
        case CameraProperty::Exposure:
            return m_bExposureAuto;
        case CameraProperty::Gain:
            return m_bGainAuto;
        default:
            return false;
    }
}

void CameraParameters::SetExposureAuto(bool on) {
    m_bExposureAuto = on;
    m_bGainAuto = on;
}

long CameraParameters::flagsFor(CameraProperty property) const {
    return isAuto(property) ? kPropertyFlagsAuto : kPropertyFlagsManual;
}

bool CameraParameters::Read(const Camera& camera, CameraProperty property, bool withFlag) {
    long v = 0;
    long flags = kPropertyFlagsManual;
    if (!camera.getProperty(property, &v, &flags)) {
        return false;
    }
    setValue(property, v);
    if (!withFlag) {
        return true;
    }
    // Anything but exactly "manual" counts as automatic.
    const bool isAutomatic = flags != kPropertyFlagsManual;
    switch (property) {
        case CameraProperty::WhiteBalance:
            m_bWhiteBalanceAuto = isAutomatic;
            break;
        case CameraProperty::Exposure:
        case CameraProperty::Gain:
            SetExposureAuto(isAutomatic);
            break;
        default:
            break;
    }
    return true;
}

void CameraParameters::FillFromCamera(const Camera& camera) {
    for (CameraProperty property :
         {CameraProperty::Brightness, CameraProperty::Contrast, CameraProperty::Saturation,
          CameraProperty::Hue, CameraProperty::Gamma, CameraProperty::Gain}) {
        Read(camera, property, false);
    }
    Read(camera, CameraProperty::WhiteBalance, true);
    Read(camera, CameraProperty::Exposure, true);
}

void CameraParameters::ReadBack(const Camera& camera) {
    Read(camera, CameraProperty::Gamma, false);
    Read(camera, CameraProperty::Gain, true);
    Read(camera, CameraProperty::Sharpness, false);
    Read(camera, CameraProperty::WhiteBalance, true);
    Read(camera, CameraProperty::Exposure, true);
    for (CameraProperty property : {CameraProperty::Brightness, CameraProperty::Contrast,
                                    CameraProperty::Saturation, CameraProperty::Hue}) {
        Read(camera, property, false);
    }
}

long CameraParameters::ClampToRange(const Camera& camera, CameraProperty property, long v) {
    PropertyRange range;
    if (!camera.getPropertyRange(property, &range) || range.min > range.max) {
        return v;
    }
    return std::clamp(v, range.min, range.max);
}

bool CameraParameters::WriteProperty(Camera& camera, CameraProperty property) const {
    if (!camera.hasProperty(property)) {
        return false;
    }
    return camera.setProperty(property, ClampToRange(camera, property, value(property)),
                              flagsFor(property));
}

void CameraParameters::WriteToCamera(Camera& camera) const {
    for (CameraProperty property :
         {CameraProperty::Brightness, CameraProperty::Contrast, CameraProperty::Saturation,
          CameraProperty::Hue, CameraProperty::Sharpness, CameraProperty::Gamma,
          CameraProperty::Gain, CameraProperty::WhiteBalance, CameraProperty::Exposure}) {
        WriteProperty(camera, property);
    }
}

bool CameraParameters::ToggleExposureAuto(Camera& camera) {
    if (!camera.hasProperty(CameraProperty::Exposure)) {
        return false;
    }
    SetExposureAuto(!m_bExposureAuto);
    // Only exposure is written: a camera with an automatic gain of its own keeps gain as it is.
    WriteProperty(camera, CameraProperty::Exposure);
    return true;
}
