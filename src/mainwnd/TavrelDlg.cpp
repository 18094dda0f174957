#include "mainwnd/TavrelDlg.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "capture/CaptureController.h"
#include "contracts/CameraController.h"
#include "device/CameraDiscovery.h"
#include "device/DeviceTable.h"
#include "device/HotPlugMonitor.h"
#include "device/SupportCheck.h"
#include "display/DisplayWorker.h"
#include "display/MaskWnd.h"
#include "display/PreviewWidget.h"
#include "flashparams/FlashParamsController.h"
#include "mainwnd/AboutDlg.h"
#include "mainwnd/CommandBars.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/Icons.h"
#include "output/RecordingController.h"
#include "output/SaveFolder.h"
#include "propdlg/CameraProWnd.h"
#include "settings/AppSettings.h"
#include "settings/LanguageText.h"
#include "settings/ProfileFile.h"

CTavrelDlg::CTavrelDlg(AppSettings& settings, DeviceTable& devices, QWidget* parent)
    : QMainWindow(parent),
      m_settings(settings),
      m_devices(devices),
      m_bFactoryMode(settings.m_bFactoryMode),
      m_session(settings, devices) {
    setWindowIcon(IconById(Icon::App));
    setWindowTitle(QStringLiteral("Orvane"));
    m_folderPicker = [](QWidget* owner, const QString& caption, const QString& instruction,
                        const QString& start) {
        QFileDialog dialog(owner, caption, start);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        // The instruction labels the folder field (desktops' own choosers may not show it).
        dialog.setLabelText(QFileDialog::FileName, instruction);
        dialog.setLabelText(QFileDialog::LookIn, instruction);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().constFirst()
                   : QString();
    };

    m_noteTimer = new QTimer(this);
    m_noteTimer->setSingleShot(true);
    m_noteTimer->setInterval(2000);

    m_preview = new PreviewWidget(this);
    setCentralWidget(m_preview);
    m_session.StartDisplay(m_preview);

    m_bars = new CommandBars(
        *this, m_bFactoryMode, [this](int id) { OnCommand(id); },
        [this](int id) { return OnToolTipText(id); });
    // Until a camera runs, Play shows as checked.
    SetMenuChecked(Cmd::Play, true);
    LoadSaveFolder();
    ApplyLanguageTexts();
    ConnectControllers();

    if (FindSupportedCameras() > 0) {
        OpenCamera(m_devices.m_pCameraMoniker[0]);
    }
    m_hotPlug = std::make_unique<HotPlugMonitor>(cameraSystem());
    connect(m_hotPlug.get(), &HotPlugMonitor::deviceChanged, this, &CTavrelDlg::OnDeviceChange);
    UpdateCommandStates();
    UpdateCommandEnables();

    CheckLanguageInForce();
    ResizeToContent();
}

CTavrelDlg::~CTavrelDlg() {
    DestroyWindow();
}

