#include "platform/FileWrite.h"

#include "platform/NativePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileKind::Regular;
    }
    if (S_ISDIR(mode)) {
        return FileKind::Directory;
    }
    if (S_ISLNK(mode)) {
        return FileKind::Symlink;
    }
    if (S_ISCHR(mode)) {
        return FileKind::CharDevice;
    }
    if (S_ISBLK(mode)) {
        return FileKind::BlockDevice;
    }
    if (S_ISFIFO(mode)) {
        return FileKind::Fifo;
    }
    return FileKind::Socket;
}

FileStatus StatusOf(const struct stat& st) {
    FileStatus status;
    status.kind = KindOf(st.st_mode);
    status.size = qint64(st.st_size);
    status.owner = st.st_uid;
    status.group = st.st_gid;
    status.mode = st.st_mode & 07777;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    return status;
}

FileStatus Inspect(const QByteArray& name, bool follow) {
    struct stat st {};
    const int rc = follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st);
    if (rc != 0) {
        FileStatus status;
        status.error = errno == ENOENT ? 0 : errno;
        return status;
    }
    return StatusOf(st);
}

// The errno a refusal of kind carries.
int RefusalError(FileKind kind) {
    switch (kind) {
        case FileKind::Symlink:
            return ELOOP;
        case FileKind::Directory:
            return EISDIR;
        case FileKind::BlockDevice:
            return EPERM;
        default:
            return ENOTSUP;
    }
}

// The folder part of an encoded path as named: "." for a bare name, "/" for a file in the root.
QByteArray FolderOf(const QByteArray& name) {
    const qsizetype slash = name.lastIndexOf('/');
    if (slash < 0) {
        return QByteArrayLiteral(".");
    }
    return slash == 0 ? QByteArrayLiteral("/") : name.left(slash);
}

// The kernel's protected-symlinks rule, kept by the program itself whatever the system's
// setting: in a sticky folder that others can write (/tmp), a symlink is followed only when the
// program's user or the folder's owner owns it.
bool MayFollowLink(const QByteArray& name, const FileStatus& link) {
    struct stat folder {};
    if (::stat(FolderOf(name).constData(), &folder) != 0) {
        return false;
    }
    const bool sticky = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !sticky || link.owner == ::geteuid() || link.owner == folder.st_uid;
}

bool SameFile(const FileStatus& a, const struct stat& b) {
    return a.device == b.st_dev && a.inode == b.st_ino;
}

int RenameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without RENAME_NOREPLACE: link() never replaces an entry either.
    if (::link(from, to) == 0) {
        ::unlink(from);
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP) {
        return errno;
    }
    // Nor hard links (FAT): look, then rename; only a writer racing for the same name in this
    // very moment could be replaced.
    struct stat st {};
    if (::lstat(to, &st) == 0) {
        return EEXIST;
    }
    return ::rename(from, to) == 0 ? 0 : errno;
}

// Creates a temporary file in folder, exclusively; its name goes to *name. A short name of its
// own, so that a file name close to the length limit still works. -1 with errno on failure.
int CreateTemporary(const QByteArray& folder, QByteArray* name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray tmp = folder + "/.tavrel-" +
                               QByteArray::number(QRandomGenerator::global()->generate64(), 36) +
                               ".tmp";
        const int fd =
            ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *name = tmp;
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

// Writes all of data to fd; 0 or the errno of the failing write().
int WriteAll(int fd, QByteArrayView data) {
    const char* at = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;  // 0 only where no byte can go: keep a real errno
        }
        at += n;
        left -= n;
    }
    return 0;
}

void SyncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);  // the rename itself on the disk; not every folder can
        ::close(fd);
    }
}

}  // namespace

FileStatus InspectPath(const QString& path) {
    return Inspect(NativePath(path), false);
}

FileStatus InspectTarget(const QString& path) {
    return Inspect(NativePath(path), true);
}

bool IsStandardOutput(const QString& path) {
    const FileStatus target = InspectTarget(path);
    struct stat out {};
    return !path.isEmpty() && target.kind != FileKind::Missing &&
           ::fstat(STDOUT_FILENO, &out) == 0 && SameFile(target, out);
}

