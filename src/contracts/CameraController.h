#pragma once

#include <QString>
#include <cstdint>

// Something about a camera's parameter memory that the user is told once: the key of its text
// in section "MainWnd" of the language files, and the file that text names (its %1).
struct FlashNotice {
    const char* key = nullptr;  // nullptr: nothing to tell
    QString file;
    explicit operator bool() const { return key != nullptr; }
};

// The camera controller: identification of the attached camera and byte-wise access to its
// 8192-byte flash memory (erased bytes read 0xFF). Callers rely only on the ALC_ operations and
// the calling order below, so a controller that reaches a camera's own flash can take the place
// of the file-backed and in-memory ones without changes to the callers.
//
// Calling order, as the program uses it:
//  - identification:  ALC_Initialize, ALC_GetPIDVID, ALC_UnInitialize;
//  - reading:         ALC_Initialize, ALC_ReadFlash ..., ALC_UnInitialize;
//  - writing:         ALC_Initialize, ALC_SetFlashSize(kFlashSize), ALC_WriteFlash ...,
//                     ALC_UnInitialize.
// Pairs nest: a caller inside a pair may open and close a pair of its own, and the outer pair
// keeps working afterwards; only the outermost pair opens and closes the camera. A byte
// written is read back at the same address in later pairs and later runs of the program.
//
// All calls come from the GUI thread; an implementation need not be thread-safe.
class CameraController {
public:
    static constexpr uint32_t kFlashSize = 8192;

    virtual ~CameraController() = default;

    // Opens access to the camera's controller (the outermost call finds the camera).
    virtual void ALC_Initialize() = 0;
    // Closes it; the outermost call makes the writes of the pair durable. An unmatched call
    // is ignored.
    virtual void ALC_UnInitialize() = 0;
    // True when a camera with the controller is attached; then *vid receives its USB vendor id
    // and *pid its product id.
    virtual bool ALC_GetPIDVID(uint16_t* vid, uint16_t* pid) = 0;
    // Declares the flash size before writing; callers always pass kFlashSize.
    virtual void ALC_SetFlashSize(uint32_t size) = 0;
    // Copies length bytes from flash address into buffer. Non-zero when they were read; 0 when
    // no camera is attached or the range lies outside the flash (callers then use defaults).
    virtual int ALC_ReadFlash(uint32_t address, uint32_t length, uint8_t* buffer) = 0;
    // Writes length bytes from buffer at flash address. Failures are not reported; a range
    // outside the flash is ignored.
    virtual void ALC_WriteFlash(uint32_t address, uint32_t length, const uint8_t* buffer) = 0;

    // Not one of the ALC_ operations: false when the writes of the last outermost pair could not
    // be kept (the flash image could not be saved: a full disk, a read-only data folder); the
    // controller logs why. True when they were kept or nothing was written.
    virtual bool flashKept() const = 0;
    // Not one of the ALC_ operations: what the user should be told about the flash since the
    // last call, once (a damaged file kept aside, a file that cannot be read). The owner shows
    // it; the controller has logged it already.
    virtual FlashNotice takeFlashNotice() { return {}; }

protected:
    CameraController() = default;
    CameraController(const CameraController&) = default;
    CameraController& operator=(const CameraController&) = default;
};
