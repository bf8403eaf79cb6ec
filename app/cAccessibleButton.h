#ifndef CACCESSIBLEBUTTON_H
#define CACCESSIBLEBUTTON_H

// What a screen reader learns of the window's buttons (OrvikButton.qml): role, name,
// description, the press action and whether the button is enabled. Qt Quick's own interface
// leaves the last out: a blind user would press the grey Update button and hear nothing
// happen. Built on Qt's public interfaces only, so the package fits any Qt 5.15 (or 6) release.
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