QString FileResult::describe() const {
    static constexpr const char* kSteps[] = {"",      "stat",  "refused", "open",  "read",
                                             "write", "fsync", "size",    "close", "rename"};
    const char* text = error != 0 ? strerrordesc_np(error) : nullptr;
    return QStringLiteral("%1: %2").arg(QLatin1String(kSteps[int(step)]),
                                        QString::fromUtf8(text != nullptr ? text : "success"));
}

OutputFile::~OutputFile() {
    discard();
}

OutputFile::OutputFile(OutputFile&& other) noexcept {
    *this = std::move(other);
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        m_fd = std::move(other.m_fd);
        m_path = std::move(other.m_path);
        m_tmpName = std::exchange(other.m_tmpName, QByteArray());
        m_target = std::exchange(other.m_target, OutputTarget::None);
        m_result = other.m_result;
        m_end = other.m_end;
        m_inPlaceTruncate = other.m_inPlaceTruncate;
        m_created = other.m_created;
    }
    return *this;
}

bool OutputFile::isRegularFile() const {
    return m_target == OutputTarget::TemporaryFile || m_target == OutputTarget::NewFile ||
           m_target == OutputTarget::ExistingFile;
}

OutputFile OutputFile::open(const QString& path, FilePolicy policy, WriteMode mode) {
    OutputFile out;
    out.m_path = path;
    const QByteArray name = NativePath(path);
    auto fail = [&out](FileStep step, int error) {
        out.m_result = FileResult::failure(step, error);
        return std::move(out);
    };
    if (name.isEmpty()) {
        return fail(FileStep::Open, ENOENT);
    }
    const FileStatus entry = Inspect(name, false);
    if (entry.error != 0) {
        return fail(FileStep::Inspect, entry.error);
    }

    // Decide between a regular file (replaced or created) and a direct write.
    bool direct = false;
    bool symlink = entry.kind == FileKind::Symlink;
    switch (policy) {
        case FilePolicy::RegularInFolder:
            if (entry.kind != FileKind::Missing && entry.kind != FileKind::Regular) {
                return fail(FileStep::Refuse, RefusalError(entry.kind));
            }
            break;
        case FilePolicy::OwnFile:
            if (entry.kind != FileKind::Missing && entry.kind != FileKind::Regular && !symlink) {
                return fail(FileStep::Refuse, RefusalError(entry.kind));
            }
            break;
        case FilePolicy::UserNamed: {
            FileStatus target = entry;
            if (symlink) {
                if (!MayFollowLink(name, entry)) {
                    return fail(FileStep::Refuse, ELOOP);
                }
                target = Inspect(name, true);
                if (target.error != 0) {
                    return fail(FileStep::Inspect, target.error);
                }
                // /dev/stdout and /proc/self/fd/1 name the program's own output, whatever it is.
                if (IsStandardOutput(path)) {
                    out.m_fd.reset(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
                    if (!out.m_fd.isValid()) {
                        return fail(FileStep::Open, errno);
                    }
                    out.m_target = OutputTarget::StandardOutput;
                    return out;
                }
            }
            switch (target.kind) {
                case FileKind::CharDevice:
                case FileKind::Fifo:
                case FileKind::Socket:
                    direct = true;
                    break;
                case FileKind::Missing:
                case FileKind::Regular:
                    break;
                default:
                    return fail(FileStep::Refuse, RefusalError(target.kind));
            }
            break;
        }
    }

    if (direct) {
        // Neither O_CREAT nor O_TRUNC: a device or FIFO is written into, never made a file.
        const int fd = ::open(name.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            return fail(FileStep::Open, errno);
        }
        out.m_fd.reset(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            return fail(FileStep::Inspect, errno);
        }
        if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode)) {
            out.m_fd.reset();  // replaced between the look and the open
            return fail(FileStep::Refuse, EAGAIN);
        }
        out.m_target = S_ISCHR(st.st_mode) ? OutputTarget::Device : OutputTarget::Fifo;
        return out;
    }

    // A regular file. Replacing a symlink is always done atomically (rename over the link).
    if (mode == WriteMode::InPlace && !symlink) {
        const int flags = entry.kind == FileKind::Missing ? O_CREAT | O_EXCL : O_TRUNC;
        const int fd =
            ::open(name.constData(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | flags, 0666);
        if (fd < 0) {
            return fail(FileStep::Open, errno);
        }
        out.m_fd.reset(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            out.m_fd.reset();
            return fail(FileStep::Refuse, ENOTSUP);
        }
        out.m_created = StatusOf(st);
        out.m_target =
            entry.kind == FileKind::Missing ? OutputTarget::NewFile : OutputTarget::ExistingFile;
        return out;
    }

    int fd = CreateTemporary(FolderOf(name), &out.m_tmpName);
    const int error = errno;
    if (fd < 0) {
        // A folder the program may not write, holding a file it may: that file is written in
        // place, as it cannot be replaced.
        const bool folderClosed = error == EACCES || error == EPERM;
        if (policy == FilePolicy::UserNamed && entry.kind == FileKind::Regular && folderClosed) {
            fd = ::open(name.constData(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
            if (fd < 0) {
                return fail(FileStep::Open, errno);
            }
            out.m_fd.reset(fd);
            out.m_target = OutputTarget::ExistingFile;
            out.m_inPlaceTruncate = true;
            return out;
        }
        return fail(FileStep::Open, error);
    }
    out.m_fd.reset(fd);
    out.m_target = OutputTarget::TemporaryFile;
    if (entry.kind == FileKind::Regular) {
        // The replacement keeps the permissions (and, for root, the owner) of the file it
        // replaces; where that fails it keeps the defaults of a new file.
        (void)::fchmod(fd, entry.mode);
        if (::geteuid() == 0) {
            (void)::fchown(fd, entry.owner, entry.group);
        }
    }
    return out;
}

void OutputFile::noteOffset() {
    if (isRegularFile()) {
        const off_t at = ::lseek(m_fd.get(), 0, SEEK_CUR);
        if (at > m_end) {
            m_end = qint64(at);
        }
    }
}

FileResult OutputFile::write(QByteArrayView data) {
    if (!m_fd.isValid()) {
        return m_result.ok() ? FileResult::failure(FileStep::Write, EBADF) : m_result;
    }
    const int error = WriteAll(m_fd.get(), data);
    noteOffset();
    if (error != 0) {
        m_result = FileResult::failure(FileStep::Write, error);
        return m_result;
    }
    return {};
}

FileResult OutputFile::commit() {
    if (!m_fd.isValid()) {
        return m_result.ok() ? FileResult::failure(FileStep::Close, EBADF) : m_result;
    }
    if (!m_result.ok()) {
        const FileResult failed = m_result;
        discard();
        return failed;
    }
    auto fail = [this](FileStep step, int error) {
        m_result = FileResult::failure(step, error);
        discard();
        return m_result;
    };
    const int fd = m_fd.get();
    if (isRegularFile()) {
        if (m_inPlaceTruncate && ::ftruncate(fd, off_t(m_end)) != 0) {
            return fail(FileStep::Write, errno);
        }
        // A full disk may show only here (delayed allocation, network file systems).
        if (::fsync(fd) != 0) {
            return fail(FileStep::Sync, errno);
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            return fail(FileStep::Inspect, errno);
        }
        if (qint64(st.st_size) != m_end) {
            return fail(FileStep::Size, EIO);
        }
    }
    if (::close(m_fd.release()) != 0 && errno != EINTR) {
        return fail(FileStep::Close, errno);
    }
    if (m_target == OutputTarget::TemporaryFile) {
        const QByteArray name = NativePath(m_path);
        // rename() replaces the entry itself: a symlink there is replaced, never followed.
        if (::rename(m_tmpName.constData(), name.constData()) != 0) {
            return fail(FileStep::Rename, errno);
        }
        m_tmpName.clear();
        SyncFolder(FolderOf(name));
    }
    m_target = OutputTarget::None;
    return {};
}

void OutputFile::discard() {
    m_fd.reset();
    if (m_target == OutputTarget::TemporaryFile && !m_tmpName.isEmpty()) {
        ::unlink(m_tmpName.constData());
    } else if (m_target == OutputTarget::NewFile) {
        // Only the file this object created: not one that replaced it in the meantime.
        const QByteArray name = NativePath(m_path);
        struct stat st {};
        if (::lstat(name.constData(), &st) == 0 && SameFile(m_created, st)) {
            ::unlink(name.constData());
        }
    }
    m_tmpName.clear();
    m_target = OutputTarget::None;
}

FileResult WriteWholeFile(const QString& path, QByteArrayView data, FilePolicy policy) {
    OutputFile file = OutputFile::open(path, policy);
    if (!file.isOpen()) {
        return file.result();
    }
    const FileResult written = file.write(data);
    if (!written.ok()) {
        file.discard();
        return written;
    }
    return file.commit();
}

FileContent ReadRegularFile(const QString& path, qint64 maxBytes) {
    FileContent content;
    const QByteArray name = NativePath(path);
    // Look before opening: opening a FIFO, or some devices, blocks or has effects of its own.
    const FileStatus entry = Inspect(name, false);
    if (entry.error != 0 || entry.kind == FileKind::Missing) {
        content.result =
            FileResult::failure(FileStep::Inspect, entry.error != 0 ? entry.error : ENOENT);
        return content;
    }
    if (entry.kind != FileKind::Regular) {
        content.result = FileResult::failure(FileStep::Refuse, RefusalError(entry.kind));
        return content;
    }
    UniqueFd fd(
        ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isValid()) {
        content.result =
            FileResult::failure(errno == ELOOP ? FileStep::Refuse : FileStep::Open, errno);
        return content;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        content.result = FileResult::failure(FileStep::Refuse, ENOTSUP);
        return content;
    }
    const qint64 limit = maxBytes + 1;
    content.bytes.resize(qsizetype(qMin<qint64>(limit, qMax<qint64>(st.st_size, 0) + 1)));
    qint64 done = 0;
    while (done < limit) {
        if (done == content.bytes.size()) {
            content.bytes.resize(qsizetype(qMin<qint64>(limit, done * 2 + 4096)));
        }
        const ssize_t n =
            ::read(fd.get(), content.bytes.data() + done, size_t(content.bytes.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            content.result = FileResult::failure(FileStep::Read, errno);
            content.bytes.clear();
            return content;
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    content.bytes.resize(qsizetype(done));
    return content;
}

FileResult MoveRegularFileAside(const QString& path, const QString& newPath) {
    const QByteArray from = NativePath(path);
    const FileStatus entry = Inspect(from, false);
    if (entry.error != 0 || entry.kind == FileKind::Missing) {
        return FileResult::failure(FileStep::Inspect, entry.error != 0 ? entry.error : ENOENT);
    }
    if (entry.kind != FileKind::Regular) {
        return FileResult::failure(FileStep::Refuse, RefusalError(entry.kind));
    }
    const int error = RenameNoReplace(from.constData(), NativePath(newPath).constData());
    return error == 0 ? FileResult() : FileResult::failure(FileStep::Rename, error);
}

FileResult WriteUnderFreeName(const std::function<QString(int)>& names, int maxNames,
                              QByteArrayView data, QString* name) {
    const QByteArray folder = FolderOf(NativePath(names(1)));
    QByteArray tmp;
    UniqueFd fd(CreateTemporary(folder, &tmp));
    if (!fd.isValid()) {
        return FileResult::failure(FileStep::Open, errno);
    }
    auto fail = [&tmp](FileStep step, int error) {
        ::unlink(tmp.constData());
        return FileResult::failure(step, error);
    };
    if (const int error = WriteAll(fd.get(), data); error != 0) {
        return fail(FileStep::Write, error);
    }
    if (::fsync(fd.get()) != 0) {
        return fail(FileStep::Sync, errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || qint64(st.st_size) != data.size()) {
        return fail(FileStep::Size, EIO);
    }
    if (::close(fd.release()) != 0 && errno != EINTR) {
        return fail(FileStep::Close, errno);
    }
    for (int n = 1; n <= maxNames; ++n) {
        const QString candidate = names(n);
        const int error = RenameNoReplace(tmp.constData(), NativePath(candidate).constData());
        if (error == 0) {
            SyncFolder(folder);
            if (name != nullptr) {
                *name = candidate;
            }
            return {};
        }
        if (error != EEXIST) {
            return fail(FileStep::Rename, error);
        }
    }
    return fail(FileStep::Rename, EEXIST);
}
