#include "output/Snapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <vector>

#include "capture/FrameStore.h"
#include "contracts/Image.h"
#include "output/NewFile.h"

namespace {

Q_LOGGING_CATEGORY(lcSnapshot, "tavrel.output.snapshot")

}  // namespace

QString SnapshotBaseName(const QString& folder, const QDateTime& localTime) {
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    return folder + QString::asprintf("%04d%02d%02d-%02d%02d%02d-%3d", d.year(), d.month(), d.day(),
                                      t.hour(), t.minute(), t.second(), t.msec());
}

SnapshotResult TakeSnapshot(const QString& folder, const QDateTime& now, const FrameStore& frames) {
    // One level only: a save folder whose parent is gone stays missing and the save fails.
    if (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
        QDir().mkdir(folder);
    }
    const QString stem = SnapshotBaseName(folder, now);
    const QString extension = QStringLiteral(".jpg");
    SnapshotResult result;
    result.fileName = stem + extension;
    Image picture;
    if (!frames.copyComposedImage(picture)) {
        qCInfo(lcSnapshot) << "No picture drawn yet; nothing written to" << result.fileName;
        return result;
    }
    std::vector<uint8_t> jpeg;
    if (!picture.EncodeJpeg(kSnapshotJpegQuality, jpeg)) {
        return result;
    }
    // Never over an existing file: a second snapshot in the same millisecond gets "-2".
    const QString written = WriteNewFile(stem, extension, jpeg.data(), jpeg.size());
    if (written.isEmpty()) {
        qCWarning(lcSnapshot) << "Snapshot could not be written to" << result.fileName;
        return result;
    }
    result.fileName = written;
    result.written = true;
    return result;
}

SnapshotResult WriteSnapshot(const QString& fileName, const FrameStore& frames) {
    SnapshotResult result;
    Image picture;
    const bool drawn = frames.copyComposedImage(picture);
    result.fileName = fileName;
    if (!drawn) {
        qCInfo(lcSnapshot) << "No picture drawn yet; nothing written to" << fileName;
        return result;
    }
    result.written = picture.SaveJpeg(fileName, kSnapshotJpegQuality);
    if (!result.written) {
        qCWarning(lcSnapshot) << "Snapshot could not be written to" << fileName;
    }
    return result;
}
