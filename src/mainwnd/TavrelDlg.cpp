#include "mainwnd/TavrelDlg.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>

#include "capture/CaptureController.h"
#include "display/DisplayWorker.h"
#include "display/PreviewWidget.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/FolderPicker.h"
#include "mainwnd/Icons.h"
#include "mainwnd/WindowFit.h"
#include "output/RecordingController.h"
#include "session/ProblemTexts.h"
#include "settings/AppSettings.h"
#include "settings/LanguageText.h"

CTavrelDlg::CTavrelDlg(AppSettings& settings, DeviceTable& devices, QWidget* parent)
    : QMainWindow(parent),
      m_settings(settings),
      m_bFactoryMode(settings.m_bFactoryMode),
      m_session(settings, devices),
      m_life(m_session, devices) {
    setWindowIcon(IconById(Icon::App));
    setWindowTitle(QStringLiteral("Orvane"));
    m_folderPicker = PickFolder;

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
    ConnectLifecycle();
    m_life.LoadSaveFolder();
    ApplyLanguageTexts();
    ConnectControllers();

    m_life.OpenFirst();
    m_life.WatchHotPlug();
    connect(&m_life, &CameraLifecycle::deviceChangeHandled, this,
            &CTavrelDlg::UpdateCommandEnables);
    UpdateCommandStates();
    UpdateCommandEnables();

    CheckLanguageInForce();
    ResizeToContent(*this);
}

CTavrelDlg::~CTavrelDlg() {
    DestroyWindow();
}

// What the controllers report becomes menu states, toolbar pictures and texts.
void CTavrelDlg::ConnectControllers() {
    CaptureController* capture = &camera();
    connect(capture, &CaptureController::failure, this,
            [this](const QString& key) { NoteFailure(key, FailureFrom::Camera); });
    connect(capture, &CaptureController::formatsChanged, this, [this] {
        m_bars->resolution().Rebuild(camera().streamFormats());
        CheckResolutionEntry();
    });
    connect(capture, &CaptureController::resolutionChosen, this, [this](bool mjpg, int index) {
        m_bars->resolution().CheckCommand(ResolutionMenu::commandId(mjpg, index));
    });
    connect(capture, &CaptureController::pictureCleared, this, [this] {
        m_session.ShowPlaceholder();  // the overlay alone until the next frame
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
        FitToVideo();
        displayWorker().showPlaceholder();
    });
    connect(capture, &CaptureController::previewStarted, this, [this] {
        SetMenuChecked(Cmd::Play, !camera().wantPreview());
        UpdateZoomButtons();
        UpdateMirrorButtons();
        SetToolbarImage(ToolSlot::Play, Icon::Playing);
        ShowCameraName();
    });
    connect(capture, &CaptureController::previewStopped, this,
            [this] { SetToolbarImage(ToolSlot::Play, Icon::Paused); });
    connect(capture, &CaptureController::firstFrame, this, &CTavrelDlg::UpdateCommandEnables);
    connect(capture, &CaptureController::stillButtonPressed, this, [this](const QDateTime& when) {
        if (GuardHolds(Guard::Picture)) {
            recording().Snap(saveFolder(), when);
        }
    });
    connect(capture, &CaptureController::problemChanged, this, &CTavrelDlg::ShowPictureProblem);

    connect(&recording(), &RecordingController::recordingChanged, this, [this](bool on) {
        SetToolbarImage(ToolSlot::Record, on ? Icon::Recording : Icon::Record);
        SetMenuChecked(Cmd::Record, on);
    });
    connect(&recording(), &RecordingController::statusText, this, [this](const QString& text) {
        m_bNoteStays = false;
        SetStatusText(2, text);
    });
}

// What the session's camera operations report.
void CTavrelDlg::ConnectLifecycle() {
    connect(&m_life, &CameraLifecycle::camerasFound, this, &CTavrelDlg::ShowCameras);
    connect(&m_life, &CameraLifecycle::openCameraChanged, this,
            [this] { m_bars->cameras().CheckCamera(m_life.openCamera()); });
    connect(&m_life, &CameraLifecycle::searchFailed, this,
            [this](const QString& key) { NoteFailure(key, FailureFrom::Search); });
    connect(&m_life, &CameraLifecycle::cameraUnplugged, this,
            [this](bool wasOpen, const QString& keptRecording) {
                m_bars->resolution().DisableEntries();
                if (wasOpen) {
                    // The status names the recording's file beside the note.
                    m_bNoteStays = false;
                    SetStatusText(2, keptRecording.isEmpty()
                                         ? m_texts.m_strCameraRemoved
                                         : m_texts.m_strCameraRemoved + QStringLiteral(": ") +
                                               keptRecording);
                }
            });
    connect(&m_life, &CameraLifecycle::panWindowReopen, this, &CTavrelDlg::OpenPanZoomWindow);
    connect(&m_life, &CameraLifecycle::saveFolderFellBack, this, [this](const QString& folder) {
        m_bNoteStays = true;
        SetStatusText(2, m_settings.m_texts.text("MainWnd", "FOLDERFALLBACK").arg(folder));
    });
    connect(&m_life, &CameraLifecycle::flashNotice, this,
            [this](const QString& key, const QString& file) {
                m_bNoteStays = true;
                SetStatusText(2, m_settings.m_texts.text(QStringLiteral("MainWnd"), key).arg(file));
            });
}

