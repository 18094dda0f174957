#include "output/RecorderOutput.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "output/NewFile.h"
#include "platform/NativePath.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace {

// The byte stream's buffer: FFmpeg's default size.
constexpr int kBufferSize = 32768;
// How often a wait for a stream's reader looks whether it was cancelled.
constexpr int kPollMs = 100;
// A FIFO without its reader yet: how often the open looks again.
constexpr int kFifoRetryMs = 20;

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

}  // namespace

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
    int error = freeName ? openFree(name) : openNamed(name);
    if (error == 0 && m_kind != Kind::NewFile) {
        switch (m_file.target()) {
            case OutputTarget::NewFile:
            case OutputTarget::TemporaryFile:
            case OutputTarget::ExistingFile:
                m_kind = Kind::Replacement;
                break;
            default:
                m_kind = Kind::Stream;
                break;
        }
    }
    if (error == 0) {
        struct stat st {};
        m_pipe = m_kind == Kind::Stream && ::fstat(fd(), &st) == 0 &&
                 (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
        m_stdout = m_file.target() == OutputTarget::StandardOutput || IsStandardOutput(m_name);
        // Not seekable: the MPEG system stream is written front to back, into a pipe as into a
        // file, and the file module checks the size that front-to-back writes reach.
        m_io = avio_alloc_context(static_cast<unsigned char*>(av_malloc(kBufferSize)), kBufferSize,
                                  1, this, nullptr, &RecorderOutput::writePacket, nullptr);
        if (!m_io) {
            error = ENOMEM;
        }
    }
    if (error != 0) {
        finish(false);  // the recorder logs the failure
        return error;
    }
    return 0;
}

int RecorderOutput::openNamed(const QString& name) {
    // A FIFO's open waits for its reader. The wait happens here, where it can be given up: a
    // descriptor of our own is opened as soon as a reader is there, and held until the file
    // module has opened its own, so that the reader never sees the end of an empty stream.
    UniqueFd waitingForReader;
    if (InspectTarget(name).kind == FileKind::Fifo) {
        const QByteArray path = NativePath(name);
        for (;;) {
            waitingForReader.reset(::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            if (waitingForReader.isValid() || errno != ENXIO) {
                break;
            }
            if (m_cancelled) {
                return ECANCELED;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kFifoRetryMs));
        }
    }
    // Nothing there: a new file at the name, which grows in sight and can be watched. Anything
    // else the file module decides: a regular file (or link) is replaced at the end, a device,
    // FIFO or standard output is written into.
    if (InspectPath(name).kind == FileKind::Missing) {
        const int error = createOwn(name);
        if (error != EEXIST) {
            return error;  // made, or a failure (a missing folder, no permission)
        }
    }
    m_file = OutputFile::open(name, FilePolicy::UserNamed, WriteMode::Atomic);
    return m_file.isOpen() ? 0 : m_file.result().error;
}

int RecorderOutput::createOwn(const QString& name) {
    UniqueFd fd(::open(NativePath(name).constData(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666));
    return fd.isValid() ? adoptOwn(std::move(fd), name) : errno;
}

int RecorderOutput::adoptOwn(UniqueFd fd, const QString& name) {
    if (::fstat(fd.get(), &m_ownIdentity) != 0) {
        return errno;
    }
    m_own = std::move(fd);
    m_kind = Kind::NewFile;
    m_name = name;
    return 0;
}

int RecorderOutput::openFree(const QString& name) {
    // The save folder: made when it is missing (one level; a folder whose parent is gone stays
    // missing), then the first free name in it.
    const QString folder = QFileInfo(name).path();
    if (InspectTarget(folder).kind != FileKind::Directory &&
        ::mkdir(NativePath(folder).constData(), 0777) != 0 && errno != EEXIST) {
        return errno;
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    NewFile file = CreateNewFile(name.left(dot), name.mid(dot));
    return file.isOpen() ? adoptOwn(std::move(file.fd), file.name) : file.error;
}

bool RecorderOutput::waitWritable() {
    for (;;) {
        if (m_cancelled) {
            fail(ECANCELED);
            return false;
        }
        pollfd out{fd(), POLLOUT, 0};
        const int n = ::poll(&out, 1, kPollMs);
        if (n < 0 && errno != EINTR) {
            fail(errno);
            return false;
        }
        if (n > 0) {
            // POLLERR / POLLHUP: the reader is gone; the write reports it as EPIPE.
            return true;
        }
    }
}

int RecorderOutput::write(const uint8_t* data, int size) {
    if (m_error != 0) {
        return AVERROR(m_error);  // an output that failed once stays failed
    }
    if (m_kind == Kind::Replacement) {
        // The file module writes it and keeps the size it must reach.
        const FileResult result =
            m_file.write(QByteArrayView(reinterpret_cast<const char*>(data), size));
        if (!result.ok()) {
            fail(result.error);
            return AVERROR(result.error);
        }
        m_written += size;
        return size;
    }
    int done = 0;
    while (done < size) {
        if (m_kind == Kind::Stream && !waitWritable()) {
            return AVERROR(m_error);
        }
        // After POLLOUT, a pipe takes PIPE_BUF bytes without blocking.
        const size_t chunk =
            m_pipe ? std::min<size_t>(size_t(size - done), PIPE_BUF) : size_t(size - done);
        const ssize_t n = ::write(fd(), data + done, chunk);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            const int error = errno;
            if (error == EPIPE) {
                DropPendingSigpipe();
            }
            fail(error);
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

UniqueFd RecorderOutput::watch() const {
    if (m_kind == Kind::NewFile || (m_kind == Kind::Replacement && m_file.isRegularFile())) {
        return UniqueFd(::fcntl(fd(), F_DUPFD_CLOEXEC, 3));
    }
    return UniqueFd();
}

int RecorderOutput::finish(bool keep) {
    if (m_io) {
        avio_flush(m_io);
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_own.isValid()) {
        // Only the file made here, while its name still leads to it; one that holds bytes
        // keeps them, also after a failed write (it plays up to there).
        struct stat now {};
        const QByteArray path = NativePath(m_name);
        if (!(keep && m_written > 0) && ::lstat(path.constData(), &now) == 0 &&
            now.st_dev == m_ownIdentity.st_dev && now.st_ino == m_ownIdentity.st_ino) {
            ::unlink(path.constData());
        } else if (keep && m_written > 0 && ::fdatasync(m_own.get()) != 0) {
            fail(errno);  // a full disk may show only here (delayed allocation, NFS)
        }
        m_own.reset();
    }
    if (m_file.isOpen()) {
        if (keep && m_written > 0 && m_error == 0) {
            // Synced, its size checked, a temporary file renamed over the name.
            const FileResult result = m_file.commit();
            if (!result.ok()) {
                fail(result.error);
            }
        } else {
            // A stream is closed as it is; a replacement that failed or holds nothing leaves
            // the file it was to replace as it was.
            m_file.discard();
        }
    }
    m_kind = Kind::None;
    return m_error;
}
