#include "mainwnd/TavrelDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <mutex>

#include "app/LanguageText.h"
#include "app/ProfileFile.h"
#include "app/TavrelApp.h"
#include "app/TextTable.h"
#include "capture/CameraSystem.h"
#include "contracts/Image.h"
#include "device/CameraDiscovery.h"
#include "device/SupportCheck.h"
#include "device/UsbDeviceSource.h"
#include "display/MaskWnd.h"
#include "display/PreviewWidget.h"
#include "display/ZoomMirror.h"
#include "mainwnd/AboutDlg.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/Icons.h"
#include "mainwnd/SaveFolder.h"
#include "output/Snapshot.h"

namespace {

// Looks a text up with its built-in default from the program's text table.
QString LookUp(const char* section, const char* key) {
    const QString sectionName = QLatin1String(section);
    const QString keyName = QLatin1String(key);
    return GetLanguageText(sectionName, keyName, BuiltInDefault(sectionName, keyName));
}

QString MainText(const char* key) {
    return LookUp("MainWnd", key);
}

constexpr int kToolbarCommands[10] = {Cmd::Play,        Cmd::Snap,      Cmd::Record,  Cmd::ZoomIn,
                                      Cmd::ZoomOut,     Cmd::ZoomReset, Cmd::HMirror, Cmd::VMirror,
                                      Cmd::MirrorReset, Cmd::Property};

// The pictures the toolbar starts with, slot by slot.
constexpr int kInitialImages[10] = {Icon::Playing,
                                    Icon::Snap,
                                    Icon::Record,
                                    Icon::ZoomIn,
                                    Icon::ZoomOutDisabled,
                                    Icon::ZoomResetDisabled,
                                    Icon::HMirrorOff,
                                    Icon::VMirrorOff,
                                    Icon::MirrorResetDisabled,
                                    Icon::ExposureManual};

}  // namespace

CTavrelDlg::CTavrelDlg(CTavrelApp& app, QWidget* parent)
    : QMainWindow(parent),
      m_app(app),
      m_cameras(std::make_unique<CameraSystem>(app.m_bVirtualCamera)),
      m_discovery(std::make_unique<CameraDiscovery>(*m_cameras)),
      m_usbSource(std::make_unique<UdevUsbDeviceSource>(m_cameras.get())),
      m_support(std::make_unique<SupportCheck>(app, *m_discovery, *m_usbSource)),
      m_graph(*m_cameras, m_intake, m_intake) {
    setWindowIcon(IconById(Icon::App));
    setWindowTitle(QStringLiteral("Orvane"));
    m_folderPicker = [](QWidget* owner, const QString& caption, const QString& start) {
        return QFileDialog::getExistingDirectory(owner, caption, start, QFileDialog::ShowDirsOnly);
    };

    m_preview = new PreviewWidget(this);
    setCentralWidget(m_preview);

    BuildMenus();
    LoadSaveFolder();
    ApplyLanguageTexts();
    BuildToolBar();
    BuildStatusBar();

    TransformState transform = m_frameStore.transform();
    transform.factoryMode = m_bFactoryMode;
    m_frameStore.setTransform(transform);
    m_display = std::make_unique<DisplayWorker>(m_frameStore, m_overlay, m_preview);
    m_frameStore.onFramePublished = [this] {
        m_display->notifyFrame();
        // The command states change only with the first frame; tell the GUI thread once.
        if (!m_enablesShowPicture && !m_frameShownPending.exchange(true)) {
            QMetaObject::invokeMethod(
                this, [this] { OnFrameShown(); }, Qt::QueuedConnection);
        }
    };
    m_intake.hasSource = [this] { return HaveSourceFilter(); };
    // The camera's button arrives on a camera thread; the snapshot itself runs on the GUI
    // thread (it shows its file name), stamped with the moment of the press.
    m_intake.takeSnapshot = [this] {
        const QDateTime when = QDateTime::currentDateTime();
        QMetaObject::invokeMethod(
            this, [this, when] { OnSnap(when); }, Qt::QueuedConnection);
    };

    m_timerRecordStatus = new QTimer(this);
    m_timerRecordStatus->setInterval(1000);
    connect(m_timerRecordStatus, &QTimer::timeout, this, &CTavrelDlg::OnRecordStatusTimer);
    m_timerRecordFrame = new QTimer(this);
    m_timerRecordFrame->setInterval(34);
    m_timerRecordFrame->setTimerType(Qt::PreciseTimer);
    connect(m_timerRecordFrame, &QTimer::timeout, this, &CTavrelDlg::OnRecordFrameTimer);
    m_frameStore.onRecorderStep = [this] {
        m_recorder.StartPendingRecording(m_frameStore.lastWidth(), m_frameStore.lastHeight());
    };
    Recorder::Callbacks callbacks;
    callbacks.started = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_timerRecordStatus->start();
                m_timerRecordFrame->start();
                SetToolbarImage(ToolSlot::Record, Icon::Recording);
            },
            Qt::QueuedConnection);
    };
    callbacks.openFailed = [this](const QString&) {
        // The text is looked up (and lands in the language file) but not shown.
        QMetaObject::invokeMethod(
            this,
            [this] {
                SetToolbarImage(ToolSlot::Record, Icon::Record);
                SetMenuChecked(Cmd::Record, false);
            },
            Qt::QueuedConnection);
    };
    callbacks.writeFailed = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                StopRecordingTimers();
                SetToolbarImage(ToolSlot::Record, Icon::Record);
                SetMenuChecked(Cmd::Record, false);
                SetCommandEnabled(Cmd::Play, true);
                SetStatusText(2, MainText("RECORDFAILED"));
            },
            Qt::QueuedConnection);
    };
    m_recorder.setCallbacks(std::move(callbacks));

    if (FindSupportedCameras() > 0) {
        ChooseDevice(m_app.m_pCameraMoniker[0]);
    }
    UpdateCommandStates();
    UpdateCommandEnables();

    // The language in force carries the check mark; each item shows its flag.
    const QString& lang = m_app.m_strLanguageFile;
    int checked = Cmd::LangChinese;
    if (lang.endsWith(QLatin1String("/English.lng"))) {
        checked = Cmd::LangEnglish;
    } else if (lang.endsWith(QLatin1String("/Japanese.lng"))) {
        checked = Cmd::LangJapanese;
    }
    SetMenuChecked(checked, true);
    menuAction(Cmd::LangChinese)->setIcon(IconById(Icon::FlagChinese));
    menuAction(Cmd::LangEnglish)->setIcon(IconById(Icon::FlagEnglish));
    menuAction(Cmd::LangJapanese)->setIcon(IconById(Icon::FlagJapanese));

    adjustSize();
}

