#include "capture/CaptureGraph.h"

#include <QLoggingCategory>

#include "capture/CameraSystem.h"

Q_LOGGING_CATEGORY(lcGraph, "tavrel.capture.graph")

CaptureGraph::CaptureGraph(CameraSystem& cameras, FrameSink& frameSink, StillSink& stillSink)
    : m_cameras(cameras), m_frameSink(frameSink), m_stillSink(stillSink) {}

CaptureGraph::~CaptureGraph() {
    free();
}

bool CaptureGraph::build(const CameraId& camera) {
    free();
    ClearFailure();
    m_deviceName = camera.cardName.left(kMaxDeviceNameChars);
    m_source = m_cameras.create(camera);
    const CameraResult opened = m_source ? m_source->open() : CameraResult::failure(0);
    if (!opened) {
        qCWarning(lcGraph) << "cannot open camera" << camera.devNode;
        Fail(QStringLiteral("NOOPENSOURCE"), opened);
        free();
        return false;
    }
    m_state = State::Built;
    return true;
}

bool CaptureGraph::render() {
    ClearFailure();
    if (m_state == State::Rendered) {
        return true;
    }
    if (m_state != State::Built || !m_source) {
        return false;
    }
    if (const CameraResult prepared = m_source->prepare(); !prepared) {
        qCWarning(lcGraph) << "cannot prepare streaming on" << m_source->id().devNode;
        Fail(QStringLiteral("NOPREVIEW"), prepared);
        return false;
    }
    // A camera without a snapshot button works without it; nothing to report.
    m_source->setStillSink(&m_stillSink);
    m_state = State::Rendered;
    return true;
}

bool CaptureGraph::run() {
    ClearFailure();
    if (m_state == State::Running) {
        return true;
    }
    if (m_state != State::Rendered) {
        return false;
    }
    if (const CameraResult started = m_source->start(&m_frameSink); !started) {
        qCWarning(lcGraph) << "cannot start streaming on" << m_source->id().devNode;
        Fail(QStringLiteral("CONNOTPREVIEW"), started);
        return false;
    }
    m_state = State::Running;
    return true;
}

bool CaptureGraph::stop() {
    ClearFailure();
    if (m_state != State::Running) {
        return false;
    }
    m_source->stop();
    m_state = State::Rendered;
    return true;
}

void CaptureGraph::tearDown() {
    if (m_state == State::Running) {
        stop();
    }
    if (m_state == State::Rendered) {
        m_source->setStillSink(nullptr);
        m_source->unprepare();
        m_state = State::Built;
    }
}

void CaptureGraph::free() {
    tearDown();
    if (m_source) {
        m_source->close();
        m_source.reset();
    }
    m_state = State::None;
}

void CaptureGraph::Fail(const QString& key, const CameraResult& result) {
    m_failureKey = key;
    m_failureError = result.error();
}

void CaptureGraph::ClearFailure() {
    m_failureKey.clear();
    m_failureError = 0;
}
