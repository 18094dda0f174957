#include "display/PanPreview.h"

#include <QImage>
#include <QPainter>
#include <QSize>
#include <utility>

namespace {

// 4:3, as most camera formats.
constexpr QSize kSize(352, 264);

}  // namespace

PanPreview::PanPreview(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(kSize);
}

void PanPreview::exchangeFrame(Image& frame) {
    std::swap(m_frame, frame);
    update();
}

void PanPreview::clearFrame() {
    if (m_frame.IsValid()) {
        m_frame.Destroy();
        update();
    }
}

void PanPreview::setSquare(int x, int y, int a, ColorRef colour) {
    if (x != m_x || y != m_y || a != m_a || colour != m_colour) {
        m_x = x;
        m_y = y;
        m_a = a;
        m_colour = colour;
        update();
    }
}

void PanPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!m_frame.IsValid() || m_frame.GetBpp() != 24) {
        painter.fillRect(rect(), QColor(0x20, 0x22, 0x26));
        return;
    }
    const int w = m_frame.GetWidth();
    const int h = m_frame.GetHeight();
    // A view of the image's rows, no copy: row 0 is the bottom line, so the painter turns the
    // picture upside down while it stretches it.
    const QImage rows(m_frame.GetBits(0), w, h, m_frame.GetEffWidth(), QImage::Format_BGR888);
    const double sx = double(width()) / w;
    const double sy = double(height()) / h;
    painter.save();
    painter.translate(0, height());
    painter.scale(sx, -sy);
    painter.drawImage(QRectF(0, 0, w, h), rows);
    painter.restore();

    // The square in frame pixels, y from the top; the pen scales with the picture.
    painter.scale(sx, sy);
    QPen pen(QColor(RedOf(m_colour), GreenOf(m_colour), BlueOf(m_colour)));
    pen.setWidth(5);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(m_x - m_a, m_y - m_a, 2 * m_a, 2 * m_a));
}
