#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

#include "capture/Camera.h"

class FrameStore;

// Where the camera's deliveries enter the program: frames go to the frame store, presses of
// the camera's snapshot button go through the still trigger.
//
// A press comes from the camera (its input device, on a camera thread: the camera is given
// cameraButton() as its still sink) or from the window, when the desktop delivers the button
// as a key (OnStillButton, GUI thread). Presses while the preview is not running are dropped.
// When the camera's input device could not be taken exclusively, one press can arrive both
// ways: a report from the other source within kSamePress of a counted press is that same
// press and counts nothing. Two reports from one source are always two presses.
//
// The still trigger: cameras send a still buffer when their stream restarts, so after a reset
// the first press only arms the trigger and every later one takes a snapshot. The reset
// (skip next = 1, armed = 0) happens at construction, on a device change, on a parameter restore
// and on every resolution choice. The flags are atomics: the GUI thread resets them while a
// camera thread may be delivering a press.
class FrameIntake final : public FrameSink {
public:
    static constexpr std::chrono::milliseconds kSamePress{200};

    explicit FrameIntake(FrameStore& store) : m_store(store), m_cameraButton(*this) {}
    FrameIntake(const FrameIntake&) = delete;
    FrameIntake& operator=(const FrameIntake&) = delete;

    // Capture thread.
    int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) override;
    // GUI thread: the snapshot key of the window's keyboard.
    void OnStillButton() { press(PressSource::Key); }
    // The still sink to give the camera: its own button's presses, on a camera thread.
    StillSink& cameraButton() { return m_cameraButton; }
    // Set by the owner as the stream starts and stops.
    void setPreviewRunning(bool running) { m_bPreviewRunning = running; }

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
    enum class PressSource { Camera, Key };
    using Clock = std::chrono::steady_clock;

    class CameraButton final : public StillSink {
    public:
        explicit CameraButton(FrameIntake& intake) : m_intake(intake) {}
        void OnStillButton() override { m_intake.press(PressSource::Camera); }

    private:
        FrameIntake& m_intake;
    };

    void press(PressSource source);
    // Whether this report is the other source's report of the press counted last.
    bool isSecondReport(PressSource source);

    FrameStore& m_store;
    CameraButton m_cameraButton;
    std::atomic<bool> m_bPreviewRunning{false};

    // Protects m_lastPress, m_lastSource and m_lastAnswered: the press counted last, which a
    // camera thread and the GUI thread both check and replace. Never held while a press is
    // handed on.
    std::mutex m_pressMutex;
    Clock::time_point m_lastPress;
    PressSource m_lastSource = PressSource::Camera;
    bool m_lastAnswered = true;  // its second report arrived (true: no press counted yet)
};
