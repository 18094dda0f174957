#include "settings/Texts.h"

#include "settings/LanguageText.h"
#include "settings/ProfileFile.h"
#include "settings/SettingsLog.h"
#include "settings/TextTable.h"

Texts::Texts(QString languageFile, QString shippedFile)
    : m_languageFile(std::move(languageFile)), m_shippedFile(std::move(shippedFile)) {}

Texts::~Texts() = default;

void Texts::setLanguageFile(QString languageFile, QString shippedFile) {
    std::lock_guard lock(m_mutex);
    m_languageFile = std::move(languageFile);
    m_shippedFile = std::move(shippedFile);
    m_loaded.reset();  // read at the next lookup
}

QString Texts::text(const QString& section, const QString& key) const {
    return text(section, key, BuiltInDefault(section, key));
}

QString Texts::text(const char* section, const char* key) const {
    return text(QLatin1String(section), QLatin1String(key));
}

QString Texts::text(const QString& section, const QString& key, const QString& def) const {
    std::lock_guard lock(m_mutex);
    if (!m_loaded) {
        m_loaded = std::make_unique<LanguageTexts>(m_languageFile, m_shippedFile);
        if (m_loaded->state() == ProfileFile::State::Undecodable) {
            qCWarning(lcSettings).noquote()
                << "language file" << m_languageFile
                << "is neither UTF-8 nor has it a byte-order mark; it is read-only, and its "
                   "texts come from the shipped file of its language";
        }
    }
    return m_loaded->text(section, key, def);
}
