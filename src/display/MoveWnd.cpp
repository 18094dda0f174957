#include "display/MoveWnd.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "capture/FrameStore.h"
#include "display/CircleFit.h"
#include "display/ColourButton.h"
#include "display/MaskSteps.h"
#include "display/Overlay.h"
#include "display/OverlayControlGroup.h"
#include "display/PanPreview.h"
#include "display/ViewTransform.h"
#include "settings/Texts.h"

namespace {

constexpr int kPreviewPeriodMs = 50;
constexpr int kRepeatPeriodMs = 200;

// This window's size limits (the mask window has its own).
constexpr float kMaskMinimum = 0.15f;
constexpr float kCrossMaximum = 0.4f;
constexpr float kCrossMinimum = 0.15f;

QLabel* Readout(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFont(QFont(QStringLiteral("monospace")));
    return label;
}

}  // namespace

CMoveWnd::CMoveWnd(const Texts& texts, ViewTransform& view, Overlay& overlay,
                   const FrameStore& frames, QWidget* parent)
    : QDialog(parent), m_texts(texts), m_overlay(overlay), m_frames(frames), m_model(view) {
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);

    m_previewTimer = new QTimer(this);
    m_previewTimer->setInterval(kPreviewPeriodMs);
    connect(m_previewTimer, &QTimer::timeout, this, &CMoveWnd::OnPreviewTimer);
    m_repeatTimer = new QTimer(this);
    m_repeatTimer->setInterval(kRepeatPeriodMs);
    connect(m_repeatTimer, &QTimer::timeout, this, [this] {
        if (m_repeatStep) {
            m_repeatStep();
        }
    });

    m_preview = new PanPreview(this);
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->installEventFilter(this);
    m_hBar = new QScrollBar(Qt::Horizontal, this);
    m_hBar->setObjectName(QStringLiteral("panColumn"));
    m_vBar = new QScrollBar(Qt::Vertical, this);
    m_vBar->setObjectName(QStringLiteral("panRow"));
    for (QScrollBar* bar : {m_hBar, m_vBar}) {
        bar->setPageStep(5);
        bar->setSingleStep(1);
        bar->setTracking(false);  // a dragged thumb counts where it is let go
        const bool horizontal = bar == m_hBar;
        connect(bar, &QScrollBar::actionTriggered, this,
                [this, horizontal](int action) { OnScrollAction(horizontal, action); });
    }

    // Pan group: the two offsets, the square's colour, the reset.
    m_panGroup = new QGroupBox(this);
    auto* panLayout = new QGridLayout(m_panGroup);
    m_upDownLabel = new QLabel(m_panGroup);
    m_upDown = Readout(m_panGroup, "upDown");
    m_leftRightLabel = new QLabel(m_panGroup);
    m_leftRight = Readout(m_panGroup, "leftRight");
    m_panColour = new ColourButton(m_texts, m_panGroup);
    m_panColour->setObjectName(QStringLiteral("panColour"));
    m_panReset = new QPushButton(m_panGroup);
    m_panReset->setObjectName(QStringLiteral("panReset"));
    panLayout->addWidget(m_upDownLabel, 0, 0);
    panLayout->addWidget(m_upDown, 0, 1);
    panLayout->addWidget(m_leftRightLabel, 1, 0);
    panLayout->addWidget(m_leftRight, 1, 1);
    panLayout->addWidget(m_panColour, 2, 0, 1, 2);
    panLayout->addWidget(m_panReset, 3, 0, 1, 2);

    // Zoom group: the square's scale.
    m_zoomGroup = new QGroupBox(this);
    auto* zoomLayout = new QGridLayout(m_zoomGroup);
    m_factorLabel = new QLabel(m_zoomGroup);
    m_factor = Readout(m_zoomGroup, "factor");
    m_zoomIn = new QPushButton(m_zoomGroup);
    m_zoomIn->setObjectName(QStringLiteral("zoomIn"));
    m_zoomOut = new QPushButton(m_zoomGroup);
    m_zoomOut->setObjectName(QStringLiteral("zoomOut"));
    m_zoomReset = new QPushButton(m_zoomGroup);
    m_zoomReset->setObjectName(QStringLiteral("zoomReset"));
    zoomLayout->addWidget(m_factorLabel, 0, 0);
    zoomLayout->addWidget(m_factor, 0, 1, 1, 2);
    zoomLayout->addWidget(m_zoomIn, 1, 0);
    zoomLayout->addWidget(m_zoomOut, 1, 1);
    zoomLayout->addWidget(m_zoomReset, 1, 2);

    // Mask and crosshair groups.
    m_mask = new OverlayControlGroup(m_texts, OverlayControlGroup::kMask,
                                     OverlayControlGroup::Layout::ButtonsBesideWithReadout, this);
    MakeRepeating(m_mask->largerButton(), [this] {
        ChangeOverlay(
            [](OverlaySettings& s) { s.m_fMaskRadius = MaskSteps::MaskLarger(s.m_fMaskRadius); });
    });
    MakeRepeating(m_mask->smallerButton(), [this] {
        ChangeOverlay([](OverlaySettings& s) {
            s.m_fMaskRadius = MaskSteps::MaskSmaller(s.m_fMaskRadius, kMaskMinimum);
        });
    });
    m_cross = new OverlayControlGroup(m_texts, OverlayControlGroup::kCrosshair,
                                      OverlayControlGroup::Layout::ButtonsBesideWithReadout, this);
    MakeRepeating(m_cross->largerButton(), [this] {
        ChangeOverlay([](OverlaySettings& s) {
            s.m_fCrossSize = MaskSteps::CrossLarger(s.m_fCrossSize, kCrossMaximum);
        });
    });
    MakeRepeating(m_cross->smallerButton(), [this] {
        ChangeOverlay([](OverlaySettings& s) {
            s.m_fCrossSize = MaskSteps::CrossSmaller(s.m_fCrossSize, kCrossMinimum);
        });
    });

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_preview, 0, 0, 2, 1);
    grid->addWidget(m_vBar, 0, 1, 2, 1);
    grid->addWidget(m_hBar, 2, 0);
    grid->addWidget(m_panGroup, 0, 2);
    grid->addWidget(m_zoomGroup, 1, 2, 2, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_mask);
    bottom->addWidget(m_cross);
    grid->addLayout(bottom, 3, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    // The state at opening: the square red, the mask box unchecked whatever the mask does.
    const OverlaySettings& s = m_overlay.settings();
    m_panColour->setColour(m_clrPanFrame);
    m_mask->colourButton()->setColour(s.m_clrMask);
    m_cross->colourButton()->setColour(s.m_clrCross);
    m_mask->enableBox()->setChecked(false);
    m_cross->enableBox()->setChecked(s.m_bCrossEnable != 0);
    ApplyTexts();
    ShowPan();
    ShowOverlayReadouts();

    connect(m_panReset, &QPushButton::clicked, this, [this] {
        m_model.ResetPan();
        ShowPan();
    });
    connect(m_zoomIn, &QPushButton::clicked, this, [this] {
        m_model.ScaleUp();
        ShowPan();
    });
    connect(m_zoomOut, &QPushButton::clicked, this, [this] {
        m_model.ScaleDown();
        ShowPan();
    });
    connect(m_zoomReset, &QPushButton::clicked, this, [this] {
        m_model.ResetScale();
        ShowPan();
    });
    connect(m_panColour, &ColourButton::presetChosen, this, [this](int index) {
        m_clrPanFrame = PresetColors(index);
        m_panColour->setColour(m_clrPanFrame);
        ShowPan();
    });
    connect(m_panColour, &ColourButton::colourChosen, this, [this](ColorRef colour) {
        m_clrPanFrame = colour & 0xFFFFFF;
        m_panColour->setColour(m_clrPanFrame);
        ShowPan();
    });
    connect(m_mask->enableBox(), &QCheckBox::clicked, this, [this](bool on) {
        ChangeOverlay([on](OverlaySettings& o) { o.m_bMaskEnable = on ? 1 : 0; });
    });
    connect(m_cross->enableBox(), &QCheckBox::clicked, this, [this](bool on) {
        ChangeOverlay([on](OverlaySettings& o) { o.m_bCrossEnable = on ? 1 : 0; });
    });
    connect(m_mask->colourButton(), &ColourButton::presetChosen, this, [this](int index) {
        ChangeOverlay([index](OverlaySettings& o) {
            o.m_clrMask = PresetColors(index);
            o.m_nMaskColorIndex = index;
        });
    });
    connect(m_mask->colourButton(), &ColourButton::colourChosen, this, [this](ColorRef colour) {
        ChangeOverlay([colour](OverlaySettings& o) { o.m_clrMask = colour & 0xFFFFFF; });
    });
    connect(m_cross->colourButton(), &ColourButton::presetChosen, this, [this](int index) {
        ChangeOverlay([index](OverlaySettings& o) {
            o.m_clrCross = PresetColors(index);
            o.m_nCrossColorIndex = index;
        });
    });
    connect(m_cross->colourButton(), &ColourButton::colourChosen, this, [this](ColorRef colour) {
        ChangeOverlay([colour](OverlaySettings& o) { o.m_clrCross = colour & 0xFFFFFF; });
    });
}

