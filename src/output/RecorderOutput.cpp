#include "output/RecorderOutput.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "output/NewFile.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace {

Q_LOGGING_CATEGORY(lcOutput, "tavrel.output.recorder")

// The byte stream's buffer: FFmpeg's default size.
constexpr int kBufferSize = 32768;
// How often a wait for a stream's reader looks whether it was cancelled.
constexpr int kPollMs = 100;
// A FIFO without its reader yet: how often the open tries again.
constexpr int kFifoRetryMs = 20;

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A SIGPIPE that a write to a pipe without reader left pending on this thread (where it is
// blocked) is taken away, so that it can never strike later.
void DropPendingSigpipe() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const timespec now{};
    while (::sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
    }
}

// The process's umask, read without changing it (umask() would change it for every thread).
mode_t CurrentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok) {
                    return mode_t(mask);
                }
            }
        }
    }
    return 022;
}

}  // namespace

bool IsStandardOutput(const QString& name) {
    struct stat file {};
    struct stat out {};
    return !name.isEmpty() && ::stat(QFile::encodeName(name).constData(), &file) == 0 &&
           ::fstat(STDOUT_FILENO, &out) == 0 && SameFile(file, out);
}

RecorderOutput::~RecorderOutput() {
    if (m_kind != Kind::None) {
        finish(false);
    }
}

void RecorderOutput::fail(int error) {
    if (m_error == 0) {
        m_error = error;
    }
}

int RecorderOutput::open(const QString& name, bool freeName) {
    Q_ASSERT(m_kind == Kind::None);
    m_name = name;
    int error = 0;
    if (freeName) {
        // The save folder: made when it is missing (one level; a folder whose parent is gone
        // stays missing), then the first free name in it.
        const QString folder = QFileInfo(name).path();
        if (!QFileInfo(folder).isDir() &&
            ::mkdir(QFile::encodeName(folder).constData(), 0777) != 0 && errno != EEXIST) {
            error = errno;
        } else {
            const qsizetype dot = name.lastIndexOf(u'.');
            NewFile file = CreateNewFile(name.left(dot), name.mid(dot));
            if (file.isOpen()) {
                m_fd = std::move(file.fd);
                m_name = file.name;
                m_path = QFile::encodeName(file.name);
                m_kind = Kind::NewFile;
            } else {
                error = errno ? errno : EEXIST;
            }
        }
    } else {
        error = openNamed(QFile::encodeName(name));
    }
    if (error == 0) {
        m_io = avio_alloc_context(static_cast<unsigned char*>(av_malloc(kBufferSize)), kBufferSize,
                                  1, this, nullptr, &RecorderOutput::writePacket,
                                  m_kind == Kind::Stream ? nullptr : &RecorderOutput::seek);
        if (!m_io) {
            error = ENOMEM;
        }
    }
    if (error != 0) {
        finish(false);  // the recorder logs the failure
        m_kind = Kind::None;
        return error;
    }
    return 0;
}