CTavrelDlg::~CTavrelDlg() {
    DestroyWindow();
}

// ---------------------------------------------------------------------------------------------
// Building the window

QAction* CTavrelDlg::AddMenuCommand(QMenu* menu, int id, const QString& resourceText,
                                    bool checkable) {
    auto* action = menu->addAction(resourceText);
    action->setData(id);
    action->setCheckable(checkable);
    connect(action, &QAction::triggered, this, [this, id, action] {
        // Check marks are set by the handlers alone: undo the toggle Qt made on the click.
        if (action->isCheckable()) {
            action->setChecked(!action->isChecked());
        }
        OnCommand(id);
    });
    m_menuActions[id] = action;
    return action;
}

void CTavrelDlg::BuildMenus() {
    QMenuBar* bar = menuBar();
    m_menuFile = bar->addMenu(QStringLiteral("File"));
    AddMenuCommand(m_menuFile, Cmd::ChooseFolder, QStringLiteral("folder"));
    AddMenuCommand(m_menuFile, Cmd::Exit, QStringLiteral("Exit"))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    m_menuSetting = bar->addMenu(QStringLiteral("Setting"));
    m_menuResolution = m_menuSetting->addMenu(QStringLiteral("Resolution"));
    m_menuYuv = m_menuResolution->addMenu(QStringLiteral("YUV"));
    AddMenuCommand(m_menuYuv, Cmd::YuvPlaceholder, QStringLiteral("NULL"));
    m_menuMjpg = m_menuResolution->addMenu(QStringLiteral("MJPG"));
    AddMenuCommand(m_menuMjpg, Cmd::MjpgPlaceholder, QStringLiteral("NULL"));
    m_menuFrequency = m_menuSetting->addMenu(QStringLiteral("Frequency"));
    AddMenuCommand(m_menuFrequency, Cmd::Freq50Hz, QStringLiteral("50HZ"), true);
    AddMenuCommand(m_menuFrequency, Cmd::Freq60Hz, QStringLiteral("60HZ"), true);
    AddMenuCommand(m_menuSetting, Cmd::Property, QStringLiteral("Property"));
    AddMenuCommand(m_menuSetting, Cmd::PanZoomWindow, QStringLiteral("Move"));
    AddMenuCommand(m_menuSetting, Cmd::SaveParameters, QStringLiteral("Save"));
    AddMenuCommand(m_menuSetting, Cmd::RestoreParameters, QStringLiteral("Restore"));
    AddMenuCommand(m_menuSetting, Cmd::Resolution640x480, QStringLiteral("640X480"));

    m_menuControl = bar->addMenu(QStringLiteral("Control"));
    QAction* play = AddMenuCommand(m_menuControl, Cmd::Play, QStringLiteral("Play"), true);
    play->setChecked(true);
    play->setShortcut(QKeySequence(Qt::Key_P));
    AddMenuCommand(m_menuControl, Cmd::Snap, QStringLiteral("Snap"))
        ->setShortcut(QKeySequence(Qt::Key_Space));
    AddMenuCommand(m_menuControl, Cmd::Record, QStringLiteral("Record"), true)
        ->setShortcut(QKeySequence(Qt::Key_R));

    m_menuZoom = bar->addMenu(QStringLiteral("Zoom"));
    AddMenuCommand(m_menuZoom, Cmd::ZoomIn, QStringLiteral("ZoonIn"))
        ->setShortcuts({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)});
    AddMenuCommand(m_menuZoom, Cmd::ZoomOut, QStringLiteral("ZoomOut"))
        ->setShortcuts({QKeySequence(Qt::Key_Minus), QKeySequence(Qt::Key_Underscore)});
    AddMenuCommand(m_menuZoom, Cmd::ZoomReset, QStringLiteral("Reset"))
        ->setShortcut(QKeySequence(Qt::Key_0));

    m_menuMirror = bar->addMenu(QStringLiteral("Mirr"));
    QAction* hmirror = AddMenuCommand(m_menuMirror, Cmd::HMirror, QStringLiteral("HMirror"), true);
    hmirror->setChecked(true);
    hmirror->setShortcut(QKeySequence(Qt::Key_H));
    QAction* vmirror = AddMenuCommand(m_menuMirror, Cmd::VMirror, QStringLiteral("VMirror"), true);
    vmirror->setChecked(true);
    vmirror->setShortcut(QKeySequence(Qt::Key_V));
    AddMenuCommand(m_menuMirror, Cmd::MirrorReset, QStringLiteral("Reset"));

    // The mask window has no menu entry; the M key reaches it.
    auto* mask = new QAction(this);
    mask->setShortcut(QKeySequence(Qt::Key_M));
    connect(mask, &QAction::triggered, this, [this] { OnCommand(Cmd::MaskWindow); });
    addAction(mask);

    m_menuAbout = bar->addMenu(QStringLiteral("About"));
    AddMenuCommand(m_menuAbout, Cmd::About, QStringLiteral("Software"));
    m_menuLanguage = m_menuAbout->addMenu(QStringLiteral("Language"));
    for (int id : {Cmd::LangChinese, Cmd::LangEnglish, Cmd::LangJapanese}) {
        const char* name = kLanguageNames[size_t(id - Cmd::LangChinese)];
        AddMenuCommand(m_menuLanguage, id, QLatin1String(name), true);
    }
}

