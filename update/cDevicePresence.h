#ifndef CDEVICEPRESENCE_H
#define CDEVICEPRESENCE_H

#include "cToolOutput.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QProcess;

// Whether an Orvik is there, for the status line before the first update attempt. It only
// looks: serial ports are listed, never opened; with none of the Orvik's, the flashing tool
// lists what waits in a bootloader, in the background and now and then.
class cDevicePresence : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text NOTIFY textChanged)

public:
    explicit cDevicePresence(QObject *parent = nullptr);
    ~cDevicePresence() override;

    // The presence line; empty before the first look and once stopped.
    QString text() const { return m_text; }

public slots:
    // Looks at once, then every second. Does nothing once stopped.
    void start();
    // For the rest of the session: an attempt now speaks for the device. A listing still
    // going is ended first, so that the attempt's own runs alone.
    void stop();
    // One look at the serial ports, and a listing when it is due.
    void refresh();

signals:
    void textChanged();
    // The Orvik is there, but this user cannot open it, for the reason given: its serial port
    // or its bootloader may not be opened (eDenied), or the bootloader has no driver
    // (eNoDriver). Once each time the line comes to say so.
    void unopenable(cToolOutput::eUnopened why);

private:
    enum class eSeen
    {
        Nothing,
        Port,
        PortDenied,
        Bootloader,
        BootloaderNoDriver,
        BootloaderDenied
    };

    void startListing();
    void endListing(eSeen listed);
    void show(eSeen seen);
    // The line for a bootloader the tool may not open: what that means differs by system.
    static QString deniedBootloaderText();

    QTimer m_poll;
    QTimer m_listingLimit;
    QElapsedTimer m_sinceListing;
    std::unique_ptr<QProcess> m_listing;
    eSeen m_listed = eSeen::Nothing; // what the last listing showed
    eSeen m_shown = eSeen::Nothing;  // what the line shows
    bool m_stopped = false;
    QString m_text;
};

#endif // CDEVICEPRESENCE_H
