#include "propdlg/CameraProWnd.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <optional>

#include "capture/CameraParameters.h"
#include "settings/Texts.h"

namespace {

// The rows as the dialog lays them out: the top of the row's value box in dialog units (a
// quarter of the font's average character width across, an eighth of its height down).
struct RowInfo {
    const char* key;   // text key in section "CameraProWnd"
    const char* name;  // object name prefix of the row's controls
    CameraProperty property;
    int controlTop;
};

constexpr std::array<RowInfo, CCameraProWnd::RowCount> kRows{{
    {"BRIGHT", "brightness", CameraProperty::Brightness, 23},
    {"CONTRAST", "contrast", CameraProperty::Contrast, 41},
    {"HUE", "hue", CameraProperty::Hue, 58},
    {"SAT", "saturation", CameraProperty::Saturation, 74},
    {"SHARP", "sharpness", CameraProperty::Sharpness, 92},
    {"GAMMA", "gamma", CameraProperty::Gamma, 109},
    {"WB", "whiteBalance", CameraProperty::WhiteBalance, 126},
    {"EXPOSURE", "exposure", CameraProperty::Exposure, 143},
    {"GAIN", "gain", CameraProperty::Gain, 159},
}};

// Columns and sizes in dialog units.
constexpr int kDialogWidth = 258;
constexpr int kDialogHeight = 213;
constexpr int kLabelX = 19, kLabelWidth = 43, kLabelHeight = 8;
constexpr int kSliderX = 63, kSliderWidth = 100, kSliderHeight = 9;
constexpr int kValueX = 169, kValueWidth = 23, kValueHeight = 14;
constexpr int kAutoX = 205, kAutoWidth = 16, kAutoHeight = 10;
constexpr int kHeadingX = 203, kHeadingY = 12, kHeadingWidth = 17;
constexpr int kButtonY = 180, kButtonWidth = 50, kButtonHeight = 14;
// Default, OK, Cancel and Apply, left to right.
constexpr int kButtonX[4] = {19, 75, 133, 193};

constexpr const char* kSection = "CameraProWnd";

}  // namespace

int CCameraProWnd::EditCameraProperties(const Texts& texts, const CameraSource& source,
                                        CameraParameters& parameters, QWidget* parent,
                                        QWidget* keepClear) {
    Camera* camera = source ? source() : nullptr;
    if (camera == nullptr) {
        return QDialog::Rejected;
    }
    parameters.FillFromCamera(*camera);
    CCameraProWnd wnd(texts, source, parameters, parent);
    wnd.setKeepClear(keepClear);
    const int result = wnd.exec();
    // OK keeps what the dialog set on the camera (the set changes only through Apply); anything
    // else puts the camera back to the set.
    if (result != QDialog::Accepted) {
        if (Camera* now = source()) {
            parameters.WriteToCamera(*now);
        }
    }
    return result;
}

