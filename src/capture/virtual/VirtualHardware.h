#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "capture/Camera.h"

// The picture settings of the virtual camera's sensor, as one value the capture thread can copy.
struct VirtualPictureSettings {
    long brightness = 0;
    long contrast = 32;
    long hue = 0;
    long saturation = 64;
    long sharpness = 3;
    long gamma = 100;
    long whiteBalance = 4600;
    long gain = 0;
    long exposure = -6;  // log2 seconds
    bool whiteBalanceAuto = true;
    bool exposureAuto = true;
    bool gainAuto = true;
    long powerLineFrequency = 1;  // 1 = 50 Hz, 2 = 60 Hz

    bool operator==(const VirtualPictureSettings&) const = default;
};

// The state of the virtual camera's hardware that both the device (GUI side, tests) and the
// cameras opened on it (GUI thread and capture thread) see: plug state, the sensor's picture
// settings, and the snapshot button. Shared between the device and its cameras so that a camera
// that outlives the device only finds it unplugged. Every member is safe to call from any thread.
class VirtualHardware {
public:
    VirtualHardware() = default;
    VirtualHardware(const VirtualHardware&) = delete;
    VirtualHardware& operator=(const VirtualHardware&) = delete;

    // Range of a picture property, with Auto|Manual capability flags where the sensor has an
    // automatic mode. False for a property the sensor lacks.
    static bool range(CameraProperty property, PropertyRange* out);
    static bool hasAuto(CameraProperty property);

    // Whether the sensor has a property now. Tests take properties away to stand for cameras
    // with fewer controls (one without exposure control, say); a property taken away cannot be
    // read, written or ranged until it is put back. Plugging in again does not bring it back.
    bool offers(CameraProperty property) const;
    void setOffered(CameraProperty property, bool offered);

    // Plug state. Every plug-in starts a new "generation": a camera opened before an unplug
    // stays lost even when the device comes back, like a vanished device node.
    bool isPlugged() const { return m_plugged.load(); }
    uint64_t generation() const { return m_generation.load(); }
    void setPlugged(bool plugged);

    // Picture properties with the flags convention of the camera interface, as a V4L2 camera
    // answers them: set() clamps the value into the range and snaps it to the step; Auto counts
    // only where the sensor has an automatic mode (white balance, exposure and gain, each its
    // own), and a value set with Auto is not applied: the sensor keeps its manual value, as a
    // V4L2 control is not written while its automatic mode makes it inactive.
    bool get(CameraProperty property, long* value, long* flags) const;
    bool set(CameraProperty property, long value, long flags);
    long powerLineFrequency() const;
    bool setPowerLineFrequency(long value);  // 1 = 50 Hz, 2 = 60 Hz

    // Back to the power-on values (done on every plug-in, as a real sensor forgets its
    // settings when it loses power).
    void resetSettings();

    // A copy of the settings and a counter that changes with every change of them, so the
    // capture thread rebuilds its tables only when something changed.
    VirtualPictureSettings settings() const;
    uint64_t settingsVersion() const { return m_settingsVersion.load(); }

    // When the device was last powered on (created or plugged in). The scene animates from
    // it, so the slide goes on moving where it was across restarts and format changes.
    std::chrono::steady_clock::time_point poweredOnAt() const;

    // A stalled sensor sends no frames while its camera streams (tests of a camera that goes
    // quiet without disappearing).
    bool isStalled() const { return m_stalled.load(); }
    void setStalled(bool stalled) { m_stalled.store(stalled); }

    // The snapshot button: a press counter; each streaming camera delivers the presses made
    // since it started.
    void pressButton() { m_buttonPresses.fetch_add(1); }
    uint64_t buttonPresses() const { return m_buttonPresses.load(); }

private:
    std::atomic<bool> m_plugged{true};
    std::atomic<bool> m_stalled{false};
    std::atomic<uint64_t> m_generation{1};
    std::atomic<uint64_t> m_buttonPresses{0};
    std::atomic<uint64_t> m_settingsVersion{1};
    std::atomic<uint32_t> m_withdrawn{0};  // bit i: property i of the sensor's table is gone

    mutable std::mutex m_mutex;  // guards m_settings and m_poweredOn
    VirtualPictureSettings m_settings;
    std::chrono::steady_clock::time_point m_poweredOn = std::chrono::steady_clock::now();
};
