#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "capture/Camera.h"

// The V4L2_CID_EXPOSURE_AUTO value that switches a camera's automatic exposure on, from the menu
// items its control offers (bit 1 << item value): V4L2_EXPOSURE_AUTO where offered, else
// aperture priority (exposure time automatic, iris fixed: what most UVC cameras offer beside
// manual), else shutter priority. None when the menu offers none of them: exposure is then
// manual only.
std::optional<long> ChooseExposureAutoMode(uint32_t offeredItems);

// value clamped into min..max and snapped to the nearest step counted from min (halfway goes
// up), never above max. A step below one counts as one.
long ClampToControl(long value, long min, long max, long step);

// The picture properties of a V4L2 camera over the device's controls: which control serves
// which property and how its automatic mode is switched, values, ranges and defaults, the
// exposure unit (ExposureScale), and the power-line frequency. V4L2Camera owns one and forwards
// its property calls; it attaches the device when it opens it and detaches it before closing it.
//
// Rules every property follows:
// - A value is clamped into the control's range and snapped to its step before it is written.
// - A control the driver reports inactive (its automatic mode is on: white-balance temperature
//   under automatic white balance, exposure under automatic exposure, gain under autogain) is
//   not written: the value is kept and written once the control is active again, which is when
//   setProperty() switches the automatic mode off, in the same call (the switch is written
//   first) or a later one.
// - Gain's automatic flag switches V4L2_CID_AUTOGAIN where the camera has it; without it the
//   flag is only remembered (getProperty() reports it back) and gain is written as a value.
// - A driver call that fails (EBUSY, EINVAL, EIO, ...) makes the call return false and is
//   reported to the failure log with the control's name; the other controls go on working.
//
// GUI thread only. Until attach() (and after detach()) no property is present.
class V4L2Controls {
public:
    // ioctl on the device: returns what ioctl returns, errno tells why a call failed.
    using Ioctl = std::function<int(unsigned long request, void* arg)>;
    // Called with the failing call and control ("VIDIOC_S_CTRL Gain") and errno; V4L2Camera
    // logs each such failure once.
    using FailureLog = std::function<void(const char* what, int error)>;

    explicit V4L2Controls(FailureLog logFailure) : m_logFailure(std::move(logFailure)) {}

    // Learns which controls the device offers and the items of its exposure menu.
    void attach(Ioctl ioctl);
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
    // How a property's automatic mode is switched: not at all, a boolean control, the exposure
    // menu, or only remembered here (gain without autogain).
    enum class AutoKind { None, Boolean, ExposureMenu, Remembered };
    struct PropertyControls {
        uint32_t valueId = 0;
        uint32_t autoId = 0;
        AutoKind autoKind = AutoKind::None;
    };
    struct ControlState {
        long min = 0;
        long max = 0;
        long step = 1;
        long def = 0;
        bool inactive = false;
    };

    bool controlPresent(uint32_t id) const;
    bool resolveProperty(CameraProperty property, PropertyControls* controls) const;
    bool queryControl(uint32_t id, ControlState* state) const;
    bool readControl(uint32_t id, long* value) const;
    bool writeControl(uint32_t id, long value);
    // Writes each kept value whose control is active now. Returns false when writing ownId's
    // value (or asking for its state) failed.
    bool writeKeptValues(uint32_t ownId);
    void reportFailure(const char* call, uint32_t id, int error) const;

    Ioctl m_ioctl;
    FailureLog m_logFailure;
    std::map<uint32_t, std::string> m_controls;  // the controls the device offers: id, name
    std::optional<long> m_exposureAutoValue;     // V4L2_CID_EXPOSURE_AUTO value for automatic
    bool m_gainAuto = false;                     // gain's flag on a camera without autogain
    std::map<uint32_t, long> m_kept;             // values waiting for their control to be active
};
