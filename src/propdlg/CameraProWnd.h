#pragma once

#include <QDialog>
#include <QPointer>
#include <array>
#include <functional>

#include "capture/Camera.h"

class CameraParameters;
class Texts;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

// The camera property dialog (factory mode): the camera's nine picture properties as rows of
// slider, value box and automatic box. Every change goes to the camera at once, so the user
// sees it on the live picture; Default puts the camera to its defaults; Apply copies the
// camera's values into the parameter set. Cancel (or the close box) leaves it to the caller to
// put the camera back to the set, as EditCameraProperties() does.
//
// Only white balance, exposure and gain have a live automatic box; the exposure and gain boxes
// move together, though a click writes only its own property. A row whose range the camera
// cannot give is disabled.
//
// The camera is looked up through `source` at every use, because the capture controller may
// open its camera anew while the dialog is up; with no camera the dialog changes nothing.
// The texts, the source and the parameter set must outlive the dialog. GUI thread only.
class CCameraProWnd : public QDialog {
    Q_OBJECT
public:
    // The rows, top to bottom.
    enum Row {
        Brightness,
        Contrast,
        Hue,
        Saturation,
        Sharpness,
        Gamma,
        WhiteBalance,
        Exposure,
        Gain,
        RowCount
    };
    // The open camera, or null.
    using CameraSource = std::function<Camera*()>;

    // The Property command in factory mode: fills the parameter set from the camera, runs the
    // dialog modally beside `parent` and, unless it ends with OK, writes the set back to the
    // camera. Returns the dialog's result; nothing runs without a camera. The dialog places
    // itself clear of `keepClear` (the pan-and-zoom window) while that window is visible.
    static int EditCameraProperties(const Texts& texts, const CameraSource& source,
                                    CameraParameters& parameters, QWidget* parent,
                                    QWidget* keepClear = nullptr);

    // Shows the parameter set's values and flags. Apply starts disabled.
    CCameraProWnd(const Texts& texts, CameraSource source, CameraParameters& parameters,
                  QWidget* parent = nullptr);
    ~CCameraProWnd() override;

    // What a row shows: its value, whether it is live (the camera gave its range).
    long rowValue(Row row) const { return m_rows[size_t(row)].value; }
    bool rowLive(Row row) const { return m_rows[size_t(row)].live; }
    bool whiteBalanceAuto() const { return m_bWhiteBalanceAuto; }
    bool exposureAuto() const { return m_bExposureAuto; }
    bool gainAuto() const { return m_bGainAuto; }

    // The controls' handlers, also reachable for tests.
    void OnSliderValue(Row row, int value);
    void OnWhiteBalanceAuto(bool on);
    void OnExposureAuto(bool on);
    void OnGainAuto(bool on);
    void OnDefault();
    void OnApply();

    // Where a dialog of `size` goes beside the window whose frame is `owner`: to its right, its
    // top at the owner's top, moved left and up as far as needed to stay on `screen`.
    static QPoint PlaceBeside(const QRect& owner, const QSize& size, const QRect& screen);
    // The same, clear of the window whose frame is `keepClear`: beside the owner below that
    // window, else beside the owner at its top, else on the owner's other side, else beside
    // that window; always on `screen`. Where none of these is clear, below that window.
    static QPoint PlaceClear(const QRect& owner, const QSize& size, const QRect& screen,
                             const QRect& keepClear);
    // A window to keep clear of while it is visible when the dialog is shown; null for none.
    void setKeepClear(QWidget* window) { m_keepClear = window; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct RowState {
        CameraProperty property = CameraProperty::Brightness;
        long value = 0;
        long lastSent = 0;  // the last value this dialog sent for the row (0 at opening)
        bool live = false;
        QLabel* label = nullptr;
        QSlider* slider = nullptr;
        QLineEdit* valueBox = nullptr;
        QCheckBox* autoBox = nullptr;
    };

    void BuildRows();
    void ReadRanges();
    void LayOut();
    void ApplyTexts();
    // Slider positions, value boxes and automatic boxes from the members, without sending.
    void ShowValues();
    void UpdateEnables();
    // What the dialog's first paint sends: every row whose value differs from the last one sent.
    void SendFirstValues();
    // Sends a row's value with the flags of its automatic box (manual for rows without one).
    void Send(Row row);
    void SetExposureAndGainAuto(bool on, Row clicked);
    long flagsOf(Row row) const;
    void PlaceBesideOwner();

    const Texts& m_texts;
    CameraSource m_source;
    QPointer<QWidget> m_keepClear;
    CameraParameters& m_parameters;
    std::array<RowState, RowCount> m_rows;
    bool m_bWhiteBalanceAuto = false;
    bool m_bExposureAuto = false;
    bool m_bGainAuto = false;
    bool m_shown = false;

    QLabel* m_autoHeading = nullptr;
    QPushButton* m_default = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_apply = nullptr;
};
