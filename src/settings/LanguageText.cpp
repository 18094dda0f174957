#include "settings/LanguageText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/FileWrite.h"
#include "settings/ProfileFile.h"
#include "settings/SettingsLog.h"

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

bool ProvideLanguageFile(const QString& languageFile, const QString& shippedFile) {
    if (languageFile.isEmpty()) {
        return false;
    }
    const QFileInfo info(languageFile);
    if (info.exists()) {
        return true;  // a translator's file, or one filled by earlier lookups: keep it
    }
    if (shippedFile.isEmpty()) {
        return false;
    }
    QFile shipped(shippedFile);
    if (!shipped.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = shipped.readAll();
    if (shipped.error() != QFileDevice::NoError) {
        return false;
    }
    QDir().mkpath(info.absolutePath());
    // The copy is checked for what reached the disk; one cut short is not left in place.
    const FileResult copied = WriteWholeFile(languageFile, bytes, FilePolicy::OwnFile);
    if (!copied.ok()) {
        qCWarning(lcSettings).noquote()
            << "cannot copy" << shippedFile << "to" << languageFile << ":" << copied.describe();
        return false;
    }
    // Later lookups write their values back, so the copy must be writable whatever the
    // permissions of the shipped file were (read-only under /usr/share or in the resources).
    QFile::setPermissions(languageFile, QFile::permissions(languageFile) | QFile::ReadOwner |
                                            QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    return true;
}

QString ShippedLanguageFile(const QString& shippedFolder, const QString& name) {
    const QString fileName = name + QStringLiteral(".lng");
    if (!shippedFolder.isEmpty() && QFileInfo(shippedFolder + fileName).isFile()) {
        return shippedFolder + fileName;
    }
    const QString builtIn = QStringLiteral(":/lng/") + fileName;
    return QFileInfo::exists(builtIn) ? builtIn : QString();
}

QString GetLanguageTextFrom(const QString& languageFile, const QString& shippedFile,
                            const QString& section, const QString& key, const QString& def) {
    // No value read from a file can hold a line break, so this marks a missing key.
    const QString missing = QStringLiteral("\n");
    if (!languageFile.isEmpty()) {
        ProvideLanguageFile(languageFile, shippedFile);
        const QString own =
            ProfileFile(languageFile).readString(section, key, missing, kTextBufferChars);
        if (own != missing) {
            return own;  // the translator's text stays in the file as it is, however long
        }
    }
    QString text = missing;
    if (!shippedFile.isEmpty()) {
        text = ProfileFile(shippedFile).readString(section, key, missing, ProfileFile::kWholeValue);
    }
    if (text == missing) {
        text = def;
    }
    if (!languageFile.isEmpty()) {
        // Only a missing key is added; a file that cannot be decoded refuses the write.
        ProfileFile(languageFile).writeString(section, key, text);  // a failure is no error
    }
    return CutDefault(text);
}
