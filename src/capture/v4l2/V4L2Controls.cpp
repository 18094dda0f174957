#include "capture/v4l2/V4L2Controls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>

#include "capture/v4l2/V4L2Ioctl.h"

long ExposureLog2ToV4L2(long log2Seconds, long v4l2Min, long v4l2Max) {
    const long e = std::clamp(log2Seconds, -40L, 20L);
    const long units = std::lround(std::ldexp(10000.0, int(e)));
    return std::clamp(units, v4l2Min, std::max(v4l2Min, v4l2Max));
}

long ExposureV4L2ToLog2(long v4l2Units) {
    return std::lround(std::log2(double(std::max(v4l2Units, 1L)) / 10000.0));
}

void V4L2Controls::attach(int fd) {
    m_fd = fd;
    // Remember which controls exist, and how automatic exposure is switched on.
    m_controls.clear();
    for (uint32_t id :
         {V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_HUE, V4L2_CID_HUE_AUTO,
          V4L2_CID_SATURATION, V4L2_CID_SHARPNESS, V4L2_CID_GAMMA, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN,
          V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE,
          V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_CID_POWER_LINE_FREQUENCY}) {
        v4l2_queryctrl q{};
        q.id = id;
        if (V4L2Ioctl(m_fd, VIDIOC_QUERYCTRL, &q) == 0 && !(q.flags & V4L2_CTRL_FLAG_DISABLED)) {
            m_controls.insert(id);
        }
    }
    m_exposureAutoValue = V4L2_EXPOSURE_AUTO;
    if (controlPresent(V4L2_CID_EXPOSURE_AUTO)) {
        // UVC cameras usually offer only manual and aperture priority (automatic exposure
        // time with a fixed iris), which is what "automatic" means for them.
        v4l2_querymenu item{};
        item.id = V4L2_CID_EXPOSURE_AUTO;
        item.index = V4L2_EXPOSURE_APERTURE_PRIORITY;
        if (V4L2Ioctl(m_fd, VIDIOC_QUERYMENU, &item) == 0) {
            m_exposureAutoValue = V4L2_EXPOSURE_APERTURE_PRIORITY;
        }
    }
}

void V4L2Controls::detach() {
    m_fd = -1;
    m_controls.clear();
}

bool V4L2Controls::controlPresent(uint32_t id) const {
    return m_controls.count(id) != 0;
}

bool V4L2Controls::resolveProperty(CameraProperty property, PropertyControls* c) const {
    *c = PropertyControls();
    switch (property) {
        case CameraProperty::Brightness:
            c->valueId = V4L2_CID_BRIGHTNESS;
            break;
        case CameraProperty::Contrast:
            c->valueId = V4L2_CID_CONTRAST;
            break;
        case CameraProperty::Hue:
            c->valueId = V4L2_CID_HUE;
            c->autoId = V4L2_CID_HUE_AUTO;
            c->autoKind = AutoKind::Boolean;
            break;
        case CameraProperty::Saturation:
            c->valueId = V4L2_CID_SATURATION;
            break;
        case CameraProperty::Sharpness:
            c->valueId = V4L2_CID_SHARPNESS;
            break;
        case CameraProperty::Gamma:
            c->valueId = V4L2_CID_GAMMA;
            break;
        case CameraProperty::WhiteBalance:
            c->valueId = V4L2_CID_WHITE_BALANCE_TEMPERATURE;
            c->autoId = V4L2_CID_AUTO_WHITE_BALANCE;
            c->autoKind = AutoKind::Boolean;
            break;
        case CameraProperty::Gain:
            c->valueId = V4L2_CID_GAIN;
            // Without a gain switch of its own, gain is automatic together with exposure, as
            // UVC cameras run them in one loop.
            if (controlPresent(V4L2_CID_AUTOGAIN)) {
                c->autoId = V4L2_CID_AUTOGAIN;
                c->autoKind = AutoKind::Boolean;
            } else {
                c->autoId = V4L2_CID_EXPOSURE_AUTO;
                c->autoKind = AutoKind::ExposureMenu;
            }
            break;
        case CameraProperty::Exposure:
            c->valueId = V4L2_CID_EXPOSURE_ABSOLUTE;
            c->autoId = V4L2_CID_EXPOSURE_AUTO;
            c->autoKind = AutoKind::ExposureMenu;
            break;
        default:
            return false;
    }
    if (!controlPresent(c->valueId)) {
        return false;
    }
    if (c->autoId && !controlPresent(c->autoId)) {
        c->autoId = 0;
        c->autoKind = AutoKind::None;
    }
    return true;
}

bool V4L2Controls::readControl(uint32_t id, long* value) const {
    v4l2_control ctrl{};
    ctrl.id = id;
    if (V4L2Ioctl(m_fd, VIDIOC_G_CTRL, &ctrl) < 0) {
        m_logFailure("VIDIOC_G_CTRL", errno);
        return false;
    }
    *value = ctrl.value;
    return true;
}

