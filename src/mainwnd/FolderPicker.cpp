#include "mainwnd/FolderPicker.h"

#include <QFileDialog>

QString PickFolder(QWidget* owner, const QString& caption, const QString& instruction,
                   const QString& start) {
    QFileDialog dialog(owner, caption, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // The instruction labels the folder field (desktops' own choosers may not show it).
    dialog.setLabelText(QFileDialog::FileName, instruction);
    dialog.setLabelText(QFileDialog::LookIn, instruction);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().constFirst()
               : QString();
}
