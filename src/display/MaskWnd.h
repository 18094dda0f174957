#pragma once

#include <QDialog>
#include <functional>

#include "contracts/Image.h"
#include "display/OverlaySettings.h"

class FrameStore;
class OverlayControlGroup;
class Texts;
class PreviewWidget;
class QTimer;

// The mask window: switches the edge mask and the crosshair on and off, chooses their colours
// and sizes, and shows a small live view of the current frame.
//
// It edits a copy of the window's overlay settings and reports every change at once through
// the change handler, which the owner uses to take the settings and rebuild the overlay, so
// the user sees each change on the live picture. Nothing is written back at close.
//
// Sizes: the mask radius moves by 0.01 between the larger of the crosshair size and 0.25 and
// 0.5 (the clear disc never gets smaller than the cross); the crosshair by 0.02 between 0 and
// the mask radius.
//
// Enter ends the window (as OK), Esc is ignored, the close box ends it. GUI thread only.
class CMaskWnd : public QDialog {
    Q_OBJECT
public:
    using ChangeHandler = std::function<void(const OverlaySettings&)>;

    // `frames` (may be null) is the source of the live view; it and `texts` must outlive the
    // window.
    CMaskWnd(const Texts& texts, const OverlaySettings& settings, FrameStore* frames,
             ChangeHandler onChange, QWidget* parent = nullptr);
    ~CMaskWnd() override;

    const OverlaySettings& settings() const { return m_settings; }
    bool previewTimerActive() const;

    // The handlers of the controls, also reachable for tests.
    void OnMaskEnable(bool on);
    void OnCrossEnable(bool on);
    void OnMaskLarger();
    void OnMaskSmaller();
    void OnCrossLarger();
    void OnCrossSmaller();
    // A preset from a colour chooser: colour and preset index change.
    void OnMaskPreset(int index);
    void OnCrossPreset(int index);
    // A free colour ("Other…"): only the colour changes.
    void OnMaskColor(ColorRef colour);
    void OnCrossColor(ColorRef colour);
    // Enter: stops the live view and ends the window.
    void OnOK();

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Changed();
    void OnTimer();

    const Texts& m_texts;
    OverlaySettings m_settings;
    FrameStore* m_frames;
    ChangeHandler m_onChange;
    Image m_frameCopy;  // the live view's copy of the current frame, storage reused

    OverlayControlGroup* m_mask = nullptr;
    OverlayControlGroup* m_cross = nullptr;
    PreviewWidget* m_preview = nullptr;
    QTimer* m_timer = nullptr;
};
