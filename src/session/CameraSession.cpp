#include "session/CameraSession.h"

#include <QLoggingCategory>
#include <cerrno>

#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "device/CameraDiscovery.h"
#include "device/DeviceTable.h"
#include "device/SupportCheck.h"
#include "device/UsbDeviceSource.h"
#include "display/DisplayWorker.h"
#include "flashparams/FlashParamsController.h"
#include "output/RecordingController.h"
#include "output/SaveFolder.h"
#include "settings/AppSettings.h"
#include "settings/ProfileFile.h"

Q_LOGGING_CATEGORY(lcSession, "tavrel.session")

CameraSession::CameraSession(const AppSettings& settings, DeviceTable& devices)
    : m_settings(settings),
      m_recording(std::make_unique<RecordingController>(m_frameStore, settings.m_texts)),
      m_cameras(std::make_unique<CameraSystem>(settings.m_bVirtualCamera, settings.m_strDataRoot)),
      m_discovery(std::make_unique<CameraDiscovery>(*m_cameras, settings.m_strSettingFile,
                                                    settings.m_strDataRoot)),
      m_usbSource(std::make_unique<UdevUsbDeviceSource>(m_cameras.get())),
      m_support(std::make_unique<SupportCheck>(devices, *m_discovery, *m_usbSource)),
      m_camera(std::make_unique<CaptureController>(*m_cameras, m_frameStore)),
      m_flashParams(std::make_unique<FlashParamsController>(
          m_discovery->controller(), *m_camera, m_view, m_overlay, settings.m_bFactoryMode)) {
    m_view.SetFactoryMode(settings.m_bFactoryMode);
    // Every camera start reads the camera's parameter memory.
    m_camera->loadParameters = [this](Camera& source) {
        // A camera that another program streams refuses even the format it has (EBUSY): its
        // parameter memory is not pushed into it, so that nothing changes in a picture another
        // program shows. The capture controller then finds it busy.
        if (const CameraResult probe = source.setFormat(source.currentFormat());
            !probe && probe.error() == EBUSY) {
            qCInfo(lcSession) << source.id().devNode
                              << "is streamed by another program: its parameter memory is "
                                 "left unread";
            return;
        }
        m_flashParams->LoadFlashParameters(source);
        if (afterParametersLoaded) {
            afterParametersLoaded(source);
        }
    };
    // Connected before any owner's handlers, so that these run first.
    CaptureController* camera = m_camera.get();
    QObject::connect(camera, &CaptureController::videoSizeChanged, camera,
                     [this](int width, int height) { m_view.SetVideoSize(width, height); });
    QObject::connect(camera, &CaptureController::previewStarting, camera,
                     [this] { m_overlay.BuildOverlay(m_view.videoWidth(), m_view.videoHeight()); });
}

CameraSession::~CameraSession() {
    Close();
}

bool CameraSession::LoadSaveFolder() {
    const StoredSaveFolder stored =
        ReadSaveFolder(m_settings.m_strSettingFile, m_settings.m_strPicturesFolder);
    m_saveFolder = stored.folder;
    // Said once a session: the stored value stays in the file for the user to mend.
    if (stored.fellBack && !m_saveFolderNoted) {
        m_saveFolderNoted = true;
        return true;
    }
    return false;
}

void CameraSession::ChooseSaveFolder(const QString& folder) {
    m_saveFolder = WithTrailingSlash(folder);
    ProfileFile(m_settings.m_strSettingFile)
        .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), m_saveFolder);
}

void CameraSession::ResetSaveFolder() {
    ChooseSaveFolder(m_settings.m_strPicturesFolder);
}

void CameraSession::StartDisplay(PreviewWidget* widget) {
    m_display = std::make_unique<DisplayWorker>(m_frameStore, m_overlay, widget);
}

void CameraSession::ShowPlaceholder() {
    m_overlay.BuildOverlay(m_view.videoWidth(), m_view.videoHeight());
    if (m_display) {
        m_display->showPlaceholder();
    }
}

void CameraSession::Close() {
    if (m_closed) {
        return;
    }
    m_closed = true;
    // The capture thread is stopped and joined before the frame store is freed; the frame lock
    // itself lives as long as the session.
    m_camera->StopPreview();
    m_camera->TearDownGraph();
    m_camera->FreeCaptureFilters();
    // A recording still running is finished with its trailer, not left broken.
    m_recording->Finish();
    if (m_display) {
        m_display->stop();
    }
    m_frameStore.Free();
}
