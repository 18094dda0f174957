#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The camera's UVC controls as the device keeps them: the camera terminal's exposure, the
// processing unit's picture controls and the VideoControl interface's request error code.
// Answers GET_CUR/MIN/MAX/RES/DEF/LEN/INFO and SET_CUR the way a careful camera does: a value
// outside the range, a request of the wrong length or an exposure time or white balance
// temperature written while its automatic mode runs is refused with a stall, and the reason
// is kept for the request error code control.
class UvcControlTable {
public:
    static constexpr uint8_t kSetCur = 0x01;
    static constexpr uint8_t kGetCur = 0x81;
    static constexpr uint8_t kGetMin = 0x82;
    static constexpr uint8_t kGetMax = 0x83;
    static constexpr uint8_t kGetRes = 0x84;
    static constexpr uint8_t kGetLen = 0x85;
    static constexpr uint8_t kGetInfo = 0x86;
    static constexpr uint8_t kGetDef = 0x87;

    // The automatic exposure modes offered (bitmap of GET_RES): manual and aperture priority.
    static constexpr int32_t kAeManual = 1;
    static constexpr int32_t kAeAperturePriority = 8;

    UvcControlTable();

    // Every control at its default, the error code cleared: a camera just plugged in.
    void reset();

    // One class request to entity (0: the VideoControl interface itself). data holds SET_CUR's
    // bytes; an answer to a GET is put into *answer. Returns false for a stall.
    bool request(uint8_t entity, uint8_t selector, uint8_t request,
                 const std::vector<uint8_t>& data, std::vector<uint8_t>* answer);

    // The current value of a control by its name (brightness, contrast, hue, saturation,
    // sharpness, gamma, gain, white_balance_temperature, white_balance_auto,
    // power_line_frequency, exposure_auto, exposure_time); nullopt for an unknown name.
    std::optional<int32_t> value(const std::string& name) const;
    // The names value() knows, separated by spaces.
    std::string names() const;

private:
    struct Control {
        const char* name;
        uint8_t entity;
        uint8_t selector;
        uint8_t size;  // bytes: 1, 2 or 4
        bool isSigned;
        int32_t min, max, res, def;
        int32_t cur;
        // The control whose non-zero value (or, for exposure, aperture priority) makes
        // SET_CUR refuse this one; empty for none.
        const char* blockedBy;
    };

    Control* find(uint8_t entity, uint8_t selector);
    const Control* find(const std::string& name) const;
    bool blocked(const Control& control) const;
    bool fail(uint8_t code);

    std::vector<Control> m_controls;
    uint8_t m_errorCode = 0;  // of the last refused request
};
