#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

#include "cli/CaptureRequest.h"
#include "device/DeviceTable.h"
#include "session/CameraLifecycle.h"
#include "session/CameraSession.h"

struct AppSettings;
class Camera;
class QEventLoop;
class QTextStream;
class QTimer;

// A capture without a window: lists the cameras, takes snapshots or records, over the same
// camera session the main window uses (discovery and support check, the capture controller with
// the camera's parameter memory, the display worker's composed picture, snapshot and recorder),
// so that a file holds exactly what the window would show with the same settings.
//
// File names (and the camera list) go to `out`, messages in the language in force to `err`.
// Run() returns the exit status. GUI thread only (a QCoreApplication suffices); the settings
// and the streams must outlive this object.
class HeadlessCapture : public QObject {
    Q_OBJECT
public:
    enum Status {
        kDone = 0,
        kNoPicture = 1,    // no camera, it could not be opened, or it sent no picture in time
        kUsage = 2,        // the camera does not offer the stream asked for
        kWriteFailed = 3,  // the output file could not be written
    };
    // How long the camera may take to deliver a picture (the first, and each of the warm-up).
    static constexpr int kFrameDeadlineMs = 10000;

    HeadlessCapture(const AppSettings& settings, CaptureRequest request, QTextStream& out,
                    QTextStream& err, QObject* parent = nullptr);
    ~HeadlessCapture() override;

    // Carries the request out, running an event loop until it is done; returns its status.
    int Run();
    // Ends the run early (a termination signal): a recording is finished with its trailer
    // and counts as done, as does a series with at least one snapshot written.
    void Stop();

private:
    int ListCameras();
    bool OpenCamera();
    // The camera's stream choice after the request (the capture graph's build calls it).
    void ChooseStream(Camera& source);
    void OnPoll();
    void OnDeadline();
    void TakeSnapshot();
    void StartRecording();
    void OnRecordingChanged(bool recording);
    void EndRecording();
    void OnCameraLost();
    // Why there is no picture, in the language in force.
    QString ProblemText() const;
    QString CameraText() const;
    QString SeriesFileName(int index) const;
    void Message(const QString& text);
    // A file name on standard output, unless standard output is that file.
    void PrintFileName(const QString& name);
    // Why the recording failed, for standard error.
    QString FailureText();
    void Finish(int status);

    const AppSettings& m_settings;
    const CaptureRequest m_request;
    QTextStream& m_out;
    QTextStream& m_err;
    QString m_saveFolder;

    DeviceTable m_devices;  // the support check's, outlives the session
    CameraSession m_session;
    CameraLifecycle m_life;  // finds and opens the camera as the window does

    QTimer* m_poll = nullptr;      // child: watches for the settled picture
    QTimer* m_deadline = nullptr;  // child: the frame deadline
    QTimer* m_next = nullptr;      // child: the next snapshot of a series, the recording's end
    QEventLoop* m_loop = nullptr;  // while Run() waits
    QElapsedTimer m_seriesClock;

    // The stream asked for is not offered: what the camera offers instead.
    bool m_streamMissing = false;
    QStringList m_offered;
    bool m_settled = false;
    int m_composedSeen = 0;  // pictures composed when the deadline last started
    bool m_fileIsStandardOutput = false;
    int m_shots = 0;  // snapshots written
    bool m_recordTimerStarted = false;
    bool m_ending = false;  // the recording is being finished on purpose
    bool m_finished = false;
    int m_status = kDone;
};
