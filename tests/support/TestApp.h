#pragma once

// The application object of window tests, started as the program starts but with its files in
// a temporary folder, and the wait for the window's first picture.

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "app/TavrelApp.h"

class CTavrelDlg;

// config/, Pictures/, bin/ and data/ inside dir.
AppLocations TestLocations(const QTemporaryDir& dir);

// An application object whose files live in dir, with args as its command line.
std::unique_ptr<CTavrelApp> StartTestApp(const QTemporaryDir& dir, const QStringList& args = {});

// Waits up to 5 s until a frame has arrived and the window has taken note (the commands that
// need a picture are enabled); false if it never does.
bool WaitForPicture(CTavrelDlg& dlg);