void CTavrelDlg::BuildToolBar() {
    m_wndToolBar = addToolBar(QStringLiteral("Toolbar"));
    m_wndToolBar->setObjectName(QStringLiteral("MainToolBar"));
    m_wndToolBar->setMovable(false);
    m_wndToolBar->setFloatable(false);
    m_wndToolBar->setIconSize(QSize(22, 20));
    m_wndToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_wndToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    for (int slot = 0; slot < 10; ++slot) {
        if (slot == ToolSlot::ZoomIn || slot == ToolSlot::HMirror || slot == ToolSlot::Property) {
            m_wndToolBar->addSeparator();
        }
        const int id = kToolbarCommands[slot];
        auto* action = new QAction(this);
        action->setData(id);
        // Mirror buttons show a pressed state; the handlers set it.
        action->setCheckable(id == Cmd::HMirror || id == Cmd::VMirror);
        connect(action, &QAction::triggered, this, [this, id, action] {
            if (action->isCheckable()) {
                action->setChecked(!action->isChecked());  // the handler decides
            }
            OnCommand(id);
        });
        m_wndToolBar->addAction(action);
        m_toolActions[id] = action;
        m_toolSlots[size_t(slot)] = action;
        SetToolbarImage(slot, kInitialImages[slot]);
        if (QWidget* button = m_wndToolBar->widgetForAction(action)) {
            button->installEventFilter(this);
            button->setMinimumSize(30, 30);
        }
    }
}

void CTavrelDlg::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    const int widths[3] = {80, 50, 100};
    for (int pane = 0; pane < 3; ++pane) {
        auto* label = new QLabel(bar);
        label->setMinimumWidth(widths[pane]);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        if (pane < 2) {
            label->setFixedWidth(widths[pane]);
            bar->addWidget(label);
        } else {
            bar->addWidget(label, 1);
        }
        m_statusPanes[size_t(pane)] = label;
    }
}

// ---------------------------------------------------------------------------------------------
// Small state setters

QAction* CTavrelDlg::menuAction(int id) const {
    auto it = m_menuActions.find(id);
    return it == m_menuActions.end() ? nullptr : it->second;
}

QAction* CTavrelDlg::toolAction(int id) const {
    auto it = m_toolActions.find(id);
    return it == m_toolActions.end() ? nullptr : it->second;
}

QMenu* CTavrelDlg::topMenu(int position) const {
    const auto actions = menuBar()->actions();
    if (position < 0 || position >= actions.size()) {
        return nullptr;
    }
    return actions[position]->menu();
}

void CTavrelDlg::SetMenuText(int id, const QString& text) {
    if (QAction* action = menuAction(id)) {
        action->setText(text);
    }
}

void CTavrelDlg::SetMenuChecked(int id, bool checked) {
    if (QAction* action = menuAction(id)) {
        action->setChecked(checked);
    }
}

void CTavrelDlg::SetToolbarImage(int slot, int iconId) {
    m_toolbarImages.at(size_t(slot)) = iconId;
    if (QAction* action = m_toolSlots.at(size_t(slot))) {
        action->setIcon(IconById(iconId));
    }
}

void CTavrelDlg::SetStatusText(int pane, const QString& text) {
    if (QLabel* label = m_statusPanes.at(size_t(pane))) {
        label->setText(text);
    }
}

QString CTavrelDlg::statusText(int pane) const {
    QLabel* label = m_statusPanes.at(size_t(pane));
    return label ? label->text() : QString();
}

// ---------------------------------------------------------------------------------------------
// Texts

