#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "capture/Camera.h"

class VirtualCameraDevice;

// The camera backends of this process: it makes the camera object for a camera value, and owns
// the built-in virtual camera's device when that is enabled. Which cameras are present is
// discovery's question (device/CameraDiscovery). The window owns one; tests make their own, so
// there is no process-wide camera state.
class CameraSystem {
public:
    // The virtual camera keeps its flash under flashDataRoot (empty: the user's data folder).
    explicit CameraSystem(bool withVirtualCamera, const QString& flashDataRoot = QString());
    ~CameraSystem();
    CameraSystem(const CameraSystem&) = delete;
    CameraSystem& operator=(const CameraSystem&) = delete;

    // A camera object for id (closed). Null when the backend cannot serve it.
    std::unique_ptr<Camera> create(const CameraId& id);

    // Makes the cameras of V4L2 ids with `factory` instead of the V4L2 backend, so that a test
    // can put a camera of its own behind a capture graph. Null restores the backend.
    using CameraFactory = std::function<std::unique_ptr<Camera>(const CameraId&)>;
    void setCameraFactory(CameraFactory factory) { m_factory = std::move(factory); }

    // The virtual camera's hardware (flash, plug state, snapshot button); null when disabled.
    VirtualCameraDevice* virtualDevice() const { return m_virtual.get(); }

private:
    std::unique_ptr<VirtualCameraDevice> m_virtual;
    CameraFactory m_factory;
};
