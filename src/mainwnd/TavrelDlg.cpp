#include "mainwnd/TavrelDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include "app/LanguageText.h"
#include "app/ProfileFile.h"
#include "app/TavrelApp.h"
#include "app/TextTable.h"
#include "display/PreviewWidget.h"
#include "mainwnd/AboutDlg.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/Icons.h"
#include "mainwnd/SaveFolder.h"

namespace {

// Looks a text up with its built-in default from the program's text table.
QString LookUp(const char* section, const char* key) {
    const QString sectionName = QLatin1String(section);
    const QString keyName = QLatin1String(key);
    return GetLanguageText(sectionName, keyName, BuiltInDefault(sectionName, keyName));
}

QString MainText(const char* key) { return LookUp("MainWnd", key); }

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

CTavrelDlg::CTavrelDlg(CTavrelApp& app, QWidget* parent) : QMainWindow(parent), m_app(app) {
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

    UpdateCommandStates();

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

    m_preview->setHint(MainText("NOCAMERAHINT"));
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
    if (QAction* zoomOut = toolAction(Cmd::ZoomOut)) {
        zoomOut->setEnabled(m_fZoom > 1.0f);
    }
    toolAction(Cmd::HMirror)->setChecked(m_bHMirror);
    toolAction(Cmd::VMirror)->setChecked(m_bVMirror);
    SetMenuChecked(Cmd::VMirror, m_bVMirror);
    SetMenuChecked(Cmd::HMirror, m_bHMirror);

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
        default:
            // Commands of features that act on the camera picture: with no camera open and no
            // frame arrived they have nothing to act on.
            break;
    }
}

void CTavrelDlg::OnExit() {
    close();
}

void CTavrelDlg::OnPlay() {
    if (HaveCameraPicture() && HaveSourceFilter()) {
        m_bWantPreview = !m_bWantPreview;
        SetToolbarImage(ToolSlot::Play, m_bWantPreview ? Icon::Playing : Icon::Paused);
        SetMenuChecked(Cmd::Play, !m_bWantPreview);
        ApplyLanguageTexts();
        return;
    }
    // No camera picture yet: the support check runs again once discovery is part of the
    // build; until then there is no camera to open.
}

void CTavrelDlg::OnLanguage(int id) {
    const int index = id - Cmd::LangChinese;
    const QString name = QLatin1String(kLanguageNames[size_t(index)]);
    ProfileFile settings(m_app.m_strSettingFile);
    settings.writeString(QStringLiteral("LANGUAGESET"), QStringLiteral("LANGUAGE"), name);
    m_app.SetLanguageName(name);
    settings.writeString(QStringLiteral("LANGUAGESET"), QStringLiteral("INDEX"),
                         QString::number(index));
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
// Camera state (the camera layer is not part of this build yet)

bool CTavrelDlg::HaveCameraPicture() const {
    return false;
}

bool CTavrelDlg::HaveSourceFilter() const {
    return false;
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
    // Order: camera parameters to flash (normal mode), tool windows, capture graph, frame
    // store, then the notifications. The features that own those steps hook in here as they
    // join the build; the frame lock lives as long as the window object.
}
