#include "output/RecordingController.h"

#include <QFileInfo>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "capture/FrameStore.h"
#include "contracts/Image.h"
#include "output/Snapshot.h"
#include "settings/Texts.h"

RecordingController::RecordingController(FrameStore& frames, const Texts& texts, QObject* parent)
    : QObject(parent), m_frames(frames), m_texts(texts) {
    m_timerRecordStatus = new QTimer(this);
    m_timerRecordStatus->setInterval(1000);
    connect(m_timerRecordStatus, &QTimer::timeout, this, &RecordingController::OnRecordStatusTimer);
    m_timerRecordFrame = new QTimer(this);
    m_timerRecordFrame->setInterval(34);
    m_timerRecordFrame->setTimerType(Qt::PreciseTimer);
    connect(m_timerRecordFrame, &QTimer::timeout, this, &RecordingController::OnRecordFrameTimer);

    // The first frame after a request opens the file, on the capture thread.
    m_frames.onRecorderStep = [this](int width, int height) {
        m_recorder.StartPendingRecording(width, height);
    };
    // The reports arrive on the GUI thread some time after the fact, when the recording they
    // speak of may have been stopped (Record pressed twice quickly) or followed by another: each
    // acts only on the recording in force.
    Recorder::Callbacks callbacks;
    callbacks.started = [this](uint64_t number) {
        QMetaObject::invokeMethod(
            this,
            [this, number] {
                if (!isInForce(number) || m_recorder.state() != RecordState::Running) {
                    return;
                }
                m_timerRecordStatus->start();
                m_timerRecordFrame->start();
                emit recordingChanged(true);
            },
            Qt::QueuedConnection);
    };
    callbacks.openFailed = [this](uint64_t number, int error) {
        QMetaObject::invokeMethod(
            this,
            [this, number, error] {
                if (!isInForce(number)) {
                    return;
                }
                // The failure's own text is looked up (and lands in the language file); the
                // reason goes to the status bar before the Record button returns to idle.
                const QString failed = m_texts.text("WndMessage", "NOVIDEO");
                Q_UNUSED(failed);
                ShowFailure(NotStartedText(error, m_recorder.fileName()));
                emit recordingChanged(false);
            },
            Qt::QueuedConnection);
    };
    callbacks.writeFailed = [this](uint64_t number) {
        QMetaObject::invokeMethod(
            this,
            [this, number] {
                if (isInForce(number)) {
                    EndFailedRecording();
                }
            },
            Qt::QueuedConnection);
    };
    m_recorder.setCallbacks(std::move(callbacks));
}

RecordingController::~RecordingController() {
    Finish();
    m_frames.onRecorderStep = nullptr;
}

void RecordingController::ApplyLanguageTexts() {
    m_strStartTime = m_texts.text("MainWnd", "STARTTIME");
    m_strTimeLen = m_texts.text("MainWnd", "TIMELEN");
}

void RecordingController::Snap(const QString& folder, const QDateTime& when) {
    const SnapshotResult result = TakeSnapshot(folder, when, m_frames);
    // The file name is shown either way; a short note says when no file was written.
    emit statusText(result.written ? result.fileName
                                   : result.fileName + m_texts.text("MainWnd", "SNAPFAILED"));
}

void RecordingController::ToggleRecording(const QString& folder) {
    if (!recording()) {
        if (m_recorder.Request(folder, QDateTime::currentDateTime())) {
            m_strRecordElapsed = ElapsedText(0);
            m_failure.clear();
        }
    } else {
        m_timerRecordFrame->stop();
        m_recorder.Stop();
        m_timerRecordStatus->stop();
        if (m_recorder.writeError() != 0) {
            ShowFailure(m_texts.text("MainWnd", "RECORDFAILED"));
        } else if (m_recorder.writtenFrames() > 0) {
            // A recording stopped before its first frame leaves no file to name.
            emit statusText(m_recorder.fileName());
        }
    }
    emit recordingChanged(recording());
}

bool RecordingController::RecordTo(const QString& fileName) {
    if (recording() || !m_recorder.RequestFile(fileName)) {
        return false;
    }
    m_strRecordElapsed = ElapsedText(0);
    m_failure.clear();
    emit recordingChanged(true);
    return true;
}

void RecordingController::SampleNow() {
    OnRecordFrameTimer();
}

QString RecordingController::NotStartedText(int error, const QString& fileName) const {
    QString reason;
    switch (error) {
        case 0:  // the encoder refused the picture
            reason = m_texts.text("WndMessage", "NOVIDEO");
            break;
        case ENOENT:
        case ENOTDIR:
            reason = m_texts.text("MainWnd", "RECNOFOLDER").arg(QFileInfo(fileName).path());
            break;
        case EACCES:
        case EPERM:
            reason = m_texts.text("MainWnd", "RECNOACCESS").arg(fileName);
            break;
        case EROFS:
            reason = m_texts.text("MainWnd", "RECREADONLY").arg(fileName);
            break;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            reason = m_texts.text("MainWnd", "RECDISKFULL").arg(fileName);
            break;
        default:
            // The system's own words for the rarer ones (in the locale's language).
            reason = fileName + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
            break;
    }
    return m_texts.text("MainWnd", "RECORDNOTSTARTED").arg(reason);
}

void RecordingController::ShowFailure(const QString& text) {
    m_failure = text;
    emit statusText(text);
}

void RecordingController::Finish() {
    const bool wasRecording = recording();
    StopRecordingTimers();
    m_recorder.Stop();
    if (wasRecording) {
        emit recordingChanged(false);
    }
}

bool RecordingController::timersActive() const {
    return m_timerRecordStatus->isActive() || m_timerRecordFrame->isActive();
}

bool RecordingController::isInForce(uint64_t number) const {
    return number == m_recorder.recordingNumber();
}

void RecordingController::EndFailedRecording() {
    StopRecordingTimers();
    m_recorder.Stop();
    ShowFailure(m_texts.text("MainWnd", "RECORDFAILED"));
    emit recordingChanged(false);
}

void RecordingController::OnRecordStatusTimer() {
    // A file removed while it is written (its folder deleted) would take every later frame
    // with it, unseen: the recording ends as a failed write instead.
    if (m_recorder.FileLost()) {
        EndFailedRecording();
        return;
    }
    emit statusText(
        RecordingStatus(m_strStartTime, m_recorder.startText(), m_strTimeLen, m_strRecordElapsed));
}

void RecordingController::OnRecordFrameTimer() {
    m_frames.readComposedImage([this](const Image& composed) {
        if (recording()) {
            m_recorder.SampleFrame(composed);
        }
    });
    m_strRecordElapsed = ElapsedText(m_recorder.elapsedMs());
}

void RecordingController::StopRecordingTimers() {
    m_timerRecordFrame->stop();
    m_timerRecordStatus->stop();
}