// What the controllers report becomes menu states, toolbar pictures and texts.
void CTavrelDlg::ConnectControllers() {
    CaptureController* capture = &camera();
    connect(capture, &CaptureController::failure, this, &CTavrelDlg::NoteCameraFailure);
    connect(capture, &CaptureController::formatsChanged, this, [this] {
        m_bars->resolution().Rebuild(camera().streamFormats());
        CheckResolutionEntry();
    });
    connect(capture, &CaptureController::pictureCleared, this, [this] {
        ShowPlaceholder();
        UpdateCommandEnables();
    });
    connect(capture, &CaptureController::powerLineFrequencyChanged, this, [this] {
        const bool is50 = camera().streamFormats().m_nPowerLineFreq == 1;
        SetMenuChecked(Cmd::Freq50Hz, is50);
        SetMenuChecked(Cmd::Freq60Hz, !is50);
    });
    connect(capture, &CaptureController::exposureModeChanged, this, &CTavrelDlg::ShowExposureMode);
    // The session has rebuilt the overlay at the new size by now.
    connect(capture, &CaptureController::previewStarting, this, [this] {
        FitWindowToVideo();
        displayWorker().showPlaceholder();
    });
    connect(capture, &CaptureController::previewStarted, this, [this] {
        SetMenuChecked(Cmd::Play, !camera().wantPreview());
        UpdateZoomButtons();
        UpdateMirrorButtons();
        SetToolbarImage(ToolSlot::Play, Icon::Playing);
        SetStatusText(2, camera().camera().cardName);
    });
    connect(capture, &CaptureController::previewStopped, this,
            [this] { SetToolbarImage(ToolSlot::Play, Icon::Paused); });
    connect(capture, &CaptureController::firstFrame, this, &CTavrelDlg::UpdateCommandEnables);
    connect(capture, &CaptureController::stillButtonPressed, this, &CTavrelDlg::OnSnapAt);
    connect(capture, &CaptureController::problemChanged, this, &CTavrelDlg::ShowPictureProblem);
    // Also where no device events arrive (no udev daemon): a stream whose device is gone.
    connect(capture, &CaptureController::cameraLost, this, [this] { OnDeviceChange(false); });

    connect(&recording(), &RecordingController::recordingChanged, this, [this](bool on) {
        SetToolbarImage(ToolSlot::Record, on ? Icon::Recording : Icon::Record);
        SetMenuChecked(Cmd::Record, on);
    });
    connect(&recording(), &RecordingController::statusText, this,
            [this](const QString& text) { SetStatusText(2, text); });
}

void CTavrelDlg::ShowPlaceholder() {
    // The overlay alone stands in for the picture until the next frame.
    m_session.ShowPlaceholder();
}

void CTavrelDlg::NoteFailure(const QString& key) {
    m_settings.m_texts.text(QStringLiteral("WndMessage"), key);
}

void CTavrelDlg::NoteCameraFailure(const QString& key) {
    // The camera's "NOSUPPORT" (no stream format to choose from) has a default of its own; the
    // text table holds the support check's.
    if (key == QLatin1String("NOSUPPORT")) {
        m_settings.m_texts.text(QStringLiteral("WndMessage"), key,
                                QStringLiteral("没有找到VCapture:IAMStreamConfig接口"));
    } else {
        NoteFailure(key);
    }
}

// ---------------------------------------------------------------------------------------------
// Texts and command states

void CTavrelDlg::ApplyLanguageTexts() {
    m_texts.Load(m_settings.m_texts);
    recording().ApplyLanguageTexts();
    setWindowTitle(m_texts.m_strCaption);
    m_bars->ApplyTexts(m_texts);
    if (m_pMoveWnd) {
        m_pMoveWnd->ApplyTexts();
    }
    if (camera().hasSource()) {
        SetMenuChecked(Cmd::Play, !camera().wantPreview());
    }
    ShowPictureProblem();
}

void CTavrelDlg::ShowPictureProblem() {
    const CameraId& open = camera().camera();
    const QString device = QStringLiteral("%1 (%2)").arg(open.cardName.trimmed(), open.devNode);
    QString hint;
    switch (camera().problem()) {
        case PictureProblem::None:
            // Without an open camera there is nothing to show but the hint.
            hint = camera().hasSource() ? QString() : m_texts.m_strNoCameraHint;
            break;
        case PictureProblem::NoCamera:
            hint = m_texts.m_strNoCameraHint;
            break;
        case PictureProblem::Busy:
            hint = m_texts.m_strBusyHint.arg(device);
            break;
        case PictureProblem::NoPermission:
            hint = m_texts.m_strNoPermissionHint.arg(device);
            break;
        case PictureProblem::NoFormat:
            hint = m_texts.m_strNoFormatHint.arg(device);
            break;
        case PictureProblem::NoFrames:
            hint = m_texts.m_strNoFramesHint.arg(device);
            break;
        case PictureProblem::Removed:
            hint = m_texts.m_strRemovedHint.arg(device);
            break;
    }
    m_preview->setHint(hint, camera().problem() == PictureProblem::Removed);
}

