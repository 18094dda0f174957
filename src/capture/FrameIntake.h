#pragma once

#include <atomic>
#include <functional>

#include "capture/Camera.h"

class FrameStore;

// Where the camera's deliveries enter the program: frames go to the frame store, presses of
// the camera's snapshot button go through the still trigger.
//
// The still trigger: cameras send a still buffer when their stream restarts, so after a reset
// the first press only arms the trigger and every later one takes a snapshot. The reset
// (skip next = 1, armed = 0) happens at construction, on a device change, on a parameter restore
// and on every resolution choice. The flags are atomics: the GUI thread resets them while a
// camera thread may be delivering a press.
class FrameIntake final : public FrameSink, public StillSink {
public:
    explicit FrameIntake(FrameStore& store) : m_store(store) {}

    // Capture thread.
    int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) override;
    // A camera thread (or the GUI thread, for the snapshot key of the keyboard).
    void OnStillButton() override { BufferCB(); }

    // One still buffer: takes a snapshot when armed and a camera is open, then arms after the
    // skipped one.
    void BufferCB();
    // Present for the grabber interface: only consumes the skip.
    void SampleCB();
    void ResetStillTrigger();

    // Set by the owner before frames arrive.
    std::function<bool()> hasSource;     // is a camera open
    std::function<void()> takeSnapshot;  // runs on the calling thread
    // Runs on the capture thread after each frame has reached the store; must return at once.
    std::function<void()> frameStored;

    std::atomic<bool> m_bSkipNextStill{true};
    std::atomic<bool> m_bStillArmed{false};

private:
    FrameStore& m_store;
};