void CTavrelDlg::ApplyLanguageTexts() {
    setWindowTitle(MainText("MainCaption"));

    auto menuText = [](const char* key) { return LookUp("Menu", key); };
    m_strMenuFile = menuText("FILE");
    m_strMenuSetting = menuText("SETTING");
    m_strMenuControl = menuText("CONTROL");
    m_strMenuZoom = menuText("ZOOM");
    m_strMenuMirror = menuText("MIRROR");
    m_strMenuAbout = menuText("ABOUT");
    const QString titles[6] = {m_strMenuFile, m_strMenuSetting, m_strMenuControl,
                               m_strMenuZoom, m_strMenuMirror,  m_strMenuAbout};
    const auto topActions = menuBar()->actions();
    for (int pos = 0; pos < 6 && pos < topActions.size(); ++pos) {
        topActions[pos]->setText(titles[pos]);
    }

    m_strFilePath = MainText("FILEPATH");
    SetMenuText(Cmd::ChooseFolder, m_strFilePath);
    m_strExit = MainText("EXIT");
    SetMenuText(Cmd::Exit, m_strExit);
    m_strOpen = MainText("OPEN");
    SetMenuText(Cmd::Play, m_strOpen);
    m_strPlay = MainText("PLAY");
    SetMenuText(Cmd::Play, m_strPlay);
    m_strStop = MainText("STOP");
    SetMenuText(Cmd::Play, m_strStop);
    if (HaveSourceFilter()) {
        SetMenuChecked(Cmd::Play, !m_bWantPreview);
    }
    m_strSnap = MainText("SNAP");
    SetMenuText(Cmd::Snap, m_strSnap);
    m_strRecord = MainText("RECORD");
    SetMenuText(Cmd::Record, m_strRecord);
    m_strHMirror = MainText("HMIRROR");
    SetMenuText(Cmd::HMirror, m_strHMirror);
    m_strVMirror = MainText("VMIRROR");
    SetMenuText(Cmd::VMirror, m_strVMirror);
    m_strReMirror = MainText("REMIRROR");
    SetMenuText(Cmd::MirrorReset, m_strReMirror);
    m_strZoomIn = MainText("ZOOMIN");
    SetMenuText(Cmd::ZoomIn, m_strZoomIn);
    m_strZoomOut = MainText("ZOOMOUT");
    SetMenuText(Cmd::ZoomOut, m_strZoomOut);
    m_strReZoom = MainText("REZOOM");
    SetMenuText(Cmd::ZoomReset, m_strReZoom);

    m_strResolution = MainText("RESOLUTION");
    m_menuResolution->setTitle(m_strResolution);
    m_strFrequency = MainText("FREQUENCY");
    m_menuFrequency->setTitle(m_strFrequency);
    m_strProperty = MainText("PERPROTY");
    SetMenuText(Cmd::Property, m_strProperty);

    m_strAutoExposure = MainText("AUTOEXPOSURE");
    m_strManualExposure = MainText("MANUALEXPOSURE");
    g_strFolderTips = MainText("FOLDERTIPS");
    m_strFolder = MainText("FOLDER");

    m_strSaveParam = MainText("SAVEPARAM");
    SetMenuText(Cmd::SaveParameters, m_strSaveParam);
    m_strRestore = MainText("RESTORE");
    SetMenuText(Cmd::RestoreParameters, m_strRestore);
    m_strMove = MainText("MOVE");
    SetMenuText(Cmd::PanZoomWindow, m_strMove);
    SetMenuText(Cmd::About, MainText("VERSION"));

    auto langText = [](const char* key) { return LookUp("MENU", key); };
    SetMenuText(Cmd::LangChinese, langText("CHINESE"));
    SetMenuText(Cmd::LangEnglish, langText("ENGLISH"));
    SetMenuText(Cmd::LangJapanese, langText("JAPANESE"));
    m_strMenuLanguage = langText("LAN");
    m_menuLanguage->setTitle(m_strMenuLanguage);

    m_strStartTime = MainText("STARTTIME");
    m_strStoreInfo = MainText("STOREINFO");
    m_strRestoreInfo = MainText("RESTOREINFO");
    m_strTimeLen = MainText("TIMELEN");

    if (m_preview) {
        m_preview->setHint(MainText("NOCAMERAHINT"));
    }
}

QString CTavrelDlg::OnToolTipText(int id) const {
    switch (id) {
        case Cmd::Play:
            if (!HaveCameraPicture()) {
                return m_strOpen;
            }
            return m_bWantPreview ? m_strStop : m_strPlay;
        case Cmd::Snap:
            return m_strSnap;
        case Cmd::Record:
            return m_strRecord;
        case Cmd::ZoomIn:
            return m_strZoomIn;
        case Cmd::ZoomOut:
            return m_strZoomOut;
        case Cmd::ZoomReset:
            return m_strReZoom;
        case Cmd::HMirror:
            return m_strHMirror;
        case Cmd::VMirror:
            return m_strVMirror;
        case Cmd::MirrorReset:
            return m_strReMirror;
        case Cmd::Property:
            if (m_bFactoryMode) {
                return m_strProperty;
            }
            return m_bExposureAuto ? m_strManualExposure : m_strAutoExposure;
        default:
            return {};
    }
}

void CTavrelDlg::UpdateCommandStates() {
    const TransformState t = m_frameStore.transform();
    if (QAction* zoomOut = toolAction(Cmd::ZoomOut)) {
        zoomOut->setEnabled(t.m_fZoom > 1.0f);
    }
    toolAction(Cmd::HMirror)->setChecked(t.m_bHMirror);
    toolAction(Cmd::VMirror)->setChecked(t.m_bVMirror);
    SetMenuChecked(Cmd::VMirror, t.m_bVMirror);
    SetMenuChecked(Cmd::HMirror, t.m_bHMirror);

    if (!m_bFactoryMode) {
        for (int id : {Cmd::RestoreParameters, Cmd::SaveParameters, Cmd::PanZoomWindow,
                       Cmd::Property, Cmd::Resolution640x480}) {
            auto it = m_menuActions.find(id);
            if (it != m_menuActions.end()) {
                m_menuSetting->removeAction(it->second);
                it->second->deleteLater();
                m_menuActions.erase(it);
            }
        }
        SetToolbarImage(ToolSlot::Property,
                        m_bExposureAuto ? Icon::ExposureAuto : Icon::ExposureManual);
    }
    ApplyLanguageTexts();
}

// ---------------------------------------------------------------------------------------------
// Commands

void CTavrelDlg::OnCommand(int id) {
    switch (id) {
        case Cmd::ChooseFolder:
            OnChooseFolder();
            break;
        case Cmd::Exit:
            OnExit();
            break;
        case Cmd::Play:
            OnPlay();
            break;
        case Cmd::About:
            OpenAboutWindow();
            ApplyLanguageTexts();
            break;
        case Cmd::LangChinese:
        case Cmd::LangEnglish:
        case Cmd::LangJapanese:
            OnLanguage(id);
            break;
        case Cmd::Resolution640x480:
            On640x480();
            break;
        case Cmd::Freq50Hz:
            OnPowerLineFrequency(1);
            break;
        case Cmd::Freq60Hz:
            OnPowerLineFrequency(2);
            break;
        case Cmd::ZoomIn:
            OnZoomIn();
            break;
        case Cmd::ZoomOut:
            OnZoomOut();
            break;
        case Cmd::ZoomReset:
            OnZoomReset();
            break;
        case Cmd::HMirror:
        case Cmd::VMirror:
            OnMirror(id);
            break;
        case Cmd::MirrorReset:
            OnMirrorReset();
            break;
        case Cmd::MaskWindow:
            OpenMaskWindow();
            break;
        case Cmd::Snap:
            OnSnap(QDateTime::currentDateTime());
            break;
        case Cmd::Record:
            OnRecord();
            break;
        default:
            if (StreamFormats::isResolutionCommand(id)) {
                OnResolutionCommand(id);
            }
            break;
    }
    UpdateCommandEnables();
}

