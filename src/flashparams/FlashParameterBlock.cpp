#include "flashparams/FlashParameterBlock.h"

#include <QLoggingCategory>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "contracts/CameraController.h"

namespace {

Q_LOGGING_CATEGORY(lcFlashBlock, "tavrel.flashparams")

constexpr uint8_t kErased = 0xFF;

// Field offsets inside a block.
constexpr uint32_t kResolution = 0x00;
constexpr uint32_t kZoom = 0x01;
constexpr uint32_t kMaskRadius = 0x04;
constexpr uint32_t kMaskColour = 0x05;
constexpr uint32_t kMaskShown = 0x08;
constexpr uint32_t kCrossSize = 0x09;
constexpr uint32_t kCrossColour = 0x0A;
constexpr uint32_t kCrossShown = 0x0D;
constexpr uint32_t kPanX = 0x0E;
constexpr uint32_t kPanY = 0x11;
constexpr uint32_t kViewZoom = 0x14;
constexpr uint32_t kMjpg = 0x20;
constexpr uint32_t kBrightness = 0x21;
constexpr uint32_t kContrast = 0x23;
constexpr uint32_t kSaturation = 0x25;
constexpr uint32_t kHue = 0x27;
constexpr uint32_t kPowerLine = 0x2A;
constexpr uint32_t kSharpness = 0x2B;
constexpr uint32_t kGamma = 0x2D;
constexpr uint32_t kWhiteBalance = 0x30;
constexpr uint32_t kWhiteBalanceAuto = 0x32;
constexpr uint32_t kExposure = 0x33;
constexpr uint32_t kExposureAuto = 0x34;
constexpr uint32_t kGain = 0x35;
constexpr uint32_t kGainAuto = 0x36;

constexpr float kMinMaskRadius = 0.25f;
constexpr float kMinCrossSize = 0.15f;

// A field holding what the program never writes: damaged flash, or a block from elsewhere. It
// counts as erased, so that the picture stays in view; said once per reading.
void NoteDamaged(const char* field, uint32_t address, double value) {
    qCWarning(lcFlashBlock).nospace()
        << "parameter block: " << field << " at 0x" << Qt::hex << address << Qt::dec << " reads "
        << value << ", outside its range; taken as erased";
}

// Zooms outside 1.0 ... 4.0 (an erased or damaged field) fall back to no zoom.
float ZoomInRange(float zoom, const char* field, uint32_t address, bool erased) {
    if (zoom > 4.0f || zoom < 1.0f) {
        if (!erased) {
            NoteDamaged(field, address, zoom);
        }
        return 1.0f;
    }
    return zoom;
}

// Pans beyond a frame's width either way move the picture out of view: such a pan counts as
// erased, which is `erased` (0 in the default block, the default block's pan in the saved one).
float PanInRange(float pan, const char* field, uint32_t address, float erased) {
    if (std::fabs(pan) > 1.0f) {
        NoteDamaged(field, address, pan);
        return erased;
    }
    return pan;
}

}  // namespace

std::array<uint8_t, 3> FlashParameterBlock::EncodeDecimal(float value) {
    const float x = value * 100.0f;
    const int n = int(x);
    char printed[32];
    std::snprintf(printed, sizeof printed, "%6.1f", double(x));
    const std::string_view text(printed);
    const char last = text.empty() ? '0' : text.back();
    const uint8_t tenths = last >= '0' && last <= '9' ? uint8_t(last - '0') : 0;
    return {uint8_t((n >> 8) & 0xFF), uint8_t(n & 0xFF), tenths};
}

float FlashParameterBlock::DecodeDecimal(uint8_t high, uint8_t low, uint8_t tenths) {
    const int v = high * 256 + low;
    return float((v + tenths / 10.0) / 100.0);
}

float FlashParameterBlock::DecodeSignedDecimal(uint8_t high, uint8_t low, uint8_t tenths) {
    int v = high * 256 + low;
    if (high != 0) {
        v -= 65536;
    }
    return v > 0 ? float((v + tenths / 10.0) / 100.0) : float((v - tenths / 10.0) / 100.0);
}

uint8_t FlashParameterBlock::EncodeSize(float value) {
    return uint8_t(int(value * 100.0f * 2.0f) & 0xFF);
}

float FlashParameterBlock::DecodeSize(uint8_t byte) {
    const int clamped = byte > 100 ? 100 : byte;
    return float(clamped / 2) / 100.0f;
}

std::optional<uint8_t> FlashParameterBlock::Read(uint32_t address) {
    uint8_t byte = 0;
    if (m_controller.ALC_ReadFlash(address, 1, &byte) == 0) {
        return std::nullopt;
    }
    return byte;
}

