#include "mainwnd/AboutDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "mainwnd/CommandIds.h"
#include "mainwnd/Icons.h"
#include "settings/AppSettings.h"
#include "settings/ProfileFile.h"

CAboutDlg::CAboutDlg(AppSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle(QStringLiteral("关于 Tavrel"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* icon = new QLabel(this);
    icon->setPixmap(IconById(Icon::App).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_name = new QLabel(QStringLiteral("Tavrel，1.0 版"), this);
    m_name->setTextFormat(Qt::PlainText);
    m_notice = new QLabel(this);
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->setWordWrap(true);
    m_languageLabel = new QLabel(QStringLiteral("LAN"), this);
    m_cbLanguage = new QComboBox(this);
    for (const char* name : kLanguageNames) {
        m_cbLanguage->addItem(QLatin1String(name));
    }
    m_ok = new QPushButton(QStringLiteral("确定"), this);
    m_cancel = new QPushButton(QStringLiteral("取消"), this);
    connect(m_ok, &QPushButton::clicked, this, &CAboutDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CAboutDlg::reject);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(20, 18, 16, 14);
    grid->setHorizontalSpacing(16);
    grid->addWidget(icon, 0, 0, 3, 1);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(m_notice, 1, 1);
    grid->addWidget(m_languageLabel, 2, 1);
    grid->addWidget(m_cbLanguage, 3, 1);
    grid->addWidget(m_ok, 0, 2);
    grid->addWidget(m_cancel, 1, 2, Qt::AlignTop);
    grid->setColumnStretch(1, 1);

    // The template hides the language list, its label and OK; Cancel is the visible button.
    m_languageLabel->hide();
    m_cbLanguage->hide();
    m_ok->hide();
    m_ok->setAutoDefault(false);
    m_cancel->setDefault(true);

    const int index = ProfileFile(m_settings.m_strSettingFile)
                          .readInt(QStringLiteral("LANGUAGESET"), QStringLiteral("INDEX"), 0);
    // An index outside the list selects Chinese rather than leaving the list without a choice
    // (which would store an empty language name on OK).
    m_cbLanguage->setCurrentIndex(index >= 0 && index < m_cbLanguage->count() ? index : 0);
    ApplyAboutTexts();
    m_cancel->setFocus();
    setMinimumWidth(440);
}

void CAboutDlg::ApplyAboutTexts() {
    setWindowTitle(m_settings.m_texts.text("AboutWnd", "MainCaption"));
    m_name->setText(m_settings.m_texts.text("AboutWnd", "SOFTNAME"));
    m_notice->setText(m_settings.m_texts.text("AboutWnd", "CPYRIGHT"));
    m_languageLabel->setText(m_settings.m_texts.text("AboutWnd", "LAN"));
}

void CAboutDlg::accept() {
    m_settings.ChooseLanguage(m_cbLanguage->currentText(), m_cbLanguage->currentIndex());
    ApplyAboutTexts();
    QDialog::accept();
}
