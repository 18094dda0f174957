#pragma once

#include <QString>
#include <memory>

class QTranslator;

// Qt's own texts (the buttons of message boxes, the folder and colour choosers, the context
// menus of text fields) in the interface language the user chose. Owns the one translator of
// Qt's texts installed into the application; English removes it, so Qt shows its built-in
// English. The translation files come from Qt's translation folder (Debian package
// qt6-translations-l10n); a missing file leaves Qt's texts in English, which is no error.
// Without a QCoreApplication nothing is installed. GUI thread only.
class QtTranslations {
public:
    // folder: where qtbase_<locale>.qm files lie; empty: Qt's own translation folder.
    explicit QtTranslations(QString folder = QString());
    ~QtTranslations();
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // Puts Qt's texts into the language "Chinese", "English" or "Japanese" (any other name
    // counts as English). Returns false when the language's translation could not be loaded.
    bool use(const QString& languageName);

    // True while a translation is installed.
    bool isInstalled() const { return m_translator != nullptr; }

private:
    QString m_folder;
    std::unique_ptr<QTranslator> m_translator;
};
