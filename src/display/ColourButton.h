#pragma once

#include <QPushButton>

#include "display/OverlaySettings.h"

class Texts;

// A colour chooser button: shows a swatch and the preset's name, and offers the six preset
// colours and "Other…" (a colour dialog) in its menu. It only reports the choice; the owner
// decides what the colour paints and calls setColour() to show it. GUI thread only; `texts`
// must outlive the button.
class ColourButton : public QPushButton {
    Q_OBJECT
public:
    ColourButton(const Texts& texts, QWidget* parent);

    ColorRef colour() const { return m_colour; }
    void setColour(ColorRef colour);
    // The names again, in the language in force.
    void ApplyTexts();

Q_SIGNALS:
    // A preset of the menu (index into kPresetColors).
    void presetChosen(int index);
    // A colour from the colour dialog.
    void colourChosen(ColorRef colour);

private:
    const Texts& m_texts;
    ColorRef m_colour = 0;
};
