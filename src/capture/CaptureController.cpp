#include "capture/CaptureController.h"

#include <QLoggingCategory>
#include <QTimer>
#include <cerrno>

#include "capture/CameraSystem.h"
#include "capture/FrameStore.h"

Q_LOGGING_CATEGORY(lcCaptureController, "tavrel.capture.controller")

CaptureController::CaptureController(CameraSystem& cameras, FrameStore& frames, QObject* parent)
    : QObject(parent),
      m_frames(frames),
      m_intake(frames),
      m_graph(cameras, m_intake, m_intake.cameraButton()) {
    m_intake.hasSource = [this] { return hasSource(); };
    // The camera's button arrives on a camera thread; the snapshot itself runs on the GUI
    // thread (it shows its file name), stamped with the moment of the press.
    m_intake.takeSnapshot = [this] {
        const QDateTime when = QDateTime::currentDateTime();
        QMetaObject::invokeMethod(
            this, [this, when] { emit stillButtonPressed(when); }, Qt::QueuedConnection);
    };
    // Only the first frame after a request is told to the GUI thread: the commands' states
    // change with it, not with every frame.
    m_intake.frameStored = [this] {
        m_framesStored.fetch_add(1, std::memory_order_relaxed);
        // Read first: the exchange would write the shared flag with every frame.
        if (m_frameNoticeWanted.load(std::memory_order_relaxed) &&
            m_frameNoticeWanted.exchange(false)) {
            QMetaObject::invokeMethod(
                this, [this] { emit firstFrame(); }, Qt::QueuedConnection);
        }
    };
    m_watchdog = new QTimer(this);
    m_watchdog->setInterval(250);
    connect(m_watchdog, &QTimer::timeout, this, &CaptureController::OnWatchdog);
}

CaptureController::~CaptureController() {
    // The owner has normally closed the camera already; nobody listens any more.
    blockSignals(true);
    StopPreview();
    TearDownGraph();
    FreeCaptureFilters();
}

bool CaptureController::hasPicture() const {
    return m_frames.hasCurrentImage();
}

CameraFormat CaptureController::currentFormat() const {
    const Camera* camera = m_graph.source();
    return camera ? camera->currentFormat() : CameraFormat();
}

void CaptureController::ChooseDevice(const CameraId& camera) {
    if (m_pVideoMoniker.isValid() && m_pVideoMoniker == camera && hasSource()) {
        return;  // the camera already chosen: no stop, no rebuild
    }
    m_pVideoMoniker = camera;
    OpenDevice();
}

void CaptureController::StartOver() {
    if (m_pVideoMoniker.isValid()) {
        OpenDevice();
    }
}

void CaptureController::ReopenInForce() {
    if (m_pVideoMoniker.isValid()) {
        OpenDevice(GraphBuild::KeepInForce);
    }
}

void CaptureController::OpenDevice(GraphBuild build) {
    // The stream the camera has now, to be set again on the camera opened anew.
    const CameraFormat inForce =
        build == GraphBuild::KeepInForce ? currentFormat() : CameraFormat();
    // Told once the camera is open (or has failed), not in between, when no camera is open.
    m_problem = PictureProblem::None;
    m_restartedQuietStream = false;
    m_lostReported = false;
    if (m_graph.state() == CaptureGraph::State::Running) {
        StopPreview();
    }
    if (m_graph.state() == CaptureGraph::State::Rendered) {
        TearDownGraph();
    }
    FreeCaptureFilters();
    BuildGraph(build, inForce);
    if (m_bWantPreview) {
        RenderPreview();
        StartPreview();
    }
    emit problemChanged();
}

bool CaptureController::BuildCaptureGraph() {
    return BuildGraph(GraphBuild::ReadStored, CameraFormat());
}

