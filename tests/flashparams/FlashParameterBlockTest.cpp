// The flash parameter block: what erased and unreadable flash reads as, and what each value is
// written as and reads back as, byte for byte, through one writer/reader pair.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "contracts/MemoryFlashController.h"
#include "flashparams/FlashParameterBlock.h"

namespace {

constexpr uint32_t kSaved = FlashParameterBlock::kSavedBlock;

std::vector<uint8_t> Bytes(const MemoryFlashController& c, uint32_t address, uint32_t count) {
    std::vector<uint8_t> out(count);
    EXPECT_TRUE(c.flash().read(address, count, out.data()));
    return out;
}

}  // namespace

TEST(FlashParameterBlock, ErasedAndUnreadableFlashGiveTheDefaults) {
    MemoryFlashController erased;
    MemoryFlashController unplugged;
    unplugged.setAttached(false);
    struct Expect {
        MemoryFlashController* controller;
        ColorRef cross;  // an unreadable red byte counts as erased, green and blue as 0
    };
    for (const Expect& e : {Expect{&erased, 0xFFFFFF}, Expect{&unplugged, 0x0000FF}}) {
        FlashParameterBlock block(*e.controller);
        FlashParameters p;
        p.m_fZoom = 3.0f;
        p.m_nResolutionIndex = 4;
        p.m_bMjpgSelected = true;
        block.ReadDefaultBlock(p);
        EXPECT_EQ(block.ReadSavedFlag(), 0);
        EXPECT_EQ(p.m_nResolutionIndex, 0);
        EXPECT_FALSE(p.m_bMjpgSelected);
        EXPECT_FLOAT_EQ(p.m_fZoom, 1.0f);
        EXPECT_FLOAT_EQ(p.m_fViewZoom, 1.0f);
        EXPECT_FLOAT_EQ(p.m_fPanX, 0.0f);
        EXPECT_FLOAT_EQ(p.m_fPanY, 0.0f);
        EXPECT_FLOAT_EQ(p.overlay.m_fMaskRadius, 0.5f);
        EXPECT_EQ(p.overlay.m_clrMask, 0u);
        EXPECT_FLOAT_EQ(p.overlay.m_fCrossSize, 0.15f);
        EXPECT_EQ(p.overlay.m_clrCross, e.cross);
        EXPECT_EQ(p.overlay.m_bMaskEnable, 1);
        EXPECT_EQ(p.overlay.m_bCrossEnable, 1);
    }
}

TEST(FlashParameterBlock, DecimalFieldsAreWrittenAndReadBackAsStored) {
    struct Row {
        float value;
        std::array<uint8_t, 3> bytes;
        float readBack;
    };
    // Zoom through the closing window's writer, view zoom through the factory's.
    const Row rows[] = {
        {2.6f, {1, 4, 0}, 2.6f},       {2.56f, {1, 0, 0}, 2.56f}, {1.2349f, {0, 123, 5}, 1.235f},
        {1.2396f, {0, 123, 0}, 1.23f},  // printed 124.0: the rounding is lost
        {4.5f, {1, 0xC2, 0}, 1.0f},     // out of range
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        MemoryFlashController c;
        FlashParameterBlock block(c);
        FlashParameters p;
        p.m_fZoom = row.value;
        p.m_fViewZoom = row.value;
        block.WriteBasic(p);
        EXPECT_EQ(Bytes(c, kSaved + 0x01, 3),
                  std::vector<uint8_t>(row.bytes.begin(), row.bytes.end()));
        FlashParameters back;
        block.ReadSavedBlock(back);
        EXPECT_FLOAT_EQ(back.m_fZoom, row.readBack);

        block.WriteFull(p);
        EXPECT_EQ(Bytes(c, kSaved + 0x14, 3),
                  std::vector<uint8_t>(row.bytes.begin(), row.bytes.end()));
        EXPECT_EQ(Bytes(c, kSaved + 0x01, 3), (std::vector<uint8_t>{0, 100, 0}));
        block.ReadSavedBlock(back);
        EXPECT_FLOAT_EQ(back.m_fViewZoom, row.readBack);
        EXPECT_FLOAT_EQ(back.m_fZoom, 1.0f);  // the factory save never keeps a zoom
    }
}

