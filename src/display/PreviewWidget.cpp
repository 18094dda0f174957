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

void PreviewWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!m_image.isNull() && m_hint.isEmpty()) {
        // Stretched, without smoothing: the area has the video's size, so this is 1:1 normally.
        painter.drawImage(rect(), m_image);
        return;
    }
    if (!m_image.isNull() && m_hintOverPicture) {
        painter.drawImage(rect(), m_image);
        painter.fillRect(rect(), QColor(0x20, 0x22, 0x26, 0xb0));
    } else {
        painter.fillRect(rect(), QColor(0x20, 0x22, 0x26));
    }
    if (!m_hint.isEmpty()) {
        painter.setPen(QColor(0xc8, 0xcc, 0xd2));
        QFont font = painter.font();
        font.setPointSizeF(font.pointSizeF() * 1.15);
        painter.setFont(font);
        painter.drawText(rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap,
                         m_hint);
    }
}
