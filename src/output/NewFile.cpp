#include "output/NewFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <cerrno>
#include <cstring>

#include "platform/NativePath.h"

namespace {

Q_LOGGING_CATEGORY(lcNewFile, "tavrel.output.snapshot")

// More snapshots than this in one millisecond mean something else is wrong.
constexpr int kMaxSuffix = 9999;

}  // namespace

QString NumberedName(const QString& stem, const QString& extension, int n) {
    return n == 1 ? stem + extension : stem + QLatin1Char('-') + QString::number(n) + extension;
}

NewFile CreateNewFile(const QString& stem, const QString& extension) {
    NewFile file;
    for (int n = 1; n <= kMaxSuffix; ++n) {
        const QString name = NumberedName(stem, extension, n);
        const int fd =
            ::open(NativePath(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file.fd.reset(fd);
            file.name = name;
            return file;
        }
        file.error = errno;
        if (file.error != EEXIST) {
            qCWarning(lcNewFile) << "Cannot create" << name << ":" << strerror(file.error);
            return file;
        }
    }
    qCWarning(lcNewFile) << "No free name left for" << stem + extension;
    file.error = EEXIST;
    return file;
}

NewFileResult WriteNewFile(const QString& stem, const QString& extension, const uint8_t* data,
                           size_t size) {
    NewFileResult written;
    written.result = WriteUnderFreeName(
        [&](int n) { return NumberedName(stem, extension, n); }, kMaxSuffix,
        QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)), &written.name);
    if (!written.result.ok()) {
        written.name.clear();
        qCWarning(lcNewFile).noquote()
            << "Writing" << stem + extension << "failed:" << written.result.describe();
    }
    return written;
}