QString CTavrelDlg::OnToolTipText(int id) const {
    const CommandRow* row = FindCommand(id);
    if (!row || row->toolSlot < 0) {
        return {};
    }
    if (id == Cmd::Play) {
        if (!camera().hasPicture()) {
            return m_texts.m_strOpen;
        }
        return camera().wantPreview() ? m_texts.m_strStop : m_texts.m_strPlay;
    }
    if (id == Cmd::Property && !m_bFactoryMode) {
        return camera().parameters().m_bExposureAuto ? m_texts.m_strManualExposure
                                                     : m_texts.m_strAutoExposure;
    }
    return m_texts.*row->text;
}

void CTavrelDlg::UpdateCommandStates() {
    UpdateMirrorButtons();
    ShowExposureMode();
    ApplyLanguageTexts();
}

bool CTavrelDlg::GuardHolds(Guard guard) const {
    switch (guard) {
        case Guard::Always:
            return true;
        case Guard::Picture:
            return camera().hasSource() && camera().hasPicture();
        case Guard::PictureZoomed:
            return camera().hasSource() && camera().hasPicture() && view().zoom() > 1.0f;
        case Guard::NotRemoved:
            return !m_bCameraRemoved;
    }
    return false;
}

void CTavrelDlg::UpdateCommandEnables() {
    for (const CommandRow& row : MainCommands()) {
        m_bars->SetEnabled(row.id, row.built && GuardHolds(row.guard));
    }
    if (!camera().hasPicture()) {
        camera().RequestFrameNotice();  // the first frame lets the commands act
    }
}

void CTavrelDlg::OnCommand(int id) {
    if (const CommandRow* row = FindCommand(id)) {
        if (row->built && row->handler && GuardHolds(row->guard)) {
            (this->*row->handler)();
        }
    } else if (ResolutionMenu::isResolutionCommand(id)) {
        OnResolutionCommand(id);
    } else if (CameraMenu::isCameraCommand(id)) {
        OnCameraCommand(id);
    }
    UpdateCommandEnables();
}

// ---------------------------------------------------------------------------------------------
// Camera

int CTavrelDlg::FindSupportedCameras() {
    if (!camera().hasSource()) {
        cameraDiscovery().setOpenCamera(
            CameraId());  // the controller answers for the camera to open
    }
    const int count = m_session.support().FindSupportedCameras();
    m_devices.m_pCameraMoniker = m_session.support().cameras();
    if (!m_session.support().failureKey().isEmpty()) {
        NoteFailure(m_session.support().failureKey());
    }
    m_bars->cameras().Rebuild(m_session.support().found());
    m_bars->cameras().CheckCamera(cameraDiscovery().openCamera());
    return count;
}

void CTavrelDlg::OpenCamera(const CameraId& chosen) {
    // Discovery learns the camera first, so that the controller answers for it while the graph
    // is built.
    cameraDiscovery().setOpenCamera(chosen);
    camera().ChooseDevice(chosen);
    if (camera().hasSource()) {
        m_bCameraRemoved = false;
        m_lostCamera = CameraId();
    } else {
        cameraDiscovery().setOpenCamera(CameraId());
    }
    m_bars->cameras().CheckCamera(cameraDiscovery().openCamera());
}

void CTavrelDlg::OnDeviceChange(bool arrival, const QString& devNode) {
    if (m_destroyed) {
        return;
    }
    // A press that comes with a device change is not the user's.
    camera().frameIntake().ResetStillTrigger();
    if (arrival) {
        OnCameraArrival(devNode);
    } else {
        OnCameraRemoval();
    }
    UpdateCommandEnables();
}

