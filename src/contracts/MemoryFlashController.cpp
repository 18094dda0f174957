#include "contracts/MemoryFlashController.h"

#include "contracts/ContractsLog.h"

void MemoryFlashController::ALC_UnInitialize() {
    if (m_depth > 0) {
        --m_depth;
    }
}

bool MemoryFlashController::ALC_GetPIDVID(uint16_t* vid, uint16_t* pid) {
    if (!m_attached) {
        return false;
    }
    if (vid != nullptr) {
        *vid = m_vid;
    }
    if (pid != nullptr) {
        *pid = m_pid;
    }
    return true;
}

void MemoryFlashController::ALC_SetFlashSize(uint32_t size) {
    // The flash is always kFlashSize bytes; any other value would be a caller's mistake.
    if (size != kFlashSize) {
        qCWarning(lcContracts) << "flash size" << size << "ignored";
    }
}

int MemoryFlashController::ALC_ReadFlash(uint32_t address, uint32_t length, uint8_t* buffer) {
    if (!m_attached) {
        return 0;
    }
    return m_flash.read(address, length, buffer) ? 1 : 0;
}

void MemoryFlashController::ALC_WriteFlash(uint32_t address, uint32_t length,
                                           const uint8_t* buffer) {
    if (!m_attached) {
        return;
    }
    if (!m_flash.write(address, length, buffer)) {
        qCWarning(lcContracts) << "flash write of" << length << "bytes at" << address
                               << "outside the flash ignored";
    }
}
