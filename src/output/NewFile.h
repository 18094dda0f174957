#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

#include "platform/UniqueFd.h"

// Files that snapshots and recordings create under their time-stamped names. Two pictures taken
// within one millisecond, or a clock set back, give the same name twice; the second file then
// takes the next free name instead of replacing the first. Names are claimed by creating the file
// exclusively (O_CREAT | O_EXCL), so two threads, or two Tavrel windows, can never both get one
// name, and no existing file is ever opened for writing.

// A file just created, open for writing, and its name.
struct NewFile {
    UniqueFd fd;
    QString name;
    bool isOpen() const { return fd.isValid(); }
};

// Creates stem + extension, or when that exists stem + "-2" + extension, "-3", … (the first free
// one). Not open (and errno set) when the folder is missing or not writable, or no free name
// was found within a few thousand tries.
NewFile CreateNewFile(const QString& stem, const QString& extension);

// Writes `size` bytes into a new file named as above and flushes it to the disk. Returns the
// name written, or an empty string when nothing could be created or the write failed (a full
// disk); a file that was created but not completely written is removed again.
QString WriteNewFile(const QString& stem, const QString& extension, const uint8_t* data,
                     size_t size);