void CTavrelDlg::OnCameraArrival(const QString& devNode) {
    if (camera().hasSource()) {
        FindSupportedCameras();  // the Camera menu lists the newcomer; the open camera stays
        return;
    }
    if (FindSupportedCameras() == 0) {
        return;
    }
    camera().StopPreview();
    camera().TearDownGraph();
    camera().FreeCaptureFilters();
    if (FindSupportedCameras() == 0) {
        return;
    }
    LoadSaveFolder();
    camera().frameIntake().ResetStillTrigger();
    // The camera that was unplugged, whatever node it has now; otherwise the one a start
    // would open. A device of several nodes arrives node by node: while the unplugged camera
    // is not back, an arrival that is no camera (a metadata node, a memory stick) does not
    // make another camera that was there all along the open one.
    const std::vector<CameraId>& found = m_session.support().found();
    auto lost = std::find_if(found.begin(), found.end(), [this](const CameraId& camera) {
        return camera.identityKey() == m_lostCamera.identityKey();
    });
    if (m_lostCamera.isValid() && lost == found.end()) {
        const bool cameraArrived =
            std::any_of(found.begin(), found.end(),
                        [&devNode](const CameraId& camera) { return camera.devNode == devNode; });
        if (!cameraArrived) {
            return;
        }
    }
    OpenCamera(lost != found.end() ? *lost : m_devices.m_pCameraMoniker[0]);
    // The pan-and-zoom window comes back once it has been opened, even if it was closed since.
    if (m_bPanWindowOpened && camera().hasSource()) {
        OpenPanZoomWindow();
    }
}

void CTavrelDlg::OnCameraRemoval() {
    CameraController& controller = cameraDiscovery().controller();
    controller.ALC_Initialize();
    uint16_t vid = 0;
    uint16_t pid = 0;
    const bool stillThere = controller.ALC_GetPIDVID(&vid, &pid);
    controller.ALC_UnInitialize();
    if (stillThere) {
        return;  // another device left
    }
    m_bCameraRemoved = true;
    m_bars->resolution().DisableEntries();
    if (camera().hasSource()) {
        m_lostCamera = camera().camera();
        // A recording ends with its trailer while the last frames are still at hand; the
        // status names its file beside the note (none when it had no frame yet: removed).
        const bool wasRecording = recording().recording();
        recording().Finish();
        const bool kept = wasRecording && recording().recorder().writtenFrames() > 0;
        camera().CameraRemoved();
        cameraDiscovery().setOpenCamera(CameraId());
        SetStatusText(2, kept ? m_texts.m_strCameraRemoved + QStringLiteral(": ") +
                                    recording().recorder().fileName()
                              : m_texts.m_strCameraRemoved);
    }
    FindSupportedCameras();  // the Camera menu no longer lists it
}

void CTavrelDlg::OnCameraCommand(int id) {
    const std::vector<CameraId>& found = m_session.support().found();
    const int index = CameraMenu::indexOf(id);
    if (index < 0 || index >= int(found.size())) {
        return;
    }
    cameraDiscovery().preference().remember(found[size_t(index)]);
    OpenCamera(found[size_t(index)]);
}

bool CTavrelDlg::wantPreview() const {
    return camera().wantPreview();
}

void CTavrelDlg::OnPlay() {
    if (camera().TogglePreview()) {
        const bool want = camera().wantPreview();
        SetToolbarImage(ToolSlot::Play, want ? Icon::Playing : Icon::Paused);
        SetMenuChecked(Cmd::Play, !want);
        ApplyLanguageTexts();
        return;
    }
    // No camera picture yet: look for a camera again (one may have been plugged in); the
    // camera that is open but shows nothing is started over.
    if (FindSupportedCameras() > 0) {
        const CameraId& first = m_devices.m_pCameraMoniker[0];
        if (camera().hasSource() && camera().camera() == first) {
            camera().StartOver();
        } else {
            OpenCamera(first);
        }
    }
}

void CTavrelDlg::OnResolutionCommand(int id) {
    if (camera().ChooseResolution(ResolutionMenu::isMjpgCommand(id), ResolutionMenu::indexOf(id))) {
        m_bars->resolution().CheckCommand(id);
    }
}

void CTavrelDlg::On640x480() {
    camera().Choose640x480();
    m_bars->resolution().CheckCommand(Cmd::YuvFirst);
}

