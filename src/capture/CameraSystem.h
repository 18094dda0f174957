#pragma once

#include <memory>
#include <vector>

#include "capture/Camera.h"

class VirtualCameraDevice;
class CameraController;

// The cameras this process can see: the V4L2 capture devices found through udev and, when
// enabled, the built-in virtual camera. The window owns one; tests make their own, so there is
// no process-wide camera state.
class CameraSystem {
public:
    explicit CameraSystem(bool withVirtualCamera);
    ~CameraSystem();
    CameraSystem(const CameraSystem&) = delete;
    CameraSystem& operator=(const CameraSystem&) = delete;

    // Video capture devices that can stream, in discovery order: V4L2 devices by device
    // number, then the virtual camera when it is enabled and plugged in.
    std::vector<CameraId> enumerate() const;

    // A camera object for id (closed). Null when the backend cannot serve it.
    std::unique_ptr<Camera> create(const CameraId& id);

    // The camera controller (identification and flash access): the virtual camera's flash when
    // the virtual camera is enabled, otherwise the file-backed controller of the first present
    // USB video camera.
    CameraController& controller();

    // The virtual camera's hardware (flash, plug state, snapshot button); null when disabled.
    VirtualCameraDevice* virtualDevice() const { return m_virtual.get(); }

private:
    std::unique_ptr<VirtualCameraDevice> m_virtual;
    std::unique_ptr<CameraController> m_controller;
};
