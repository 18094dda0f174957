#include "capture/FrameIntake.h"

#include "capture/FrameStore.h"

int FrameIntake::OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) {
    const int result = m_store.OnFrame(pixels, width, height, bitsPerPixel);
    if (frameStored) {
        frameStored();
    }
    return result;
}

void FrameIntake::BufferCB() {
    if (m_bStillArmed && hasSource && hasSource() && takeSnapshot) {
        takeSnapshot();
    }
    if (m_bSkipNextStill.exchange(false)) {
        m_bStillArmed = true;
    }
}

void FrameIntake::SampleCB() {
    m_bSkipNextStill = false;
}

void FrameIntake::ResetStillTrigger() {
    m_bSkipNextStill = true;
    m_bStillArmed = false;
}
