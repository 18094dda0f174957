#pragma once

#include <sys/stat.h>

#include <QString>
#include <atomic>
#include <cstdint>

#include "platform/FileWrite.h"
#include "platform/UniqueFd.h"

struct AVIOContext;

// Where a recording's bytes go, and what may be done with its file when it ends. The recorder's
// encoder thread owns one per recording: it opens it, the MPEG writer writes through io(), and
// finish() decides what becomes of the file. The file rules are the file module's
// (OutputFile, FilePolicy::UserNamed for a name the user gave); this class adds what a
// recording needs beyond them.
//
// Targets, by what is found at the name:
//  - NewFile: nothing was there (or a name in the save folder): the file is created
//    exclusively at the name, so it is the recording's own, and can be watched as it grows;
//    one that ends without a byte of a frame in it is removed again (only that very file).
//  - Replacement: an existing regular file (or a symbolic link): it is not touched while the
//    recording runs. The recording goes into a temporary file beside it, which is renamed
//    over the name itself (never over a link's target) once it holds a frame, and removed
//    otherwise.
//  - Stream: a character device, a FIFO, or standard output (/dev/stdout and its kin): written
//    as it is, in order, and never truncated, renamed or removed. A FIFO waits for its reader
//    while the open runs, off the frame path, and the wait can be given up (cancel()).
//
// Every failure keeps its errno (error()), the first one that happened. Writes into a stream
// wait for room with poll(), so a stop can cut a write that a stuck reader would hold for ever
// (cancel()). SIGPIPE is expected to be blocked in the thread that writes (a reader that goes
// away gives EPIPE, a failed write). One thread at a time, but for cancel().
class RecorderOutput {
public:
    enum class Kind { None, NewFile, Replacement, Stream };

    RecorderOutput() = default;
    ~RecorderOutput();
    RecorderOutput(const RecorderOutput&) = delete;
    RecorderOutput& operator=(const RecorderOutput&) = delete;

    // Opens `name` as the targets above say. freeName: `name` is a time-stamped wish in the save
    // folder; its folder is created when missing (one level, as a snapshot does) and the next
    // free name ("-2", "-3", … before the extension) is taken when it exists. Returns 0 or the
    // errno of the failing step (ECANCELED when cancel() was called while the open waited).
    int open(const QString& name, bool freeName);
    // The byte stream the MPEG writer writes into; null before a successful open.
    AVIOContext* io() const { return m_io; }
    // Ends the output: flushes what is buffered; keep: the recording holds frames. A file of
    // the recording's own (new or temporary) is removed unless it is kept and holds bytes; a
    // kept one is synced, checked and (a Replacement) renamed over its name. Returns 0 or the
    // errno of the first failure of the whole output (a write, the sync, the rename).
    int finish(bool keep);
    // From any thread: a write or an open that waits for a stream gives up (ECANCELED) within
    // a tenth of a second; a write that has to wait from then on fails at once.
    void cancel() { m_cancelled = true; }

    Kind kind() const { return m_kind; }
    // The name the user gave or the free name taken; what the recording is known by.
    const QString& name() const { return m_name; }
    // A second descriptor of the regular file being written, for watching its link count
    // from another thread (a removed file, or its folder removed, has none left); invalid for
    // a stream, which is never watched: reading a pipe would keep its reader alive.
    UniqueFd watch() const;
    // The errno of the first failed write, sync or rename; 0 while all went well.
    int error() const { return m_error; }
    // Bytes that reached the target (not counting what is still buffered).
    int64_t bytesWritten() const { return m_written; }
    // The target is the same file as this process's standard output.
    bool isStandardOutput() const { return m_stdout; }

private:
    int openNamed(const QString& name);
    int openFree(const QString& name);
    // Creates `name` exclusively (never over anything, never through a link) as the
    // recording's own file. 0 or the errno.
    int createOwn(const QString& name);
    // Takes fd, a file just created exclusively at `name`, as the recording's own. 0 or the errno.
    int adoptOwn(UniqueFd fd, const QString& name);
    int fd() const { return m_kind == Kind::NewFile ? m_own.get() : m_file.fd(); }
    static int writePacket(void* opaque, uint8_t* data, int size);
    int write(const uint8_t* data, int size);
    // Waits until the stream takes bytes; false (m_error set) when cancelled or it fails.
    bool waitWritable();
    void fail(int error);

    Kind m_kind = Kind::None;
    // A new file is the recording's own: kept with what reached it when a write fails (a full
    // disk), removed only when nothing did. Everything else goes through the file module.
    UniqueFd m_own;
    struct stat m_ownIdentity {};
    OutputFile m_file;
    QString m_name;
    bool m_pipe = false;  // a FIFO or pipe: writes of at most PIPE_BUF after poll()
    bool m_stdout = false;
    AVIOContext* m_io = nullptr;
    int m_error = 0;
    int64_t m_written = 0;
    std::atomic<bool> m_cancelled{false};
};
