#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

#include "platform/FileWrite.h"
#include "platform/UniqueFd.h"

// Files that snapshots and recordings create under their time-stamped names. Two pictures taken
// within one millisecond, or a clock set back, give the same name twice; the second file then
// takes the next free name instead of replacing the first. No existing entry under a name (a
// file, a symlink, anything) is ever opened for writing or replaced, so two threads, or two
// Tavrel windows, can never both get one name.

// The n-th name for stem and extension: stem + extension for n = 1, else stem + "-n" + extension.
QString NumberedName(const QString& stem, const QString& extension, int n);

// A file just created, open for writing, and its name.
struct NewFile {
    UniqueFd fd;
    QString name;
    int error = 0;  // errno of the failure when not open
    bool isOpen() const { return fd.isValid(); }
};

// Creates stem + extension, or when that exists stem + "-2" + extension, "-3", … (the first free
// one), exclusively (O_CREAT | O_EXCL, which never follows a symlink). Not open, with `error`
// set, when the folder is missing or not writable, or no free name was found within a few
// thousand tries (EEXIST).
NewFile CreateNewFile(const QString& stem, const QString& extension);

// What writing a new file came to: the name written, or the failure with its errno.
struct NewFileResult {
    QString name;  // empty when nothing was written
    FileResult result;
};

// Writes `size` bytes into a new file named as above. The bytes reach the disk in a temporary
// file first (flushed, their size checked), which then takes the first free name, so a name
// never holds part of a file and a failure (a full disk, a file-size limit) leaves nothing.
NewFileResult WriteNewFile(const QString& stem, const QString& extension, const uint8_t* data,
                           size_t size);