CMoveWnd::~CMoveWnd() = default;

void CMoveWnd::MakeRepeating(QPushButton* button, const std::function<void()>& step) {
    // Held: the step repeats every 200 ms. The button reports a release also when the mouse
    // leaves it while held, so the repeat never outlives the press; the click on release adds
    // one step of its own.
    connect(button, &QPushButton::pressed, this, [this, step] {
        m_repeatStep = step;
        m_repeatTimer->start();
    });
    connect(button, &QPushButton::released, this, [this] {
        m_repeatTimer->stop();
        m_repeatStep = nullptr;
    });
    connect(button, &QPushButton::clicked, this, [step] { step(); });
    // A release the button does not report (it lost its pressed look some other way) still
    // ends the repeat.
    button->installEventFilter(this);
}

void CMoveWnd::ApplyTexts() {
    setWindowTitle(m_texts.text("MoveWnd", "MainCaption"));
    m_panGroup->setTitle(m_texts.text("MoveWnd", "MOVEFRAME"));
    m_upDownLabel->setText(m_texts.text("MoveWnd", "UPDOWN"));
    m_leftRightLabel->setText(m_texts.text("MoveWnd", "LEFTRIGHT"));
    m_panReset->setText(m_texts.text("MoveWnd", "MASKRESET"));
    m_zoomGroup->setTitle(m_texts.text("MoveWnd", "ZOOMFRAME"));
    m_factorLabel->setText(m_texts.text("MoveWnd", "FACTOR"));
    m_zoomIn->setText(m_texts.text("MoveWnd", "ZOOMIN"));
    m_zoomOut->setText(m_texts.text("MoveWnd", "ZOOMOUT"));
    m_zoomReset->setText(m_texts.text("MoveWnd", "FACTORRESET"));
    m_panColour->ApplyTexts();
    m_mask->ApplyTexts();
    m_cross->ApplyTexts();
}

