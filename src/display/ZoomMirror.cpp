#include "display/ZoomMirror.h"

#include "mainwnd/CommandIds.h"

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

std::array<int, 3> ZoomButtonIcons(float zoom) {
    if (zoom == 1.0f) {
        return {Icon::ZoomIn, Icon::ZoomOutDisabled, Icon::ZoomResetDisabled};
    }
    if (zoom == 4.0f) {
        return {Icon::ZoomIn, Icon::ZoomOut, Icon::ZoomReset};
    }
    return {Icon::ZoomInActive, Icon::ZoomOut, Icon::ZoomReset};
}

std::array<int, 3> MirrorButtonIcons(bool hMirror, bool vMirror) {
    return {hMirror ? Icon::HMirrorOn : Icon::HMirrorOff,
            vMirror ? Icon::VMirrorOn : Icon::VMirrorOff,
            hMirror || vMirror ? Icon::MirrorReset : Icon::MirrorResetDisabled};
}
