#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/UniqueFd.h"

// The one place where the program writes files: settings and language files, the cameras'
// parameter memory, snapshots and recordings. Paths are handed to the kernel as they are named
// (platform/NativePath, which keeps bytes that are not UTF-8); the program never resolves a symlink
// itself, so the kernel's rules on following links (protected symlinks in sticky folders) always
// apply.
//
// A file that is the program's own is replaced atomically: the bytes go to a temporary file
// created exclusively in the same folder, are flushed to the disk, their size is checked, and
// the temporary file is renamed over the path itself. A symlink at the path is replaced by the
// new file, never followed; the file it points to is left alone. A device, FIFO or the
// program's standard output named by the user is written into directly and never replaced.
//
// Every result carries the errno of the call that failed, and which call it was: a full disk
// reads ENOSPC, a file-size limit EFBIG (the program ignores SIGXFSZ, so the write reports it).
// No function here logs; the callers log with their own category. Any thread may call these.

// What a directory entry is. From lstat(): a symlink is reported as one, not followed.
enum class FileKind { Missing, Regular, Directory, Symlink, CharDevice, BlockDevice, Fifo, Socket };

struct FileStatus {
    FileKind kind = FileKind::Missing;
    int error = 0;    // errno of a failing lstat()/stat() other than ENOENT; kind is Missing then
    qint64 size = 0;  // bytes, for a regular file
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;  // permission bits
    dev_t device = 0;
    ino_t inode = 0;
};

// lstat() of path: what the entry itself is.
FileStatus InspectPath(const QString& path);
// stat() of path: what the kernel reaches when it follows the path's symlinks.
FileStatus InspectTarget(const QString& path);
// Whether path reaches the same file as this process's standard output (/dev/stdout,
// /dev/fd/1, /proc/self/fd/1, or the very file it was redirected into).
bool IsStandardOutput(const QString& path);

// The call in which a file operation failed.
enum class FileStep {
    None,     // success
    Inspect,  // lstat()/stat() of the path or its folder
    Refuse,   // the path names something this policy never writes (error says what)
    Open,     // open() of the file or of the temporary file
    Read,
    Write,  // write(): ENOSPC on a full disk, EFBIG past a file-size limit
    Sync,   // fsync()
    Size,   // the file holds another number of bytes than were written (EIO)
    Close,
    Rename,
};

// The outcome of an operation: success, or the errno of the failing call and which call it
// was. Refusals carry ELOOP for a symlink, EISDIR for a folder, ENOTSUP for a device or FIFO
// where only a regular file may be written, EPERM for a block device.
struct FileResult {
    int error = 0;
    FileStep step = FileStep::None;

    bool ok() const { return error == 0; }
    // For log lines: "write: No space left on device".
    QString describe() const;
    static FileResult failure(FileStep step, int error) { return FileResult{error, step}; }
};

// Which entries at the path a writer may write, and how.
enum class FilePolicy {
    // A file that must stay inside its folder (a camera's parameter memory): the path must be
    // missing or a regular file; a symlink, folder, device or FIFO is refused and not touched.
    RegularInFolder,
    // The program's own file (Setting.ini, language files): missing, a regular file, or a
    // symlink, which is replaced by the new file. A folder, device or FIFO is refused.
    OwnFile,
    // A file the user named (the command line's FILE):
    //  - missing, a regular file, or a symlink to a regular file or to nothing: replaced
    //    atomically (a symlink by the file itself, its target untouched);
    //  - a character device, FIFO or socket, reached by the kernel through any symlinks, and
    //    the program's own standard output: written into directly, never created, truncated,
    //    renamed over or removed; a FIFO's open waits for its reader, as any program's does;
    //  - a symlink in a sticky folder (/tmp) owned by neither the program's user nor the
    //    folder's owner is refused (ELOOP), as the kernel's protected-symlinks rule does;
    //  - a block device or a folder is refused;
    //  - an existing regular file in a folder where no temporary file can be created (no
    //    permission) is written in place: truncated to the new size after the write.
    UserNamed,
};

