#include "mainwnd/CommandTable.h"

#include <array>

#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"

std::span<const CommandRow> MainCommands() {
    using W = WindowTexts;
    using D = CTavrelDlg;
    using M = MenuPlace;
    constexpr Guard any = Guard::Always;
    constexpr Guard pic = Guard::Picture;
    constexpr Guard rem = Guard::NotRemoved;
    constexpr std::array<QKeyCombination, 2> none{};
    // clang-format off
    static const CommandRow rows[] = {
        // id                      menu          text                   fixed text  tool slot              first picture             keys                                   check  factory guard  built  handler
        {Cmd::ChooseFolder,       M::File,      &W::m_strFilePath,     "folder",   -1,                    0,                        none,                                  false, false, pic,   true,  &D::OnChooseFolder},
        {Cmd::Exit,               M::File,      &W::m_strExit,         "Exit",     -1,                    0,                        {Qt::CTRL | Qt::Key_Q},                false, false, any,   true,  &D::OnExit},
        {Cmd::Freq50Hz,           M::Frequency, nullptr,               "50HZ",     -1,                    0,                        none,                                  true,  false, rem,   true,  &D::OnFreq50Hz},
        {Cmd::Freq60Hz,           M::Frequency, nullptr,               "60HZ",     -1,                    0,                        none,                                  true,  false, rem,   true,  &D::OnFreq60Hz},
        {Cmd::Property,           M::Setting,   &W::m_strProperty,     "Property", ToolSlot::Property,    Icon::ExposureManual,     none,                                  false, true,  pic,   true,  &D::OnProperty},
        {Cmd::PanZoomWindow,      M::Setting,   &W::m_strMove,         "Move",     -1,                    0,                        none,                                  false, true,  pic,   true,  &D::OpenPanZoomWindow},
        {Cmd::SaveParameters,     M::Setting,   &W::m_strSaveParam,    "Save",     -1,                    0,                        none,                                  false, true,  pic,   true,  &D::OnSaveParameters},
        {Cmd::RestoreParameters,  M::Setting,   &W::m_strRestore,      "Restore",  -1,                    0,                        none,                                  false, true,  pic,   true,  &D::OnRestoreParameters},
        {Cmd::Resolution640x480,  M::Setting,   nullptr,               "640X480",  -1,                    0,                        none,                                  false, true,  rem,   true,  &D::On640x480},
        {Cmd::Play,               M::Control,   &W::m_strStop,         "Play",     ToolSlot::Play,        Icon::Playing,            {QKeyCombination(Qt::Key_P)},          true,  false, any,   true,  &D::OnPlay},
        {Cmd::Snap,               M::Control,   &W::m_strSnap,         "Snap",     ToolSlot::Snap,        Icon::Snap,               {QKeyCombination(Qt::Key_Space)},      false, false, pic,   true,  &D::OnSnap},
        {Cmd::Record,             M::Control,   &W::m_strRecord,       "Record",   ToolSlot::Record,      Icon::Record,             {QKeyCombination(Qt::Key_R)},          true,  false, pic,   true,  &D::OnRecord},
        {Cmd::ZoomIn,             M::Zoom,      &W::m_strZoomIn,       "ZoonIn",   ToolSlot::ZoomIn,      Icon::ZoomIn,             {Qt::Key_Plus, Qt::Key_Equal},         false, false, pic,   true,  &D::OnZoomIn},
        {Cmd::ZoomOut,            M::Zoom,      &W::m_strZoomOut,      "ZoomOut",  ToolSlot::ZoomOut,     Icon::ZoomOutDisabled,    {Qt::Key_Minus, Qt::Key_Underscore},   false, false, Guard::PictureZoomed, true, &D::OnZoomOut},
        {Cmd::ZoomReset,          M::Zoom,      &W::m_strReZoom,       "Reset",    ToolSlot::ZoomReset,   Icon::ZoomResetDisabled,  {QKeyCombination(Qt::Key_0)},          false, false, pic,   true,  &D::OnZoomReset},
        {Cmd::HMirror,            M::Mirror,    &W::m_strHMirror,      "HMirror",  ToolSlot::HMirror,     Icon::HMirrorOff,         {QKeyCombination(Qt::Key_H)},          true,  false, pic,   true,  &D::OnHMirror},
        {Cmd::VMirror,            M::Mirror,    &W::m_strVMirror,      "VMirror",  ToolSlot::VMirror,     Icon::VMirrorOff,         {QKeyCombination(Qt::Key_V)},          true,  false, pic,   true,  &D::OnVMirror},
        {Cmd::MirrorReset,        M::Mirror,    &W::m_strReMirror,     "Reset",    ToolSlot::MirrorReset, Icon::MirrorResetDisabled, none,                                 false, false, pic,   true,  &D::OnMirrorReset},
        // The mask window has no menu item; the M key reaches it.
        {Cmd::MaskWindow,         M::None,      nullptr,               nullptr,    -1,                    0,                        {QKeyCombination(Qt::Key_M)},          false, false, pic,   true,  &D::OpenMaskWindow},
        {Cmd::About,              M::About,     &W::m_strVersion,      "Software", -1,                    0,                        none,                                  false, false, any,   true,  &D::OnAbout},
        {Cmd::LangChinese,        M::Language,  &W::m_strChinese,      "Chinese",  -1,                    0,                        none,                                  true,  false, any,   true,  &D::OnChinese},
        {Cmd::LangEnglish,        M::Language,  &W::m_strEnglish,      "English",  -1,                    0,                        none,                                  true,  false, any,   true,  &D::OnEnglish},
        {Cmd::LangJapanese,       M::Language,  &W::m_strJapanese,     "Japanese", -1,                    0,                        none,                                  true,  false, any,   true,  &D::OnJapanese},
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
