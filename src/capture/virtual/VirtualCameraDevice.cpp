#include "capture/virtual/VirtualCameraDevice.h"

#include "capture/virtual/VirtualCamera.h"
#include "capture/virtual/VirtualHardware.h"
#include "contracts/FileFlashController.h"
#include "contracts/FlashImage.h"
#include "platform/HexId.h"

VirtualCameraDevice::VirtualCameraDevice(const QString& flashDataRoot)
    : m_hardware(std::make_shared<VirtualHardware>()) {
    // The controller finds the camera only while it is plugged in.
    m_controller = std::make_unique<FileFlashController>(
        flashDataRoot,
        [hardware = m_hardware]() -> std::optional<CameraIdentity> {
            if (!hardware->isPlugged()) {
                return std::nullopt;
            }
            return CameraIdentity::usb(kVendorId, kProductId, QString::fromLatin1(kSerial));
        },
        factoryFlash());
}

FlashImage VirtualCameraDevice::factoryFlash() {
    // The default parameter block at 0x1C00, as the camera leaves the factory: no zoom, the
    // edge mask just outside the microscope field (radius 0.44 of the frame height; the field's
    // is 0.42) in black, a green crosshair of size 0.20, no pan, view zoom 1.00, the first
    // uncompressed format. The saved-block flag stays erased.
    static constexpr uint8_t kDefaultBlock[] = {
        0,  0,    100, 0,  // resolution entry, zoom 1.00
        88, 0,    0,   0,  // mask radius 0.44, mask colour black
        1,  40,            // mask shown, crosshair size 0.20
        0,  0xFF, 0,   1,  // crosshair colour green, crosshair shown
        0,  0,    0,       // pan X 0.00
        0,  0,    0,       // pan Y 0.00
        0,  100,  0,       // view zoom 1.00
    };
    FlashImage flash;
    flash.write(0x1C00, sizeof kDefaultBlock, kDefaultBlock);
    const uint8_t uncompressed = 0;
    flash.write(0x1C20, 1, &uncompressed);
    return flash;
}

VirtualCameraDevice::~VirtualCameraDevice() {
    // Cameras that outlive the device see it gone, exactly as after an unplug.
    m_hardware->setPlugged(false);
}

CameraId VirtualCameraDevice::cameraId() const {
    CameraId id;
    id.backend = CameraBackend::Virtual;
    id.devNode = QString::fromLatin1(kDevNode);
    id.cardName = QString::fromLatin1(kName);
    id.usbVid = HexId(kVendorId);
    id.usbPid = HexId(kProductId);
    id.usbSerial = QString::fromLatin1(kSerial);
    // It is plugged in and out like a camera in a USB socket, so it is preferred to a built-in
    // webcam as a plugged-in microscope is.
    id.usbPort = UsbPort::Removable;
    return id;
}

std::unique_ptr<Camera> VirtualCameraDevice::createCamera() const {
    return std::make_unique<VirtualCamera>(cameraId(), m_hardware);
}

CameraController& VirtualCameraDevice::controller() {
    return *m_controller;
}

bool VirtualCameraDevice::isPlugged() const {
    return m_hardware->isPlugged();
}

void VirtualCameraDevice::unplug() {
    if (!m_hardware->isPlugged()) {
        return;
    }
    m_hardware->setPlugged(false);
    if (onDeviceChange) {
        onDeviceChange(false);
    }
}

void VirtualCameraDevice::plug() {
    if (m_hardware->isPlugged()) {
        return;
    }
    m_hardware->setPlugged(true);
    if (onDeviceChange) {
        onDeviceChange(true);
    }
}

void VirtualCameraDevice::pressSnapshotButton() {
    if (m_hardware->isPlugged()) {
        m_hardware->pressButton();
    }
}

void VirtualCameraDevice::stall(bool stalled) {
    m_hardware->setStalled(stalled);
}
