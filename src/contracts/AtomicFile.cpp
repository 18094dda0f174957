#include "contracts/AtomicFile.h"

#include <QSaveFile>

#include "contracts/ContractsLog.h"

bool writeFileAtomically(const QString& path, const uint8_t* data, size_t size) {
    QSaveFile file(path);
    // Never fall back to writing the final file in place: that is what leaves half files.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcContracts) << "cannot create a temporary file for" << path << ":"
                               << file.errorString();
        return false;
    }
    size_t done = 0;
    while (done < size) {
        const qint64 n =
            file.write(reinterpret_cast<const char*>(data + done), qint64(size - done));
        if (n <= 0) {
            qCWarning(lcContracts) << "write to" << path << "failed:" << file.errorString();
            file.cancelWriting();
            return false;
        }
        done += size_t(n);
    }
    // A full disk or a file-size limit can cut the flushed data short without the flush
    // reporting it, so the size that reached the file is checked before the rename.
    if (!file.flush() || file.error() != QFileDevice::NoError || file.size() != qint64(size)) {
        qCWarning(lcContracts) << "write to" << path << "was cut short:" << file.errorString();
        file.cancelWriting();
        return false;
    }
    // commit() syncs and renames; it removes the temporary file when that fails.
    if (!file.commit()) {
        qCWarning(lcContracts) << "saving" << path << "failed:" << file.errorString();
        return false;
    }
    return true;
}
