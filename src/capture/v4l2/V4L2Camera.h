#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/Camera.h"
#include "capture/DroppedFrames.h"
#include "capture/FrameDecoder.h"
#include "capture/v4l2/MappedBuffer.h"
#include "capture/v4l2/SnapshotButtonInput.h"
#include "capture/v4l2/V4L2Controls.h"
#include "platform/UniqueFd.h"

struct v4l2_buffer;

// A real camera behind a V4L2 video capture node, streaming through mmap buffers on one
// capture thread. Frames are decoded on that thread into bottom-up BGR and handed to the
// FrameSink; every driver buffer is requeued as soon as it is decoded, so nothing outside this
// class ever points into driver memory. The picture properties are V4L2Controls' job; this
// class answers them only while it is open.
//
// States (all transitions on the GUI thread):
//   Closed   --open()-->      Open      formats and controls known
//   Open     --prepare()-->   Prepared  buffers requested, mapped and queued; button open
//                                       and grabbed
//   Prepared --start()-->     Streaming capture thread running (start() prepares if needed)
//   Streaming --stop()-->     Prepared  thread joined, stream off
//   Prepared --unprepare()--> Open      buffers unmapped and released
//   any      --close()-->     Closed
// When the device disappears the capture thread ends by itself and isLost() turns true; the
// state stays Streaming until stop() or close(), which then release everything quietly.
class V4L2Camera final : public Camera {
public:
    explicit V4L2Camera(CameraId id);
    ~V4L2Camera() override;
    V4L2Camera(const V4L2Camera&) = delete;
    V4L2Camera& operator=(const V4L2Camera&) = delete;

    const CameraId& id() const override { return m_id; }

    CameraResult open() override;
    void close() override;
    bool isOpen() const override { return m_state != State::Closed; }

    std::vector<CameraFormat> formats() const override { return m_formats; }
    // Not while streaming. When buffers are prepared they are released and prepared again for
    // the new format.
    CameraResult setFormat(const CameraFormat& format) override;
    CameraFormat currentFormat() const override;

    CameraResult prepare() override;
    void unprepare() override;
    bool isPrepared() const override {
        return m_state == State::Prepared || m_state == State::Streaming;
    }

    CameraResult start(FrameSink* sink) override;
    void stop() override;
    bool isStreaming() const override { return m_state == State::Streaming && !m_lost; }
    bool isLost() const override { return m_lost; }

    // Once this returns, the previous sink is no longer called: the capture thread holds a lock
    // for the whole OnStillButton call, so the sink must not wait for the GUI thread. Presses
    // are delivered only while streaming; those made while the stream is stopped are dropped.
    void setStillSink(StillSink* sink) override;

    bool hasProperty(CameraProperty property) const override;
    bool getProperty(CameraProperty property, long* value, long* flags) const override;
    bool setProperty(CameraProperty property, long value, long flags) override;
    bool getPropertyRange(CameraProperty property, PropertyRange* range) const override;

    bool hasPowerLineFrequency() const override;
    bool getPowerLineFrequency(long* value) const override;
    bool setPowerLineFrequency(long value) override;

    CameraStats stats() const override;

private:
    enum class State { Closed, Open, Prepared, Streaming };

    // The format the buffers were prepared for; fixed while prepared and read by the capture
    // thread without a lock (it only changes while no thread runs).
    struct StreamFormat {
        uint32_t pixelFormat = 0;
        int width = 0;
        int height = 0;
        size_t bytesPerLine = 0;
    };

    int xioctl(unsigned long request, void* arg) const;
    // Logs a failed call once per kind of failure.
    void logOnce(const char* what, int error) const;
    // Logs a failed device call once and returns it as the failure of the operation.
    CameraResult fail(const char* what, int error) const;

    void enumerateFormats();
    double chooseFrameRate(uint32_t pixelFormat, uint32_t width, uint32_t height) const;
    void setFrameRate(double fps);
    double currentFrameRate() const;
    CameraResult readStreamFormat(StreamFormat* format) const;

    CameraResult queueAllBuffers();
    void releaseBuffers();

    void captureLoop(FrameSink* sink);
    bool handleBuffer(FrameDecoder& decoder, FrameSink* sink);
    // One VIDIOC_DQBUF / VIDIOC_QBUF; false when no buffer is ready or the camera is gone (then
    // marked lost).
    bool dequeue(v4l2_buffer& buf);
    bool requeue(v4l2_buffer& buf);
    void markLost(const char* what, int error);

    CameraId m_id;
    State m_state = State::Closed;
    UniqueFd m_fd;
    UniqueFd m_wakeFd;  // eventfd that wakes the capture thread for stop()
    std::vector<CameraFormat> m_formats;
    V4L2Controls m_controls{[this](const char* what, int error) { logOnce(what, error); }};

    std::vector<MappedBuffer> m_buffers;  // index = V4L2 buffer index
    bool m_buffersQueued = false;         // all buffers handed to the driver (before STREAMON)
    StreamFormat m_stream;
    SnapshotButtonInput m_button;

    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_lost{false};
    std::atomic<uint64_t> m_framesDelivered{0};
    std::atomic<uint64_t> m_framesSkipped{0};
    DroppedFrames m_framesDropped;

    // Protects m_stillSink; held by the capture thread for the whole OnStillButton call.
    std::mutex m_stillMutex;
    StillSink* m_stillSink = nullptr;

    // Protects m_loggedFailures: failures already logged, "what:errno".
    mutable std::mutex m_logMutex;
    mutable std::set<std::string> m_loggedFailures;
};
