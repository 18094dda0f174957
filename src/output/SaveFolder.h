#pragma once

#include <QString>

// The folder that snapshots and recordings go to, kept in Setting.ini under "Path"/"FileFolder".
// File names are formed by appending to it, so it always ends with '/'.

// The default: the user's pictures folder with one trailing '/'. The folder is not created.
QString DefaultSaveFolder(const QString& picturesFolder);

// The save folder in force, and whether the stored value had to be set aside for it.
struct StoredSaveFolder {
    QString folder;         // ends with '/'
    bool fellBack = false;  // the stored value could not be used: the default stands in
};

// Reads "Path"/"FileFolder" in full, whatever its length, with the default above when the key
// is missing. A value without the trailing '/' gets one. A value that is empty, relative or
// names something other than a folder cannot take file names appended: the default stands in
// and fellBack is set. The value is not written back; a folder that does not exist yet is kept
// (the snapshot creates it).
StoredSaveFolder ReadSaveFolder(const QString& settingFile, const QString& picturesFolder);

// A chosen folder as it is stored: '/' appended unless the path already ends with one (the
// root "/" stays as it is).
QString WithTrailingSlash(const QString& folder);