uint8_t FlashParameterBlock::ReadOr(uint32_t address, uint8_t unreadable) {
    return Read(address).value_or(unreadable);
}

int FlashParameterBlock::ReadSavedFlag() {
    return ReadOr(kSavedFlag, 0) == 1 ? 1 : 0;
}

// The mask fields read alike in both blocks.
void FlashParameterBlock::ReadMask(uint32_t b, OverlaySettings& o) {
    if (const std::optional<uint8_t> radius = Read(b + kMaskRadius)) {
        if (*radius > 100 && *radius != kErased) {
            NoteDamaged("mask radius", b + kMaskRadius, *radius);  // reads as erased: 0.50
        }
        o.m_fMaskRadius = std::max(DecodeSize(*radius), kMinMaskRadius);
    } else {
        o.m_fMaskRadius = 0.5f;
    }
    const uint8_t mr = ReadOr(b + kMaskColour, 0);
    const uint8_t mg = ReadOr(b + kMaskColour + 1, 0);
    const uint8_t mb = ReadOr(b + kMaskColour + 2, 0);
    o.m_clrMask = mr == kErased && mg == kErased && mb == kErased ? 0 : MakeColorRef(mr, mg, mb);
    const uint8_t maskShown = ReadOr(b + kMaskShown, kErased);
    o.m_bMaskEnable = maskShown == kErased || maskShown != 0 ? 1 : 0;
}

void FlashParameterBlock::ReadDefaultBlock(FlashParameters& p) {
    const uint32_t b = kDefaultBlock;
    const uint8_t resolution = ReadOr(b + kResolution, 0);
    p.m_nResolutionIndex = resolution == kErased ? 0 : resolution;

    const uint8_t zoomHigh = ReadOr(b + kZoom, 0);
    const uint8_t zoomLow = ReadOr(b + kZoom + 1, 0);
    const std::optional<uint8_t> zoomTenths = Read(b + kZoom + 2);
    p.m_fZoom =
        zoomHigh == kErased || !zoomTenths
            ? 1.0f
            : ZoomInRange(DecodeDecimal(zoomHigh, zoomLow, *zoomTenths), "zoom", b + kZoom, false);

    OverlaySettings& o = p.overlay;
    ReadMask(b, o);

    const uint8_t crossSize = ReadOr(b + kCrossSize, kErased);
    o.m_fCrossSize =
        crossSize == kErased ? kMinCrossSize : std::max(DecodeSize(crossSize), kMinCrossSize);
    // An erased red byte gives red 0xFF; green and blue are taken as they are, so an erased
    // colour is white.
    const uint8_t cr = ReadOr(b + kCrossColour, kErased);
    const uint8_t cg = ReadOr(b + kCrossColour + 1, 0);
    const uint8_t cb = ReadOr(b + kCrossColour + 2, 0);
    o.m_clrCross = MakeColorRef(cr, cg, cb);
    const uint8_t crossShown = ReadOr(b + kCrossShown, kErased);
    o.m_bCrossEnable = crossShown == kErased || crossShown != 0 ? 1 : 0;

    // In the default block an erased pan byte counts as 0.
    auto panByte = [&](uint32_t address) {
        const uint8_t byte = ReadOr(address, 0);
        return byte == kErased ? uint8_t(0) : byte;
    };
    auto pan = [&](uint32_t address, const char* field) {
        return PanInRange(
            DecodeSignedDecimal(panByte(address), panByte(address + 1), panByte(address + 2)),
            field, address, 0.0f);
    };
    p.m_fPanX = pan(b + kPanX, "horizontal pan");
    p.m_fPanY = pan(b + kPanY, "vertical pan");

    p.m_fViewZoom = ReadViewZoom(b);

    const uint8_t mjpg = ReadOr(b + kMjpg, kErased);
    p.m_bMjpgSelected = mjpg != kErased && mjpg != 0;
}

