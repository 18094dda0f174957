#include "settings/LanguageText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "settings/ProfileFile.h"

QString g_strFolderTips;

namespace {

constexpr int kTextBufferChars = 260;

QString CutDefault(const QString& text) {
    qsizetype length = qMin<qsizetype>(text.size(), kTextBufferChars - 1);
    if (length < text.size() && length > 0 && text[length - 1].isHighSurrogate()) {
        --length;
    }
    return text.left(length);
}

}  // namespace

bool ProvideLanguageFile(const QString& languageFile) {
    if (languageFile.isEmpty()) {
        return false;
    }
    const QFileInfo info(languageFile);
    if (info.exists()) {
        return true;  // a translator's file, or one filled by earlier lookups: keep it
    }
    QFile shipped(QStringLiteral(":/lng/") + info.fileName());
    if (!shipped.exists() || !shipped.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = shipped.readAll();
    QDir().mkpath(info.absolutePath());
    QSaveFile copy(languageFile);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.commit()) {
        return false;
    }
    // Later lookups write their values back, so the copy must be writable whatever the
    // permissions of the shipped file were.
    QFile::setPermissions(languageFile, QFile::permissions(languageFile) | QFile::ReadOwner |
                                            QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    return true;
}

QString GetLanguageTextFrom(const QString& languageFile, const QString& section, const QString& key,
                            const QString& def) {
    if (languageFile.isEmpty()) {
        return CutDefault(def);
    }
    ProvideLanguageFile(languageFile);
    ProfileFile file(languageFile);
    const QString text = file.readString(section, key, def, kTextBufferChars);
    file.writeString(section, key, text);  // a failed write-back is no error
    return text;
}
