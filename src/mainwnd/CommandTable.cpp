#include "mainwnd/CommandTable.h"

#include <QDateTime>
#include <array>

#include "capture/CaptureController.h"
#include "display/MaskWnd.h"
#include "mainwnd/AboutDlg.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"
#include "output/RecordingController.h"
#include "propdlg/CameraProWnd.h"
#include "session/CameraLifecycle.h"
#include "session/CameraSession.h"
#include "settings/AppSettings.h"

namespace {

using C = CommandContext;

// Zoom steps: +1 in, -1 out, 0 back to 100%.
void Zoom(C& c, int step) {
    ViewTransform& view = c.session.view();
    if (step > 0) {
        view.ZoomIn();
    } else if (step < 0) {
        view.ZoomOut();
    } else {
        view.ResetZoom();
    }
}

// Mirrors: 1 left-right, 2 upside-down, 0 both off.
void Mirror(C& c, int which) {
    if (which == 0) {
        c.session.view().ResetMirrors();
    } else {
        c.session.view().ToggleMirror(which == 1);
    }
}

// 1 = 50 Hz, 2 = 60 Hz.
void PowerLine(C& c, int value) {
    c.session.camera().SetPowerLineFrequency(value);
}

// Factory mode: the camera property dialog. Otherwise: automatic or manual exposure.
void Property(C& c, int) {
    CaptureController& camera = c.session.camera();
    if (c.settings.m_bFactoryMode) {
        CCameraProWnd::EditCameraProperties(
            c.settings.m_texts, [&camera] { return camera.captureGraph().source(); },
            camera.parameters(), &c.window, c.window.moveWnd());
    } else {
        camera.ToggleExposureAuto();  // the picture follows through exposureModeChanged
    }
}

void Snap(C& c, int) {
    c.session.recording().Snap(c.session.saveFolder(), QDateTime::currentDateTime());
}

// Starts a recording while the picture runs; a running recording always stops, paused or not.
void Record(C& c, int) {
    RecordingController& recording = c.session.recording();
    if (recording.recording() ||
        c.session.camera().captureGraph().state() == CaptureGraph::State::Running) {
        recording.ToggleRecording(c.session.saveFolder());
    }
}

void Play(C& c, int) {
    if (c.lifecycle.Play()) {
        c.window.ShowPlayState();
    }
}

void SaveParameters(C& c, int) {
    c.window.ShowFlashNote(c.lifecycle.SaveParameters(), false);
}

void RestoreParameters(C& c, int) {
    c.window.ShowFlashNote(c.lifecycle.RestoreParameters(), true);
}

void Language(C& c, int index) {
    c.settings.ChooseLanguage(QLatin1String(kLanguageNames[size_t(index)]), index);
    c.window.ApplyLanguage();
}

void MaskWindow(C& c, int) {
    Overlay& overlay = c.session.overlay();
    CMaskWnd wnd(
        c.settings.m_texts, overlay.settings(), &c.session.frames(),
        [&overlay](const OverlaySettings& settings) {
            overlay.setSettings(settings);
            overlay.Rebuild();
        },
        &c.window);
    wnd.exec();
}

void About(C& c, int) {
    CAboutDlg about(c.settings, &c.window);
    about.exec();
    c.window.ApplyLanguage();  // the About window may have switched it
}

void ChooseFolder(C& c, int) {
    c.window.ChooseSaveFolder();
}

void PanZoomWindow(C& c, int) {
    c.window.OpenPanZoomWindow();
}

void Exit(C& c, int) {
    c.window.close();
}

void Resolution640x480(C& c, int) {
    c.session.camera().Choose640x480();
}

}  // namespace

