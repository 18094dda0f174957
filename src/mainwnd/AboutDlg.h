#pragma once

#include <QDialog>

struct AppSettings;
class QComboBox;
class QLabel;
class QPushButton;

// The About window: program name, version and rights notice in the current language. It also
// carries a language list whose OK stores the chosen language; the list, its label and the OK
// button are hidden, so Cancel (which holds the focus) is the only visible button.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(AppSettings& settings, QWidget* parent = nullptr);

    void ApplyAboutTexts();

    QComboBox* languageList() const { return m_cbLanguage; }
    QLabel* nameLabel() const { return m_name; }
    QLabel* noticeLabel() const { return m_notice; }
    QPushButton* cancelButton() const { return m_cancel; }

public Q_SLOTS:
    void accept() override;  // OnOK

private:
    AppSettings& m_settings;
    QComboBox* m_cbLanguage = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_notice = nullptr;
    QLabel* m_languageLabel = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};