TEST(FlashParameterBlock, PanAndCameraValuesKeepTheirLossyCorners) {
    struct Row {
        float pan;
        std::array<uint8_t, 3> panBytes;
        float panBack;
        long brightness;
        uint8_t brightnessByte;
        long brightnessBack;
        long exposure;
        uint8_t exposureByte;
        long exposureBack;
    };
    const Row rows[] = {
        {-0.5f, {0xFF, 0xCE, 0}, -0.5f, -5, 0xFB, -5, -7, 0xF9, -7},
        {0.003f, {0, 0, 3}, -0.003f, -1, 0xFF, 0, 1, 0x01, 1},  // both read back changed
        {0.42f, {0, 42, 0}, 0.42f, 100, 100, 100, -1, 0xFF, 0},
        {-0.123f, {0xFF, 0xF4, 3}, -0.123f, 0, 0, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pan);
        MemoryFlashController c;
        FlashParameterBlock block(c);
        FlashParameters p;
        p.m_fPanX = row.pan;
        p.m_fPanY = -row.pan;
        p.camera.m_lBrightness = row.brightness;
        p.camera.m_lExposure = row.exposure;
        p.camera.m_lHue = -20;
        p.camera.m_lGamma = 300;
        p.camera.m_lWhiteBalance = 6500;
        p.camera.m_lContrast = 200;
        p.camera.m_bWhiteBalanceAuto = true;
        p.overlay.m_fMaskRadius = 0.455f;  // stored as 91: halving drops the odd bit
        p.overlay.m_clrCross = MakeColorRef(0x10, 0x20, 0x30);
        p.overlay.m_bCrossEnable = 0;
        p.m_nPowerLineFreq = 1;
        block.WriteFull(p);
        EXPECT_EQ(Bytes(c, kSaved + 0x0E, 3),
                  std::vector<uint8_t>(row.panBytes.begin(), row.panBytes.end()));
        EXPECT_EQ(Bytes(c, kSaved + 0x21, 1)[0], row.brightnessByte);
        EXPECT_EQ(Bytes(c, kSaved + 0x33, 1)[0], row.exposureByte);

        FlashParameters back;
        block.ReadSavedBlock(back);
        EXPECT_NEAR(back.m_fPanX, row.panBack, 1e-6);
        EXPECT_EQ(back.camera.m_lBrightness, row.brightnessBack);
        EXPECT_EQ(back.camera.m_lExposure, row.exposureBack);
        EXPECT_EQ(back.camera.m_lHue, -20);
        EXPECT_EQ(back.camera.m_lGamma, 300);
        EXPECT_EQ(back.camera.m_lWhiteBalance, 6500);
        EXPECT_EQ(back.camera.m_lContrast, 200);
        EXPECT_TRUE(back.camera.m_bWhiteBalanceAuto);
        EXPECT_FALSE(back.camera.m_bExposureAuto);
        EXPECT_FLOAT_EQ(back.overlay.m_fMaskRadius, 0.45f);
        EXPECT_EQ(back.overlay.m_clrCross, MakeColorRef(0x10, 0x20, 0x30));
        EXPECT_EQ(back.overlay.m_bCrossEnable, 0);
        EXPECT_EQ(back.m_nPowerLineFreq, 1);
    }
}

TEST(FlashParameterBlock, TheFlagAloneDecidesWhetherTheSavedBlockCounts) {
    MemoryFlashController c;
    FlashParameterBlock block(c);
    for (const auto& [written, read] : {std::pair{1, 1}, std::pair{0, 0}, std::pair{2, 0}}) {
        block.WriteSavedFlag(uint8_t(written));
        EXPECT_EQ(block.ReadSavedFlag(), read);
    }
    EXPECT_EQ(c.depth(), 0);  // every writer closes its pair
}

// Damaged memory (here pans of ±330 and ±655, as a stray write or a foreign block leaves them)
// would pan the view out of the frame and show black: such fields count as erased, so the
// defaults apply, in the default block and, over it, in the saved block.
TEST(FlashParameterBlock, FieldsOutOfTheirRangeCountAsErased) {
    using P = FlashParameters;
    constexpr uint32_t kDefault = FlashParameterBlock::kDefaultBlock;
    struct Row {
        uint32_t address;
        std::vector<uint8_t> bytes;
        float P::*field;
        float expected;
    };
    const Row rows[] = {
        {kDefault + 0x0E, {0x7F, 0xFF, 0}, &P::m_fPanX, 0.0f},
        {kDefault + 0x14, {0x07, 0xD0, 0}, &P::m_fViewZoom, 1.0f},
        {kSaved + 0x0E, {0x80, 0x01, 0}, &P::m_fPanX, 0.3f},  // the default block's pan
        {kSaved + 0x11, {0x00, 0xC8, 0}, &P::m_fPanY, 0.2f},
        {kSaved + 0x01, {0x00, 0x32, 0}, &P::m_fZoom, 1.0f},
        {kSaved + 0x0E, {0xFF, 0xCE, 0}, &P::m_fPanX, -0.5f},  // in range: as stored
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        MemoryFlashController c;
        // The default block pans to 0.3, 0.2; the saved block is centred, unzoomed.
        const std::pair<uint32_t, std::vector<uint8_t>> writes[] = {
            {kDefault + 0x0E, {0, 30, 0}}, {kDefault + 0x11, {0, 20, 0}},
            {kSaved + 0x0E, {0, 0, 0}},    {kSaved + 0x11, {0, 0, 0}},
            {kSaved + 0x14, {0, 100, 0}},  {kSaved + 0x01, {0, 100, 0}},
            {row.address, row.bytes}};
        for (const auto& [address, bytes] : writes) {
            c.ALC_WriteFlash(address, uint32_t(bytes.size()), bytes.data());
        }
        FlashParameterBlock block(c);
        P p;
        block.ReadDefaultBlock(p);
        if (row.address >= kSaved) {
            block.ReadSavedBlock(p);
        }
        EXPECT_NEAR(p.*row.field, row.expected, 1e-4);
    }
}