int RecorderOutput::openNamed(const QByteArray& path) {
    // Standard output by any of its names: the descriptor the program was given, so that its
    // position (a redirect with >>) and its kind stay what the shell made them.
    struct stat target {};
    const bool exists = ::stat(path.constData(), &target) == 0;
    if (exists && IsStandardOutput(QFile::decodeName(path))) {
        m_fd.reset(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
        if (!m_fd.isValid()) {
            return errno;
        }
        m_kind = Kind::Stream;
        m_stdout = true;
        m_pipe = S_ISFIFO(target.st_mode) || S_ISSOCK(target.st_mode);
        m_path = path;
        return 0;
    }
    struct stat link {};
    if (::lstat(path.constData(), &link) != 0) {
        if (errno != ENOENT) {
            return errno;
        }
        // Nothing there: the recording's own file, made exclusively so that nothing that
        // appears meanwhile is opened instead.
        m_fd.reset(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!m_fd.isValid()) {
            return errno;
        }
        m_kind = Kind::NewFile;
        m_path = path;
        return 0;
    }
    if (!exists || S_ISLNK(link.st_mode) || S_ISREG(target.st_mode)) {
        if (exists && S_ISDIR(target.st_mode)) {
            return EISDIR;
        }
        if (exists && !S_ISREG(target.st_mode)) {
            return openStream(path, S_ISFIFO(target.st_mode));  // a link to a device or FIFO
        }
        return openReplacement(path, exists ? target.st_mode : mode_t(0));
    }
    if (S_ISDIR(target.st_mode)) {
        return EISDIR;
    }
    return openStream(path, S_ISFIFO(target.st_mode));
}

int RecorderOutput::openStream(const QByteArray& path, bool fifo) {
    if (!fifo) {
        m_fd.reset(::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
        if (!m_fd.isValid()) {
            return errno;
        }
    } else {
        // A FIFO's open waits for its reader; without O_NONBLOCK it could not be given up.
        for (;;) {
            m_fd.reset(::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            if (m_fd.isValid()) {
                break;
            }
            if (errno != ENXIO) {
                return errno;
            }
            if (m_cancelled) {
                return ECANCELED;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kFifoRetryMs));
        }
        // This open file description is the recording's alone: writes wait in poll().
        const int flags = ::fcntl(m_fd.get(), F_GETFL);
        ::fcntl(m_fd.get(), F_SETFL, flags & ~O_NONBLOCK);
        m_pipe = true;
    }
    struct stat st {};
    if (::fstat(m_fd.get(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        m_pipe = true;
    }
    m_kind = Kind::Stream;
    m_path = path;
    return 0;
}

int RecorderOutput::openReplacement(const QByteArray& path, mode_t mode) {
    // Beside the name itself (not beside a link's target), so that the rename replaces the
    // name the user gave and the kernel resolves nothing on the program's behalf.
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash >= 0 ? path.left(slash + 1) : QByteArray();
    QByteArray temp = folder + '.' + path.mid(slash + 1) + ".XXXXXX";
    m_fd.reset(::mkostemp(temp.data(), O_CLOEXEC));
    if (!m_fd.isValid()) {
        return errno;
    }
    // The file it replaces keeps its permissions; a new one gets what a plain create would.
    ::fchmod(m_fd.get(), mode == 0 ? (0666 & ~CurrentUmask()) : (mode & 07777));
    m_kind = Kind::Replacement;
    m_path = temp;
    m_finalPath = path;
    return 0;
}

bool RecorderOutput::waitWritable() {
    for (;;) {
        if (m_cancelled) {
            fail(ECANCELED);
            return false;
        }
        pollfd fd{m_fd.get(), POLLOUT, 0};
        const int n = ::poll(&fd, 1, kPollMs);
        if (n < 0 && errno != EINTR) {
            fail(errno);
            return false;
        }
        if (n > 0) {
            // POLLERR / POLLHUP: the reader is gone; the write below reports it as EPIPE.
            return true;
        }
    }
}

int RecorderOutput::write(const uint8_t* data, int size) {
    if (m_error != 0) {
        return AVERROR(m_error);  // a stream that failed once stays failed
    }
    int done = 0;
    while (done < size) {
        if (m_kind == Kind::Stream && !waitWritable()) {
            return AVERROR(m_error);
        }
        // After POLLOUT, a pipe takes PIPE_BUF bytes without blocking.
        const size_t chunk = m_pipe ? std::min<size_t>(size - done, PIPE_BUF) : size_t(size - done);
        const ssize_t n = ::write(m_fd.get(), data + done, chunk);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            const int error = errno;
            if (error == EPIPE) {
                DropPendingSigpipe();
            }
            fail(error);
            qCWarning(lcOutput) << "Writing the recording into" << m_name
                                << "failed:" << strerror(error);
            return AVERROR(error);
        }
        if (n == 0) {
            fail(EIO);
            return AVERROR(EIO);
        }
        done += int(n);
        m_written += n;
    }
    return size;
}

int RecorderOutput::writePacket(void* opaque, uint8_t* data, int size) {
    return static_cast<RecorderOutput*>(opaque)->write(data, size);
}

int64_t RecorderOutput::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<RecorderOutput*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(self->m_fd.get(), &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(self->m_fd.get(), off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

UniqueFd RecorderOutput::watch() const {
    struct stat st {};
    if (m_kind == Kind::Stream || !m_fd.isValid() || ::fstat(m_fd.get(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return UniqueFd();
    }
    return UniqueFd(::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 3));
}

int RecorderOutput::finish(bool keep) {
    if (m_io) {
        avio_flush(m_io);
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    keep = keep && m_written > 0;
    if (m_fd.isValid()) {
        struct stat own {};
        const bool known = ::fstat(m_fd.get(), &own) == 0;
        // Only the file this output made, and only while its name still leads to it.
        auto removeOwn = [&] {
            struct stat now {};
            if (known && S_ISREG(own.st_mode) && ::lstat(m_path.constData(), &now) == 0 &&
                SameFile(own, now)) {
                ::unlink(m_path.constData());
            }
        };
        if (m_kind == Kind::NewFile && !keep) {
            removeOwn();
        } else if (m_kind == Kind::Replacement) {
            if (keep && ::fdatasync(m_fd.get()) != 0) {
                fail(errno);
            }
            // The name may have become something else meanwhile; a device or FIFO there is
            // never renamed over.
            struct stat there {};
            const bool replaceable = ::lstat(m_finalPath.constData(), &there) != 0 ||
                                     S_ISREG(there.st_mode) || S_ISLNK(there.st_mode);
            if (!keep) {
                removeOwn();
            } else if (!replaceable || ::rename(m_path.constData(), m_finalPath.constData()) != 0) {
                const int error = replaceable ? errno : EEXIST;
                fail(error);
                // The recording stays where it is, under the temporary name, not lost.
                qCWarning(lcOutput)
                    << "The recording could not replace" << m_name << ":" << strerror(error)
                    << "; it is kept as" << QFile::decodeName(m_path);
                m_name = QFile::decodeName(m_path);
            }
        }
        m_fd.reset();
    }
    m_kind = Kind::None;
    return m_error;
}