// Where the bytes of an OutputFile go.
enum class OutputTarget {
    None,            // not open
    TemporaryFile,   // a temporary file that commit() renames over the path
    NewFile,         // a regular file this object created at the path (InPlace mode)
    ExistingFile,    // an existing regular file written in place (truncated)
    Device,          // a character device, written directly
    Fifo,            // a FIFO or socket, written directly
    StandardOutput,  // the program's standard output (fd 1, not closed)
};

// How a regular file is written.
enum class WriteMode {
    Atomic,   // into a temporary file that commit() renames over the path
    InPlace,  // at the path itself: created exclusively when missing (then removable by
              // discard()), an existing regular file is truncated; for recordings that are
              // watched while they grow
};

// One file being written: open(), write() (or writes of the caller's own on fd()), commit().
// Destroying it without commit() discards it: a temporary file or a file it created is
// removed, nothing else ever is. Move-only.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens path for writing under policy; check result() or isOpen(). A mode of InPlace
    // applies to regular files only; devices, FIFOs and standard output are always direct.
    static OutputFile open(const QString& path, FilePolicy policy,
                           WriteMode mode = WriteMode::Atomic);

    bool isOpen() const { return m_fd.isValid(); }
    const FileResult& result() const { return m_result; }
    OutputTarget target() const { return m_target; }
    // True when the target is a regular file (temporary, new or existing).
    bool isRegularFile() const;
    // True when the file at the path will be one this object created: a temporary file (until
    // commit) or a new file. Only such a file may be removed on failure.
    bool createdHere() const {
        return m_target == OutputTarget::TemporaryFile || m_target == OutputTarget::NewFile;
    }
    // The descriptor, for writers of their own (FFmpeg's I/O callbacks); it stays owned here.
    int fd() const { return m_fd.get(); }
    const QString& path() const { return m_path; }

    // Writes all of data (loops over short writes and EINTR); the errno of the failing call:
    // EPIPE on a FIFO whose reader left (the program ignores SIGPIPE). Callers that seek may
    // lseek() on fd(); commit() checks the furthest offset these writes reached.
    FileResult write(QByteArrayView data);
    // Finishes the file: for a regular file flushes it (fsync), checks that it holds every
    // byte written (also by the caller's own writes on fd(): the furthest offset reached),
    // closes it, and renames a temporary file over the path. For a device or FIFO: closes it.
    // On failure nothing is left at the path that this object created.
    FileResult commit();
    // Drops the file: a temporary file, or one this object created, is removed.
    void discard();

private:
    void noteOffset();

    UniqueFd m_fd;
    QString m_path;        // as named by the caller
    QByteArray m_tmpName;  // encoded path of the temporary file, empty when there is none
    OutputTarget m_target = OutputTarget::None;
    FileResult m_result;
    qint64 m_end = 0;                // the furthest offset write() reached
    bool m_inPlaceTruncate = false;  // an existing file written in place: cut at m_end
    FileStatus m_created;            // the file created in InPlace mode, to remove only it
};

// Opens, writes and commits in one call: the whole file is data, or the path is as it was.
FileResult WriteWholeFile(const QString& path, QByteArrayView data, FilePolicy policy);

// Writes data into a new file that replaces nothing (time-stamped snapshots): under the first
// of names(1), names(2), … names(maxNames) that is free. The bytes go to a temporary file in
// the folder of names(1) first and are checked as above, so no name ever holds part of a file;
// the rename never replaces an entry (RENAME_NOREPLACE), so any existing file, link or other
// entry under a name is skipped. *name receives the name written. EEXIST when none was free.
FileResult WriteUnderFreeName(const std::function<QString(int)>& names, int maxNames,
                              QByteArrayView data, QString* name);

// Reads a regular file without following a final symlink and without blocking: a symlink,
// FIFO, device or folder is refused (step Refuse), so that it counts as unreadable. Reads at
// most maxBytes + 1 bytes, so that a longer file shows as such. A missing file: error ENOENT
// with step Inspect.
struct FileContent {
    FileResult result;
    QByteArray bytes;
};
FileContent ReadRegularFile(const QString& path, qint64 maxBytes);

// Moves a regular file to newPath, never over an existing entry there (RENAME_NOREPLACE, or a
// link and unlink where the file system has no such rename). Refuses anything but a regular file.
FileResult MoveRegularFileAside(const QString& path, const QString& newPath);
