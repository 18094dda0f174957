#include "settings/Texts.h"

#include "settings/LanguageText.h"
#include "settings/TextTable.h"

QString Texts::text(const QString& section, const QString& key) const {
    return text(section, key, BuiltInDefault(section, key));
}

QString Texts::text(const char* section, const char* key) const {
    return text(QLatin1String(section), QLatin1String(key));
}

QString Texts::text(const QString& section, const QString& key, const QString& def) const {
    return GetLanguageTextFrom(m_languageFile, m_shippedFile, section, key, def);
}
