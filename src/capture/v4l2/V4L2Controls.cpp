#include "capture/v4l2/V4L2Controls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "capture/v4l2/ExposureScale.h"

std::optional<long> ChooseExposureAutoMode(uint32_t offeredItems) {
    for (long item :
         {V4L2_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY, V4L2_EXPOSURE_SHUTTER_PRIORITY}) {
        if (offeredItems & (1u << item)) {
            return item;
        }
    }
    return std::nullopt;
}

long ClampToControl(long value, long min, long max, long step) {
    step = std::max(step, 1L);
    max = std::max(min, max);
    value = std::clamp(value, min, max);
    long snapped = min + (value - min + step / 2) / step * step;
    if (snapped > max) {  // max is not on the step grid: the grid point below it
        snapped -= step;
    }
    return snapped;
}

void V4L2Controls::attach(Ioctl ioctl) {
    m_ioctl = std::move(ioctl);
    m_controls.clear();
    m_kept.clear();
    m_gainAuto = false;
    m_exposureAutoValue.reset();
    for (uint32_t id :
         {V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_HUE, V4L2_CID_HUE_AUTO,
          V4L2_CID_SATURATION, V4L2_CID_SHARPNESS, V4L2_CID_GAMMA, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN,
          V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE,
          V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_CID_POWER_LINE_FREQUENCY}) {
        v4l2_queryctrl q{};
        q.id = id;
        if (m_ioctl(VIDIOC_QUERYCTRL, &q) == 0 && !(q.flags & V4L2_CTRL_FLAG_DISABLED)) {
            const char* name = reinterpret_cast<const char*>(q.name);
            m_controls.emplace(id, std::string(name, strnlen(name, sizeof q.name)));
        }
    }
    // The exposure menu's items are asked for once: a camera offers a subset of them, and an
    // item it lacks is refused by VIDIOC_QUERYMENU.
    v4l2_queryctrl q{};
    q.id = V4L2_CID_EXPOSURE_AUTO;
    if (controlPresent(q.id) && m_ioctl(VIDIOC_QUERYCTRL, &q) == 0) {
        uint32_t offered = 0;
        for (int32_t item = std::max(q.minimum, 0); item <= std::min(q.maximum, 31); ++item) {
            v4l2_querymenu menu{};
            menu.id = q.id;
            menu.index = uint32_t(item);
            if (m_ioctl(VIDIOC_QUERYMENU, &menu) == 0) {
                offered |= 1u << item;
            }
        }
        m_exposureAutoValue = ChooseExposureAutoMode(offered);
    }
}

