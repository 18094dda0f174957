#include "display/PreviewWidget.h"

#include <QPainter>

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(160, 120);
}

void PreviewWidget::setImage(const QImage& image) {
    m_image = image;
    update();
}

void PreviewWidget::setHint(const QString& hint, bool overPicture) {
    if (hint != m_hint || overPicture != m_hintOverPicture) {
        m_hint = hint;
        m_hintOverPicture = overPicture;
        update();
    }
}

void PreviewWidget::setPreferredSize(const QSize& size) {
    m_preferredSize = size;
    updateGeometry();
}

namespace {
const QColor kBackdrop(0x20, 0x22, 0x26);
}

QRect PreviewWidget::PictureRect(const QSize& pictureSize, const QSize& areaSize) {
    if (pictureSize.isEmpty() || areaSize.isEmpty()) {
        return QRect(QPoint(0, 0), areaSize);
    }
    const QSize fitted = pictureSize.scaled(areaSize, Qt::KeepAspectRatio);
    return QRect(
        QPoint((areaSize.width() - fitted.width()) / 2, (areaSize.height() - fitted.height()) / 2),
        fitted);
}

void PreviewWidget::DrawPicture(QPainter& painter) {
    // Work in device pixels, so that the picture's edges and a whole-number enlargement fall
    // on screen pixels at any scale of the desktop.
    const qreal ratio = devicePixelRatioF();
    const QSize deviceArea(qRound(width() * ratio), qRound(height() * ratio));
    const QRect target = PictureRect(m_image.size(), deviceArea);
    const bool wholeMultiple =
        target.width() % m_image.width() == 0 && target.height() % m_image.height() == 0 &&
        target.width() / m_image.width() == target.height() / m_image.height();
    painter.save();
    painter.resetTransform();
    painter.scale(1.0 / ratio, 1.0 / ratio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !wholeMultiple);
    const QRegion bars = QRegion(QRect(QPoint(0, 0), deviceArea)).subtracted(target);
    for (const QRect& bar : bars) {
        painter.fillRect(bar, kBackdrop);
    }
    painter.drawImage(target, m_image);
    painter.restore();
}

QSize PreviewWidget::pictureArea() const {
    if (!isVisible()) {
        return {};
    }
    const qreal ratio = devicePixelRatioF();
    return QSize(qRound(width() * ratio), qRound(height() * ratio));
}

void PreviewWidget::PublishArea() {
    const QSize area = pictureArea();
    if (area != m_publishedArea) {
        m_publishedArea = area;
        emit pictureAreaChanged(area);
    }
}

void PreviewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PublishArea();
}

void PreviewWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    PublishArea();
}

void PreviewWidget::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    PublishArea();
}

void PreviewWidget::paintEvent(QPaintEvent*) {
    // A move to a screen of another scale shows here first.
    PublishArea();
    QPainter painter(this);
    if (!m_image.isNull() && m_hint.isEmpty()) {
        DrawPicture(painter);
        return;
    }
    const bool overPicture = !m_image.isNull() && m_hintOverPicture;
    if (overPicture) {
        DrawPicture(painter);
        painter.fillRect(rect(), QColor(0, 0, 0, 0x60));
    } else {
        painter.fillRect(rect(), kBackdrop);
    }
    if (!m_hint.isEmpty()) {
        QFont font = painter.font();
        font.setPointSizeF(font.pointSizeF() * 1.15);
        painter.setFont(font);
        const QRect area = rect().adjusted(24, 24, -24, -24);
        const int flags = Qt::AlignCenter | Qt::TextWordWrap;
        if (overPicture) {
            // A dark panel under the text keeps it readable on a bright picture.
            const QRect text = painter.boundingRect(area, flags, m_hint);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0x20, 0x22, 0x26, 0xd8));
            painter.setRenderHint(QPainter::Antialiasing);
            painter.drawRoundedRect(text.adjusted(-14, -10, 14, 10), 8, 8);
        }
        painter.setPen(QColor(0xc8, 0xcc, 0xd2));
        painter.drawText(area, flags, m_hint);
    }
}
