#include "capture/FrameIntake.h"

#include "capture/FrameStore.h"

int FrameIntake::OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) {
    const int result = m_store.OnFrame(pixels, width, height, bitsPerPixel);
    if (frameStored) {
        frameStored();
    }
    return result;
}

void FrameIntake::press(PressSource source) {
    // A press while paused would take a snapshot of a picture that is no longer live; the
    // camera drops those that wait in its input device when the stream starts again.
    if (!m_bPreviewRunning || isSecondReport(source)) {
        return;
    }
    BufferCB();
}

bool FrameIntake::isSecondReport(PressSource source) {
    std::lock_guard lock(m_pressMutex);
    const Clock::time_point now = Clock::now();
    if (!m_lastAnswered && source != m_lastSource && now - m_lastPress < kSamePress) {
        m_lastAnswered = true;
        return true;
    }
    m_lastPress = now;
    m_lastSource = source;
    m_lastAnswered = false;
    return false;
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