void CTavrelDlg::NoteFailure(const QString& key, FailureFrom from) {
    // Looked up so that the key lands in the language file; the picture's hint says what went
    // wrong. The USB device list's failures are shown at once.
    const QString text = FailureText(m_settings.m_texts, key, from);
    if (FailureIsShown(key)) {
        QMessageBox::warning(isVisible() ? this : nullptr,
                             QGuiApplication::applicationDisplayName(), text);
    }
}

void CTavrelDlg::ShowCameraName() {
    if (!m_bNoteStays) {
        SetStatusText(2, camera().camera().cardName);
    }
}

void CTavrelDlg::ShowCameras() {
    m_bars->cameras().Rebuild(m_life.found());
    m_bars->cameras().CheckCamera(m_life.openCamera());
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

void CTavrelDlg::ApplyLanguage() {
    ApplyLanguageTexts();
    CheckLanguageInForce();
    menuBar()->update();
}

void CTavrelDlg::ShowPictureProblem() {
    const QString hint = PictureProblemText(m_settings.m_texts, TextPlace::Window,
                                            camera().problem(), camera().hasSource(),
                                            camera().camera());
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
        case Guard::CameraOpen:
            return camera().hasSource();
        case Guard::Picture:
            return camera().hasSource() && camera().hasPicture();
        case Guard::PictureZoomed:
            return camera().hasSource() && camera().hasPicture() && view().zoom() > 1.0f;
        case Guard::NotRemoved:
            return !m_life.cameraRemoved();
    }
    return false;
}

void CTavrelDlg::UpdateCommandEnables() {
    for (const CommandRow& row : MainCommands()) {
        m_bars->SetEnabled(row.id, GuardHolds(row.guard));
    }
    if (!camera().hasPicture()) {
        camera().RequestFrameNotice();  // the first frame lets the commands act
    }
}

void CTavrelDlg::OnCommand(int id) {
    if (const CommandRow* row = FindCommand(id)) {
        if (GuardHolds(row->guard)) {
            CommandContext context{m_session, m_life, m_settings, *this};
            row->handler(context, row->argument);
            ShowViewState();
        }
    } else if (ResolutionMenu::isResolutionCommand(id)) {
        OnResolutionCommand(id);
    } else if (CameraMenu::isCameraCommand(id)) {
        m_life.ChooseCamera(CameraMenu::indexOf(id));
    }
    UpdateCommandEnables();
}

// ---------------------------------------------------------------------------------------------
// Camera

bool CTavrelDlg::wantPreview() const {
    return camera().wantPreview();
}

void CTavrelDlg::ShowPlayState() {
    const bool want = camera().wantPreview();
    SetToolbarImage(ToolSlot::Play, want ? Icon::Playing : Icon::Paused);
    SetMenuChecked(Cmd::Play, !want);
    ShowPictureProblem();
}

void CTavrelDlg::OnResolutionCommand(int id) {
    camera().ChooseResolution(ResolutionMenu::isMjpgCommand(id), ResolutionMenu::indexOf(id));
}

void CTavrelDlg::CheckResolutionEntry() {
    if (camera().hasSource()) {
        m_bars->resolution().CheckCurrent(camera().currentFormat().isMjpg(),
                                          camera().streamFormats().m_nResolutionIndex);
    }
}

void CTavrelDlg::ShowFlashNote(FlashWrite result, bool restore) {
    if (result == FlashWrite::Skipped) {
        return;
    }
    QString note = result == FlashWrite::Failed ? m_texts.m_strFlashFailed
                   : restore                    ? m_texts.m_strRestoreInfo
                                                : m_texts.m_strStoreInfo;
    if (restore) {
        // Restore puts the save folder back at Pictures too: the user is told where files go.
        note += QStringLiteral(" — ") +
                m_settings.m_texts.text("MainWnd", "RESTOREFOLDER").arg(saveFolder());
    }
    m_bNoteStays = false;
    SetStatusText(2, note);
    m_noteTimer->start();
}

void CTavrelDlg::ShowExposureMode() {
    if (!m_bFactoryMode) {
        SetToolbarImage(ToolSlot::Property, camera().parameters().m_bExposureAuto
                                                ? Icon::ExposureAuto
                                                : Icon::ExposureManual);
    }
}

void CTavrelDlg::FitToVideo() {
    FitWindowToVideo(*this, *m_preview, QSize(view().videoWidth(), view().videoHeight()));
    SetStatusText(0, StreamFormats::entryText(view().videoWidth(), view().videoHeight()));
    ShowZoomPercentage();
}

// ---------------------------------------------------------------------------------------------
// Zoom, mirror, pan and zoom

void CTavrelDlg::ShowViewState() {
    ShowZoomPercentage();
    UpdateZoomButtons();
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
    m_life.setPanWindowWanted();
}

// ---------------------------------------------------------------------------------------------
// Files, languages

void CTavrelDlg::ChooseSaveFolder() {
    const QString chosen = m_folderPicker(this, g_strFolderTips, m_texts.m_strFolder, saveFolder());
    if (chosen.isEmpty()) {
        return;
    }
    m_session.ChooseSaveFolder(chosen);
    m_bNoteStays = false;
    SetStatusText(2, saveFolder());
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
