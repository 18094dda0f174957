#include "settings/ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <limits>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/FileWrite.h"
#include "settings/SettingsLog.h"

namespace {

// Larger files are no settings or language files; they are treated as unreadable so that a
// stray file can neither make a lookup slow nor be overwritten by a write.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

// Read-modify-write of a file must not interleave between threads of this process (a failure
// text may be looked up on a capture thread while the window looks up its texts).
std::mutex g_writeMutex;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}
bool IsBlank(QChar c) {
    return IsBlank(c.unicode());
}
bool IsBlank(char c) {
    return IsBlank(char16_t(static_cast<unsigned char>(c)));
}

// Trims blanks and tabs only: an ideographic space at either end of a text is content. The
// same set on UTF-8 bytes, where it is safe because ASCII bytes never occur inside a multi-byte
// character.
template <typename View>
View Trim(View text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

// A value wrapped in a matching pair of double or single quotes is read without them.
template <typename View>
View Unquote(View value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.sliced(1, value.size() - 2);
    }
    return value;
}

// Cuts text to at most maxChars UTF-16 code units without splitting a surrogate pair.
QString Cut(const QString& text, int maxChars) {
    if (maxChars <= 0) {
        return QString();
    }
    if (text.size() <= maxChars) {
        return text;
    }
    qsizetype length = maxChars;
    if (text[length - 1].isHighSurrogate()) {
        --length;
    }
    return text.left(length);
}

// UTF-8 text as it stands: a U+FEFF at its start is a character like any other (the file's
// byte-order mark is taken off once, in Load). QString::fromUtf8 would drop it.
QString Decode(QByteArrayView utf8) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                       QStringConverter::Flag::Stateless);
    return decoder.decode(utf8);
}

bool SameName(QByteArrayView utf8Name, QStringView name) {
    return Decode(utf8Name).compare(name, Qt::CaseInsensitive) == 0;
}

