#pragma once

#include <QDialog>
#include <functional>

#include "contracts/Image.h"
#include "display/OverlaySettings.h"
#include "display/PanZoomModel.h"

class ColourButton;
class FrameStore;
class Overlay;
class OverlayControlGroup;
class PanPreview;
class Texts;
class ViewTransform;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QTimer;

// The pan-and-zoom window (factory mode): a tool window beside the main window that shows the
// unprocessed camera frame with the pan square, moves the square with two scroll bars, scales
// it, centres and crops the view on a bright circular field when the preview is
// double-clicked, and repeats the mask and crosshair controls with immediate effect.
//
// It is modeless; closing it (close box, Esc, Enter) only hides it. The rules live in
// PanZoomModel and in AutoCenterOnCircle; the window writes through the view transform (the
// one owner of the pan state) and the overlay, both borrowed. The preview repaints 20 times a
// second from a copy of the raw frame taken under the frame lock while the window is shown.
// The four size buttons repeat their step every 200 ms while held; a click adds one step.
//
// The mask box opens unchecked whatever the mask's state; clicking it sets the mask to the
// box's new state. GUI thread only; texts, view, overlay and frames must outlive the window.
class CMoveWnd : public QDialog {
    Q_OBJECT
public:
    CMoveWnd(const Texts& texts, ViewTransform& view, Overlay& overlay, const FrameStore& frames,
             QWidget* parent);
    ~CMoveWnd() override;

    // Shows the window beside its parent (kept on the parent's screen) and starts the preview.
    void Open();

    const PanZoomModel& model() const { return m_model; }
    ColorRef panFrameColour() const { return m_clrPanFrame; }
    QTimer* previewTimer() const { return m_previewTimer; }
    QTimer* repeatTimer() const { return m_repeatTimer; }

    // The double-click on the preview: reset, then centre and crop on the field found in the
    // newest raw frame.
    void AutoCenterOnCircle();

    // The texts again, in the language in force (a language change while it is open).
    void ApplyTexts();

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Makes a size button repeat `step` while held (a click is one step).
    void MakeRepeating(QPushButton* button, const std::function<void()>& step);
    void OnScrollAction(bool horizontal, int action);
    // Bars, read-outs and the square after a change of the pan or the scale.
    void ShowPan();
    void OnPreviewTimer();
    // A change of the mask or crosshair settings: taken by the overlay and rebuilt at once.
    void ChangeOverlay(const std::function<void(OverlaySettings&)>& change);
    void ShowOverlayReadouts();

    const Texts& m_texts;
    Overlay& m_overlay;
    const FrameStore& m_frames;
    PanZoomModel m_model;
    ColorRef m_clrPanFrame = 0x0000FF;  // red at every opening
    Image m_rawCopy;                    // storage for the preview's frame copies

    PanPreview* m_preview = nullptr;
    QScrollBar* m_hBar = nullptr;
    QScrollBar* m_vBar = nullptr;
    QGroupBox* m_panGroup = nullptr;
    QLabel* m_upDownLabel = nullptr;
    QLabel* m_upDown = nullptr;
    QLabel* m_leftRightLabel = nullptr;
    QLabel* m_leftRight = nullptr;
    ColourButton* m_panColour = nullptr;
    QPushButton* m_panReset = nullptr;
    QGroupBox* m_zoomGroup = nullptr;
    QLabel* m_factorLabel = nullptr;
    QLabel* m_factor = nullptr;
    QPushButton* m_zoomIn = nullptr;
    QPushButton* m_zoomOut = nullptr;
    QPushButton* m_zoomReset = nullptr;
    OverlayControlGroup* m_mask = nullptr;
    OverlayControlGroup* m_cross = nullptr;

    QTimer* m_previewTimer = nullptr;
    // Runs the held size button's step; one timer serves all four (one mouse holds one).
    QTimer* m_repeatTimer = nullptr;
    std::function<void()> m_repeatStep;
};
