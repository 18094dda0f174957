#pragma once

#include <QString>

// The text lookup under Texts (settings/Texts.h): reads key of section from languageFile with
// a default, cut to 259 characters, writes the value back under the same section and key, and
// returns it. It never fails: a missing file, section or key yields the default, a failed
// write-back is ignored, and an empty languageFile yields the default alone.
//
// Before the first lookup into a language file that does not exist yet, the file is created
// from the copy shipped with the program (":/lng/<Name>.lng") when there is one; an existing
// file is never overwritten, so a translator's edits stay.
QString GetLanguageTextFrom(const QString& languageFile, const QString& section, const QString& key,
                            const QString& def);

// Creates languageFile from the shipped copy of the same name when it does not exist.
// Returns true when the file exists afterwards.
bool ProvideLanguageFile(const QString& languageFile);

// The process-wide caption text of the folder browser ("MainWnd"/"FOLDERTIPS").
extern QString g_strFolderTips;