CCameraProWnd::CCameraProWnd(const Texts& texts, CameraSource source, CameraParameters& parameters,
                             QWidget* parent)
    : QDialog(parent), m_texts(texts), m_source(std::move(source)), m_parameters(parameters) {
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    BuildRows();
    m_autoHeading = new QLabel(this);
    m_autoHeading->setObjectName(QStringLiteral("autoHeading"));
    m_default = new QPushButton(this);
    m_default->setObjectName(QStringLiteral("defaultButton"));
    m_ok = new QPushButton(this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_apply = new QPushButton(this);
    m_apply->setObjectName(QStringLiteral("applyButton"));
    for (QPushButton* button : {m_default, m_cancel, m_apply}) {
        button->setAutoDefault(false);
    }
    m_ok->setDefault(true);

    for (size_t i = 0; i < m_rows.size(); ++i) {
        m_rows[i].value = m_parameters.value(m_rows[i].property);
    }
    m_bWhiteBalanceAuto = m_parameters.m_bWhiteBalanceAuto;
    m_bExposureAuto = m_parameters.m_bExposureAuto;
    // The gain box shows the exposure box's state: they are one switch.
    m_bGainAuto = m_bExposureAuto;

    ReadRanges();
    ShowValues();
    UpdateEnables();
    m_apply->setEnabled(false);
    ApplyTexts();
    LayOut();

    for (size_t i = 0; i < m_rows.size(); ++i) {
        const Row row = Row(i);
        // valueChanged comes with every move the user makes (drag, keys, wheel) and not with a
        // repaint; the dialog's own updates block it.
        connect(m_rows[i].slider, &QSlider::valueChanged, this,
                [this, row](int value) { OnSliderValue(row, value); });
    }
    connect(m_rows[WhiteBalance].autoBox, &QCheckBox::clicked, this,
            &CCameraProWnd::OnWhiteBalanceAuto);
    connect(m_rows[Exposure].autoBox, &QCheckBox::clicked, this, &CCameraProWnd::OnExposureAuto);
    connect(m_rows[Gain].autoBox, &QCheckBox::clicked, this, &CCameraProWnd::OnGainAuto);
    connect(m_default, &QPushButton::clicked, this, &CCameraProWnd::OnDefault);
    connect(m_apply, &QPushButton::clicked, this, &CCameraProWnd::OnApply);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

CCameraProWnd::~CCameraProWnd() = default;

void CCameraProWnd::BuildRows() {
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const QString name = QLatin1String(kRows[i].name);
        RowState& r = m_rows[i];
        r.property = kRows[i].property;
        r.label = new QLabel(this);
        r.label->setObjectName(name + QLatin1String("Label"));
        r.slider = new QSlider(Qt::Horizontal, this);
        r.slider->setObjectName(name + QLatin1String("Slider"));
        r.slider->setTickPosition(QSlider::NoTicks);
        r.valueBox = new QLineEdit(this);
        r.valueBox->setObjectName(name + QLatin1String("Value"));
        r.valueBox->setReadOnly(true);
        r.valueBox->setFocusPolicy(Qt::NoFocus);
        r.autoBox = new QCheckBox(this);
        r.autoBox->setObjectName(name + QLatin1String("Auto"));
    }
}

void CCameraProWnd::ReadRanges() {
    Camera* camera = m_source ? m_source() : nullptr;
    for (RowState& r : m_rows) {
        PropertyRange range;
        r.live = camera != nullptr && camera->getPropertyRange(r.property, &range) &&
                 range.min <= range.max;
        QSignalBlocker block(r.slider);
        if (r.live) {
            r.slider->setRange(int(range.min), int(range.max));
            r.slider->setSingleStep(int(std::max(range.step, 1L)));
            r.slider->setPageStep(int(std::max(range.step, (range.max - range.min) / 10)));
        } else {
            // A slider never keeps another row's range: one without a range shows nothing.
            r.slider->setRange(0, 0);
        }
    }
}

void CCameraProWnd::ShowValues() {
    for (RowState& r : m_rows) {
        {
            QSignalBlocker block(r.slider);
            r.slider->setValue(int(r.value));
        }
        if (r.live) {
            // A value outside the range (from an older set) is shown, and sent, as the slider
            // holds it.
            r.value = r.slider->value();
            r.valueBox->setText(QString::number(r.value));
        } else {
            r.valueBox->clear();
        }
    }
    m_rows[WhiteBalance].autoBox->setChecked(m_bWhiteBalanceAuto);
    m_rows[Exposure].autoBox->setChecked(m_bExposureAuto);
    m_rows[Gain].autoBox->setChecked(m_bGainAuto);
}

void CCameraProWnd::UpdateEnables() {
    for (size_t i = 0; i < m_rows.size(); ++i) {
        RowState& r = m_rows[i];
        bool sliderOn = r.live;
        if (i == WhiteBalance) {
            sliderOn = r.live && !m_bWhiteBalanceAuto;
        } else if (i == Exposure) {
            sliderOn = r.live && !m_bExposureAuto;
        } else if (i == Gain) {
            sliderOn = r.live && !m_bGainAuto;
        }
        r.label->setEnabled(r.live);
        r.valueBox->setEnabled(r.live);
        r.slider->setEnabled(sliderOn);
        // Only white balance, exposure and gain have an automatic box that works.
        r.autoBox->setEnabled(r.live && (i == WhiteBalance || i == Exposure || i == Gain));
    }
}

void CCameraProWnd::ApplyTexts() {
    setWindowTitle(m_texts.text(kSection, "MainCaption"));
    for (size_t i = 0; i < m_rows.size(); ++i) {
        m_rows[i].label->setText(m_texts.text(kSection, kRows[i].key));
    }
    m_autoHeading->setText(m_texts.text(kSection, "AUTO"));
    m_default->setText(m_texts.text(kSection, "DEFAULT"));
    m_ok->setText(m_texts.text(kSection, "OK"));
    m_cancel->setText(m_texts.text(kSection, "CANCEL"));
    m_apply->setText(m_texts.text(kSection, "APPLY"));
}

void CCameraProWnd::LayOut() {
    // Dialog units from the dialog's font; a longer text than its place widens its column and
    // moves the columns right of it, so that no language's text is cut.
    const QFontMetrics fm(font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double unitX = fm.horizontalAdvance(alphabet) / 52.0 / 4.0;
    const double unitY = fm.height() / 8.0;
    auto px = [unitX](int dlu) { return int(dlu * unitX + 0.5); };
    auto py = [unitY](int dlu) { return int(dlu * unitY + 0.5); };

    int labelWidth = px(kLabelWidth);
    for (const RowState& r : m_rows) {
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(r.label->text()) + 2);
    }
    const int shift = labelWidth - px(kLabelWidth);
    const int valueWidth =
        std::max(px(kValueWidth), fm.horizontalAdvance(QStringLiteral("-00000")) + 10);
    const int valueShift = valueWidth - px(kValueWidth);

    // Each row's controls are centred on its value box.
    int bottom = 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        RowState& r = m_rows[i];
        const int centre = py(2 * kRows[i].controlTop + kValueHeight) / 2;
        const int labelHeight = std::max(py(kLabelHeight), fm.height());
        r.label->setGeometry(px(kLabelX), centre - labelHeight / 2, labelWidth, labelHeight);
        const int sliderHeight = std::max(py(kSliderHeight), r.slider->sizeHint().height());
        r.slider->setGeometry(px(kSliderX) + shift, centre - sliderHeight / 2, px(kSliderWidth),
                              sliderHeight);
        const int valueHeight = std::max(py(kValueHeight), r.valueBox->sizeHint().height());
        r.valueBox->setGeometry(px(kValueX) + shift, centre - valueHeight / 2, valueWidth,
                                valueHeight);
        const QSize box = r.autoBox->sizeHint().expandedTo(QSize(px(kAutoWidth), py(kAutoHeight)));
        r.autoBox->setGeometry(px(kAutoX) + shift + valueShift, centre - box.height() / 2,
                               box.width(), box.height());
        bottom = std::max(bottom, centre + valueHeight / 2);
    }
    // The heading starts just left of the automatic boxes, as wide as its text.
    const int headingWidth =
        std::max(px(kHeadingWidth), fm.horizontalAdvance(m_autoHeading->text()) + 2);
    const int headingHeight = std::max(py(kLabelHeight), fm.height());
    m_autoHeading->setGeometry(px(kHeadingX) + shift + valueShift,
                               py(kHeadingY) + py(kLabelHeight) / 2 - headingHeight / 2,
                               headingWidth, headingHeight);

    // The buttons keep their places and gaps, each as wide as its text needs.
    QPushButton* buttons[4] = {m_default, m_ok, m_cancel, m_apply};
    const int buttonHeight = std::max(py(kButtonHeight), m_ok->sizeHint().height());
    const int buttonTop = std::max(py(kButtonY), bottom + py(7));
    int x = px(kButtonX[0]);
    for (int i = 0; i < 4; ++i) {
        const int width = std::max(px(kButtonWidth), buttons[i]->sizeHint().width());
        buttons[i]->setGeometry(x, buttonTop, width, buttonHeight);
        if (i < 3) {
            x += width + px(kButtonX[i + 1] - kButtonX[i] - kButtonWidth);
        } else {
            x += width;
        }
    }
    const int width = std::max(px(kDialogWidth) + shift + valueShift, x + px(kButtonX[0]));
    const int height = std::max(py(kDialogHeight), buttonTop + buttonHeight + py(19));
    setFixedSize(width, height);
}

