#include "settings/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QTranslator>

Q_LOGGING_CATEGORY(lcQtTranslations, "tavrel.settings.translations")

QtTranslations::QtTranslations(QString folder) : m_folder(std::move(folder)) {
    if (m_folder.isEmpty()) {
        m_folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    }
}

QtTranslations::~QtTranslations() {
    if (m_translator != nullptr && QCoreApplication::instance() != nullptr) {
        QCoreApplication::removeTranslator(m_translator.get());
    }
}

bool QtTranslations::use(const QString& languageName) {
    if (m_translator != nullptr) {
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::removeTranslator(m_translator.get());
        }
        m_translator.reset();
    }
    QString file;
    if (languageName == QLatin1String("Chinese")) {
        file = QStringLiteral("qtbase_zh_CN");
    } else if (languageName == QLatin1String("Japanese")) {
        file = QStringLiteral("qtbase_ja");
    } else {
        return true;  // Qt's built-in texts are English
    }
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(file, m_folder)) {
        qCWarning(lcQtTranslations) << "no translation" << file << "in" << m_folder
                                    << "(package qt6-translations-l10n); Qt's texts stay English";
        return false;
    }
    if (QCoreApplication::instance() == nullptr) {
        return true;  // loaded; nothing to install it into
    }
    QCoreApplication::installTranslator(translator.get());
    m_translator = std::move(translator);
    return true;
}
