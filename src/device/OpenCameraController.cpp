#include "device/OpenCameraController.h"

#include <utility>

OpenCameraController::OpenCameraController(Chooser choose) : m_choose(std::move(choose)) {}

void OpenCameraController::ALC_Initialize() {
    if (m_depth++ == 0) {
        m_target = &m_choose();
    }
    m_target->ALC_Initialize();
}

void OpenCameraController::ALC_UnInitialize() {
    if (m_depth == 0) {
        return;
    }
    m_target->ALC_UnInitialize();
    if (--m_depth == 0) {
        m_lastTarget = m_target;
        m_target = nullptr;
    }
}

template <typename Call>
auto OpenCameraController::inPair(Call call) {
    ALC_Initialize();
    // The pair stays open until the call has returned, whatever it returns.
    struct Close {
        OpenCameraController& owner;
        ~Close() { owner.ALC_UnInitialize(); }
    } close{*this};
    return call(*m_target);
}

bool OpenCameraController::ALC_GetPIDVID(uint16_t* vid, uint16_t* pid) {
    return inPair([&](CameraController& c) { return c.ALC_GetPIDVID(vid, pid); });
}

void OpenCameraController::ALC_SetFlashSize(uint32_t size) {
    inPair([&](CameraController& c) { c.ALC_SetFlashSize(size); });
}

int OpenCameraController::ALC_ReadFlash(uint32_t address, uint32_t length, uint8_t* buffer) {
    return inPair([&](CameraController& c) { return c.ALC_ReadFlash(address, length, buffer); });
}

void OpenCameraController::ALC_WriteFlash(uint32_t address, uint32_t length,
                                          const uint8_t* buffer) {
    inPair([&](CameraController& c) { c.ALC_WriteFlash(address, length, buffer); });
}

bool OpenCameraController::flashKept() const {
    const CameraController* last = m_target != nullptr ? m_target : m_lastTarget;
    return last == nullptr || last->flashKept();
}

FlashNotice OpenCameraController::takeFlashNotice() {
    CameraController* last = m_target != nullptr ? m_target : m_lastTarget;
    return last != nullptr ? last->takeFlashNotice() : FlashNotice();
}