// ---------------------------------------------------------------------------------------------
// Zoom and mirror

void CTavrelDlg::OnZoomIn() {
    if (!HaveSourceFilter() || !HaveCameraPicture()) {
        return;
    }
    if (m_frameStore.transform().m_fZoom >= 2.0f) {
        UpdateZoomButtons();
        return;
    }
    m_frameStore.updateTransform([](TransformState& t) { t.m_fZoom = ZoomInStep(t.m_fZoom); });
    ShowZoomPercentage();
    UpdateZoomButtons();
    SetCommandEnabled(Cmd::ZoomOut, true);
    SetCommandEnabled(Cmd::ZoomReset, true);
}

void CTavrelDlg::OnZoomOut() {
    if (!HaveSourceFilter() || !HaveCameraPicture()) {
        return;
    }
    m_frameStore.updateTransform([](TransformState& t) { t.m_fZoom = ZoomOutStep(t.m_fZoom); });
    SetCommandEnabled(Cmd::ZoomIn, true);
    SetCommandEnabled(Cmd::ZoomReset, true);
    if (m_frameStore.transform().m_fZoom <= 1.0f) {
        SetCommandEnabled(Cmd::ZoomOut, false);
    }
    ShowZoomPercentage();
    UpdateZoomButtons();
}

void CTavrelDlg::OnZoomReset() {
    if (!HaveSourceFilter() || !HaveCameraPicture()) {
        return;
    }
    m_frameStore.updateTransform([](TransformState& t) { t.m_fZoom = 1.0f; });
    SetCommandEnabled(Cmd::ZoomOut, false);
    ShowZoomPercentage();
    UpdateZoomButtons();
}

void CTavrelDlg::OnMirror(int id) {
    if (!HaveSourceFilter() || !HaveCameraPicture()) {
        return;
    }
    bool on = false;
    m_frameStore.updateTransform([&](TransformState& t) {
        bool& flag = id == Cmd::HMirror ? t.m_bHMirror : t.m_bVMirror;
        flag = !flag;
        on = flag;
    });
    SetMenuChecked(id, on);
    UpdateMirrorButtons();
    toolAction(id)->setChecked(on);
}

void CTavrelDlg::OnMirrorReset() {
    if (!HaveSourceFilter() || !HaveCameraPicture()) {
        return;
    }
    m_frameStore.updateTransform([](TransformState& t) {
        t.m_bHMirror = false;
        t.m_bVMirror = false;
    });
    toolAction(Cmd::VMirror)->setChecked(false);
    toolAction(Cmd::HMirror)->setChecked(false);
    UpdateMirrorButtons();
    SetMenuChecked(Cmd::VMirror, false);
    SetMenuChecked(Cmd::HMirror, false);
}

void CTavrelDlg::UpdateZoomButtons() {
    const auto icons = ZoomButtonIcons(m_frameStore.transform().m_fZoom);
    SetToolbarImage(ToolSlot::ZoomIn, icons[0]);
    SetToolbarImage(ToolSlot::ZoomOut, icons[1]);
    SetToolbarImage(ToolSlot::ZoomReset, icons[2]);
}

void CTavrelDlg::UpdateMirrorButtons() {
    const TransformState t = m_frameStore.transform();
    const auto icons = MirrorButtonIcons(t.m_bHMirror, t.m_bVMirror);
    SetToolbarImage(ToolSlot::HMirror, icons[0]);
    SetToolbarImage(ToolSlot::VMirror, icons[1]);
    SetToolbarImage(ToolSlot::MirrorReset, icons[2]);
}

void CTavrelDlg::SetCommandEnabled(int id, bool enabled) {
    if (QAction* action = menuAction(id)) {
        action->setEnabled(enabled);
    }
    if (QAction* action = toolAction(id)) {
        action->setEnabled(enabled);
    }
}

void CTavrelDlg::UpdateCommandEnables() {
    const bool picture = HaveCameraPicture();
    for (int id : {Cmd::ChooseFolder, Cmd::Property, Cmd::Snap, Cmd::Record, Cmd::ZoomIn,
                   Cmd::ZoomReset, Cmd::HMirror, Cmd::VMirror, Cmd::MirrorReset}) {
        SetCommandEnabled(id, picture);
    }
    SetCommandEnabled(Cmd::ZoomOut, picture && m_frameStore.transform().m_fZoom > 1.0f);
    m_enablesShowPicture = picture;
}

void CTavrelDlg::OnExit() {
    close();
}

void CTavrelDlg::OnPlay() {
    // A camera that is open but paused without a picture (a format chosen while paused) is
    // started too; otherwise nothing could ever start it again.
    if (HaveSourceFilter() && (HaveCameraPicture() || !m_bWantPreview)) {
        m_bWantPreview = !m_bWantPreview;
        if (m_bWantPreview) {
            SetToolbarImage(ToolSlot::Play, Icon::Playing);
            if (m_graph.state() != CaptureGraph::State::Rendered) {
                RenderPreview();
            }
            StartPreview();
        } else {
            SetToolbarImage(ToolSlot::Play, Icon::Paused);
            StopPreview();
        }
        SetMenuChecked(Cmd::Play, !m_bWantPreview);
        ApplyLanguageTexts();
        return;
    }
    // No camera picture yet: look for a camera again (one may have been plugged in).
    if (FindSupportedCameras() > 0) {
        ChooseDevice(m_app.m_pCameraMoniker[0]);
    }
}

