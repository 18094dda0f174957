#include "session/CameraLifecycle.h"

#include <algorithm>

#include "capture/CaptureController.h"
#include "contracts/CameraController.h"
#include "device/CameraDiscovery.h"
#include "device/DeviceTable.h"
#include "device/HotPlugMonitor.h"
#include "device/SupportCheck.h"
#include "output/RecordingController.h"
#include "session/CameraSession.h"

CameraLifecycle::CameraLifecycle(CameraSession& session, DeviceTable& devices, QObject* parent)
    : QObject(parent), m_session(session), m_devices(devices) {}

CameraLifecycle::~CameraLifecycle() = default;

int CameraLifecycle::FindCameras() {
    CameraDiscovery& discovery = m_session.discovery();
    const auto scan = discovery.holdScan();
    if (!m_session.camera().hasSource()) {
        discovery.setOpenCamera(CameraId());  // the controller answers for the camera to open
    }
    SupportCheck& support = m_session.support();
    const int count = support.FindSupportedCameras();
    m_devices.m_pCameraMoniker = support.cameras();
    if (!support.usbFailureKey().isEmpty()) {
        emit searchFailed(support.usbFailureKey());
    }
    if (!support.failureKey().isEmpty()) {
        emit searchFailed(support.failureKey());
    }
    emit camerasFound();
    return count;
}

const std::vector<CameraId>& CameraLifecycle::found() const {
    return m_session.support().found();
}

CameraId CameraLifecycle::cameraToOpen() const {
    return m_devices.m_pCameraMoniker[0];
}

const CameraId& CameraLifecycle::openCamera() const {
    return m_session.discovery().openCamera();
}

bool CameraLifecycle::OpenFirst() {
    const auto scan = m_session.discovery().holdScan();
    if (FindCameras() > 0) {
        Open(cameraToOpen());
    }
    return m_session.camera().hasSource();
}

void CameraLifecycle::Open(const CameraId& camera) {
    CameraDiscovery& discovery = m_session.discovery();
    const auto scan = discovery.holdScan();
    // Discovery learns the camera first, so that the controller answers for it while the graph
    // is built (the build reads the camera's parameter memory).
    discovery.setOpenCamera(camera);
    m_session.camera().ChooseDevice(camera);
    TellFlashNotice();
    if (m_session.camera().hasSource()) {
        m_cameraRemoved = false;
        m_lostCamera = CameraId();
    } else {
        discovery.setOpenCamera(CameraId());
    }
    emit openCameraChanged();
}

bool CameraLifecycle::ChooseCamera(int index) {
    const std::vector<CameraId>& cameras = found();
    if (index < 0 || index >= int(cameras.size())) {
        return false;
    }
    const CameraId chosen = cameras[size_t(index)];
    m_session.discovery().preference().remember(chosen);
    Open(chosen);
    return true;
}

bool CameraLifecycle::Play() {
    if (m_session.camera().TogglePreview()) {
        return true;
    }
    // No camera picture yet: look for a camera again (one may have been plugged in); the
    // camera that is open but shows nothing is started over.
    const auto scan = m_session.discovery().holdScan();
    if (FindCameras() > 0) {
        StartOverFirst();
    }
    return false;
}

void CameraLifecycle::StartOverFirst() {
    const CameraId first = cameraToOpen();
    CaptureController& camera = m_session.camera();
    if (camera.hasSource() && camera.camera() == first) {
        camera.StartOver();
        TellFlashNotice();
    } else {
        Open(first);
    }
}

void CameraLifecycle::WatchHotPlug() {
    m_hotPlug = std::make_unique<HotPlugMonitor>(m_session.cameraSystem());
    connect(m_hotPlug.get(), &HotPlugMonitor::deviceChanged, this,
            &CameraLifecycle::OnDeviceChange);
    // Also where no device events arrive (no udev daemon): a stream whose device is gone.
    connect(&m_session.camera(), &CaptureController::cameraLost, this,
            [this] { OnDeviceChange(false); });
}