void CMoveWnd::Open() {
    adjustSize();
    // Shown first: the frame around the window is known only then.
    show();
    // Beside the main window, its top at the main window's top, moved left to stay on the
    // screen where there is no room on the right.
    QPoint at(0, 0);
    QRect screen(0, 0, 1920, 1080);
    if (QWidget* owner = parentWidget()) {
        const QRect frame = owner->frameGeometry();
        at = QPoint(frame.right() + 1, frame.top());
        if (owner->screen()) {
            screen = owner->screen()->availableGeometry();
        }
    } else if (this->screen()) {
        screen = this->screen()->availableGeometry();
    }
    const QSize size = frameGeometry().size();
    at.setX(std::clamp(at.x(), screen.left(),
                       std::max(screen.left(), screen.right() + 1 - size.width())));
    at.setY(std::clamp(at.y(), screen.top(),
                       std::max(screen.top(), screen.bottom() + 1 - size.height())));
    move(at);
    raise();
}

void CMoveWnd::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_previewTimer->start();
    OnPreviewTimer();
}

void CMoveWnd::done(int result) {
    m_previewTimer->stop();
    m_repeatTimer->stop();
    m_repeatStep = nullptr;
    QDialog::done(result);
}

void CMoveWnd::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        // A focused push button takes Enter as a click; anywhere else Enter closes (as OK).
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);  // Esc: hidden as by the close box
}

