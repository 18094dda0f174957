#include "output/Snapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <cerrno>
#include <vector>

#include "capture/FrameStore.h"
#include "contracts/Image.h"
#include "output/NewFile.h"

namespace {

Q_LOGGING_CATEGORY(lcSnapshot, "tavrel.output.snapshot")

// The composed picture as a JPEG; false (logged) when none is drawn yet or it cannot be encoded.
bool Encode(const FrameStore& frames, SnapshotResult& result, std::vector<uint8_t>& jpeg) {
    Image picture;
    if (!frames.copyComposedImage(picture)) {
        qCInfo(lcSnapshot) << "No picture drawn yet; nothing written to" << result.fileName;
        return false;
    }
    if (!picture.EncodeJpeg(kSnapshotJpegQuality, jpeg)) {
        result.result = FileResult::failure(FileStep::Write, EINVAL);
        return false;
    }
    return true;
}

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
    std::vector<uint8_t> jpeg;
    if (!Encode(frames, result, jpeg)) {
        return result;
    }
    // Never over an existing file: a second snapshot in the same millisecond gets "-2".
    const NewFileResult written = WriteNewFile(stem, extension, jpeg.data(), jpeg.size());
    result.result = written.result;
    if (!written.result.ok()) {
        return result;  // logged with its errno
    }
    result.fileName = written.name;
    result.written = true;
    return result;
}

SnapshotResult WriteSnapshot(const QString& fileName, const FrameStore& frames) {
    SnapshotResult result;
    result.fileName = fileName;
    std::vector<uint8_t> jpeg;
    if (!Encode(frames, result, jpeg)) {
        return result;
    }
    OutputFile file = OutputFile::open(fileName, FilePolicy::UserNamed);
    result.target = file.target();
    result.result = file.isOpen()
                        ? file.write(QByteArrayView(reinterpret_cast<const char*>(jpeg.data()),
                                                    qsizetype(jpeg.size())))
                        : file.result();
    if (result.result.ok()) {
        result.result = file.commit();
    }
    result.written = result.result.ok();
    if (!result.written) {
        qCWarning(lcSnapshot).noquote()
            << "Snapshot could not be written to" << fileName << ":" << result.result.describe();
    }
    return result;
}
