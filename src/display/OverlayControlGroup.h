#pragma once

#include <QGroupBox>

class ColourButton;
class QCheckBox;
class QLabel;
class QPushButton;
class Texts;

// The controls of one overlay mark, the edge mask or the crosshair, in a titled box: a check
// box that switches the mark on, a colour chooser, a "larger" and a "smaller" button and, in
// the pan-and-zoom window, a read-out of the size. The mask window and the pan-and-zoom window
// each show one box per mark.
//
// The box only builds and labels its controls (texts from the "MaskWnd" language section,
// object names "<prefix>Enable", "<prefix>Colour", "<prefix>Larger", "<prefix>Smaller",
// "<prefix>Size"); the window that shows it connects the controls and decides what they
// change. GUI thread only; `texts` must outlive the box.
class OverlayControlGroup : public QGroupBox {
    Q_OBJECT
public:
    // What a box is for: the prefix of its controls' object names and its language keys
    // (string literals: the box keeps the pointers).
    struct Description {
        const char* namePrefix;
        const char* titleKey;
        const char* enableKey;
        const char* largerKey;
        const char* smallerKey;
    };
    static const Description kMask;
    static const Description kCrosshair;

    enum class Layout {
        // Check box and colour chooser across the box, the size buttons side by side below.
        ButtonsBelow,
        // Check box over colour chooser on the left, the size buttons one over the other on
        // the right, the size read-out under them.
        ButtonsBesideWithReadout,
    };

    OverlayControlGroup(const Texts& texts, const Description& description, Layout layout,
                        QWidget* parent);

    QCheckBox* enableBox() const { return m_enable; }
    ColourButton* colourButton() const { return m_colour; }
    QPushButton* largerButton() const { return m_larger; }
    QPushButton* smallerButton() const { return m_smaller; }
    // Null in the ButtonsBelow layout.
    QLabel* readout() const { return m_readout; }

    // The texts again, in the language in force (the colour chooser's included).
    void ApplyTexts();

private:
    const Texts& m_texts;
    const Description m_description;
    QCheckBox* m_enable = nullptr;
    ColourButton* m_colour = nullptr;
    QPushButton* m_larger = nullptr;
    QPushButton* m_smaller = nullptr;
    QLabel* m_readout = nullptr;
};