void CTavrelDlg::OnLanguage(int id) {
    const int index = id - Cmd::LangChinese;
    const QString name = QLatin1String(kLanguageNames[size_t(index)]);
    m_app.ChooseLanguage(name, index);
    ApplyLanguageTexts();
    // The check mark follows the language in force (the flags alone would not show which).
    for (int other : {Cmd::LangChinese, Cmd::LangEnglish, Cmd::LangJapanese}) {
        SetMenuChecked(other, other == id);
    }
    menuBar()->update();
}

void CTavrelDlg::OpenAboutWindow() {
    CAboutDlg about(m_app, this);
    about.exec();
}

// ---------------------------------------------------------------------------------------------
// Save folder

void CTavrelDlg::LoadSaveFolder() {
    m_strSaveFolder = ReadSaveFolder(m_app.m_strSettingFile, m_app.m_strPicturesFolder);
    m_bFactoryMode = m_app.m_bFactoryMode;
}

void CTavrelDlg::OnChooseFolder() {
    if (!HaveCameraPicture() || !HaveSourceFilter()) {
        return;
    }
    const QString chosen = m_folderPicker(this, g_strFolderTips, m_strSaveFolder);
    if (chosen.isEmpty()) {
        return;
    }
    m_strSaveFolder = WithTrailingSlash(chosen);
    ProfileFile(m_app.m_strSettingFile)
        .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), m_strSaveFolder);
    SetStatusText(2, m_strSaveFolder);
}

// ---------------------------------------------------------------------------------------------
// Camera: discovery, capture graph, stream formats

bool CTavrelDlg::HaveCameraPicture() const {
    return m_frameStore.hasCurrentImage();
}

bool CTavrelDlg::HaveSourceFilter() const {
    return m_graph.source() != nullptr;
}

void CTavrelDlg::NoteFailure(const QString& key) {
    const QString section = QStringLiteral("WndMessage");
    GetLanguageText(section, key, BuiltInDefault(section, key));
}

int CTavrelDlg::FindSupportedCameras() {
    const int count = m_support->FindSupportedCameras();
    m_app.m_pCameraMoniker = m_support->cameras();
    return count;
}

void CTavrelDlg::ChooseDevice(const CameraId& camera) {
    if (m_pVideoMoniker.isValid() && m_pVideoMoniker == camera && HaveSourceFilter()) {
        return;  // the camera already chosen: no stop, no rebuild
    }
    m_pVideoMoniker = camera;
    if (m_graph.state() == CaptureGraph::State::Running) {
        StopPreview();
    }
    if (m_graph.state() == CaptureGraph::State::Rendered) {
        TearDownGraph();
    }
    FreeCaptureFilters();
    BuildCaptureGraph();
    if (m_bWantPreview) {
        RenderPreview();
        StartPreview();
    }
}

bool CTavrelDlg::BuildCaptureGraph() {
    if (!m_pVideoMoniker.isValid() || !m_graph.build(m_pVideoMoniker)) {
        NoteFailure(QStringLiteral("NOOPENSOURCE"));
        FreeCaptureFilters();
        return false;
    }
    // The camera's stored parameter block is read here once the flash parameters join the
    // build; until then the stream choice keeps its construction values.
    Camera* camera = m_graph.source();
    m_formats.setCapabilities(camera->formats());
    if (m_formats.capabilities().empty()) {
        // No format to choose from: the build goes on without a stream choice.
        const QString section = QStringLiteral("WndMessage");
        GetLanguageText(section, QStringLiteral("NOSUPPORT"),
                        QStringLiteral("没有找到VCapture:IAMStreamConfig接口"));
    } else {
        EnumerateResolutions();
    }
    OnPowerLineFrequency(m_formats.m_nPowerLineFreq == 1 ? 1 : 2);
    SetMenuChecked(Cmd::Freq50Hz, m_formats.m_nPowerLineFreq == 1);
    SetMenuChecked(Cmd::Freq60Hz, m_formats.m_nPowerLineFreq != 1);
    for (int id : {Cmd::Freq50Hz, Cmd::Freq60Hz}) {
        if (QAction* action = menuAction(id)) {
            action->setEnabled(true);
        }
    }
    return true;
}

void CTavrelDlg::EnumerateResolutions() {
    m_formats.enumerate(m_bFactoryMode);
    RebuildResolutionMenus();
    if (auto format = m_formats.selectedFormat()) {
        m_graph.source()->setFormat(*format);
    }
    const CameraFormat current = m_graph.source()->currentFormat();
    if (current.width > 0 && current.height > 0) {
        m_frameStore.setVideoSize(current.width, current.height);
        RecomputePanCentre();
    }
    CheckResolutionEntry();
}

void CTavrelDlg::RebuildResolutionMenus() {
    for (auto it = m_menuActions.begin(); it != m_menuActions.end();) {
        if (StreamFormats::isResolutionCommand(it->first) || it->first == Cmd::YuvPlaceholder ||
            it->first == Cmd::MjpgPlaceholder) {
            it = m_menuActions.erase(it);
        } else {
            ++it;
        }
    }
    auto addEntries = [this](QMenu* menu, const std::vector<ResolutionEntry>& entries) {
        for (const ResolutionEntry& entry : entries) {
            AddMenuCommand(menu, entry.commandId, entry.text, true);
        }
    };
    if (m_bFactoryMode) {
        if (!m_menuYuv) {
            m_menuResolution->clear();
            m_menuYuv = m_menuResolution->addMenu(QStringLiteral("YUV"));
            m_menuMjpg = m_menuResolution->addMenu(QStringLiteral("MJPG"));
        }
        m_menuYuv->menuAction()->setCheckable(true);
        m_menuMjpg->menuAction()->setCheckable(true);
        m_menuYuv->clear();
        m_menuMjpg->clear();
        addEntries(m_menuYuv, m_formats.yuvList());
        addEntries(m_menuMjpg, m_formats.mjpgList());
    } else {
        // Normal mode: one flat list in place of the two submenus.
        m_menuResolution->clear();
        m_menuYuv = nullptr;
        m_menuMjpg = nullptr;
        addEntries(m_menuResolution, m_formats.flatList());
    }
}

