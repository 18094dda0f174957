#include "contracts/FlashImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "contracts/AtomicFile.h"
#include "contracts/ContractsLog.h"

bool FlashImage::read(uint32_t address, uint32_t length, uint8_t* out) const {
    if (!inRange(address, length) || (out == nullptr && length > 0)) {
        return false;
    }
    if (length > 0) {
        std::memcpy(out, m_bytes.data() + address, length);
    }
    return true;
}

bool FlashImage::write(uint32_t address, uint32_t length, const uint8_t* in) {
    if (!inRange(address, length) || (in == nullptr && length > 0)) {
        return false;
    }
    if (length > 0) {
        std::memcpy(m_bytes.data() + address, in, length);
    }
    return true;
}

bool FlashImage::load(const QString& path, const FlashImage& blank) {
    m_bytes = blank.m_bytes;
    QFile file(path);
    if (!file.exists()) {
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcContracts) << "cannot read flash image" << path << ":" << file.errorString();
        return false;
    }
    // Read one byte more than expected so that a longer file is recognised as wrong too.
    const QByteArray data = file.read(qint64(kSize) + 1);
    if (data.size() < 0) {
        qCWarning(lcContracts) << "cannot read flash image" << path << ":" << file.errorString();
        return false;
    }
    const size_t valid = std::min(size_t(data.size()), size_t(kSize));
    std::copy(data.cbegin(), data.cbegin() + qsizetype(valid), m_bytes.begin());
    if (data.size() != qsizetype(kSize)) {
        qCWarning(lcContracts) << "flash image" << path << "has" << file.size()
                               << "bytes instead of" << kSize << "; only the first" << valid
                               << "count";
        return false;
    }
    return true;
}

bool FlashImage::save(const QString& path) const {
    if (path.isEmpty()) {
        return false;  // no place to keep it
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        qCWarning(lcContracts) << "cannot create the flash folder" << folder;
        return false;
    }
    return writeFileAtomically(path, m_bytes.data(), m_bytes.size());
}
