#pragma once

#include <QString>
#include <memory>
#include <mutex>
#include <utility>

#include "settings/LanguageText.h"

// The texts of the user interface in the language in force. One object exists; the application
// object owns it, follows the user's language choice with setLanguageFile(), and hands it by
// reference to every window and component that shows text, so that nothing looks the language
// up behind the caller's back.
//
// A lookup reads section/key from the language file in force as GetLanguageTextFrom() does: the
// file is created from the shipped copy of its language when missing, a key it lacks takes the
// shipped copy's value (else the built-in default) and is added to the file, values the file
// holds are never rewritten, the text returned is cut to 259 characters, and a lookup never
// fails. Without a language file the shipped value or the default itself is returned (cut the
// same way).
//
// Both files are read into memory at the first lookup after the language is chosen
// (LanguageTexts) and looked up there; an edit made to the file meanwhile by someone else shows
// once the language is chosen again. Lookups are serialised, so any thread may look up a text;
// the language is chosen on the GUI thread.
class Texts {
public:
    Texts() = default;
    explicit Texts(QString languageFile, QString shippedFile = QString());
    ~Texts();
    Texts(const Texts&) = delete;
    Texts& operator=(const Texts&) = delete;

    const QString& languageFile() const { return m_languageFile; }
    // shippedFile: the same language's file shipped with the program (ShippedLanguageFile()),
    // empty when there is none. A language file that cannot be decoded is logged at the first
    // lookup, once per choice.
    void setLanguageFile(QString languageFile, QString shippedFile);

    // A text of the program's text table, with the table's Chinese default.
    QString text(const QString& section, const QString& key) const;
    QString text(const char* section, const char* key) const;
    // A text with a default of its own (for a key the table holds with another default).
    QString text(const QString& section, const QString& key, const QString& def) const;

private:
    QString m_languageFile;
    QString m_shippedFile;
    // Protects m_loaded: the files in memory, made at the first lookup after a choice.
    mutable std::mutex m_mutex;
    mutable std::unique_ptr<LanguageTexts> m_loaded;
};
