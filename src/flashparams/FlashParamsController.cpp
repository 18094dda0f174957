#include "flashparams/FlashParamsController.h"

#include <QLoggingCategory>

#include "capture/Camera.h"
#include "capture/CaptureController.h"
#include "contracts/CameraController.h"
#include "display/Overlay.h"
#include "display/ViewTransform.h"
#include "flashparams/FlashParameterBlock.h"

Q_LOGGING_CATEGORY(lcFlashParams, "tavrel.flashparams")

FlashParamsController::FlashParamsController(CameraController& controller,
                                             CaptureController& capture, ViewTransform& view,
                                             Overlay& overlay, bool factoryMode)
    : m_controller(controller),
      m_capture(capture),
      m_view(view),
      m_overlay(overlay),
      m_bFactoryMode(factoryMode) {}

FlashParameters FlashParamsController::current() const {
    FlashParameters p;
    const StreamFormats& formats = m_capture.streamFormats();
    p.m_nResolutionIndex = formats.m_nResolutionIndex;
    p.m_bMjpgSelected = formats.m_bMjpgSelected;
    p.m_nPowerLineFreq = formats.m_nPowerLineFreq;
    p.m_fZoom = m_view.zoom();
    p.m_fPanX = m_view.panX();
    p.m_fPanY = m_view.panY();
    p.m_fViewZoom = m_view.viewZoom();
    p.overlay = m_overlay.settings();
    p.camera = m_capture.parameters();
    return p;
}

void FlashParamsController::LoadFlashParameters(Camera& source) {
    FlashParameters p = current();
    FlashParameterBlock block(m_controller);
    m_controller.ALC_Initialize();
    const int flag = block.ReadSavedFlag();
    block.ReadDefaultBlock(p);
    if (flag == 1) {
        block.ReadSavedBlock(p);
        // The saved picture values win over whatever the camera kept since.
        for (CameraProperty property :
             {CameraProperty::Brightness, CameraProperty::Contrast, CameraProperty::Saturation,
              CameraProperty::Hue, CameraProperty::Sharpness, CameraProperty::Gamma,
              CameraProperty::Gain, CameraProperty::WhiteBalance, CameraProperty::Exposure}) {
            if (source.hasProperty(property)) {
                p.camera.WriteProperty(source, property);
            }
        }
        if (source.hasPowerLineFrequency()) {
            source.setPowerLineFrequency(p.m_nPowerLineFreq == 1 ? 1 : 2);
        }
    } else {
        p.camera.ReadBack(source);
        long frequency = 0;
        const bool read =
            source.hasPowerLineFrequency() && source.getPowerLineFrequency(&frequency);
        p.m_nPowerLineFreq = read && frequency == 1 ? 1 : 2;
    }
    if (!m_bFactoryMode) {
        // Users see the mask but never the factory's crosshair.
        p.overlay.m_bMaskEnable = 1;
        p.overlay.m_bCrossEnable = 0;
    }
    m_controller.ALC_UnInitialize();

    StreamFormats& formats = m_capture.streamFormats();
    formats.m_nResolutionIndex = p.m_nResolutionIndex;
    formats.m_bMjpgSelected = p.m_bMjpgSelected;
    formats.m_nPowerLineFreq = p.m_nPowerLineFreq;
    m_capture.parameters() = p.camera;
    m_view.SetZoom(p.m_fZoom);
    m_view.SetViewZoom(p.m_fViewZoom);
    m_view.SetPan(p.m_fPanX, p.m_fPanY);
    m_overlay.setSettings(p.overlay);
}

FlashWrite FlashParamsController::Outcome() const {
    if (m_controller.flashKept()) {
        return FlashWrite::Written;
    }
    qCWarning(lcFlashParams) << "the camera's parameter block could not be kept in its flash";
    return FlashWrite::Failed;
}

FlashWrite FlashParamsController::WriteSavedBlockBasic() {
    Camera* source = m_capture.captureGraph().source();
    if (source == nullptr || !m_capture.hasPicture()) {
        return FlashWrite::Skipped;
    }
    CameraParameters& parameters = m_capture.parameters();
    for (CameraProperty property : {CameraProperty::Brightness, CameraProperty::Contrast,
                                    CameraProperty::Saturation, CameraProperty::Hue}) {
        long value = 0;
        long flags = 0;
        if (source->getProperty(property, &value, &flags)) {
            parameters.setValue(property, value);
        }
    }
    FlashParameterBlock(m_controller).WriteBasic(current());
    return Outcome();
}

void FlashParamsController::WriteSavedBlockFull(FlashParameters& p) {
    Camera* source = m_capture.captureGraph().source();
    if (source == nullptr || !m_capture.hasPicture()) {
        return;
    }
    CameraParameters& parameters = m_capture.parameters();
    parameters.ReadBack(*source);
    p.camera = parameters;
    FlashParameterBlock(m_controller).WriteFull(p);
}

FlashWrite FlashParamsController::OnSaveParameters() {
    if (!m_capture.hasSource()) {
        return FlashWrite::Skipped;
    }
    FlashParameters p = current();
    FlashParameterBlock block(m_controller);
    m_controller.ALC_Initialize();
    m_controller.ALC_SetFlashSize(CameraController::kFlashSize);
    block.WriteSavedFlag(1);
    WriteSavedBlockFull(p);
    m_controller.ALC_UnInitialize();
    return Outcome();
}

FlashWrite FlashParamsController::OnRestoreParameters() {
    if (!m_capture.hasSource()) {
        return FlashWrite::Skipped;
    }
    FlashParameterBlock(m_controller).WriteSavedFlag(0);
    return Outcome();
}
