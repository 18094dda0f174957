#include "capture/Camera.h"

// Real cameras only: the virtual camera needs its device, so CameraSystem::create() makes it.
std::unique_ptr<Camera> CreateCamera(const CameraId& id) {
    switch (id.backend) {
        case CameraBackend::V4L2:
            // The V4L2 backend is not in the tree yet; hook V4L2Camera in here when it lands.
            return nullptr;
        case CameraBackend::Virtual:
            return nullptr;
    }
    return nullptr;
}
