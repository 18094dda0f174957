#include "display/ViewTransform.h"

#include "capture/FrameStore.h"

float ZoomInStep(float zoom) {
    if (zoom >= 2.0f) {
        return zoom;
    }
    return zoom + 0.1f;
}

float ZoomOutStep(float zoom) {
    const float next = zoom - 0.1f;
    return next <= 1.0f ? 1.0f : next;
}

int ZoomPercent(float zoom) {
    return int(zoom * 100.0f);
}

float ViewTransform::zoom() const {
    return m_frames.transform().m_fZoom;
}

bool ViewTransform::ZoomIn() {
    if (zoom() >= 2.0f) {
        return false;
    }
    m_frames.updateTransform([](TransformState& t) { t.m_fZoom = ZoomInStep(t.m_fZoom); });
    return true;
}

void ViewTransform::ZoomOut() {
    m_frames.updateTransform([](TransformState& t) { t.m_fZoom = ZoomOutStep(t.m_fZoom); });
}

void ViewTransform::ResetZoom() {
    m_frames.updateTransform([](TransformState& t) { t.m_fZoom = 1.0f; });
}

void ViewTransform::SetZoom(float zoom) {
    m_frames.updateTransform([zoom](TransformState& t) { t.m_fZoom = zoom; });
}

float ViewTransform::viewZoom() const {
    return m_frames.transform().m_fViewZoom;
}

void ViewTransform::SetViewZoom(float viewZoom) {
    m_frames.updateTransform([viewZoom](TransformState& t) { t.m_fViewZoom = viewZoom; });
}

void ViewTransform::SetPan(float panX, float panY) {
    m_fPanX = panX;
    m_fPanY = panY;
    RecomputePanCentre();
}

ViewTransform::PanState ViewTransform::panState() const {
    const TransformState t = m_frames.transform();
    return PanState{m_fPanX, m_fPanY, t.m_nCenterX, t.m_nCenterY, t.m_fViewZoom};
}

void ViewTransform::SetPanState(const PanState& state) {
    m_fPanX = state.panX;
    m_fPanY = state.panY;
    m_frames.updateTransform([&state](TransformState& t) {
        t.m_nCenterX = state.centerX;
        t.m_nCenterY = state.centerY;
        t.m_fViewZoom = state.viewZoom;
    });
}

bool ViewTransform::hMirror() const {
    return m_frames.transform().m_bHMirror;
}

bool ViewTransform::vMirror() const {
    return m_frames.transform().m_bVMirror;
}

bool ViewTransform::ToggleMirror(bool horizontal) {
    bool on = false;
    m_frames.updateTransform([&](TransformState& t) {
        bool& flag = horizontal ? t.m_bHMirror : t.m_bVMirror;
        flag = !flag;
        on = flag;
    });
    return on;
}

void ViewTransform::ResetMirrors() {
    m_frames.updateTransform([](TransformState& t) {
        t.m_bHMirror = false;
        t.m_bVMirror = false;
    });
}

int ViewTransform::videoWidth() const {
    return m_frames.transform().m_nVideoWidth;
}

int ViewTransform::videoHeight() const {
    return m_frames.transform().m_nVideoHeight;
}

void ViewTransform::SetVideoSize(int width, int height) {
    m_frames.setVideoSize(width, height);
    RecomputePanCentre();
}

void ViewTransform::RecomputePanCentre() {
    m_frames.updateTransform([this](TransformState& t) {
        t.m_nCenterX = int((m_fPanX + 1.0f) * (float(t.m_nVideoWidth) * 0.5f));
        t.m_nCenterY =
            int(float(t.m_nVideoHeight) - (m_fPanY + 1.0f) * (float(t.m_nVideoHeight) * 0.5f));
    });
}

void ViewTransform::SetFactoryMode(bool factoryMode) {
    m_frames.updateTransform([factoryMode](TransformState& t) { t.factoryMode = factoryMode; });
}