void CTavrelDlg::CheckResolutionEntry() {
    if (!HaveSourceFilter()) {
        return;
    }
    const CameraFormat current = m_graph.source()->currentFormat();
    QMenu* list = m_menuResolution;
    if (m_bFactoryMode && m_menuYuv && m_menuMjpg) {
        m_menuMjpg->menuAction()->setChecked(current.isMjpg());
        m_menuYuv->menuAction()->setChecked(!current.isMjpg());
        list = current.isMjpg() ? m_menuMjpg : m_menuYuv;
    }
    const auto entries = list->actions();
    for (int i = 0; i < entries.size(); ++i) {
        if (!entries[i]->menu()) {
            entries[i]->setChecked(i == m_formats.m_nResolutionIndex);
        }
    }
}

bool CTavrelDlg::RenderPreview() {
    if (m_graph.state() == CaptureGraph::State::Rendered) {
        return true;
    }
    if (!m_graph.render()) {
        if (!m_graph.failureKey().isEmpty()) {
            NoteFailure(m_graph.failureKey());
        }
        return false;
    }
    return true;
}

bool CTavrelDlg::StartPreview() {
    FitWindowToVideo();
    // The overlay and the placeholder picture join here with the live-picture feature.
    if (m_graph.state() == CaptureGraph::State::Running) {
        return true;
    }
    if (m_graph.state() != CaptureGraph::State::Rendered) {
        return false;
    }
    m_overlay.BuildOverlay(videoWidth(), videoHeight());
    m_display->showPlaceholder();
    if (!m_graph.run()) {
        NoteFailure(QStringLiteral("CONNOTPREVIEW"));
        return false;
    }
    if (HaveSourceFilter()) {
        SetMenuChecked(Cmd::Play, !m_bWantPreview);
    }
    UpdateZoomButtons();
    UpdateMirrorButtons();
    SetToolbarImage(ToolSlot::Play, Icon::Playing);
    SetStatusText(2, m_app.m_strCameraName[0]);
    return true;
}

bool CTavrelDlg::StopPreview() {
    if (m_graph.state() != CaptureGraph::State::Running) {
        return false;
    }
    m_graph.stop();
    SetToolbarImage(ToolSlot::Play, Icon::Paused);
    return true;
}

void CTavrelDlg::TearDownGraph() {
    m_graph.tearDown();
}

void CTavrelDlg::FreeCaptureFilters() {
    m_graph.free();
}

void CTavrelDlg::RecomputePanCentre() {
    m_frameStore.updateTransform([this](TransformState& t) {
        t.m_nCenterX = int((m_fPanX + 1.0f) * (float(t.m_nVideoWidth) * 0.5f));
        t.m_nCenterY =
            int(float(t.m_nVideoHeight) - (m_fPanY + 1.0f) * (float(t.m_nVideoHeight) * 0.5f));
    });
}

void CTavrelDlg::ShowZoomPercentage() {
    SetStatusText(1, QStringLiteral("%1%").arg(int(m_frameStore.transform().m_fZoom * 100.0f)));
}

void CTavrelDlg::FitWindowToVideo() {
    int w = videoWidth();
    int h = videoHeight();
    if (w <= 0 || h <= 0) {
        w = 640;
        h = 480;
    }
    const QRect screen =
        this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
    QSize area(w, h);
    if (w >= screen.width() - 48) {
        // Too wide for the screen: the window spans it and the picture is scaled into it.
        const int chrome = height() - m_preview->height();
        area = QSize(screen.width() - 4, screen.height() - std::max(chrome, 36));
    }
    m_preview->setPreferredSize(area);
    m_preview->setMinimumSize(std::min(area.width(), 160), std::min(area.height(), 120));
    if (!isMaximized() && !isFullScreen()) {
        adjustSize();
        resize(sizeHint());
    }
    SetStatusText(0, StreamFormats::entryText(videoWidth(), videoHeight()));
    ShowZoomPercentage();
}

void CTavrelDlg::ApplyResolution(const CameraFormat& format) {
    if (!HaveSourceFilter()) {
        return;
    }
    if (m_bWantPreview) {
        StopPreview();
    }
    if (m_graph.state() == CaptureGraph::State::Rendered) {
        TearDownGraph();
    }
    if (m_graph.source()->setFormat(format)) {
        const CameraFormat current = m_graph.source()->currentFormat();
        m_frameStore.setVideoSize(current.width, current.height);
        RecomputePanCentre();
    }
    m_frameStore.DeleteCurrentImage();
    m_overlay.BuildOverlay(videoWidth(), videoHeight());
    m_display->showPlaceholder();
    UpdateCommandEnables();
    if (m_bWantPreview) {
        RenderPreview();
        StartPreview();
    }
}

void CTavrelDlg::OnResolutionCommand(int id) {
    const auto format = m_formats.formatForCommand(id);
    if (!format) {
        return;
    }
    m_intake.ResetStillTrigger();
    m_formats.m_bMjpgSelected = StreamFormats::isMjpgCommand(id);
    for (auto& [cmd, action] : m_menuActions) {
        if (StreamFormats::isResolutionCommand(cmd)) {
            action->setChecked(cmd == id);
        }
    }
    if (m_bFactoryMode && m_menuYuv && m_menuMjpg) {
        m_menuYuv->menuAction()->setChecked(!m_formats.m_bMjpgSelected);
        m_menuMjpg->menuAction()->setChecked(m_formats.m_bMjpgSelected);
    }
    ApplyResolution(*format);
    m_formats.m_nResolutionIndex =
        id - (m_formats.m_bMjpgSelected ? StreamFormats::kMjpgFirstId : StreamFormats::kYuvFirstId);
    m_intake.ResetStillTrigger();
}

