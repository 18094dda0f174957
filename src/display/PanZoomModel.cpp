#include "display/PanZoomModel.h"

#include <algorithm>

#include "display/ViewTransform.h"

QString PercentReadout(float fraction) {
    return QString::asprintf("%6.1f%%", double(fraction * 100.0f));
}

PanZoomModel::PanZoomModel(ViewTransform& view) : m_view(view) {
    const float w = float(videoWidth());
    const float h = float(videoHeight());
    m_nPosX = int((m_view.panX() + 1.0f) * w * 0.5f);
    m_nPosY = int((m_view.panY() + 1.0f) * h * 0.5f);
    m_nBarX = m_nPosX;
    m_nBarY = m_nPosY;
    const ViewTransform::PanState s = m_view.panState();
    UpdatePanReadouts(s.centerX, s.centerY, s.viewZoom);
}

float PanZoomModel::viewZoom() const {
    return m_view.viewZoom();
}

int PanZoomModel::videoWidth() const {
    return m_view.videoWidth();
}

int PanZoomModel::videoHeight() const {
    return m_view.videoHeight();
}

int PanZoomModel::halfSide() const {
    return int(float(videoHeight()) / viewZoom() * 0.5f);
}

bool PanZoomModel::Scroll(bool horizontal, ScrollRequest request, int thumbPosition) {
    const int w0 = videoWidth();
    const int h0 = videoHeight();
    const int a = halfSide();
    int& bar = horizontal ? m_nBarX : m_nBarY;
    const int p = bar;
    int next = p;
    bool rejected = false;
    // The bounds keep the square inside the frame; they are not symmetric (a line step left
    // may end with the square on the first column, a step right may not reach the last).
    if (horizontal) {
        switch (request) {
            case ScrollRequest::LineBack:
                next = p > 1 ? p - 1 : p;
                rejected = next < a || next + a > w0 - 1;
                break;
            case ScrollRequest::LineForward:
                next = p < w0 - 1 ? p + 1 : p;
                rejected = next <= a || next + a > w0 - 1;
                break;
            case ScrollRequest::Thumb:
                next = thumbPosition;
                rejected = next <= a || next + a > w0 - 1;
                break;
            case ScrollRequest::Other:
                break;
        }
    } else {
        switch (request) {
            case ScrollRequest::LineBack:
                next = p > 1 ? p - 1 : p;
                rejected = next <= a;
                break;
            case ScrollRequest::LineForward:
                next = p < h0 - 1 ? p + 1 : p;
                rejected = a + next >= h0 - 1;
                break;
            case ScrollRequest::Thumb:
                next = thumbPosition;
                rejected = next < a || a + next > h0 - 1;
                break;
            case ScrollRequest::Other:
                break;
        }
    }
    if (rejected) {
        return false;
    }
    if (request != ScrollRequest::Other) {
        bar = next;
        (horizontal ? m_nPosX : m_nPosY) = next;
    }
    ViewTransform::PanState s = m_view.panState();
    if (horizontal) {
        s.centerX = m_nPosX;
    } else {
        s.centerY = h0 - m_nPosY;
    }
    UpdatePanReadouts(s.centerX, s.centerY, s.viewZoom);
    return true;
}

void PanZoomModel::ResetPan() {
    const int w0 = videoWidth();
    const int h0 = videoHeight();
    m_nPosX = m_nBarX = w0 / 2;
    m_nPosY = m_nBarY = h0 / 2;
    UpdatePanReadouts(w0 / 2, h0 / 2, viewZoom());
}

void PanZoomModel::ScaleUp() {
    const float z = std::min(float(double(viewZoom()) + 0.005), 4.0f);
    const ViewTransform::PanState s = m_view.panState();
    UpdatePanReadouts(s.centerX, s.centerY, z);
}

bool PanZoomModel::ScaleDown() {
    const int w0 = videoWidth();
    const int h0 = videoHeight();
    const int a = halfSide();
    if (m_nPosX - a < 0 || m_nPosY - a < 0 || m_nPosX + a > w0 || m_nPosY + a > h0) {
        return false;
    }
    const float z = std::max(float(double(viewZoom()) - 0.005), 1.0f);
    ViewTransform::PanState s = m_view.panState();
    // The larger square would pass an edge where the smaller one touched it: it moves in, so
    // that the view never shows the black beyond the frame.
    const int next = int(float(h0) / z * 0.5f);
    const auto inward = [](int pos, int half, int size) {
        return half * 2 > size ? size / 2 : std::clamp(pos, half, size - half);
    };
    // The frames' centre may stand a pixel off the shown position; both move in.
    // The shown position is raised to even afterwards; it must not pass the edge by that.
    const auto inwardEven = [&inward](int pos, int half, int size) {
        const int p = inward(pos, half, size);
        return p % 2 != 0 && p + 1 > size - half && p - 1 >= half ? p - 1 : p;
    };
    const int x = inwardEven(m_nPosX, next, w0);
    const int y = inwardEven(m_nPosY, next, h0);
    if (x != m_nPosX) {
        m_nPosX = m_nBarX = x;
    }
    if (y != m_nPosY) {
        m_nPosY = m_nBarY = y;
    }
    s.centerX = inward(s.centerX, next, w0);
    s.centerY = inward(s.centerY, next, h0);
    UpdatePanReadouts(s.centerX, s.centerY, z);
    return true;
}

bool PanZoomModel::ResetScale() {
    const int w0 = videoWidth();
    const int h0 = videoHeight();
    const int cx = int(float(w0) * 0.5f);
    const int cy = int(float(h0) * 0.5f);
    if (m_nPosX - cx < 0 || m_nPosY - cy < 0 || m_nPosX + cx > w0 || m_nPosY + cy > h0) {
        return false;
    }
    const ViewTransform::PanState s = m_view.panState();
    UpdatePanReadouts(s.centerX, s.centerY, 1.0f);
    return true;
}

void PanZoomModel::CentreOn(int x, int y, float zoom) {
    m_nPosX = m_nBarX = x;
    m_nPosY = m_nBarY = y;
    UpdatePanReadouts(x, videoHeight() - y, zoom);
}

void PanZoomModel::UpdatePanReadouts(int centerX, int centerY, float zoom) {
    if (m_nPosX % 2 != 0) {
        ++m_nPosX;
    }
    if (m_nPosY % 2 != 0) {
        ++m_nPosY;
    }
    const int cx = int(float(videoWidth()) * 0.5f);
    const int cy = int(float(videoHeight()) * 0.5f);
    m_fOffsetX = cx > 0 ? float(m_nPosX - cx) / float(cx) : 0.0f;
    m_fOffsetY = cy > 0 ? float(m_nPosY - cy) / float(cy) : 0.0f;
    m_view.SetPanState({m_fOffsetX, m_fOffsetY, centerX, centerY, zoom});
}
