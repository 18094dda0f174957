#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "capture/Camera.h"

class CameraController;
class FileFlashController;
class FlashImage;
class VirtualHardware;

// The built-in virtual camera's hardware, as the camera system owns it: a USB camera with
// vendor id 0x1209, product id 0x0001, its controller with an 8192-byte flash kept in a file
// like a real camera's (<flash data root>/Orvane/flash/1209-0001-TVM-0001.bin, created at the
// first write) and prepared in the factory with a default parameter block, picture settings that
// survive opening and closing a camera on it, and test hooks to unplug it, plug it in and press its
// snapshot button.
//
// GUI thread (and tests) only, except that cameras opened on it may stream meanwhile. A camera
// keeps a share of the hardware state, so it may outlive this object: it then finds the device
// unplugged.
class VirtualCameraDevice {
public:
    static constexpr uint16_t kVendorId = 0x1209;
    static constexpr uint16_t kProductId = 0x0001;
    static constexpr const char* kName = "Tavrel Virtual Microscope";
    static constexpr const char* kSerial = "TVM-0001";
    static constexpr const char* kDevNode = "virtual:0";

    // flashDataRoot empty: the user's data folder ($XDG_DATA_HOME).
    explicit VirtualCameraDevice(const QString& flashDataRoot = QString());
    ~VirtualCameraDevice();
    VirtualCameraDevice(const VirtualCameraDevice&) = delete;
    VirtualCameraDevice& operator=(const VirtualCameraDevice&) = delete;

    // The camera value discovery lists for this device.
    CameraId cameraId() const;
    // A closed camera on this device (open() fails while it is unplugged).
    std::unique_ptr<Camera> createCamera() const;

    // The camera-controller contract of this device: finds the camera only while plugged in.
    CameraController& controller();
    FileFlashController& flashController() { return *m_controller; }
    // The flash as the factory leaves it: erased but for the default parameter block.
    static FlashImage factoryFlash();

    bool isPlugged() const;
    // Removes the device: a streaming camera on it stops delivering and reports isLost(),
    // discovery no longer lists it, the controller no longer finds it. Then onDeviceChange(false).
    void unplug();
    // Attaches it again (with power-on picture settings; the flash keeps its contents). Cameras
    // opened before the unplug stay lost. Then onDeviceChange(true).
    void plug();
    // One press of the snapshot button: delivered to the still sink of a streaming camera.
    void pressSnapshotButton();
    // While stalled, a streaming camera stays open and streaming but sends no frames.
    void stall(bool stalled);

    // Called on the calling thread after plug() and unplug() changed the state (arrival = true
    // for plug()); the window routes it to its hot-plug handling.
    std::function<void(bool arrival)> onDeviceChange;

    // The shared hardware state behind the cameras (for the cameras and for tests).
    const std::shared_ptr<VirtualHardware>& hardware() const { return m_hardware; }

private:
    std::shared_ptr<VirtualHardware> m_hardware;
    std::unique_ptr<FileFlashController> m_controller;
};
