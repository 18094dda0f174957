#include "output/Snapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include "capture/FrameStore.h"
#include "contracts/Image.h"

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
    return WriteSnapshot(SnapshotBaseName(folder, now) + QStringLiteral(".jpg"), frames);
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
