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
    const QColor backdrop(0x20, 0x22, 0x26);
    const bool overPicture = !m_image.isNull() && m_hintOverPicture;
    if (overPicture) {
        painter.drawImage(rect(), m_image);
        painter.fillRect(rect(), QColor(0, 0, 0, 0x60));
    } else {
        painter.fillRect(rect(), backdrop);
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
