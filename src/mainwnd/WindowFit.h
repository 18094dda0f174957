#pragma once

#include <QSize>

class QMainWindow;
class PreviewWidget;

// How the main window fits its picture on the screen. GUI thread only.

// The window at the size its content asks for, within the screen's available area and moved
// onto it (nothing while maximised or full screen).
void ResizeToContent(QMainWindow& window);

// The preview sized for a video of `video` (640 x 480 when it has no size): the video's own size
// where the screen has room for it with the menu, toolbar and status bar around it, else scaled
// down at its aspect ratio; then the window resized to its content. Snapshots and recordings
// keep the video's own size whatever the preview shows.
void FitWindowToVideo(QMainWindow& window, PreviewWidget& preview, QSize video);
