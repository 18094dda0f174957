#include "capture/CameraSystem.h"

#include "capture/virtual/VirtualCameraDevice.h"

CameraSystem::CameraSystem(bool withVirtualCamera, const QString& flashDataRoot) {
    if (withVirtualCamera) {
        m_virtual = std::make_unique<VirtualCameraDevice>(flashDataRoot);
    }
}

CameraSystem::~CameraSystem() = default;

std::unique_ptr<Camera> CameraSystem::create(const CameraId& id) {
    if (id.backend == CameraBackend::Virtual) {
        if (!m_virtual || id.devNode != m_virtual->cameraId().devNode) {
            return nullptr;
        }
        return m_virtual->createCamera();
    }
    return m_factory ? m_factory(id) : CreateCamera(id);
}
