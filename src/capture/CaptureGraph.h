#pragma once

#include <QString>
#include <memory>

#include "capture/Camera.h"

class CameraSystem;

// The capture graph of one camera: the device, its frame delivery and its snapshot-button
// source, through the stages callers drive one by one.
//
// States and transitions:
//   None     --build()-->   Built     device open, frame sink attached, formats known
//   Built    --render()-->  Rendered  buffers requested and mapped, snapshot-button source open
//   Rendered --run()-->     Running   streaming, the capture thread delivers frames
//   Running  --stop()-->    Rendered
//   Rendered --tearDown()-> Built     (also the way to change the stream format)
//   any      --free()-->    None
// A camera that vanishes while running stays in its state until the owner tears it down; its
// capture thread has already ended by then.
//
// Failures name the key of the failure text in the language files ("WndMessage" section);
// the owner looks it up. GUI thread only. The camera's frames reach the sink on the camera's
// capture thread.
class CaptureGraph {
public:
    enum class State { None, Built, Rendered, Running };

    CaptureGraph(CameraSystem& cameras, FrameSink& frameSink, StillSink& stillSink);
    ~CaptureGraph();
    CaptureGraph(const CaptureGraph&) = delete;
    CaptureGraph& operator=(const CaptureGraph&) = delete;

    State state() const { return m_state; }
    // The open camera (the graph's source), null in state None.
    Camera* source() const { return m_source.get(); }
    // The camera's name as shown to the user; cut to 119 characters.
    const QString& deviceName() const { return m_deviceName; }
    // Key of the last failure, empty when the last operation succeeded.
    const QString& failureKey() const { return m_failureKey; }
    // The system error (errno) of the camera call behind the last failure; 0 when unknown or
    // none.
    int failureError() const { return m_failureError; }

    // None -> Built. On failure ("NOOPENSOURCE") the graph is freed and stays None.
    bool build(const CameraId& camera);
    // Built -> Rendered. True at once when already rendered; false when running or not built.
    bool render();
    // Rendered -> Running. True at once when running.
    bool run();
    // Running -> Rendered. False when not running.
    bool stop();
    // Rendered -> Built (stops first when running).
    void tearDown();
    // Any -> None: closes the camera.
    void free();

    static constexpr int kMaxDeviceNameChars = 119;

private:
    // Records the failure `key` with the error of the camera call that failed.
    void Fail(const QString& key, const CameraResult& result);
    void ClearFailure();

    CameraSystem& m_cameras;
    FrameSink& m_frameSink;
    StillSink& m_stillSink;
    std::unique_ptr<Camera> m_source;
    QString m_deviceName;
    QString m_failureKey;
    int m_failureError = 0;
    State m_state = State::None;
};
