#include "display/OverlayControlGroup.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "display/ColourButton.h"
#include "settings/Texts.h"

const OverlayControlGroup::Description OverlayControlGroup::kMask = {
    "mask", "MASKFRAME", "MASKENABLE", "MASKZOOMIN", "MASKZOOMOUT"};
const OverlayControlGroup::Description OverlayControlGroup::kCrosshair = {
    "cross", "CROSSFRAME", "CROSSENABLE", "CROSSZOOMIN", "CROSSZOOMOUT"};

namespace {

QString ChildName(const char* prefix, const char* role) {
    return QLatin1String(prefix) + QLatin1String(role);
}

}  // namespace

OverlayControlGroup::OverlayControlGroup(const Texts& texts, const Description& description,
                                         Layout layout, QWidget* parent)
    : QGroupBox(parent), m_texts(texts), m_description(description) {
    const char* prefix = description.namePrefix;
    setObjectName(ChildName(prefix, "Group"));
    m_enable = new QCheckBox(this);
    m_enable->setObjectName(ChildName(prefix, "Enable"));
    m_colour = new ColourButton(m_texts, this);
    m_colour->setObjectName(ChildName(prefix, "Colour"));
    m_larger = new QPushButton(this);
    m_larger->setObjectName(ChildName(prefix, "Larger"));
    m_smaller = new QPushButton(this);
    m_smaller->setObjectName(ChildName(prefix, "Smaller"));

    auto* grid = new QGridLayout(this);
    switch (layout) {
        case Layout::ButtonsBelow:
            grid->addWidget(m_enable, 0, 0, 1, 2);
            grid->addWidget(m_colour, 1, 0, 1, 2);
            grid->addWidget(m_larger, 2, 0);
            grid->addWidget(m_smaller, 2, 1);
            break;
        case Layout::ButtonsBesideWithReadout:
            m_readout = new QLabel(this);
            m_readout->setObjectName(ChildName(prefix, "Size"));
            m_readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_readout->setFont(QFont(QStringLiteral("monospace")));
            grid->addWidget(m_enable, 0, 0);
            grid->addWidget(m_colour, 1, 0);
            grid->addWidget(m_larger, 0, 1);
            grid->addWidget(m_smaller, 1, 1);
            grid->addWidget(m_readout, 2, 1);
            break;
    }
    ApplyTexts();
}

void OverlayControlGroup::ApplyTexts() {
    setTitle(m_texts.text("MaskWnd", m_description.titleKey));
    m_enable->setText(m_texts.text("MaskWnd", m_description.enableKey));
    m_larger->setText(m_texts.text("MaskWnd", m_description.largerKey));
    m_smaller->setText(m_texts.text("MaskWnd", m_description.smallerKey));
    m_colour->ApplyTexts();
}
