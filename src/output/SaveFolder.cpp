#include "output/SaveFolder.h"

#include <QFileInfo>

#include "settings/ProfileFile.h"

QString WithTrailingSlash(const QString& folder) {
    if (folder.endsWith(QLatin1Char('/'))) {
        return folder;
    }
    return folder + QLatin1Char('/');
}

QString DefaultSaveFolder(const QString& picturesFolder) {
    return WithTrailingSlash(picturesFolder);
}

StoredSaveFolder ReadSaveFolder(const QString& settingFile, const QString& picturesFolder) {
    StoredSaveFolder stored;
    stored.folder = DefaultSaveFolder(picturesFolder);
    // No value read from the file holds a line break: this marks a missing key.
    const QString missing = QStringLiteral("\n");
    const QString value = ProfileFile(settingFile)
                              .readString(QStringLiteral("Path"), QStringLiteral("FileFolder"),
                                          missing, ProfileFile::kWholeValue);
    if (value == missing) {
        return stored;
    }
    // Only an absolute path that is a folder, or nothing yet, can take file names appended; a
    // relative one would follow whatever the current folder happens to be.
    const QFileInfo info(value);
    if (value.isEmpty() || !value.startsWith(QLatin1Char('/')) ||
        (info.exists() && !info.isDir())) {
        stored.fellBack = true;
        return stored;
    }
    stored.folder = WithTrailingSlash(value);
    return stored;
}
