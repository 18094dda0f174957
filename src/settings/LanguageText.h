#pragma once

#include <QString>
#include <memory>

#include "settings/ProfileFile.h"

// The text lookup under Texts (settings/Texts.h): reads key of section from languageFile and
// returns it, cut to 259 characters. A value the file holds is never rewritten (a long text is
// cut for the window only, never in the file). A key the file lacks takes its value from
// shippedFile, the copy of the same language shipped with
// the program, so that a user's copy from an older version gains the new texts in its own
// language; only when the shipped copy lacks the key too (or there is none) does def, the
// built-in Chinese text, stand in; that value is added to the file. The lookup never fails: a
// missing file or section yields the values above, a file that cannot be decoded is only read
// around (the shipped value, else def), a failed write is ignored, and an empty languageFile yields
// the value without writing anything.
//
// Before the first lookup into a language file that does not exist yet, the file is created
// from shippedFile when there is one; an existing file is never overwritten otherwise, so a
// translator's edits stay.
//
// Reads both files for this one lookup; LanguageTexts keeps them in memory for many.
QString GetLanguageTextFrom(const QString& languageFile, const QString& shippedFile,
                            const QString& section, const QString& key, const QString& def);

// A language file and the shipped copy of its language, each read once into memory: the
// lookups of GetLanguageTextFrom(), with the same results, answered from memory. The language
// file is provided (created from the shipped copy when missing) and read when the object is
// made; a key it lacks is added to the file and to the copy in memory alike, so the two agree.
// The file is not read again: an edit made to it by someone else shows in a new object.
// Files are read by ProfileFile itself (ProfileFile::Snapshot), so a lookup in memory finds
// what a reading of the file finds.
class LanguageTexts {
public:
    LanguageTexts(QString languageFile, QString shippedFile);
    ~LanguageTexts();
    LanguageTexts(LanguageTexts&&) noexcept;
    LanguageTexts& operator=(LanguageTexts&&) noexcept;

    // Whether the language file was read: Undecodable when it is neither UTF-8 nor has a
    // byte-order mark (its texts then come from the shipped file, and it is never written).
    ProfileFile::State state() const;

    // The text as GetLanguageTextFrom() gives it; writes a missing key into the language file.
    QString text(const QString& section, const QString& key, const QString& def);

private:
    QString m_languageFile;
    std::unique_ptr<ProfileFile::Snapshot> m_own;
    std::unique_ptr<ProfileFile::Snapshot> m_shipped;
    bool m_writable = false;  // keys the language file lacks are still added to it
};

// Creates languageFile as a copy of shippedFile when it does not exist. Returns true when the
// file exists afterwards.
bool ProvideLanguageFile(const QString& languageFile, const QString& shippedFile);

// The shipped language file of the language `name` ("English" …): <shippedFolder><name>.lng
// when that file exists (shippedFolder ends with '/'), else the copy built into the program,
// else an empty string.
QString ShippedLanguageFile(const QString& shippedFolder, const QString& name);

// The process-wide caption text of the folder browser ("MainWnd"/"FOLDERTIPS").
extern QString g_strFolderTips;