void V4L2Controls::detach() {
    m_ioctl = nullptr;
    m_controls.clear();
    m_kept.clear();
    m_gainAuto = false;
    m_exposureAutoValue.reset();
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
            if (controlPresent(V4L2_CID_AUTOGAIN)) {
                c->autoId = V4L2_CID_AUTOGAIN;
                c->autoKind = AutoKind::Boolean;
            } else {
                c->autoKind = AutoKind::Remembered;
            }
            break;
        case CameraProperty::Exposure:
            c->valueId = V4L2_CID_EXPOSURE_ABSOLUTE;
            if (m_exposureAutoValue) {
                c->autoId = V4L2_CID_EXPOSURE_AUTO;
                c->autoKind = AutoKind::ExposureMenu;
            }
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

void V4L2Controls::reportFailure(const char* call, uint32_t id, int error) const {
    const auto control = m_controls.find(id);
    const std::string what = std::string(call) + ' ' +
                             (control != m_controls.end() ? control->second : std::to_string(id));
    m_logFailure(what.c_str(), error);
}

bool V4L2Controls::queryControl(uint32_t id, ControlState* state) const {
    v4l2_queryctrl q{};
    q.id = id;
    if (m_ioctl(VIDIOC_QUERYCTRL, &q) < 0) {
        reportFailure("VIDIOC_QUERYCTRL", id, errno);
        return false;
    }
    state->min = q.minimum;
    state->max = q.maximum;
    state->step = std::max(q.step, 1);
    state->def = q.default_value;
    state->inactive = (q.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
    return true;
}

bool V4L2Controls::readControl(uint32_t id, long* value) const {
    v4l2_control ctrl{};
    ctrl.id = id;
    if (m_ioctl(VIDIOC_G_CTRL, &ctrl) < 0) {
        reportFailure("VIDIOC_G_CTRL", id, errno);
        return false;
    }
    *value = ctrl.value;
    return true;
}

bool V4L2Controls::writeControl(uint32_t id, long value) {
    v4l2_control ctrl{};
    ctrl.id = id;
    ctrl.value = int32_t(std::clamp<long>(value, INT32_MIN, INT32_MAX));
    if (m_ioctl(VIDIOC_S_CTRL, &ctrl) < 0) {
        reportFailure("VIDIOC_S_CTRL", id, errno);
        return false;
    }
    return true;
}

bool V4L2Controls::writeKeptValues(uint32_t ownId) {
    bool ownWritten = true;
    for (auto it = m_kept.begin(); it != m_kept.end();) {
        ControlState state;
        const bool known = queryControl(it->first, &state);
        if (known && state.inactive) {
            ++it;
            continue;
        }
        // A value that cannot be written now is dropped rather than retried with every call.
        const bool written =
            known &&
            writeControl(it->first, ClampToControl(it->second, state.min, state.max, state.step));
        if (it->first == ownId) {
            ownWritten = written;
        }
        it = m_kept.erase(it);
    }
    return ownWritten;
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
    bool isAuto = false;
    long autoValue = 0;
    switch (c.autoKind) {
        case AutoKind::None:
            break;
        case AutoKind::Remembered:
            isAuto = m_gainAuto;
            break;
        case AutoKind::Boolean:
        case AutoKind::ExposureMenu:
            if (!readControl(c.autoId, &autoValue)) {
                return false;
            }
            // Every exposure mode but manual (automatic, shutter or aperture priority) counts
            // as automatic.
            isAuto = c.autoKind == AutoKind::ExposureMenu ? autoValue != V4L2_EXPOSURE_MANUAL
                                                          : autoValue != 0;
            break;
    }
    if (property == CameraProperty::Exposure) {
        ControlState state;
        if (!queryControl(c.valueId, &state)) {
            return false;
        }
        v = ExposureScale(state.min, state.max).toLog2(v);
    }
    if (value) {
        *value = v;
    }
    if (flags) {
        *flags = isAuto ? kPropertyFlagsAuto : kPropertyFlagsManual;
    }
    return true;
}

bool V4L2Controls::setProperty(CameraProperty property, long value, long flags) {
    PropertyControls c;
    ControlState state;
    if (!resolveProperty(property, &c) || !queryControl(c.valueId, &state)) {
        return false;
    }
    const long controlValue = property == CameraProperty::Exposure
                                  ? ExposureScale(state.min, state.max).toUnits(value)
                                  : value;
    // The new value replaces any kept one and goes out below, once the automatic mode is set:
    // written before automatic is switched off, it would be replaced by the automatic value.
    m_kept[c.valueId] = ClampToControl(controlValue, state.min, state.max, state.step);

    const bool wantAuto = (flags & kPropertyFlagsAuto) != 0;
    bool switched = true;
    switch (c.autoKind) {
        case AutoKind::None:
            break;
        case AutoKind::Remembered:
            m_gainAuto = wantAuto;
            break;
        case AutoKind::Boolean:
            switched = writeControl(c.autoId, wantAuto ? 1 : 0);
            break;
        case AutoKind::ExposureMenu:
            switched = writeControl(c.autoId,
                                    wantAuto ? *m_exposureAutoValue : long(V4L2_EXPOSURE_MANUAL));
            break;
    }
    const bool written = writeKeptValues(c.valueId);
    return switched && written;
}

bool V4L2Controls::getPropertyRange(CameraProperty property, PropertyRange* range) const {
    PropertyControls c;
    ControlState state;
    if (!range || !resolveProperty(property, &c) || !queryControl(c.valueId, &state)) {
        return false;
    }
    if (property == CameraProperty::Exposure) {
        const ExposureScale scale(state.min, state.max);
        range->min = scale.min();
        range->max = scale.max();
        range->step = 1;
        range->def = scale.toLog2(state.def);
    } else {
        range->min = state.min;
        range->max = state.max;
        range->step = state.step;
        range->def = state.def;
    }
    const bool hasAuto = c.autoKind == AutoKind::Boolean || c.autoKind == AutoKind::ExposureMenu;
    range->flags = hasAuto ? kPropertyFlagsAuto | kPropertyFlagsManual : kPropertyFlagsManual;
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