void FlashParameterBlock::ReadSavedBlock(FlashParameters& p) {
    const uint32_t b = kSavedBlock;
    OverlaySettings& o = p.overlay;
    ReadMask(b, o);

    // Here an erased size byte is a size of 0.50.
    const std::optional<uint8_t> crossSize = Read(b + kCrossSize);
    o.m_fCrossSize = crossSize ? std::max(DecodeSize(*crossSize), kMinCrossSize) : kMinCrossSize;
    const uint8_t cr = ReadOr(b + kCrossColour, 0);
    const uint8_t cg = ReadOr(b + kCrossColour + 1, 0);
    const uint8_t cb = ReadOr(b + kCrossColour + 2, kErased);
    o.m_clrCross = cr == kErased && cg == kErased && cb == kErased ? 0 : MakeColorRef(cr, cg, cb);
    const uint8_t crossShown = ReadOr(b + kCrossShown, kErased);
    o.m_bCrossEnable = crossShown == kErased || crossShown != 0 ? 1 : 0;

    // Saved pans keep 0xFF bytes: it is the high byte of every negative pan.
    auto pan = [&](uint32_t address) {
        const uint8_t high = ReadOr(address, 0);
        const uint8_t low = ReadOr(address + 1, 0);
        const std::optional<uint8_t> tenths = Read(address + 2);
        return tenths ? DecodeSignedDecimal(high, low, *tenths) : 0.0f;
    };
    // p holds the default block's pan: a damaged saved pan leaves it in force.
    p.m_fPanX = PanInRange(pan(b + kPanX), "horizontal pan", b + kPanX, p.m_fPanX);
    p.m_fPanY = PanInRange(pan(b + kPanY), "vertical pan", b + kPanY, p.m_fPanY);

    p.m_fViewZoom = ReadViewZoom(b);

    const uint8_t mjpg = ReadOr(b + kMjpg, 0);
    p.m_bMjpgSelected = mjpg != kErased && mjpg != 0;
    const uint8_t resolution = ReadOr(b + kResolution, 0);
    p.m_nResolutionIndex = resolution == kErased ? 0 : resolution;

    CameraParameters& c = p.camera;
    // Brightness is a signed byte, but an erased byte (which is also -1) reads as 0.
    const uint8_t brightness = ReadOr(b + kBrightness, 0);
    c.m_lBrightness = brightness == kErased ? 0 : brightness > 0x7F ? brightness - 256 : brightness;
    c.m_lContrast = ReadOr(b + kContrast, 0);
    c.m_lSaturation = ReadOr(b + kSaturation, 0);
    const uint8_t sharpness = ReadOr(b + kSharpness, 0);
    c.m_lSharpness = sharpness == kErased ? 0 : sharpness;
    const uint8_t hueHigh = ReadOr(b + kHue, 0);
    const uint8_t hueLow = ReadOr(b + kHue + 1, 0);
    c.m_lHue = hueHigh * 256 + hueLow - (hueHigh != 0 ? 65536 : 0);
    const uint8_t gammaHigh = ReadOr(b + kGamma, 0);
    const uint8_t gammaLow = ReadOr(b + kGamma + 1, 0);
    c.m_lGamma = gammaHigh == kErased ? 0 : gammaHigh * 256 + gammaLow;
    c.m_lWhiteBalance = ReadOr(b + kWhiteBalance, 0) * 256 + ReadOr(b + kWhiteBalance + 1, 0);
    const uint8_t wbAuto = ReadOr(b + kWhiteBalanceAuto, 0);
    c.m_bWhiteBalanceAuto = wbAuto != kErased && wbAuto != 0;
    const uint8_t powerLine = ReadOr(b + kPowerLine, 0);
    p.m_nPowerLineFreq = powerLine == kErased ? 0 : powerLine;
    // Exposure is log2 seconds: 0 and 1 are the only positive values stored.
    const uint8_t exposure = ReadOr(b + kExposure, 0);
    c.m_lExposure = exposure == kErased ? 0 : exposure > 1 ? exposure - 256 : exposure;
    const uint8_t exposureAuto = ReadOr(b + kExposureAuto, 0);
    c.m_bExposureAuto = exposureAuto != kErased && exposureAuto != 0;
    const uint8_t gain = ReadOr(b + kGain, 0);
    c.m_lGain = gain == kErased ? 0 : gain;
    const uint8_t gainAuto = ReadOr(b + kGainAuto, 0);
    c.m_bGainAuto = gainAuto != kErased && gainAuto != 0;

    const uint8_t zoomHigh = ReadOr(b + kZoom, 0);
    const uint8_t zoomLow = ReadOr(b + kZoom + 1, 0);
    const std::optional<uint8_t> zoomTenths = Read(b + kZoom + 2);
    const bool erased = zoomHigh == kErased && zoomLow == kErased && zoomTenths == kErased;
    p.m_fZoom = zoomTenths ? ZoomInRange(DecodeDecimal(zoomHigh, zoomLow, *zoomTenths), "zoom",
                                         b + kZoom, erased)
                           : 1.0f;
}

float FlashParameterBlock::ReadViewZoom(uint32_t b) {
    const uint8_t high = ReadOr(b + kViewZoom, 0);
    const uint8_t low = ReadOr(b + kViewZoom + 1, 0);
    const std::optional<uint8_t> tenths = Read(b + kViewZoom + 2);
    if (!tenths) {
        return 1.0f;
    }
    const bool erased = high == kErased && low == kErased && *tenths == kErased;
    return ZoomInRange(DecodeDecimal(high, low, *tenths), "view zoom", b + kViewZoom, erased);
}

