#ifndef CUPDATEDIALOG_H
#define CUPDATEDIALOG_H

#include "eUpdateState.h"

#include <QObject>
#include <QString>

class cFirmwareUpdate;

// The object the window talks to (as _App): the selected file, the update
// state and the status text of the current update attempt.
class cUpdateDialog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(eUpdateState status READ status NOTIFY statusChanged)
    Q_PROPERTY(
        QString selectedFirmwareFile READ selectedFirmwareFile NOTIFY selectedFirmwareFileChanged)
    Q_PROPERTY(QString statusInfo READ statusInfo NOTIFY statusInfoChanged)
    // The attempt has written the image and waits for the Orvik to come back: nothing is
    // written meanwhile. Changes only with the status text.
    Q_PROPERTY(bool restarting READ restarting NOTIFY statusInfoChanged)

public:
    explicit cUpdateDialog(QObject *parent = nullptr);
    ~cUpdateDialog() override;

    eUpdateState status() const { return m_status; }
    QString selectedFirmwareFile() const { return m_selectedFile; }
    QString statusInfo() const;
    bool restarting() const;
    // What the flashing tool wrote to its error output in the last attempt's last run.
    QByteArray toolErrors() const;

    // Lets a flashing run that is still going finish (bounded), at shutdown.
    void WaitForUpdate();

signals:
    void statusChanged();
    void statusInfoChanged();
    void selectedFirmwareFileChanged();

public slots:
    void setSelectedFirmwareFile(const QString &FirmwareFile);
    void UpdateFinished(bool Success);

public:
    Q_INVOKABLE void startUpdate();

private:
    eUpdateState m_status = eUpdateReady;
    QString m_selectedFile = QStringLiteral("");
    cFirmwareUpdate *m_update = nullptr;
};

#endif // CUPDATEDIALOG_H