bool CaptureController::BuildGraph(GraphBuild build, const CameraFormat& inForce) {
    if (!m_pVideoMoniker.isValid() || !m_graph.build(m_pVideoMoniker)) {
        const PictureProblem problem = ProblemFromFailure(PictureProblem::NoCamera);
        emit failure(QStringLiteral("NOOPENSOURCE"));
        FreeCaptureFilters();
        SetProblem(problem);
        return false;
    }
    if (build == GraphBuild::ReadStored) {
        if (loadParameters) {
            loadParameters(*m_graph.source());
        } else {
            // The set starts as the camera is, so the toolbar shows the camera's exposure mode
            // (most start automatic) and a Cancel in the property dialog puts back what the
            // camera had, sharpness included.
            m_parameters.ReadBack(*m_graph.source());
        }
    }
    m_formats.setCapabilities(m_graph.source()->formats());
    if (m_formats.capabilities().empty()) {
        // No format to choose from: the build goes on without a stream choice.
        emit failure(QStringLiteral("NOSUPPORT"));
        SetProblem(PictureProblem::NoFormat);
    } else {
        EnumerateResolutions(inForce);
    }
    SetPowerLineFrequency(m_formats.m_nPowerLineFreq == 1 ? 1 : 2);
    emit powerLineFrequencyChanged();
    emit exposureModeChanged();
    return true;
}

void CaptureController::EnumerateResolutions(const CameraFormat& inForce) {
    const std::optional<CameraFormat> format =
        inForce.width > 0 ? std::optional(inForce) : m_formats.selectedFormat();
    if (format) {
        // Another program streaming from the camera refuses the format (EBUSY).
        const CameraResult applied = m_graph.source()->setFormat(*format);
        if (!applied && applied.error() == EBUSY) {
            SetProblem(PictureProblem::Busy);
        }
    }
    VideoSizeFromCamera();
    emit formatsChanged();
}

void CaptureController::VideoSizeFromCamera() {
    const CameraFormat current = currentFormat();
    if (current.width > 0 && current.height > 0) {
        emit videoSizeChanged(current.width, current.height);
    }
}

bool CaptureController::RenderPreview() {
    if (m_graph.state() == CaptureGraph::State::Rendered) {
        return true;
    }
    if (!m_graph.render()) {
        if (!m_graph.failureKey().isEmpty()) {
            emit failure(m_graph.failureKey());
            SetProblem(ProblemFromFailure(PictureProblem::NoFrames));
        }
        return false;
    }
    return true;
}

bool CaptureController::StartPreview() {
    emit previewStarting();
    if (m_graph.state() == CaptureGraph::State::Running) {
        return true;
    }
    if (m_graph.state() != CaptureGraph::State::Rendered) {
        return false;
    }
    if (!m_graph.run()) {
        emit failure(QStringLiteral("CONNOTPREVIEW"));
        SetProblem(ProblemFromFailure(PictureProblem::NoFrames));
        return false;
    }
    m_framesSeen = m_framesStored.load();
    m_lastFrameAt = std::chrono::steady_clock::now();
    m_watchdog->start();
    m_intake.setPreviewRunning(true);
    emit previewStarted();
    return true;
}

bool CaptureController::StopPreview() {
    if (m_graph.state() != CaptureGraph::State::Running) {
        return false;
    }
    m_watchdog->stop();
    m_intake.setPreviewRunning(false);
    m_graph.stop();
    emit previewStopped();
    return true;
}

void CaptureController::TearDownGraph() {
    m_graph.tearDown();
}

void CaptureController::FreeCaptureFilters() {
    m_watchdog->stop();
    m_graph.free();
}

void CaptureController::CameraRemoved() {
    StopPreview();
    TearDownGraph();
    FreeCaptureFilters();
    SetProblem(PictureProblem::Removed);
}

bool CaptureController::TogglePreview() {
    // A camera that is open but paused without a picture (a format chosen while paused) is
    // started too; otherwise nothing could ever start it again.
    if (!hasSource() || (!hasPicture() && m_bWantPreview)) {
        return false;
    }
    m_bWantPreview = !m_bWantPreview;
    if (m_bWantPreview) {
        RenderPreview();
        StartPreview();
    } else {
        StopPreview();
    }
    return true;
}

