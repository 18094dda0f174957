#pragma once

// The application object of window tests, started as the program starts but with its files in
// a temporary folder.

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "app/TavrelApp.h"

// config/, Pictures/, bin/ and data/ inside dir.
AppLocations TestLocations(const QTemporaryDir& dir);

// An application object whose files live in dir, with args as its command line.
std::unique_ptr<CTavrelApp> StartTestApp(const QTemporaryDir& dir, const QStringList& args = {});