void CTavrelDlg::CheckResolutionEntry() {
    if (camera().hasSource()) {
        m_bars->resolution().CheckCurrent(camera().currentFormat().isMjpg(),
                                          camera().streamFormats().m_nResolutionIndex);
    }
}

void CTavrelDlg::OnFreq50Hz() {
    camera().SetPowerLineFrequency(1);
}

void CTavrelDlg::OnFreq60Hz() {
    camera().SetPowerLineFrequency(2);
}

void CTavrelDlg::OnSaveParameters() {
    const FlashWrite result = flashParameters().OnSaveParameters();
    if (result != FlashWrite::Skipped) {
        ShowFlashNote(result == FlashWrite::Written, m_texts.m_strStoreInfo);
    }
}

void CTavrelDlg::OnRestoreParameters() {
    if (!camera().hasSource()) {
        return;
    }
    m_strSaveFolder = WithTrailingSlash(m_settings.m_strPicturesFolder);
    ProfileFile(m_settings.m_strSettingFile)
        .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), m_strSaveFolder);
    const FlashWrite result = flashParameters().OnRestoreParameters();
    OnFreq50Hz();
    if (FindSupportedCameras() > 0) {
        LoadSaveFolder();
        camera().frameIntake().ResetStillTrigger();
        // The camera is opened anew even when it is the same one, so that the default block
        // takes effect at once.
        const CameraId& first = m_devices.m_pCameraMoniker[0];
        if (camera().hasSource() && camera().camera() == first) {
            camera().StartOver();
        } else {
            OpenCamera(first);
        }
    }
    ShowFlashNote(result != FlashWrite::Failed, m_texts.m_strRestoreInfo);
}

void CTavrelDlg::ShowFlashNote(bool written, const QString& note) {
    SetStatusText(2, written ? note : m_texts.m_strFlashFailed);
    m_noteTimer->start();
}

void CTavrelDlg::OnProperty() {
    if (m_bFactoryMode) {
        CCameraProWnd::EditCameraProperties(
            m_settings.m_texts, [this] { return camera().captureGraph().source(); },
            camera().parameters(), this, m_pMoveWnd.data());
    } else {
        camera().ToggleExposureAuto();  // the picture follows through exposureModeChanged
    }
    ApplyLanguageTexts();
}

void CTavrelDlg::ShowExposureMode() {
    if (!m_bFactoryMode) {
        SetToolbarImage(ToolSlot::Property, camera().parameters().m_bExposureAuto
                                                ? Icon::ExposureAuto
                                                : Icon::ExposureManual);
    }
}

QSize CTavrelDlg::FrameSize() const {
    // The window system's frame once the window is shown; a usual title bar before.
    const QSize frame = frameGeometry().size() - geometry().size();
    return isVisible() && !frame.isEmpty() ? frame : QSize(8, 32);
}

void CTavrelDlg::ResizeToContent() {
    if (isMaximized() || isFullScreen()) {
        return;
    }
    const QRect screen =
        this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QSize frame = FrameSize();
    // Not adjustSize(): it would cut a window to two thirds of the screen.
    resize(sizeHint().boundedTo(screen.size() - frame));
    // Keep the whole window on the screen after it grew.
    QRect placed = frameGeometry();
    placed.moveRight(std::min(placed.right(), screen.right()));
    placed.moveBottom(std::min(placed.bottom(), screen.bottom()));
    placed.moveLeft(std::max(placed.left(), screen.left()));
    placed.moveTop(std::max(placed.top(), screen.top()));
    if (placed.topLeft() != frameGeometry().topLeft()) {
        move(placed.topLeft());
    }
}

