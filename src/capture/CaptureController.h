#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "capture/CameraParameters.h"
#include "capture/CaptureGraph.h"
#include "capture/FrameIntake.h"
#include "capture/StreamFormats.h"

class CameraSystem;
class FrameStore;
class QTimer;

// Why the window shows no live picture, as far as the camera layer can tell.
enum class PictureProblem {
    None,          // a picture comes, or is about to (or no camera was chosen yet)
    NoCamera,      // the chosen camera cannot be opened (gone, or not a camera)
    Busy,          // another program holds the camera (EBUSY)
    NoPermission,  // the user may not open the device (EACCES, EPERM)
    NoFormat,      // the camera offers no picture format the program can show
    NoFrames,      // streaming, but no frame came for the frame timeout, even after a restart
    Removed,       // the camera was unplugged (CameraRemoved)
};

// The open camera: choosing it, building, rendering, running, stopping and freeing its capture
// graph, the stream formats and the format choice, the power-line frequency, the camera
// parameter set and the still trigger. The main window owns one and routes the camera commands
// to it.
//
// It reports through signals and never shows text: a failure names the key of its text in the
// language files' "WndMessage" section, and problem() says why there is no picture. Signals are
// emitted on the GUI thread; the two that start on a camera thread (firstFrame,
// stillButtonPressed) are posted there by this class.
//
// A watchdog follows a running stream: when no frame arrives for frameTimeout() (5 s), the
// camera is opened again once by itself, keeping what is in force (ReopenInForce); when it
// still sends nothing, problem() becomes NoFrames until a frame comes.
//
// GUI thread only. The camera system and the frame store are borrowed and must outlive it; the
// destructor stops and frees the graph, so no camera thread runs afterwards.
class CaptureController : public QObject {
    Q_OBJECT
public:
    CaptureController(CameraSystem& cameras, FrameStore& frames, QObject* parent = nullptr);
    ~CaptureController() override;

    // Opens `camera` and, while the preview is wanted, starts it. The camera already open stays
    // as it is (no stop, no rebuild).
    void ChooseDevice(const CameraId& camera);
    // Closes the chosen camera and opens it again as a new build reads it (Play on a camera
    // that shows no picture, Restore): the stored parameters are read again.
    void StartOver();
    // Closes the chosen camera and opens it again as it is in force, for a restart the user did
    // not ask for (the watchdog's): the stream format the camera had is set again and the
    // power-line frequency sent again; neither loadParameters nor the parameter set's read-back
    // runs, so the parameter set and whatever the owner keeps stay as they are.
    void ReopenInForce();
    // None -> Built: opens the chosen camera, reads its stored parameters (loadParameters) and
    // its formats, and applies the stored stream choice and power-line frequency.
    bool BuildCaptureGraph();
    bool RenderPreview();
    bool StartPreview();
    bool StopPreview();
    void TearDownGraph();
    void FreeCaptureFilters();
    // The open camera was unplugged: the graph is stopped, torn down and freed, and problem()
    // is Removed. The chosen camera, the wanted preview state and the last picture stay, so
    // that the camera can be opened again as it was when it comes back.
    void CameraRemoved();

    // Play / Stop: whether the live picture is wanted. Toggles it for an open camera and starts
    // or stops the stream; returns false, changing nothing, without an open camera.
    bool TogglePreview();
    bool wantPreview() const { return m_bWantPreview; }

    // A resolution command: entry `index` of the MJPG or the uncompressed list. False when the
    // list has no such entry.
    bool ChooseResolution(bool mjpg, int index);
    // The camera's first capability, whatever its size (and kind, on a camera without
    // uncompressed formats).
    void Choose640x480();
    // 1 = 50 Hz, 2 = 60 Hz. Sent only once a frame has arrived and when the camera has the
    // control; false otherwise.
    bool SetPowerLineFrequency(int value);

    // The camera parameter set. Building the graph reads it (see loadParameters); the
    // property dialog fills, applies and reverts it through the open camera.
    CameraParameters& parameters() { return m_parameters; }
    const CameraParameters& parameters() const { return m_parameters; }
    // Switches the open camera between automatic and manual exposure (gain follows). False,
    // changing nothing, without an open camera or when it has no exposure control.
    bool ToggleExposureAuto();

