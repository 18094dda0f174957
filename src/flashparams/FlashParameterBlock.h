#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "flashparams/FlashParameters.h"

class CameraController;

// The two parameter blocks in a camera's 8192-byte flash and their byte format. Cameras are
// prepared in the factory with a default block, and a block written on one computer must mean
// the same on every other, so the format is fixed, lossy corners included:
//  - 0x1C00: the default block, read at every camera start, never written by the program;
//  - 0x1D00: the saved block, read only while the saved-block flag at 0x1C17 is 1;
//  - the flag itself: 1 = saved block valid, anything else (erased 0xFF) = not.
// Both blocks share offsets: 0x00 resolution entry, 0x01-03 digital zoom, 0x04 mask radius,
// 0x05-07 mask colour (R, G, B), 0x08 mask shown, 0x09 crosshair size, 0x0A-0C crosshair colour,
// 0x0D crosshair shown, 0x0E-10 pan X, 0x11-13 pan Y, 0x14-16 view zoom, 0x20 MJPG list. The
// saved block adds the camera values: 0x21 brightness, 0x23 contrast, 0x25 saturation, 0x27-28
// hue, 0x2A power-line frequency, 0x2B sharpness, 0x2D-2E gamma, 0x30-31 white balance, 0x32 its
// automatic switch, 0x33 exposure, 0x34 its switch, 0x35 gain, 0x36 its switch.
//
// A field that holds what the program never writes (damaged flash: a pan beyond a frame's
// width either way, a zoom or view zoom outside 1.0 ... 4.0, a mask radius byte above 100)
// counts as erased, so the defaults apply and the picture stays in view; it is logged. An
// erased pan is 0 in the default block; in the saved block a damaged pan leaves the default
// block's in force.
//
// Reads and writes go byte by byte through the camera controller. The readers expect the caller
// to hold an ALC_Initialize ... ALC_UnInitialize pair; each writer opens a pair of its own (with
// ALC_SetFlashSize), which nests inside a caller's pair. GUI thread only; the controller is
// borrowed.
class FlashParameterBlock {
public:
    static constexpr uint32_t kDefaultBlock = 0x1C00;
    static constexpr uint32_t kSavedBlock = 0x1D00;
    static constexpr uint32_t kSavedFlag = 0x1C17;

    explicit FlashParameterBlock(CameraController& controller) : m_controller(controller) {}

    // The saved-block flag: 1 only when the saved block is valid (unreadable or erased: 0).
    int ReadSavedFlag();
    // The default block into p, with its rules for erased and unreadable bytes.
    void ReadDefaultBlock(FlashParameters& p);
    // The saved block over p, camera values included.
    void ReadSavedBlock(FlashParameters& p);

    // Writes the flag (1 by Save, 0 by Restore) in a pair of its own.
    void WriteSavedFlag(uint8_t value);
    // When the window closes: stream choice, brightness, contrast, saturation, power-line
    // frequency, digital zoom and hue. The rest of the saved block stays as it was.
    void WriteBasic(const FlashParameters& p);
    // The Save command: the whole saved block. The digital zoom is always saved as 1.00.
    void WriteFull(const FlashParameters& p);

    // --- encodings ---
    // Decimal field: n = trunc(value x 100) as high and low byte, and the tenths digit of
    // value x 100 printed to one decimal (so 123.96 gives 123 and 0: the rounding carries into
    // a digit that is not stored).
    static std::array<uint8_t, 3> EncodeDecimal(float value);
    static float DecodeDecimal(uint8_t high, uint8_t low, uint8_t tenths);
    // Pan: a non-zero high byte is a negative value; a value whose integer part is 0 takes the
    // negative branch, so 0.003 reads back as -0.003.
    static float DecodeSignedDecimal(uint8_t high, uint8_t low, uint8_t tenths);
    // Size byte (mask radius, crosshair size): trunc(value x 200), low byte; read back as
    // min(byte, 100) / 2 / 100 (integer halving), 0.00 ... 0.50.
    static uint8_t EncodeSize(float value);
    static float DecodeSize(uint8_t byte);

private:
    std::optional<uint8_t> Read(uint32_t address);
    uint8_t ReadOr(uint32_t address, uint8_t unreadable);
    void ReadMask(uint32_t block, OverlaySettings& o);
    float ReadViewZoom(uint32_t block);
    void Write(uint32_t address, uint8_t value);
    void WriteDecimal(uint32_t address, float value);
    void WriteTwoBytes(uint32_t address, long value);
    // Opens a writing pair; the caller closes it with ALC_UnInitialize.
    void BeginWrite();

    CameraController& m_controller;
};
