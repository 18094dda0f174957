#pragma once

#include <QKeyCombination>
#include <array>
#include <span>

#include "mainwnd/WindowTexts.h"

struct AppSettings;
class CTavrelDlg;
class CameraLifecycle;
class CameraSession;

// Where a command's menu item sits. None: no menu item (a toolbar button or a key only).
enum class MenuPlace { None, File, Setting, Frequency, Control, Zoom, Mirror, About, Language };

// When a command may act. The window greys a command whose guard does not hold and runs its
// handler only when it holds.
enum class Guard {
    Always,
    CameraOpen,     // a camera is open (a picture is not needed)
    Picture,        // a camera is open and a frame has arrived
    PictureZoomed,  // as Picture, and the picture is zoomed in
    NotRemoved,     // the camera last open was not unplugged (until a camera is opened again)
};

// What a command acts on: the session's controllers and operations, the settings (the
// language), and the window for what only the window has (its dialogs, its notes, closing).
struct CommandContext {
    CameraSession& session;
    CameraLifecycle& lifecycle;
    AppSettings& settings;
    CTavrelDlg& window;
};

// Runs a command: a controller or session operation, with the row's argument where commands
// differ only by a value (50/60 Hz, the language, zoom and mirror steps).
using CommandHandler = void (*)(CommandContext& context, int argument);

// One command of the main window: everything the window needs to build its menu item, its
// toolbar button and its shortcut, to grey it and to run it. Adding a command is adding a row.
struct CommandRow {
    int id;
    MenuPlace menu;
    // The menu item's text and the button's tool tip in the language in force; null for a
    // text that is not translated (`fixedText` then stays).
    QString WindowTexts::*text;
    const char* fixedText;
    int toolSlot;  // place on the toolbar (ToolSlot), -1 for none
    int toolIcon;  // the button's first picture (Icon)
    std::array<QKeyCombination, 2> keys;
    bool checkable;    // the menu item shows a check mark
    bool factoryOnly;  // the menu item exists in factory mode only (a toolbar button stays)
    Guard guard;
    CommandHandler handler;
    int argument;
};

// Every command of the main window, in menu order.
std::span<const CommandRow> MainCommands();
// The row of a command, or null.
const CommandRow* FindCommand(int id);
