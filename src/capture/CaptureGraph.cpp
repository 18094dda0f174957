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
    if (!m_source || !m_source->open()) {
        qCWarning(lcGraph) << "cannot open camera" << camera.devNode;
        Fail(QStringLiteral("NOOPENSOURCE"));
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
    if (!m_source->prepare()) {
        qCWarning(lcGraph) << "cannot prepare streaming on" << m_source->id().devNode;
        Fail(QStringLiteral("NOPREVIEW"));
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
    if (!m_source->start(&m_frameSink)) {
        qCWarning(lcGraph) << "cannot start streaming on" << m_source->id().devNode;
        Fail(QStringLiteral("CONNOTPREVIEW"));
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

void CaptureGraph::Fail(const QString& key) {
    m_failureKey = key;
    m_failureError = m_source ? m_source->lastError() : 0;
}

void CaptureGraph::ClearFailure() {
    m_failureKey.clear();
    m_failureError = 0;
}
