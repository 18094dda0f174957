#pragma once

#include <cstdint>

#include "contracts/CameraController.h"
#include "contracts/FlashImage.h"

// A camera controller over a flash image held in memory, lost when it ends: a stand-in for
// tests. The camera can be detached: then it is not found, reads
// fail and writes are ignored, as with an unplugged camera.
//
// Initialize/UnInitialize pairs are counted (never below 0) so that nesting is visible, but
// the operations also work outside a pair. GUI thread only.
class MemoryFlashController final : public CameraController {
public:
    static constexpr uint16_t kVirtualVid = 0x1209;
    static constexpr uint16_t kVirtualPid = 0x0001;

    explicit MemoryFlashController(uint16_t vid = kVirtualVid, uint16_t pid = kVirtualPid)
        : m_vid(vid), m_pid(pid) {}

    void ALC_Initialize() override { ++m_depth; }
    void ALC_UnInitialize() override;
    bool ALC_GetPIDVID(uint16_t* vid, uint16_t* pid) override;
    void ALC_SetFlashSize(uint32_t size) override;
    int ALC_ReadFlash(uint32_t address, uint32_t length, uint8_t* buffer) override;
    void ALC_WriteFlash(uint32_t address, uint32_t length, const uint8_t* buffer) override;
    bool flashKept() const override { return true; }  // memory cannot fail

    void setIds(uint16_t vid, uint16_t pid) {
        m_vid = vid;
        m_pid = pid;
    }
    void setAttached(bool attached) { m_attached = attached; }
    bool isAttached() const { return m_attached; }

    // Number of open Initialize/UnInitialize pairs.
    int depth() const { return m_depth; }

    // The flash contents (e.g. to keep them in a file between runs, or to prepare a test).
    FlashImage& flash() { return m_flash; }
    const FlashImage& flash() const { return m_flash; }

private:
    uint16_t m_vid;
    uint16_t m_pid;
    bool m_attached = true;
    int m_depth = 0;
    FlashImage m_flash;
};
