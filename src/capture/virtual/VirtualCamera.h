#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/Camera.h"

class VirtualHardware;

// The camera interface over the built-in virtual camera's hardware. Two threads stream: the
// sensor thread plays the camera itself, rendering each frame at the format's frame rate and
// encoding it into what the camera sends (YUYV or real JPEG data); the capture thread plays
// the V4L2 backend's, decoding the newest encoded frame with FrameDecoder on the same path as
// a real camera's buffers and handing it to FrameSink::OnFrame. The two meet in a hand-over
// slot that always holds the newest frame: a frame the capture thread had no time for is
// replaced by the next one and counted as skipped, as a driver's buffers would be.
//
// States (GUI thread):  Closed --open()--> Open --prepare()--> Prepared --start()--> Streaming.
// start() from Open prepares first; stop() returns to Prepared, unprepare() to Open, close()
// to Closed from anywhere. The capture thread ends by itself when the device is unplugged;
// the camera is then lost until it is closed and opened again on a plugged-in device.
//
// Snapshot-button presses made while streaming are delivered on the capture thread to the
// still sink, which setStillSink() swaps under a lock: once it returns, the old sink is not
// called again (so a sink must not call setStillSink() from OnStillButton()).
class VirtualCamera final : public Camera {
public:
    static constexpr double kFrameRate = 30.0;

    VirtualCamera(CameraId id, std::shared_ptr<VirtualHardware> hardware);
    ~VirtualCamera() override;
    VirtualCamera(const VirtualCamera&) = delete;
    VirtualCamera& operator=(const VirtualCamera&) = delete;

    // The formats the virtual sensor offers: YUYV from 640 x 480 to 2560 x 1440, then MJPG
    // from 640 x 480 to 3840 x 2160.
    static std::vector<CameraFormat> supportedFormats();

    const CameraId& id() const override { return m_id; }

    CameraResult open() override;
    void close() override;
    bool isOpen() const override { return m_state != State::Closed; }

    std::vector<CameraFormat> formats() const override;
    CameraResult setFormat(const CameraFormat& format) override;
    CameraFormat currentFormat() const override { return m_format; }

    CameraResult prepare() override;
    void unprepare() override;
    bool isPrepared() const override {
        return m_state == State::Prepared || m_state == State::Streaming;
    }

    CameraResult start(FrameSink* sink) override;
    void stop() override;
    bool isStreaming() const override { return m_threadRunning.load(); }
    bool isLost() const override { return m_lost.load(); }

    void setStillSink(StillSink* sink) override;

    bool hasProperty(CameraProperty property) const override;
    bool getProperty(CameraProperty property, long* value, long* flags) const override;
    bool setProperty(CameraProperty property, long value, long flags) override;
    bool getPropertyRange(CameraProperty property, PropertyRange* range) const override;

    bool hasPowerLineFrequency() const override { return true; }
    bool getPowerLineFrequency(long* value) const override;
    bool setPowerLineFrequency(long value) override;

    CameraStats stats() const override;

private:
    enum class State { Closed, Open, Prepared, Streaming };

    // True while the device this camera was opened on is still present.
    bool deviceReachable() const;
    void sensorLoop(CameraFormat format);
    void captureLoop(FrameSink* sink, CameraFormat format, uint64_t buttonPressesAtStart);
    void deliverStillPresses(uint64_t count);

    const CameraId m_id;
    const std::shared_ptr<VirtualHardware> m_hardware;
    State m_state = State::Closed;
    CameraFormat m_format;
    uint64_t m_generation = 0;  // plug generation of the device when opened

    std::thread m_sensorThread;
    std::thread m_thread;  // the capture thread
    std::atomic<bool> m_threadRunning{false};
    std::atomic<bool> m_lost{false};
    std::atomic<uint64_t> m_framesDelivered{0};
    std::atomic<uint64_t> m_framesDropped{0};
    std::atomic<uint64_t> m_framesSkipped{0};

    // Guards m_stopRequested and the hand-over slot (m_ready, m_readySize, m_readyFresh,
    // m_sensorEnded).
    // The sensor thread keeps its pace sleeping on m_wake, the capture thread waits on
    // m_slotFilled.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::condition_variable m_slotFilled;
    bool m_stopRequested = false;
    std::vector<uint8_t> m_ready;  // the newest encoded frame; buffers are swapped, not copied
    size_t m_readySize = 0;        // its length (the buffer may be longer)
    bool m_readyFresh = false;     // m_ready holds a frame the capture thread has not taken
    bool m_sensorEnded = false;    // the sensor thread has stopped (stop or device gone)

    std::mutex m_stillMutex;  // guards m_stillSink and every call into it
    StillSink* m_stillSink = nullptr;
};
