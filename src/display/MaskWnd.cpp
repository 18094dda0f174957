#include "display/MaskWnd.h"

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "capture/FrameStore.h"
#include "display/PreviewWidget.h"
#include "settings/Texts.h"

namespace MaskSteps {

float MaskLarger(float radius) {
    float r = float(double(radius) + 0.01);
    if (r > 0.5f) {
        r = 0.5f;
    }
    return r;
}

float MaskSmaller(float radius, float crossSize) {
    float r = float(double(radius) - 0.01);
    if (r < crossSize) {
        r = crossSize;
    }
    if (r < 0.25f) {
        r = 0.25f;
    }
    return r;
}

float CrossLarger(float crossSize, float radius) {
    float s = float(double(crossSize) + 0.02);
    if (s > radius) {
        s = radius;
    }
    return s;
}

float CrossSmaller(float crossSize) {
    float s = float(double(crossSize) - 0.02);
    if (s < 0.0f) {
        s = 0.0f;
    }
    return s;
}

}  // namespace MaskSteps

namespace {

constexpr int kPreviewPeriodMs = 50;

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

CMaskWnd::CMaskWnd(const Texts& texts, const OverlaySettings& settings, FrameStore* frames,
                   ChangeHandler onChange, QWidget* parent)
    : QDialog(parent),
      m_texts(texts),
      m_settings(settings),
      m_frames(frames),
      m_onChange(std::move(onChange)) {
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* layout = new QVBoxLayout(this);

    m_maskGroup = new QGroupBox(this);
    auto* maskLayout = new QGridLayout(m_maskGroup);
    m_maskEnable = new QCheckBox(m_maskGroup);
    m_maskEnable->setObjectName(QStringLiteral("maskEnable"));
    m_maskColour = new QPushButton(m_maskGroup);
    m_maskColour->setObjectName(QStringLiteral("maskColour"));
    m_maskLarger = new QPushButton(m_maskGroup);
    m_maskLarger->setObjectName(QStringLiteral("maskLarger"));
    m_maskSmaller = new QPushButton(m_maskGroup);
    m_maskSmaller->setObjectName(QStringLiteral("maskSmaller"));
    maskLayout->addWidget(m_maskEnable, 0, 0, 1, 2);
    maskLayout->addWidget(m_maskColour, 1, 0, 1, 2);
    maskLayout->addWidget(m_maskLarger, 2, 0);
    maskLayout->addWidget(m_maskSmaller, 2, 1);
    layout->addWidget(m_maskGroup);

    m_crossGroup = new QGroupBox(this);
    auto* crossLayout = new QGridLayout(m_crossGroup);
    m_crossEnable = new QCheckBox(m_crossGroup);
    m_crossEnable->setObjectName(QStringLiteral("crossEnable"));
    m_crossColour = new QPushButton(m_crossGroup);
    m_crossColour->setObjectName(QStringLiteral("crossColour"));
    m_crossLarger = new QPushButton(m_crossGroup);
    m_crossLarger->setObjectName(QStringLiteral("crossLarger"));
    m_crossSmaller = new QPushButton(m_crossGroup);
    m_crossSmaller->setObjectName(QStringLiteral("crossSmaller"));
    crossLayout->addWidget(m_crossEnable, 0, 0, 1, 2);
    crossLayout->addWidget(m_crossColour, 1, 0, 1, 2);
    crossLayout->addWidget(m_crossLarger, 2, 0);
    crossLayout->addWidget(m_crossSmaller, 2, 1);
    layout->addWidget(m_crossGroup);

    m_preview = new PreviewWidget(this);
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->setPreferredSize(QSize(160, 120));
    m_preview->setFixedSize(160, 120);
    layout->addWidget(m_preview, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // No button is a default button: Enter is handled in keyPressEvent.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    m_maskColour->setMenu(MakeColourMenu(true));
    m_crossColour->setMenu(MakeColourMenu(false));

    m_maskEnable->setChecked(m_settings.m_bMaskEnable != 0);
    m_crossEnable->setChecked(m_settings.m_bCrossEnable != 0);
    ShowColour(m_maskColour, m_settings.m_clrMask);
    ShowColour(m_crossColour, m_settings.m_clrCross);
    ApplyTexts();

    connect(m_maskEnable, &QCheckBox::clicked, this, &CMaskWnd::OnMaskEnable);
    connect(m_crossEnable, &QCheckBox::clicked, this, &CMaskWnd::OnCrossEnable);
    connect(m_maskLarger, &QPushButton::clicked, this, &CMaskWnd::OnMaskLarger);
    connect(m_maskSmaller, &QPushButton::clicked, this, &CMaskWnd::OnMaskSmaller);
    connect(m_crossLarger, &QPushButton::clicked, this, &CMaskWnd::OnCrossLarger);
    connect(m_crossSmaller, &QPushButton::clicked, this, &CMaskWnd::OnCrossSmaller);

    m_timer = new QTimer(this);
    m_timer->setInterval(kPreviewPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &CMaskWnd::OnTimer);
    m_timer->start();
}

CMaskWnd::~CMaskWnd() = default;

bool CMaskWnd::previewTimerActive() const {
    return m_timer->isActive();
}

void CMaskWnd::ApplyTexts() {
    setWindowTitle(m_texts.text("MaskWnd", "MainCaption"));
    m_maskGroup->setTitle(m_texts.text("MaskWnd", "MASKFRAME"));
    m_maskEnable->setText(m_texts.text("MaskWnd", "MASKENABLE"));
    m_maskLarger->setText(m_texts.text("MaskWnd", "MASKZOOMIN"));
    m_maskSmaller->setText(m_texts.text("MaskWnd", "MASKZOOMOUT"));
    m_crossGroup->setTitle(m_texts.text("MaskWnd", "CROSSFRAME"));
    m_crossEnable->setText(m_texts.text("MaskWnd", "CROSSENABLE"));
    m_crossLarger->setText(m_texts.text("MaskWnd", "CROSSZOOMIN"));
    m_crossSmaller->setText(m_texts.text("MaskWnd", "CROSSZOOMOUT"));
}

QMenu* CMaskWnd::MakeColourMenu(bool mask) {
    auto* menu = new QMenu(this);
    for (int i = 0; i < int(kPresetColors.size()); ++i) {
        QAction* action = menu->addAction(Swatch(kPresetColors[size_t(i)], QSize(16, 16)),
                                          m_texts.text("ColorNames", kPresetColorKeys[size_t(i)]));
        action->setData(i);
        connect(action, &QAction::triggered, this, [this, mask, i] {
            if (mask) {
                OnMaskPreset(i);
            } else {
                OnCrossPreset(i);
            }
        });
    }
    menu->addSeparator();
    QAction* other = menu->addAction(m_texts.text("ColorNames", "OTHER"));
    other->setData(-1);
    connect(other, &QAction::triggered, this, [this, mask] {
        const ColorRef start = mask ? m_settings.m_clrMask : m_settings.m_clrCross;
        QString title = m_texts.text("ColorNames", "OTHER");
        title.remove(QChar(0x2026));
        const QColor chosen = QColorDialog::getColor(ToQColor(start), this, title);
        if (!chosen.isValid()) {
            return;  // cancelled
        }
        const ColorRef colour =
            MakeColorRef(uint8_t(chosen.red()), uint8_t(chosen.green()), uint8_t(chosen.blue()));
        if (mask) {
            OnMaskColor(colour);
        } else {
            OnCrossColor(colour);
        }
    });
    return menu;
}

void CMaskWnd::ShowColour(QPushButton* button, ColorRef colour) {
    button->setIcon(Swatch(colour, QSize(40, 14)));
    button->setIconSize(QSize(40, 14));
    QString name;
    for (size_t i = 0; i < kPresetColors.size(); ++i) {
        if (kPresetColors[i] == colour) {
            name = m_texts.text("ColorNames", kPresetColorKeys[i]);
            break;
        }
    }
    button->setText(name);
}

void CMaskWnd::Changed() {
    if (m_onChange) {
        m_onChange(m_settings);
    }
}

void CMaskWnd::OnMaskEnable(bool on) {
    m_settings.m_bMaskEnable = on ? 1 : 0;
    m_maskEnable->setChecked(on);
    Changed();
}

void CMaskWnd::OnCrossEnable(bool on) {
    m_settings.m_bCrossEnable = on ? 1 : 0;
    m_crossEnable->setChecked(on);
    Changed();
}

void CMaskWnd::OnMaskLarger() {
    m_settings.m_fMaskRadius = MaskSteps::MaskLarger(m_settings.m_fMaskRadius);
    Changed();
}

void CMaskWnd::OnMaskSmaller() {
    m_settings.m_fMaskRadius =
        MaskSteps::MaskSmaller(m_settings.m_fMaskRadius, m_settings.m_fCrossSize);
    Changed();
}

void CMaskWnd::OnCrossLarger() {
    m_settings.m_fCrossSize =
        MaskSteps::CrossLarger(m_settings.m_fCrossSize, m_settings.m_fMaskRadius);
    Changed();
}

void CMaskWnd::OnCrossSmaller() {
    m_settings.m_fCrossSize = MaskSteps::CrossSmaller(m_settings.m_fCrossSize);
    Changed();
}

void CMaskWnd::OnMaskPreset(int index) {
    m_settings.m_clrMask = PresetColors(index);
    m_settings.m_nMaskColorIndex = index;
    ShowColour(m_maskColour, m_settings.m_clrMask);
    Changed();
}

void CMaskWnd::OnCrossPreset(int index) {
    m_settings.m_clrCross = PresetColors(index);
    m_settings.m_nCrossColorIndex = index;
    ShowColour(m_crossColour, m_settings.m_clrCross);
    Changed();
}

void CMaskWnd::OnMaskColor(ColorRef colour) {
    m_settings.m_clrMask = colour & 0xFFFFFF;
    ShowColour(m_maskColour, m_settings.m_clrMask);
    Changed();
}

void CMaskWnd::OnCrossColor(ColorRef colour) {
    m_settings.m_clrCross = colour & 0xFFFFFF;
    ShowColour(m_crossColour, m_settings.m_clrCross);
    Changed();
}

void CMaskWnd::OnOK() {
    m_timer->stop();
    accept();
}

void CMaskWnd::done(int result) {
    m_timer->stop();
    QDialog::done(result);
}

void CMaskWnd::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            event->accept();  // Esc does not close this window
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            // A focused push button takes Enter as a click, as in any dialog; anywhere
            // else Enter means OK.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
                button->click();
            } else {
                OnOK();
            }
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CMaskWnd::OnTimer() {
    if (m_frames == nullptr) {
        return;
    }
    if (m_frames->copyCurrentImage(m_frameCopy)) {
        m_preview->setImage(m_frameCopy.ToQImage());
    }
}