bool V4L2Controls::writeControl(uint32_t id, long value) {
    v4l2_control ctrl{};
    ctrl.id = id;
    ctrl.value = int32_t(std::clamp<long>(value, INT32_MIN, INT32_MAX));
    if (V4L2Ioctl(m_fd, VIDIOC_S_CTRL, &ctrl) < 0) {
        m_logFailure("VIDIOC_S_CTRL", errno);
        return false;
    }
    return true;
}

bool V4L2Controls::writeClamped(const PropertyControls& c, CameraProperty property, long value) {
    v4l2_queryctrl q{};
    q.id = c.valueId;
    if (V4L2Ioctl(m_fd, VIDIOC_QUERYCTRL, &q) < 0) {
        m_logFailure("VIDIOC_QUERYCTRL", errno);
        return false;
    }
    const long v4l2Value = property == CameraProperty::Exposure
                               ? ExposureLog2ToV4L2(value, q.minimum, q.maximum)
                               : std::clamp<long>(value, q.minimum, std::max(q.minimum, q.maximum));
    return writeControl(c.valueId, v4l2Value);
}

bool V4L2Controls::hasProperty(CameraProperty property) const {
    PropertyControls c;
    return resolveProperty(property, &c);
}

bool V4L2Controls::getProperty(CameraProperty property, long* value, long* flags) const {
    PropertyControls c;
    if (!resolveProperty(property, &c)) {
        return false;
    }
    long v = 0;
    if (!readControl(c.valueId, &v)) {
        return false;
    }
    long f = kPropertyFlagsManual;
    long autoValue = 0;
    if (c.autoKind != AutoKind::None && readControl(c.autoId, &autoValue)) {
        const bool isAuto = c.autoKind == AutoKind::ExposureMenu ? autoValue != V4L2_EXPOSURE_MANUAL
                                                                 : autoValue != 0;
        f = isAuto ? kPropertyFlagsAuto : kPropertyFlagsManual;
    }
    if (value) {
        *value = property == CameraProperty::Exposure ? ExposureV4L2ToLog2(v) : v;
    }
    if (flags) {
        *flags = f;
    }
    return true;
}

bool V4L2Controls::setProperty(CameraProperty property, long value, long flags) {
    PropertyControls c;
    if (!resolveProperty(property, &c)) {
        return false;
    }
    if (c.autoKind == AutoKind::None) {
        return writeClamped(c, property, value);
    }
    const bool wantAuto = (flags & kPropertyFlagsAuto) != 0;
    const long autoSwitch = c.autoKind == AutoKind::ExposureMenu
                                ? (wantAuto ? m_exposureAutoValue : long(V4L2_EXPOSURE_MANUAL))
                                : (wantAuto ? 1 : 0);
    if (!writeControl(c.autoId, autoSwitch)) {
        return false;
    }
    if (wantAuto) {
        // While the camera regulates the value itself the control is inactive (or grabbed);
        // writing it then fails or fights the camera's own loop.
        v4l2_queryctrl q{};
        q.id = c.valueId;
        if (V4L2Ioctl(m_fd, VIDIOC_QUERYCTRL, &q) == 0 &&
            !(q.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED))) {
            writeClamped(c, property, value);
        }
        return true;
    }
    return writeClamped(c, property, value);
}

bool V4L2Controls::getPropertyRange(CameraProperty property, PropertyRange* range) const {
    PropertyControls c;
    if (!range || !resolveProperty(property, &c)) {
        return false;
    }
    v4l2_queryctrl q{};
    q.id = c.valueId;
    if (V4L2Ioctl(m_fd, VIDIOC_QUERYCTRL, &q) < 0) {
        m_logFailure("VIDIOC_QUERYCTRL", errno);
        return false;
    }
    if (property == CameraProperty::Exposure) {
        range->min = ExposureV4L2ToLog2(q.minimum);
        range->max = ExposureV4L2ToLog2(q.maximum);
        range->step = 1;
        range->def = ExposureV4L2ToLog2(q.default_value);
    } else {
        range->min = q.minimum;
        range->max = q.maximum;
        range->step = std::max(q.step, 1);
        range->def = q.default_value;
    }
    range->flags = c.autoKind != AutoKind::None ? kPropertyFlagsAuto | kPropertyFlagsManual
                                                : kPropertyFlagsManual;
    return true;
}

bool V4L2Controls::hasPowerLineFrequency() const {
    return controlPresent(V4L2_CID_POWER_LINE_FREQUENCY);
}

bool V4L2Controls::getPowerLineFrequency(long* value) const {
    return hasPowerLineFrequency() && value && readControl(V4L2_CID_POWER_LINE_FREQUENCY, value);
}

bool V4L2Controls::setPowerLineFrequency(long value) {
    // V4L2 numbers the menu as we do: 1 = 50 Hz, 2 = 60 Hz.
    if (!hasPowerLineFrequency() || (value != V4L2_CID_POWER_LINE_FREQUENCY_50HZ &&
                                     value != V4L2_CID_POWER_LINE_FREQUENCY_60HZ)) {
        return false;
    }
    return writeControl(V4L2_CID_POWER_LINE_FREQUENCY, value);
}
