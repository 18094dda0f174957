#pragma once

#include <QString>
#include <utility>

// The texts of the user interface in the language in force. One object exists; the application
// object owns it, follows the user's language choice with setLanguageFile(), and hands it by
// reference to every window and component that shows text, so that nothing looks the language
// up behind the caller's back.
//
// A lookup reads section/key from the language file in force as GetLanguageTextFrom() does: the
// file is created from the shipped copy of its language when missing, a key it lacks takes the
// shipped copy's value (else the built-in default) and is added to the file, values the file
// holds are never rewritten, the text returned is cut to 259 characters, and a lookup never
// fails. Without a language file the shipped value or the
// default itself is returned (cut the same way). GUI thread only.
class Texts {
public:
    Texts() = default;
    explicit Texts(QString languageFile, QString shippedFile = QString())
        : m_languageFile(std::move(languageFile)), m_shippedFile(std::move(shippedFile)) {}
    const QString& languageFile() const { return m_languageFile; }
    // shippedFile: the same language's file shipped with the program (ShippedLanguageFile()),
    // empty when there is none.
    // A language file that cannot be decoded is logged here, once per switch.
    void setLanguageFile(QString languageFile, QString shippedFile);

    // A text of the program's text table, with the table's Chinese default.
    QString text(const QString& section, const QString& key) const;
    QString text(const char* section, const char* key) const;
    // A text with a default of its own (for a key the table holds with another default).
    QString text(const QString& section, const QString& key, const QString& def) const;

private:
    QString m_languageFile;
    QString m_shippedFile;
};
