#ifndef CFIRMWAREUPDATE_H
#define CFIRMWAREUPDATE_H

#include "cImageCopy.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

// One update attempt: finds the device, switches it into its bootloader, runs
// the flashing tool and reports progress and the result.
class cFirmwareUpdate : public QObject
{
    Q_OBJECT

public:
    cFirmwareUpdate(QString FirmwareFile, QObject *parent);
    ~cFirmwareUpdate() override;

    // Starts the attempt. True when the flashing run has been started; its end is
    // then reported through UpdateComplete. False when the attempt ended here.
    bool BeginUpdate();

    // Waits, bounded, for a flashing run that is still going; never kills it.
    void WaitForProcess();

    const QString &statusInfo() const { return m_statusInfo; }
    // The error output of the attempt's last run of the tool, once that run has ended.
    const QByteArray &toolErrors() const { return m_toolErrors; }

signals:
    void UpdateComplete(bool Success);
    void statusInfoChanged();

public slots:
    void ProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void ProcessOutput();

private:
    bool probeBootloader();
    void startFlashing(quint16 productId);
    void waitForBootloader(quint16 productId);
    // "unopened": the last listing showed the bootloader, but the tool could not open it.
    void lookForBootloader(quint16 productId, bool unopened);
    void launchFlashing(quint16 productId);
    void finishRun(bool success);
    void writeUpdateLog();
    // True when the whole log reached the file; a partial one is removed.
    bool writeLogTo(const QString &path, const QString &error) const;
    void setStatus(const QString &text);
    void reportStatus(const QString &text);

    const QString m_firmwareFile;
    QProcess *m_process = nullptr;
    QString m_statusInfo;
    QString m_outputLog;
    QByteArray m_toolErrors;
    // The start of a progress record whose end is still to come.
    QString m_unfinishedRecord;
    cImageCopy m_imageCopy;
    // The listing that looks for the bootloader after the switch, and since when it looks.
    std::unique_ptr<QProcess> m_listing;
    QElapsedTimer m_waitingSince;
};

#endif // CFIRMWAREUPDATE_H