// Text without a byte-order mark is taken for UTF-8 only when it is valid UTF-8 and holds no
// NUL byte (UTF-16 without a mark is full of them): anything else is in an encoding this
// program cannot tell, and writing UTF-8 lines into it would spoil it.
bool IsPlainUtf8(QByteArrayView bytes) {
    if (bytes.contains('\0')) {
        return false;
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

using State = ProfileFile::State;

// The file's text as UTF-8 without byte-order mark, or why there is none.
struct Content {
    State state = State::Missing;
    QByteArray utf8;
};

Content Load(const QString& path) {
    Content content;
    if (path.isEmpty()) {
        content.state = State::Unreadable;
        return content;
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        return content;  // every key takes its default, and a write creates the file
    }
    content.state = State::Unreadable;
    // Directories, devices and pipes are no profile files (a pipe would block the read).
    if (!info.isFile() || info.size() > kMaxFileBytes) {
        return content;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return content;
    }
    QByteArray bytes = file.readAll();
    if (bytes.size() > kMaxFileBytes || file.error() != QFileDevice::NoError) {
        return content;
    }
    content.state = State::Loaded;

    // Exactly one byte-order mark is taken off; a second one is text.
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(
            bytes.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
            QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(QByteArrayView(bytes).sliced(2));
        content.utf8 = text.toUtf8();
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        content.utf8 = bytes.sliced(3);
    } else if (IsPlainUtf8(bytes)) {
        content.utf8 = std::move(bytes);
    } else {
        content.state = State::Undecodable;
    }
    return content;
}

// One line of the file, as a view into its UTF-8 text (without the line end).
struct Line {
    enum class Kind { Other, Section, Key };

    QByteArrayView text;
    Kind kind = Kind::Other;
    QByteArrayView name;   // section name or key, trimmed
    QByteArrayView value;  // value of a key line, trimmed and unquoted
};

Line Classify(QByteArrayView text) {
    Line line;
    line.text = text;
    const QByteArrayView trimmed = Trim(text);
    if (trimmed.startsWith('[')) {
        const qsizetype close = trimmed.indexOf(']');
        if (close > 0) {
            line.kind = Line::Kind::Section;
            line.name = Trim(trimmed.sliced(1, close - 1));
        }
        return line;
    }
    if (trimmed.startsWith(';')) {
        return line;
    }
    const qsizetype equals = trimmed.indexOf('=');
    if (equals < 0) {
        return line;
    }
    line.kind = Line::Kind::Key;
    line.name = Trim(trimmed.first(equals));
    line.value = Unquote(Trim(trimmed.sliced(equals + 1)));
    return line;
}

// Calls visit(line) for every line until it returns false. Lines end at "\n", "\r\n" or a lone
// "\r" (files saved by old Mac editors). Nothing is allocated per line, so even a file of
// millions of empty lines is cheap to walk.
template <typename Visit>
void ForEachLine(const QByteArray& utf8, Visit visit) {
    const char* const data = utf8.constData();
    const qsizetype size = utf8.size();
    qsizetype pos = 0;
    while (pos < size) {
        qsizetype end = pos;
        while (end < size && data[end] != '\n' && data[end] != '\r') {
            ++end;
        }
        if (!visit(Classify(QByteArrayView(data + pos, end - pos)))) {
            return;
        }
        if (end + 1 < size && data[end] == '\r' && data[end + 1] == '\n') {
            ++end;
        }
        pos = end + 1;
    }
}

// Where a section and a key sit in the file.
struct Location {
    bool sectionFound = false;
    std::optional<Line> key;  // the first matching key line of the first matching section
    QByteArrayView lastLineBeforeInsert;  // section header or its last key line
};

Location Locate(const QByteArray& utf8, QStringView section, QStringView key) {
    Location where;
    ForEachLine(utf8, [&](const Line& line) {
        if (line.kind == Line::Kind::Section) {
            if (where.sectionFound) {
                return false;  // the first matching section ends here
            }
            if (SameName(line.name, section)) {
                where.sectionFound = true;
                where.lastLineBeforeInsert = line.text;
            }
            return true;
        }
        if (where.sectionFound && line.kind == Line::Kind::Key) {
            if (SameName(line.name, key)) {
                where.key = line;
                return false;
            }
            where.lastLineBeforeInsert = line.text;
        }
        return true;
    });
    return where;
}

std::optional<QString> Lookup(const QString& path, const QString& section, const QString& key) {
    const QStringView sectionName = Trim(QStringView(section));
    const QStringView keyName = Trim(QStringView(key));
    if (sectionName.isEmpty() || keyName.isEmpty()) {
        return std::nullopt;
    }
    const Content content = Load(path);
    const Location where = Locate(content.utf8, sectionName, keyName);
    if (!where.key) {
        return std::nullopt;
    }
    return Decode(where.key->value);
}

// The text after "key=": quoted when blanks at either end or a pair of outer quotes would
// otherwise be lost on reading, so that every value reads back exactly as it was written.
QByteArray EncodeValue(const QString& value) {
    const bool needsQuotes =
        !value.isEmpty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                             Unquote(QStringView(value)).size() != value.size());
    if (needsQuotes) {
        return '"' + value.toUtf8() + '"';
    }
    return value.toUtf8();
}

// The file rewritten with "\n" line ends: every line kept as it was, except that the line
// starting at `at` (a view into utf8) is replaced by `replacement` (replace) or followed by it.
QByteArray Rewrite(const QByteArray& utf8, const char* at, bool replace,
                   const QByteArray& replacement) {
    QByteArray out;
    out.reserve(utf8.size() + replacement.size() + 2);
    ForEachLine(utf8, [&](const Line& line) {
        if (line.text.data() == at) {
            if (!replace) {
                out += line.text;
                out += '\n';
            }
            out += replacement;
            out += '\n';
        } else {
            out += line.text;
            out += '\n';
        }
        return true;
    });
    return out;
}

bool Save(const QString& path, QByteArray bytes) {
    // Text that itself begins like a byte-order mark (a U+FEFF character, or bytes FF FE kept
    // from a file that had a UTF-8 mark) would be taken for one on the next reading, and text
    // that is not plain UTF-8 (bytes kept from a file with a UTF-8 mark) would be taken for an
    // undecodable file: a mark of its own keeps it text.
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
        bytes.startsWith("\xFE\xFF") || !IsPlainUtf8(bytes)) {
        bytes.prepend("\xEF\xBB\xBF");
    }
    // Checked for what reached the disk; on failure the old file stays as it was.
    const FileResult result = WriteWholeFile(path, bytes, FilePolicy::OwnFile);
    if (!result.ok()) {
        qCInfo(lcSettings).noquote() << "cannot write" << path << ":" << result.describe();
    }
    return result.ok();
}