void CaptureController::ApplyFormat(const CameraFormat& format) {
    if (!hasSource()) {
        return;
    }
    if (m_bWantPreview) {
        StopPreview();
    }
    if (m_graph.state() == CaptureGraph::State::Rendered) {
        TearDownGraph();
    }
    if (m_graph.source()->setFormat(format)) {
        VideoSizeFromCamera();
    }
    m_frames.DeleteCurrentImage();
    emit pictureCleared();
    if (m_bWantPreview) {
        RenderPreview();
        StartPreview();
    }
}

bool CaptureController::ChooseResolution(bool mjpg, int index) {
    const auto format = m_formats.formatAt(mjpg, index);
    if (!format) {
        return false;
    }
    m_intake.ResetStillTrigger();
    m_formats.m_bMjpgSelected = mjpg;
    ApplyFormat(*format);
    m_formats.m_nResolutionIndex = index;
    m_intake.ResetStillTrigger();
    emit resolutionChosen(mjpg, index);
    return true;
}

void CaptureController::Choose640x480() {
    m_intake.ResetStillTrigger();
    m_formats.m_bMjpgSelected = false;
    if (!m_formats.capabilities().empty()) {
        ApplyFormat(m_formats.capabilities().front());
    }
    m_intake.ResetStillTrigger();
    m_formats.m_nResolutionIndex = 0;
    emit resolutionChosen(false, 0);
}

bool CaptureController::SetPowerLineFrequency(int value) {
    Camera* camera = m_graph.source();
    if (!camera || !hasPicture() || !camera->hasPowerLineFrequency()) {
        return false;  // before the first frame the setting is not sent
    }
    camera->setPowerLineFrequency(value);
    m_formats.m_nPowerLineFreq = value;
    emit powerLineFrequencyChanged();
    return true;
}

bool CaptureController::ToggleExposureAuto() {
    Camera* camera = m_graph.source();
    if (!camera || !m_parameters.ToggleExposureAuto(*camera)) {
        return false;
    }
    emit exposureModeChanged();
    return true;
}

void CaptureController::SetProblem(PictureProblem problem) {
    m_problem = problem;
    emit problemChanged();
}

PictureProblem CaptureController::ProblemFromFailure(PictureProblem otherwise) const {
    switch (m_graph.failureError()) {
        case EBUSY:
            return PictureProblem::Busy;
        case EACCES:
        case EPERM:
            return PictureProblem::NoPermission;
        default:
            return otherwise;
    }
}

void CaptureController::OnWatchdog() {
    if (m_graph.state() != CaptureGraph::State::Running) {
        m_watchdog->stop();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const uint64_t frames = m_framesStored.load();
    if (frames != m_framesSeen) {
        m_framesSeen = frames;
        m_lastFrameAt = now;
        m_restartedQuietStream = false;
        if (m_problem != PictureProblem::None) {
            SetProblem(PictureProblem::None);
        }
        return;
    }
    if (m_graph.source() && m_graph.source()->isLost()) {
        // The device went away under the stream. Told once; the owner decides whether the
        // camera is gone (it normally hears of it from the device events as well).
        if (!m_lostReported) {
            m_lostReported = true;
            emit cameraLost();
        }
        return;
    }
    if (now - m_lastFrameAt < m_frameTimeout) {
        return;
    }
    if (!m_restartedQuietStream) {
        // A stream that went quiet is started over once, as a stuck camera often recovers
        // from being opened again.
        qCInfo(lcCaptureController) << "no frame from" << m_pVideoMoniker.devNode << "for"
                                    << m_frameTimeout.count() << "ms: opening it again";
        ReopenInForce();
        m_restartedQuietStream = true;
        return;
    }
    if (m_problem != PictureProblem::NoFrames) {
        qCWarning(lcCaptureController) << "still no frame from" << m_pVideoMoniker.devNode;
        SetProblem(PictureProblem::NoFrames);
    }
}
