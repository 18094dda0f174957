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
    // commit() flushes the buffer, syncs, and renames; a flush error (full disk) fails here
    // and removes the temporary file.
    if (!file.commit()) {
        qCWarning(lcContracts) << "saving" << path << "failed:" << file.errorString();
        return false;
    }
    return true;
}
