#pragma once

#include <QString>

// The folder that snapshots and recordings go to, kept in Setting.ini under "Path"/"FileFolder".
// File names are formed by appending to it, so it normally ends with '/'.

// The default: the user's pictures folder with one trailing '/'. The folder is not created.
QString DefaultSaveFolder(const QString& picturesFolder);

// Reads "Path"/"FileFolder" (at most 259 characters) with the default above. The value is not
// written back and its existence is not tested.
QString ReadSaveFolder(const QString& settingFile, const QString& picturesFolder);

// A chosen folder as it is stored: '/' appended unless the path already ends with one (the
// root "/" stays as it is).
QString WithTrailingSlash(const QString& folder);