long CCameraProWnd::flagsOf(Row row) const {
    switch (row) {
        case WhiteBalance:
            return m_bWhiteBalanceAuto ? kPropertyFlagsAuto : kPropertyFlagsManual;
        case Exposure:
            return m_bExposureAuto ? kPropertyFlagsAuto : kPropertyFlagsManual;
        case Gain:
            return m_bGainAuto ? kPropertyFlagsAuto : kPropertyFlagsManual;
        default:
            return kPropertyFlagsManual;
    }
}

void CCameraProWnd::Send(Row row) {
    RowState& r = m_rows[size_t(row)];
    Camera* camera = m_source ? m_source() : nullptr;
    if (!r.live || camera == nullptr) {
        return;
    }
    camera->setProperty(r.property, r.value, flagsOf(row));
    r.lastSent = r.value;
}

void CCameraProWnd::SendFirstValues() {
    bool sent = false;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        RowState& r = m_rows[i];
        if (!r.live) {
            continue;
        }
        if (i == Exposure) {
            Send(Exposure);  // exposure goes every time, without enabling Apply
        } else if (r.value != r.lastSent) {
            Send(Row(i));
            sent = true;
        }
    }
    if (sent) {
        m_apply->setEnabled(true);
    }
}

void CCameraProWnd::OnSliderValue(Row row, int value) {
    RowState& r = m_rows[size_t(row)];
    if (!r.live) {
        return;
    }
    r.value = value;
    r.valueBox->setText(QString::number(r.value));
    // Exposure goes with every move; the others only when they differ from what was sent last.
    if (row == Exposure || r.value != r.lastSent) {
        Send(row);
        m_apply->setEnabled(true);
    }
}

void CCameraProWnd::OnWhiteBalanceAuto(bool on) {
    m_bWhiteBalanceAuto = on;
    Send(WhiteBalance);
    ShowValues();
    UpdateEnables();
    m_apply->setEnabled(true);
}

