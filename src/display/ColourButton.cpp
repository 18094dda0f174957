#include "display/ColourButton.h"

#include <QAction>
#include <QColorDialog>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

#include "settings/Texts.h"

namespace {

QColor ToQColor(ColorRef c) {
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}

QIcon Swatch(ColorRef colour, QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(ToQColor(colour));
    QPainter painter(&pixmap);
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

}  // namespace

ColourButton::ColourButton(const Texts& texts, QWidget* parent)
    : QPushButton(parent), m_texts(texts) {
    setAutoDefault(false);
    auto* menu = new QMenu(this);
    for (int i = 0; i < int(kPresetColors.size()); ++i) {
        QAction* action = menu->addAction(Swatch(kPresetColors[size_t(i)], QSize(16, 16)),
                                          m_texts.text("ColorNames", kPresetColorKeys[size_t(i)]));
        action->setData(i);
        connect(action, &QAction::triggered, this, [this, i] { Q_EMIT presetChosen(i); });
    }
    menu->addSeparator();
    QAction* other = menu->addAction(m_texts.text("ColorNames", "OTHER"));
    other->setData(-1);
    connect(other, &QAction::triggered, this, [this] {
        QString title = m_texts.text("ColorNames", "OTHER");
        title.remove(QChar(0x2026));
        const QColor chosen = QColorDialog::getColor(ToQColor(m_colour), this, title);
        if (chosen.isValid()) {  // else cancelled
            Q_EMIT colourChosen(MakeColorRef(uint8_t(chosen.red()), uint8_t(chosen.green()),
                                             uint8_t(chosen.blue())));
        }
    });
    setMenu(menu);
    setColour(m_colour);
}

void ColourButton::setColour(ColorRef colour) {
    m_colour = colour & 0xFFFFFF;
    setIcon(Swatch(m_colour, QSize(40, 14)));
    setIconSize(QSize(40, 14));
    QString name;
    for (size_t i = 0; i < kPresetColors.size(); ++i) {
        if (kPresetColors[i] == m_colour) {
            name = m_texts.text("ColorNames", kPresetColorKeys[i]);
            break;
        }
    }
    setText(name);
}

void ColourButton::ApplyTexts() {
    for (QAction* action : menu()->actions()) {
        const int index = action->data().toInt();
        if (index >= 0 && index < int(kPresetColors.size()) && !action->isSeparator()) {
            action->setText(m_texts.text("ColorNames", kPresetColorKeys[size_t(index)]));
        } else if (index < 0) {
            action->setText(m_texts.text("ColorNames", "OTHER"));
        }
    }
    setColour(m_colour);
}
