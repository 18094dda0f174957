#include "contracts/FlashImage.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

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

FlashImage::Loading FlashImage::load(const QString& path, const FlashImage& blank) {
    m_bytes = blank.m_bytes;
    Loading loading;
    const FileContent content = ReadRegularFile(path, qint64(kSize));
    // No file, or no flash folder (or a file in its place): nothing to read, and a save will
    // say why it cannot create one.
    const int error = content.result.error;
    if (content.result.step == FileStep::Inspect && (error == ENOENT || error == ENOTDIR)) {
        return loading;
    }
    if (!content.result.ok()) {
        loading.state = FileState::Unreadable;
        loading.result = content.result;
        return loading;
    }
    const QByteArray& data = content.bytes;
    const size_t valid = std::min(size_t(data.size()), size_t(kSize));
    std::copy(data.cbegin(), data.cbegin() + qsizetype(valid), m_bytes.begin());
    if (data.size() != qsizetype(kSize)) {
        loading.state = FileState::WrongSize;
        loading.size = qMax<qint64>(InspectPath(path).size, data.size());
        return loading;
    }
    loading.state = FileState::Loaded;
    return loading;
}

FileResult FlashImage::save(const QString& path) const {
    if (path.isEmpty()) {
        return FileResult::failure(FileStep::Open, ENOENT);  // no place to keep it
    }
    // A folder that cannot be made shows in the write's own errno.
    QDir().mkpath(QFileInfo(path).absolutePath());
    return WriteWholeFile(
        path,
        QByteArrayView(reinterpret_cast<const char*>(m_bytes.data()), qsizetype(m_bytes.size())),
        FilePolicy::RegularInFolder);
}
