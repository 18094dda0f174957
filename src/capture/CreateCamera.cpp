#include "capture/Camera.h"
#include "capture/v4l2/V4L2Camera.h"

// Real cameras only: the virtual camera needs its device, so CameraSystem::create() makes it.
std::unique_ptr<Camera> CreateCamera(const CameraId& id) {
    switch (id.backend) {
        case CameraBackend::V4L2:
            return std::make_unique<V4L2Camera>(id);
        case CameraBackend::Virtual:
            return nullptr;
    }
    return nullptr;
}
