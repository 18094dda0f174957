#include "app/ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <limits>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace {

// Larger files are no settings or language files; they are treated as unreadable so that a
// stray file can neither make a lookup slow nor be overwritten by a write.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

// Read-modify-write of a file must not interleave between threads of this process (a failure
// text may be looked up on a capture thread while the window looks up its texts).
std::mutex g_writeMutex;

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

// Trims blanks and tabs only: an ideographic space at either end of a text is content.
QStringView Trim(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin);
}

// A value wrapped in a matching pair of double or single quotes is read without them.
QStringView Unquote(QStringView value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        return value.mid(1, value.size() - 2);
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

bool Same(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// One line of the file. Lines are written back byte for byte unless a write changes them, so
// comments, unknown lines and even undecodable bytes survive a rewrite.
struct Line {
    enum class Kind { Other, Section, Key };

    QByteArray raw;  // UTF-8 bytes, without the line end
    Kind kind = Kind::Other;
    QString name;   // section name or key, trimmed
    QString value;  // value of a key line, trimmed and unquoted
};

struct Document {
    enum class State { Missing, Loaded, Unreadable };

    State state = State::Missing;
    std::vector<Line> lines;
};

Line Classify(QByteArray raw, const QString& text) {
    Line line;
    line.raw = std::move(raw);
    const QStringView trimmed = Trim(text);
    if (trimmed.startsWith(u'[')) {
        const qsizetype close = trimmed.indexOf(u']');
        if (close > 0) {
            line.kind = Line::Kind::Section;
            line.name = Trim(trimmed.mid(1, close - 1)).toString();
        }
        return line;
    }
    if (trimmed.startsWith(u';')) {
        return line;
    }
    const qsizetype equals = trimmed.indexOf(u'=');
    if (equals < 0) {
        return line;
    }
    line.kind = Line::Kind::Key;
    line.name = Trim(trimmed.left(equals)).toString();
    line.value = Unquote(Trim(trimmed.mid(equals + 1))).toString();
    return line;
}

void SplitUtf8(const QByteArray& bytes, qsizetype start, std::vector<Line>& lines) {
    qsizetype pos = start;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', pos);
        if (end < 0) {
            end = bytes.size();
        }
        qsizetype contentEnd = end;
        if (contentEnd > pos && bytes[contentEnd - 1] == '\r') {
            --contentEnd;
        }
        QByteArray raw = bytes.mid(pos, contentEnd - pos);
        const QString text = QString::fromUtf8(raw);
        lines.push_back(Classify(std::move(raw), text));
        pos = end + 1;
    }
}

void SplitText(const QString& text, std::vector<Line>& lines) {
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf(u'\n', pos);
        if (end < 0) {
            end = text.size();
        }
        qsizetype contentEnd = end;
        if (contentEnd > pos && text[contentEnd - 1] == u'\r') {
            --contentEnd;
        }
        const QString lineText = text.mid(pos, contentEnd - pos);
        lines.push_back(Classify(lineText.toUtf8(), lineText));
        pos = end + 1;
    }
}

Document Load(const QString& path) {
    Document doc;
    if (path.isEmpty()) {
        doc.state = Document::State::Unreadable;
        return doc;
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        return doc;  // Missing: every key takes its default, a write creates the file.
    }
    doc.state = Document::State::Unreadable;
    // Directories, devices and pipes are no profile files (a pipe would block the read).
    if (!info.isFile() || info.size() > kMaxFileBytes) {
        return doc;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return doc;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() > kMaxFileBytes || file.error() != QFileDevice::NoError) {
        return doc;
    }
    doc.state = Document::State::Loaded;

    const auto startsWith = [&bytes](std::initializer_list<unsigned char> bom) {
        if (bytes.size() < qsizetype(bom.size())) {
            return false;
        }
        qsizetype i = 0;
        for (const unsigned char b : bom) {
            if (static_cast<unsigned char>(bytes[i++]) != b) {
                return false;
            }
        }
        return true;
    };
    if (startsWith({0xFF, 0xFE}) || startsWith({0xFE, 0xFF})) {
        QStringDecoder decoder(startsWith({0xFF, 0xFE}) ? QStringConverter::Utf16LE
                                                        : QStringConverter::Utf16BE);
        const QString text = decoder.decode(QByteArrayView(bytes).sliced(2));
        SplitText(text, doc.lines);
    } else if (startsWith({0xEF, 0xBB, 0xBF})) {
        SplitUtf8(bytes, 3, doc.lines);
    } else {
        SplitUtf8(bytes, 0, doc.lines);
    }
    return doc;
}