bool ContainsLineBreakOrNul(const QString& text) {
    for (const QChar c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar(0)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ProfileFile::ProfileFile(QString path) : m_path(std::move(path)) {}

namespace {

// The name under which a snapshot keeps a section or key.
QString FoldedName(QStringView name) {
    return Trim(name).toString().toCaseFolded();
}

}  // namespace

ProfileFile::Snapshot ProfileFile::snapshot() const {
    Snapshot snapshot;
    const Content content = Load(m_path);
    snapshot.m_state = content.state;
    QHash<QString, QString>* current = nullptr;  // the section the key lines belong to
    ForEachLine(content.utf8, [&](const Line& line) {
        if (line.kind == Line::Kind::Section) {
            const QString name = FoldedName(Decode(line.name));
            // A later section of a name already seen is passed over, as Locate passes it.
            current = snapshot.m_sections.contains(name) ? nullptr : &snapshot.m_sections[name];
        } else if (line.kind == Line::Kind::Key && current != nullptr) {
            const QString name = FoldedName(Decode(line.name));
            if (!current->contains(name)) {
                current->insert(name, Decode(line.value));
            }
        }
        return true;
    });
    return snapshot;
}

std::optional<QString> ProfileFile::Snapshot::value(const QString& section,
                                                    const QString& key) const {
    const QString sectionName = FoldedName(section);
    const QString keyName = FoldedName(key);
    const auto keys = m_sections.constFind(sectionName);
    if (sectionName.isEmpty() || keyName.isEmpty() || keys == m_sections.cend()) {
        return std::nullopt;
    }
    const auto found = keys->constFind(keyName);
    return found == keys->cend() ? std::nullopt : std::optional<QString>(*found);
}

void ProfileFile::Snapshot::add(const QString& section, const QString& key, const QString& value) {
    m_sections[FoldedName(section)].insert(FoldedName(key), value);
}

QString ProfileFile::readString(const QString& section, const QString& key, const QString& def,
                                int bufferChars) const {
    const std::optional<QString> value = Lookup(m_path, section, key);
    return Cut(value ? *value : def, bufferChars - 1);
}

ProfileFile::State ProfileFile::state() const {
    return Load(m_path).state;
}

int ProfileFile::readInt(const QString& section, const QString& key, int def) const {
    const std::optional<QString> value = Lookup(m_path, section, key);
    if (!value) {
        return def;
    }
    qsizetype pos = 0;
    bool negative = false;
    if (pos < value->size() && ((*value)[pos] == u'-' || (*value)[pos] == u'+')) {
        negative = (*value)[pos] == u'-';
        ++pos;
    }
    constexpr qint64 kLimit = qint64(std::numeric_limits<int>::max()) + 1;
    qint64 number = 0;
    for (; pos < value->size(); ++pos) {
        const QChar c = (*value)[pos];
        if (c < u'0' || c > u'9') {
            break;
        }
        number = qMin(number * 10 + (c.unicode() - u'0'), kLimit);  // saturate
    }
    if (negative) {
        number = -number;
    }
    return int(qMin<qint64>(number, std::numeric_limits<int>::max()));
}

bool ProfileFile::writeString(const QString& section, const QString& key, const QString& value) {
    const QString sectionName = Trim(QStringView(section)).toString();
    const QString keyName = Trim(QStringView(key)).toString();
    // Names and values that would break the line structure are refused instead of written:
    // they would turn into other sections or keys when the file is read again.
    if (m_path.isEmpty() || sectionName.isEmpty() || keyName.isEmpty() ||
        sectionName.contains(u']') || ContainsLineBreakOrNul(sectionName) ||
        keyName.contains(u'=') || keyName.startsWith(u'[') || keyName.startsWith(u';') ||
        ContainsLineBreakOrNul(keyName) || ContainsLineBreakOrNul(value)) {
        return false;
    }

    const std::lock_guard<std::mutex> lock(g_writeMutex);
    const Content content = Load(m_path);
    if (content.state == State::Unreadable || content.state == State::Undecodable) {
        return false;  // never replace a file whose content could not be read
    }

    const Location where = Locate(content.utf8, sectionName, keyName);
    if (!where.sectionFound) {
        const QByteArray added =
            '[' + sectionName.toUtf8() + "]\n" + keyName.toUtf8() + '=' + EncodeValue(value);
        return Save(m_path, Rewrite(content.utf8, nullptr, false, QByteArray()) + added + '\n');
    }
    if (where.key) {
        if (Decode(where.key->value) == value) {
            return true;  // the file already says so: leave it untouched
        }
        // The key keeps the spelling it has in the file.
        const QByteArray line = where.key->name.toByteArray() + '=' + EncodeValue(value);
        return Save(m_path, Rewrite(content.utf8, where.key->text.data(), true, line));
    }
    const QByteArray line = keyName.toUtf8() + '=' + EncodeValue(value);
    return Save(m_path, Rewrite(content.utf8, where.lastLineBeforeInsert.data(), false, line));
}
