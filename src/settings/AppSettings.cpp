#include "settings/AppSettings.h"

#include "settings/LanguageText.h"
#include "settings/ProfileFile.h"

void AppSettings::SetLanguageName(const QString& name) {
    // Without a language folder the texts come from the shipped file and nothing is written.
    m_strLanguageFile = m_strLanguageFolder.isEmpty()
                            ? QString()
                            : m_strLanguageFolder + name + QStringLiteral(".lng");
    m_texts.setLanguageFile(m_strLanguageFile,
                            ShippedLanguageFile(m_strShippedLanguageFolder, name));
    m_qtTranslations.use(name);
}

void AppSettings::ChooseLanguage(const QString& name, int index) {
    ProfileFile settings(m_strSettingFile);
    settings.writeString(QStringLiteral("LANGUAGESET"), QStringLiteral("LANGUAGE"), name);
    SetLanguageName(name);
    settings.writeString(QStringLiteral("LANGUAGESET"), QStringLiteral("INDEX"),
                         QString::number(index));
}
