#include "display/MaskWnd.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "capture/FrameStore.h"
#include "display/ColourButton.h"
#include "display/MaskSteps.h"
#include "display/OverlayControlGroup.h"
#include "display/PreviewWidget.h"
#include "settings/Texts.h"

namespace {

constexpr int kPreviewPeriodMs = 50;

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

    m_mask = new OverlayControlGroup(m_texts, OverlayControlGroup::kMask,
                                     OverlayControlGroup::Layout::ButtonsBelow, this);
    layout->addWidget(m_mask);
    m_cross = new OverlayControlGroup(m_texts, OverlayControlGroup::kCrosshair,
                                      OverlayControlGroup::Layout::ButtonsBelow, this);
    layout->addWidget(m_cross);

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
    connect(m_mask->colourButton(), &ColourButton::presetChosen, this, &CMaskWnd::OnMaskPreset);
    connect(m_mask->colourButton(), &ColourButton::colourChosen, this, &CMaskWnd::OnMaskColor);
    connect(m_cross->colourButton(), &ColourButton::presetChosen, this, &CMaskWnd::OnCrossPreset);
    connect(m_cross->colourButton(), &ColourButton::colourChosen, this, &CMaskWnd::OnCrossColor);

    m_mask->enableBox()->setChecked(m_settings.m_bMaskEnable != 0);
    m_cross->enableBox()->setChecked(m_settings.m_bCrossEnable != 0);
    m_mask->colourButton()->setColour(m_settings.m_clrMask);
    m_cross->colourButton()->setColour(m_settings.m_clrCross);
    setWindowTitle(m_texts.text("MaskWnd", "MainCaption"));

    connect(m_mask->enableBox(), &QCheckBox::clicked, this, &CMaskWnd::OnMaskEnable);
    connect(m_cross->enableBox(), &QCheckBox::clicked, this, &CMaskWnd::OnCrossEnable);
    connect(m_mask->largerButton(), &QPushButton::clicked, this, &CMaskWnd::OnMaskLarger);
    connect(m_mask->smallerButton(), &QPushButton::clicked, this, &CMaskWnd::OnMaskSmaller);
    connect(m_cross->largerButton(), &QPushButton::clicked, this, &CMaskWnd::OnCrossLarger);
    connect(m_cross->smallerButton(), &QPushButton::clicked, this, &CMaskWnd::OnCrossSmaller);

    m_timer = new QTimer(this);
    m_timer->setInterval(kPreviewPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &CMaskWnd::OnTimer);
    m_timer->start();
}

CMaskWnd::~CMaskWnd() = default;

bool CMaskWnd::previewTimerActive() const {
    return m_timer->isActive();
}

void CMaskWnd::Changed() {
    if (m_onChange) {
        m_onChange(m_settings);
    }
}

void CMaskWnd::OnMaskEnable(bool on) {
    m_settings.m_bMaskEnable = on ? 1 : 0;
    m_mask->enableBox()->setChecked(on);
    Changed();
}

void CMaskWnd::OnCrossEnable(bool on) {
    m_settings.m_bCrossEnable = on ? 1 : 0;
    m_cross->enableBox()->setChecked(on);
    Changed();
}

void CMaskWnd::OnMaskLarger() {
    m_settings.m_fMaskRadius = MaskSteps::MaskLarger(m_settings.m_fMaskRadius);
    Changed();
}

void CMaskWnd::OnMaskSmaller() {
    // The clear disc never gets smaller than the crosshair, nor than a quarter of the height.
    m_settings.m_fMaskRadius =
        MaskSteps::MaskSmaller(m_settings.m_fMaskRadius, std::max(m_settings.m_fCrossSize, 0.25f));
    Changed();
}

void CMaskWnd::OnCrossLarger() {
    m_settings.m_fCrossSize =
        MaskSteps::CrossLarger(m_settings.m_fCrossSize, m_settings.m_fMaskRadius);
    Changed();
}

void CMaskWnd::OnCrossSmaller() {
    m_settings.m_fCrossSize = MaskSteps::CrossSmaller(m_settings.m_fCrossSize, 0.0f);
    Changed();
}

void CMaskWnd::OnMaskPreset(int index) {
    m_settings.m_clrMask = PresetColors(index);
    m_settings.m_nMaskColorIndex = index;
    m_mask->colourButton()->setColour(m_settings.m_clrMask);
    Changed();
}

void CMaskWnd::OnCrossPreset(int index) {
    m_settings.m_clrCross = PresetColors(index);
    m_settings.m_nCrossColorIndex = index;
    m_cross->colourButton()->setColour(m_settings.m_clrCross);
    Changed();
}

void CMaskWnd::OnMaskColor(ColorRef colour) {
    m_settings.m_clrMask = colour & 0xFFFFFF;
    m_mask->colourButton()->setColour(m_settings.m_clrMask);
    Changed();
}

void CMaskWnd::OnCrossColor(ColorRef colour) {
    m_settings.m_clrCross = colour & 0xFFFFFF;
    m_cross->colourButton()->setColour(m_settings.m_clrCross);
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
