#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <utility>

#include "capture/Camera.h"

// Exposure is presented in log2 seconds (-7 = 1/128 s), V4L2 counts it in units of 100 us.
// The first converts and clamps to the control's range, the second converts back (values below
// one unit count as one unit).
long ExposureLog2ToV4L2(long log2Seconds, long v4l2Min, long v4l2Max);
long ExposureV4L2ToLog2(long v4l2Units);

// The picture properties of a V4L2 camera over the device's controls: which control serves
// which property and how its automatic mode is switched, values, ranges and defaults, the
// exposure unit, and the power-line frequency. V4L2Camera owns one and forwards its property
// calls; it attaches the device when it opens it and detaches it before closing it.
//
// GUI thread only. Until attach() (and after detach()) no property is present.
class V4L2Controls {
public:
    // Called with the failing call's name and errno; V4L2Camera logs each failure once.
    using FailureLog = std::function<void(const char* what, int error)>;

    explicit V4L2Controls(FailureLog logFailure) : m_logFailure(std::move(logFailure)) {}

    // Learns which controls the device open at fd offers. fd is borrowed until detach().
    void attach(int fd);
    void detach();

    bool hasProperty(CameraProperty property) const;
    bool getProperty(CameraProperty property, long* value, long* flags) const;
    bool setProperty(CameraProperty property, long value, long flags);
    bool getPropertyRange(CameraProperty property, PropertyRange* range) const;

    // Power-line frequency: 1 = 50 Hz, 2 = 60 Hz.
    bool hasPowerLineFrequency() const;
    bool getPowerLineFrequency(long* value) const;
    bool setPowerLineFrequency(long value);

private:
    // How a property's automatic mode is switched.
    enum class AutoKind { None, Boolean, ExposureMenu };
    struct PropertyControls {
        uint32_t valueId = 0;
        uint32_t autoId = 0;
        AutoKind autoKind = AutoKind::None;
    };

    bool controlPresent(uint32_t id) const;
    bool resolveProperty(CameraProperty property, PropertyControls* controls) const;
    bool readControl(uint32_t id, long* value) const;
    bool writeControl(uint32_t id, long value);
    bool writeClamped(const PropertyControls& controls, CameraProperty property, long value);

    FailureLog m_logFailure;
    int m_fd = -1;
    std::set<uint32_t> m_controls;  // ids of the controls the device offers (enabled)
    long m_exposureAutoValue = 0;   // V4L2_CID_EXPOSURE_AUTO menu value meaning automatic
};