bool CMoveWnd::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_preview && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        AutoCenterOnCircle();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease && m_repeatTimer->isActive() &&
        qobject_cast<QPushButton*>(watched)) {
        m_repeatTimer->stop();
    }
    return QDialog::eventFilter(watched, event);
}

void CMoveWnd::OnScrollAction(bool horizontal, int action) {
    QScrollBar* bar = horizontal ? m_hBar : m_vBar;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            m_model.Scroll(horizontal, ScrollRequest::LineBack);
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            m_model.Scroll(horizontal, ScrollRequest::LineForward);
            break;
        case QAbstractSlider::SliderMove:
            if (bar->isSliderDown()) {
                return;  // the thumb follows the mouse; it counts where it is let go
            }
            m_model.Scroll(horizontal, ScrollRequest::Thumb, bar->sliderPosition());
            break;
        default:  // page steps and the like move nothing
            m_model.Scroll(horizontal, ScrollRequest::Other);
            break;
    }
    // A rejected request puts the bar back where it was.
    bar->setSliderPosition(horizontal ? m_model.barX() : m_model.barY());
    ShowPan();
}

void CMoveWnd::ShowPan() {
    m_hBar->setRange(0, m_model.videoWidth());
    m_vBar->setRange(0, m_model.videoHeight());
    if (!m_hBar->isSliderDown()) {
        m_hBar->setSliderPosition(m_model.barX());
        m_hBar->setValue(m_model.barX());
    }
    if (!m_vBar->isSliderDown()) {
        m_vBar->setSliderPosition(m_model.barY());
        m_vBar->setValue(m_model.barY());
    }
    m_upDown->setText(m_model.offsetYReadout());
    m_leftRight->setText(m_model.offsetXReadout());
    m_factor->setText(m_model.zoomReadout());
    m_preview->setSquare(m_model.posX(), m_model.posY(), m_model.halfSide(), m_clrPanFrame);
}

void CMoveWnd::ChangeOverlay(const std::function<void(OverlaySettings&)>& change) {
    // The overlay's own settings are changed, not a copy taken at opening: the mask window
    // may have changed others meanwhile.
    OverlaySettings s = m_overlay.settings();
    change(s);
    m_overlay.setSettings(s);
    m_overlay.Rebuild();
    m_mask->colourButton()->setColour(s.m_clrMask);
    m_cross->colourButton()->setColour(s.m_clrCross);
    ShowOverlayReadouts();
}

void CMoveWnd::ShowOverlayReadouts() {
    const OverlaySettings& s = m_overlay.settings();
    m_mask->readout()->setText(PercentReadout(s.m_fMaskRadius * 2.0f));
    m_cross->readout()->setText(PercentReadout(s.m_fCrossSize * 2.0f));
}

void CMoveWnd::OnPreviewTimer() {
    if (m_frames.copyRawImage(m_rawCopy)) {
        m_preview->exchangeFrame(m_rawCopy);
    } else {
        m_preview->clearFrame();
    }
}

void CMoveWnd::AutoCenterOnCircle() {
    m_model.ResetPan();
    m_model.ResetScale();
    // The raw frame is the one the preview shows and the one whose pixels the pan centre
    // counts; mirrors and zoom of the processed picture do not move the field found.
    Image frame;
    if (m_frames.copyRawImage(frame)) {
        const AutoCenterResult found =
            ::AutoCenterOnCircle(frame, m_model.videoWidth(), m_model.videoHeight());
        switch (found.outcome) {
            case AutoCenterResult::Outcome::Centred:
                m_model.CentreOn(found.cx, found.cy, found.viewZoom);
                break;
            case AutoCenterResult::Outcome::OutOfRange:
                m_model.ResetPan();
                m_model.ResetScale();
                break;
            case AutoCenterResult::Outcome::NotAnalysed:
            case AutoCenterResult::Outcome::NoCircle:
                break;
        }
    }
    ShowPan();
}