void CCameraProWnd::SetExposureAndGainAuto(bool on, Row clicked) {
    m_bExposureAuto = on;
    m_bGainAuto = on;
    // Only the clicked row is written; the other box just follows it, so a camera with an
    // automatic mode for each keeps the other as it is.
    Send(clicked);
    ShowValues();
    UpdateEnables();
    m_apply->setEnabled(true);
}

void CCameraProWnd::OnExposureAuto(bool on) {
    SetExposureAndGainAuto(on, Exposure);
}

void CCameraProWnd::OnGainAuto(bool on) {
    SetExposureAndGainAuto(on, Gain);
}

void CCameraProWnd::OnDefault() {
    Camera* camera = m_source ? m_source() : nullptr;
    if (camera == nullptr) {
        return;
    }
    bool sent = false;
    // The row's default into its value; the range's capability flags, or none without a range.
    auto toDefault = [&](Row row) -> std::optional<long> {
        RowState& r = m_rows[size_t(row)];
        PropertyRange range;
        if (!r.live || !camera->getPropertyRange(r.property, &range)) {
            return std::nullopt;
        }
        r.value = range.def;
        return range.flags;
    };
    // The plain properties go with the flags the camera reports for them, so one with an
    // automatic mode (hue on some cameras) ends in the mode the camera gives as its default.
    for (Row row : {Brightness, Contrast, Saturation, Hue, Gamma, Sharpness}) {
        if (const std::optional<long> flags = toDefault(row)) {
            RowState& r = m_rows[size_t(row)];
            camera->setProperty(r.property, r.value, *flags);
            r.lastSent = r.value;
            sent = true;
        }
    }
    // White balance manual at its default; exposure and gain automatic at theirs, gain only
    // when the camera has exposure.
    if (toDefault(WhiteBalance)) {
        m_bWhiteBalanceAuto = false;
        Send(WhiteBalance);
        sent = true;
    }
    if (toDefault(Exposure)) {
        m_bExposureAuto = true;
        m_bGainAuto = true;
        if (toDefault(Gain)) {
            Send(Gain);
        }
        Send(Exposure);
        sent = true;
    }
    ShowValues();
    UpdateEnables();
    if (sent) {
        m_apply->setEnabled(true);
    }
}

void CCameraProWnd::OnApply() {
    if (Camera* camera = m_source ? m_source() : nullptr) {
        m_parameters.ReadBack(*camera);
    }
    m_apply->setEnabled(false);
}

QPoint CCameraProWnd::PlaceBeside(const QRect& owner, const QSize& size, const QRect& screen) {
    int x = owner.right() + 1;
    int y = owner.top();
    if (x + size.width() > screen.right() + 1) {
        x = screen.right() + 1 - size.width();
    }
    if (y + size.height() > screen.bottom() + 1) {
        y = screen.bottom() + 1 - size.height();
    }
    return QPoint(std::max(x, screen.left()), std::max(y, screen.top()));
}

QPoint CCameraProWnd::PlaceClear(const QRect& owner, const QSize& size, const QRect& screen,
                                 const QRect& keepClear) {
    auto onScreen = [&](int x, int y) {
        x = std::max(std::min(x, screen.right() + 1 - size.width()), screen.left());
        y = std::max(std::min(y, screen.bottom() + 1 - size.height()), screen.top());
        return QPoint(x, y);
    };
    const int besideOwner = owner.right() + 1;
    const QPoint candidates[] = {
        onScreen(besideOwner, keepClear.bottom() + 1),
        onScreen(besideOwner, owner.top()),
        onScreen(owner.left() - size.width(), owner.top()),
        onScreen(keepClear.right() + 1, keepClear.top()),
        onScreen(keepClear.left() - size.width(), keepClear.top()),
    };
    for (const QPoint& at : candidates) {
        if (!QRect(at, size).intersects(keepClear)) {
            return at;
        }
    }
    return candidates[0];
}

void CCameraProWnd::PlaceBesideOwner() {
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (owner == nullptr) {
        return;
    }
    const QScreen* screen = owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    // The frame around the dialog counts: the whole window stays on the screen.
    const QSize frame = frameGeometry().size().expandedTo(size());
    const QRect area = screen->availableGeometry();
    QPoint at = PlaceBeside(owner->frameGeometry(), frame, area);
    if (m_keepClear && m_keepClear->isVisible()) {
        at = PlaceClear(owner->frameGeometry(), frame, area, m_keepClear->frameGeometry());
    }
    move(at);
}

void CCameraProWnd::showEvent(QShowEvent* event) {
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        PlaceBesideOwner();
        SendFirstValues();
    }
    QDialog::showEvent(event);
}
