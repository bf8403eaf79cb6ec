#ifndef CDESKTOP_H
#define CDESKTOP_H

#include <QImage>
#include <QPoint>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

// The screen on which a suite shows the programs it starts, and what a person does there:
// finds a window, looks at it, clicks, types, closes it. On Linux a private X server (Xvfb)
// driven with the X tools; on Windows the desktop the suite runs on (under Wine, Wine's
// desktop on the X server in DISPLAY), driven through Win32. Windows are named by an id.
class cDesktop
{
public:
    cDesktop();
    ~cDesktop();
    cDesktop(const cDesktop &) = delete;
    cDesktop &operator=(const cDesktop &) = delete;

    // Empty when the desktop can be used, else why not.
    QString problem() const { return m_problem; }
    // Where a program started from the suite shows its windows on this desktop.
    QProcessEnvironment environment(QProcessEnvironment base) const;

    // The first shown window with this exact title (any title when empty) of the process
    // (any process when 0), once it has appeared within "ms"; empty if it never did.
    QString waitForWindow(const QString &title, qint64 pid = 0, int ms = kWaitMs) const;
    bool isShown(const QString &title) const;
    QSize size(const QString &window) const;
    // What the window shows, saved as "png" too when that is given; null when it failed.
    QImage grab(const QString &window, const QString &png = QString()) const;
    // Waits until the window has the keyboard, as a window manager gives it a new window.
    bool focus(const QString &window) const;
    // Whether the window has the keyboard now.
    bool hasFocus(const QString &window) const;
    // Presses and releases keys in the window that has the keyboard: "Return", "space",
    // "Escape", "ctrl+l" and the like.
    bool key(const QString &keys) const;
    bool type(const QString &text) const;
    bool click(const QString &window, const QPoint &at) const;
    // What clicking the window's close button asks of the program.
    bool requestClose(const QString &window) const;

    // Runs a program of the host beside the desktop (OCR and the like); true when it ended
    // with 0. Only the Linux desktop has these.
    bool runHelper(const QString &program, const QStringList &arguments,
                   QString *output = nullptr) const;

    static constexpr int kWaitMs = 30000;

private:
    struct cPrivate;
    std::unique_ptr<cPrivate> d;
    QString m_problem;
};

#endif // CDESKTOP_H
