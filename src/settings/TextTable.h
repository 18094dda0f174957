#pragma once

#include <QString>
#include <span>

// One text of the user interface: the language-file section and key under which it is looked
// up, and its built-in Chinese default (UTF-8).
struct TextEntry {
    const char* section;
    const char* key;
    const char* chineseDefault;
};

// Every text of the program, section by section in the order of the shipped language files.
// Windows pass these defaults to GetLanguageText; the tests check that each shipped language
// file holds every entry, so that no translation can miss a key. "NOSUPPORT" of "WndMessage"
// carries the device-discovery default; the capture graph looks the key up with its own.
std::span<const TextEntry> BuiltInTexts();

// The Chinese default of section/key (both without regard to case), or an empty string when
// the table has no such entry.
QString BuiltInDefault(QStringView section, QStringView key);
