#pragma once

#include <QHash>
#include <QString>

#include <limits>
#include <optional>

// An initialisation file ("[Section]" lines and "Key=Value" lines), such as Setting.ini and the
// language files, which users may copy from another computer or edit by hand. The rules:
//  - section and key names compare without regard to case ("Menu" and "MENU" are one section;
//    the first matching section in the file is the one used);
//  - a value read is cut to bufferChars - 1 characters (the callers pass 260);
//  - a write replaces the value in place, or appends the key to its section, or appends the
//    section to the file, keeping the order and every other line (comments, unknown keys);
//  - the file and the section come into being with the first write.
// Files are read as UTF-8, or UTF-16 of either byte order when they start with a byte-order
// mark; they are written as UTF-8. Exactly one byte-order mark is taken off: a U+FEFF after it
// is text, and a written file whose text begins like a mark, or is not plain UTF-8 (bytes kept
// from a file with a UTF-8 mark), gets a UTF-8 mark of its own, so that it reads back as it was
// written. A file without a mark that is not valid UTF-8 (or holds
// NUL bytes, as UTF-16 without a mark does) cannot be decoded: it yields the defaults and is
// never written. Lines end at "\n", "\r\n" or a lone "\r"; a write ends every line with "\n". A
// write replaces the file atomically (temporary file and rename), so a crash or a full disk never
// leaves half a file behind. A file that cannot be read or parsed simply yields the defaults;
// nothing here throws or crashes on bad input.
//
// Each call opens the file anew; the class keeps no cache, so several objects (and other
// programs) may work on the same file. Writes within this process are serialised; writers in
// other processes can still lose each other's updates (never corrupt the file).
//
// Further: a file larger than 16 MiB, a directory or an unreadable file
// yields the defaults and is never written; names or values with line breaks are refused; a
// value with blanks at either end, or wrapped in quotes, is written quoted so that it reads back
// unchanged.
class ProfileFile {
public:
    // What a reading of the file finds.
    enum class State {
        Missing,      // no such file: defaults, and a write creates it
        Loaded,       // read and decoded
        Unreadable,   // a folder, too large, no permission, or no path
        Undecodable,  // no byte-order mark and not UTF-8
    };

    // A buffer size that takes a value in full (paths, which no length limit applies to).
    static constexpr int kWholeValue = std::numeric_limits<int>::max();

    explicit ProfileFile(QString path);

    const QString& path() const { return m_path; }

    // Reads the file once to tell the callers that log it why its values are defaults.
    State state() const;

    // The value, or def when the file, section or key is missing.
    QString readString(const QString& section, const QString& key, const QString& def,
                       int bufferChars = 260) const;

    // The leading decimal number of the value (an optional sign, then
    // digits), 0 when the value has no leading digits, def when the key is missing.
    int readInt(const QString& section, const QString& key, int def) const;

    // Writes value under section/key. Returns false when the file cannot be written; the
    // program's callers ignore that. Writing the value that the file already holds
    // leaves the file untouched.
    bool writeString(const QString& section, const QString& key, const QString& value);

    // Every section and key of one reading of the file, for lookups in memory that find what
    // readString() would find (the first section of a name, in it the first key of a name,
    // names without regard to case; keys before any section belong to none).
    class Snapshot {
    public:
        State state() const { return m_state; }
        // The value as readString() reads it, uncut; nullopt for a missing section or key.
        std::optional<QString> value(const QString& section, const QString& key) const;
        // A key written to the file since: later lookups find it as the file now has it.
        void add(const QString& section, const QString& key, const QString& value);

    private:
        friend class ProfileFile;
        State m_state = State::Missing;
        QHash<QString, QHash<QString, QString>> m_sections;  // by folded section, folded key
    };
    Snapshot snapshot() const;

private:
    QString m_path;
};
