#include "capture/virtual/VirtualHardware.h"

#include <algorithm>

namespace {

struct PropertyInfo {
    CameraProperty property;
    long min, max, step, def;
    bool hasAuto;
    long VirtualPictureSettings::*member;
};

// Ranges of a typical UVC microscope camera.
constexpr std::array<PropertyInfo, 9> kPropertyTable{{
    {CameraProperty::Brightness, -64, 64, 1, 0, false, &VirtualPictureSettings::brightness},
    {CameraProperty::Contrast, 0, 64, 1, 32, false, &VirtualPictureSettings::contrast},
    {CameraProperty::Hue, -40, 40, 1, 0, false, &VirtualPictureSettings::hue},
    {CameraProperty::Saturation, 0, 128, 1, 64, false, &VirtualPictureSettings::saturation},
    {CameraProperty::Sharpness, 0, 6, 1, 3, false, &VirtualPictureSettings::sharpness},
    {CameraProperty::Gamma, 72, 500, 1, 100, false, &VirtualPictureSettings::gamma},
    {CameraProperty::WhiteBalance, 2800, 6500, 10, 4600, true,
     &VirtualPictureSettings::whiteBalance},
    {CameraProperty::Gain, 0, 100, 1, 0, true, &VirtualPictureSettings::gain},
    {CameraProperty::Exposure, -11, -2, 1, -6, true, &VirtualPictureSettings::exposure},
}};

const PropertyInfo* findProperty(CameraProperty property) {
    for (const PropertyInfo& info : kPropertyTable) {
        if (info.property == property) {
            return &info;
        }
    }
    return nullptr;
}

uint32_t propertyBit(const PropertyInfo* info) {
    return uint32_t(1) << (info - kPropertyTable.data());
}

bool* autoFlag(VirtualPictureSettings& settings, CameraProperty property) {
    switch (property) {
        case CameraProperty::WhiteBalance:
            return &settings.whiteBalanceAuto;
        case CameraProperty::Gain:
            return &settings.gainAuto;
        case CameraProperty::Exposure:
            return &settings.exposureAuto;
        default:
            return nullptr;
    }
}

}  // namespace

bool VirtualHardware::range(CameraProperty property, PropertyRange* out) {
    const PropertyInfo* info = findProperty(property);
    if (info == nullptr) {
        return false;
    }
    if (out != nullptr) {
        out->min = info->min;
        out->max = info->max;
        out->step = info->step;
        out->def = info->def;
        out->flags =
            info->hasAuto ? (kPropertyFlagsAuto | kPropertyFlagsManual) : kPropertyFlagsManual;
    }
    return true;
}

bool VirtualHardware::hasAuto(CameraProperty property) {
    const PropertyInfo* info = findProperty(property);
    return info != nullptr && info->hasAuto;
}

bool VirtualHardware::offers(CameraProperty property) const {
    const PropertyInfo* info = findProperty(property);
    return info != nullptr && (m_withdrawn.load() & propertyBit(info)) == 0;
}

void VirtualHardware::setOffered(CameraProperty property, bool offered) {
    if (const PropertyInfo* info = findProperty(property)) {
        if (offered) {
            m_withdrawn.fetch_and(~propertyBit(info));
        } else {
            m_withdrawn.fetch_or(propertyBit(info));
        }
    }
}

void VirtualHardware::setPlugged(bool plugged) {
    if (plugged == m_plugged.load()) {
        return;
    }
    if (plugged) {
        resetSettings();
        {
            std::lock_guard lock(m_mutex);
            m_poweredOn = std::chrono::steady_clock::now();
        }
        m_generation.fetch_add(1);
    }
    m_plugged.store(plugged);
}

bool VirtualHardware::get(CameraProperty property, long* value, long* flags) const {
    const PropertyInfo* info = findProperty(property);
    if (info == nullptr || !offers(property)) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    VirtualPictureSettings copy = m_settings;
    const bool* isAuto = autoFlag(copy, property);
    if (value != nullptr) {
        *value = copy.*(info->member);
    }
    if (flags != nullptr) {
        *flags = (isAuto != nullptr && *isAuto) ? kPropertyFlagsAuto : kPropertyFlagsManual;
    }
    return true;
}

bool VirtualHardware::set(CameraProperty property, long value, long flags) {
    const PropertyInfo* info = findProperty(property);
    if (info == nullptr || !offers(property)) {
        return false;
    }
    // Like a V4L2 driver: values are clamped into the range and snapped to the step, and the
    // automatic flag means nothing for a property without an automatic mode.
    const bool wantAuto = info->hasAuto && (flags & kPropertyFlagsAuto) != 0;
    value = std::clamp(value, info->min, info->max);
    value = std::min(info->max,
                     info->min + (value - info->min + info->step / 2) / info->step * info->step);

    std::lock_guard lock(m_mutex);
    // While automatic the value is the sensor's loop's; the manual value stays for the next
    // switch back, which brings a value of its own.
    if (!wantAuto) {
        m_settings.*(info->member) = value;
    }
    if (bool* isAuto = autoFlag(m_settings, property)) {
        *isAuto = wantAuto;
    }
    m_settingsVersion.fetch_add(1);
    return true;
}

long VirtualHardware::powerLineFrequency() const {
    std::lock_guard lock(m_mutex);
    return m_settings.powerLineFrequency;
}

bool VirtualHardware::setPowerLineFrequency(long value) {
    if (value != 1 && value != 2) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_settings.powerLineFrequency = value;
    m_settingsVersion.fetch_add(1);
    return true;
}

void VirtualHardware::resetSettings() {
    std::lock_guard lock(m_mutex);
    m_settings = VirtualPictureSettings{};
    m_settingsVersion.fetch_add(1);
}

VirtualPictureSettings VirtualHardware::settings() const {
    std::lock_guard lock(m_mutex);
    return m_settings;
}

std::chrono::steady_clock::time_point VirtualHardware::poweredOnAt() const {
    std::lock_guard lock(m_mutex);
    return m_poweredOn;
}
