// The flash parameter blocks: any flash content reads without a crash into finite values, and
// writing the blocks back changes only the saved block and its flag (the factory's default
// block is never written).
#include <cmath>

#include "FuzzTarget.h"
#include "contracts/MemoryFlashController.h"
#include "flashparams/FlashParameterBlock.h"

namespace {

bool Finite(const FlashParameters& p) {
    return std::isfinite(p.m_fZoom) && std::isfinite(p.m_fPanX) && std::isfinite(p.m_fPanY) &&
           std::isfinite(p.m_fViewZoom);
}

}  // namespace

int FuzzOne(const uint8_t* data, size_t size) {
    MemoryFlashController controller;
    // The input fills both blocks (0x1C00 on), the rest of the flash stays erased.
    FuzzInput in(data, size);
    size_t got = 0;
    const uint8_t* blocks = in.take(0x200, &got);
    FUZZ_CHECK(controller.flash().write(FlashParameterBlock::kDefaultBlock, uint32_t(got), blocks));
    const FlashImage before = controller.flash();

    FlashParameterBlock block(controller);
    controller.ALC_Initialize();
    FlashParameters p;
    block.ReadDefaultBlock(p);
    FUZZ_CHECK(Finite(p));
    const int flag = block.ReadSavedFlag();
    FUZZ_CHECK(flag == 0 || flag == 1);
    if (flag == 1) {
        block.ReadSavedBlock(p);
        FUZZ_CHECK(Finite(p));
    }
    controller.ALC_UnInitialize();
    FUZZ_CHECK(controller.flash() == before);  // reading writes nothing
    FUZZ_CHECK(controller.depth() == 0);

    block.WriteBasic(p);
    block.WriteFull(p);
    block.WriteSavedFlag(1);
    FUZZ_CHECK(controller.depth() == 0);  // every writing pair is closed
    const auto& old = before.bytes();
    const auto& now = controller.flash().bytes();
    for (uint32_t a = 0; a < FlashImage::kSize; ++a) {
        const bool savedBlock =
            a >= FlashParameterBlock::kSavedBlock && a < FlashParameterBlock::kSavedBlock + 0x100;
        if (!savedBlock && a != FlashParameterBlock::kSavedFlag) {
            FUZZ_CHECK(now[a] == old[a]);
        }
    }

    // What was saved reads back as a valid saved block that decodes to finite values again.
    controller.ALC_Initialize();
    FUZZ_CHECK(block.ReadSavedFlag() == 1);
    FlashParameters q;
    block.ReadDefaultBlock(q);
    block.ReadSavedBlock(q);
    FUZZ_CHECK(Finite(q));
    controller.ALC_UnInitialize();
    return 0;
}
