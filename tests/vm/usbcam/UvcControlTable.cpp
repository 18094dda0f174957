#include "UvcControlTable.h"

#include <cstring>

#include "UvcDescriptors.h"

namespace {

constexpr uint8_t kCt = UvcDescriptors::kCameraTerminalId;
constexpr uint8_t kPu = UvcDescriptors::kProcessingUnitId;

// Request error codes of the VideoControl interface.
constexpr uint8_t kErrorNone = 0;
constexpr uint8_t kErrorWrongState = 2;
constexpr uint8_t kErrorOutOfRange = 4;
constexpr uint8_t kErrorInvalidControl = 6;
constexpr uint8_t kErrorInvalidRequest = 7;
constexpr uint8_t kErrorInvalidValue = 8;

constexpr uint8_t kRequestErrorCodeControl = 0x02;

void putValue(std::vector<uint8_t>* out, int32_t value, uint8_t size) {
    out->clear();
    for (uint8_t i = 0; i < size; ++i) {
        out->push_back(uint8_t(uint32_t(value) >> (8 * i)));
    }
}

}  // namespace

UvcControlTable::UvcControlTable() {
    m_controls = {
        // name, entity, selector, size, signed, min, max, res, def, cur, blocked by
        {"exposure_auto", kCt, 0x02, 1, false, kAeManual, kAeAperturePriority,
         kAeManual | kAeAperturePriority, kAeAperturePriority, 0, nullptr},
        {"exposure_time", kCt, 0x04, 4, false, 1, 5000, 1, 156, 0, "exposure_auto"},
        {"brightness", kPu, 0x02, 2, true, -64, 64, 1, 0, 0, nullptr},
        {"contrast", kPu, 0x03, 2, false, 0, 100, 1, 50, 0, nullptr},
        {"gain", kPu, 0x04, 2, false, 0, 100, 1, 0, 0, nullptr},
        {"power_line_frequency", kPu, 0x05, 1, false, 0, 2, 1, 1, 0, nullptr},
        {"hue", kPu, 0x06, 2, true, -180, 180, 1, 0, 0, nullptr},
        {"saturation", kPu, 0x07, 2, false, 0, 100, 1, 64, 0, nullptr},
        {"sharpness", kPu, 0x08, 2, false, 0, 7, 1, 3, 0, nullptr},
        {"gamma", kPu, 0x09, 2, false, 100, 500, 1, 300, 0, nullptr},
        {"white_balance_temperature", kPu, 0x0a, 2, false, 2800, 6500, 1, 4600, 0,
         "white_balance_auto"},
        {"white_balance_auto", kPu, 0x0b, 1, false, 0, 1, 1, 1, 0, nullptr},
    };
    reset();
}

void UvcControlTable::reset() {
    for (Control& c : m_controls) {
        c.cur = c.def;
    }
    m_errorCode = kErrorNone;
}

UvcControlTable::Control* UvcControlTable::find(uint8_t entity, uint8_t selector) {
    for (Control& c : m_controls) {
        if (c.entity == entity && c.selector == selector) {
            return &c;
        }
    }
    return nullptr;
}

const UvcControlTable::Control* UvcControlTable::find(const std::string& name) const {
    for (const Control& c : m_controls) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

bool UvcControlTable::blocked(const Control& control) const {
    if (!control.blockedBy) {
        return false;
    }
    const Control* master = find(control.blockedBy);
    if (std::strcmp(master->name, "exposure_auto") == 0) {
        return master->cur == kAeAperturePriority;
    }
    return master->cur != 0;
}

bool UvcControlTable::fail(uint8_t code) {
    m_errorCode = code;
    return false;
}

std::optional<int32_t> UvcControlTable::value(const std::string& name) const {
    const Control* c = find(name);
    return c ? std::optional<int32_t>(c->cur) : std::nullopt;
}

std::string UvcControlTable::names() const {
    std::string out;
    for (const Control& c : m_controls) {
        out += out.empty() ? "" : " ";
        out += c.name;
    }
    return out;
}

bool UvcControlTable::request(uint8_t entity, uint8_t selector, uint8_t request,
                              const std::vector<uint8_t>& data, std::vector<uint8_t>* answer) {
    answer->clear();
    if (entity == 0) {
        // The interface's own controls: only the error code of the last request is offered.
        if (selector != kRequestErrorCodeControl) {
            return fail(kErrorInvalidControl);
        }
        switch (request) {
            case kGetCur:
                putValue(answer, m_errorCode, 1);
                return true;
            case kGetInfo:
                putValue(answer, 0x01, 1);  // GET only
                return true;
            case kGetLen:
                putValue(answer, 1, 2);
                return true;
            default:
                return fail(kErrorInvalidRequest);
        }
    }
    Control* c = find(entity, selector);
    if (!c) {
        return fail(kErrorInvalidControl);
    }
    m_errorCode = kErrorNone;
    switch (request) {
        case kSetCur: {
            if (data.size() != c->size) {
                return fail(kErrorInvalidRequest);
            }
            uint32_t raw = 0;
            for (size_t i = 0; i < data.size(); ++i) {
                raw |= uint32_t(data[i]) << (8 * i);
            }
            int32_t v = int32_t(raw);
            if (c->isSigned && c->size < 4 && (raw & (1u << (8 * c->size - 1)))) {
                v = int32_t(raw | ~((1u << (8 * c->size)) - 1));  // sign-extend
            }
            if (blocked(*c)) {
                return fail(kErrorWrongState);
            }
            if (std::strcmp(c->name, "exposure_auto") == 0) {
                // A mode is one bit of the offered bitmap.
                if (v != kAeManual && v != kAeAperturePriority) {
                    return fail(kErrorInvalidValue);
                }
            } else if (v < c->min || v > c->max) {
                return fail(kErrorOutOfRange);
            }
            c->cur = v;
            return true;
        }
        case kGetCur:
            putValue(answer, c->cur, c->size);
            return true;
        case kGetMin:
            putValue(answer, c->min, c->size);
            return true;
        case kGetMax:
            putValue(answer, c->max, c->size);
            return true;
        case kGetRes:
            putValue(answer, c->res, c->size);
            return true;
        case kGetDef:
            putValue(answer, c->def, c->size);
            return true;
        case kGetLen:
            putValue(answer, c->size, 2);
            return true;
        case kGetInfo:
            putValue(answer, 0x03, 1);  // GET and SET supported
            return true;
        default:
            return fail(kErrorInvalidRequest);
    }
}
