#ifndef CACCESSIBLEBUTTON_H
#define CACCESSIBLEBUTTON_H

// What a screen reader learns of the window's buttons (OrvikButton.qml). Qt Quick tells it
// the role, name, description and press action of an item, but not whether the item is
// enabled: a blind user would press the grey Update button and hear nothing happen.
class cAccessibleButton
{
public:
    // Takes over the buttons from Qt Quick's own accessibility. Call before the window is
    // loaded.
    static void install();

private:
    class cInterface;
};

#endif // CACCESSIBLEBUTTON_H
