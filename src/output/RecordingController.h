#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include "output/Recorder.h"

class FrameStore;
class QTimer;
class Texts;

// Snapshots and recordings of the picture exactly as the window shows it: the Snap and Record
// commands, the camera button's snapshot, the recording's two window timers (timer 1: the
// status text every second, and the check that the file still exists; timer 2: one sample of
// the composed picture every 34 ms) and the status text. The window owns one, checks each
// command's guard and routes it here.
//
// The recorder reports from the capture and encoder threads; this class posts those reports to
// the GUI thread itself and drops those about a recording no longer in force. Everything else
// runs on the GUI thread. The frame store and the texts are borrowed and must outlive it. The
// destructor finishes a running recording.
class RecordingController : public QObject {
    Q_OBJECT
public:
    RecordingController(FrameStore& frames, const Texts& texts, QObject* parent = nullptr);
    ~RecordingController() override;

    // Writes the composed picture into `folder` as a JPEG named after `when`, and shows the
    // file name (with a note when no file could be written).
    void Snap(const QString& folder, const QDateTime& when);
    // Record: asks for a recording into `folder` when none runs, otherwise ends it.
    void ToggleRecording(const QString& folder);
    // Asks for a recording into `fileName` (the command line's FILE) when none runs; false
    // when one is already requested or running.
    bool RecordTo(const QString& fileName);
    // A recording is requested or running.
    bool recording() const { return m_recorder.state() != RecordState::Idle; }
    // Ends a running recording with its trailer; the timers stop, and recordingChanged(false)
    // tells it when one was running. Idempotent.
    void Finish();
    // Hands the composed picture of this moment to a running recording, as the frame timer
    // does (the command line's last picture, so that even the shortest recording holds one).
    void SampleNow();
    // The text of the last failure shown in the status bar ("Recording could not be started:
    // …", "Recording stopped: write failed"); empty after a request until one happens.
    const QString& failureText() const { return m_failure; }
    // "Recording could not be started: <reason>" for the errno of a failed open of `fileName`
    // (0: the encoder refused), in the language in force.
    QString NotStartedText(int error, const QString& fileName) const;

    // Looks up the labels of the recording's status text in the language in force.
    void ApplyLanguageTexts();

    Recorder& recorder() { return m_recorder; }
    bool timersActive() const;

    // Labels of the status text of a running recording.
    QString m_strStartTime, m_strTimeLen;

signals:
    // A recording was asked for, or ended (also by a failure): the Record button and menu item.
    void recordingChanged(bool recording);
    // A note for the status bar's message pane.
    void statusText(const QString& text);

private:
    void OnRecordStatusTimer();  // timer 1
    void OnRecordFrameTimer();   // timer 2
    void StopRecordingTimers();
    // The recorder's report about `number` concerns the recording in force (not one already
    // stopped and followed by another request).
    bool isInForce(uint64_t number) const;
    // A recording that ended by a failed write (a full disk, its file removed): timers off, the
    // recorder idle, the failure in the status bar.
    void EndFailedRecording();
    void ShowFailure(const QString& text);

    FrameStore& m_frames;
    const Texts& m_texts;
    Recorder m_recorder;
    QTimer* m_timerRecordStatus = nullptr;
    QTimer* m_timerRecordFrame = nullptr;
    QString m_strRecordElapsed;
    QString m_failure;
};