std::span<const CommandRow> MainCommands() {
    using W = WindowTexts;
    using M = MenuPlace;
    constexpr Guard any = Guard::Always;
    constexpr Guard cam = Guard::CameraOpen;
    constexpr Guard pic = Guard::Picture;
    constexpr Guard zoomed = Guard::PictureZoomed;
    constexpr Guard rem = Guard::NotRemoved;
    constexpr std::array<QKeyCombination, 2> none{};
    // clang-format off
    static const CommandRow rows[] = {
        // id                      menu          text                   fixed text  tool slot              first picture              keys                                   check  factory guard   handler             argument
        {Cmd::ChooseFolder,       M::File,      &W::m_strFilePath,     "folder",   -1,                    0,                         none,                                  false, false, pic,    ChooseFolder,       0},
        {Cmd::Exit,               M::File,      &W::m_strExit,         "Exit",     -1,                    0,                         {Qt::CTRL | Qt::Key_Q},                false, false, any,    Exit,               0},
        {Cmd::Freq50Hz,           M::Frequency, nullptr,               "50HZ",     -1,                    0,                         none,                                  true,  false, rem,    PowerLine,          1},
        {Cmd::Freq60Hz,           M::Frequency, nullptr,               "60HZ",     -1,                    0,                         none,                                  true,  false, rem,    PowerLine,          2},
        {Cmd::Property,           M::Setting,   &W::m_strProperty,     "Property", ToolSlot::Property,    Icon::ExposureManual,      none,                                  false, true,  pic,    Property,           0},
        {Cmd::PanZoomWindow,      M::Setting,   &W::m_strMove,         "Move",     -1,                    0,                         none,                                  false, true,  pic,    PanZoomWindow,      0},
        {Cmd::SaveParameters,     M::Setting,   &W::m_strSaveParam,    "Save",     -1,                    0,                         none,                                  false, true,  pic,    SaveParameters,     0},
        {Cmd::RestoreParameters,  M::Setting,   &W::m_strRestore,      "Restore",  -1,                    0,                         none,                                  false, true,  cam,    RestoreParameters,  0},
        {Cmd::Resolution640x480,  M::Setting,   nullptr,               "640X480",  -1,                    0,                         none,                                  false, true,  rem,    Resolution640x480,  0},
        {Cmd::Play,               M::Control,   &W::m_strStop,         "Play",     ToolSlot::Play,        Icon::Playing,             {QKeyCombination(Qt::Key_P)},          true,  false, any,    Play,               0},
        {Cmd::Snap,               M::Control,   &W::m_strSnap,         "Snap",     ToolSlot::Snap,        Icon::Snap,                {QKeyCombination(Qt::Key_Space)},      false, false, pic,    Snap,               0},
        {Cmd::Record,             M::Control,   &W::m_strRecord,       "Record",   ToolSlot::Record,      Icon::Record,              {QKeyCombination(Qt::Key_R)},          true,  false, pic,    Record,             0},
        {Cmd::ZoomIn,             M::Zoom,      &W::m_strZoomIn,       "ZoonIn",   ToolSlot::ZoomIn,      Icon::ZoomIn,              {Qt::Key_Plus, Qt::Key_Equal},         false, false, pic,    Zoom,               +1},
        {Cmd::ZoomOut,            M::Zoom,      &W::m_strZoomOut,      "ZoomOut",  ToolSlot::ZoomOut,     Icon::ZoomOutDisabled,     {Qt::Key_Minus, Qt::Key_Underscore},   false, false, zoomed, Zoom,               -1},
        {Cmd::ZoomReset,          M::Zoom,      &W::m_strReZoom,       "Reset",    ToolSlot::ZoomReset,   Icon::ZoomResetDisabled,   {QKeyCombination(Qt::Key_0)},          false, false, pic,    Zoom,               0},
        {Cmd::HMirror,            M::Mirror,    &W::m_strHMirror,      "HMirror",  ToolSlot::HMirror,     Icon::HMirrorOff,          {QKeyCombination(Qt::Key_H)},          true,  false, pic,    Mirror,             1},
        {Cmd::VMirror,            M::Mirror,    &W::m_strVMirror,      "VMirror",  ToolSlot::VMirror,     Icon::VMirrorOff,          {QKeyCombination(Qt::Key_V)},          true,  false, pic,    Mirror,             2},
        {Cmd::MirrorReset,        M::Mirror,    &W::m_strReMirror,     "Reset",    ToolSlot::MirrorReset, Icon::MirrorResetDisabled, none,                                  false, false, pic,    Mirror,             0},
        // The mask window has no menu item; the M key reaches it.
        {Cmd::MaskWindow,         M::None,      nullptr,               nullptr,    -1,                    0,                         {QKeyCombination(Qt::Key_M)},          false, false, pic,    MaskWindow,         0},
        {Cmd::About,              M::About,     &W::m_strVersion,      "Software", -1,                    0,                         none,                                  false, false, any,    About,              0},
        {Cmd::LangChinese,        M::Language,  &W::m_strChinese,      "Chinese",  -1,                    0,                         none,                                  true,  false, any,    Language,           0},
        {Cmd::LangEnglish,        M::Language,  &W::m_strEnglish,      "English",  -1,                    0,                         none,                                  true,  false, any,    Language,           1},
        {Cmd::LangJapanese,       M::Language,  &W::m_strJapanese,     "Japanese", -1,                    0,                         none,                                  true,  false, any,    Language,           2},
    };
    // clang-format on
    return rows;
}

const CommandRow* FindCommand(int id) {
    for (const CommandRow& row : MainCommands()) {
        if (row.id == id) {
            return &row;
        }
    }
    return nullptr;
}