    // Reads the camera's stored parameters into the stream choice, the power-line frequency and
    // the parameter set (and whatever else the owner keeps) while the graph is built: once the
    // camera is open, before its formats are read and one is chosen. Without it the build reads
    // the parameter set from the camera.
    std::function<void(Camera& source)> loadParameters;

    // Asks for firstFrame when the next frame arrives (the window has no picture to act on).
    void RequestFrameNotice() { m_frameNoticeWanted = true; }

    PictureProblem problem() const { return m_problem; }
    std::chrono::milliseconds frameTimeout() const { return m_frameTimeout; }
    void setFrameTimeout(std::chrono::milliseconds timeout) { m_frameTimeout = timeout; }

    // Whether a camera is open (the graph's source exists).
    bool hasSource() const { return m_graph.source() != nullptr; }
    // Whether a camera picture exists: a frame has arrived.
    bool hasPicture() const;

    const CameraId& camera() const { return m_pVideoMoniker; }
    CaptureGraph& captureGraph() { return m_graph; }
    const CaptureGraph& captureGraph() const { return m_graph; }
    StreamFormats& streamFormats() { return m_formats; }
    const StreamFormats& streamFormats() const { return m_formats; }
    FrameIntake& frameIntake() { return m_intake; }
    // The current format of the open camera; empty without one.
    CameraFormat currentFormat() const;

signals:
    // An operation failed; `key` names its text ("NOOPENSOURCE", "CONNOTPREVIEW", …).
    void failure(const QString& key);
    // The stream size is now width x height (a format was applied).
    void videoSizeChanged(int width, int height);
    // The resolution lists were read anew and a format chosen: rebuild the menus.
    void formatsChanged();
    // A resolution was chosen: the picture is gone until the next frame.
    void pictureCleared();
    // A resolution command chose entry `index` of the MJPG or the uncompressed list.
    void resolutionChosen(bool mjpg, int index);
    // The power-line frequency setting changed or was read (streamFormats().m_nPowerLineFreq).
    void powerLineFrequencyChanged();
    // The exposure mode in parameters() was read from the camera or switched.
    void exposureModeChanged();
    // StartPreview was called: before anything else, and whatever it then does.
    void previewStarting();
    // The stream runs now (it was not running before).
    void previewStarted();
    // The stream was stopped.
    void previewStopped();
    // A frame arrived after RequestFrameNotice().
    void firstFrame();
    // The camera's snapshot button took a shot, at `when` (the moment of the press).
    void stillButtonPressed(const QDateTime& when);
    // problem() was set (also to the value it had).
    void problemChanged();
    // The streaming camera's device is gone (its capture thread ended by itself); once per
    // opening of the camera.
    void cameraLost();

private:
    // What a graph build reads: the stored parameters (a build the user asked for) or nothing,
    // keeping the stream format and parameters in force (a restart of the camera's own).
    enum class GraphBuild { ReadStored, KeepInForce };
    void OpenDevice(GraphBuild build = GraphBuild::ReadStored);
    bool BuildGraph(GraphBuild build, const CameraFormat& inForce);
    // Sets inForce, when it is a format, else the stored stream choice.
    void EnumerateResolutions(const CameraFormat& inForce = CameraFormat());
    void ApplyFormat(const CameraFormat& format);
    void VideoSizeFromCamera();
    void SetProblem(PictureProblem problem);
    // The problem behind the graph's last failure; `otherwise` when its error says nothing.
    PictureProblem ProblemFromFailure(PictureProblem otherwise) const;
    void OnWatchdog();

    FrameStore& m_frames;
    FrameIntake m_intake;
    CaptureGraph m_graph;
    StreamFormats m_formats;
    CameraParameters m_parameters;
    CameraId m_pVideoMoniker;
    bool m_bWantPreview = true;
    PictureProblem m_problem = PictureProblem::None;
    // Set by the GUI thread, consumed by the capture thread's first frame after it.
    std::atomic<bool> m_frameNoticeWanted{true};
    // Frames that reached the store (capture thread), read by the watchdog.
    std::atomic<uint64_t> m_framesStored{0};

    // The watchdog (GUI thread): runs while the stream runs.
    QTimer* m_watchdog = nullptr;
    std::chrono::milliseconds m_frameTimeout{5000};
    uint64_t m_framesSeen = 0;
    std::chrono::steady_clock::time_point m_lastFrameAt;
    bool m_restartedQuietStream = false;  // the watchdog's one restart is spent
    bool m_lostReported = false;          // cameraLost was emitted for this opening
};