// Index of the first section line named section, or -1.
qsizetype FindSection(const Document& doc, QStringView section) {
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        const Line& line = doc.lines[i];
        if (line.kind == Line::Kind::Section && Same(line.name, section)) {
            return qsizetype(i);
        }
    }
    return -1;
}

std::optional<QString> Lookup(const QString& path, const QString& section, const QString& key) {
    const QStringView sectionName = Trim(section);
    const QStringView keyName = Trim(key);
    if (sectionName.isEmpty() || keyName.isEmpty()) {
        return std::nullopt;
    }
    const Document doc = Load(path);
    const qsizetype start = FindSection(doc, sectionName);
    if (start < 0) {
        return std::nullopt;
    }
    for (size_t i = size_t(start) + 1; i < doc.lines.size(); ++i) {
        const Line& line = doc.lines[i];
        if (line.kind == Line::Kind::Section) {
            break;
        }
        if (line.kind == Line::Kind::Key && Same(line.name, keyName)) {
            return line.value;
        }
    }
    return std::nullopt;
}

// The text after "key=": quoted when blanks at either end or a pair of outer quotes would
// otherwise be lost on reading, so that every value reads back exactly as it was written.
QByteArray EncodeValue(const QString& value) {
    const bool needsQuotes = !value.isEmpty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                                  Unquote(value).size() != value.size());
    if (needsQuotes) {
        return '"' + value.toUtf8() + '"';
    }
    return value.toUtf8();
}

bool Save(const QString& path, const std::vector<Line>& lines) {
    QByteArray bytes;
    qsizetype total = 0;
    for (const Line& line : lines) {
        total += line.raw.size() + 1;
    }
    bytes.reserve(total);
    for (const Line& line : lines) {
        bytes += line.raw;
        bytes += '\n';
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        return false;  // the temporary file is discarded, the old file stays
    }
    return file.commit();
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

QString ProfileFile::readString(const QString& section, const QString& key, const QString& def,
                                int bufferChars) const {
    const std::optional<QString> value = Lookup(m_path, section, key);
    return Cut(value ? *value : def, bufferChars - 1);
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
    qint64 number = 0;
    for (; pos < value->size(); ++pos) {
        const QChar c = (*value)[pos];
        if (c < u'0' || c > u'9') {
            break;
        }
        number = number * 10 + (c.unicode() - u'0');
        if (number > qint64(std::numeric_limits<int>::max()) + 1) {
            number = qint64(std::numeric_limits<int>::max()) + 1;  // saturate
        }
    }
    if (negative) {
        number = -number;
    }
    if (number > std::numeric_limits<int>::max()) {
        number = std::numeric_limits<int>::max();
    }
    return int(number);
}

bool ProfileFile::writeString(const QString& section, const QString& key, const QString& value) {
    const QString sectionName = Trim(section).toString();
    const QString keyName = Trim(key).toString();
    // Names and values that would break the line structure are refused instead of written:
    // they would turn into other sections or keys when the file is read again.
    if (m_path.isEmpty() || sectionName.isEmpty() || keyName.isEmpty() ||
        sectionName.contains(u']') || ContainsLineBreakOrNul(sectionName) ||
        keyName.contains(u'=') || keyName.startsWith(u'[') || keyName.startsWith(u';') ||
        ContainsLineBreakOrNul(keyName) || ContainsLineBreakOrNul(value)) {
        return false;
    }

    const std::lock_guard<std::mutex> lock(g_writeMutex);
    Document doc = Load(m_path);
    if (doc.state == Document::State::Unreadable) {
        return false;  // never replace a file whose content we could not read
    }

    const qsizetype start = FindSection(doc, sectionName);
    if (start < 0) {
        Line header;
        header.raw = '[' + sectionName.toUtf8() + ']';
        doc.lines.push_back(std::move(header));
        Line entry;
        entry.raw = keyName.toUtf8() + '=' + EncodeValue(value);
        doc.lines.push_back(std::move(entry));
        return Save(m_path, doc.lines);
    }

    size_t insertAt = size_t(start) + 1;
    for (size_t i = size_t(start) + 1; i < doc.lines.size(); ++i) {
        Line& line = doc.lines[i];
        if (line.kind == Line::Kind::Section) {
            break;
        }
        if (line.kind != Line::Kind::Key) {
            continue;
        }
        if (Same(line.name, keyName)) {
            if (line.value == value) {
                return true;  // the file already says so: leave it untouched
            }
            line.raw = line.name.toUtf8() + '=' + EncodeValue(value);
            return Save(m_path, doc.lines);
        }
        insertAt = i + 1;
    }
    Line entry;
    entry.raw = keyName.toUtf8() + '=' + EncodeValue(value);
    doc.lines.insert(doc.lines.begin() + qsizetype(insertAt), std::move(entry));
    return Save(m_path, doc.lines);
}
