#include "capture/virtual/VirtualCameraDevice.h"

#include "capture/virtual/VirtualCamera.h"
#include "capture/virtual/VirtualHardware.h"
#include "contracts/MemoryFlashController.h"
#include "platform/HexId.h"

VirtualCameraDevice::VirtualCameraDevice()
    : m_hardware(std::make_shared<VirtualHardware>()),
      m_controller(std::make_unique<MemoryFlashController>(kVendorId, kProductId)) {}

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
    m_controller->setAttached(false);
    if (onDeviceChange) {
        onDeviceChange(false);
    }
}

void VirtualCameraDevice::plug() {
    if (m_hardware->isPlugged()) {
        return;
    }
    m_hardware->setPlugged(true);
    m_controller->setAttached(true);
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
