#ifndef CWINDOWMANAGER_H
#define CWINDOWMANAGER_H

#include <QString>

// Does to a window what a window manager does on the user's behalf.
class cWindowManager
{
public:
    // The request sent when the user clicks a window's close button. An empty display
    // means the one in DISPLAY.
    static bool requestClose(const QString &display, const QString &window);
};

#endif // CWINDOWMANAGER_H
