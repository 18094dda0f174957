#pragma once

#include <QString>

class QWidget;

// The Save Folder command's chooser: a folder dialog over `owner` with `caption`, the
// instruction labelling its folder field, opened at `start`. The chosen folder, or empty when
// cancelled.
QString PickFolder(QWidget* owner, const QString& caption, const QString& instruction,
                   const QString& start);
