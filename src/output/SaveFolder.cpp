#include "output/SaveFolder.h"

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

QString ReadSaveFolder(const QString& settingFile, const QString& picturesFolder) {
    return ProfileFile(settingFile)
        .readString(QStringLiteral("Path"), QStringLiteral("FileFolder"),
                    DefaultSaveFolder(picturesFolder), 260);
}
