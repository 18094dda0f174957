#include "output/NewFile.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include <QLoggingCategory>
#include <cerrno>
#include <cstring>

namespace {

Q_LOGGING_CATEGORY(lcNewFile, "tavrel.output.snapshot")

// More snapshots than this in one millisecond mean something else is wrong.
constexpr int kMaxSuffix = 9999;

}  // namespace

NewFile CreateNewFile(const QString& stem, const QString& extension) {
    NewFile file;
    for (int n = 1; n <= kMaxSuffix; ++n) {
        const QString name =
            n == 1 ? stem + extension : stem + QLatin1Char('-') + QString::number(n) + extension;
        const int fd = ::open(QFile::encodeName(name).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file.fd.reset(fd);
            file.name = name;
            return file;
        }
        if (errno != EEXIST) {
            qCWarning(lcNewFile) << "Cannot create" << name << ":" << strerror(errno);
            return file;
        }
    }
    qCWarning(lcNewFile) << "No free name left for" << stem + extension;
    errno = EEXIST;
    return file;
}

QString WriteNewFile(const QString& stem, const QString& extension, const uint8_t* data,
                     size_t size) {
    NewFile file = CreateNewFile(stem, extension);
    if (!file.isOpen()) {
        return {};
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(file.fd.get(), data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += size_t(n);
    }
    // A full disk may only show at the flush (delayed allocation, network file systems).
    bool ok = done == size && ::fsync(file.fd.get()) == 0;
    if (!ok) {
        qCWarning(lcNewFile) << "Writing" << file.name << "failed:" << strerror(errno);
    }
    ok = ::close(file.fd.release()) == 0 && ok;
    if (!ok) {
        // Only our own, incomplete file: the name was created above by this call.
        ::unlink(QFile::encodeName(file.name).constData());
        return {};
    }
    return file.name;
}