void CTavrelDlg::On640x480() {
    m_intake.ResetStillTrigger();
    m_formats.m_bMjpgSelected = false;
    for (auto& [cmd, action] : m_menuActions) {
        if (StreamFormats::isResolutionCommand(cmd)) {
            action->setChecked(cmd == StreamFormats::kYuvFirstId);
        }
    }
    if (m_menuYuv && m_menuMjpg) {
        m_menuYuv->menuAction()->setChecked(true);
        m_menuMjpg->menuAction()->setChecked(false);
    }
    // The first uncompressed capability, whatever its size.
    if (auto format = m_formats.formatForCommand(StreamFormats::kYuvFirstId)) {
        ApplyResolution(*format);
    }
    m_intake.ResetStillTrigger();
    m_formats.m_nResolutionIndex = 0;
}

void CTavrelDlg::OnPowerLineFrequency(int value) {
    Camera* camera = m_graph.source();
    if (!camera || !HaveCameraPicture() || !camera->hasPowerLineFrequency()) {
        return;  // before the first frame the setting is not sent
    }
    camera->setPowerLineFrequency(value);
    m_formats.m_nPowerLineFreq = value;
    SetMenuChecked(Cmd::Freq50Hz, value == 1);
    SetMenuChecked(Cmd::Freq60Hz, value != 1);
}

void CTavrelDlg::OnFrameShown() {
    m_frameShownPending = false;
    if (m_enablesShowPicture != HaveCameraPicture()) {
        UpdateCommandEnables();
    }
}

void CTavrelDlg::OnSnap(const QDateTime& when) {
    if (!HaveCameraPicture() || !HaveSourceFilter()) {
        return;
    }
    const SnapshotResult result = TakeSnapshot(
        m_strSaveFolder, when, m_frameStore.lock(), [this] { return &m_display->composed(); },
        [this] { return m_frameStore.currentImage() != nullptr; });
    // The file name is shown either way; a short note says when no file was written.
    SetStatusText(2, result.written ? result.fileName : result.fileName + MainText("SNAPFAILED"));
}

void CTavrelDlg::OnRecord() {
    if (!HaveCameraPicture() || !HaveSourceFilter() ||
        m_graph.state() != CaptureGraph::State::Running) {
        return;  // also no stop while the preview is paused
    }
    if (m_recorder.recordState() == 1) {
        if (m_recorder.Request(m_strSaveFolder, QDateTime::currentDateTime())) {
            m_strRecordElapsed = ElapsedText(0);
            SetToolbarImage(ToolSlot::Record, Icon::Recording);
        }
    } else {
        m_timerRecordFrame->stop();
        m_recorder.Stop();
        m_timerRecordStatus->stop();
        SetStatusText(2, m_recorder.fileName());
        SetCommandEnabled(Cmd::Play, true);
        SetToolbarImage(ToolSlot::Record, Icon::Record);
    }
    m_wndToolBar->update();
    SetMenuChecked(Cmd::Record, m_recorder.recordState() == 0);
}

void CTavrelDlg::OnRecordStatusTimer() {
    SetStatusText(2, RecordingStatus(m_strStartTime, m_recorder.startText(), m_strTimeLen,
                                     m_strRecordElapsed));
}

void CTavrelDlg::OnRecordFrameTimer() {
    {
        std::lock_guard<std::mutex> lock(m_frameStore.lock());
        const Image& composed = m_display->composed();
        if (m_recorder.recordState() != 1 && composed.HasPixels()) {
            m_recorder.SampleFrame(composed);
        }
    }
    m_strRecordElapsed = ElapsedText(m_recorder.elapsedMs());
}

void CTavrelDlg::StopRecordingTimers() {
    m_timerRecordFrame->stop();
    m_timerRecordStatus->stop();
}

void CTavrelDlg::OpenMaskWindow() {
    if (!HaveSourceFilter() || !HaveCameraPicture()) {
        return;
    }
    CMaskWnd wnd(
        m_overlay.settings(), &m_frameStore,
        [this](const OverlaySettings& settings) {
            m_overlay.setSettings(settings);
            m_overlay.Rebuild();
        },
        this);
    wnd.exec();
}

// ---------------------------------------------------------------------------------------------
// Events

bool CTavrelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* button = qobject_cast<QToolButton*>(watched);
        if (button && button->defaultAction()) {
            const int id = button->defaultAction()->data().toInt();
            const QString text = OnToolTipText(id);
            auto* help = static_cast<QHelpEvent*>(event);
            if (text.isEmpty()) {
                QToolTip::hideText();
            } else {
                QToolTip::showText(help->globalPos(), text, button);
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CTavrelDlg::keyPressEvent(QKeyEvent* event) {
    // Like a dialog: Enter and Escape end the program.
    switch (event->key()) {
        case Qt::Key_Camera:
        case Qt::Key_WebCam:
            // The camera's snapshot button, when the desktop delivers it as a key to us rather
            // than through the camera's own input device.
            if (!event->isAutoRepeat()) {
                m_intake.OnStillButton();
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
    if (event->type() == QEvent::WindowStateChange && m_display) {
        m_display->setSuspended(isMinimized());
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
    // The capture thread is stopped and joined before the frame store is freed; the frame lock
    // itself lives as long as the window object.
    StopPreview();
    TearDownGraph();
    FreeCaptureFilters();
    // A recording still running is finished with its trailer, not left broken.
    StopRecordingTimers();
    m_recorder.Stop();
    m_display->stop();
    m_frameStore.Free();
}
