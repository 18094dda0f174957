#include "mainwnd/WindowFit.h"

#include <QMainWindow>
#include <QScreen>
#include <algorithm>

#include "display/PreviewWidget.h"

namespace {

QSize FrameSize(const QMainWindow& window) {
    // The window system's frame once the window is shown; a usual title bar before.
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    return window.isVisible() && !frame.isEmpty() ? frame : QSize(8, 32);
}

QRect AvailableScreen(const QMainWindow& window) {
    return window.screen() ? window.screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
}

}  // namespace

void ResizeToContent(QMainWindow& window) {
    if (window.isMaximized() || window.isFullScreen()) {
        return;
    }
    const QRect screen = AvailableScreen(window);
    // Not adjustSize(): it would cut a window to two thirds of the screen.
    window.resize(window.sizeHint().boundedTo(screen.size() - FrameSize(window)));
    // Keep the whole window on the screen after it grew.
    QRect placed = window.frameGeometry();
    placed.moveRight(std::min(placed.right(), screen.right()));
    placed.moveBottom(std::min(placed.bottom(), screen.bottom()));
    placed.moveLeft(std::max(placed.left(), screen.left()));
    placed.moveTop(std::max(placed.top(), screen.top()));
    if (placed.topLeft() != window.frameGeometry().topLeft()) {
        window.move(placed.topLeft());
    }
}

void FitWindowToVideo(QMainWindow& window, PreviewWidget& preview, QSize video) {
    if (video.width() <= 0 || video.height() <= 0) {
        video = QSize(640, 480);
    }
    const QRect screen = AvailableScreen(window);
    // Menu, toolbar and status bar around the preview, from the layout.
    const QSize chrome(
        std::max(window.sizeHint().width() - preview.sizeHint().width(), 0),
        std::max(window.sizeHint().height() - preview.sizeHint().height(), 36));
    const QSize room =
        (screen.size() - chrome - FrameSize(window)).expandedTo(QSize(160, 120));
    // A video larger than the screen opens a window that fits it, the picture scaled down at its
    // aspect ratio.
    QSize area = video;
    if (area.width() > room.width() || area.height() > room.height()) {
        area = area.scaled(room, Qt::KeepAspectRatio);
    }
    preview.setPreferredSize(area);
    preview.setMinimumSize(std::min(area.width(), 160), std::min(area.height(), 120));
    ResizeToContent(window);
}