void CTavrelDlg::FitWindowToVideo() {
    int w = view().videoWidth();
    int h = view().videoHeight();
    if (w <= 0 || h <= 0) {
        w = 640;
        h = 480;
    }
    const QRect screen =
        this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
    // Menu, toolbar and status bar around the preview, from the layout.
    const QSize chrome(std::max(sizeHint().width() - m_preview->sizeHint().width(), 0),
                       std::max(sizeHint().height() - m_preview->sizeHint().height(), 36));
    const QSize frame = FrameSize();
    const QSize room = (screen.size() - chrome - frame).expandedTo(QSize(160, 120));
    // A video larger than the screen opens a window that fits it, the picture scaled down at its
    // aspect ratio; snapshots and recordings keep the video's own size.
    QSize area(w, h);
    if (area.width() > room.width() || area.height() > room.height()) {
        area = area.scaled(room, Qt::KeepAspectRatio);
    }
    m_preview->setPreferredSize(area);
    m_preview->setMinimumSize(std::min(area.width(), 160), std::min(area.height(), 120));
    ResizeToContent();
    SetStatusText(0, StreamFormats::entryText(view().videoWidth(), view().videoHeight()));
    ShowZoomPercentage();
}

// ---------------------------------------------------------------------------------------------
// Snapshot and recording

void CTavrelDlg::OnSnap() {
    OnSnapAt(QDateTime::currentDateTime());
}

void CTavrelDlg::OnSnapAt(const QDateTime& when) {
    if (GuardHolds(Guard::Picture)) {
        recording().Snap(m_strSaveFolder, when);
    }
}

void CTavrelDlg::OnRecord() {
    // Neither a start nor a stop while the preview is paused.
    if (camera().captureGraph().state() == CaptureGraph::State::Running) {
        recording().ToggleRecording(m_strSaveFolder);
    }
}

// ---------------------------------------------------------------------------------------------
// Zoom, mirror, overlay

void CTavrelDlg::OnZoomIn() {
    if (view().ZoomIn()) {
        ShowZoomPercentage();
    }
    UpdateZoomButtons();
}

void CTavrelDlg::OnZoomOut() {
    view().ZoomOut();
    ShowZoomPercentage();
    UpdateZoomButtons();
}

void CTavrelDlg::OnZoomReset() {
    view().ResetZoom();
    ShowZoomPercentage();
    UpdateZoomButtons();
}

void CTavrelDlg::OnHMirror() {
    view().ToggleMirror(true);
    UpdateMirrorButtons();
}

void CTavrelDlg::OnVMirror() {
    view().ToggleMirror(false);
    UpdateMirrorButtons();
}

void CTavrelDlg::OnMirrorReset() {
    view().ResetMirrors();
    UpdateMirrorButtons();
}

void CTavrelDlg::ShowZoomPercentage() {
    SetStatusText(1, QStringLiteral("%1%").arg(ZoomPercent(view().zoom())));
}

void CTavrelDlg::UpdateZoomButtons() {
    const auto icons = ZoomButtonIcons(view().zoom());
    SetToolbarImage(ToolSlot::ZoomIn, icons[0]);
    SetToolbarImage(ToolSlot::ZoomOut, icons[1]);
    SetToolbarImage(ToolSlot::ZoomReset, icons[2]);
}

void CTavrelDlg::UpdateMirrorButtons() {
    const bool h = view().hMirror();
    const bool v = view().vMirror();
    const auto icons = MirrorButtonIcons(h, v);
    SetToolbarImage(ToolSlot::HMirror, icons[0]);
    SetToolbarImage(ToolSlot::VMirror, icons[1]);
    SetToolbarImage(ToolSlot::MirrorReset, icons[2]);
    m_bars->SetToolChecked(Cmd::HMirror, h);
    m_bars->SetToolChecked(Cmd::VMirror, v);
    SetMenuChecked(Cmd::HMirror, h);
    SetMenuChecked(Cmd::VMirror, v);
}

void CTavrelDlg::OpenMaskWindow() {
    CMaskWnd wnd(
        m_settings.m_texts, overlay().settings(), &frameStore(),
        [this](const OverlaySettings& settings) {
            overlay().setSettings(settings);
            overlay().Rebuild();
        },
        this);
    wnd.exec();
}

