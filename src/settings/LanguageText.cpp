#include "settings/LanguageText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStringDecoder>
#include <optional>

#include "platform/FileWrite.h"
#include "settings/ProfileFile.h"
#include "settings/SettingsLog.h"

QString g_strFolderTips;

namespace {

constexpr int kTextBufferChars = 260;
// Larger files are no language files: unreadable, as ProfileFile treats them.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

// Blanks and tabs off both ends (an ideographic space is content).
QStringView Trim(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin].unicode())) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1].unicode())) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

// The same on UTF-8 bytes, where it is safe as ASCII bytes never occur inside a multi-byte
// character.
QByteArrayView TrimBytes(QByteArrayView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [&](qsizetype i) {
        return IsBlank(char16_t(static_cast<unsigned char>(text[i])));
    };
    while (begin < end && blank(begin)) {
        ++begin;
    }
    while (end > begin && blank(end - 1)) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

// A value in a matching pair of double or single quotes is read without them.
QByteArrayView Unquote(QByteArrayView value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.sliced(1, value.size() - 2);
    }
    return value;
}

// UTF-8 as it stands: a U+FEFF at its start is a character (the file's mark is taken off once).
QString Decode(QByteArrayView utf8) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                       QStringConverter::Flag::Stateless);
    return decoder.decode(utf8);
}

// Text without a mark is UTF-8 only when valid and free of NUL bytes (UTF-16 without a mark).
bool IsPlainUtf8(QByteArrayView bytes) {
    if (bytes.contains('\0')) {
        return false;
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

// The name under which a section or key is kept: names compare without regard to case.
QString NameKey(QStringView name) {
    return name.toString().toCaseFolded();
}

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

// A profile file's sections and keys, read once by ProfileFile's rules: the first section of
// a name counts (later ones of the same name are passed over), and in it the first key of a
// name; keys before any section belong to none.
class LanguageTexts::Table {
public:
    explicit Table(const QString& path) {
        if (path.isEmpty()) {
            m_state = ProfileFile::State::Unreadable;
            return;
        }
        const QByteArray utf8 = Load(path);
        if (m_state == ProfileFile::State::Loaded) {
            Parse(utf8);
        }
    }

    ProfileFile::State state() const { return m_state; }

    std::optional<QString> value(const QString& section, const QString& key) const {
        const QStringView sectionName = Trim(QStringView(section));
        const QStringView keyName = Trim(QStringView(key));
        const auto keys = m_sections.constFind(NameKey(sectionName));
        if (sectionName.isEmpty() || keyName.isEmpty() || keys == m_sections.cend()) {
            return std::nullopt;
        }
        const auto found = keys->constFind(NameKey(keyName));
        if (found == keys->cend()) {
            return std::nullopt;
        }
        return *found;
    }

    // A key added to the file: later lookups find it as the file now has it.
    void add(const QString& section, const QString& key, const QString& value) {
        QHash<QString, QString>& keys = m_sections[NameKey(Trim(QStringView(section)))];
        keys.insert(NameKey(Trim(QStringView(key))), value);
    }

private:
    // The file's text as UTF-8 without its byte-order mark; sets m_state.
    QByteArray Load(const QString& path) {
        const QFileInfo info(path);
        if (!info.exists()) {
            m_state = ProfileFile::State::Missing;
            return QByteArray();
        }
        m_state = ProfileFile::State::Unreadable;
        QFile file(path);
        // Directories, devices and pipes are no language files (a pipe would block the read).
        if (!info.isFile() || info.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly)) {
            return QByteArray();
        }
        QByteArray bytes = file.readAll();
        if (bytes.size() > kMaxFileBytes || file.error() != QFileDevice::NoError) {
            return QByteArray();
        }
        m_state = ProfileFile::State::Loaded;
        if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
            QStringDecoder decoder(
                bytes.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE
                                             : QStringConverter::Utf16BE,
                QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
            const QString text = decoder.decode(QByteArrayView(bytes).sliced(2));
            return text.toUtf8();
        }
        if (bytes.startsWith("\xEF\xBB\xBF")) {
            return bytes.sliced(3);
        }
        if (IsPlainUtf8(bytes)) {
            return bytes;
        }
        m_state = ProfileFile::State::Undecodable;
        return QByteArray();
    }

    // Lines end at "\n", "\r\n" or a lone "\r".
    void Parse(const QByteArray& utf8) {
        QHash<QString, QString>* current = nullptr;  // the section the key lines belong to
        const char* const data = utf8.constData();
        const qsizetype size = utf8.size();
        for (qsizetype pos = 0; pos < size;) {
            qsizetype end = pos;
            while (end < size && data[end] != '\n' && data[end] != '\r') {
                ++end;
            }
            const QByteArrayView line = TrimBytes(QByteArrayView(data + pos, end - pos));
            if (end + 1 < size && data[end] == '\r' && data[end + 1] == '\n') {
                ++end;
            }
            pos = end + 1;

            if (line.startsWith('[')) {
                const qsizetype close = line.indexOf(']');
                if (close > 0) {
                    const QString name = NameKey(Decode(TrimBytes(line.sliced(1, close - 1))));
                    current = m_sections.contains(name) ? nullptr : &m_sections[name];
                }
                continue;
            }
            const qsizetype equals = line.indexOf('=');
            if (current == nullptr || line.startsWith(';') || equals < 0) {
                continue;
            }
            const QString name = NameKey(Decode(TrimBytes(line.first(equals))));
            if (!current->contains(name)) {
                current->insert(name, Decode(Unquote(TrimBytes(line.sliced(equals + 1)))));
            }
        }
    }

    ProfileFile::State m_state = ProfileFile::State::Missing;
    QHash<QString, QHash<QString, QString>> m_sections;  // by NameKey of section, then of key
};

LanguageTexts::LanguageTexts(QString languageFile, QString shippedFile)
    : m_languageFile(std::move(languageFile)) {
    if (!m_languageFile.isEmpty()) {
        ProvideLanguageFile(m_languageFile, shippedFile);
        m_own = std::make_unique<Table>(m_languageFile);
        m_writable = m_own->state() == ProfileFile::State::Loaded ||
                     m_own->state() == ProfileFile::State::Missing;
    }
    if (!shippedFile.isEmpty()) {
        m_shipped = std::make_unique<Table>(shippedFile);
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