void CameraLifecycle::OnDeviceChange(bool arrival, const QString& devNode) {
    if (m_session.closed()) {
        return;
    }
    const auto scan = m_session.discovery().holdScan();
    // A press that comes with a device change is not the user's.
    m_session.camera().frameIntake().ResetStillTrigger();
    if (arrival) {
        OnArrival(devNode);
    } else {
        OnRemoval();
    }
    emit deviceChangeHandled();
}

void CameraLifecycle::OnArrival(const QString& devNode) {
    CaptureController& camera = m_session.camera();
    if (camera.hasSource()) {
        FindCameras();  // the camera list shows the newcomer; the open camera stays
        return;
    }
    if (FindCameras() == 0) {
        return;
    }
    camera.StopPreview();
    camera.TearDownGraph();
    camera.FreeCaptureFilters();
    LoadSaveFolder();
    camera.frameIntake().ResetStillTrigger();
    // The camera that was unplugged, whatever node it has now; otherwise the one a start
    // would open. A device of several nodes arrives node by node: while the unplugged camera
    // is not back, an arrival that is no camera (a metadata node, a memory stick) does not
    // make another camera that was there all along the open one.
    const std::vector<CameraId>& cameras = found();
    auto lost = std::find_if(cameras.begin(), cameras.end(), [this](const CameraId& c) {
        return c.identityKey() == m_lostCamera.identityKey();
    });
    if (m_lostCamera.isValid() && lost == cameras.end()) {
        const bool cameraArrived = std::any_of(cameras.begin(), cameras.end(),
                                               [&](const CameraId& c) { return c.devNode == devNode; });
        if (!cameraArrived) {
            return;
        }
    }
    Open(lost != cameras.end() ? *lost : cameraToOpen());
    // The pan-and-zoom window comes back once it has been opened, even if it was closed since.
    if (m_panWindowWanted && camera.hasSource()) {
        emit panWindowReopen();
    }
}

void CameraLifecycle::OnRemoval() {
    CameraController& controller = m_session.discovery().controller();
    controller.ALC_Initialize();
    uint16_t vid = 0;
    uint16_t pid = 0;
    const bool stillThere = controller.ALC_GetPIDVID(&vid, &pid);
    controller.ALC_UnInitialize();
    if (stillThere) {
        return;  // another device left
    }
    m_cameraRemoved = true;
    CaptureController& camera = m_session.camera();
    const bool wasOpen = camera.hasSource();
    QString kept;
    if (wasOpen) {
        m_lostCamera = camera.camera();
        // A recording ends with its trailer while the last frames are still at hand (none is
        // kept when it had no frame yet: its file is removed).
        RecordingController& recording = m_session.recording();
        const bool wasRecording = recording.recording();
        recording.Finish();
        if (wasRecording && recording.recorder().writtenFrames() > 0) {
            kept = recording.recorder().fileName();
        }
        camera.CameraRemoved();
        m_session.discovery().setOpenCamera(CameraId());
    }
    emit cameraUnplugged(wasOpen, kept);
    FindCameras();  // the camera list no longer shows it
}

void CameraLifecycle::LoadSaveFolder() {
    if (m_session.LoadSaveFolder()) {
        emit saveFolderFellBack(m_session.saveFolder());
    }
}

FlashWrite CameraLifecycle::SaveParameters() {
    const FlashWrite result = m_session.flashParameters().OnSaveParameters();
    TellFlashNotice();
    return result;
}

void CameraLifecycle::TellFlashNotice() {
    if (const FlashNotice notice = m_session.flashParameters().TakeFlashNotice()) {
        emit flashNotice(QString::fromLatin1(notice.key), notice.file);
    }
}

FlashWrite CameraLifecycle::RestoreParameters() {
    CaptureController& camera = m_session.camera();
    if (!camera.hasSource()) {
        return FlashWrite::Skipped;
    }
    m_session.ResetSaveFolder();
    const FlashWrite result = m_session.flashParameters().OnRestoreParameters();
    TellFlashNotice();
    camera.SetPowerLineFrequency(1);  // 50 Hz
    const auto scan = m_session.discovery().holdScan();
    if (FindCameras() > 0) {
        LoadSaveFolder();
        camera.frameIntake().ResetStillTrigger();
        // The camera is opened anew even when it is the same one, so that the default block
        // takes effect at once.
        StartOverFirst();
    }
    return result;
}