void FlashParameterBlock::Write(uint32_t address, uint8_t value) {
    m_controller.ALC_WriteFlash(address, 1, &value);
}

void FlashParameterBlock::WriteDecimal(uint32_t address, float value) {
    const std::array<uint8_t, 3> field = EncodeDecimal(value);
    for (uint32_t i = 0; i < field.size(); ++i) {
        Write(address + i, field[i]);
    }
}

void FlashParameterBlock::WriteTwoBytes(uint32_t address, long value) {
    Write(address, uint8_t((value >> 8) & 0xFF));
    Write(address + 1, uint8_t(value & 0xFF));
}

void FlashParameterBlock::BeginWrite() {
    m_controller.ALC_Initialize();
    m_controller.ALC_SetFlashSize(CameraController::kFlashSize);
}

void FlashParameterBlock::WriteSavedFlag(uint8_t value) {
    BeginWrite();
    Write(kSavedFlag, value);
    m_controller.ALC_UnInitialize();
}

void FlashParameterBlock::WriteBasic(const FlashParameters& p) {
    const uint32_t b = kSavedBlock;
    const CameraParameters& c = p.camera;
    BeginWrite();
    Write(b + kMjpg, p.m_bMjpgSelected ? 1 : 0);
    Write(b + kResolution, uint8_t(p.m_nResolutionIndex & 0xFF));
    Write(b + kBrightness, uint8_t(c.m_lBrightness & 0xFF));
    Write(b + kContrast, uint8_t(c.m_lContrast & 0xFF));
    Write(b + kSaturation, uint8_t(c.m_lSaturation & 0xFF));
    Write(b + kPowerLine, uint8_t(p.m_nPowerLineFreq & 0xFF));
    WriteDecimal(b + kZoom, p.m_fZoom);
    WriteTwoBytes(b + kHue, c.m_lHue);
    m_controller.ALC_UnInitialize();
}

void FlashParameterBlock::WriteFull(const FlashParameters& p) {
    const uint32_t b = kSavedBlock;
    const CameraParameters& c = p.camera;
    const OverlaySettings& o = p.overlay;
    BeginWrite();
    Write(b + kMjpg, p.m_bMjpgSelected ? 1 : 0);
    Write(b + kResolution, uint8_t(p.m_nResolutionIndex & 0xFF));
    // The factory save keeps the picture unzoomed: the view zoom and pan frame the field.
    Write(b + kZoom, 0);
    Write(b + kZoom + 1, 100);
    Write(b + kZoom + 2, 0);
    Write(b + kMaskRadius, EncodeSize(o.m_fMaskRadius));
    Write(b + kMaskColour, RedOf(o.m_clrMask));
    Write(b + kMaskColour + 1, GreenOf(o.m_clrMask));
    Write(b + kMaskColour + 2, BlueOf(o.m_clrMask));
    Write(b + kMaskShown, o.m_bMaskEnable);
    Write(b + kCrossSize, EncodeSize(o.m_fCrossSize));
    Write(b + kCrossColour, RedOf(o.m_clrCross));
    Write(b + kCrossColour + 1, GreenOf(o.m_clrCross));
    Write(b + kCrossColour + 2, BlueOf(o.m_clrCross));
    Write(b + kCrossShown, o.m_bCrossEnable);
    WriteDecimal(b + kViewZoom, p.m_fViewZoom);
    WriteDecimal(b + kPanX, p.m_fPanX);
    WriteDecimal(b + kPanY, p.m_fPanY);

    Write(b + kBrightness, uint8_t(c.m_lBrightness & 0xFF));
    Write(b + kContrast, uint8_t(c.m_lContrast & 0xFF));
    Write(b + kSaturation, uint8_t(c.m_lSaturation & 0xFF));
    Write(b + kPowerLine, uint8_t(p.m_nPowerLineFreq & 0xFF));
    WriteTwoBytes(b + kHue, c.m_lHue);
    Write(b + kSharpness, uint8_t(c.m_lSharpness & 0xFF));
    WriteTwoBytes(b + kGamma, c.m_lGamma);
    WriteTwoBytes(b + kWhiteBalance, c.m_lWhiteBalance);
    Write(b + kWhiteBalanceAuto, c.m_bWhiteBalanceAuto ? 1 : 0);
    Write(b + kExposure, uint8_t(c.m_lExposure & 0xFF));
    Write(b + kExposureAuto, c.m_bExposureAuto ? 1 : 0);
    Write(b + kGain, uint8_t(c.m_lGain & 0xFF));
    Write(b + kGainAuto, c.m_bGainAuto ? 1 : 0);
    m_controller.ALC_UnInitialize();
}
