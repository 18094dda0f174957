#pragma once

#include <QDateTime>
#include <QString>

#include "platform/FileWrite.h"

class FrameStore;

// The snapshot: writes the picture exactly as the main window shows it (the composed frame,
// at frame resolution, mask and crosshair included) into a JPEG file in the save folder.

// The time-stamped name of a snapshot or recording without its extension: folder, then
// "YYYYMMDD-hhmmss-", then the milliseconds padded with SPACES to width 3 ("  7", " 42",
// "999"). The folder is put in front as it is: a folder without its trailing '/' puts the
// file beside it, with the folder's last name in front of the time stamp.
QString SnapshotBaseName(const QString& folder, const QDateTime& localTime);

struct SnapshotResult {
    // Full name of the JPEG (base name + ".jpg", or with "-2", "-3", … before ".jpg" when that
    // name was taken already); the window shows it whether or not a file was written.
    QString fileName;
    // A file exists under fileName: false when the composed frame was not drawn yet, the
    // folder is missing and cannot be created, or the JPEG could not be written (full disk).
    bool written = false;
    // Why no file was written, with the errno of the failing call (ENOSPC, EFBIG, EACCES, …);
    // success when none was drawn yet.
    FileResult result;
    // Where WriteSnapshot's bytes went: StandardOutput when the name was the program's own
    // output (/dev/stdout), so that nothing else is printed there; None before an open.
    OutputTarget target = OutputTarget::None;
};

// Takes one snapshot at local time `now` into `folder`:
//  - creates the folder when it is missing (one level only; a failure is not an error here),
//  - copies the frame store's composed image when a current image exists and the composed
//    image holds a picture (FrameStore::copyComposedImage, under the frame lock),
//  - outside the lock: encodes the copy as a JPEG of quality 90 into a new file. An existing
//    file is never replaced: when the time-stamped name is taken (two snapshots within one
//    millisecond), the next free name with "-2", "-3", … before ".jpg" is created instead. The
//    JPEG reaches the disk in a temporary file that then takes the name, so no name ever holds
//    part of a picture; a full disk or a file-size limit leaves nothing.
// The encode works on a private copy rather than under the frame lock, so frame intake and the
// display are held only for a memory copy, not for the ~20 ms of a full-HD encode; the file
// holds the same picture as if it were encoded under the lock, because the copy is taken while
// nothing can change the composed frame.
//
// Any thread may call this (the Snap command on the GUI thread, the camera's button on the
// capture thread), but never from the frame store's hooks or readers (the frame lock held).
//
// The caller checks first that a frame has arrived and a camera is open, and does nothing at
// all otherwise (not even a status text). A current image that vanished in between (a
// resolution change) only means no file: the name is still returned for the status bar.
SnapshotResult TakeSnapshot(const QString& folder, const QDateTime& now, const FrameStore& frames);

// The same picture into the file `fileName`, as it is named (the command line's FILE); the
// folder is not created. `written` as above. The kernel resolves the name, never this program
// (FilePolicy::UserNamed): a regular file, or a symlink, is replaced atomically by a file at
// the name itself (a link's target is never written); a character device, FIFO or the
// program's standard output is written into directly and stays what it is; a block device or
// folder is refused, and so is a symlink in a sticky folder owned by another user; an existing
// writable file in a folder this program may not write is written in place.
SnapshotResult WriteSnapshot(const QString& fileName, const FrameStore& frames);

// JPEG quality of snapshots.
inline constexpr int kSnapshotJpegQuality = 90;
