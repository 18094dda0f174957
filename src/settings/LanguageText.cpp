#include "settings/LanguageText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <optional>

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
    return LanguageTexts(languageFile, shippedFile).text(section, key, def);
}

// ---- The files in memory ---------------------------------------------------------------

LanguageTexts::LanguageTexts(QString languageFile, QString shippedFile)
    : m_languageFile(std::move(languageFile)) {
    if (!m_languageFile.isEmpty()) {
        ProvideLanguageFile(m_languageFile, shippedFile);
        m_own = std::make_unique<ProfileFile::Snapshot>(ProfileFile(m_languageFile).snapshot());
        m_writable = m_own->state() == ProfileFile::State::Loaded ||
                     m_own->state() == ProfileFile::State::Missing;
    }
    if (!shippedFile.isEmpty()) {
        m_shipped = std::make_unique<ProfileFile::Snapshot>(ProfileFile(shippedFile).snapshot());
    }
}

LanguageTexts::~LanguageTexts() = default;
LanguageTexts::LanguageTexts(LanguageTexts&&) noexcept = default;
LanguageTexts& LanguageTexts::operator=(LanguageTexts&&) noexcept = default;

ProfileFile::State LanguageTexts::state() const {
    return m_own ? m_own->state() : ProfileFile::State::Unreadable;
}

QString LanguageTexts::text(const QString& section, const QString& key, const QString& def) {
    if (m_own) {
        if (const std::optional<QString> own = m_own->value(section, key)) {
            return CutDefault(*own);  // the translator's text stays in the file, however long
        }
    }
    std::optional<QString> text;
    if (m_shipped) {
        text = m_shipped->value(section, key);
    }
    if (!text) {
        text = def;
    }
    // Only a missing key is added, and what the file now holds the copy in memory holds too. A
    // file that cannot be decoded is never written; after a write failed (no room, no
    // permission) none is tried again, which is no error: the texts still come as they would.
    if (m_writable) {
        m_writable = ProfileFile(m_languageFile).writeString(section, key, *text);
        if (m_writable) {
            m_own->add(section, key, *text);
        }
    }
    return CutDefault(*text);
}
