#pragma once

// Command ids of the main window's menus and toolbar. They are the identities of the actions:
// handlers, tool tips and tests address commands by these numbers.
namespace Cmd {
inline constexpr int ChooseFolder = 32784;
inline constexpr int Exit = 32804;
inline constexpr int Property = 32780;
inline constexpr int PanZoomWindow = 32795;
inline constexpr int SaveParameters = 32810;
inline constexpr int RestoreParameters = 32811;
inline constexpr int Resolution640x480 = 32841;
inline constexpr int YuvPlaceholder = 32839;
inline constexpr int MjpgPlaceholder = 32840;
inline constexpr int Freq50Hz = 32835;
inline constexpr int Freq60Hz = 32836;
inline constexpr int Play = 32786;
inline constexpr int Snap = 32781;
inline constexpr int Record = 32782;
inline constexpr int ZoomIn = 32791;
inline constexpr int ZoomOut = 32792;
inline constexpr int ZoomReset = 32818;
inline constexpr int HMirror = 32790;
inline constexpr int VMirror = 32789;
inline constexpr int MirrorReset = 32821;
inline constexpr int MaskWindow = 32808;
inline constexpr int About = 32800;
inline constexpr int LangChinese = 32824;
inline constexpr int LangEnglish = 32825;
inline constexpr int LangJapanese = 32826;

// Resolution entries: entry k of the uncompressed list is YuvFirst + k, entry k of the MJPG list
// MjpgFirst + k; each range has room for the longest list a camera can have.
inline constexpr int YuvFirst = 40018;
inline constexpr int MjpgFirst = 40056;
// Camera entries: entry k of the Camera menu is CameraFirst + k.
inline constexpr int CameraFirst = 40100;
}  // namespace Cmd

// Pictures of the toolbar and the language menu, by the numbers the handlers use.
namespace Icon {
inline constexpr int App = 128;
inline constexpr int FlagChinese = 140;
inline constexpr int FlagEnglish = 141;
inline constexpr int FlagJapanese = 142;
inline constexpr int Playing = 144;
inline constexpr int Snap = 145;
inline constexpr int Record = 146;
inline constexpr int ZoomIn = 147;
inline constexpr int ZoomOutDisabled = 148;
inline constexpr int ZoomResetDisabled = 149;
inline constexpr int HMirrorOff = 150;
inline constexpr int VMirrorOff = 151;
inline constexpr int MirrorResetDisabled = 152;
inline constexpr int ExposureManual = 153;
inline constexpr int Paused = 154;
inline constexpr int Recording = 156;
inline constexpr int ZoomInActive = 157;
inline constexpr int ZoomOut = 158;
inline constexpr int ZoomReset = 159;
inline constexpr int HMirrorOn = 160;
inline constexpr int VMirrorOn = 161;
inline constexpr int MirrorReset = 162;
inline constexpr int ExposureAuto = 163;
}  // namespace Icon

// Slots of the toolbar's ten pictures, in toolbar order without separators.
namespace ToolSlot {
inline constexpr int Play = 0;
inline constexpr int Snap = 1;
inline constexpr int Record = 2;
inline constexpr int ZoomIn = 3;
inline constexpr int ZoomOut = 4;
inline constexpr int ZoomReset = 5;
inline constexpr int HMirror = 6;
inline constexpr int VMirror = 7;
inline constexpr int MirrorReset = 8;
inline constexpr int Property = 9;
}  // namespace ToolSlot