void CTavrelDlg::OpenPanZoomWindow() {
    if (!m_bFactoryMode || !GuardHolds(Guard::Picture)) {
        return;
    }
    if (m_pMoveWnd) {
        m_pMoveWnd->close();
        m_pMoveWnd->deleteLater();
    }
    m_pMoveWnd = new CMoveWnd(m_settings.m_texts, view(), overlay(), frameStore(), this);
    m_pMoveWnd->Open();
    m_bPanWindowOpened = true;
}

// ---------------------------------------------------------------------------------------------
// Files, languages, About, Exit

void CTavrelDlg::LoadSaveFolder() {
    const StoredSaveFolder stored =
        ReadSaveFolder(m_settings.m_strSettingFile, m_settings.m_strPicturesFolder);
    m_strSaveFolder = stored.folder;
    // Said once a session: the stored value stays in the file for the user to mend.
    if (stored.fellBack && !m_bSaveFolderNoted) {
        m_bSaveFolderNoted = true;
        SetStatusText(2, m_settings.m_texts.text("MainWnd", "FOLDERFALLBACK").arg(m_strSaveFolder));
    }
}

void CTavrelDlg::OnChooseFolder() {
    const QString chosen =
        m_folderPicker(this, g_strFolderTips, m_texts.m_strFolder, m_strSaveFolder);
    if (chosen.isEmpty()) {
        return;
    }
    m_strSaveFolder = WithTrailingSlash(chosen);
    ProfileFile(m_settings.m_strSettingFile)
        .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), m_strSaveFolder);
    SetStatusText(2, m_strSaveFolder);
}

void CTavrelDlg::OnChinese() {
    OnLanguage(0);
}

void CTavrelDlg::OnEnglish() {
    OnLanguage(1);
}

void CTavrelDlg::OnJapanese() {
    OnLanguage(2);
}

void CTavrelDlg::OnLanguage(int index) {
    m_settings.ChooseLanguage(QLatin1String(kLanguageNames[size_t(index)]), index);
    ApplyLanguageTexts();
    CheckLanguageInForce();
    menuBar()->update();
}

void CTavrelDlg::CheckLanguageInForce() {
    // The check mark follows the language in force, however it was chosen (the flags alone
    // would not show which).
    const QString& file = m_settings.m_strLanguageFile;
    for (int i = 0; i < int(kLanguageNames.size()); ++i) {
        const QString name =
            QLatin1Char('/') + QLatin1String(kLanguageNames[size_t(i)]) + QLatin1String(".lng");
        SetMenuChecked(Cmd::LangChinese + i, file.endsWith(name));
    }
}

void CTavrelDlg::OnAbout() {
    CAboutDlg about(m_settings, this);
    about.exec();
    ApplyLanguageTexts();
    CheckLanguageInForce();
}

void CTavrelDlg::OnExit() {
    close();
}

// ---------------------------------------------------------------------------------------------
// Events

void CTavrelDlg::keyPressEvent(QKeyEvent* event) {
    // Like a dialog: Enter and Escape end the program.
    switch (event->key()) {
        case Qt::Key_Camera:
        case Qt::Key_WebCam:
            // The camera's snapshot button, when the desktop delivers it as a key to us rather
            // than through the camera's own input device.
            if (!event->isAutoRepeat()) {
                camera().frameIntake().OnStillButton();
            }
            return;
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            close();
            return;
        default:
            QMainWindow::keyPressEvent(event);
    }
}

void CTavrelDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && m_session.hasDisplay()) {
        displayWorker().setSuspended(isMinimized());
    }
    QMainWindow::changeEvent(event);
}

void CTavrelDlg::closeEvent(QCloseEvent* event) {
    DestroyWindow();
    event->accept();
}

void CTavrelDlg::DestroyWindow() {
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    if (m_pMoveWnd) {
        m_pMoveWnd->close();  // it shows this window's camera; it goes with it
    }
    // The settings in force go into the camera while its source and its picture still exist.
    if (!m_bFactoryMode) {
        flashParameters().WriteSavedBlockBasic();
    }
    m_session.Close();
}
